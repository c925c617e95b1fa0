#!/usr/bin/env python3
"""Draws the launcher's icon (64 x 64, 32 bits per pixel) into an .ico file.

A gold "T" on a deep blue disc with a soft edge. Run it again only when the
design changes; the .ico it writes is kept in the repository.
"""
import math
import struct
import sys

SIZE = 64


def pixel(x, y):
    cx = cy = (SIZE - 1) / 2
    r = math.hypot(x - cx, y - cy)
    edge = 30.5
    if r > edge + 1:
        return (0, 0, 0, 0)
    alpha = 255 if r <= edge else int(255 * (edge + 1 - r))
    # disc: blue, lighter towards the top left
    shade = 1.0 - 0.35 * ((x + y) / (2 * SIZE))
    b, g, r_ = int(170 * shade + 40), int(70 * shade + 20), int(20 * shade + 10)
    # the letter T
    in_bar = 15 <= y <= 23 and 14 <= x <= 49
    in_stem = 23 <= y <= 50 and 27 <= x <= 36
    if in_bar or in_stem:
        b, g, r_ = 40, 190, 240
    if r > edge - 2.5 and alpha == 255:
        b, g, r_ = 230, 200, 120  # rim
    return (b, g, r_, alpha)


def main(path):
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    and_mask = bytes((SIZE // 8) * SIZE)  # alpha decides; mask all opaque
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "launcher.ico")
