"""Spreadsheet files in and out: ``.xlsx`` from a workbook, foreign sheets from an ``.xlsx``.

    quillmoor.xlsx.write(book, "report.xlsx")            # Book, Service or JSON document
    finder = readable.Finder(quillmoor.xlsx.read_sheets("report.xlsx"))

``write`` needs XlsxWriter (``pip install quillmoor[xlsx]``); ``read_sheets``
needs openpyxl.
"""

from __future__ import annotations

import datetime
import os
import re
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any

__all__ = ["write", "read_sheets", "sheet_names", "XlsxCell", "XlsxSheet"]

# Excel's sheet limits (rows and columns count from 1 here).
MAX_ROW = 1_048_576
MAX_COLUMN = 16_384
MAX_TEXT = 32_767  # characters in one cell
MAX_SHEET_NAME = 31  # UTF-16 code units
_BAD_NAME_CHARS = re.compile(r"[\[\]:*?/\\]")
_DOCUMENT_DATETIME = re.compile(
    r"([+-]?\d{4,})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:\.(\d{1,9}))?\Z")
_DATE_FORMAT = "yyyy-mm-dd hh:mm:ss"
_DATE_FORMAT_FRACTION = "yyyy-mm-dd hh:mm:ss.000"
# Excel cannot show date-times before its 1900 epoch.
_FIRST_EXCEL_DATETIME = datetime.datetime(1900, 1, 1)


def _utf16_len(text: str) -> int:
    return len(text.encode("utf-16-le")) // 2


def _truncate(text: str, limit: int) -> str:
    while _utf16_len(text) > limit:
        text = text[:-1]
    return text


def sheet_names(names: Iterable[str]) -> list[str]:
    """Excel-safe sheet names for ``names``, in order; the same input always gives the same names.

    Each of ``[ ] : * ? / \\`` becomes ``_``; leading and trailing apostrophes
    are dropped; an empty result becomes ``SheetN`` (N the position from 1), and
    the reserved name History becomes ``History_``. Names are cut to 31 UTF-16
    code units. A name equal to an earlier one, ignoring case, gets the first
    free suffix `` (2)``, `` (3)`` ... (the base is cut so the whole stays
    within 31 units).
    """
    used: set[str] = set()
    out: list[str] = []
    for position, name in enumerate(names, 1):
        base = _BAD_NAME_CHARS.sub("_", name).strip("'")
        if not base:
            base = f"Sheet{position}"
        if base.casefold() == "history":
            base += "_"
        candidate = _truncate(base, MAX_SHEET_NAME).rstrip("'") or f"Sheet{position}"
        n = 2
        while candidate.casefold() in used:
            suffix = f" ({n})"
            candidate = _truncate(base, MAX_SHEET_NAME - len(suffix)) + suffix
            n += 1
        used.add(candidate.casefold())
        out.append(candidate)
    return out


def _document(source: Any) -> Mapping[str, Any]:
    if isinstance(source, Mapping):
        document = source
    elif callable(getattr(source, "to_dict", None)):
        document = source.to_dict()
    else:
        raise TypeError(
            f"expected a Book, a Service or a workbook document dict, not {type(source).__name__!r}")
    if not isinstance(document.get("sheets"), list):
        raise ValueError("not a workbook document: it has no list of 'sheets'")
    return document


def _datetime(text: str) -> datetime.datetime | None:
    """The document's date-time text as a datetime Excel can show, or None."""
    m = _DOCUMENT_DATETIME.match(text)
    if m is None:
        return None
    year, month, day, hour, minute, second = (int(g) for g in m.groups()[:6])
    micros = int((m.group(7) or "").ljust(9, "0")[:6])
    try:
        value = datetime.datetime(year, month, day, hour, minute, second, micros)
    except ValueError:
        return None
    return value if value >= _FIRST_EXCEL_DATETIME else None


def _check_place(sheet: str, what: str, row: int, col: int) -> None:
    if not (1 <= row <= MAX_ROW and 1 <= col <= MAX_COLUMN):
        raise ValueError(
            f"sheet {sheet!r}: {what} at row {row}, column {col} lies outside an Excel sheet "
            f"(rows 1 to {MAX_ROW}, columns 1 to {MAX_COLUMN})")


class _Writer:
    """Writes one document's sheets into an open XlsxWriter workbook."""

    def __init__(self, workbook: Any) -> None:
        self.workbook = workbook
        self.date_format = workbook.add_format({"num_format": _DATE_FORMAT})
        self.date_fraction_format = workbook.add_format({"num_format": _DATE_FORMAT_FRACTION})

    def typed(self, value: Any, data_type: str) -> tuple[Any, Any]:
        """(value to write, format) for a document value; datetimes as Excel dates."""
        if isinstance(value, str) and data_type == "d":
            when = _datetime(value)
            if when is not None:
                fmt = self.date_fraction_format if when.microsecond else self.date_format
                return when, fmt
            return value.replace("T", " ", 1), None
        return value, None

    def cell(self, ws: Any, sheet: str, cell: Mapping[str, Any]) -> None:
        row, col = int(cell["row"]), int(cell["column"])
        value, formula = cell.get("value"), cell.get("formula")
        if value is None and formula is None:
            return  # an empty cell: nothing to keep
        _check_place(sheet, "a cell", row, col)
        value, fmt = self.typed(value, cell.get("data_type", ""))
        r, c = row - 1, col - 1
        if isinstance(value, str) and len(value) > MAX_TEXT:
            raise ValueError(
                f"sheet {sheet!r}: the text at row {row}, column {col} has {len(value)} characters; "
                f"an Excel cell holds at most {MAX_TEXT}")
        if formula is not None and formula != "":
            cached: Any = value
            if isinstance(value, datetime.datetime):
                cached = self.serial(value)
            ws.write_formula(r, c, formula, fmt, "" if cached is None else cached)
        elif isinstance(value, bool):
            ws.write_boolean(r, c, value)
        elif isinstance(value, (int, float)):
            ws.write_number(r, c, value)
        elif isinstance(value, datetime.datetime):
            ws.write_datetime(r, c, value, fmt)
        elif value is not None:
            ws.write_string(r, c, str(value))

    def serial(self, value: datetime.datetime) -> float:
        from xlsxwriter.utility import datetime_to_excel_datetime  # type: ignore[import-untyped]

        return float(datetime_to_excel_datetime(value, False, False))

    def sheet(self, ws: Any, name: str, doc: Mapping[str, Any]) -> None:
        rows = doc.get("row_dimensions") or {}
        cols = doc.get("column_dimensions") or {}
        if rows.get("default_height") is not None:
            ws.set_default_row(float(rows["default_height"]))
        if cols.get("default_width") is not None:
            ws.set_column(0, MAX_COLUMN - 1, float(cols["default_width"]))
        for key, dim in sorted((rows.get("rows") or {}).items(), key=lambda kv: int(kv[0])):
            row = int(key)
            _check_place(name, "a row height", row, 1)
            height = dim.get("height")
            if height is None:
                height = rows.get("default_height")
            ws.set_row(row - 1, height, None, self.outline(dim))
        for key, dim in sorted((cols.get("columns") or {}).items(), key=lambda kv: int(kv[0])):
            col = int(key)
            _check_place(name, "a column width", 1, col)
            width = dim.get("width")
            if width is None:
                width = cols.get("default_width")
            ws.set_column(col - 1, col - 1, width, None, self.outline(dim))
        seen: set[tuple[int, int, int, int]] = set()
        for merge in doc.get("merge_cells") or []:
            r1, r2, c1, c2 = (int(v) for v in merge)
            top, bottom, left, right = min(r1, r2), max(r1, r2), min(c1, c2), max(c1, c2)
            _check_place(name, "a merged range", top, left)
            _check_place(name, "a merged range", bottom, right)
            if (top, bottom, left, right) in seen or (top == bottom and left == right):
                continue  # a repeated range or a single cell: nothing to merge
            seen.add((top, bottom, left, right))
            # The cells themselves, the top-left value included, are written below.
            ws.merge_range(top - 1, left - 1, bottom - 1, right - 1, "")
        for cell in doc.get("cells") or []:
            self.cell(ws, name, cell)
        notes: dict[tuple[int, int], list[Mapping[str, Any]]] = {}
        for comment in doc.get("comments") or []:
            place = (int(comment["row"]), int(comment["column"]))
            _check_place(name, "a comment", *place)
            notes.setdefault(place, []).append(comment)
        for (row, col), group in notes.items():
            text = "\n\n".join(str(c.get("text", "")) for c in group)
            authors = list(dict.fromkeys(str(c.get("author", "")) for c in group))
            ws.write_comment(row - 1, col - 1, text, {"author": ", ".join(authors)})

    @staticmethod
    def outline(dim: Mapping[str, Any]) -> dict[str, Any]:
        return {"hidden": bool(dim.get("hidden")), "collapsed": bool(dim.get("collapsed")),
                "level": int(dim.get("level") or 0)}


def write(source: Any, path: str | os.PathLike[str]) -> Path:
    """Write a workbook as a real ``.xlsx`` file and return its path.

    ``source`` is a ``Book``, a ``Service`` (anything with ``to_dict()``) or the
    workbook JSON document itself as a dict (what ``to_dict()`` returns or
    ``json.load`` reads from ``to_json()`` text); all go through one writer.

    What is written, sheet by sheet in document order:

    - cell values with their types: texts, numbers (integers too), booleans,
      and date-times (data type "d") as Excel dates with a date format;
      date-times before 1900 or after 9999 cannot be Excel dates and are
      written as their text. Empty cells are skipped;
    - formulas, with the cell's value as the cached result;
    - merged ranges, reversed bounds put in order; repeated ranges and
      single-cell ranges are skipped; every cell is written, so the top-left
      value shows in the merged area;
    - the sheet's default row height and column width, row heights, column
      widths, hidden rows and columns, outline levels;
    - comments with their authors; several comments on one cell become one
      note (texts joined by a blank line, distinct authors joined by ", ");
    - sheet states "hidden" and "veryHidden" (any other state is visible).
      Excel needs one visible sheet: when every sheet is hidden the first is
      kept visible. The first visible sheet is the active one;
    - sheet names made Excel-safe by ``sheet_names`` (deterministic: bad
      characters become ``_``, names cut to 31 characters, case-insensitive
      duplicates numbered " (2)", " (3)" ...). Formulas are not rewritten
      for renamed sheets.

    Style identifiers and hidden values have no Excel counterpart and are not
    written. A cell, merged range, comment or dimension outside Excel's sheet
    (row 0, column 0, beyond row 1,048,576 or column 16,384) or a text longer
    than 32,767 characters raises ``ValueError`` rather than being dropped;
    no file is written then.
    """
    try:
        import xlsxwriter  # type: ignore[import-untyped]
    except ImportError as e:
        raise ImportError(
            "quillmoor.xlsx.write needs XlsxWriter: pip install 'quillmoor[xlsx]'") from e
    document = _document(source)
    sheets: Sequence[Mapping[str, Any]] = document["sheets"]
    names = sheet_names(str(s.get("name", "")) for s in sheets)
    states = [s.get("sheet_state") for s in sheets]
    if states and all(state in ("hidden", "veryHidden") for state in states):
        states[0] = "visible"
    out = Path(path)
    workbook = xlsxwriter.Workbook(str(out), {
        "strings_to_numbers": False, "strings_to_formulas": False, "strings_to_urls": False})
    # XlsxWriter writes the file only on close(): a failure before that leaves
    # no partial file behind (and an existing file at ``path`` untouched).
    writer = _Writer(workbook)
    active = None
    for doc, name, state in zip(sheets, names, states):
        ws = workbook.add_worksheet(name)
        writer.sheet(ws, name, doc)
        if state == "hidden":
            ws.hide()
        elif state == "veryHidden":
            ws.very_hidden()
        elif active is None:
            active = ws
    if active is not None:
        active.activate()
    workbook.close()
    return out


@dataclass(frozen=True, slots=True)
class XlsxCell:
    """One non-empty cell of a file, with the fields ``quillmoor.readable`` reads."""

    row: int
    column: int
    value: Any  # openpyxl's value; for a formula cell, its cached result
    formula: str | None  # the formula text ("=SUM(A1:A3)"), or None
    data_type: str  # openpyxl's data type: "s", "n", "b", "d", "f", "e"
    style_id: str | None  # openpyxl's style id as text, None for the default style


@dataclass(frozen=True, slots=True)
class XlsxSheet:
    """One worksheet of a file, ready for ``readable.Finder``."""

    name: str
    sheet_state: str
    merge_cells: list[list[int]]  # [min_row, max_row, min_col, max_col] per merged range
    cells: list[XlsxCell]


def _formula_text(value: Any) -> str:
    # Plain formulas are texts; array and data-table formulas are objects.
    text = getattr(value, "text", None)
    return str(value if text is None else text)


def read_sheets(path: str | os.PathLike[str]) -> list[XlsxSheet]:
    """The worksheets of an ``.xlsx`` file as foreign sheets: ``Finder(read_sheets(path))``.

    Chartsheets are skipped. Each sheet keeps its name, state, merged ranges
    and its non-empty cells (value or formula present) ordered by row, then
    column. A formula cell has ``formula`` set and, as ``value``, the result
    the file cached for it (None if the file holds none). Raises what openpyxl
    raises for a missing or unreadable file.
    """
    import openpyxl  # type: ignore[import-untyped]

    workbook = openpyxl.load_workbook(path)
    cached = None
    try:
        sheets = []
        for ws in workbook.worksheets:
            cells = []
            # The stored cells only: iter_rows() would make a cell for every
            # coordinate of the used rectangle.
            for (row, col), c in sorted(ws._cells.items()):
                value = c.value
                if value is None:
                    continue
                formula = None
                if c.data_type == "f":
                    formula = _formula_text(value)
                    if cached is None:
                        cached = openpyxl.load_workbook(path, data_only=True)
                    value = cached[ws.title].cell(row, col).value
                style_id = str(c.style_id) if c.has_style else None
                cells.append(XlsxCell(row, col, value, formula, c.data_type, style_id))
            merges = [[r.min_row, r.max_row, r.min_col, r.max_col] for r in ws.merged_cells.ranges]
            sheets.append(XlsxSheet(ws.title, ws.sheet_state, merges, cells))
        return sheets
    finally:
        workbook.close()
        if cached is not None:
            cached.close()
