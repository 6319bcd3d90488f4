#!/usr/bin/env python3
"""Draws examples/layouts.png: one frame with a logo in the top-right corner and a two-line
subtitle whose lines differ in width (examples/layouts-input.png), rendered with each plate
layout (全体, ブロック, 行) in the accurate mode, composited over the same footage and set
side by side. Also writes examples/expected-lines.png, the 行 render itself, which a CLI test
compares byte for byte.

Only the Python standard library is used, besides nimbra-render:
    python3 examples/make_layouts.py [path/to/nimbra-render]
"""
import os
import shutil
import subprocess
import sys
import tempfile

from make_comparison import footage, read_png
from make_example import GLYPH, blank, text_coverage, write_png

WIDTH, HEIGHT = 480, 270
SETTINGS = ["marginX=8", "marginY=14", "cornerSize=12", "strokeWidth=2",
            "fillColor=0.08,0.1,0.22,0.85", "strokeColor=1,0.8,0.3,1", "compositing=正確"]
LAYOUTS = ("全体", "ブロック", "行")
GAP = 12


def layout_input():
    """The logo (small, top right) and two subtitle lines 28 px tall, 20 rows apart."""
    pixels = blank(WIDTH, HEIGHT)
    scale = 2
    lines = [("OFX", 374, 18, 1, (255, 160, 40)),
             ("ニンブラ OFX", 56, 170, scale, (255, 255, 255)),
             ("ニンブラ", 120, 218, scale, (255, 255, 255))]
    for text, left, top, size, colour in lines:
        step = (GLYPH + 2) * size
        cover = text_coverage(WIDTH, HEIGHT, text, size, left, top, step)
        for y in range(HEIGHT):
            for x in range(WIDTH):
                a = cover[y][x]
                if a > 0.0:
                    pixels[y][x] = [*colour, round(a * 255)]
    return pixels


def over_footage(rows):
    out = []
    for y, row in enumerate(rows):
        line = []
        for x, (r, g, b, a) in enumerate(row):
            k = a / 255.0
            bg = [c * 0.55 for c in footage(x, y * 240 // HEIGHT)]  # dimmed: the plates show
            line.append([round(c * k + f * (1 - k)) for c, f in zip((r, g, b), bg)] + [255])
        out.append(line)
    return out


def side_by_side(panels, gap=GAP):
    """Panels of one height set side by side, a white gap between them."""
    separator = [[255, 255, 255, 255]] * gap
    picture = []
    for rows in zip(*panels):
        line = []
        for i, row in enumerate(rows):
            line += (separator if i else []) + row
        picture.append(line)
    return picture


def render_with(tool, source, settings, out):
    """Renders `source` into `out` with nimbra-render and the settings; returns its pixels."""
    args = [tool, source, out]
    for s in settings:
        args += ["--set", s]
    subprocess.run(args, check=True)
    return read_png(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    render = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, "..", "build", "renderer", "nimbra-render")
    panels = []
    source = os.path.join(here, "layouts-input.png")
    write_png(source, layout_input())
    with tempfile.TemporaryDirectory() as tmp:
        for layout in LAYOUTS:
            out = os.path.join(tmp, "out.png")
            panels.append(over_footage(
                render_with(render, source, SETTINGS + ["plateLayout=" + layout], out)))
            if layout == "行":
                shutil.copyfile(out, os.path.join(here, "expected-lines.png"))
    write_png(os.path.join(here, "layouts.png"), side_by_side(panels))


if __name__ == "__main__":
    main()
