#!/usr/bin/env python3
"""Draws two pictures of vertical lines and rounded inner corners, each panel rendered with
nimbra-render in the accurate mode and composited over the same dimmed footage:

* examples/vertical.png: a vertical two-line telop at the right edge of a frame, its lines of
  different heights (examples/vertical-input.png), with each plate layout (全体, ブロック, 行,
  列). Also writes examples/expected-columns.png, the 列 render itself, which a CLI test
  compares byte for byte.
* examples/inner-corners.png: a three-line caption (examples/caption-input.png) in the 行
  layout with innerCornerSize 0 and 12; the render with 12 is also kept as
  examples/expected-inner-corners.png for a CLI test.

Only the Python standard library is used, besides nimbra-render:
    python3 examples/make_vertical.py [path/to/nimbra-render]
"""
import os
import shutil
import sys
import tempfile

from make_example import GLYPH, blank, text_coverage, write_png
from make_layouts import over_footage, render_with, side_by_side

WIDTH, HEIGHT = 480, 270
SETTINGS = ["marginX=6", "marginY=10", "cornerSize=10", "strokeWidth=2",
            "fillColor=0.08,0.1,0.22,0.85", "strokeColor=1,0.8,0.3,1", "compositing=正確"]
LAYOUTS = ("全体", "ブロック", "行", "列")


def ink(pixels, cover, colour):
    for y, row in enumerate(cover):
        for x, a in enumerate(row):
            if a > pixels[y][x][3] / 255.0:
                pixels[y][x] = [*colour, round(a * 255)]


def vertical_input():
    """Two vertical lines at the right edge, read right to left: ニンブラ, then OFX below its
    first glyph's height, 20 columns apart."""
    pixels = blank(WIDTH, HEIGHT)
    scale, step = 2, (GLYPH + 2) * 2
    for text, left, top in (("ニンブラ", 424, 40), ("OFX", 376, 72)):
        for i, ch in enumerate(text):
            ink(pixels, text_coverage(WIDTH, HEIGHT, ch, scale, left, top + i * step, 0),
                (255, 255, 255))
    return pixels


def caption_input():
    """Three centred lines of different widths."""
    pixels = blank(WIDTH, HEIGHT)
    scale, step = 2, (GLYPH + 2) * 2
    for text, top in (("ニンブラ", 60), ("ニンブラ OFX", 108), ("OFX", 156)):
        left = (WIDTH - len(text) * step) // 2
        ink(pixels, text_coverage(WIDTH, HEIGHT, text, scale, left, top, step), (255, 255, 255))
    return pixels


def render(tool, source, settings, out):
    return over_footage(render_with(tool, source, settings, out))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    tool = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, "..", "build", "renderer", "nimbra-render")
    vertical = os.path.join(here, "vertical-input.png")
    caption = os.path.join(here, "caption-input.png")
    write_png(vertical, vertical_input())
    write_png(caption, caption_input())
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.png")
        panels = []
        for layout in LAYOUTS:
            panels.append(render(tool, vertical, SETTINGS + ["plateLayout=" + layout], out))
            if layout == "列":
                shutil.copyfile(out, os.path.join(here, "expected-columns.png"))
        write_png(os.path.join(here, "vertical.png"), side_by_side(panels))
        corners = []
        for size in ("0", "12"):
            corners.append(render(tool, caption, SETTINGS + ["plateLayout=行", "lineGap=12",
                                                              "innerCornerSize=" + size], out))
        shutil.copyfile(out, os.path.join(here, "expected-inner-corners.png"))
        write_png(os.path.join(here, "inner-corners.png"), side_by_side(corners))


if __name__ == "__main__":
    main()
