#!/usr/bin/env python3
"""Writes tests/media/generated/metadata_exif_iptc.jpg: the untagged orientation_0.jpg of the media folder
with a big-endian EXIF block (image description, date-time, a UNICODE user comment) and IPTC records in a
Photoshop APP13 block (UTF-8 marked), inserted after its start marker. Usage: make_metadata_jpeg.py [OUT]"""
import os
import struct
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
base = os.path.join(root, "tests/media/images/jpeg/orientation-imaging/orientation_0.jpg")
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "tests/media/generated/metadata_exif_iptc.jpg")


def exif_block():
    description = "Harbour at dusk \u00e9t\u00e9".encode("utf-8") + b"\0"
    stamp = b"2009:07:14 18:05:11\0"
    comment = b"UNICODE\0" + "Pier <%SlideIndex%> \u2014 west".encode("utf-16-be")
    # IFD0 at 8: description, date-time, pointer to the EXIF IFD; then the EXIF IFD; then the values.
    ifd0 = 8
    ifd0_size = 2 + 3 * 12 + 4
    exif_ifd = ifd0 + ifd0_size
    exif_size = 2 + 1 * 12 + 4
    data = exif_ifd + exif_size
    values = b""

    def place(blob):
        nonlocal values
        at = data + len(values)
        values += blob + (b"\0" if len(blob) % 2 else b"")
        return at

    d_at, s_at, c_at = place(description), place(stamp), place(comment)
    body = struct.pack(">2sHI", b"MM", 42, ifd0)
    body += struct.pack(">H", 3)
    body += struct.pack(">HHII", 270, 2, len(description), d_at)
    body += struct.pack(">HHII", 306, 2, len(stamp), s_at)
    body += struct.pack(">HHII", 0x8769, 4, 1, exif_ifd)
    body += struct.pack(">I", 0)
    body += struct.pack(">H", 1)
    body += struct.pack(">HHII", 37510, 7, len(comment), c_at)
    body += struct.pack(">I", 0)
    body += values
    payload = b"Exif\0\0" + body
    return b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload


def iptc_block():
    records = [(1, 90, b"\x1b%G")]
    texts = [(5, "Evening harbour"), (40, "Crop the sky"), (80, "Ana Lima"), (80, "Second Author"),
             (85, "Photographer"), (90, "Porto"), (92, "Ribeira"), (95, "Norte"), (101, "Portugal"),
             (103, "REF-42"), (105, "Boats at rest"), (110, "Ana Lima / Studio"), (115, "Studio Archive"),
             (116, "\u00a9 2009 Ana Lima"), (120, "Boats moored at <%SlidesCount%>"), (122, "Editor One"),
             (122, "Editor Two")]
    records += [(2, ds, t.encode("utf-8")) for ds, t in texts]
    iptc = b"".join(struct.pack(">BBBH", 0x1C, r, ds, len(v)) + v for r, ds, v in records)
    resource = b"8BIM" + struct.pack(">H", 0x0404) + b"\0\0" + struct.pack(">I", len(iptc)) + iptc
    if len(iptc) % 2:
        resource += b"\0"
    payload = b"Photoshop 3.0\0" + resource
    return b"\xff\xed" + struct.pack(">H", len(payload) + 2) + payload


jpeg = open(base, "rb").read()
assert jpeg[:2] == b"\xff\xd8"
with open(out, "wb") as f:
    f.write(jpeg[:2] + exif_block() + iptc_block() + jpeg[2:])
