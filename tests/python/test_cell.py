"""Cell: properties, setters, typed setters, value parsing and value text."""

import datetime as dt
import inspect

import pytest

from quillmoor import _quillmoor as qm
from conftest import raises_exactly


@pytest.fixture
def cell(sheet):
    return sheet.cell(7, 2)


def state(c):
    """Every readable property of a cell."""
    return (c.row, c.column, c.letter, c.value, c.formula, c.style, c.data_type,
            c.hidden_value, c.is_formula, c.is_value_bool, c.is_value_numeric,
            c.is_value_integer, c.is_value_datetime, c.is_value_empty)


def test_new_cell(cell):
    assert state(cell) == (7, 2, "B7", "", None, None, "s", None,
                           False, False, False, False, False, True)
    assert repr(cell) == "Cell, Coords: Coordinate { row: 7, column: 2 }"


# text, kind flag, data type, value text
PARSING = [
    ("42", "integer", "n", "42"),
    ("+7", "integer", "n", "7"),
    ("007", "integer", "n", "7"),
    ("-2147483648", "integer", "n", "-2147483648"),
    ("2147483647", "integer", "n", "2147483647"),
    ("2147483648", "numeric", "n", "2147483648"),
    ("-2147483649", "numeric", "n", "-2147483649"),
    ("1e3", "numeric", "n", "1000"),
    ("1.50", "numeric", "n", "1.5"),
    ("12.5", "numeric", "n", "12.5"),
    (".5", "numeric", "n", "0.5"),
    ("5.", "numeric", "n", "5"),
    ("-0.0", "numeric", "n", "-0"),
    ("1E-7", "numeric", "n", "0.0000001"),
    ("1e20", "numeric", "n", "100000000000000000000"),
    ("1e400", "numeric", "n", "inf"),
    ("-inf", "numeric", "n", "-inf"),
    ("Infinity", "numeric", "n", "inf"),
    ("NaN", "numeric", "n", "NaN"),
    ("nan", "numeric", "n", "NaN"),
    ("TRUE", "bool", "b", "true"),
    ("tRuE", "bool", "b", "true"),
    ("False", "bool", "b", "false"),
    ("falſe", "bool", "b", "false"),  # long s upper-cases to S (full case mapping)
    ("", "empty", "s", ""),
    ("2024-01-31 23:59:59", "datetime", "d", "2024-01-31 23:59:59"),
    ("2024-02-29 00:00:00", "datetime", "d", "2024-02-29 00:00:00"),
    # text: everything else, kept exactly
    ("2024-01-31", "text", "s", "2024-01-31"),
    ("2024-01-31 23:59:59.5", "text", "s", "2024-01-31 23:59:59.5"),
    ("2024-02-30 10:00:00", "text", "s", "2024-02-30 10:00:00"),
    ("2023-02-29 10:00:00", "text", "s", "2023-02-29 10:00:00"),
    ("2024-01-31 23:59:59x", "text", "s", "2024-01-31 23:59:59x"),
    ("-", "text", "s", "-"),
    ("+", "text", "s", "+"),
    ("+-1", "text", "s", "+-1"),
    (" 1", "text", "s", " 1"),
    ("1 ", "text", "s", "1 "),
    ("1,5", "text", "s", "1,5"),
    ("e5", "text", "s", "e5"),
    (" true", "text", "s", " true"),
    ("truth", "text", "s", "truth"),
    ("Hello", "text", "s", "Hello"),
    ("Привет", "text", "s", "Привет"),
    ("a\x00b", "text", "s", "a\x00b"),
]

KIND_FLAGS = {
    "bool": "is_value_bool", "numeric": "is_value_numeric", "integer": "is_value_integer",
    "datetime": "is_value_datetime", "empty": "is_value_empty",
}


def kind_of(c):
    kinds = [k for k, attr in KIND_FLAGS.items() if getattr(c, attr)]
    assert len(kinds) <= 1
    return kinds[0] if kinds else "text"


@pytest.mark.parametrize("text, kind, code, value_text", PARSING)
def test_value_setter_parses(cell, sheet, text, kind, code, value_text):
    cell.style = "st"
    cell.hidden_value = "hv"
    cell.formula = "=A1"
    cell.value = text
    assert kind_of(cell) == kind
    assert cell.data_type == code
    assert cell.value == value_text
    assert cell.formula is None and not cell.is_formula
    assert cell.style == "st" and cell.hidden_value == "hv"
    # Sheet.cell parses the same way.
    other = sheet.cell(1, 1, text)
    assert (kind_of(other), other.data_type, other.value) == (kind, code, value_text)


@pytest.mark.parametrize("text", ["truе", "ＴＲＵＥ"])  # Cyrillic e; full-width letters
def test_lookalike_booleans_stay_text(cell, text):
    cell.value = text
    assert (cell.data_type, cell.value, cell.is_value_bool) == ("s", text, False)


def test_formula(cell):
    cell.value = "12"
    cell.formula = "=SUM(A1:A3)"
    assert (cell.value, cell.formula, cell.data_type, cell.is_formula) == (
        "12", "=SUM(A1:A3)", "f", True)
    assert cell.is_value_integer  # the value is kept
    cell.set_value_bool(True)
    assert (cell.formula, cell.is_formula, cell.data_type) == (None, False, "b")


def test_style_and_hidden_value(cell):
    cell.style = "bold"
    cell.hidden_value = "secret"
    cell.style = ""
    assert (cell.style, cell.hidden_value, cell.value, cell.data_type) == ("", "secret", "", "s")


NUMBERS = [
    (3, "3"), (0.1, "0.1"), (2.0, "2"), (2.5, "2.5"), (-0.0, "-0"), (1e20, "1" + "0" * 20),
    (1e23, "1" + "0" * 23), (1e-7, "0.0000001"), (5e-324, "0." + "0" * 323 + "5"),
    (1.5e300, "15" + "0" * 299), (float("inf"), "inf"), (float("-inf"), "-inf"),
    (float("nan"), "NaN"), (True, "1"), (123456789.125, "123456789.125"),
    (0.30000000000000004, "0.30000000000000004"),
]


@pytest.mark.parametrize("number, text", NUMBERS)
def test_set_value_number(cell, number, text):
    cell.formula = "=X"
    cell.set_value_number(number)
    assert cell.value == text
    assert (cell.data_type, cell.is_value_numeric, cell.is_value_integer, cell.formula) == (
        "n", True, False, None)


class F:
    def __float__(self):
        return 4.25


class I:
    def __index__(self):
        return 9


def test_set_value_number_conversions(cell):
    cell.set_value_number(F())
    assert cell.value == "4.25"
    cell.set_value_number(I())
    assert cell.value == "9"
    cell.set_value_number(value=1.5)
    assert cell.value == "1.5"


@pytest.mark.parametrize("number, text", [
    (0, "0"), (-12, "-12"), (2**31 - 1, "2147483647"), (-2**31, "-2147483648"),
    (True, "1"), (I(), "9"),
])
def test_set_value_integer(cell, number, text):
    cell.set_value_integer(number)
    assert (cell.value, cell.data_type, cell.is_value_integer, cell.is_value_numeric) == (
        text, "n", True, False)


@pytest.mark.parametrize("flag, text", [(True, "true"), (False, "false")])
def test_set_value_bool(cell, flag, text):
    cell.set_value_bool(flag)
    assert (cell.value, cell.data_type, cell.is_value_bool) == (text, "b", True)


@pytest.mark.parametrize("value, text", [
    (dt.datetime(2024, 1, 2, 3, 4, 5, 600000), "2024-01-02 03:04:05.600"),
    (dt.datetime(2024, 3, 5, 7, 8, 9, 500000), "2024-03-05 07:08:09.500"),
    (dt.datetime(2024, 3, 5, 7, 8, 9, 123), "2024-03-05 07:08:09.000123"),
    (dt.datetime(2024, 3, 5, 7, 8, 9, 120), "2024-03-05 07:08:09.000120"),
    (dt.datetime(2024, 3, 5, 7, 8, 9), "2024-03-05 07:08:09"),
    (dt.datetime(1, 1, 1), "0001-01-01 00:00:00"),
    (dt.datetime(9999, 12, 31, 23, 59, 59, 999999), "9999-12-31 23:59:59.999999"),
])
def test_set_value_datetime(cell, value, text):
    cell.set_value_datetime(value)
    assert (cell.value, cell.data_type, cell.is_value_datetime) == (text, "d", True)


def test_set_value_datetime_subclass(cell):
    class D(dt.datetime):
        pass

    cell.set_value_datetime(D(2020, 5, 6, 7, 8, 9))
    assert cell.value == "2020-05-06 07:08:09"


@pytest.mark.parametrize("name", [
    "set_value_number", "set_value_integer", "set_value_bool", "set_value_datetime"])
def test_typed_setter_signatures(cell, name):
    method = getattr(cell, name)
    assert method.__text_signature__ == "($self, value)"
    assert str(inspect.signature(method)) == "(value)"
    with raises_exactly(TypeError, f"Cell.{name}() missing 1 required positional argument: 'value'"):
        method()
    with raises_exactly(TypeError, f"Cell.{name}() got an unexpected keyword argument 'v'"):
        method(v=1)


UTC = dt.timezone.utc

FAILURES = [
    # (action, exception, exact message or None for the interpreter's own)
    (lambda c: setattr(c, "value", 5), TypeError,
     "argument 'value': 'int' object cannot be cast as 'str'"),
    (lambda c: setattr(c, "value", None), TypeError,
     "argument 'value': 'NoneType' object cannot be cast as 'str'"),
    (lambda c: setattr(c, "formula", None), TypeError,
     "argument 'value': 'NoneType' object cannot be cast as 'str'"),
    (lambda c: setattr(c, "style", 1.5), TypeError,
     "argument 'value': 'float' object cannot be cast as 'str'"),
    (lambda c: setattr(c, "hidden_value", b"x"), TypeError,
     "argument 'value': 'bytes' object cannot be cast as 'str'"),
    (lambda c: c.set_value_number("1"), TypeError, "argument 'value': must be real number, not str"),
    (lambda c: c.set_value_number(None), TypeError,
     "argument 'value': must be real number, not NoneType"),
    (lambda c: c.set_value_number(10**400), OverflowError, "int too large to convert to float"),
    (lambda c: c.set_value_integer(2**31), OverflowError, None),
    (lambda c: c.set_value_integer(-2**31 - 1), OverflowError, None),
    (lambda c: c.set_value_integer(1.5), TypeError,
     "argument 'value': 'float' object cannot be interpreted as an integer"),
    (lambda c: c.set_value_integer("1"), TypeError,
     "argument 'value': 'str' object cannot be interpreted as an integer"),
    (lambda c: c.set_value_bool(1), TypeError,
     "argument 'value': 'int' object cannot be cast as 'bool'"),
    (lambda c: c.set_value_bool(None), TypeError,
     "argument 'value': 'NoneType' object cannot be cast as 'bool'"),
    (lambda c: c.set_value_datetime(dt.date(2024, 1, 1)), TypeError,
     "argument 'value': 'date' object cannot be cast as 'datetime'"),
    (lambda c: c.set_value_datetime("2024-01-01 00:00:00"), TypeError,
     "argument 'value': 'str' object cannot be cast as 'datetime'"),
    (lambda c: c.set_value_datetime(dt.datetime(2024, 1, 1, tzinfo=UTC)), TypeError,
     "argument 'value': expected a datetime without tzinfo"),
    (lambda c: c.set_value_datetime(value=dt.datetime(2024, 1, 1, tzinfo=UTC)), TypeError,
     "argument 'value': expected a datetime without tzinfo"),
]


@pytest.mark.parametrize("action, exc, message", FAILURES)
def test_failures_change_nothing(book, sheet, action, exc, message):
    c = sheet.cell(3, 4, "keep")
    c.formula = "=B2"
    c.style = "s1"
    c.hidden_value = "h1"
    before = (state(c), book.to_json())
    with pytest.raises(exc) as e:
        action(c)
    assert type(e.value) is exc
    if message is not None:
        assert str(e.value) == message
    assert (state(c), book.to_json()) == before


@pytest.mark.parametrize("name", ["value", "formula", "style", "hidden_value"])
def test_delete_settable_property(cell, name):
    before = state(cell)
    with raises_exactly(AttributeError, "can't delete attribute"):
        delattr(cell, name)
    assert state(cell) == before


@pytest.mark.parametrize("name", [
    "row", "column", "letter", "data_type", "is_formula", "is_value_bool", "is_value_numeric",
    "is_value_integer", "is_value_datetime", "is_value_empty"])
def test_read_only_properties(cell, name):
    before = state(cell)
    with pytest.raises(AttributeError):
        setattr(cell, name, "x")
    with pytest.raises(AttributeError):
        delattr(cell, name)
    assert state(cell) == before


@pytest.mark.parametrize("row, col, letter", [
    (7, 2, "B7"), (3, 0, "3"), (0, 3, "C0"), (4294967295, 65535, "CRXO4294967295"), (1, 27, "AA1")])
def test_letter_and_repr(sheet, row, col, letter):
    c = sheet.cell(row, col)
    assert c.letter == letter
    assert repr(c) == f"Cell, Coords: Coordinate {{ row: {row}, column: {col} }}"


def test_two_handles_share_one_record(sheet):
    a = sheet.cell(2, 3)
    b = sheet.cell(2, 3)
    assert a is not b
    a.value = "x"
    assert b.value == "x" and sheet.get_value_cell(2, 3) == "x"
    b.set_value_integer(5)
    assert a.is_value_integer and a.value == "5"
    assert a != b  # no equality of their own: identity only
    assert a == a
    assert b not in {a: 1}  # hashed by identity


def test_cell_has_no_ordering(cell):
    with pytest.raises(TypeError):
        cell < cell  # noqa: B015
