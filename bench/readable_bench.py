"""Side-by-side benchmark of quillmoor.readable against plain Python loops.

Workloads (100,000 rows x 10 columns = 1,000,000 cells, half text, half
numbers, as the project's budgets are stated):

  cells/regex       find_cells_by_regex over a list of ReadableCell (the
                    results of an earlier search fed back in: no adaptation)
                    vs [c for c in cells if rx.search(c.value)]
  cells/str         find_cells_by_str over ReadableCell vs a strip-and-compare loop
  dicts/regex       find_cells_by_regex over a list of foreign dicts (every
                    dict adapted: six field reads, value parsing, a record)
                    vs [d for d in dicts if rx.search(str(d["value"]))]
  dicts/first       find_cell_by_regex over dicts, hit near the end: adaptation
                    dominates, the search is a short scan
  finder            Finder(sheets) construction, cells per second

Each figure is the median of several runs. Usage:
  PYTHONPATH=build-dev/stage .venv/bin/python bench/readable_bench.py [--rows N] [--runs N]
"""
import argparse
import re
import statistics
import time

from quillmoor import readable


def median_time(fn, runs):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def make_dicts(rows, cols):
    out = []
    for r in range(1, rows + 1):
        for c in range(1, cols + 1):
            if c % 2:
                v, dt = f"item {r * 7 + c} total" if r % 97 == 0 else f"item {r * 7 + c}", "s"
            else:
                v, dt = r * 1.25 + c, "n"
            out.append({"row": r, "column": c, "value": v, "formula": None, "data_type": dt,
                        "style_id": None})
    return out


def report(name, ours, theirs):
    print(f"{name:14s} quillmoor {ours * 1e3:9.1f} ms   python loop {theirs * 1e3:9.1f} ms   "
          f"ratio {theirs / ours:6.1f}x")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=100_000)
    ap.add_argument("--cols", type=int, default=10)
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()

    dicts = make_dicts(args.rows, args.cols)
    n = len(dicts)
    print(f"{n:,} cells ({args.rows:,} rows x {args.cols} columns), median of {args.runs} runs")
    pattern = "total$"
    rx = re.compile(pattern, re.IGNORECASE)

    # ReadableCell lists: the results of a first search fed back in.
    cells = readable.find_cells_range_rows(0, 2**32 - 1, dicts)
    assert len(cells) == n
    ours = median_time(lambda: readable.find_cells_by_regex(pattern, cells), args.runs)
    theirs = median_time(lambda: [c for c in cells if rx.search(c.value)], args.runs)
    assert len(readable.find_cells_by_regex(pattern, cells)) == len(
        [c for c in cells if rx.search(c.value)])
    report("cells/regex", ours, theirs)

    needle = f"item {500 * 7 + 1}"
    ours = median_time(lambda: readable.find_cells_by_str(needle, cells), args.runs)
    theirs = median_time(lambda: [c for c in cells if c.value.strip() == needle], args.runs)
    report("cells/str", ours, theirs)

    # Foreign dicts: adaptation included.
    ours = median_time(lambda: readable.find_cells_by_regex(pattern, dicts), args.runs)
    theirs = median_time(lambda: [d for d in dicts if rx.search(str(d["value"]))], args.runs)
    assert len(readable.find_cells_by_regex(pattern, dicts)) == len(
        [d for d in dicts if rx.search(str(d["value"]))])
    report("dicts/regex", ours, theirs)

    last = f"item {args.rows * 7 + 1}"
    rx_last = re.compile(re.escape(last) + "$", re.IGNORECASE)
    ours = median_time(lambda: readable.find_cell_by_regex(re.escape(last) + "$", dicts), args.runs)
    theirs = median_time(lambda: next(d for d in dicts if rx_last.search(str(d["value"]))),
                         args.runs)
    report("dicts/first", ours, theirs)

    # Finder construction: ten sheets of n / 10 cells.
    per = n // 10
    sheets = [{"name": f"S{i}", "sheet_state": "visible", "merge_cells": [[1, 2, 1, 2]],
               "cells": dicts[i * per:(i + 1) * per]} for i in range(10)]
    t = median_time(lambda: readable.Finder(sheets), max(1, args.runs // 2))
    print(f"{'finder':14s} {n / t / 1e6:.2f} M cells/s ({t * 1e3:.1f} ms for {n:,} cells)")


if __name__ == "__main__":
    main()
