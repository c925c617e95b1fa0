#!/usr/bin/python3
"""Draws the sample splash skin, tervalis.png (512 x 400).

The launcher takes the window's size and whole picture from the skin; pixels
of exactly RGB(255, 0, 255) are see-through. Fixed places every skin must
respect: the file line (30, 345)-(452, 361), the progress bar (27, 361)-
(449, 375) and the close box (486, 359)-(509, 382), which the skin marks
itself. Drawn without antialiasing at the see-through edge, so that no
pinkish fringe survives the colour key.
"""
import math
import random
from pathlib import Path

from PIL import Image, ImageDraw

W, H = 512, 400
MAGENTA = (255, 0, 255)
OUT = Path(__file__).resolve().parent / "tervalis.png"


def lerp(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def main():
    rnd = random.Random(20261207)
    img = Image.new("RGB", (W, H))
    px = img.load()

    # Night sky: deep blue at the top to dusk violet at the horizon.
    for y in range(H):
        c = lerp((8, 14, 40), (70, 40, 90), min(1.0, y / 300))
        for x in range(W):
            px[x, y] = c
    d = ImageDraw.Draw(img)

    # Stars.
    for _ in range(140):
        x, y = rnd.randrange(W), rnd.randrange(230)
        v = rnd.randrange(150, 256)
        px[x, y] = (v, v, min(255, v + 20))

    # A large pale moon with a darker crescent.
    d.ellipse((360, 40, 440, 120), fill=(235, 230, 200))
    d.ellipse((378, 34, 458, 114), fill=lerp((8, 14, 40), (70, 40, 90), 74 / 300))

    # Two mountain ranges.
    for base, amp, colour, seed in ((250, 60, (40, 30, 70), 3), (290, 45, (25, 20, 45), 11)):
        r = random.Random(seed)
        pts = [(0, H)]
        phase = r.random() * 6
        for x in range(0, W + 8, 8):
            y = base - amp * (0.5 + 0.5 * math.sin(x / 55 + phase)) - r.randrange(0, 18)
            pts.append((x, y))
        pts.append((W, H))
        d.polygon(pts, fill=colour)

    # A keep with towers on the nearer ridge.
    keep = (18, 14, 30)
    d.rectangle((210, 200, 300, 300), fill=keep)
    for tx in (196, 292):
        d.rectangle((tx, 180, tx + 24, 300), fill=keep)
        d.polygon([(tx - 4, 180), (tx + 12, 150), (tx + 28, 180)], fill=keep)
    for bx in range(212, 300, 14):
        d.rectangle((bx, 192, bx + 7, 200), fill=keep)
    for wx, wy in ((232, 228), (262, 228), (247, 258)):
        d.rectangle((wx, wy, wx + 6, wy + 12), fill=(240, 190, 90))

    # Ground and the panel that carries the progress strips.
    d.rectangle((0, 300, W, H), fill=(20, 16, 32))
    d.rectangle((14, 332, 470, 388), fill=(12, 10, 20), outline=(110, 90, 150))
    # Progress track: the bar's red fill and grey text must stand out on it.
    d.rectangle((26, 360, 449, 375), fill=(38, 36, 48), outline=(80, 74, 100))

    # Title.
    title = "TERVALIS ONLINE"
    d.text((24, 312), title, fill=(230, 210, 150))

    # Close box: a framed cross in 486..508 x 359..381.
    d.rectangle((486, 359, 508, 381), fill=(60, 20, 30), outline=(200, 160, 170))
    d.line((491, 364, 503, 376), fill=(240, 220, 220), width=2)
    d.line((503, 364, 491, 376), fill=(240, 220, 220), width=2)

    # See-through outside a rounded frame: corners of radius 28, hard-edged.
    mask = Image.new("1", (W, H), 0)
    ImageDraw.Draw(mask).rounded_rectangle((0, 0, W - 1, H - 1), radius=28, fill=1)
    frame = Image.new("RGB", (W, H), MAGENTA)
    frame.paste(img, (0, 0), mask)
    ImageDraw.Draw(frame).rounded_rectangle((0, 0, W - 1, H - 1), radius=28, outline=(110, 90, 150))
    # The outline pass may not touch the see-through corners' colour: redo
    # the mask hard so the corner pixels stay exact magenta.
    out = Image.new("RGB", (W, H), MAGENTA)
    out.paste(frame, (0, 0), mask)
    out.save(OUT, optimize=True)


if __name__ == "__main__":
    main()
