#!/usr/bin/env python3
"""Draws examples/compositing-modes.png: the example subtitle rendered in both compositing
modes, each composited over the same bright footage, the same crop side by side (compatible on
the left, accurate on the right), enlarged three times so the glyph edges can be seen.

Only the Python standard library is used, besides nimbra-render:
    python3 examples/make_comparison.py [path/to/nimbra-render]
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

from make_example import write_png

# The README's example settings.
SETTINGS = ["cornerSize=18", "strokeWidth=3", "fillColor=0.08,0.1,0.22,0.85",
            "strokeColor=1,0.8,0.3,1"]
CROP = (488, 128, 592, 200)  # x1, y1, x2, y2 in the 640x240 frame, top row first: "X" and a corner
ZOOM = 3
GAP = 12


def read_png(path):
    """8-bit RGBA, non-interlaced (what nimbra-render writes after byte processing)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(path + " is not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if (depth, colour, interlace) != (8, 6, 0):
        raise ValueError(path + ": only 8-bit RGBA without interlacing is read here")
    raw = zlib.decompress(idat)
    stride, bpp = width * 4, 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = previous[i]
            corner = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[i] = (line[i] + pred) & 255
        rows.append([list(line[x * 4:x * 4 + 4]) for x in range(width)])
        previous = line
    return rows


def footage(x, y):
    """Bright, light footage: a warm sky gradient with soft diagonal bands."""
    t = y / 240.0
    band = 0.5 + 0.5 * (((x + 2 * y) // 9) % 2)
    r = 235 - 25 * t + 12 * band
    g = 225 - 10 * t + 10 * band
    b = 190 + 40 * t + 8 * band
    return [min(255.0, r), min(255.0, g), min(255.0, b)]


def over_footage(rows):
    """The straight RGBA frame composited over the footage (opaque result)."""
    out = []
    for y, row in enumerate(rows):
        line = []
        for x, (r, g, b, a) in enumerate(row):
            k = a / 255.0
            bg = footage(x, y)
            line.append([round(c * k + f * (1 - k)) for c, f in zip((r, g, b), bg)] + [255])
        out.append(line)
    return out


def crop_and_zoom(rows):
    x1, y1, x2, y2 = CROP
    out = []
    for y in range(y1, y2):
        line = []
        for x in range(x1, x2):
            line += [rows[y][x]] * ZOOM
        out += [line] * ZOOM
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    render = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, "..", "build", "renderer", "nimbra-render")
    panels = []
    with tempfile.TemporaryDirectory() as tmp:
        for mode in ("互換", "正確"):
            out = os.path.join(tmp, "out.png")
            args = [render, os.path.join(here, "input.png"), out]
            for s in SETTINGS + ["compositing=" + mode]:
                args += ["--set", s]
            subprocess.run(args, check=True)
            panels.append(crop_and_zoom(over_footage(read_png(out))))
    left, right = panels
    separator = [[255, 255, 255, 255]] * GAP
    picture = [a + separator + b for a, b in zip(left, right)]
    write_png(os.path.join(here, "compositing-modes.png"), picture)


if __name__ == "__main__":
    main()
