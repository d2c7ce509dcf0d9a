"""python -m quillmoor, end to end in a subprocess: search and export."""
import json
import os
import subprocess
import sys

import pytest

import quillmoor

pytest.importorskip("openpyxl")
pytest.importorskip("xlsxwriter", reason="XlsxWriter is not installed (pip install 'quillmoor[xlsx]')")
from quillmoor import xlsx  # noqa: E402


def run(*args, cwd=None):
    # The child sees the same PYTHONPATH (a staged build) or installed package.
    proc = subprocess.run([sys.executable, "-m", "quillmoor", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd, env=dict(os.environ),
                          timeout=120)
    return proc.returncode, proc.stdout, proc.stderr


@pytest.fixture(scope="module")
def book_file(tmp_path_factory):
    book = quillmoor.Book()
    sales = book.add_sheet("Sales")
    for row, values in enumerate([["Region", "Total"], ["North", "12"], ["start", ""],
                                  ["north pole", "7"], ["end", ""], ["NORTH\tEAST", "1"]], 1):
        for col, value in enumerate(values, 1):
            if value:
                sales.cell(row, col, value)
    notes = book.add_sheet("notes")
    notes.cell(2, 3, "north wind")
    book.add_sheet("Sales archive").cell(1, 1, "North")
    return xlsx.write(book, tmp_path_factory.mktemp("cli") / "book.xlsx")


def test_search_prints_every_hit_tab_separated(book_file):
    code, out, err = run("search", book_file, "^north")
    assert (code, err) == (0, "")
    assert out.splitlines() == [
        "Sales\tA2\tNorth", "Sales\tA4\tnorth pole", "Sales\tA6\tNORTH\\tEAST",
        "notes\tC2\tnorth wind", "Sales archive\tA1\tNorth"]


def test_search_json_lines(book_file):
    code, out, _ = run("search", book_file, "wind", "--json")
    assert code == 0
    assert [json.loads(line) for line in out.splitlines()] == [
        {"sheet": "notes", "cell": "C2", "row": 2, "column": 3, "value": "north wind"}]


@pytest.mark.parametrize("sheet_regex, sheets", [
    ("^Sales$", ["Sales"]),
    ("^Sales", ["Sales", "Sales archive"]),
    ("^sales", []),                              # the sheet pattern is case-sensitive
    ("(?i)^SALES$", ["Sales"]),
    ("es", ["Sales", "notes", "Sales archive"]),  # unanchored
])
def test_sheet_filter(book_file, sheet_regex, sheets):
    code, out, _ = run("search", book_file, "north", "--sheet", sheet_regex, "--json")
    found = list(dict.fromkeys(json.loads(line)["sheet"] for line in out.splitlines()))
    assert found == sheets
    assert code == (0 if sheets else 1)


def test_between_restricts_hits_to_the_marked_block(book_file):
    code, out, _ = run("search", book_file, "north", "--between", "^start$", "^end$")
    assert code == 0
    assert out.splitlines() == ["Sales\tA4\tnorth pole"]


def test_no_hit_exits_1_quietly(book_file):
    assert run("search", book_file, "^nothing here$") == (1, "", "")


@pytest.mark.parametrize("args, message", [
    (["search", "{missing}", "x"], "no such file"),
    (["search", "{text}", "x"], "not a spreadsheet file"),
    (["search", "{book}", "("], "pattern '(' does not compile"),
    (["search", "{book}", "x", "--sheet", "[z"], "sheet pattern '[z' does not compile"),
    (["search", "{book}", "x", "--between", "(", "end"], "marker '(' does not compile"),
    (["export", "{missing}", "{out}"], "no such file"),
    (["export", "{text}", "{out}"], "not a JSON document"),
    (["export", "{list_json}", "{out}"], "not a workbook document"),
    (["export", "{row0_json}", "{out}"], "outside an Excel sheet"),
])
def test_errors_exit_2_with_one_line_on_stderr(tmp_path, book_file, args, message):
    files = {"missing": tmp_path / "missing.xlsx", "text": tmp_path / "plain.txt",
             "book": book_file, "out": tmp_path / "out.xlsx",
             "list_json": tmp_path / "list.json", "row0_json": tmp_path / "row0.json"}
    files["text"].write_text("just text\n")
    files["list_json"].write_text("[1, 2]")
    bad = quillmoor.Book()
    bad.add_sheet("s").cell(0, 1, "x")
    files["row0_json"].write_text(bad.to_json())
    code, out, err = run(*[a.format(**files) for a in args])
    assert code == 2 and out == ""
    assert err.count("\n") == 1 and err.startswith("quillmoor: error: ") and message in err
    assert not files["out"].exists()


def test_export_turns_a_json_document_into_a_spreadsheet(tmp_path):
    openpyxl = pytest.importorskip("openpyxl")
    book = quillmoor.Book()
    sheet = book.add_sheet("Report")
    sheet.cell(1, 1, "Total")
    sheet.cell(1, 2, "1.5")
    sheet.add_merge_cells(2, 3, 1, 2)
    book.add_sheet("Back", "hidden")
    document = tmp_path / "report.json"
    document.write_text(book.to_json(), encoding="utf-8")
    code, out, err = run("export", document, tmp_path / "report.xlsx")
    assert (code, err) == (0, "")
    assert out.strip() == str(tmp_path / "report.xlsx")
    wb = openpyxl.load_workbook(tmp_path / "report.xlsx")
    assert [(ws.title, ws.sheet_state) for ws in wb.worksheets] == [
        ("Report", "visible"), ("Back", "hidden")]
    assert (wb["Report"]["A1"].value, wb["Report"]["B1"].value) == ("Total", 1.5)
    assert [str(r) for r in wb["Report"].merged_cells.ranges] == ["A2:B3"]
    # ... and the file it wrote can be searched right away.
    assert run("search", tmp_path / "report.xlsx", "^1\\.5$")[1] == "Report\tB1\t1.5\n"


@pytest.mark.parametrize("args", [["--help"], ["search", "--help"], ["export", "--help"]])
def test_help(args):
    code, out, _ = run(*args)
    assert code == 0 and out.startswith("usage: python -m quillmoor")


def test_usage_errors_exit_2():
    code, _, err = run("search", "only-a-file.xlsx")
    assert code == 2 and "PATTERN" in err
