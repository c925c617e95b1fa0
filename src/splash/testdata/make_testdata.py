#!/usr/bin/python3
"""Writes the small images the image-surface and skin tests decode. Each has
known pixels at known places; run again to regenerate (output is stable)."""
import io
import struct
import zlib
from pathlib import Path

from PIL import Image

HERE = Path(__file__).resolve().parent

# 4 x 3 picture used by most files: row y, column x.
PIXELS = [
    [(255, 0, 255), (200, 10, 20), (0, 128, 255), (255, 255, 255)],
    [(0, 0, 0), (12, 34, 56), (250, 240, 230), (1, 2, 3)],
    [(255, 0, 0), (0, 255, 0), (0, 0, 255), (128, 128, 128)],
]


def rgb_image():
    im = Image.new("RGB", (4, 3))
    for y, row in enumerate(PIXELS):
        for x, p in enumerate(row):
            im.putpixel((x, y), p)
    return im


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_rgb48(path, dpi):
    """16 bits per channel, with a pHYs chunk giving dpi."""
    raw = b""
    for row in PIXELS:
        raw += b"\0" + b"".join(struct.pack(">HHH", r * 257, g * 257, b * 257) for r, g, b in row)
    ppm = round(dpi / 0.0254)
    data = b"\x89PNG\r\n\x1a\n"
    data += png_chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 3, 16, 2, 0, 0, 0))
    data += png_chunk(b"pHYs", struct.pack(">IIB", ppm, ppm, 1))
    data += png_chunk(b"IDAT", zlib.compress(raw))
    data += png_chunk(b"IEND", b"")
    path.write_bytes(data)


def bmp_565(path):
    """16-bit BMP with 5-6-5 colour masks (BI_BITFIELDS), bottom-up."""
    w, h = 4, 3
    stride = (w * 2 + 3) & ~3
    rows = b""
    for row in reversed(PIXELS):
        line = b"".join(struct.pack("<H", ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)) for r, g, b in row)
        rows += line + b"\0" * (stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 16, 3, len(rows), 2835, 2835, 0, 0)
    masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    offset = 14 + len(header) + len(masks)
    path.write_bytes(b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + header + masks + rows)


def main():
    rgb = rgb_image()
    rgb.save(HERE / "rgb24.bmp")
    rgb.save(HERE / "rgb24.png")
    rgb.quantize(colors=16, method=Image.Quantize.MEDIANCUT).save(HERE / "pal.png")
    rgb.quantize(colors=16, method=Image.Quantize.MEDIANCUT).save(HERE / "pal.gif")
    rgba = rgb.convert("RGBA")
    rgba.putpixel((3, 0), (10, 20, 30, 0))     # fully transparent, colour kept
    rgba.putpixel((3, 1), (90, 80, 70, 128))   # half transparent
    rgba.save(HERE / "rgba.png")
    rgb.resize((40, 30), Image.NEAREST).save(HERE / "photo.jpg", quality=95)
    png_rgb48(HERE / "rgb48_72dpi.png", 72)
    bmp_565(HERE / "rgb565.bmp")
    (HERE / "text.png").write_bytes(b"this is not an image\n")


if __name__ == "__main__":
    main()
