#!/usr/bin/env python3
"""Writes the description-file fixtures of the store tests to tests/fixtures/ini/.

Each NAME.ini is one document in one encoding with all four line-break kinds mixed (CR LF, LF, CR,
LF CR in turn); NAME.expected is what the store writes back for it (UTF-8 with mark, CR LF; lines of
blanks only come back empty).
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "tests", "fixtures", "ini")

BREAKS = ["\r\n", "\n", "\r", "\n\r"]

COMMON = [
    "; written by hand",
    "[Main]",
    "Title = Caf\u00e9 \u20ac  ",
    "Count=3",
    "  ",
    "[slide1]",
    "Effect_Type=1",
    "object Pic1: Image",
    "  FitMode=PlaceInto",
    "  object : KeyPoint",
    "    Time=0",
    "  end",
    "end",
]
UNICODE_EXTRA = ["[Extra]", "Smile=\U0001F600 \u4e2d\u6587", "Greek=\u03b1\u03b2\u03b3"]
ANSI_EXTRA = ["[Extra]", "Greeting=Gr\u00fc\u00dfe \u2018quoted\u2019 \u2013 \u0152uvre"]


def mixed(lines):
    # No line may be empty: an empty line after CR would join CR and the next LF into one break.
    assert all(line != "" for line in lines)
    return "".join(line + BREAKS[i % len(BREAKS)] for i, line in enumerate(lines))


def expected(lines):
    return b"\xef\xbb\xbf" + "".join(("" if line.strip(" \t") == "" else line) + "\r\n" for line in lines).encode(
        "utf-8")


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    uni = COMMON + UNICODE_EXTRA
    ansi = COMMON + ANSI_EXTRA
    write("utf16le.ini", b"\xff\xfe" + mixed(uni).encode("utf-16-le"))
    write("utf16le.expected", expected(uni))
    write("utf16be.ini", b"\xfe\xff" + mixed(uni).encode("utf-16-be"))
    write("utf16be.expected", expected(uni))
    write("utf8.ini", b"\xef\xbb\xbf" + mixed(uni).encode("utf-8"))
    write("utf8.expected", expected(uni))
    write("cp1252.ini", mixed(ansi).encode("cp1252"))
    write("cp1252.expected", expected(ansi))
    # UTF-8 without a mark, as Linux editors write it, reads as UTF-8.
    write("utf8_nomark.ini", mixed(ansi).encode("utf-8"))
    write("utf8_nomark.expected", expected(ansi))

    # Written back unchanged byte for byte: UTF-8 with mark, CR LF, every kind of line the store keeps.
    roundtrip = [
        "; Project description",
        "",
        "[Main]",
        "opt_scr_full = 1  ",
        "Title=  A = B, \u00e9\U0001F600",
        "=no name",
        "[]",
        "[   ",
        "  ; indented comment",
        "",
        "[slide1]",
        "Effect_Type=1",
        "  object Pic1: Image",
        "    FitMode=PlaceInto",
        "    object : KeyPoint",
        "      Time=0",
        "    END",
        "  end of image",
        "[ spaced name ]  trailing",
        "\tKey\t=\tValue\t",
    ]
    write("roundtrip.ini", b"\xef\xbb\xbf" + "".join(line + "\r\n" for line in roundtrip).encode("utf-8"))

    # Parse errors: an unknown line (2), "end" without an object (0), an object left open (1).
    errors = [
        "[A]",
        "key=1",
        "two words = x",
        "end",
        "object O: T",
        "  x=1",
    ]
    write("errors.ini", b"\xef\xbb\xbf" + "".join(line + "\r\n" for line in errors).encode("utf-8"))

    write("invalid_utf8.ini", b"\xef\xbb\xbf[A]\r\nkey=\xc3\x28\r\n")


if __name__ == "__main__":
    main()
