"""Building and dropping workbooks and running readable searches in a loop
does not make the process grow: reference leaks in the glue (a Cell, a str or
a record kept one reference too many) would show here as steady growth."""

import gc
import os

import quillmoor
from quillmoor import readable


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def one_round(n_rows=5000):
    book = quillmoor.Book()
    sheet = book.add_sheet("Data")
    for r in range(1, n_rows + 1):
        sheet.cell(r, 1, f"item {r}")
        sheet.cell(r, 2, str(r * 1.5))
        sheet.cell(r, 3, "TRUE" if r % 2 else "2024-01-02 03:04:05")
    sheet.add_comment(1, 1, "note", "me")
    sheet.set_height_row(2, 30.0)
    copy = book.copy_sheet(sheet)
    copy.delete_rows(1, 10)
    assert len(sheet.find_cells_by_regex(r"^item 1\d$")) == 10
    assert len(book.to_dict()["sheets"]) == 2
    dicts = [{"row": c.row, "column": c.column, "value": c.value, "formula": None,
              "data_type": c.data_type, "style_id": None} for c in sheet.cells]
    hits = readable.find_cells_by_regex(r"^item", dicts)
    assert len(readable.find_cells_range_rows(1, 100, hits)) == 100
    assert readable.find_values_by_col_rows(2, [1, 2], dicts) == ["1.5", "3"]
    finder = readable.Finder([{"name": "D", "sheet_state": "visible", "merge_cells": [[1, 1, 1, 2]],
                               "cells": dicts}])
    assert finder.find_sheet_by_name("D").find_cell_by_str("item 7").row == 7
    try:  # error paths must not leak either
        readable.find_cells_by_regex("(", dicts)
    except RuntimeError:
        pass
    try:
        readable.Finder([{"name": "x", "sheet_state": "visible", "merge_cells": None,
                          "cells": dicts + [{"row": 1}]}])
    except KeyError:
        pass


def test_process_does_not_grow():
    for _ in range(3):  # warm up: allocator arenas, caches, first imports
        one_round()
    gc.collect()
    before = rss()
    for _ in range(12):
        one_round()
    gc.collect()
    grown = rss() - before
    # One round allocates ~10 MB and frees it all; a leak of even one small
    # object per cell would add > 10 MB over twelve rounds.
    assert grown < 8 * 1024 * 1024, f"grew by {grown / 1e6:.1f} MB over 12 rounds"
