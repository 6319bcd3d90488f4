#!/usr/bin/env python3
"""Markdown tables from render_benchmark's JSON output: render ÷ copy per depth, mode and
layout, per frame size and thread count; one table against the row-by-row copy (`x_memcpy`),
one against the copy of one memcpy per band (`x_band`) where the run measured it.

    build-bench/benchmarks/render_benchmark --benchmark_filter=frame/ \\
        --benchmark_out=bench.json --benchmark_out_format=json
    python3 tools/bench-table.py bench.json

With NIMBRA_BENCH_BEFORE set for the run, each cell reads "before → now".
"""
import json
import sys
from collections import defaultdict

DEPTHS = ["8-bit", "16-bit", "float"]
MODES = {"compatible": "互換", "accurate": "正確"}
COPIES = {"x_memcpy": "a row-by-row memcpy", "x_band": "one memcpy per band"}
LAYOUTS = {"whole": "全体", "blocks": "ブロック", "lines": "行", "columns": "列 (縦書き)",
           "caption": "行 (2 つの幅)", "caption-inner": "行 (2 つの幅), 内側の角丸 12",
           "whole-shadow8": "全体, 影 (ぼかし 8)", "whole-shadow200": "全体, 影 (ぼかし 200)"}


def main(path):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    # (size, threads) -> (depth, mode, layout) -> {"now"|"before": (ratio, ms)}
    tables = defaultdict(lambda: defaultdict(dict))
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        parts = b["name"].split("/")
        if parts[0] != "frame" or "x_memcpy" not in b:
            continue
        size, depth, mode, layout, threads = parts[1:6]
        which = "before" if "before" in parts[6:] else "now"
        tables[(size, threads)][(depth, mode, layout)][which] = {
            counter: (b[counter], b["real_time"]) for counter in COPIES if counter in b}

    def cell(entry, counter):
        now = entry.get("now", {}).get(counter)
        before = entry.get("before", {}).get(counter)
        text = lambda r: f"{r[0]:.2f}× ({r[1]:.1f} ms)"
        if now and before:
            return f"{before[0]:.2f}× → **{now[0]:.2f}×** ({now[1]:.1f} ms)"
        return text(now or before)

    def order(key):
        size, threads = key
        return (int(threads.rstrip("cpu")) != 2, -int(size.split("x")[0]), threads)

    for key in sorted(tables, key=order):
        size, threads = key
        rows = tables[key]
        layouts = [l for l in LAYOUTS if any(k[2] == l for k in rows)]
        n = threads.rstrip("cpu")
        for counter, copy in COPIES.items():
            if not any(counter in e.get("now", {}) for e in rows.values()):
                continue
            print(f"\n**{size.replace('x', ' × ')} RGBA, {n} thread{'' if n == '1' else 's'}**: "
                  f"render ÷ {copy} on as many threads (render time)\n")
            print("| depth | mode | " + " | ".join(LAYOUTS[l] for l in layouts) + " |")
            print("|---|---|" + "---|" * len(layouts))
            for depth in DEPTHS:
                for mode in MODES:
                    if not any((depth, mode, l) in rows for l in layouts):
                        continue
                    cells = [cell(rows[(depth, mode, l)], counter)
                             if (depth, mode, l) in rows else "" for l in layouts]
                    print(f"| {depth} | {MODES[mode]} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
