"""quillmoor.xlsx: workbooks written as real .xlsx files and read back with
openpyxl; real files read into foreign sheets for the Finder."""
import datetime
import json
import sys
from pathlib import Path

import pytest

import quillmoor
from quillmoor import readable

openpyxl = pytest.importorskip("openpyxl")
pytest.importorskip("xlsxwriter", reason="XlsxWriter is not installed (pip install 'quillmoor[xlsx]')")
from quillmoor import xlsx  # noqa: E402

CORPUS = Path(__file__).resolve().parents[3] / "shared" / "corpus"
# openpyxl warns about parts of some corpus files that it does not read.
pytestmark = pytest.mark.filterwarnings("ignore:Unknown extension:UserWarning")


def full_book():
    book = quillmoor.Book()
    s = book.add_sheet("Report")
    s.cell(1, 1, "Total")
    s.cell(1, 2, "1.5")
    s.cell(1, 3, "-3")
    s.cell(1, 4, "TRUE")
    s.cell(1, 5, "=not a formula")             # a text that looks like a formula stays text
    s.cell(1, 6, "https://example.invalid/x")  # and one that looks like a link stays text
    s.cell(2, 1).set_value_datetime(datetime.datetime(2024, 3, 5, 7, 8, 9))
    s.cell(2, 2).set_value_datetime(datetime.datetime(2024, 3, 5, 7, 8, 9, 250000))
    s.cell(2, 3).set_value_datetime(datetime.datetime(1850, 1, 2, 3, 4, 5))  # before Excel dates
    s.cell(2, 4, "")                           # empty: not written
    revenue = s.cell(3, 1, "12.5")
    revenue.formula = "=SUM(B1:C1)"
    flag = s.cell(3, 2, "FALSE")
    flag.formula = "=B1>C1"
    s.cell(4, 1, "in the merge")             # the top-left cell of the merged range
    s.add_merge_cells(6, 4, 3, 1)              # reversed: rows 4-6, columns A-C
    s.add_merge_cells(4, 6, 1, 3)              # the same range again
    s.add_merge_cells(8, 8, 2, 2)              # a single cell: nothing to merge
    s.set_height_row(3, 30.0)
    s.set_hidden_row(7, True)
    s.set_width_column(2, 14.5)
    s.set_hidden_column(5, True)
    s.add_comment(1, 1, "check", "auditor")
    s.add_comment(3, 1, "first", "ann")
    s.add_comment(3, 1, "second", "bob")
    book.add_sheet("Hidden", "hidden").cell(1, 1, "h")
    book.add_sheet("Very", "veryHidden").cell(2, 2, "7")
    return book


@pytest.fixture(scope="module")
def written(tmp_path_factory):
    path = tmp_path_factory.mktemp("xlsx") / "full.xlsx"
    assert xlsx.write(full_book(), path) == path
    return path


def cells_of(ws):
    return {c.coordinate: c.value for row in ws.iter_rows() for c in row if c.value is not None}


def test_values_types_formulas_and_states_read_back(written):
    wb = openpyxl.load_workbook(written)
    assert wb.sheetnames == ["Report", "Hidden", "Very"]
    assert [ws.sheet_state for ws in wb.worksheets] == ["visible", "hidden", "veryHidden"]
    ws = wb["Report"]
    assert cells_of(ws) == {
        "A1": "Total", "B1": 1.5, "C1": -3, "D1": True, "E1": "=not a formula",
        "F1": "https://example.invalid/x",
        "A2": datetime.datetime(2024, 3, 5, 7, 8, 9),
        "B2": datetime.datetime(2024, 3, 5, 7, 8, 9, 250000),
        "C2": "1850-01-02 03:04:05",
        "A3": "=SUM(B1:C1)", "B3": "=B1>C1", "A4": "in the merge",
    }
    kinds = {c.coordinate: c.data_type for row in ws.iter_rows() for c in row if c.value is not None}
    assert kinds["A1"] == "s" and kinds["B1"] == "n" and kinds["D1"] == "b"
    assert kinds["A2"] == "d" and kinds["A3"] == "f" and kinds["E1"] == "s"
    assert ws["A2"].is_date and ws["B2"].number_format.endswith(".000")
    assert ws["F1"].hyperlink is None
    assert cells_of(wb["Hidden"]) == {"A1": "h"}
    assert cells_of(wb["Very"]) == {"B2": 7}
    cached = openpyxl.load_workbook(written, data_only=True)["Report"]
    assert cached["A3"].value == 12.5 and cached["B3"].value is False


def test_layout_merges_and_comments_read_back(written):
    ws = openpyxl.load_workbook(written)["Report"]
    assert [str(r) for r in ws.merged_cells.ranges] == ["A4:C6"]
    assert ws.row_dimensions[3].height == 30.0
    assert ws.row_dimensions[7].hidden and not ws.row_dimensions[3].hidden
    # Excel stores a column width with its cell padding (5 of 7 pixels).
    assert ws.column_dimensions["B"].width == pytest.approx(14.5 + 5 / 7, abs=0.15)
    assert ws.column_dimensions["E"].hidden and not ws.column_dimensions["B"].hidden
    # The sheet defaults: row height 20 (to the pixel), column width 22.5.
    assert ws.sheet_format.defaultRowHeight == pytest.approx(20.0, abs=0.5)
    assert ws.column_dimensions["A"].width == pytest.approx(22.5 + 5 / 7, abs=0.15)
    assert (ws["A1"].comment.text, ws["A1"].comment.author) == ("check", "auditor")
    assert ws["A3"].comment.text == "first\n\nsecond"
    assert ws["A3"].comment.author == "ann, bob"


def test_a_document_dict_and_its_json_give_the_same_file_content(tmp_path):
    book = full_book()
    from_book = xlsx.write(book, tmp_path / "book.xlsx")
    document = json.loads(book.to_json())
    from_doc = xlsx.write(document, str(tmp_path / "doc.xlsx"))
    a, b = openpyxl.load_workbook(from_book), openpyxl.load_workbook(from_doc)
    assert a.sheetnames == b.sheetnames
    for name in a.sheetnames:
        assert cells_of(a[name]) == cells_of(b[name])


@pytest.mark.parametrize("names, expected", [
    (["Re:port", "a/b", "[x]*?\\"], ["Re_port", "a_b", "_x____"]),
    (["Data", "data", "DATA"], ["Data", "data (2)", "DATA (3)"]),
    (["x" * 40, "x" * 35], ["x" * 31, "x" * 27 + " (2)"]),
    (["", "'quoted'", "''", "history"], ["Sheet1", "quoted", "Sheet3", "history_"]),
    (["Sheet2", ""], ["Sheet2", "Sheet2 (2)"]),
])
def test_sheet_names_are_made_excel_safe(names, expected):
    assert xlsx.sheet_names(names) == expected


def test_renamed_sheets_are_written_under_their_safe_names(tmp_path):
    book = quillmoor.Book()
    for name in ["Q1:Q2", "q1_q2", ""]:
        book.add_sheet(name).cell(1, 1, name or "blank")
    wb = openpyxl.load_workbook(xlsx.write(book, tmp_path / "n.xlsx"))
    assert wb.sheetnames == ["Q1_Q2", "q1_q2 (2)", "Sheet3"]
    assert wb["q1_q2 (2)"]["A1"].value == "q1_q2"


def test_a_workbook_of_hidden_sheets_keeps_the_first_visible(tmp_path):
    book = quillmoor.Book()
    book.add_sheet("a", "hidden")
    book.add_sheet("b", "veryHidden")
    book.add_sheet("c", "hidden")
    wb = openpyxl.load_workbook(xlsx.write(book, tmp_path / "h.xlsx"))
    assert [ws.sheet_state for ws in wb.worksheets] == ["visible", "veryHidden", "hidden"]


def test_the_active_sheet_is_the_first_visible_one(tmp_path):
    book = quillmoor.Book()
    book.add_sheet("hidden", "hidden")
    book.add_sheet("shown")
    wb = openpyxl.load_workbook(xlsx.write(book, tmp_path / "a.xlsx"))
    assert wb.active.title == "shown"


@pytest.mark.parametrize("edit, message", [
    (lambda s: s.cell(0, 1, "x"), "row 0, column 1"),
    (lambda s: s.cell(1, 16385, "x"), "row 1, column 16385"),
    (lambda s: s.cell(1_048_577, 1, "x"), "row 1048577"),
    (lambda s: s.add_merge_cells(1, 2, 0, 1), "merged range"),
    (lambda s: s.add_comment(0, 0, "t", "a"), "comment"),
    (lambda s: s.cell(1, 1, "x" * 32768), "32768 characters"),
])
def test_what_an_excel_sheet_cannot_hold_is_refused_not_dropped(tmp_path, edit, message):
    book = quillmoor.Book()
    edit(book.add_sheet("s"))
    earlier = tmp_path / "bad.xlsx"
    earlier.write_bytes(b"an earlier file")
    with pytest.raises(ValueError, match=message):
        xlsx.write(book, earlier)
    assert earlier.read_bytes() == b"an earlier file"     # neither replaced nor half-written


@pytest.mark.parametrize("source, error", [
    ({"no": "sheets"}, ValueError),
    ([], TypeError),
    ("book.json", TypeError),
])
def test_write_refuses_what_is_not_a_workbook(tmp_path, source, error):
    with pytest.raises(error):
        xlsx.write(source, tmp_path / "x.xlsx")


def test_write_without_xlsxwriter_names_the_extra(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "xlsxwriter", None)
    with pytest.raises(ImportError, match=r"quillmoor\[xlsx\]"):
        xlsx.write(quillmoor.Book(), tmp_path / "x.xlsx")


def test_read_sheets_gives_foreign_sheets_for_the_finder(written):
    sheets = xlsx.read_sheets(written)
    assert [(s.name, s.sheet_state) for s in sheets] == [
        ("Report", "visible"), ("Hidden", "hidden"), ("Very", "veryHidden")]
    report = sheets[0]
    assert report.merge_cells == [[4, 6, 1, 3]]
    by_place = {(c.row, c.column): c for c in report.cells}
    assert [(c.row, c.column) for c in report.cells] == sorted(by_place)
    total = by_place[(3, 1)]
    assert (total.value, total.formula, total.data_type) == (12.5, "=SUM(B1:C1)", "f")
    assert by_place[(1, 1)].formula is None and by_place[(1, 1)].style_id is None
    assert by_place[(2, 1)].style_id is not None          # the date format is a style
    assert (2, 4) not in by_place                          # empty cells are left out
    with pytest.raises(AttributeError):
        total.value = 1                                    # frozen

    finder = readable.Finder(sheets)
    sheet = finder.find_sheet_by_regex("^Rep")
    assert [c.letter for c in sheet.find_cells_by_regex("^total$|^12.5$")] == ["A1", "A3"]
    assert sheet.find_cell_by_letter("A3").is_formula
    assert finder.find_sheet_by_name("Very").get_value_cell(2, 2) == "7"


CORPUS_FILES = [
    "roo_x000D.xlsx",              # Chinese sheet name, eight merged ranges
    "roo_merged_ranges.xlsx",
    "roo_hidden_sheets.xlsx",
    "xw_chartsheet02.xlsx",        # a chartsheet between two worksheets
    "roo_numbers1.xlsx",           # five sheets, formulas
    "xw_array_formula01.xlsx",
    "roo_Bibelbund.xlsx",          # 26,985 cells
    "xw_quote_name01.xlsx",
]


@pytest.fixture(scope="module")
def manifest():
    if not (CORPUS / "manifest.json").is_file():
        pytest.skip(f"xlsx corpus not found at {CORPUS}")
    return json.loads((CORPUS / "manifest.json").read_text(encoding="utf-8"))["files"]


@pytest.mark.parametrize("name", CORPUS_FILES)
def test_read_sheets_agrees_with_the_corpus_manifest(manifest, name):
    facts = manifest[name]
    sheets = xlsx.read_sheets(CORPUS / "xlsx" / name)
    expected = facts["sheets"]
    assert [s.name for s in sheets] == [s["name"] for s in expected]
    for got, want in zip(sheets, expected):
        assert got.sheet_state == want["sheet_state"]
        assert len(got.cells) == want["non_empty_cells"], got.name
        assert sorted(got.merge_cells) == sorted(want["merged_ranges"])
        formulas = sum(1 for c in got.cells if c.formula is not None)
        assert formulas == want["formulas"], got.name


def test_a_finder_over_a_corpus_file_answers_a_search(manifest):
    finder = readable.Finder(xlsx.read_sheets(CORPUS / "xlsx" / "roo_hidden_sheets.xlsx"))
    assert [s.name for s in finder.sheets] == ["HiddenSheet1", "VisibleSheet1", "HiddenSheet2"]
    visible = finder.get_sheets_without_names(["HiddenSheet1", "HiddenSheet2"])
    assert [s.sheet_state for s in visible] == ["visible"]
    big = readable.Finder(xlsx.read_sheets(CORPUS / "xlsx" / "roo_Bibelbund.xlsx")).sheets[0]
    hits = big.find_cells_by_regex(r"^offenbarung")
    assert hits and all(c.value.lower().startswith("offenbarung") for c in hits)
