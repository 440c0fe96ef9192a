#!/usr/bin/env python3
"""Writes the demo show's small pictures (24-bit BMP gradients) into demo/pictures."""
import os
import struct

def bmp(path, w, h, colour):
    row = (w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for x in range(w):
            f = (x + y) / (w + h)
            r, g, b = (int(c * (0.4 + 0.6 * f)) for c in colour)
            line += bytes((b, g, r))
        line += bytes(row - len(line))
        pixels += line
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)

root = os.path.join(os.path.dirname(__file__), "..", "demo", "pictures")
os.makedirs(root, exist_ok=True)
bmp(os.path.join(root, "sunrise.bmp"), 160, 120, (255, 160, 40))
bmp(os.path.join(root, "sea.bmp"), 160, 120, (40, 120, 255))
bmp(os.path.join(root, "forest [1].bmp"), 160, 120, (40, 200, 80))
