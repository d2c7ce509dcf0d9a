"""quillmoor against its peers, side by side in one process: ratios only.

Every row builds the same data for us and for the peer, repeats each
measurement and takes the median, and prints one table: the work, the peer,
our time, the peer's time, the ratio, the budget and whether it holds. The
machine is shared and noisy, so only ratios of runs in the same process are
reported, never absolute budgets on time.

    make bench                            # everything, 1,000,000 cells
    .venv/bin/python bench/compare.py --rows 20000 --runs 3   # a quick look

Rows (100,000 rows x 10 columns, half short texts, half numbers, unless said):
 1 fill: sheet.cell(r, c, v) vs openpyxl ws.cell(r, c, v)
 2 memory per cell: resident growth for both (tracemalloc too for the peer)
 3 to_json vs building the same dicts + json.dumps(separators=(",", ":"))
 4 Sheet.find_cells_by_regex vs a Python re loop over openpyxl cells
 5 readable functions over a list of ReadableCell vs the same Python loop
 6 readable functions over a list of dicts vs a Python loop over the dicts;
   Finder construction in cells per second
 7 Finder over openpyxl-read sheets of the corpus, then searched, vs the same
   searches in Python over the openpyxl cells
 8 scaling of a regex filter, 1 worker vs all workers (core benchmark)
"""

import argparse
import gc
import json
import os
import re
import statistics
import subprocess
import sys
import time
import tracemalloc
from pathlib import Path

import openpyxl

import quillmoor
from quillmoor import readable

ROOT = Path(__file__).resolve().parents[1]
CORPUS = ROOT.parent / "shared" / "corpus" / "xlsx"
PATTERN = "total$"
ROWS = []


def median_time(fn, runs):
    times = []
    for _ in range(runs):
        gc.collect()
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def row(work, peer, ours, theirs, budget, holds, note=""):
    ROWS.append((work, peer, ours, theirs, budget, holds, note))


def ratio_row(work, peer, ours, theirs, min_ratio):
    r = theirs / ours
    row(work, peer, f"{ours * 1e3:.0f} ms", f"{theirs * 1e3:.0f} ms",
        f">= {min_ratio:g}x", r >= min_ratio, f"{r:.1f}x")


def value_text(r, c):
    """The cell values of every workload: half short texts, half numbers."""
    if c % 2:
        return f"item {r * 7 + c} total" if r % 97 == 0 else f"item {r * 7 + c}"
    return r * 1.25 + c


def timed_fill(cell, values):
    """Seconds for cell(r, c, v) over every value, in the loop users write."""
    t = time.perf_counter()
    for r, vals in enumerate(values, 1):
        for c in range(1, len(vals) + 1):
            cell(r, c, vals[c - 1])
    return time.perf_counter() - t


def fill_ours(rows, cols):
    book = quillmoor.Book()
    texts = [[str(value_text(r, c)) for c in range(1, cols + 1)] for r in range(1, rows + 1)]
    return book, timed_fill(book.add_sheet("Data").cell, texts)


def fill_peer(rows, cols):
    ws = openpyxl.Workbook().active
    values = [[value_text(r, c) for c in range(1, cols + 1)] for r in range(1, rows + 1)]
    return ws, timed_fill(ws.cell, values)


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_child(which, rows, cols):
    """Resident growth per cell of one fill, in a fresh process."""
    gc.collect()
    before = rss()
    if which == "ours":
        keep = fill_ours(rows, cols)[0]
        traced = ""
    else:
        tracemalloc.start()
        keep = fill_peer(rows, cols)[0]
        traced = tracemalloc.get_traced_memory()[0] / (rows * cols)
        tracemalloc.stop()
    grown = (rss() - before) / (rows * cols)
    print(json.dumps({"rss": grown, "traced": traced}))
    del keep


def memory(which, rows, cols):
    out = subprocess.run([sys.executable, __file__, "--memory-child", which, "--rows", str(rows),
                          "--cols", str(cols)], capture_output=True, text=True, check=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def bench_workbook(args):
    n = args.rows * args.cols
    book, ours = fill_ours(args.rows, args.cols)
    ws, theirs = fill_peer(args.rows, args.cols)
    ratio_row("1 fill sheet.cell(r, c, v)", "openpyxl ws.cell", ours, theirs, 15)

    mine = memory("ours", args.rows, args.cols)
    peer = memory("peer", args.rows, args.cols)
    row("2 memory per cell", "openpyxl", f"{mine['rss']:.0f} B", f"{peer['rss']:.0f} B "
        f"({peer['traced']:.0f} B traced)", "<= 80 B", mine["rss"] <= 80,
        f"{peer['rss'] / mine['rss']:.1f}x less")

    text = book.to_json()
    ours = median_time(book.to_json, args.runs)
    # The peer builds the dicts from values it already holds (its own cells),
    # then serialises them: the fair pure-Python equivalent of to_json.
    cells = [{"row": c.row, "column": c.column, "value": c.value, "data_type": c.data_type}
             for row_cells in ws.iter_rows() for c in row_cells]

    def peer_json():
        doc = {"sheets": [{"name": "Data", "sheet_state": "visible", "merge_cells": [],
                           "cells": [dict(c) for c in cells],
                           "row_dimensions": {"default_height": 20.0},
                           "column_dimensions": {"default_width": 22.5}, "comments": []}]}
        return json.dumps(doc, separators=(",", ":"))

    theirs = median_time(peer_json, args.runs)
    ratio_row("3 to_json", "dicts + json.dumps", ours, theirs, 20)
    mbs = len(text.encode()) / ours / 1e6
    row("3 to_json throughput", "-", f"{mbs:.0f} MB/s", "-", ">= 400 MB/s", mbs >= 400)

    sheet = book.sheets[0]
    rx = re.compile(PATTERN, re.IGNORECASE)
    peer_cells = [c for row_cells in ws.iter_rows() for c in row_cells]
    assert len(sheet.find_cells_by_regex(PATTERN)) == len(
        [c for c in peer_cells if rx.search(str(c.value))])
    ours = median_time(lambda: sheet.find_cells_by_regex(PATTERN), args.runs)
    theirs = median_time(lambda: [c for c in peer_cells if rx.search(str(c.value))], args.runs)
    ratio_row("4 Sheet.find_cells_by_regex", "re loop, openpyxl cells", ours, theirs, 10)
    return n


def bench_readable(args):
    dicts = [{"row": r, "column": c, "value": value_text(r, c), "formula": None,
              "data_type": "s" if c % 2 else "n", "style_id": None}
             for r in range(1, args.rows + 1) for c in range(1, args.cols + 1)]
    rx = re.compile(PATTERN, re.IGNORECASE)
    cells = readable.find_cells_range_rows(0, 2**32 - 1, dicts)  # ReadableCell, fed back in
    assert len(readable.find_cells_by_regex(PATTERN, cells)) == len(
        [c for c in cells if rx.search(c.value)])
    ours = median_time(lambda: readable.find_cells_by_regex(PATTERN, cells), args.runs)
    theirs = median_time(lambda: [c for c in cells if rx.search(c.value)], args.runs)
    ratio_row("5 find_cells_by_regex(ReadableCell)", "re loop, same cells", ours, theirs, 10)

    ours = median_time(lambda: readable.find_cells_by_regex(PATTERN, dicts), args.runs)
    theirs = median_time(lambda: [d for d in dicts if rx.search(str(d["value"]))], args.runs)
    ratio_row("6 find_cells_by_regex(dicts)", "re loop over dicts", ours, theirs, 1.5)

    # Finder construction adapts every field of every foreign cell once.
    per = len(dicts) // 10
    sheets = [{"name": f"S{i}", "sheet_state": "visible", "merge_cells": [[1, 2, 1, 2]],
               "cells": dicts[i * per:(i + 1) * per]} for i in range(10)]
    t = median_time(lambda: readable.Finder(sheets), args.runs)
    row("6 Finder(sheets) construction", "-", f"{len(dicts) / t / 1e6:.2f} M cells/s", "-", "-",
        None, f"{t * 1e3:.0f} ms")


class Sheet:
    """A foreign sheet as a reader hands it over."""

    def __init__(self, ws):
        self.name = ws.title
        self.sheet_state = ws.sheet_state
        self.merge_cells = [[m.min_row, m.max_row, m.min_col, m.max_col]
                            for m in ws.merged_cells.ranges]
        self.cells = [Cell(c) for r in ws.iter_rows() for c in r if c.value is not None]


class Cell:
    __slots__ = ("row", "column", "value", "formula", "data_type", "style_id")

    def __init__(self, c):
        self.row, self.column, self.value, self.data_type = c.row, c.column, c.value, c.data_type
        self.formula = c.value if c.data_type == "f" else None
        self.style_id = str(c.style_id)


def bench_corpus(args):
    if not CORPUS.is_dir():
        row("7 Finder over the corpus", "re loops", "-", "-", "-", None,
            f"skipped: no corpus at {CORPUS}")
        return
    books = []
    for path in sorted(CORPUS.glob("*.xlsx")):
        try:
            books.append(openpyxl.load_workbook(path))
        except Exception:  # noqa: BLE001 - a file openpyxl cannot read is not ours to time
            continue
    sheets = [Sheet(ws) for wb in books for ws in wb.worksheets]
    n = sum(len(s.cells) for s in sheets)
    patterns = [r"^total", r"\d{4}-\d\d-\d\d", r"[a-z]+ [a-z]+", r"^\s*$"]
    compiled = [re.compile(p, re.IGNORECASE) for p in patterns]

    def ours():
        finder = readable.Finder(sheets)
        return sum(len(s.find_cells_by_regex(p)) for s in finder.sheets for p in patterns)

    def theirs():
        hits = 0
        for s in sheets:
            for rx in compiled:
                hits += sum(1 for c in s.cells if rx.search(str(c.value)))
        return hits

    ours_t = median_time(ours, args.runs)
    theirs_t = median_time(theirs, args.runs)
    ratio_row(f"7 Finder + 4 searches, corpus ({n:,} cells)", "re loops, openpyxl cells",
              ours_t, theirs_t, 1)


def bench_scaling(args):
    exe = ROOT / "build-core" / "bench" / "search_bench"
    if not exe.exists():
        row("8 scaling, regex filter", "1 worker", "-", "-", ">= 1.7x", None,
            "skipped: build the core benchmarks first (make bench does)")
        return
    out = subprocess.run([str(exe), "--benchmark_filter=BM_FilterLiteral/(1|2)/",
                          "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                          "--benchmark_format=json"], capture_output=True, text=True, check=True)
    medians = {b["name"].split("/")[1]: b["real_time"] for b in json.loads(out.stdout)["benchmarks"]
               if b.get("aggregate_name") == "median"}
    one, two = medians["1"], medians["2"]
    row("8 scaling, regex filter 1M records", "1 worker", f"{two:.0f} ms (2 workers)",
        f"{one:.0f} ms", ">= 1.7x", one / two >= 1.7, f"{one / two:.2f}x")


def print_table():
    headers = ("work", "peer", "ours", "peer", "budget", "holds", "ratio / note")
    lines = [headers] + [(w, p, o, t, b, {True: "yes", False: "NO", None: "-"}[h], n)
                         for w, p, o, t, b, h, n in ROWS]
    widths = [max(len(str(line[i])) for line in lines) for i in range(len(headers))]
    for i, line in enumerate(lines):
        print("  ".join(str(x).ljust(w) for x, w in zip(line, widths)).rstrip())
        if i == 0:
            print("  ".join("-" * w for w in widths))


def main():
    ap = argparse.ArgumentParser(description="quillmoor vs its peers, ratios in one process")
    ap.add_argument("--rows", type=int, default=100_000)
    ap.add_argument("--cols", type=int, default=10)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--memory-child", choices=["ours", "peer"], help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.memory_child:
        memory_child(args.memory_child, args.rows, args.cols)
        return
    n = bench_workbook(args)
    bench_readable(args)
    bench_corpus(args)
    bench_scaling(args)
    print(f"\n{n:,} cells ({args.rows:,} rows x {args.cols} columns), median of {args.runs} runs, "
          f"{os.cpu_count()} processors, quillmoor {quillmoor.__version__}\n")
    print_table()


if __name__ == "__main__":
    main()
