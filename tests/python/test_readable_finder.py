"""Finder and create_finder: construction, sheet lookups by position, name,
pattern and name lists, and what a failed construction leaves behind."""
import inspect

import pytest

from quillmoor import readable


def fsheet(name, cells=()):
    return {"name": name, "sheet_state": "visible", "merge_cells": None, "cells": list(cells)}


def fcell(row, column, value="x"):
    return {"row": row, "column": column, "value": value, "formula": None, "data_type": "s",
            "style_id": None}


@pytest.fixture(params=["Finder", "create_finder"])
def build(request):
    return getattr(readable, request.param)


def names(sheets):
    return [s.name for s in sheets]


def test_empty_finder(build):
    f = build([])
    assert (f.sheets, f.get_sheet_index(0), repr(f)) == ([], None, "Finder, sheets: 0")
    assert type(f) is readable.Finder


def test_constructor_signature_and_binding_errors():
    assert str(inspect.signature(readable.Finder)) == "(sheets)"
    with pytest.raises(TypeError, match=r"^Finder.__new__\(\) missing 1 required positional argument: 'sheets'$"):
        readable.Finder()
    with pytest.raises(TypeError, match=r"^Finder.__new__\(\) got an unexpected keyword argument 'x'$"):
        readable.Finder([], x=1)
    assert repr(readable.Finder(sheets=[fsheet("a")])) == "Finder, sheets: 1"


def test_sheets_must_be_a_list(build):
    with pytest.raises(TypeError) as e:
        build((fsheet("a"),))
    assert str(e.value) == "argument 'sheets': 'tuple' object cannot be cast as 'list'"


@pytest.mark.parametrize("call, expected", [
    (lambda f: f.find_sheet_by_name("alpha"), 2),
    (lambda f: f.find_sheet_by_name("ALPHA"), None),
    (lambda f: f.find_sheet_by_regex("^a"), 2),
    (lambda f: f.find_sheet_by_regex("(?i)^a"), 0),
    (lambda f: f.find_sheet_by_regex("ta"), 1),
    (lambda f: f.find_sheet_by_regex("^$"), None),
    (lambda f: f.get_sheet_index(2), 2),
    (lambda f: f.get_sheet_index(3), None),
    (lambda f: f.get_sheet_index(-1), None),
    (lambda f: f.get_sheets_with_names(["alpha", "Beta", "Beta", "Gamma"]), [1, 2]),
    (lambda f: f.get_sheets_with_names(("Beta",)), [1]),
    (lambda f: f.get_sheets_with_names([]), []),
    (lambda f: f.get_sheets_without_names(["Beta"]), [0, 2]),
    (lambda f: f.get_sheets_without_names([]), [0, 1, 2]),
])
def test_sheet_lookups(build, call, expected):
    f = build([fsheet("Alpha"), fsheet("Beta"), fsheet("alpha")])
    all_names = ["Alpha", "Beta", "alpha"]
    got = call(f)
    if isinstance(expected, list):
        assert names(got) == [all_names[i] for i in expected]
    elif expected is None:
        assert got is None
    else:
        assert got.name == all_names[expected]


def test_duplicate_names():
    f = readable.Finder([fsheet("Data", [fcell(1, 1)]), fsheet("Data", [fcell(2, 2)])])
    assert f.find_sheet_by_name("Data").cells[0].row == 1
    assert [s.cells[0].row for s in f.get_sheets_with_names(["Data"])] == [1, 2]


@pytest.mark.parametrize("call, exc, message", [
    (lambda f: f.get_sheets_with_names("Beta"), TypeError, "argument 'name_list': "),
    (lambda f: f.get_sheets_without_names({"Beta"}), TypeError,
     "argument 'name_list': 'set' object cannot be cast as 'Sequence'"),
    (lambda f: f.get_sheets_with_names(["a", 1]), TypeError,
     "argument 'name_list': 'int' object cannot be cast as 'str'"),
    (lambda f: f.get_sheet_index("0"), TypeError, "argument 'idx': "),
    (lambda f: f.get_sheet_index(2**31), OverflowError, ""),
    (lambda f: f.find_sheet_by_regex("("), RuntimeError, "missing closing parenthesis"),
    (lambda f: f.find_sheet_by_name(None), TypeError,
     "argument 'name': 'NoneType' object cannot be cast as 'str'"),
])
def test_finder_errors(call, exc, message):
    f = readable.Finder([fsheet("Beta")])
    with pytest.raises(exc) as e:
        call(f)
    assert str(e.value).startswith(message)


def test_sheets_are_new_handles_onto_the_same_records():
    f = readable.Finder([fsheet("Data", [fcell(3, 2, "v")])])
    assert f.sheets[0] is not f.sheets[0]
    assert f.sheets[0].cells[0].value == f.sheets[0].cells[0].value == "v"
    sheet = f.sheets[0]
    del f
    assert sheet.find_cell_by_letter("B3").value == "v"


def test_a_bad_sheet_fails_the_construction(build):
    seen = []

    class Tracked(dict):
        def __getitem__(self, key):
            seen.append(key)
            return super().__getitem__(key)

    bad = {"name": "b", "sheet_state": "visible", "merge_cells": None, "cells": [{"row": 1}]}
    with pytest.raises(KeyError, match="column"):
        build([fsheet("a", [fcell(1, 1)]), bad, Tracked(fsheet("never"))])
    assert seen == []
