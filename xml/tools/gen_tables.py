#!/usr/bin/env python3
"""Generates xml/charset_table.inc and xml/entity_table.inc.

Both tables are hash tables stored as one string per bucket:
  character sets: bucket = sum of the lowercase name's code units % 155,
                  entry = 2-digit name length, 5-digit Windows code page, name
  entities:       bucket = sum of the lowercase name's code units % 130,
                  entry = 1-digit name length, 4-digit code point, name
Run from the repository root: python3 xml/tools/gen_tables.py
"""
import html.entities
import os
import sys

# Windows code page -> character-set names and aliases (all lowercase).
CHARSETS = {
    37: ["ibm037", "cp037", "ebcdic-cp-us"],
    437: ["ibm437", "cp437"],
    500: ["ibm500", "cp500"],
    708: ["asmo-708"],
    720: ["dos-720", "cp720"],
    737: ["ibm737", "cp737"],
    775: ["ibm775", "cp775"],
    850: ["ibm850", "cp850"],
    852: ["ibm852", "cp852"],
    855: ["ibm855", "cp855"],
    857: ["ibm857", "cp857"],
    858: ["ibm00858", "cp858"],
    860: ["ibm860", "cp860"],
    861: ["ibm861", "cp861"],
    862: ["dos-862", "ibm862", "cp862"],
    863: ["ibm863", "cp863"],
    864: ["ibm864", "cp864"],
    865: ["ibm865", "cp865"],
    866: ["cp866", "ibm866"],
    869: ["ibm869", "cp869"],
    870: ["ibm870", "cp870"],
    874: ["windows-874", "iso-8859-11", "tis-620", "cp874"],
    875: ["cp875", "ibm875"],
    932: ["shift_jis", "shift-jis", "sjis", "csshiftjis", "ms_kanji", "x-sjis",
          "windows-31j", "cp932"],
    936: ["gb2312", "gbk", "chinese", "cn-gb", "csgb2312", "gb_2312-80", "gb2312-80", "x-gbk", "cp936", "windows-936"],
    949: ["ks_c_5601-1987", "ks_c_5601", "ks_c_5601-1989", "ksc_5601", "ksc5601",
          "csksc56011987", "korean", "cp949", "windows-949", "uhc"],
    950: ["big5", "cn-big5", "csbig5", "x-x-big5", "big5-hkscs", "cp950"],
    1026: ["ibm1026", "cp1026"],
    1047: ["ibm01047", "ibm1047", "cp1047"],
    1140: ["ibm01140", "cp01140", "ebcdic-us-37+euro"],
    1141: ["ibm01141", "cp01141", "ebcdic-de-273+euro"],
    1142: ["ibm01142", "cp01142", "ebcdic-dk-277+euro"],
    1143: ["ibm01143", "cp01143", "ebcdic-fi-278+euro"],
    1144: ["ibm01144", "cp01144", "ebcdic-it-280+euro"],
    1145: ["ibm01145", "cp01145", "ebcdic-es-284+euro"],
    1146: ["ibm01146", "cp01146", "ebcdic-gb-285+euro"],
    1147: ["ibm01147", "cp01147", "ebcdic-fr-297+euro"],
    1148: ["ibm01148", "cp01148", "ebcdic-international-500+euro"],
    1149: ["ibm01149", "cp01149", "ebcdic-is-871+euro"],
    1200: ["utf-16", "unicode", "ucs-2", "utf-16le", "iso-10646-ucs-2"],
    1201: ["utf-16be", "unicodefffe", "ucs-2be"],
    1250: ["windows-1250", "x-cp1250", "cp1250"],
    1251: ["windows-1251", "x-cp1251", "cp1251"],
    1252: ["windows-1252", "cp1252", "ms-ansi"],
    1253: ["windows-1253", "cp1253"],
    1254: ["windows-1254", "cp1254"],
    1255: ["windows-1255", "cp1255"],
    1256: ["windows-1256", "cp1256"],
    1257: ["windows-1257", "cp1257"],
    1258: ["windows-1258", "cp1258"],
    1361: ["johab", "cp1361"],
    10000: ["macintosh", "mac", "csmacintosh", "x-mac-roman"],
    10007: ["x-mac-cyrillic", "maccyrillic"],
    10017: ["x-mac-ukrainian", "macukrainian", "mac-uk"],
    10029: ["x-mac-ce", "mac-centraleurope"],
    10079: ["x-mac-icelandic", "mac-is"],
    12000: ["utf-32", "utf-32le"],
    12001: ["utf-32be", "ucs-4be"],
    20106: ["x-ia5-german", "iso646-de", "din_66003", "iso-ir-21", "csiso21german"],
    20107: ["x-ia5-swedish", "iso646-se", "sen_850200_b", "iso-ir-10", "csiso10swedish"],
    20108: ["x-ia5-norwegian", "iso646-no", "ns_4551-1", "iso-ir-60", "csiso60danishnorwegian"],
    20127: ["us-ascii", "ascii", "ansi_x3.4-1968", "ansi_x3.4-1986", "cp367", "csascii", "ibm367",
            "iso-ir-6", "iso646-us", "us"],
    20261: ["x-cp20261"],
    20269: ["x-cp20269"],
    20273: ["ibm273", "cp273"],
    20277: ["ibm277", "ebcdic-cp-dk", "ebcdic-cp-no"],
    20278: ["ibm278", "cp278", "ebcdic-cp-fi", "ebcdic-cp-se"],
    20280: ["ibm280", "cp280", "ebcdic-cp-it"],
    20284: ["ibm284", "cp284", "ebcdic-cp-es"],
    20285: ["ibm285", "cp285", "ebcdic-cp-gb"],
    20290: ["ibm290", "cp290", "ebcdic-jp-kana"],
    20297: ["ibm297", "cp297", "ebcdic-cp-fr"],
    20420: ["ibm420", "cp420", "ebcdic-cp-ar1"],
    20423: ["ibm423", "cp423", "ebcdic-cp-gr"],
    20424: ["ibm424", "cp424", "ebcdic-cp-he"],
    20838: ["ibm-thai", "csibmthai"],
    20866: ["koi8-r", "koi8r", "koi8", "cskoi8r"],
    20871: ["ibm871", "cp871", "ebcdic-cp-is"],
    20880: ["ibm880", "cp880", "ebcdic-cyrillic"],
    20905: ["ibm905", "cp905"],
    20924: ["ibm00924", "ccsid00924", "cp00924", "ebcdic-latin9--euro"],
    20932: ["euc-jp-ms", "eucjp-ms", "eucjp-win"],
    20936: ["x-cp20936", "gb2312-1980"],
    21025: ["cp1025", "ibm1025"],
    21866: ["koi8-u", "koi8u", "koi8-ru"],
    28591: ["iso-8859-1", "iso8859-1", "iso_8859-1", "iso-ir-100", "latin1", "l1",
            "cp819", "ibm819"],
    28592: ["iso-8859-2", "iso8859-2", "iso_8859-2", "iso-ir-101", "latin2", "l2"],
    28593: ["iso-8859-3", "iso8859-3", "iso_8859-3", "iso-ir-109", "latin3", "l3"],
    28594: ["iso-8859-4", "iso8859-4", "iso_8859-4", "iso-ir-110", "latin4", "l4"],
    28595: ["iso-8859-5", "iso8859-5", "iso_8859-5", "iso-ir-144", "cyrillic"],
    28596: ["iso-8859-6", "iso8859-6", "iso_8859-6", "iso-ir-127", "arabic"],
    28597: ["iso-8859-7", "iso8859-7", "iso_8859-7", "iso-ir-126", "greek", "ecma-118"],
    28598: ["iso-8859-8", "iso8859-8", "iso_8859-8", "iso-ir-138", "hebrew",
            "visual"],
    28599: ["iso-8859-9", "iso8859-9", "iso_8859-9", "iso-ir-148", "latin5", "l5"],
    28603: ["iso-8859-13", "iso_8859-13", "latin7", "l7"],
    28605: ["iso-8859-15", "iso8859-15", "iso_8859-15", "latin-9", "latin9", "l9", "csisolatin9"],
    38598: ["iso-8859-8-i", "iso_8859-8-i", "logical", "csiso88598i"],
    50220: ["iso-2022-jp", "jis", "iso2022jp"],
    50221: ["csiso2022jp", "iso-2022-jp-2"],
    50225: ["iso-2022-kr", "csiso2022kr", "iso-2022-kr-7", "iso-2022-kr-7bit"],
    50227: ["x-cp50227", "iso-2022-cn", "csiso2022cn"],
    50229: ["iso-2022-cn-ext"],
    51932: ["euc-jp", "eucjp", "cseucpkdfmtjapanese", "x-euc", "x-euc-jp"],
    51936: ["euc-cn", "euccn", "x-euc-cn"],
    51949: ["euc-kr", "euckr", "cseuckr", "iso-2022-kr-8", "iso-2022-kr-8bit"],
    51950: ["euc-tw", "euctw"],
    52936: ["hz-gb-2312", "hz"],
    54936: ["gb18030", "csgb18030", "windows-54936"],
    65000: ["utf-7", "utf7", "csunicode11utf7", "unicode-1-1-utf-7", "unicode-2-0-utf-7"],
    65001: ["utf-8", "utf8", "unicode-1-1-utf-8", "unicode-2-0-utf-8"],
}

CHARSET_BUCKETS = 155
ENTITY_BUCKETS = 130


def charset_table():
    seen = {}
    for cp, names in CHARSETS.items():
        for n in names:
            assert n == n.lower(), n
            assert n not in seen, f"{n} twice ({seen[n]}, {cp})"
            assert len(n) < 100
            seen[n] = cp
    buckets = [""] * CHARSET_BUCKETS
    for n, cp in seen.items():
        buckets[sum(ord(c) for c in n) % CHARSET_BUCKETS] += f"{len(n):02d}{cp:05d}{n}"
    return buckets, len(seen), len(CHARSETS)


def entity_table():
    # HTML 4 character entities: the names of the HTML 4.01 DTDs (lat1, symbol, special), plus apos.
    html4 = [n for n, cp in html.entities.name2codepoint.items()]
    entries = [(n, html.entities.name2codepoint[n]) for n in html4] + [("apos", 39)]
    # Capital form first among names that differ only in letter case.
    entries.sort(key=lambda e: (e[0].lower(), e[0] == e[0].lower()))
    buckets = [""] * ENTITY_BUCKETS
    for n, cp in entries:
        low = n.lower()
        assert len(low) <= 9 and cp <= 9999
        buckets[sum(ord(c) for c in low) % ENTITY_BUCKETS] += f"{len(low)}{cp:04d}{low}"
    return buckets, len(entries)


def write(path, header, buckets):
    with open(path, "w") as f:
        f.write(header)
        for b in buckets:
            f.write(f'    u"{b}",\n')


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    cs, n_names, n_cps = charset_table()
    write(os.path.join(root, "charset_table.inc"),
          f"// Generated by xml/tools/gen_tables.py: {n_names} names, {n_cps} code pages, "
          f"{CHARSET_BUCKETS} buckets. Do not edit.\n", cs)
    en, n_ent = entity_table()
    write(os.path.join(root, "entity_table.inc"),
          f"// Generated by xml/tools/gen_tables.py: {n_ent} entities, {ENTITY_BUCKETS} buckets. "
          f"Do not edit.\n", en)
    print(f"charsets: {n_names} names, {n_cps} code pages; entities: {n_ent}", file=sys.stderr)


if __name__ == "__main__":
    main()
