"""Sheet: cells and editing, layout (dimensions, merged ranges, comments),
the Comment class and the search methods."""

import inspect

import pytest

from quillmoor import _quillmoor as qm
from conftest import raises_exactly

RANGE = "out of range integral type conversion attempted"


def coords(cells):
    return [(c.row, c.column) for c in cells]


def fill(sheet, values):
    """values: {(row, col): text}"""
    for (r, c), v in values.items():
        sheet.cell(r, c, v)


def test_new_sheet(sheet):
    assert (sheet.name, sheet.sheet_state, sheet.max_row, sheet.max_column) == (
        "Data", "visible", 0, 0)
    assert sheet.cells == [] and sheet.merge_cells == [] and sheet.comments == []
    assert sheet.get_value_cell(1, 1) == ""
    assert sheet.find_value_by_coords(1, 1) is None
    assert repr(sheet) == "Sheet (Data) cells: 0"
    assert (sheet.get_height_by_row(1), sheet.get_width_by_column(1)) == (20.0, 22.5)
    assert (sheet.get_hidden_by_row(1), sheet.get_hidden_by_column(1)) == (False, False)


def test_name_and_state(book, sheet):
    other = book.add_sheet("Other")
    sheet.name = "Other"  # a name already used is accepted
    assert sheet.name == "Other" and book.sheets[0].name == "Other"
    assert sheet.set_sheet_state("no such state") is None
    assert sheet.sheet_state == "no such state"
    sheet.set_sheet_state(state="hidden")
    assert sheet.sheet_state == "hidden" and other.sheet_state == "visible"
    assert repr(sheet) == "Sheet (Other) cells: 0"


def test_name_errors(book, sheet):
    before = book.to_json()
    with raises_exactly(TypeError, "argument 'value': 'int' object cannot be cast as 'str'"):
        sheet.name = 1
    with raises_exactly(AttributeError, "can't delete attribute"):
        del sheet.name
    with raises_exactly(TypeError, "argument 'state': 'NoneType' object cannot be cast as 'str'"):
        sheet.set_sheet_state(None)
    for ro in ("sheet_state", "max_row", "max_column", "cells", "merge_cells", "comments"):
        with pytest.raises(AttributeError):
            setattr(sheet, ro, [])
    assert book.to_json() == before


# ---- cell() ------------------------------------------------------------------------------

def test_cell_get_or_create(sheet):
    a = sheet.cell(2, 3)
    b = sheet.cell(row=2, col=3)
    assert a is not b and len(sheet.cells) == 1
    a.value = "v"
    assert b.value == "v" and sheet.get_value_cell(2, 3) == "v"
    assert sheet.cell(2, 3, value=None).value == "v"  # None is "no value"


def test_cell_without_value_resets_data_type(sheet):
    c = sheet.cell(1, 1, "5")
    again = sheet.cell(1, 1)
    assert (again.value, again.is_value_integer, again.data_type) == ("5", True, "s")
    assert c.data_type == "s"


def test_cell_keeps_formula_cell(sheet):
    c = sheet.cell(1, 1, "5")
    c.formula = "=1+1"
    sheet.cell(1, 1)
    assert (c.data_type, c.formula, c.value) == ("f", "=1+1", "5")
    sheet.cell(1, 1, "x")
    assert (c.data_type, c.formula, c.is_formula, c.value) == ("s", None, False, "x")


def test_cell_data_type_kept_when_formula_without_f(sheet):
    # A formula whose data type was since reset is not a formula cell.
    c = sheet.cell(1, 1)
    c.formula = "=A2"
    c.value = "3"
    assert not c.is_formula and c.formula is None


def test_cell_value_keeps_style(sheet):
    c = sheet.cell(1, 1)
    c.style = "b"
    c.hidden_value = "h"
    sheet.cell(1, 1, "TRUE")
    assert (c.style, c.hidden_value, c.data_type, c.value) == ("b", "h", "b", "true")


@pytest.mark.parametrize("args, exc, message", [
    ((1, 65536), OverflowError, RANGE),
    ((1, -1), OverflowError, RANGE),
    ((4294967296, 1), OverflowError, RANGE),
    ((-1, 1), OverflowError, "can't convert negative int to unsigned"),
    ((2**64, 1), OverflowError, None),
    ((1, 1, 5), TypeError, "argument 'value': 'int' object cannot be cast as 'str'"),
    ((1, 1, b"x"), TypeError, "argument 'value': 'bytes' object cannot be cast as 'str'"),
    (("1", 1), TypeError, "argument 'row': 'str' object cannot be interpreted as an integer"),
    ((1, 1.0), TypeError, "argument 'col': 'float' object cannot be interpreted as an integer"),
])
def test_cell_errors_change_nothing(book, sheet, args, exc, message):
    sheet.cell(1, 1, "keep")
    before = book.to_json()
    with pytest.raises(exc) as e:
        sheet.cell(*args)
    assert type(e.value) is exc
    if message is not None:
        assert str(e.value) == message
    assert book.to_json() == before


def test_cell_limits(sheet):
    sheet.cell(0, 0, "a")
    sheet.cell(4294967295, 65535, "z")
    assert (sheet.max_row, sheet.max_column) == (4294967295, 65535)
    assert coords(sheet.cells) == [(0, 0), (4294967295, 65535)]


def test_cells_order_and_max(sheet):
    for r, c in [(3, 1), (1, 2), (1, 1), (2, 70), (10, 5)]:
        sheet.cell(r, c)
    assert coords(sheet.cells) == [(1, 1), (1, 2), (2, 70), (3, 1), (10, 5)]
    assert (sheet.max_row, sheet.max_column) == (10, 70)
    assert repr(sheet) == "Sheet (Data) cells: 5"
    assert sheet.cells[0] is not sheet.cells[0]


def test_get_value_and_find_value(sheet):
    sheet.cell(1, 1, "-12")
    sheet.cell(1, 2)
    sheet.cell(1, 3).set_value_number(5.0)
    assert [sheet.get_value_cell(1, c) for c in (1, 2, 3, 4)] == ["-12", "", "5", ""]
    assert [sheet.find_value_by_coords(1, c) for c in (1, 2, 3, 4)] == ["-12", "", "5", None]
    assert sheet.find_value_by_coords(col=1, row=1) == "-12"


# ---- delete_rows / delete_cols -------------------------------------------------------------

def test_delete_rows(sheet):
    cells = {r: sheet.cell(r, 1, f"r{r}") for r in (1, 2, 3)}
    sheet.set_height_row(3, 33.0)
    sheet.add_comment(3, 1, "note", "me")
    sheet.add_merge_cells(3, 3, 1, 2)
    assert sheet.delete_rows(2, 1) is None
    assert [(c.row, c.column, c.value) for c in sheet.cells] == [(1, 1, "r1"), (2, 1, "r3")]
    assert (cells[3].row, cells[3].letter) == (2, "A2")
    assert (cells[1].row, cells[1].letter) == (1, "A1")
    # Detached: keeps its old value and coordinate, still writable, no longer in the sheet.
    assert (cells[2].row, cells[2].value) == (2, "r2")
    cells[2].value = "changed"
    assert sheet.get_value_cell(2, 1) == "r3"
    # Layout keeps its numbers.
    assert sheet.get_height_by_row(3) == 33.0 and sheet.get_height_by_row(2) == 20.0
    assert sheet.comments[0].row == 3 and sheet.merge_cells == [(3, 3, 1, 2)]
    assert sheet.max_row == 2


def test_delete_cols(sheet):
    held = [sheet.cell(1, c, f"c{c}") for c in (1, 2, 3, 4)]
    sheet.set_width_column(4, 9.0)
    sheet.delete_cols(1, 2)
    assert [(c.column, c.value) for c in sheet.cells] == [(1, "c3"), (2, "c4")]
    assert [(c.column, c.letter) for c in held] == [(1, "A1"), (2, "B1"), (1, "A1"), (2, "B1")]
    assert sheet.get_width_by_column(4) == 9.0 and sheet.max_column == 2


@pytest.mark.parametrize("op", ["delete_rows", "delete_cols"])
@pytest.mark.parametrize("idx", [0, 1, 5, 65535])
def test_delete_amount_zero_changes_nothing(book, sheet, op, idx):
    fill(sheet, {(0, 0): "a", (1, 1): "b", (5, 5): "c", (65535, 65535): "d"})
    before = book.to_json()
    getattr(sheet, op)(idx, 0)
    assert book.to_json() == before


@pytest.mark.parametrize("op, idx, amount, expect", [
    # a range past the last row/column removes everything from idx on, never wraps
    ("delete_rows", 2, 4294967295, [(1, 1), (1, 65535)]),
    ("delete_rows", 4294967295, 4294967295, [(1, 1), (1, 65535), (2, 2), (4294967294, 1)]),
    ("delete_rows", 0, 4294967295, [(0, 1)]),
    ("delete_rows", 0, 1, [(0, 1), (0, 65535), (1, 2), (4294967293, 1), (4294967294, 1)]),
    ("delete_cols", 2, 65535, [(1, 1), (4294967294, 1), (4294967295, 1)]),
    ("delete_cols", 65535, 65535, [(1, 1), (2, 2), (4294967294, 1), (4294967295, 1)]),
    ("delete_cols", 0, 65535, [(1, 0)]),
    ("delete_cols", 1, 1, [(1, 65534), (2, 1)]),
])
def test_delete_edges(sheet, op, idx, amount, expect):
    for rc in [(1, 1), (1, 65535), (2, 2), (4294967294, 1), (4294967295, 1)]:
        sheet.cell(*rc, f"{rc}")
    getattr(sheet, op)(idx, amount)
    got = sheet.cells
    assert coords(got) == expect
    # No cell moved onto another's key, and each kept its own value.
    for c in got:
        assert c.value.startswith("(")


def test_delete_errors_change_nothing(book, sheet):
    fill(sheet, {(1, 1): "a", (2, 2): "b"})
    before = book.to_json()
    for call, exc, msg in [
        (lambda: sheet.delete_rows(-1, 1), OverflowError, "can't convert negative int to unsigned"),
        (lambda: sheet.delete_rows(1, 4294967296), OverflowError, RANGE),
        (lambda: sheet.delete_cols(1, 65536), OverflowError, RANGE),
        (lambda: sheet.delete_cols(-1, 1), OverflowError, RANGE),
        (lambda: sheet.delete_cols(1), TypeError,
         "Sheet.delete_cols() missing 1 required positional argument: 'amount'"),
        (lambda: sheet.delete_rows(idx=1, count=1), TypeError,
         "Sheet.delete_rows() got an unexpected keyword argument 'count'"),
    ]:
        with raises_exactly(exc, msg):
            call()
    assert book.to_json() == before


# ---- get_cells_by_range ---------------------------------------------------------------

def test_get_cells_by_range(sheet):
    fill(sheet, {(r, c): "x" for r in range(1, 5) for c in range(1, 5)})
    fill(sheet, {(0, 5): "z", (1048577, 1): "far", (1, 16385): "wide", (1048576, 16384): "edge"})
    assert coords(sheet.get_cells_by_range(2, 3, 2, 2)) == [(2, 2), (3, 2)]
    everything = coords(sheet.get_cells_by_range())
    assert (0, 5) not in everything and (1048577, 1) not in everything
    assert (1, 16385) not in everything and everything[-1] == (1048576, 16384)
    assert len(everything) == 17
    assert coords(sheet.get_cells_by_range(None, None, 3, 3)) == [(r, 3) for r in range(1, 5)]
    assert coords(sheet.get_cells_by_range(end_row=2000000, start_col=1, end_col=1))[-1] == (
        1048577, 1)
    assert coords(sheet.get_cells_by_range(0, 0, 0, 10)) == [(0, 5)]
    assert sheet.get_cells_by_range(3, 2) == []
    assert str(inspect.signature(sheet.get_cells_by_range)) == (
        "(start_row=None, end_row=None, start_col=None, end_col=None)")
    with raises_exactly(TypeError, "argument 'end_col': 'str' object cannot be interpreted as an integer"):
        sheet.get_cells_by_range(end_col="1")


# ---- dimensions ---------------------------------------------------------------------------

def test_dimensions(book, sheet):
    sheet.set_hidden_row(4, True)
    assert (sheet.get_height_by_row(4), sheet.get_hidden_by_row(4)) == (20.0, True)
    assert book.to_dict()["sheets"][0]["row_dimensions"]["rows"]["4"] == {
        "row_num": 4, "height": 20.0, "hidden": True, "collapsed": False, "level": 0}
    sheet.set_height_row(5, 30)
    sheet.set_hidden_row(5, True)
    assert sheet.get_height_by_row(row_num=5) == 30.0
    sheet.set_hidden_row(5, False)
    assert (sheet.get_height_by_row(5), sheet.get_hidden_by_row(5)) == (30.0, False)
    sheet.set_width_column(2, 9.5)
    sheet.set_hidden_column(col_num=2, val=True)
    sheet.set_width_column(3, float("nan"))
    sheet.set_width_column(4, -1)
    assert (sheet.get_width_by_column(2), sheet.get_hidden_by_column(2)) == (9.5, True)
    assert sheet.get_width_by_column(4) == -1.0
    assert sheet.get_width_by_column(3) != sheet.get_width_by_column(3)  # NaN kept
    assert (sheet.get_hidden_by_column(3), sheet.get_width_by_column(5)) == (False, 22.5)
    sheet.set_hidden_column(65535, True)
    sheet.set_height_row(4294967295, 1.0)
    assert sheet.get_hidden_by_column(65535) and sheet.get_height_by_row(4294967295) == 1.0


@pytest.mark.parametrize("call, exc, message", [
    (lambda s: s.set_height_row(4, "30"), TypeError, "argument 'val': must be real number, not str"),
    (lambda s: s.set_width_column(4, None), TypeError,
     "argument 'val': must be real number, not NoneType"),
    (lambda s: s.set_hidden_row(4, 1), TypeError,
     "argument 'val': 'int' object cannot be cast as 'bool'"),
    (lambda s: s.set_hidden_column(4, "yes"), TypeError,
     "argument 'val': 'str' object cannot be cast as 'bool'"),
    (lambda s: s.set_width_column(65536, 10.0), OverflowError, RANGE),
    (lambda s: s.set_height_row(-1, 10.0), OverflowError, "can't convert negative int to unsigned"),
    (lambda s: s.get_height_by_row(4294967296), OverflowError, RANGE),
    (lambda s: s.get_hidden_by_column(-1), OverflowError, RANGE),
    (lambda s: s.set_height_row(1, 10**400), OverflowError, "int too large to convert to float"),
])
def test_dimension_errors_change_nothing(book, sheet, call, exc, message):
    sheet.set_height_row(4, 12.0)
    before = book.to_json()
    with raises_exactly(exc, message):
        call(sheet)
    assert book.to_json() == before


# ---- merged ranges and comments ------------------------------------------------------------

def test_merge_cells(book, sheet):
    assert sheet.add_merge_cells(3, 1, 5, 2) is None
    sheet.add_merge_cells(3, 1, 5, 2)
    sheet.add_merge_cells(start_row=0, end_row=4294967295, start_col=0, end_col=65535)
    assert sheet.merge_cells == [(3, 1, 5, 2), (3, 1, 5, 2), (0, 4294967295, 0, 65535)]
    with raises_exactly(OverflowError, RANGE):
        sheet.add_merge_cells(1, 1, 1, 65536)
    assert len(sheet.merge_cells) == 3
    listed = sheet.merge_cells
    listed.clear()  # a new list each time
    assert len(sheet.merge_cells) == 3


def test_comments(book, sheet):
    assert sheet.add_comment(1, 1, "first", "ann") is None
    sheet.add_comment(row=1, col=1, text="second", author="bob")
    first, second = sheet.comments
    assert (first.text, first.author, first.coordinate, first.row, first.column) == (
        "first", "ann", (1, 1), 1, 1)
    assert second.text == "second"
    first.text = "edited"
    first.author = "carl"
    assert (sheet.comments[0].text, sheet.comments[0].author) == ("edited", "carl")
    assert book.to_dict()["sheets"][0]["comments"][0] == {
        "row": 1, "column": 1, "author": "carl", "text": "edited"}
    assert sheet.comments[0] is not sheet.comments[0]


def test_comment_errors_change_nothing(book, sheet):
    sheet.add_comment(5, 2, "t", "a")
    c = sheet.comments[0]
    before = book.to_json()
    for action, exc, message in [
        (lambda: setattr(c, "text", 1), TypeError, "argument 'val': 'int' object cannot be cast as 'str'"),
        (lambda: setattr(c, "author", None), TypeError,
         "argument 'val': 'NoneType' object cannot be cast as 'str'"),
        (lambda: delattr(c, "text"), AttributeError, "can't delete attribute"),
        (lambda: delattr(c, "author"), AttributeError, "can't delete attribute"),
        (lambda: sheet.add_comment(1, 1, "t", 5), TypeError,
         "argument 'author': 'int' object cannot be cast as 'str'"),
        (lambda: sheet.add_comment(1, 65536, "t", "a"), OverflowError, RANGE),
    ]:
        with raises_exactly(exc, message):
            action()
    for ro in ("coordinate", "row", "column"):
        with pytest.raises(AttributeError):
            setattr(c, ro, 1)
    assert book.to_json() == before
    assert repr(c).startswith("<quillmoor.Comment object at ")


def test_layout_survives_delete(sheet):
    sheet.set_height_row(5, 40.0)
    sheet.add_comment(5, 1, "t", "a")
    sheet.cell(5, 1, "x")
    sheet.delete_rows(1, 1)
    assert sheet.get_height_by_row(5) == 40.0
    assert sheet.comments[0].row == 5
    assert coords(sheet.cells) == [(4, 1)]


# ---- searches -------------------------------------------------------------------------------

@pytest.fixture
def report(sheet):
    fill(sheet, {
        (1, 1): "Header", (2, 1): "Begin", (2, 2): "Total", (3, 1): "  Total\t",
        (3, 2): "5.0", (4, 1): "Subtotal", (5, 1): "End", (5, 3): "TOTAL", (6, 1): "true",
        (7, 1): "", (8, 1): "Begin", (9, 1): "End", (11, 2): "Totals", (12, 9): "-12",
    })
    return sheet


@pytest.mark.parametrize("method, args, expect", [
    ("find_cells_by_str", ("  Total ",), [(2, 2), (3, 1)]),
    ("find_cells_by_str", ("5",), [(3, 2)]),
    ("find_cells_by_str", ("5.0",), []),
    ("find_cells_by_str", ("",), [(7, 1)]),
    ("find_cells_by_regex", ("^total$",), [(2, 2), (5, 3)]),
    ("find_cells_by_regex", ("tot",), [(2, 2), (3, 1), (4, 1), (5, 3), (11, 2)]),
    ("find_cells_by_regex", ("(?-i)^Tot",), [(2, 2), (11, 2)]),
    ("find_cells_for_rows_by_regex", ("tot", 1), [(3, 1), (4, 1)]),
    ("find_cells_for_rows_by_regex", ("tot", 2), [(2, 2), (3, 1), (4, 1), (11, 2)]),
    ("find_cells_for_cols_by_regex", ("tot", 4), [(2, 2), (3, 1), (4, 1)]),
    ("find_cells_for_cols_by_regex", ("tot", 10), [(2, 2), (3, 1), (4, 1), (5, 3)]),
    ("find_cells_multi_regex", ("Begin", "End"), [(2, 1), (5, 1), (8, 1), (9, 1)]),
    ("find_cells_between_regex", ("Begin", "End"),
     [(2, 1), (2, 2), (3, 1), (3, 2), (4, 1), (5, 1), (5, 3)]),
    ("find_cells_between_regex", ("Header", "nothing"), None),  # every cell from row 1 on
    ("find_cells_between_regex", ("nothing", "End"), []),
    ("find_cells_range_rows", (3, 3), [(3, 1), (3, 2)]),
    ("find_cells_range_rows", (5, 3), []),
    ("find_cells_range_cols", (2, 3), [(2, 2), (3, 2), (5, 3), (11, 2)]),
    ("find_cells_range_cols", (9, 9), [(12, 9)]),
])
def test_list_searches(report, method, args, expect):
    got = coords(getattr(report, method)(*args))
    if expect is None:
        expect = coords(report.cells)
    assert got == expect


@pytest.mark.parametrize("method, args, expect", [
    ("find_cell_by_str", ("Header",), (1, 1)),
    ("find_cell_by_str", (" true ",), (6, 1)),
    ("find_cell_by_str", ("5",), (3, 2)),
    ("find_cell_by_str", ("missing",), None),
    ("find_cell_by_regex", ("^SUB",), (4, 1)),
    ("find_cell_by_regex", ("^-1\\d$",), (12, 9)),
    ("find_cell_by_regex", ("zzz",), None),
    ("find_cell_by_letter", ("$b$2",), (2, 2)),
    ("find_cell_by_letter", ("i12",), (12, 9)),
    ("find_cell_by_letter", ("A1:B2",), (1, 1)),
    ("find_cell_by_letter", ("Z99",), None),
])
def test_first_match_searches(report, method, args, expect):
    got = getattr(report, method)(*args)
    assert (None if got is None else (got.row, got.column)) == expect


def test_search_results_are_live_handles(report):
    c = report.find_cell_by_str("Header")
    c.value = "Renamed"
    assert report.get_value_cell(1, 1) == "Renamed"
    assert report.find_value_by_coords(12, 9) == "-12"


@pytest.mark.parametrize("method, args", [
    ("find_cell_by_regex", ("(",)),
    ("find_cells_by_regex", ("(",)),
    ("find_cells_for_rows_by_regex", ("[a", 3)),
    ("find_cells_for_cols_by_regex", ("*", 3)),
    ("find_cells_multi_regex", ("(", "End")),
    ("find_cells_multi_regex", ("Begin", ")")),
    ("find_cells_between_regex", ("Begin", "(")),
])
def test_invalid_regex(book, report, method, args):
    before = book.to_json()
    with pytest.raises(RuntimeError) as e:
        getattr(report, method)(*args)
    assert type(e.value) is RuntimeError and str(e.value)
    assert book.to_json() == before


def test_invalid_regex_reports_before_pattern_first(report):
    with pytest.raises(RuntimeError) as both:
        report.find_cells_multi_regex("(", "[")
    with pytest.raises(RuntimeError) as before_only:
        report.find_cells_multi_regex("(", "x")
    assert str(both.value) == str(before_only.value)


@pytest.mark.parametrize("letter", ["B", "AB", "12", "$1", "ABCD1", " B7", "", "A4294967296", "7"])
def test_refused_letters(report, letter):
    with pytest.raises(ValueError) as e:
        report.find_cell_by_letter(letter)
    assert letter.strip() in str(e.value) or letter == ""


@pytest.mark.parametrize("method, args", [
    ("find_cell_by_regex", ("x",)), ("find_cell_by_str", ("x",)),
    ("find_cell_by_letter", ("A1",)), ("find_cells_by_regex", ("x",)),
    ("find_cells_by_str", ("",)), ("find_cells_for_rows_by_regex", ("", 5)),
    ("find_cells_for_cols_by_regex", ("", 5)), ("find_cells_multi_regex", ("a", "b")),
    ("find_cells_between_regex", ("", "")), ("find_cells_range_rows", (0, 4294967295)),
    ("find_cells_range_cols", (0, 65535)),
])
def test_searches_on_empty_sheet(sheet, method, args):
    got = getattr(sheet, method)(*args)
    assert got is None or got == []


SEARCH_SIGNATURES = {
    "find_cell_by_regex": "(regex)", "find_cell_by_str": "(value)",
    "find_cell_by_letter": "(letter)", "find_cells_by_regex": "(regex)",
    "find_cells_by_str": "(value)", "find_cells_for_rows_by_regex": "(regex, col_stop)",
    "find_cells_for_cols_by_regex": "(regex, row_stop)",
    "find_cells_multi_regex": "(before_regex, after_regex)",
    "find_cells_between_regex": "(before_regex, after_regex)",
    "find_cells_range_rows": "(start_row, end_row)", "find_cells_range_cols": "(start_col, end_col)",
    "find_value_by_coords": "(row, col)", "cell": "(row, col, value=None)",
    "get_value_cell": "(row, col)", "delete_cols": "(idx, amount)", "delete_rows": "(idx, amount)",
    "set_sheet_state": "(state)", "add_merge_cells": "(start_row, end_row, start_col, end_col)",
    "add_comment": "(row, col, text, author)", "set_height_row": "(row_num, val)",
    "set_hidden_row": "(row_num, val)", "set_width_column": "(col_num, val)",
    "set_hidden_column": "(col_num, val)", "get_height_by_row": "(row_num)",
    "get_hidden_by_row": "(row_num)", "get_width_by_column": "(col_num)",
    "get_hidden_by_column": "(col_num)",
}


@pytest.mark.parametrize("name, sig", SEARCH_SIGNATURES.items())
def test_method_signatures(sheet, name, sig):
    assert str(inspect.signature(getattr(sheet, name))) == sig
    assert getattr(qm.Sheet, name).__text_signature__ == "($self, " + sig[1:]


@pytest.mark.parametrize("call, exc, message", [
    (lambda s: s.find_cells_by_str(None), TypeError,
     "argument 'value': 'NoneType' object cannot be cast as 'str'"),
    (lambda s: s.find_cell_by_letter(1), TypeError,
     "argument 'letter': 'int' object cannot be cast as 'str'"),
    (lambda s: s.find_cells_for_rows_by_regex("x", 65536), OverflowError, RANGE),
    (lambda s: s.find_cells_for_cols_by_regex("x", -1), OverflowError,
     "can't convert negative int to unsigned"),
    (lambda s: s.find_cells_multi_regex("x"), TypeError,
     "Sheet.find_cells_multi_regex() missing 1 required positional argument: 'after_regex'"),
    (lambda s: s.find_cells_range_cols(1, 65536), OverflowError, RANGE),
])
def test_search_argument_errors(report, call, exc, message):
    with raises_exactly(exc, message):
        call(report)
