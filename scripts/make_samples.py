#!/usr/bin/env python3
"""Writes the bundled sample images: 8-bit grey BMP files of a round part on a
conveyor, in the folder layout the emulator plays (images, pass, fail), and the
colour scene the sample stations' cameras look at (stations/tray.bmp)."""
import math
import os
import struct
import sys

W, H = 320, 240


def write_bmp(path, pixels):
    row = (W + 3) & ~3
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    offset = 14 + 40 + len(palette)
    size = offset + row * H
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", size, 0, 0, offset))
        f.write(struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, row * H, 2835, 2835, 256, 0))
        f.write(palette)
        for y in range(H - 1, -1, -1):  # bottom-up rows
            line = bytes(pixels[y * W:(y + 1) * W])
            f.write(line + b"\0" * (row - W))


def part_image(cx, defect):
    px = []
    for y in range(H):
        for x in range(W):
            v = 40 + (x // 16 + y // 16) % 2 * 12  # belt texture
            d = math.hypot(x - cx, y - H / 2)
            if d < 70:
                v = 200 - int(d)  # the part, shaded
                if d < 18:
                    v = 60  # centre bore
            if defect and (x - cx - 30) ** 2 + (y - H / 2 + 25) ** 2 < 64:
                v = 15  # a dark flaw on the rim
            px.append(max(0, min(255, v)))
    return px


def write_palette_bmp(path, w, h, rgb):
    """An 8-bit BMP with a colour table built from the pixels' colours."""
    colours = sorted(set(rgb))
    assert len(colours) <= 256
    index = {c: i for i, c in enumerate(colours)}
    row = (w + 3) & ~3
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    offset = 14 + 40 + len(palette)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + row * h, 0, 0, offset))
        f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, row * h, 2835, 2835, len(colours), 0))
        f.write(palette)
        for y in range(h - 1, -1, -1):
            f.write(bytes(index[c] for c in rgb[y * w:(y + 1) * w]) + b"\0" * (row - w))


def tray_scene(w=640, h=480):
    """Coloured caps and a white reference card on a belt under warm light."""
    caps = [((260, 250), 70, (200, 40, 35)), ((430, 150), 55, (50, 160, 70)), ((505, 345), 60, (40, 70, 190))]
    px = []
    for y in range(h):
        for x in range(w):
            v = 8 * ((x // 20 + y // 20) % 2)
            c = (70 + v, 64 + v, 52 + v)
            if 30 <= x < 150 and 40 <= y < 200:
                c = (235, 215, 175)  # the white card, lit warm
            for (cx, cy), radius, (r, g, b) in caps:
                d = math.hypot(x - cx, y - cy)
                if d < radius:
                    shade = 1.0 - 0.4 * int(4 * d / radius) / 4  # five rings, darker outwards
                    c = (int(r * shade), int(g * shade), int(b * shade))
            px.append(c)
    return px


def main(root):
    layout = {
        "": [(110, False), (160, False), (210, False)],
        "pass": [(140, False), (180, False)],
        "fail": [(160, True)],
    }
    for sub, parts in layout.items():
        folder = os.path.join(root, "images", sub)
        os.makedirs(folder, exist_ok=True)
        for n, (cx, defect) in enumerate(parts, 1):
            write_bmp(os.path.join(folder, "part_%02d.bmp" % n), part_image(cx, defect))
    stations = os.path.join(root, "stations")
    os.makedirs(stations, exist_ok=True)
    write_palette_bmp(os.path.join(stations, "tray.bmp"), 640, 480, tray_scene())


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "samples"))
