"""The module surface: attributes, classes, functions and the binding rules
shared by every callable."""

import importlib
import inspect
import sys

import pytest

import quillmoor
from quillmoor import _quillmoor as qm
from conftest import raises_exactly

ALL = [
    "__version__", "Service", "Book", "Sheet", "Cell", "Comment", "version",
    "column_number_to_letter", "get_letter_coordinate", "DEFAULT_ROW_HEIGHT",
    "DEFAULT_COLUMN_WIDTH", "readable",
]


def test_module_attributes():
    assert qm.__all__ == ALL
    assert qm.__name__ == "_quillmoor"
    assert qm.__doc__ == ""
    assert qm.__version__ == "0.12.3"
    assert qm.version() == "0.12.3"
    assert qm.DEFAULT_ROW_HEIGHT == 20.0 and type(qm.DEFAULT_ROW_HEIGHT) is float
    assert qm.DEFAULT_COLUMN_WIDTH == 22.5 and type(qm.DEFAULT_COLUMN_WIDTH) is float
    # Attributes are added in the order of __all__.
    names = [n for n in vars(qm) if n in ALL]
    assert names == ALL


def test_readable_submodule():
    assert qm.readable.__name__ == "readable"
    assert sys.modules["quillmoor.readable"] is qm.readable
    assert quillmoor.readable is qm.readable


def test_version_signature_and_doc():
    assert qm.version.__text_signature__ == "()"
    assert qm.version.__doc__ == (
        "Returns the version of the underlying vostrel library.\n\n"
        "Returns\n-------\nversion : str\n  The version of the underlying vostrel library.\n")
    # The interpreter itself refuses arguments to a no-argument function.
    with pytest.raises(TypeError, match=r"version\(\) takes no arguments \(1 given\)$"):
        qm.version(1)


def test_reimport_returns_identical_module():
    saved = sys.modules.pop("quillmoor._quillmoor")
    try:
        again = importlib.import_module("quillmoor._quillmoor")
        assert again is saved
    finally:
        sys.modules["quillmoor._quillmoor"] = saved


CLASSES = ["Service", "Book", "Sheet", "Cell", "Comment"]


@pytest.mark.parametrize("name", CLASSES)
def test_class_names(name):
    cls = getattr(qm, name)
    assert cls.__module__ == "quillmoor"
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert repr(cls) == f"<class 'quillmoor.{name}'>"


@pytest.mark.parametrize("name", ["Sheet", "Cell", "Comment"])
def test_no_constructor(name):
    with raises_exactly(TypeError, f"cannot create 'quillmoor.{name}' instances"):
        getattr(qm, name)()
    assert getattr(qm, name).__doc__ in ("", None)


@pytest.mark.parametrize("name", ["Book", "Sheet", "Cell", "Comment"])
def test_not_subclassable(name):
    with raises_exactly(TypeError, f"type 'quillmoor.{name}' is not an acceptable base type"):
        type("X", (getattr(qm, name),), {})


def test_service_subclassable():
    class R(qm.Service):
        pass

    r = R(None)
    assert isinstance(r, qm.Service)
    r.extra = 1  # a Python subclass gets a __dict__
    assert r.__dict__ == {"extra": 1}


def test_no_dict_or_weakref_on_native_instances():
    b = qm.Book()
    s = b.add_sheet("a")
    c = s.cell(1, 1)
    s.add_comment(1, 1, "t", "a")
    com = s.comments[0]
    for obj in (b, qm.Service(None), s, c, com):
        assert not hasattr(obj, "__dict__")
        with pytest.raises(AttributeError):
            obj.anything = 1
        with pytest.raises(TypeError, match="cannot create weak reference"):
            import weakref
            weakref.ref(obj)


def test_constructor_signatures():
    assert str(inspect.signature(qm.Book)) == "()"
    assert str(inspect.signature(qm.Service)) == "(conn_db)"
    assert qm.Book.__text_signature__ == "()"
    assert qm.Service.__text_signature__ == "(conn_db)"


# ---- column letters and letter coordinates ----------------------------------------

@pytest.mark.parametrize("col, letters", [
    (0, ""), (1, "A"), (2, "B"), (26, "Z"), (27, "AA"), (52, "AZ"), (53, "BA"),
    (702, "ZZ"), (703, "AAA"), (16384, "XFD"), (18278, "ZZZ"), (18279, "AAAA"),
    (65535, "CRXO"),
])
def test_column_number_to_letter(col, letters):
    assert qm.column_number_to_letter(col) == letters
    assert qm.column_number_to_letter(col=col) == letters


@pytest.mark.parametrize("row, col, text", [
    (7, 2, "B7"), (10, 27, "AA10"), (5, 0, "5"), (3, 0, "3"), (0, 3, "C0"), (1, 1, "A1"),
    (4294967295, 1, "A4294967295"), (1, 65535, "CRXO1"),
])
def test_get_letter_coordinate(row, col, text):
    assert qm.get_letter_coordinate(row, col) == text
    assert qm.get_letter_coordinate(col=col, row=row) == text


def test_coordinate_functions_introspection():
    f, g = qm.column_number_to_letter, qm.get_letter_coordinate
    assert f.__doc__ == "Преобразование номера колонки в букву."
    assert g.__doc__ == "Преобразование номера колонки в координату."
    assert str(inspect.signature(f)) == "(col)"
    assert str(inspect.signature(g)) == "(row, col)"
    assert f.__module__ == "_quillmoor"


class Idx:
    def __index__(self):
        return 27


def test_coordinate_functions_accept_index():
    assert qm.column_number_to_letter(Idx()) == "AA"
    assert qm.column_number_to_letter(True) == "A"


RANGE = "out of range integral type conversion attempted"


@pytest.mark.parametrize("call, exc, message", [
    (lambda: qm.column_number_to_letter(65536), OverflowError, RANGE),
    (lambda: qm.column_number_to_letter(-1), OverflowError, RANGE),
    (lambda: qm.column_number_to_letter(2**70), OverflowError, None),
    (lambda: qm.column_number_to_letter("1"), TypeError,
     "argument 'col': 'str' object cannot be interpreted as an integer"),
    (lambda: qm.column_number_to_letter(1.0), TypeError,
     "argument 'col': 'float' object cannot be interpreted as an integer"),
    (lambda: qm.get_letter_coordinate(4294967296, 1), OverflowError, RANGE),
    (lambda: qm.get_letter_coordinate(-1, 1), OverflowError,
     "can't convert negative int to unsigned"),
    (lambda: qm.get_letter_coordinate(1, 65536), OverflowError, RANGE),
    (lambda: qm.get_letter_coordinate(1, -1), OverflowError, RANGE),
    (lambda: qm.get_letter_coordinate(2**64, 1), OverflowError, None),
])
def test_coordinate_function_errors(call, exc, message):
    with pytest.raises(exc) as e:
        call()
    if message is not None:
        assert str(e.value) == message
    assert type(e.value) is exc


# ---- binding messages, shown on a few callables ---------------------------------------

def _book_and_sheet():
    b = qm.Book()
    return b, b.add_sheet("S")


@pytest.mark.parametrize("call, message", [
    # unexpected keyword
    (lambda b, s: b.add_sheet("a", colour=1),
     "Book.add_sheet() got an unexpected keyword argument 'colour'"),
    (lambda b, s: qm.Book(x=1), "Book.__new__() got an unexpected keyword argument 'x'"),
    (lambda b, s: qm.column_number_to_letter(column=1),
     "column_number_to_letter() got an unexpected keyword argument 'column'"),
    # multiple values
    (lambda b, s: b.add_sheet("a", name="b"),
     "Book.add_sheet() got multiple values for argument 'name'"),
    (lambda b, s: s.cell(1, 2, row=3), "Sheet.cell() got multiple values for argument 'row'"),
    # too many positionals
    (lambda b, s: qm.Book(1), "Book.__new__() takes 0 positional arguments but 1 was given"),
    (lambda b, s: qm.Service(1, 2),
     "Service.__new__() takes 1 positional arguments but 2 were given"),
    (lambda b, s: s.get_value_cell(1, 2, 3),
     "Sheet.get_value_cell() takes 2 positional arguments but 3 were given"),
    (lambda b, s: b.add_sheet("a", "b", "c"),
     "Book.add_sheet() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda b, s: s.cell(1, 2, "3", "4"),
     "Sheet.cell() takes from 2 to 3 positional arguments but 4 were given"),
    (lambda b, s: s.get_cells_by_range(1, 2, 3, 4, 5),
     "Sheet.get_cells_by_range() takes from 0 to 4 positional arguments but 5 were given"),
    (lambda b, s: qm.Service(None)._fmt_0(1),
     "Service._fmt_0() takes 0 positional arguments but 1 was given"),
    (lambda b, s: qm.column_number_to_letter(1, 2),
     "column_number_to_letter() takes 1 positional arguments but 2 were given"),
    # missing arguments
    (lambda b, s: b.add_sheet(), "Book.add_sheet() missing 1 required positional argument: 'name'"),
    (lambda b, s: s.get_value_cell(),
     "Sheet.get_value_cell() missing 2 required positional arguments: 'row' and 'col'"),
    (lambda b, s: s.add_comment(1),
     "Sheet.add_comment() missing 3 required positional arguments: 'col', 'text', and 'author'"),
    (lambda b, s: s.add_merge_cells(),
     "Sheet.add_merge_cells() missing 4 required positional arguments: "
     "'start_row', 'end_row', 'start_col', and 'end_col'"),
    (lambda b, s: s.add_comment(1, text="t"),
     "Sheet.add_comment() missing 2 required positional arguments: 'col' and 'author'"),
    (lambda b, s: qm.get_letter_coordinate(col=1),
     "get_letter_coordinate() missing 1 required positional argument: 'row'"),
    (lambda b, s: qm.Service(),
     "Service.__new__() missing 1 required positional argument: 'conn_db'"),
    # a keyword named like the positional-only parameter goes into **kwargs
    (lambda b, s: qm.Service(None).summary_0(sheets=[]),
     "Service.summary_0() missing 1 required positional argument: 'sheets'"),
    # conversion errors name the argument
    (lambda b, s: b.add_sheet(5), "argument 'name': 'int' object cannot be cast as 'str'"),
    (lambda b, s: b.add_sheet("a", sheet_state=None),
     "argument 'sheet_state': 'NoneType' object cannot be cast as 'str'"),
    (lambda b, s: b.copy_sheet("x"), "argument 'sheet': 'str' object cannot be cast as 'Sheet'"),
    (lambda b, s: b.copy_sheet(b), "argument 'sheet': 'Book' object cannot be cast as 'Sheet'"),
    (lambda b, s: b.get_sheet_index("1"),
     "argument 'idx': 'str' object cannot be interpreted as an integer"),
    (lambda b, s: qm.Service(None).summary_0((1,)),
     "argument 'sheets': 'tuple' object cannot be cast as 'list'"),
    (lambda b, s: s.cell(1, 1, 5), "argument 'value': 'int' object cannot be cast as 'str'"),
    (lambda b, s: s.set_height_row(1, "x"), "argument 'val': must be real number, not str"),
    (lambda b, s: s.set_hidden_row(1, 1), "argument 'val': 'int' object cannot be cast as 'bool'"),
])
def test_binding_messages(call, message):
    b, s = _book_and_sheet()
    s.cell(1, 1, "keep")
    before = b.to_json()
    with raises_exactly(TypeError, message):
        call(b, s)
    assert b.to_json() == before


def test_conversion_error_is_not_chained():
    b = qm.Book()
    try:
        b.add_sheet(5)
    except TypeError as e:
        assert e.__cause__ is None
        assert e.__context__ is None
    else:
        pytest.fail("no error")
    # Raised while another exception is being handled: no conversion error
    # shows up in the chain either.
    try:
        try:
            raise KeyError("outer")
        except KeyError:
            b.add_sheet(5)
    except TypeError as e:
        assert e.__cause__ is None
        # The handled exception is the context, as for any error raised there.
        assert repr(e.__context__) == "KeyError('outer')"


def test_other_conversion_errors_pass_unchanged():
    class Bad:
        def __index__(self):
            raise ValueError("no index here")

    s = qm.Book().add_sheet("a")
    with raises_exactly(ValueError, "no index here"):
        s.cell(Bad(), 1)
    assert s.cells == []


@pytest.mark.parametrize("idx, expect", [
    (2**31 - 1, None), (-2**31, None), (-1, None), (0, "first"),
])
def test_int32_range(idx, expect):
    b = qm.Book()
    b.add_sheet("first")
    got = b.get_sheet_index(idx)
    assert (got.name if got else None) == expect


@pytest.mark.parametrize("idx", [2**31, -2**31 - 1, 2**40, -2**63, 2**70])
def test_int32_overflow(idx):
    b = qm.Book()
    b.add_sheet("first")
    with pytest.raises(OverflowError):
        b.get_sheet_index(idx)
    with pytest.raises(OverflowError):
        b.get_sheet_index(idx=idx)


@pytest.mark.parametrize("method, args", [
    ("cell", (4294967295, 65535)), ("cell", (0, 0)),
    ("get_value_cell", (4294967295, 65535)),
])
def test_unsigned_limits_accepted(method, args):
    s = qm.Book().add_sheet("a")
    getattr(s, method)(*args)


def test_method_on_wrong_receiver():
    # The interpreter's descriptors refuse a foreign receiver before the
    # call reaches the method; either way it is a TypeError.
    b = qm.Book()
    with pytest.raises(TypeError):
        qm.Sheet.cell(b, 1, 1)
    with pytest.raises(TypeError):
        qm.Book.to_json(1)
    with pytest.raises(TypeError):
        qm.Cell.value.__get__(b)
    with pytest.raises(TypeError):
        qm.Service.summary_0(b, [])
