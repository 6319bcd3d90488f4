#!/usr/bin/env python3
"""Draws examples/input.png and the plug-in icon from a small pixel font kept in this file.

Only the Python standard library is used, so the pictures come out the same on any machine:
    python3 examples/make_example.py
"""
import os
import struct
import zlib

# 14x14 glyphs; '#' is ink.
GLYPHS = {
    "ニ": [
        "..............", "..............", "..##########..", "..##########..",
        "..............", "..............", "..............", "..............",
        "..............", "..............", ".############.", ".############.",
        "..............", "..............",
    ],
    "ン": [
        "..............", ".##...........", "..###.........", "...###........",
        "....##......##", "...........##.", "..........###.", ".........###..",
        "........###...", ".......###....", ".....####.....", "...####.......",
        ".####.........", "..............",
    ],
    "ブ": [
        ".........#.#..", "..........#.#.", ".##########...", ".##########...",
        "..........##..", "..........##..", ".........##...", ".........##...",
        "........##....", ".......###....", "......###.....", "....###.......",
        "..###.........", "..............",
    ],
    "ラ": [
        "...#######....", "...#######....", "..............", ".###########..",
        ".###########..", "..........##..", "..........##..", ".........##...",
        "........###...", ".......###....", ".....###......", "...###........",
        "..............", "..............",
    ],
    "O": [
        "....######....", "..##########..", ".###......###.", ".##........##.",
        "##..........##", "##..........##", "##..........##", "##..........##",
        "##..........##", ".##........##.", ".###......###.", "..##########..",
        "....######....", "..............",
    ],
    "F": [
        ".###########..", ".###########..", ".###..........", ".###..........",
        ".###..........", ".#########....", ".#########....", ".###..........",
        ".###..........", ".###..........", ".###..........", ".###..........",
        ".###..........", "..............",
    ],
    "X": [
        "###........###", ".###......###.", "..###....###..", "...###..###...",
        "....######....", ".....####.....", ".....####.....", "....######....",
        "...###..###...", "..###....###..", ".###......###.", "###........###",
        "##..........##", "..............",
    ],
    " ": ["." * 14] * 14,
}
GLYPH = 14


def blank(width, height, rgba=(0, 0, 0, 0)):
    return [[list(rgba) for _ in range(width)] for _ in range(height)]


def text_coverage(width, height, text, scale, left, top, advance):
    """Alpha 0..1 for the text, drawn at `scale` and softened by a 3x3 box filter."""
    ink = [[0.0] * width for _ in range(height)]
    for i, ch in enumerate(text):
        rows = GLYPHS[ch]
        x0 = left + i * advance
        for gy, row in enumerate(rows):
            for gx, cell in enumerate(row):
                if cell != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x, y = x0 + gx * scale + dx, top + gy * scale + dy
                        if 0 <= x < width and 0 <= y < height:
                            ink[y][x] = 1.0
    soft = [[0.0] * width for _ in range(height)]
    for y in range(height):
        for x in range(width):
            total = 0.0
            for yy in (y - 1, y, y + 1):
                for xx in (x - 1, x, x + 1):
                    if 0 <= xx < width and 0 <= yy < height:
                        total += ink[yy][xx]
            soft[y][x] = total / 9.0
    return soft


def write_png(path, pixels):
    height, width = len(pixels), len(pixels[0])
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter: none
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def example_input():
    """640x240: sky-blue "ニンブラ" and orange "OFX" over transparency, off-centre."""
    width, height, scale = 640, 240, 4
    pixels = blank(width, height)
    advance = (GLYPH + 2) * scale
    lines = [("ニンブラ", 96, 56, (90, 190, 255)), ("OFX", 360, 120, (255, 160, 40))]
    for text, left, top, colour in lines:
        cover = text_coverage(width, height, text, scale, left, top, advance)
        for y in range(height):
            for x in range(width):
                a = cover[y][x]
                if a > 0.0:
                    pixels[y][x] = [*colour, round(a * 255)]
    return pixels


def icon():
    """128x128: a dark rounded plate with a light outline and "ニ" on it."""
    size, radius, border = 128, 24, 6
    pixels = blank(size, size)
    inset = 8
    lo, hi = inset, size - inset
    for y in range(size):
        for x in range(size):
            # Distance outside the rounded rectangle, sampled at the pixel centre.
            px, py = x + 0.5, y + 0.5
            cx = min(max(px, lo + radius), hi - radius)
            cy = min(max(py, lo + radius), hi - radius)
            d = ((px - cx) ** 2 + (py - cy) ** 2) ** 0.5 - radius
            if d > 0.5:
                continue
            a = min(1.0, 0.5 - d)
            colour = (245, 245, 245) if d > -border else (28, 32, 40)
            pixels[y][x] = [*colour, round(a * 255)]
    cover = text_coverage(size, size, "ニ", 5, 29, 22, 0)
    for y in range(size):
        for x in range(size):
            a = cover[y][x]
            if a > 0.0:
                base = pixels[y][x]
                pixels[y][x] = [round(base[c] * (1 - a) + 255 * a) for c in range(3)] + [base[3]]
    return pixels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_png(os.path.join(here, "input.png"), example_input())
    resources = os.path.join(here, "..", "plugin", "resources")
    os.makedirs(resources, exist_ok=True)
    write_png(os.path.join(resources, "com.example.nimbra.jp.png"), icon())


if __name__ == "__main__":
    main()
