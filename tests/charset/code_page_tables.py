#!/usr/bin/python3
"""Writes the expected mappings of the code pages the charset routines support, from Python's
codecs (which follow the code pages Windows defines), for the code page sweep test.

Usage: code_page_tables.py OUTPUT

For each page the output holds a line "page NAME KIND", then
  d BYTES UNITS   one code decoded: BYTES in hex, UNITS the UTF-16 code units in hex ("-": the
                  codec rejects the code);
  e UNIT BYTES    one UTF-16 code unit U+0001..U+FFFF (surrogates excluded) encoded, for every
                  unit the codec can encode.
Single-byte pages list all 256 bytes; double-byte pages all single bytes, and every pair of a lead
byte (one that does not decode alone but does with some trail byte) with a trail byte 0x40..0xFE.
"""

import sys

# Charset name as the routines accept it -> (Python codec, kind). Not here: "euc-jp", since
# Python's euc_jp follows JIS X 0208 and 0212 where Windows derives code page 51932 from 932, so
# it is no reference for it; the stateful charsets (tested by their own cases).
PAGES = [
    ("windows-874", "cp874", "single"),
    ("windows-1250", "cp1250", "single"),
    ("windows-1251", "cp1251", "single"),
    ("windows-1252", "cp1252", "single"),
    ("windows-1253", "cp1253", "single"),
    ("windows-1254", "cp1254", "single"),
    ("windows-1255", "cp1255", "single"),
    ("windows-1256", "cp1256", "single"),
    ("windows-1257", "cp1257", "single"),
    ("windows-1258", "cp1258", "single"),
    ("iso-8859-1", "latin_1", "single"),
    ("iso-8859-2", "iso8859_2", "single"),
    ("iso-8859-3", "iso8859_3", "single"),
    ("iso-8859-4", "iso8859_4", "single"),
    ("iso-8859-5", "iso8859_5", "single"),
    ("iso-8859-6", "iso8859_6", "single"),
    ("iso-8859-7", "iso8859_7", "single"),
    ("iso-8859-8", "iso8859_8", "single"),
    ("iso-8859-9", "iso8859_9", "single"),
    ("iso-8859-13", "iso8859_13", "single"),
    ("iso-8859-15", "iso8859_15", "single"),
    ("us-ascii", "ascii", "single"),
    ("koi8-r", "koi8_r", "single"),
    ("koi8-u", "koi8_u", "single"),
    ("ibm866", "cp866", "single"),
    ("ibm437", "cp437", "single"),
    ("macintosh", "mac_roman", "single"),
    ("gbk", "gbk", "double"),
    ("shift_jis", "cp932", "double"),
    ("euc-kr", "cp949", "double"),
    ("big5", "cp950", "double"),
    ("x-cp20936", "gb2312", "double"),
    ("gb18030", "gb18030", "double"),
]


def units(text):
    data = text.encode("utf-16-be")
    return " ".join("%02X%02X" % (data[i], data[i + 1]) for i in range(0, len(data), 2))


def decoded(code, codec):
    try:
        return units(code.decode(codec))
    except UnicodeDecodeError:
        return "-"


def is_lead(byte, codec):
    return decoded(bytes([byte]), codec) == "-" and any(
        decoded(bytes([byte, trail]), codec) != "-" for trail in range(0x40, 0xFF))


def write_page(out, name, codec, kind):
    out.write("page %s %s\n" % (name, kind))
    leads = []
    for byte in range(256):
        code = bytes([byte])
        result = decoded(code, codec)
        if kind == "double" and is_lead(byte, codec):
            leads.append(byte)
        out.write("d %02X %s\n" % (byte, result))
    for lead in leads:
        for trail in range(0x40, 0xFF):
            out.write("d %02X%02X %s\n" % (lead, trail, decoded(bytes([lead, trail]), codec)))
    for unit in range(1, 0x10000):
        if 0xD800 <= unit <= 0xDFFF:
            continue
        try:
            code = chr(unit).encode(codec)
        except UnicodeEncodeError:
            continue
        out.write("e %04X %s\n" % (unit, code.hex().upper()))


def main():
    with open(sys.argv[1], "w", encoding="ascii") as out:
        for name, codec, kind in PAGES:
            write_page(out, name, codec, kind)


if __name__ == "__main__":
    main()
