"""The type stubs match the built extension, and typed code using them checks clean."""

import ast
import datetime
import subprocess
import sys
from pathlib import Path

import pytest

import quillmoor
from quillmoor import readable

pytest.importorskip("mypy", reason="mypy is not installed (pip install 'quillmoor[test]')")

ROOT = Path(__file__).resolve().parents[2]
PACKAGE = Path(quillmoor.__file__).resolve().parent


def run_mypy(*args):
    proc = subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True,
                          cwd=ROOT, timeout=600)
    return proc.returncode, proc.stdout + proc.stderr


def test_stubs_match_the_runtime_modules():
    # Names, parameter names and kinds, defaults, @final, properties: all
    # compared against the imported extension; no allowlist is needed.
    code, out = run_mypy("mypy.stubtest", "quillmoor._quillmoor", "quillmoor.readable")
    assert code == 0, out


def test_examples_and_package_check_strict():
    # The package's own sources beside their stubs (the installed copy may sit
    # in site-packages, which mypy does not check as sources).
    package = [str(ROOT / "python" / "quillmoor" / name) for name in ("__init__.py", "xlsx.py", "cli.py")]
    code, out = run_mypy("mypy", "--strict", "--no-incremental", str(ROOT / "examples"), *package)
    assert code == 0, out


def test_mypy_sees_the_stub_types(tmp_path):
    # A misuse of the typed API must be reported, so the stubs are really used.
    bad = tmp_path / "bad.py"
    bad.write_text(
        "import quillmoor\n"
        "from quillmoor import readable\n"
        "book = quillmoor.Book()\n"
        "sheet = book.add_sheet('a', sheet_state='hidden')\n"
        "n: int = sheet.get_value_cell(1, 1)\n"                  # str, not int
        "sheet.cell(1, 1).formula = None\n"                      # setter takes str only
        "sheet.max_row = 3\n"                                    # read-only
        "readable.find_cells_by_regex('x', cells=())\n"          # cells must be a list
        "c = readable.Finder([]).get_sheet_index(0)\n"
        "c.name\n")                                              # may be None
    code, out = run_mypy("mypy", "--strict", "--no-incremental", str(bad))
    assert code == 1, out
    lines = {int(line.split(":")[1]) for line in out.splitlines() if ": error:" in line}
    assert lines == {5, 6, 7, 8, 10}, out


def stub_properties():
    """(module, class, property, settable) for every property of both stub files."""
    for module, stub in ((quillmoor._quillmoor, "_quillmoor.pyi"), (readable, "readable.pyi")):
        tree = ast.parse((PACKAGE / stub).read_text(encoding="utf-8"))
        for cls in (n for n in tree.body if isinstance(n, ast.ClassDef)):
            props, setters = set(), set()
            for fn in (n for n in cls.body if isinstance(n, ast.FunctionDef)):
                for dec in fn.decorator_list:
                    if isinstance(dec, ast.Name) and dec.id == "property":
                        props.add(fn.name)
                    elif isinstance(dec, ast.Attribute) and dec.attr == "setter":
                        setters.add(fn.name)
            for name in sorted(props):
                yield module, cls.name, name, name in setters


def instances():
    book = quillmoor.Book()
    sheet = book.add_sheet("s")
    cell = sheet.cell(1, 1, "x")
    sheet.add_comment(1, 1, "t", "a")
    finder = readable.Finder([{"name": "s", "sheet_state": "visible", "merge_cells": [],
                               "cells": [{"row": 1, "column": 1, "value": "x", "formula": None,
                                          "data_type": "s", "style_id": None}]}])
    rsheet = finder.sheets[0]
    return {"Service": quillmoor.Service(None), "Book": book, "Sheet": sheet, "Cell": cell,
            "Comment": sheet.comments[0], "Finder": finder, "ReadableSheet": rsheet,
            "ReadableCell": rsheet.cells[0]}


def test_settable_properties_are_exactly_those_with_setters_in_the_stubs():
    objects = instances()
    checked = 0
    for module, cls, name, settable in stub_properties():
        obj = objects[cls]
        assert type(obj) is getattr(module, cls)
        value = getattr(obj, name)
        if settable:
            setattr(obj, name, "1")                      # every setter takes a str
            assert getattr(obj, name) == "1", (cls, name)
            setattr(obj, name, value if isinstance(value, str) else "x")
        else:
            with pytest.raises(AttributeError, match="not writable"):
                setattr(obj, name, value)
        checked += 1
    assert checked > 40  # the stubs were parsed, not skipped


def test_stubbed_parameter_types_are_accepted():
    # Values of the stubbed types, passed by keyword under the stub's names.
    cell = quillmoor.Book().add_sheet("s").cell(row=1, col=1, value=None)
    cell.set_value_number(value=True)
    cell.set_value_integer(value=7)
    cell.set_value_bool(value=False)
    cell.set_value_datetime(value=datetime.datetime(2024, 1, 2, 3, 4, 5))
    assert cell.value == "2024-01-02 03:04:05"
    assert readable.find_values_by_row_cols(row=1, cols=range(3), cells=[]) == []
