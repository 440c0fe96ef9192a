#!/usr/bin/env python3
"""Writes small packed shows for the container tests into tests/fixtures/container/ (and fuzz seeds).

An independent writer of the show format (it shares no code with the C++ packer), so that the reader is
checked against shows it did not write itself. Run it again after changing it and commit the output.

Layout: [anything][stored files][raw-deflate structure][P: int64 LE][".dne"][W: int64 LE, form B only]
"""
import os
import struct
import sys
import zlib

KEY = b"5E3A0C7D91B24F68A0D3C5E71F8B2946"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
OUT = os.path.join(ROOT, "tests", "fixtures", "container")
SEEDS = os.path.join(ROOT, "fuzz", "seeds", "container")

PROJECT = ("\ufeff[Main]\r\nKivVersion=1.0 fixture\r\n\r\n[main]\r\nopt_slidescount=1\r\n"
           "\r\n[slide1]\r\n  object Picture1:Image\r\n    FileName=pictures\\a.bin\r\n  end\r\n").encode("utf-8")
PICTURE = bytes((i * 7 + 3) % 256 for i in range(3000))  # the tests rebuild it the same way
NOTES = b"bracket entry\r\n"
PROGRAM = b"MZ fake program image " * 4


def raw_deflate(data):
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    return z.compress(data) + z.flush()


def xor(data):
    return bytes(b ^ KEY[i % len(KEY)] for i, b in enumerate(data))


def section_name(name):
    return name.replace("[", "<").replace("]", ">")


def build(entries, form="A", prefix=b"", stored_prefix=None, strucpos="auto", skew=0, drop_key=None):
    """entries: (name, data, method). stored_prefix names the prefix as the stored file at 0.
    skew: recorded positions (and strucpos) are this much smaller than the actual ones."""
    body = bytearray(prefix)
    lines = []
    if stored_prefix:
        lines += ["[%s]" % stored_prefix, "_ps=0", "_sz=%d" % len(prefix), "_pm=0", ""]
    for name, data, method in entries:
        packed = {0: data, 1: raw_deflate(data), 2: xor(data)}[method]
        keys = {"_ps": len(body) - skew, "_sz": len(packed), "_pm": method}
        lines.append("[%s]" % section_name(name))
        for k, v in keys.items():
            if (name, k) != drop_key:
                lines.append("%s=%d" % (k, v))
        lines.append("")
        body += packed
    p = len(body)
    lines.append("[$protection$]")
    lines.append("kivversion=2.5 fixture writer")
    if strucpos == "auto":
        lines.append("strucpos=%d" % (p - skew))
    elif strucpos is not None:
        lines.append("strucpos=%s" % strucpos)
    text = ("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-8")
    body += raw_deflate(text)
    body += struct.pack("<q", p) + b".dne"
    if form == "B":
        body += struct.pack("<q", len(body))
    return bytes(body)


def main():
    os.makedirs(OUT, exist_ok=True)
    files = [("Project.kiv", PROJECT, 1), ("pictures\\a.bin", PICTURE, 2), ("notes [1].txt", NOTES, 0)]
    shows = {}
    shows["form_a.KvShow"] = build(files, prefix=PROGRAM, stored_prefix="kivviewer.exe")
    # Written in place behind a 100-byte prefix, then copied behind a 1000-byte one: W stays as written.
    in_place = build(files, form="B", prefix=b"p" * 100)
    shows["form_b_moved.KvShow"] = b"q" * 1000 + in_place[100:]
    # The program image grew by 500 bytes after the show was built: the trailer points at the actual
    # structure, the recorded positions and strucpos are the old ones.
    shows["grown_prefix.KvShow"] = build(files, prefix=b"g" * 600, skew=500)
    shows["missing_sz.KvShow"] = build(files, drop_key=("pictures\\a.bin", "_sz"))
    shows["no_strucpos_moved.KvShow"] = b"q" * 1000 + build(files, form="B", prefix=b"p" * 100, strucpos=None)[100:]
    shows["bad_strucpos.KvShow"] = build(files, strucpos="12x")
    shows["large_strucpos.KvShow"] = build(files, strucpos="999999")
    for name, data in shows.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    # The fuzzer starts from the shows that open.
    os.makedirs(SEEDS, exist_ok=True)
    for name in ("form_a.KvShow", "form_b_moved.KvShow", "grown_prefix.KvShow", "missing_sz.KvShow"):
        with open(os.path.join(SEEDS, name), "wb") as f:
            f.write(shows[name])
    return 0


if __name__ == "__main__":
    sys.exit(main())
