#!/usr/bin/env python3
"""Draws the program's icons: a stopwatch face in the clock's cyan on a dark
tile. Writes two .ico files, each one 128 x 128, 32-bit PNG-compressed image
(read by Windows Vista and later; large: detailed face with minute ticks;
small: bold strokes that stay legible when scaled down).

usage: make-icons.py OUT_DIR
"""
import math
import struct
import sys
import zlib

SIZE = 128
SAMPLES = 4  # per axis, for anti-aliased edges
CYAN = (15, 255, 255)
TILE = (24, 28, 36)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def hand(angle_deg, length):
    a = math.radians(angle_deg)
    return (64 + length * math.sin(a), 64 - length * math.cos(a))


def shapes(bold):
    """Strokes as (kind, params, half width); everything drawn in cyan."""
    ring = ("ring", (64, 64, 50), 6.0 if bold else 3.5)
    crown = ("segment", (64, 4, 64, 12), 6.0 if bold else 4.0)
    minute = ("segment", (64, 64) + hand(0, 40), 5.0 if bold else 3.0)
    second = ("segment", (64, 64) + hand(130, 34), 4.0 if bold else 2.0)
    hub = ("disc", (64, 64), 8.0 if bold else 5.5)
    strokes = [ring, crown, minute, second, hub]
    if not bold:
        for i in range(12):
            inner = 36 if i % 3 == 0 else 40
            strokes.append(("segment", hand(i * 30, inner) + hand(i * 30, 45), 1.6))
    return strokes


def inside_tile(x, y):
    """A rounded square filling the icon."""
    r = 22
    cx = min(max(x, r), SIZE - r)
    cy = min(max(y, r), SIZE - r)
    return math.hypot(x - cx, y - cy) <= r


def covered(strokes, x, y):
    for kind, p, w in strokes:
        if kind == "ring" and abs(math.hypot(x - p[0], y - p[1]) - p[2]) <= w:
            return True
        if kind == "segment" and segment_distance(x, y, *p) <= w:
            return True
        if kind == "disc" and math.hypot(x - p[0], y - p[1]) <= w:
            return True
    return False


def render(bold):
    """Rows top to bottom of (b, g, r, a) pixels."""
    strokes = shapes(bold)
    rows = []
    for row in range(SIZE):
        pixels = []
        for col in range(SIZE):
            tile = ink = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = col + (sx + 0.5) / SAMPLES
                    y = row + (sy + 0.5) / SAMPLES
                    if inside_tile(x, y):
                        tile += 1
                        ink += covered(strokes, x, y)
            n = SAMPLES * SAMPLES
            alpha = tile / n
            mix = ink / tile if tile else 0.0
            rgb = [round(t + (c - t) * mix) for t, c in zip(TILE, CYAN)]
            pixels.append((rgb[2], rgb[1], rgb[0], round(alpha * 255)))
        rows.append(pixels)
    return rows


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_bytes(rows):
    """RGBA, 8 bits per channel; each row filtered with "Up" (the difference
    from the row above), which the flat tile and strokes compress well."""
    raw = [bytes(channel for b, g, r, a in row for channel in (r, g, b, a)) for row in rows]
    previous = bytes(len(raw[0]))
    scanlines = bytearray()
    for line in raw:
        scanlines.append(2)
        scanlines += bytes((x - y) & 0xFF for x, y in zip(line, previous))
        previous = line
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(bytes(scanlines), 9)) + png_chunk(b"IEND", b""))


def ico_bytes(rows):
    """One 32-bit PNG image in an .ico container; alpha carries the shape."""
    image = png_bytes(rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    for name, bold in (("tixabo-large.ico", False), ("tixabo-small.ico", True)):
        with open(f"{out}/{name}", "wb") as f:
            f.write(ico_bytes(render(bold)))


if __name__ == "__main__":
    main()
