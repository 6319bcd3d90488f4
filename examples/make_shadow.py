#!/usr/bin/env python3
"""Draws two pictures of the shadow and of the least size, each panel rendered with
nimbra-render in the accurate mode and composited over footage:

* examples/shadow.png: the README's example without and with the shadow. The render with it is
  also kept as examples/expected-shadow.png, which a CLI test compares byte for byte.
* examples/least-size.png: two subtitles of a sequence, one of glyphs taller than the other's
  (examples/subtitle-a.png, examples/subtitle-b.png): above, their plates follow the glyphs and
  differ in height; below, minPlateHeight holds both at one height.

Only the Python standard library is used, besides nimbra-render:
    python3 examples/make_shadow.py [path/to/nimbra-render]
"""
import os
import shlex
import shutil
import sys
import tempfile

from make_comparison import footage
from make_layouts import render_with, side_by_side
from make_example import GLYPH, blank, text_coverage, write_png

GAP = 12
SHADOW = ["shadowEnabled=true", "shadowOffsetX=8", "shadowOffsetY=8", "shadowSoftness=14",
          "shadowColor=0,0,0,0.75"]


def example_settings(here):
    """The README example's options, as examples/example-options.sh gives them."""
    with open(os.path.join(here, "example-options.sh"), encoding="utf-8") as f:
        text = f.read()
    start = text.index("example_options=(") + len("example_options=(")
    words = shlex.split(text[start:text.index(")", start)], comments=True)
    return [w for w in words if w != "--set"]


def over(rows, scale=240):
    """The render over the footage."""
    out = []
    for y, row in enumerate(rows):
        line = []
        for x, (r, g, b, a) in enumerate(row):
            k = a / 255.0
            bg = footage(x, y * 240 // scale)
            line.append([round(c * k + f * (1 - k)) for c, f in zip((r, g, b), bg)] + [255])
        out.append(line)
    return out


def render(tool, source, settings, out):
    return render_with(tool, source, settings, out)


def stacked(top, bottom):
    return top + [[[255, 255, 255, 255]] * len(top[0])] * GAP + bottom


def subtitle(text):
    """A 320 × 120 frame with one subtitle line near its bottom."""
    width, height = 320, 120
    pixels = blank(width, height)
    step = (GLYPH + 2) * 2
    left = (width - len(text) * step) // 2
    cover = text_coverage(width, height, text, 2, left, 72, step)
    for y in range(height):
        for x in range(width):
            if cover[y][x] > 0:
                pixels[y][x] = [255, 255, 255, round(cover[y][x] * 255)]
    return pixels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    tool = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, "..", "build", "renderer", "nimbra-render")
    example = example_settings(here)
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.png")
        source = os.path.join(here, "input.png")
        plain = over(render(tool, source, example, out))
        shadowed = over(render(tool, source, example + SHADOW, out))
        shutil.copyfile(out, os.path.join(here, "expected-shadow.png"))
        write_png(os.path.join(here, "shadow.png"), side_by_side([plain, shadowed]))

        subtitles = []
        for name, text in (("subtitle-a.png", "ニニ ニニ"), ("subtitle-b.png", "OFX ニンブラ")):
            path = os.path.join(here, name)
            write_png(path, subtitle(text))
            subtitles.append(path)
        settings = ["marginX=6", "marginY=6", "cornerSize=6", "fillColor=0.05,0.05,0.1,0.8",
                    "compositing=正確"]
        rows = []
        for least in ("0", "44"):
            rows.append(side_by_side([
                over(render(tool, path, settings + ["minPlateHeight=" + least], out), 120)
                for path in subtitles]))
        write_png(os.path.join(here, "least-size.png"), stacked(rows[0], rows[1]))


if __name__ == "__main__":
    main()
