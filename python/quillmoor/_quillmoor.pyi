"""Types of the native extension: workbooks, sheets, cells and comments."""

import datetime
from typing import Any, Final, Self, SupportsFloat, SupportsIndex, final

from typing_extensions import disjoint_base

from quillmoor import readable as readable

__all__ = [
    "__version__",
    "Service",
    "Book",
    "Sheet",
    "Cell",
    "Comment",
    "version",
    "column_number_to_letter",
    "get_letter_coordinate",
    "DEFAULT_ROW_HEIGHT",
    "DEFAULT_COLUMN_WIDTH",
    "readable",
]

__version__: Final[str]
DEFAULT_ROW_HEIGHT: Final[float]
DEFAULT_COLUMN_WIDTH: Final[float]

def version() -> str:
    """The version text of the extension, the same as ``__version__``."""

def column_number_to_letter(col: int) -> str:
    """Column letters of a column number (1 gives A, 28 gives AB; 0 gives the empty text)."""

def get_letter_coordinate(row: int, col: int) -> str:
    """Letter coordinate of a row and a column, such as B7."""

@disjoint_base
class Service:
    """Base class of report services: a database connection, own sheets and two hooks."""

    def __new__(cls, conn_db: Any) -> Self:
        """Keep ``conn_db`` and start with no sheets."""

    @property
    def _conn_db(self) -> Any:
        """The connection object given to the constructor, unchanged."""

    @property
    def _sheets(self) -> list[Sheet]:
        """New ``Sheet`` objects for the service's sheets, in order."""

    def _add_sheet(self, name: str, sheet_state: str = "visible") -> Sheet:
        """Append a new empty sheet and return it."""

    def _copy_sheet(self, sheet: Sheet) -> Sheet:
        """Append a copy of ``sheet`` named "Sheet N" (N its position from 1); it shares the cells."""

    def _get_sheet_name(self, name: str) -> Sheet | None:
        """The first sheet whose name is exactly ``name``, or None."""

    def _get_sheet_index(self, idx: int) -> Sheet | None:
        """The sheet at position ``idx`` counted from 0, or None (no counting from the end)."""

    def to_json(self) -> str:
        """The workbook as one compact JSON document."""

    def to_dict(self) -> dict[str, Any]:
        """The JSON document parsed by ``json.loads``."""

    def summary_0(self, sheets: list[Any], /, **kwargs: Any) -> Any:
        """Hook for subclasses; the base raises NotImplementedError."""

    def _fmt_0(self, **kwargs: Any) -> Any:
        """Hook for subclasses; the base raises NotImplementedError."""

@final
class Book:
    """A workbook: an ordered list of sheets."""

    def __new__(cls) -> Self:
        """An empty workbook."""

    @property
    def sheets(self) -> list[Sheet]:
        """New ``Sheet`` objects for the workbook's sheets, in order."""

    def add_sheet(self, name: str, sheet_state: str = "visible") -> Sheet:
        """Append a new empty sheet and return it."""

    def copy_sheet(self, sheet: Sheet) -> Sheet:
        """Append a copy of ``sheet`` named "Sheet N" (N its position from 1); it shares the cells."""

    def get_sheet_name(self, name: str) -> Sheet | None:
        """The first sheet whose name is exactly ``name``, or None."""

    def get_sheet_index(self, idx: int) -> Sheet | None:
        """The sheet at position ``idx`` counted from 0, or None (no counting from the end)."""

    def to_json(self) -> str:
        """The workbook as one compact JSON document."""

    def to_dict(self) -> dict[str, Any]:
        """The JSON document parsed by ``json.loads``."""

@final
class Sheet:
    """One worksheet of a workbook: cells, layout, merged ranges, comments and searches."""

    @property
    def name(self) -> str:
        """The sheet's name (settable)."""

    @name.setter
    def name(self, value: str) -> None: ...
    @property
    def sheet_state(self) -> str:
        """The visibility state text, such as "visible" or "hidden"."""

    def set_sheet_state(self, state: str) -> None:
        """Replace the visibility state text."""

    @property
    def max_row(self) -> int:
        """The largest row holding a cell, 0 without cells."""

    @property
    def max_column(self) -> int:
        """The largest column holding a cell, 0 without cells."""

    @property
    def cells(self) -> list[Cell]:
        """New ``Cell`` objects for every cell, by row then column."""

    @property
    def merge_cells(self) -> list[tuple[int, int, int, int]]:
        """Merged ranges as (start_row, end_row, start_col, end_col), in the order added."""

    def add_merge_cells(self, start_row: int, end_row: int, start_col: int, end_col: int) -> None:
        """Append a merged range, stored as given."""

    def add_comment(self, row: int, col: int, text: str, author: str) -> None:
        """Append a comment at (row, col)."""

    @property
    def comments(self) -> list[Comment]:
        """New ``Comment`` objects, in the order added."""

    def cell(self, row: int, col: int, value: str | None = None) -> Cell:
        """The cell at (row, col), created if missing; a given ``value`` text is parsed and assigned."""

    def get_value_cell(self, row: int, col: int) -> str:
        """The value text of the cell at (row, col); "" where there is no cell."""

    def delete_cols(self, idx: int, amount: int) -> None:
        """Remove ``amount`` columns from ``idx`` on and move the later cells left."""

    def delete_rows(self, idx: int, amount: int) -> None:
        """Remove ``amount`` rows from ``idx`` on and move the later cells up."""

    def set_height_row(self, row_num: int, val: float) -> None:
        """Set the height of a row."""

    def set_hidden_row(self, row_num: int, val: bool) -> None:
        """Hide or show a row."""

    def set_width_column(self, col_num: int, val: float) -> None:
        """Set the width of a column."""

    def set_hidden_column(self, col_num: int, val: bool) -> None:
        """Hide or show a column."""

    def get_cells_by_range(
        self,
        start_row: int | None = None,
        end_row: int | None = None,
        start_col: int | None = None,
        end_col: int | None = None,
    ) -> list[Cell]:
        """Cells inside the rectangle, both ends included, by row then column."""

    def get_height_by_row(self, row_num: int) -> float:
        """The row's height, or the sheet's default height."""

    def get_hidden_by_row(self, row_num: int) -> bool:
        """Whether the row is hidden."""

    def get_width_by_column(self, col_num: int) -> float:
        """The column's width, or the sheet's default width."""

    def get_hidden_by_column(self, col_num: int) -> bool:
        """Whether the column is hidden."""

    def find_cell_by_regex(self, regex: str) -> Cell | None:
        """A cell whose value text matches ``regex`` (case-insensitive), or None."""

    def find_cell_by_str(self, value: str) -> Cell | None:
        """A cell whose trimmed value text equals the trimmed ``value``, or None."""

    def find_cell_by_letter(self, letter: str) -> Cell | None:
        """The cell at a letter coordinate such as B7 or $C$12, or None."""

    def find_cells_by_regex(self, regex: str) -> list[Cell]:
        """Cells whose value text matches ``regex`` (case-insensitive), by row then column."""

    def find_cells_by_str(self, value: str) -> list[Cell]:
        """Cells whose trimmed value text equals the trimmed ``value``, by row then column."""

    def find_cells_for_rows_by_regex(self, regex: str, col_stop: int) -> list[Cell]:
        """Cells matching ``regex`` in columns up to ``col_stop``."""

    def find_cells_for_cols_by_regex(self, regex: str, row_stop: int) -> list[Cell]:
        """Cells matching ``regex`` in rows up to ``row_stop``."""

    def find_cells_multi_regex(self, before_regex: str, after_regex: str) -> list[Cell]:
        """Cells from each start marker to its end marker."""

    def find_cells_between_regex(self, before_regex: str, after_regex: str) -> list[Cell]:
        """Cells between a start marker and an end marker."""

    def find_cells_range_rows(self, start_row: int, end_row: int) -> list[Cell]:
        """Cells whose row lies in start_row..end_row."""

    def find_cells_range_cols(self, start_col: int, end_col: int) -> list[Cell]:
        """Cells whose column lies in start_col..end_col."""

    def find_value_by_coords(self, row: int, col: int) -> str | None:
        """The value text of the cell at (row, col), or None where there is no cell."""

@final
class Cell:
    """One cell of a sheet: coordinate, typed value, formula, style and hidden value."""

    @property
    def row(self) -> int:
        """The row number, from 1."""

    @property
    def column(self) -> int:
        """The column number, from 1."""

    @property
    def letter(self) -> str:
        """The letter coordinate, such as B7."""

    @property
    def value(self) -> str:
        """The value text; setting a text parses it into a typed value and removes the formula."""

    @value.setter
    def value(self, value: str) -> None: ...
    @property
    def formula(self) -> str | None:
        """The formula text, or None; setting one makes the data type "f"."""

    @formula.setter
    def formula(self, value: str) -> None: ...
    @property
    def style(self) -> str | None:
        """The caller's style identifier, or None."""

    @style.setter
    def style(self, value: str) -> None: ...
    @property
    def data_type(self) -> str:
        """The data type code: "s", "n", "b", "d" or "f"."""

    @property
    def hidden_value(self) -> str | None:
        """A second, hidden value text, or None."""

    @hidden_value.setter
    def hidden_value(self, value: str) -> None: ...
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

    def set_value_number(self, value: SupportsFloat | SupportsIndex) -> None:
        """Assign a floating-point number (removes the formula)."""

    def set_value_integer(self, value: SupportsIndex) -> None:
        """Assign a 32-bit signed integer (removes the formula)."""

    def set_value_bool(self, value: bool) -> None:
        """Assign a boolean (removes the formula)."""

    def set_value_datetime(self, value: datetime.datetime) -> None:
        """Assign a date-time without tzinfo (removes the formula)."""

@final
class Comment:
    """A comment of a sheet, shared by every sheet that holds it."""

    @property
    def author(self) -> str:
        """The author (settable)."""

    @author.setter
    def author(self, value: str) -> None: ...
    @property
    def text(self) -> str:
        """The comment text (settable)."""

    @text.setter
    def text(self, value: str) -> None: ...
    @property
    def coordinate(self) -> tuple[int, int]:
        """(row, column) of the comment."""

    @property
    def row(self) -> int:
        """The row of the comment."""

    @property
    def column(self) -> int:
        """The column of the comment."""
