#!/usr/bin/env python3
"""Writes the encoded sample files of the XML reader tests into this folder."""
import os

DOC = ('{}<EventMsg>\r\n  <Events>\r\n    <Event ErrorCode="0x0101">\r\n'
       '      <Messages lang="en"><LongMsg>Fan %1 failed</LongMsg></Messages>\r\n'
       '      <Messages lang="{}"><LongMsg>{}</LongMsg></Messages>\r\n    </Event>\r\n  </Events>\r\n</EventMsg>\r\n')
U16 = '<?xml version="1.0" encoding="UTF-16"?>\r\n'
FILES = {  # name: (byte order mark, encoding, declaration, language, text)
    "utf16le.xml": (b"\xff\xfe", "utf-16-le", U16, "de", "L\u00fcfter %1 ausgefallen \U0001F525"),
    "utf16be.xml": (b"\xfe\xff", "utf-16-be", U16, "ru", "\u0412\u0435\u043d\u0442\u0438\u043b\u044f\u0442\u043e\u0440 %1"),
    "shift_jis.xml": (b"", "shift_jis", '<?xml version="1.0" encoding="Shift_JIS"?>\r\n', "ja",
                      "\u30d5\u30a1\u30f3 %1 \u304c\u6545\u969c\u3057\u307e\u3057\u305f"),
    "windows1252.xml": (b"", "cp1252", "<?xml version='1.0' encoding='windows-1252' standalone='yes'?>\r\n", "fr",
                        "\u20ac \u00e9chec du ventilateur \u201c%1\u201d"),
    "utf8_bom.xml": (b"\xef\xbb\xbf", "utf-8", '<?xml version="1.0"?>\r\n', "es", "Ventilador %1 fall\u00f3 \u2013 \u00a1error!"),
    "latin1_upper.xml": (b"", "latin-1", '<?xml version="1.0" encoding="ISO-8859-1"?>\r\n', "fr", "\u0080 \u00e9t\u00e9"),
}
HTML = ('<html><head><title>t</title><meta http-equiv="content-type" content="text/html; charset=Windows-1251">'
        '</head><body><p>\u041f\u0440\u0438\u0432\u0435\u0442</p></body></html>')

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for name, (bom, enc, decl, lang, text) in FILES.items():
        with open(os.path.join(here, name), "wb") as f:
            f.write(bom + DOC.format(decl, lang, text).encode(enc))
    with open(os.path.join(here, "html_meta.html"), "wb") as f:
        f.write(HTML.encode("cp1251"))
