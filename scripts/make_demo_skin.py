#!/usr/bin/env python3
"""Draws the demo show's navigation skin and logo into demo/navskin: the bar's plate (two caps and a
middle that repeats), the button backgrounds and icons for every state (normal, hover, pressed,
disabled), a play icon shown while the show is paused, the skin description, and the logo. Also draws
the video-style skin of the second demo show into demo-video/videoskin: the bar's band, the track line,
the knob and the three button strips (play, pause, sound, mute, backward, forward, exit).

Usage: scripts/make_demo_skin.py
"""
import math
import os
import struct
import zlib

root = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
out = os.path.join(root, "demo", "navskin")

ICON = 28     # icon cell
BACK = 36     # button background cell
PLATE_H = 48  # the plate's height
CAP = 16      # width of each cap; the middle strip is 8 wide

BUTTONS = ["home", "backward", "forward", "pause", "print", "help", "exit"]
# Icon colour per state: normal, hover, pressed, disabled.
ICON_COLOURS = [(236, 240, 248), (255, 214, 90), (255, 160, 40), (150, 150, 150)]
BACK_COLOURS = [(46, 58, 84), (62, 80, 118), (30, 38, 56), (46, 58, 84)]


def png(path, w, h, pixel):
    """An RGBA PNG; pixel(x, y) gives (r, g, b, a)."""
    raw = bytearray()
    for y in range(h):
        raw.append(0)
        for x in range(w):
            raw += bytes(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def coverage(inside, x, y, n=4):
    """Share of the pixel (x, y) for which inside(px, py) holds, sampled n x n."""
    hits = 0
    for i in range(n):
        for j in range(n):
            if inside(x + (i + 0.5) / n, y + (j + 0.5) / n):
                hits += 1
    return hits / (n * n)


def in_polygon(points, px, py):
    inside = False
    for i in range(len(points)):
        (x1, y1), (x2, y2) = points[i], points[i - 1]
        if (y1 > py) != (y2 > py) and px < (x2 - x1) * (py - y1) / (y2 - y1) + x1:
            inside = not inside
    return inside


def rounded_rect(x0, y0, x1, y1, r):
    def inside(px, py):
        cx = min(max(px, x0 + r), x1 - r)
        cy = min(max(py, y0 + r), y1 - r)
        return (px - cx) ** 2 + (py - cy) ** 2 <= r * r and x0 <= px <= x1 and y0 <= py <= y1
    return inside


def union(*shapes):
    return lambda px, py: any(s(px, py) for s in shapes)


def minus(shape, hole):
    return lambda px, py: shape(px, py) and not hole(px, py)


def poly(*points):
    return lambda px, py: in_polygon(points, px, py)


def rect(x0, y0, x1, y1):
    return lambda px, py: x0 <= px <= x1 and y0 <= py <= y1


def circle(cx, cy, r):
    return lambda px, py: (px - cx) ** 2 + (py - cy) ** 2 <= r * r


# Icons on a 28 x 28 cell.
ICONS = {
    "home": union(poly((14, 4), (25, 14), (3, 14)), minus(rect(7, 13, 21, 24), rect(12, 17, 16, 24.5))),
    "backward": union(poly((4, 14), (14, 6), (14, 22)), poly((13, 14), (23, 6), (23, 22))),
    "forward": union(poly((24, 14), (14, 6), (14, 22)), poly((15, 14), (5, 6), (5, 22))),
    "pause": union(rect(7, 5, 12, 23), rect(16, 5, 21, 23)),
    "play": poly((8, 4), (23, 14), (8, 24)),
    "print": union(rect(8, 4, 20, 10), minus(rounded_rect(3, 10, 25, 20, 2), rect(8, 16, 20, 21)),
                   rect(8, 17, 20, 25)),
    "help": union(minus(circle(14, 10, 7), union(circle(14, 10, 3.5), rect(4, 10, 13, 18))),
                  rect(12, 14, 16, 19), circle(14, 23, 2.2)),
    "exit": union(poly((6, 4), (24, 22), (22, 24), (4, 6)), poly((22, 4), (24, 6), (6, 24), (4, 22))),
}


def icon_pixel(name, state):
    shape = ICONS[name]
    r, g, b = ICON_COLOURS[state]

    def pixel(x, y):
        a = coverage(shape, x, y)
        return (r, g, b, int(round(255 * a)))
    return pixel


def main():
    os.makedirs(out, exist_ok=True)
    # Icons: one column per button, one row per state.
    names = BUTTONS
    cells = {}
    for s in range(4):
        for i, name in enumerate(names):
            cells[(i, s)] = icon_pixel(name, s)
    png(os.path.join(out, "icons.png"), ICON * len(names), ICON * 4,
        lambda x, y: cells[(x // ICON, y // ICON)](x % ICON, y % ICON))
    # The play set shares the pause button's bounds: its icons lie in the pause column of a picture of
    # the same layout.
    play = [icon_pixel("play", s) for s in range(4)]
    pause = names.index("pause")
    png(os.path.join(out, "play.png"), ICON * len(names), ICON * 4,
        lambda x, y: play[y // ICON](x % ICON, y % ICON) if x // ICON == pause else (0, 0, 0, 0))

    # Button backgrounds: a rounded square per state, pressed a little darker, with a thin light rim.
    def back(x, y):
        state = y // BACK
        y %= BACK
        r, g, b = BACK_COLOURS[state]
        body = coverage(rounded_rect(1, 1, BACK - 1, BACK - 1, 8), x, y)
        inner = coverage(rounded_rect(2.5, 2.5, BACK - 2.5, BACK - 2.5, 6.5), x, y)
        rim = max(body - inner, 0)
        shade = 1.0 + 0.25 * (1 - y / BACK) if state != 2 else 0.85
        rr, gg, bb = (min(255, int(c * shade + 90 * rim)) for c in (r, g, b))
        return (rr, gg, bb, int(round(255 * body * (0.5 if state == 3 else 1))))
    png(os.path.join(out, "back.png"), BACK, BACK * 4, back)

    # The plate: a dark translucent band with rounded ends, 40 wide: the left cap, 8 straight columns
    # that the middle cell repeats, the right cap.
    width = 2 * CAP + 8
    band = rounded_rect(0.5, 0.5, width - 0.5, PLATE_H - 0.5, 14)

    def plate(x, y):
        light = 1 - y / PLATE_H
        r, g, b = int(14 + 26 * light), int(18 + 30 * light), int(28 + 40 * light)
        return (r, g, b, int(round(200 * coverage(band, x, y))))
    png(os.path.join(out, "plate.png"), width, PLATE_H, plate)

    # The logo: a rounded badge with a play mark and three bars.
    lw, lh = 240, 96

    def logo(x, y):
        badge = coverage(rounded_rect(1, 1, lw - 1, lh - 1, 24), x, y)
        mark = coverage(poly((24, 20), (76, 48), (24, 76)), x, y)
        bars = coverage(union(rect(96, 22, 216, 34), rect(96, 42, 190, 54), rect(96, 62, 160, 74)), x, y)
        t = x / lw
        base = (int(30 + 40 * t), int(90 + 60 * t), int(160 + 60 * t))
        fg = max(mark, bars)
        r, g, b = (int(c * (1 - fg) + 250 * fg) for c in base)
        return (r, g, b, int(round(255 * badge)))
    png(os.path.join(out, "logo.png"), lw, lh, logo)

    lines = [
        "; The demo show's navigation skin: drawn by scripts/make_demo_skin.py.",
        "[Common]",
        "ColsCount=3",
        "RowsCount=1",
        "[CellWithObjects]",
        "Cell=2,1",
        "LeftOffset=4",
        "TopOffset=6",
        "RightOffset=4",
        "BottomOffset=6",
        "[Cell(1:1)]",
        "Bounds=0,0,%d,%d" % (CAP, PLATE_H),
        "flnm_Texture=plate.png",
        "[Cell(2:1)]",
        "TextureType=repeat",
        "Bounds=%d,0,8,%d" % (CAP, PLATE_H),
        "flnm_Texture=plate.png",
        "[Cell(3:1)]",
        "Bounds=%d,0,%d,%d" % (CAP + 8, CAP, PLATE_H),
        "flnm_Texture=plate.png",
        "[Objects]",
        "Count=%d" % len(BUTTONS),
    ]
    for n in range(1, len(BUTTONS) + 1):
        lines += ["[Object%d]" % n, "ShiftPressed=1", "Space=4" if n < len(BUTTONS) else "Space=0"]
    states = ["Normal", "Hover", "Pressed", "Disabled"]
    for i, name in enumerate(BUTTONS):
        lines += ["[ACTION-%s]" % name, "ActionType=%s" % name, "Action="]
        for s, state in enumerate(states):
            lines.append("BtnTexture%sBounds=%d,%d,%d,%d" % (state, i * ICON, s * ICON, ICON, ICON))
        lines.append("flnm_BtnTextureNormal=icons.png")
        if name == "pause":
            lines.append("flnm_BtnTextureNormalPlay=play.png")
        for s, state in enumerate(states):
            lines.append("BgTexture%sBounds=0,%d,%d,%d" % (state, s * BACK, BACK, BACK))
        lines.append("flnm_BgTextureNormal=back.png")
    with open(os.path.join(out, "skin.ini"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


# The video-style skin: button cells of 32 x 32 with a 28 x 28 icon in the middle.
VCELL = 32
VBAR_H = 40
VIDEO_CELLS = ["play", "pause", "sound", "mute", "backward", "forward", "exit"]
speaker = poly((4, 11), (9, 11), (15, 5), (15, 23), (9, 17), (4, 17))
ICONS["sound"] = union(speaker, minus(circle(16, 14, 9), union(circle(16, 14, 7), rect(0, 0, 18, 28))),
                       minus(circle(16, 14, 5), union(circle(16, 14, 3), rect(0, 0, 18, 28))))
ICONS["mute"] = union(speaker, poly((17, 9), (19, 9), (26, 19), (24, 19)), poly((24, 9), (26, 9), (19, 19),
                                                                               (17, 19)))
# Icon colours per state: normal, hover, click.
VIDEO_COLOURS = [(226, 232, 240), (255, 214, 90), (255, 150, 40)]


def video_skin():
    vout = os.path.join(root, "demo-video", "videoskin")
    os.makedirs(vout, exist_ok=True)
    for state, name in enumerate(["normal", "hover", "click"]):
        r, g, b = VIDEO_COLOURS[state]

        def strip(x, y, r=r, g=g, b=b, state=state):
            shape = ICONS[VIDEO_CELLS[x // VCELL]]
            px, py = x % VCELL - 2, y - 2
            a = coverage(shape, px, py)
            if state == 2:
                # Pressed: a faint disc behind the icon.
                disc = coverage(circle(14, 14, 15), px, py) * 0.35
                return (r, g, b, int(round(255 * max(a, disc))))
            return (r, g, b, int(round(255 * a)))
        png(os.path.join(vout, name + ".png"), VCELL * len(VIDEO_CELLS), VCELL, strip)

    # The band: 24 wide, rounded ends of 10 that keep their size, the middle stretched.
    band = rounded_rect(0.5, 0.5, 23.5, VBAR_H - 0.5, 10)

    def back(x, y):
        light = 1 - y / VBAR_H
        return (int(16 + 24 * light), int(20 + 28 * light), int(30 + 36 * light),
                int(round(210 * coverage(band, x, y))))
    png(os.path.join(vout, "back.png"), 24, VBAR_H, back)

    # The track line: 12 x 6 with round ends of 3.
    line = rounded_rect(0, 0, 12, 6, 3)
    png(os.path.join(vout, "line.png"), 12, 6,
        lambda x, y: (120, 150, 190, int(round(255 * coverage(line, x, y)))))

    # The knob: a light disc with a darker rim.
    def knob(x, y):
        body = coverage(circle(7, 7, 7), x, y)
        inner = coverage(circle(7, 7, 5), x, y)
        c = int(200 + 55 * inner)
        return (c, c, c, int(round(255 * body)))
    png(os.path.join(vout, "knob.png"), 14, 14, knob)

    lines = [
        "; The video demo show's navigation skin: drawn by scripts/make_demo_skin.py.",
        "[Common]",
        "VideoStyle=1",
        "BgLeft=10",
        "BgRight=10",
        "flnm_back=back.png",
        "[Pixel positions]",
        "BarSize=640,%d" % VBAR_H,
        "TrackHeight=6",
        "BtnSize=%d,%d" % (VCELL, VCELL),
        "DigitSize=8,14",
        "VolumeControlLength=80",
        "LeftSpace=8",
        "ButtonsTrackSpace=10",
        "TrackDigitsSpace=10",
        "DigitsSoundBtnSpace=8",
        "SoundBtnTrackSpace=6",
        "RightSpace=12",
        "[Trackbar]",
        "TrackLineLeft=3",
        "TrackLineRight=3",
        "flnm_Line=line.png",
        "flnm_Polzun=knob.png",
        "[Buttons]",
        "flnm_Normal=normal.png",
        "flnm_Hover=hover.png",
        "flnm_Click=click.png",
    ]
    with open(os.path.join(vout, "skin.ini"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
    video_skin()
