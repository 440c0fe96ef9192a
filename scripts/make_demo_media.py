#!/usr/bin/env python3
"""Fills demo/ with the demo show's pictures: three photographs and a picture stored on its side, taken
from the test media in tests/media (Debian and npm packages: sample1.jpg of goexif, cat.jpg of gdk-pixbuf-tests,
pelagrina.jpg of gifwrap, right.jpg of exif; see the media folder's SOURCES.md), and the button theme
"demo": three 60 x 30 state pictures drawn here and the description that cuts them into nine patches.

Usage: scripts/make_demo_media.py [MEDIA_DIR]   (default: tests/media)
"""
import os
import shutil
import struct
import sys

root = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
media = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "tests", "media")
demo = os.path.join(root, "demo")

# Stored name in the show <- file in tests/media.
PHOTOS = {
    "pictures/palace.jpg": "images/jpeg/misc/sample1.jpg",
    "pictures/cat.jpg": "images/jpeg/misc/cat.jpg",
    "pictures/spider.jpg": "images/jpeg/misc/pelagrina.jpg",
    # Its pixels lie on their side (EXIF orientation 8); the project's RotationState turns it upright.
    "pictures/right.jpg": "images/jpeg/misc/right.jpg",
}


def bmp32(path, w, h, pixel):
    """A bottom-up 32-bit BMP with alpha in the fourth byte; pixel(x, y) gives (r, g, b, a)."""
    data = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = pixel(x, y)
            data += bytes((b, g, r, a))
    header = b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 32, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def button(top, bottom):
    """A rounded, glossy 60 x 30 button body between two colours, for the nine-patch theme."""
    w, h, radius = 60, 30, 11

    def pixel(x, y):
        # Coverage of a rounded rectangle, one pixel of feathering.
        cx = min(max(x + 0.5, radius), w - radius)
        cy = min(max(y + 0.5, radius), h - radius)
        d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
        cover = min(max(radius - d, 0.0), 1.0)
        f = y / (h - 1)
        r, g, b = (int(t + (u - t) * f) for t, u in zip(top, bottom))
        if y < h // 2:  # the gloss
            r, g, b = (min(255, c + 40) for c in (r, g, b))
        if d > radius - 1.5:  # a darker rim
            r, g, b = (c * 2 // 3 for c in (r, g, b))
        return r, g, b, int(255 * cover)

    return pixel


# Nine patches of a 60 x 30 picture: 12-pixel corners, stretched edges and centre.
PATCHES = {
    "LeftTop": (0, 0, 12, 12), "Top": (12, 0, 48, 12), "RightTop": (48, 0, 60, 12),
    "Right": (48, 12, 60, 18), "RightBottom": (48, 18, 60, 30), "Bottom": (12, 18, 48, 30),
    "LeftBottom": (0, 18, 12, 30), "Left": (0, 12, 12, 18), "Center": (12, 12, 48, 18),
}


def theme_description():
    lines = ["; The demo's button theme: one picture per state, cut into nine patches."]
    for section, picture in (("NormalState", "normal.bmp"), ("HoverState", "hover.bmp"),
                             ("ClickState", "click.bmp")):
        lines.append("[%s]" % section)
        lines += ["%s=%s,%d,%d,%d,%d" % ((key, picture) + rect) for key, rect in PATCHES.items()]
    lines += ["[TextParams]", "Color=255,255,255", "BtnOffset=0", "BtnMinWidth=0", "Filtering=Default"]
    return "\ufeff" + "\r\n".join(lines) + "\r\n"


def main():
    for name, source in PHOTOS.items():
        target = os.path.join(demo, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(media, source), target)
    theme = os.path.join(demo, "buttons", "demo")
    os.makedirs(theme, exist_ok=True)
    bmp32(os.path.join(theme, "normal.bmp"), 60, 30, button((70, 130, 230), (20, 60, 160)))
    bmp32(os.path.join(theme, "hover.bmp"), 60, 30, button((90, 170, 255), (30, 90, 200)))
    bmp32(os.path.join(theme, "click.bmp"), 60, 30, button((20, 60, 160), (70, 130, 230)))
    with open(os.path.join(theme, "theme.ini"), "w", encoding="utf-8", newline="") as f:
        f.write(theme_description())


if __name__ == "__main__":
    main()
