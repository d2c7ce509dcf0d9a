"""ReadableCell and ReadableSheet: type shape, properties, reprs and every
ReadableSheet search, including its argument errors and the interpreter lock
being released while it searches."""
import threading
import time
import weakref

import pytest

from quillmoor import readable


def fcell(row, column, value="x", data_type="s", formula=None, style_id=None):
    return {"row": row, "column": column, "value": value, "formula": formula,
            "data_type": data_type, "style_id": style_id}


def make_sheet(cells, name="Data", merge_cells=None):
    return readable.Finder([{"name": name, "sheet_state": "hidden", "merge_cells": merge_cells,
                             "cells": cells}]).sheets[0]


@pytest.fixture
def sheet():
    # B2, A1, A2 in that order, plus markers in column C
    return make_sheet([
        fcell(2, 2, "b2"), fcell(1, 1, "Total", style_id="bold"), fcell(2, 1, 7.0, "n"),
        fcell(3, 3, "Begin"), fcell(4, 1, "in"), fcell(5, 3, "End"), fcell(8, 3, "Begin"),
        fcell(9, 3, "End"), fcell(11, 2, "Totals"),
    ])


# ---- type shape ----------------------------------------------------------------------------

@pytest.mark.parametrize("cls", [readable.ReadableCell, readable.ReadableSheet])
def test_not_constructible_with_an_empty_docstring(cls):
    with pytest.raises(TypeError):
        cls()
    assert cls.__doc__ in ("", None)
    assert cls.__module__ == "quillmoor.readable"
    assert cls.__qualname__ == cls.__name__


@pytest.mark.parametrize("cls", [readable.ReadableCell, readable.ReadableSheet, readable.Finder])
def test_not_subclassable(cls):
    with pytest.raises(TypeError):
        type("X", (cls,), {})


def test_instances_have_no_dict_and_no_weakrefs(sheet):
    cell = sheet.cells[0]
    finder = readable.Finder([])
    for obj in (cell, sheet, finder):
        with pytest.raises(AttributeError):
            obj.anything = 1
        with pytest.raises(TypeError):
            weakref.ref(obj)


# ---- ReadableCell ----------------------------------------------------------------------------

def test_cell_properties_and_repr(sheet):
    a1 = sheet.find_cell_by_coords(1, 1)
    assert (a1.row, a1.column, a1.letter, a1.value, a1.formula, a1.style, a1.data_type) == (
        1, 1, "A1", "Total", None, "bold", "s")
    assert repr(a1) == "ReadableCell, Coords: Coordinate { row: 1, column: 1 }"
    a2 = sheet.find_cell_by_coords(2, 1)
    assert (a2.value, a2.is_value_integer, a2.is_value_numeric, a2.data_type) == ("7", True, False, "n")
    assert not hasattr(a2, "hidden_value")


@pytest.mark.parametrize("name", ["row", "column", "letter", "value", "formula", "style",
                                  "data_type", "is_formula", "is_value_empty"])
def test_cell_properties_are_read_only(sheet, name):
    cell = sheet.cells[0]
    with pytest.raises(AttributeError):
        setattr(cell, name, "1")
    with pytest.raises(AttributeError):
        delattr(cell, name)


def test_cell_without_a_readable_column_has_a_row_only_letter():
    (cell,) = readable.find_cells_by_str("x", [fcell(3, "C", "x")])
    assert (cell.column, cell.letter) == (0, "3")


def test_cells_outlive_their_sheet_and_finder():
    cell = make_sheet([fcell(5, 2, "kept")]).cells[0]
    assert (cell.value, cell.letter) == ("kept", "B5")


# ---- ReadableSheet properties ------------------------------------------------------------------

def test_sheet_properties(sheet):
    assert (sheet.name, sheet.sheet_state, sheet.max_row, sheet.max_column) == ("Data", "hidden", 11, 3)
    assert [c.letter for c in sheet.cells][:3] == ["A1", "A2", "B2"]
    assert repr(sheet) == "ReadableSheet (Data) cells: 9"
    empty = make_sheet([], merge_cells=[[1, 2, 3, 4]])
    assert (empty.max_row, empty.max_column, empty.cells, empty.merge_cells) == (0, 0, [], [(1, 2, 3, 4)])
    with pytest.raises(AttributeError):
        sheet.name = "x"


SIGNATURES = {
    "get_value_cell": "($self, row, col)",
    "get_cells_by_range": "($self, start_row=None, end_row=None, start_col=None, end_col=None)",
    "find_cell_by_regex": "($self, regex)",
    "find_cell_by_str": "($self, value)",
    "find_cell_by_coords": "($self, row, col)",
    "find_cell_by_letter": "($self, letter)",
    "find_cells_by_regex": "($self, regex)",
    "find_cells_by_str": "($self, value)",
    "find_cells_for_rows_by_regex": "($self, regex, col_stop)",
    "find_cells_for_cols_by_regex": "($self, regex, row_stop)",
    "find_cells_multi_regex": "($self, before_regex, after_regex)",
    "find_cells_between_regex": "($self, before_regex, after_regex)",
    "find_cells_range_rows": "($self, start_row, end_row)",
    "find_cells_range_cols": "($self, start_col, end_col)",
    "find_values_by_col_rows": "($self, col, rows)",
    "find_values_by_row_cols": "($self, row, cols)",
    "find_value_by_coords": "($self, row, col)",
}


@pytest.mark.parametrize("name, sig", SIGNATURES.items())
def test_method_text_signatures(name, sig):
    assert getattr(readable.ReadableSheet, name).__text_signature__ == sig


# ---- ReadableSheet searches ----------------------------------------------------------------

def letters(cells):
    return [c.letter for c in cells]


@pytest.mark.parametrize("call, expected", [
    (lambda s: s.get_value_cell(2, 1), "7"),
    (lambda s: s.get_value_cell(9, 9), ""),
    (lambda s: s.find_value_by_coords(9, 9), None),
    (lambda s: s.find_value_by_coords(row=2, col=1), "7"),
    (lambda s: s.find_cell_by_coords(9, 9), None),
    (lambda s: s.find_cell_by_coords(2, 2).value, "b2"),
    (lambda s: s.find_cell_by_regex("^TOTAL$").letter, "A1"),
    (lambda s: s.find_cell_by_regex("nothing"), None),
    (lambda s: s.find_cell_by_str(" b2\t").letter, "B2"),
    (lambda s: s.find_cell_by_letter("$b$2").value, "b2"),
    (lambda s: letters(s.find_cells_by_regex("tot")), ["A1", "B11"]),
    (lambda s: letters(s.find_cells_by_str("Total")), ["A1"]),
    (lambda s: letters(s.get_cells_by_range()), ["A1", "A2", "B2", "C3", "A4", "C5", "C8", "C9", "B11"]),
    (lambda s: letters(s.get_cells_by_range(None, None, 2, 2)), ["B2", "B11"]),
    (lambda s: letters(s.get_cells_by_range(start_row=4, end_row=8)), ["A4", "C5", "C8"]),
    (lambda s: letters(s.find_cells_range_rows(2, 2)), ["A2", "B2"]),
    (lambda s: letters(s.find_cells_range_rows(5, 3)), []),
    (lambda s: letters(s.find_cells_range_cols(3, 3)), ["C3", "C5", "C8", "C9"]),
    (lambda s: letters(s.find_cells_for_cols_by_regex("tot", 10)), ["A1"]),
    (lambda s: letters(s.find_cells_for_rows_by_regex("b", 2)), ["B2"]),
    (lambda s: letters(s.find_cells_multi_regex("begin", "end")), ["C3", "C5", "C8", "C9"]),
    (lambda s: letters(s.find_cells_between_regex("begin", "end")), ["C3", "A4", "C5"]),
    (lambda s: s.find_values_by_col_rows(1, [2, 1, 2]), None),  # order: storage; checked below
    (lambda s: s.find_values_by_row_cols(2, (2,)), ["b2"]),
])
def test_sheet_searches(sheet, call, expected):
    got = call(sheet)
    if expected is None and isinstance(got, list):
        assert sorted(got) == ["7", "Total"]
    else:
        assert got == expected


@pytest.mark.parametrize("call, exc, message", [
    (lambda s: s.find_values_by_col_rows(1, "12"), TypeError, "argument 'rows': "),
    (lambda s: s.find_values_by_col_rows(1, {1, 2}), TypeError,
     "argument 'rows': 'set' object cannot be cast as 'Sequence'"),
    (lambda s: s.find_values_by_row_cols(1, [1, "2"]), TypeError, "argument 'cols': "),
    (lambda s: s.find_cells_range_cols(1, 70000), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda s: s.find_cells_range_rows(-1, 2), OverflowError, ""),
    (lambda s: s.find_cells_by_regex("("), RuntimeError, "missing closing parenthesis"),
    (lambda s: s.find_cells_between_regex("(", "["), RuntimeError, "missing closing parenthesis"),
    (lambda s: s.find_cell_by_letter("B"), ValueError, "B"),
    (lambda s: s.find_cell_by_str(5), TypeError, "argument 'value': 'int' object cannot be cast as 'str'"),
    (lambda s: s.find_cell_by_str(), TypeError,
     "ReadableSheet.find_cell_by_str() missing 1 required positional argument: 'value'"),
    (lambda s: s.get_cells_by_range(colour=1), TypeError,
     "ReadableSheet.get_cells_by_range() got an unexpected keyword argument 'colour'"),
    (lambda s: s.get_cells_by_range(1.5), TypeError, "argument 'start_row': "),
    (lambda s: readable.ReadableSheet.find_cell_by_str(object(), "x"), TypeError, "ReadableSheet"),
])
def test_sheet_argument_and_search_errors(sheet, call, exc, message):
    with pytest.raises(exc) as e:
        call(sheet)
    assert str(e.value).startswith(message) or message in str(e.value)


# ---- the interpreter lock ----------------------------------------------------------------------

def slow_search_setup():
    """A sheet whose pattern search takes a while: every cell forces heavy
    backtracking before failing."""
    text = "a" * 22 + "!"
    return make_sheet([fcell(r, 1, text) for r in range(1, 801)]), r"^(a|aa)+$"


def progress_during(call):
    """Runs call() while another thread counts; returns the counts the other
    thread made strictly inside the call's middle, away from its edges."""
    stamps = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            stamps.append(time.perf_counter())

    t = threading.Thread(target=count)
    t.start()
    time.sleep(0.05)
    start = time.perf_counter()
    result = call()
    end = time.perf_counter()
    stop.set()
    t.join()
    margin = (end - start) / 4
    inside = [s for s in stamps if start + margin < s < end - margin]
    return result, inside, end - start


def test_another_thread_runs_during_a_sheet_search():
    sheet, pattern = slow_search_setup()
    result, inside, took = progress_during(lambda: sheet.find_cells_by_regex(pattern))
    assert result == []
    assert took > 0.02, "search too short to tell"
    assert len(inside) > 100
