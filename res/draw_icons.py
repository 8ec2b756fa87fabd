#!/usr/bin/env python3
"""Draws the default launcher icon at the six sizes a launcher carries and
writes them as PNG files (8 bits per channel with alpha) into res/icons/.

The art is a rounded square with a diagonal blue gradient and a white arrow
rising out of an open tray. Each size is drawn from the same shapes (not
scaled from a bigger bitmap), with 8x8 samples per pixel, so the small sizes
stay sharp. Only the standard library is needed; run it again after changing
the art and commit the PNG files.
"""

import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 8

# Shapes in a unit square, y pointing down.
MARGIN = 0.03
CORNER = 0.21
TOP_COLOUR = (0x3A, 0x8D, 0xF2)
BOTTOM_COLOUR = (0x2B, 0x3F, 0xB8)
ARROW = [(0.50, 0.17), (0.75, 0.43), (0.59, 0.43), (0.59, 0.63),
         (0.41, 0.63), (0.41, 0.43), (0.25, 0.43)]
TRAY = [(0.20, 0.55), (0.31, 0.55), (0.31, 0.71), (0.69, 0.71), (0.69, 0.55),
        (0.80, 0.55), (0.80, 0.82), (0.20, 0.82)]


def in_rounded_square(x, y):
    lo, hi = MARGIN, 1.0 - MARGIN
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + CORNER), hi - CORNER)
    cy = min(max(y, lo + CORNER), hi - CORNER)
    return (x - cx) ** 2 + (y - cy) ** 2 <= CORNER ** 2


def in_polygon(points, x, y):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def background(x, y):
    t = min(max((x + 2 * y) / 3.0, 0.0), 1.0)
    return tuple(a + (b - a) * t for a, b in zip(TOP_COLOUR, BOTTOM_COLOUR))


def pixel(size, px, py):
    """Averages the samples of one pixel in premultiplied form."""
    r = g = b = a = 0.0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            if not in_rounded_square(x, y):
                continue
            if in_polygon(ARROW, x, y) or in_polygon(TRAY, x, y):
                colour = (255.0, 255.0, 255.0)
            else:
                colour = background(x, y)
            r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1.0
    if a == 0:
        return (0, 0, 0, 0)
    return (round(r / a), round(g / a), round(b / a), round(255 * a / SAMPLES ** 2))


def png_bytes(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + bytes(channel for p in row for channel in p) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)   # 8 bits, RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent / "icons"
    out.mkdir(parents=True, exist_ok=True)
    for size in SIZES:
        rows = [[pixel(size, x, y) for x in range(size)] for y in range(size)]
        (out / f"icon-{size}.png").write_bytes(png_bytes(size, rows))


if __name__ == "__main__":
    main()
