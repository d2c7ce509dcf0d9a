"""A child forked after the parent searched on the worker pool still searches
correctly (worker threads do not survive fork) and never hangs."""

import os
import signal
import sys

import pytest

import quillmoor
from quillmoor import readable

pytestmark = pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")


def big_sheet():
    sheet = quillmoor.Book().add_sheet("big")
    for r in range(1, 20001):
        sheet.cell(r, 1, f"row {r}")
        sheet.cell(r, 2, str(r))
    return sheet


def searches(sheet):
    hits = sheet.find_cells_by_regex(r"^row 1\d{3}$")
    first = sheet.find_cell_by_str("row 19999")
    cells = [{"row": r, "column": 1, "value": f"v{r}", "formula": None, "data_type": "s",
              "style_id": None} for r in range(1, 5001)]
    found = readable.find_cells_by_regex(r"^v4\d\d$", cells)
    return len(hits), first.row, len(found)


def test_search_in_forked_child_after_parent_used_the_pool():
    sheet = big_sheet()
    expected = searches(sheet)  # the parent's pool is running now
    assert expected == (1000, 19999, 100)
    pid = os.fork()
    if pid == 0:  # child: report through the exit status, never return into pytest
        try:
            signal.alarm(60)
            code = 0 if searches(sheet) == expected else 1
        except BaseException:
            code = 2
        os._exit(code)
    _, status = os.waitpid(pid, 0)
    assert os.WIFEXITED(status), "the child was killed (hung or crashed)"
    assert os.WEXITSTATUS(status) == 0
    assert searches(sheet) == expected  # and the parent still searches in parallel
