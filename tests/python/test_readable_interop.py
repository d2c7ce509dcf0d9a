"""A real client: worksheets of real .xlsx files read with openpyxl, turned
into foreign cell and sheet objects, searched through quillmoor.readable and
checked against a plain-Python oracle that follows the value text rules."""
import datetime
import decimal
import json
import re
from pathlib import Path

import pytest

from quillmoor import readable

openpyxl = pytest.importorskip("openpyxl")

CORPUS = Path(__file__).resolve().parents[3] / "shared" / "corpus"
if not (CORPUS / "manifest.json").is_file():
    pytest.skip(f"xlsx corpus not found at {CORPUS}", allow_module_level=True)

FILES = [
    "roo_Bibelbund.xlsx",          # 3735 rows of German text
    "roo_x000D.xlsx",              # Chinese text, merged ranges
    "roo_merged_ranges.xlsx",
    "roo_datetime.xlsx",
    "roo_numbers1.xlsx",           # numbers, dates, a formula, five sheets
    "roo_boolean.xlsx",
    "xw_formula_results01.xlsx",
    "xw_quote_name01.xlsx",        # sheet names with space ! " # $ % &
    "roo_simple_spreadsheet.xlsx",
]


class ForeignCell:
    __slots__ = ("row", "column", "value", "formula", "data_type", "style_id")

    def __init__(self, c):
        self.row, self.column, self.value = c.row, c.column, c.value
        self.data_type = c.data_type
        self.formula = None
        if c.data_type == "f":
            self.formula = c.value if isinstance(c.value, str) else getattr(c.value, "text", str(c.value))
        self.style_id = c.style_id


class ForeignSheet:
    def __init__(self, ws):
        self.name = ws.title
        self.sheet_state = ws.sheet_state
        self.merge_cells = [[r.min_row, r.max_row, r.min_col, r.max_col] for r in ws.merged_cells.ranges]
        self.cells = [ForeignCell(c) for row in ws.iter_rows() for c in row]


@pytest.fixture(scope="module")
def workbooks():
    manifest = json.loads((CORPUS / "manifest.json").read_text())
    books = {}
    for name in FILES:
        assert name in manifest["files"], name
        wb = openpyxl.load_workbook(CORPUS / "xlsx" / name)
        books[name] = [ForeignSheet(ws) for ws in wb.worksheets]
    return books


# ---- the oracle: value text of a foreign cell ------------------------------------------------

def plain_number(f):
    if f != f:
        return "NaN"
    if f in (float("inf"), float("-inf")):
        return "inf" if f > 0 else "-inf"
    s = format(decimal.Decimal(repr(f)), "f")
    if "." in s:
        s = s.rstrip("0").rstrip(".")
    return s


def text_form(v):
    if v is None:
        return ""
    if type(v) is bool:
        return "true" if v else "false"
    if isinstance(v, int):
        return str(int(v))
    if isinstance(v, float):
        return plain_number(float(v))
    if isinstance(v, str):
        return v
    if isinstance(v, list):
        return "[" + ", ".join(text_form(x) for x in v) + "]"
    return str(v)


INT = re.compile(r"[+-]?[0-9]+\Z", re.ASCII)
FLOAT = re.compile(r"[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?\Z", re.ASCII)
DATETIME = re.compile(r"[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\Z", re.ASCII)


def parsed_text(t):
    """The value text of parse_value(t)."""
    if t.upper() in ("TRUE", "FALSE"):
        return t.upper().lower()
    if INT.match(t) and -2**31 <= int(t) < 2**31:
        return str(int(t))
    if FLOAT.match(t) or t.lstrip("+-").lower() in ("inf", "infinity", "nan"):
        return plain_number(float(t))
    if DATETIME.match(t):
        try:
            datetime.datetime.strptime(t, "%Y-%m-%d %H:%M:%S")
            return t
        except ValueError:
            pass
    return t


def value_text(c):
    if c.value is None:
        return ""
    t = text_form(c.value)
    return t if c.data_type == "s" else parsed_text(t)


WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + \
    "\u2028\u2029\u202f\u205f\u3000"


# ---- checks --------------------------------------------------------------------------------------

def test_every_sheet_reads_back_as_the_oracle_says(workbooks):
    for name, sheets in workbooks.items():
        finder = readable.Finder(sheets)
        assert [s.name for s in finder.sheets] == [s.name for s in sheets], name
        for fs, rs in zip(sheets, finder.sheets):
            want = sorted(((c.row, c.column), value_text(c)) for c in fs.cells)
            got = [((c.row, c.column), c.value) for c in rs.cells]
            assert got == want, (name, fs.name)
            assert rs.merge_cells == [tuple(m) for m in fs.merge_cells]
            assert rs.sheet_state == fs.sheet_state


PATTERNS = ["e", "^[0-9]+$", "ü", "19[0-9][0-9]", "sum|true", "^$", r"\s"]


@pytest.mark.parametrize("pattern", PATTERNS)
def test_module_regex_searches_match_the_oracle(workbooks, pattern):
    rx = re.compile(pattern, re.IGNORECASE)
    for name, sheets in workbooks.items():
        for fs in sheets:
            want = [(c.row, c.column) for c in fs.cells if rx.search(value_text(c))]
            got = readable.find_cells_by_regex(pattern, fs.cells)
            assert [(c.row, c.column) for c in got] == want, (name, fs.name)
            first = readable.find_cell_by_regex(pattern, fs.cells)
            assert (None if first is None else (first.row, first.column)) == (want[0] if want else None)


def test_text_search_finds_the_first_equal_cell(workbooks):
    for name, sheets in workbooks.items():
        for fs in sheets:
            texts = [value_text(c) for c in fs.cells if value_text(c).strip(WHITE_SPACE)]
            for needle in texts[:: max(1, len(texts) // 5)]:
                key = needle.strip(WHITE_SPACE)
                want = [(c.row, c.column) for c in fs.cells if value_text(c).strip(WHITE_SPACE) == key]
                hit = readable.find_cell_by_str(" " + needle + "\t", fs.cells)
                assert (hit.row, hit.column) == want[0], (name, needle)
                assert [(c.row, c.column) for c in readable.find_cells_by_str(needle, fs.cells)] == want


def test_ranges_on_readable_sheets(workbooks):
    for name, sheets in workbooks.items():
        for fs, rs in zip(sheets, readable.Finder(sheets).sheets):
            coords = sorted((c.row, c.column) for c in fs.cells)
            assert [(c.row, c.column) for c in rs.find_cells_range_rows(2, 10)] == \
                [k for k in coords if 2 <= k[0] <= 10]
            assert [(c.row, c.column) for c in rs.get_cells_by_range(None, None, 2, 3)] == \
                [k for k in coords if 2 <= k[1] <= 3]
            assert [(c.row, c.column) for c in rs.find_cells_range_cols(1, 1)] == \
                [k for k in coords if k[1] == 1]


def anchor_oracle(cells, before, after):
    """Marker cells of the anchor scan, over cells in the given order."""
    b, a = re.compile(before, re.IGNORECASE), re.compile(after, re.IGNORECASE)
    out, open_ = [], False
    for c in cells:
        t = value_text(c)
        if not open_ and b.search(t):
            open_ = True
            out.append(c)
        elif open_ and a.search(t):
            open_ = False
            out.append(c)
    return out


def test_marker_searches_match_the_oracle(workbooks):
    checked = 0
    for name, sheets in workbooks.items():
        for fs, rs in zip(sheets, readable.Finder(sheets).sheets):
            ordered = sorted(fs.cells, key=lambda c: (c.row, c.column))
            texts = [value_text(c) for c in ordered if re.fullmatch(r"[\w ]{2,30}", value_text(c))]
            if len(texts) < 4:
                continue
            before = "^" + re.escape(texts[len(texts) // 4]) + "$"
            after = "^" + re.escape(texts[len(texts) // 2]) + "$"
            markers = anchor_oracle(ordered, before, after)
            got = rs.find_cells_multi_regex(before, after)
            assert [(c.row, c.column) for c in got] == [(c.row, c.column) for c in markers]
            band = [c.row for c in markers[:2]]
            if not band:
                want = []
            else:
                lo, hi = band[0], band[1] if len(band) > 1 else float("inf")
                want = [(c.row, c.column) for c in ordered if lo <= c.row <= hi]
            got = rs.find_cells_between_regex(before, after)
            assert [(c.row, c.column) for c in got] == want, (name, fs.name)
            checked += 1
    assert checked >= 3


def test_sheet_pattern_search_is_case_sensitive_like_python_re(workbooks):
    sheets = workbooks["xw_quote_name01.xlsx"] + workbooks["roo_numbers1.xlsx"]
    finder = readable.create_finder(sheets)
    names = [s.name for s in sheets]
    for pattern in [re.escape(n) for n in names] + ["^S", "(?i)^s", "[!#$%&]", "1$"]:
        want = next((n for n in names if re.search(pattern, n)), None)
        got = finder.find_sheet_by_regex(pattern)
        assert (got and got.name) == want, pattern
        assert finder.get_sheets_with_names([want] if want else []) == [] or \
            finder.get_sheets_with_names([want])[0].name == want
