"""Workbook side by side with openpyxl: filling cells from a Python loop,
memory per cell and the JSON export. Prints medians of 5 runs and ratios.

    PYTHONPATH=build-dev/stage .venv/bin/python bench/workbook_bench.py [rows]

The workbook: `rows` rows (100,000 by default) x 10 columns; even columns
hold short texts, odd columns numbers (passed as text to us, as floats to
openpyxl). Timings on a shared machine are noisy: read the medians.
"""

import gc
import json
import statistics
import subprocess
import sys
import time
import tracemalloc

from quillmoor import _quillmoor as qm

ROWS = int(sys.argv[1]) if len(sys.argv) > 1 and sys.argv[1].isdigit() else 100_000
COLS = 10
RUNS = 5


def values(as_float):
    out = []
    for r in range(1, ROWS + 1):
        row = []
        for c in range(1, COLS + 1):
            if c % 2:
                n = (r * 31 + c) % 100000 / 8
                row.append(n if as_float else repr(n))
            else:
                row.append(f"t{(r + c) % 997}")
        out.append(row)
    return out


def fill_ours(vals):
    book = qm.Book()
    sheet = book.add_sheet("Data")
    cell = sheet.cell
    for r, row in enumerate(vals, 1):
        for c, v in enumerate(row, 1):
            cell(r, c, v)
    return book


def fill_openpyxl(vals):
    import openpyxl
    wb = openpyxl.Workbook()
    ws = wb.active
    cell = ws.cell
    for r, row in enumerate(vals, 1):
        for c, v in enumerate(row, 1):
            cell(r, c, v)
    return wb


def dicts_json(vals):
    """The same document built as Python dicts, then json.dumps."""
    cells = []
    for r, row in enumerate(vals, 1):
        for c, v in enumerate(row, 1):
            cells.append({"row": r, "column": c, "value": v,
                          "data_type": "n" if c % 2 else "s"})
    doc = {"sheets": [{"name": "Data", "sheet_state": "visible", "merge_cells": [],
                       "cells": cells, "row_dimensions": {"default_height": 20.0},
                       "column_dimensions": {"default_width": 22.5}, "comments": []}]}
    return json.dumps(doc, separators=(",", ":"))


def timed(f, *args):
    gc.collect()
    gc.disable()
    try:
        t = time.perf_counter()
        result = f(*args)
        return time.perf_counter() - t, result
    finally:
        gc.enable()


def median_time(f, *args):
    times = []
    for _ in range(RUNS):
        t, result = timed(f, *args)
        times.append(t)
        del result
    return statistics.median(times)


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def memory_child(which):
    """Run in a fresh process: resident growth (and tracemalloc for openpyxl)."""
    vals = values(as_float=(which == "openpyxl"))
    gc.collect()
    if which == "openpyxl":
        import openpyxl  # noqa: F401  (import cost outside the measurement)
        tracemalloc.start()
        base_rss = rss()
        keep = fill_openpyxl(vals)
        gc.collect()
        traced = tracemalloc.get_traced_memory()[0]
        grown = rss() - base_rss
        tracemalloc.stop()
        print(json.dumps({"rss": grown, "traced": traced}))
    else:
        base_rss = rss()
        keep = fill_ours(vals)
        gc.collect()
        print(json.dumps({"rss": rss() - base_rss}))
    del keep


def child(which):
    out = subprocess.run([sys.executable, __file__, str(ROWS), "--memory", which],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    n = ROWS * COLS
    print(f"{ROWS} rows x {COLS} columns = {n} cells; median of {RUNS} runs")
    texts, floats = values(False), values(True)

    ours = median_time(fill_ours, texts)
    peer = median_time(fill_openpyxl, floats)
    print(f"fill  quillmoor {ours:7.3f} s ({ours / n * 1e9:6.0f} ns/cell)   "
          f"openpyxl {peer:7.3f} s   ratio {peer / ours:5.1f}x (budget >= 15x)")

    m_ours = child("ours")
    m_peer = child("openpyxl")
    print(f"memory  quillmoor {m_ours['rss'] / n:6.1f} B/cell resident (budget <= 80)   "
          f"openpyxl {m_peer['rss'] / n:6.1f} B/cell resident, "
          f"{m_peer['traced'] / n:6.1f} B/cell traced")

    book = fill_ours(texts)
    text = book.to_json()
    size = len(text.encode())
    t_json = median_time(book.to_json)
    t_dicts = median_time(dicts_json, texts)
    print(f"to_json  {size / 1e6:6.1f} MB in {t_json:6.3f} s = {size / t_json / 1e6:6.0f} MB/s "
          f"(budget >= 400)   dicts+json.dumps {t_dicts:6.3f} s   ratio {t_dicts / t_json:5.1f}x "
          f"(budget >= 20x)")


if __name__ == "__main__":
    if "--memory" in sys.argv:
        memory_child(sys.argv[sys.argv.index("--memory") + 1])
    else:
        main()
