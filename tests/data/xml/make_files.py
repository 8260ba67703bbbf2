#!/usr/bin/env python3
"""Writes the encoded sample files of the XML reader tests into this folder."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def doc(decl, lang, text):
    return (f"{decl}<EventMsg>\r\n"
            f"  <Events>\r\n"
            f"    <Event ErrorCode=\"0x0101\">\r\n"
            f"      <Messages lang=\"en\"><LongMsg>Fan %1 failed</LongMsg></Messages>\r\n"
            f"      <Messages lang=\"{lang}\"><LongMsg>{text}</LongMsg></Messages>\r\n"
            f"    </Event>\r\n"
            f"  </Events>\r\n"
            f"</EventMsg>\r\n")


FILES = {
    # name: (bytes)
    "utf16le.xml": b"\xff\xfe" + doc('<?xml version="1.0" encoding="UTF-16"?>\r\n', "de",
                                     "L\u00fcfter %1 ausgefallen \U0001F525").encode("utf-16-le"),
    "utf16be.xml": b"\xfe\xff" + doc('<?xml version="1.0" encoding="UTF-16"?>\r\n', "ru",
                                     "\u0412\u0435\u043d\u0442\u0438\u043b\u044f\u0442\u043e\u0440 %1").encode("utf-16-be"),
    "shift_jis.xml": doc('<?xml version="1.0" encoding="Shift_JIS"?>\r\n', "ja",
                         "\u30d5\u30a1\u30f3 %1 \u304c\u6545\u969c\u3057\u307e\u3057\u305f").encode("shift_jis"),
    "windows1252.xml": doc("<?xml version='1.0' encoding='windows-1252' standalone='yes'?>\r\n", "fr",
                           "\u20ac \u00e9chec du ventilateur \u201c%1\u201d").encode("cp1252"),
    "utf8_bom.xml": b"\xef\xbb\xbf" + doc('<?xml version="1.0"?>\r\n', "es",
                                          "Ventilador %1 fall\u00f3 \u2013 \u00a1error!").encode("utf-8"),
    "latin1_upper.xml": doc('<?xml version="1.0" encoding="ISO-8859-1"?>\r\n', "fr",
                            "\u0080 \u00e9t\u00e9").encode("latin-1"),
    "html_meta.html": ('<html><head><title>t</title>'
                       '<meta http-equiv="content-type" content="text/html; charset=Windows-1251">'
                       '</head><body><p>\u041f\u0440\u0438\u0432\u0435\u0442</p></body></html>').encode("cp1251"),
}


def main():
    for name, data in FILES.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
