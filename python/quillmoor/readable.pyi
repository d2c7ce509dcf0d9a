"""Types of ``quillmoor.readable``: searches over cells and sheets that Python code already holds.

Foreign cells are any objects (or dicts) with the fields ``row``, ``column``,
``value``, ``formula``, ``data_type`` and ``style_id``; foreign sheets have
``name``, ``sheet_state``, ``merge_cells`` and ``cells`` (a list of foreign
cells). ``ReadableCell`` objects may be passed back as cells.
"""

from collections.abc import Sequence
from typing import Any, Self, final

__all__ = [
    "Finder",
    "ReadableSheet",
    "ReadableCell",
    "create_finder",
    "find_cell_by_coords",
    "find_value_by_coords",
    "find_cell_by_regex",
    "find_cell_by_str",
    "find_cell_by_letter",
    "find_cells_by_regex",
    "find_cells_by_str",
    "find_cells_for_rows_by_regex",
    "find_cells_for_cols_by_regex",
    "find_cells_multi_regex",
    "find_cells_between_regex",
    "find_cells_range_rows",
    "find_cells_range_cols",
    "find_values_by_col_rows",
    "find_values_by_row_cols",
]

@final
class Finder:
    """A fixed list of sheets adapted once from foreign sheet objects, found by position, name or pattern."""

    def __new__(cls, sheets: list[Any]) -> Self:
        """Adapt every foreign sheet of ``sheets``, in order."""

    @property
    def sheets(self) -> list[ReadableSheet]:
        """New ``ReadableSheet`` objects for every sheet, in order."""

    def get_sheet_index(self, idx: int) -> ReadableSheet | None:
        """The sheet at position ``idx`` counted from 0, or None (no counting from the end)."""

    def get_sheets_without_names(self, name_list: Sequence[str]) -> list[ReadableSheet]:
        """The sheets whose name is none of ``name_list``, in order."""

    def get_sheets_with_names(self, name_list: Sequence[str]) -> list[ReadableSheet]:
        """The sheets whose name is one of ``name_list``, in the finder's order."""

    def find_sheet_by_name(self, name: str) -> ReadableSheet | None:
        """The first sheet named exactly ``name``, or None."""

    def find_sheet_by_regex(self, pattern: str) -> ReadableSheet | None:
        """The first sheet whose name matches ``pattern`` (case-sensitive, unanchored), or None."""

@final
class ReadableSheet:
    """A read-only sheet of a ``Finder``; its searches run without the interpreter lock."""

    @property
    def name(self) -> str:
        """The sheet's name."""

    @property
    def sheet_state(self) -> str:
        """The sheet's visibility state text."""

    @property
    def max_row(self) -> int:
        """The largest row holding a cell, 0 without cells."""

    @property
    def max_column(self) -> int:
        """The largest column holding a cell, 0 without cells."""

    @property
    def cells(self) -> list[ReadableCell]:
        """New ``ReadableCell`` objects for every cell, by row then column."""

    @property
    def merge_cells(self) -> list[tuple[int, int, int, int]]:
        """Merged ranges as (start_row, end_row, start_col, end_col), as stored."""

    def get_value_cell(self, row: int, col: int) -> str:
        """The value text of the cell at (row, col); "" where there is no cell."""

    def get_cells_by_range(
        self,
        start_row: int | None = None,
        end_row: int | None = None,
        start_col: int | None = None,
        end_col: int | None = None,
    ) -> list[ReadableCell]:
        """Cells inside the rectangle, both ends included, by row then column."""

    def find_cell_by_regex(self, regex: str) -> ReadableCell | None:
        """A cell whose value text matches ``regex`` (case-insensitive), or None."""

    def find_cell_by_str(self, value: str) -> ReadableCell | None:
        """A cell whose trimmed value text equals the trimmed ``value``, or None."""

    def find_cell_by_coords(self, row: int, col: int) -> ReadableCell | None:
        """The cell at (row, col), or None."""

    def find_cell_by_letter(self, letter: str) -> ReadableCell | None:
        """The cell at a letter coordinate such as B7 or $C$12, or None."""

    def find_cells_by_regex(self, regex: str) -> list[ReadableCell]:
        """Cells whose value text matches ``regex`` (case-insensitive), by row then column."""

    def find_cells_by_str(self, value: str) -> list[ReadableCell]:
        """Cells whose trimmed value text equals the trimmed ``value``, by row then column."""

    def find_cells_for_rows_by_regex(self, regex: str, col_stop: int) -> list[ReadableCell]:
        """Cells matching ``regex`` in columns up to ``col_stop``."""

    def find_cells_for_cols_by_regex(self, regex: str, row_stop: int) -> list[ReadableCell]:
        """Cells matching ``regex`` in rows up to ``row_stop``."""

    def find_cells_multi_regex(self, before_regex: str, after_regex: str) -> list[ReadableCell]:
        """Cells from each start marker to its end marker."""

    def find_cells_between_regex(self, before_regex: str, after_regex: str) -> list[ReadableCell]:
        """Cells between a start marker and an end marker."""

    def find_cells_range_rows(self, start_row: int, end_row: int) -> list[ReadableCell]:
        """Cells whose row lies in start_row..end_row."""

    def find_cells_range_cols(self, start_col: int, end_col: int) -> list[ReadableCell]:
        """Cells whose column lies in start_col..end_col."""

    def find_values_by_col_rows(self, col: int, rows: Sequence[int]) -> list[str]:
        """Value texts of the cells in column ``col`` whose row is one of ``rows``."""

    def find_values_by_row_cols(self, row: int, cols: Sequence[int]) -> list[str]:
        """Value texts of the cells in row ``row`` whose column is one of ``cols``."""

    def find_value_by_coords(self, row: int, col: int) -> str | None:
        """The value text of the cell at (row, col), or None where there is no cell."""

@final
class ReadableCell:
    """A read-only cell adapted from a foreign cell object."""

    @property
    def row(self) -> int:
        """The row number."""

    @property
    def column(self) -> int:
        """The column number."""

    @property
    def letter(self) -> str:
        """The letter coordinate, such as B7."""

    @property
    def value(self) -> str:
        """The value text."""

    @property
    def formula(self) -> str | None:
        """The formula text, or None."""

    @property
    def style(self) -> str | None:
        """The style identifier text, or None."""

    @property
    def data_type(self) -> str:
        """The data type text as given by the foreign cell."""

    @property
    def is_formula(self) -> bool:
        """Whether the cell holds a formula and its data type is "f"."""

    @property
    def is_value_bool(self) -> bool:
        """Whether the value is a boolean."""

    @property
    def is_value_numeric(self) -> bool:
        """Whether the value is a floating-point number (not an integer)."""

    @property
    def is_value_integer(self) -> bool:
        """Whether the value is a 32-bit integer."""

    @property
    def is_value_datetime(self) -> bool:
        """Whether the value is a date-time."""

    @property
    def is_value_empty(self) -> bool:
        """Whether the cell has no value."""

def create_finder(sheets: list[Any]) -> Finder:
    """A new ``Finder`` over ``sheets`` (the record is filled without the interpreter lock)."""

def find_cell_by_coords(row: int, col: int, cells: list[Any]) -> ReadableCell | None:
    """The first cell of ``cells`` at (row, col), or None."""

def find_value_by_coords(row: int, col: int, cells: list[Any]) -> str | None:
    """The value text of the first cell at (row, col), or None."""

def find_cell_by_regex(regex: str, cells: list[Any]) -> ReadableCell | None:
    """The first cell whose value text matches ``regex`` (case-insensitive), or None."""

def find_cell_by_str(value: str, cells: list[Any]) -> ReadableCell | None:
    """The first cell whose trimmed value text equals the trimmed ``value``, or None."""

def find_cell_by_letter(letter: str, cells: list[Any]) -> ReadableCell | None:
    """The first cell at a letter coordinate such as B7, or None."""

def find_cells_by_regex(regex: str, cells: list[Any]) -> list[ReadableCell]:
    """Cells whose value text matches ``regex`` (case-insensitive), in list order."""

def find_cells_by_str(value: str, cells: list[Any]) -> list[ReadableCell]:
    """Cells whose trimmed value text equals the trimmed ``value``, in list order."""

def find_cells_for_rows_by_regex(regex: str, col_stop: int, cells: list[Any]) -> list[ReadableCell]:
    """Cells matching ``regex`` in columns up to ``col_stop``."""

def find_cells_for_cols_by_regex(regex: str, row_stop: int, cells: list[Any]) -> list[ReadableCell]:
    """Cells matching ``regex`` in rows up to ``row_stop``."""

def find_cells_multi_regex(before_regex: str, after_regex: str, cells: list[Any]) -> list[ReadableCell]:
    """Cells from each start marker to its end marker."""

def find_cells_between_regex(before_regex: str, after_regex: str, cells: list[Any]) -> list[ReadableCell]:
    """Cells between a start marker and an end marker."""

def find_cells_range_rows(start_row: int, end_row: int, cells: list[Any]) -> list[ReadableCell]:
    """Cells whose row lies in start_row..end_row, in list order."""

def find_cells_range_cols(start_col: int, end_col: int, cells: list[Any]) -> list[ReadableCell]:
    """Cells whose column lies in start_col..end_col, in list order."""

def find_values_by_col_rows(col: int, rows: Sequence[int], cells: list[Any]) -> list[str]:
    """Value texts of the cells in column ``col`` whose row is one of ``rows``, in list order."""

def find_values_by_row_cols(row: int, cols: Sequence[int], cells: list[Any]) -> list[str]:
    """Value texts of the cells in row ``row`` whose column is one of ``cols``, in list order."""
