"""Adaptation of foreign cells and sheets into records, seen through the
readable searches: field lookup, value kinds, lenient coordinates, the adapted
value rule, the sheet adapter and the list conversions, including objects that
raise or mutate the list being converted."""
import datetime
import decimal
import math
import resource

import pytest

from quillmoor import readable


def fcell(row=1, column=1, value="x", data_type="s", formula=None, style_id=None):
    return {"row": row, "column": column, "value": value, "formula": formula,
            "data_type": data_type, "style_id": style_id}


class Obj:
    def __init__(self, **fields):
        self.__dict__.update(fields)


def fsheet(cells=(), name="S", sheet_state="visible", merge_cells=None):
    return {"name": name, "sheet_state": sheet_state, "merge_cells": merge_cells,
            "cells": list(cells)}


def one(foreign):
    """The ReadableCell made from one foreign cell."""
    (cell,) = readable.find_cells_range_rows(0, 2**32 - 1, [foreign])
    return cell


class Boom(Exception):
    pass


# ---- field lookup --------------------------------------------------------------------

class DictWithItemHook(dict):
    def __getitem__(self, key):
        return "7" if key == "row" else super().__getitem__(key)


class MappingNotDict:
    """A mapping that is no dict subclass is read by attribute access."""
    def __init__(self, d):
        self._d = d

    def __getitem__(self, key):
        return self._d[key]

    def __getattr__(self, name):
        if name == "row":
            return 9
        raise AttributeError(name)


def test_dict_object_and_dict_subclass_are_read_alike():
    as_dict = one(fcell(2, 3, "x"))
    as_obj = one(Obj(**fcell(2, 3, "x")))
    assert (as_dict.row, as_dict.column, as_dict.value) == (2, 3, "x")
    assert (as_obj.row, as_obj.column, as_obj.value) == (2, 3, "x")
    # a dict subclass goes through its own __getitem__
    assert one(DictWithItemHook(fcell(2, 3))).row == 7


def test_a_mapping_that_is_not_a_dict_is_read_by_attribute():
    m = MappingNotDict(fcell())
    with pytest.raises(AttributeError):
        readable.find_cells_by_str("x", [m])


@pytest.mark.parametrize("foreign, exc", [
    ({k: v for k, v in fcell().items() if k != "style_id"}, KeyError),
    (Obj(**{k: v for k, v in fcell().items() if k != "style_id"}), AttributeError),
])
def test_missing_field_raises_the_lookup_error(foreign, exc):
    with pytest.raises(exc, match="style_id"):
        readable.find_cell_by_str("x", [fcell(), foreign])


class RaisingGetattr:
    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        raise Boom(name)


class RaisingProperty:
    row = 1
    column = 1

    @property
    def value(self):
        raise Boom("value property")


class RaisingGetitem(dict):
    def __getitem__(self, key):
        raise Boom(key)


class RaisingStr:
    def __str__(self):
        raise Boom("str")


@pytest.mark.parametrize("foreign", [
    RaisingGetattr(),
    RaisingProperty(),
    RaisingGetitem(fcell()),
    fcell(value=RaisingStr()),
    fcell(value=[1, RaisingStr()]),
    Obj(**fcell(style_id=RaisingStr())),
])
def test_exceptions_from_foreign_code_pass_unchanged(foreign):
    with pytest.raises(Boom):
        readable.find_cells_by_regex("x", [fcell(), foreign])
    with pytest.raises(Boom):
        readable.Finder([fsheet([foreign])])


class Recording:
    """Logs every field read; fails on `fail_on`."""
    def __init__(self, fail_on=None):
        self.reads = []
        self.fail_on = fail_on

    def __getattr__(self, name):
        self.reads.append(name)
        if name == self.fail_on:
            raise Boom(name)
        return fcell()[name]


def test_fields_are_read_once_in_order_and_a_failure_stops_the_reading():
    ok = Recording()
    readable.find_cells_by_str("x", [ok])
    assert ok.reads == ["row", "column", "value", "formula", "data_type", "style_id"]
    bad = Recording(fail_on="value")
    with pytest.raises(Boom):
        readable.find_cells_by_str("x", [bad])
    assert bad.reads == ["row", "column", "value"]


def test_sheet_fields_are_read_once_in_order():
    reads = []

    class Sheet:
        def __getattr__(self, name):
            reads.append(name)
            return fsheet([fcell()])[name]

    readable.Finder([Sheet()])
    assert reads == ["name", "sheet_state", "merge_cells", "cells"]


# ---- lenient row and column readings ---------------------------------------------------

class FloatSub(float):
    pass


class IntSub(int):
    pass


class StrSub(str):
    def __str__(self):
        return "999"  # never called: a str subclass gives its own text


@pytest.mark.parametrize("given, row", [
    ("12", 12), ("+12", 12), ("007", 7), ("-12", 0), (" 12", 0), ("12 ", 0), ("12.0", 0),
    ("abc", 0), ("", 0), ("+", 0), ("++1", 0), ("4294967295", 4294967295), ("4294967296", 0),
    ("99999999999999999999999", 0), (StrSub("12"), 12),
    (12.9, 12), (-3.5, 0), (1e12, 4294967295), (math.nan, 0), (math.inf, 4294967295),
    (-math.inf, 0), (FloatSub(7.9), 7),
    (True, 1), (False, 0), (-1, 4294967295), (4294967296, 0), (4294967301, 5), (IntSub(8), 8),
    (2**63 - 1, 4294967295), (-2**63, 0),
    (None, 0), ([5], 0), ((5,), 0), (decimal.Decimal("12"), 12),
])
def test_row_reading(given, row):
    assert one(fcell(row=given)).row == row


@pytest.mark.parametrize("given, column", [
    (65535, 65535), (65536, 0), (65537, 1), (-1, 65535), (70000.0, 65535), (2.9, 2),
    ("65535", 65535), ("65536", 0), (True, 1), (None, 0),
])
def test_column_reading(given, column):
    assert one(fcell(column=given)).column == column


@pytest.mark.parametrize("field", ["row", "column", "value", "formula", "data_type", "style_id"])
@pytest.mark.parametrize("huge", [2**64, -2**63 - 1, [1, [2**70]]])
def test_an_int_beyond_64_bits_raises_overflow_anywhere(field, huge):
    with pytest.raises(OverflowError):
        readable.find_cells_by_str("x", [fcell(**{field: huge})])


@pytest.mark.parametrize("field", ["value", "formula", "data_type", "style_id", "row"])
def test_a_lone_surrogate_raises_unicode_encode_error(field):
    with pytest.raises(UnicodeEncodeError):
        readable.find_cells_by_str("x", [fcell(**{field: "a\ud800b"})])


def test_a_list_that_contains_itself_raises_recursion_error():
    loop = [1]
    loop.append(loop)
    with pytest.raises(RecursionError):
        readable.find_cells_by_str("x", [fcell(value=loop)])


# ---- the adapted value rule ----------------------------------------------------------------

@pytest.mark.parametrize("value, data_type, text, kind", [
    (None, "s", "", "empty"),
    (None, "n", "", "empty"),
    ("", "s", "", "text"),
    ("", "n", "", "empty"),
    (3.0, "n", "3", "integer"),
    (2.5, "n", "2.5", "numeric"),
    (2**40, "n", "1099511627776", "numeric"),
    (1e20, "n", "100000000000000000000", "numeric"),
    (0.1, "s", "0.1", "text"),
    (math.nan, "s", "NaN", "text"),
    (-math.inf, "s", "-inf", "text"),
    ("007", "s", "007", "text"),
    ("007", "n", "7", "integer"),
    (True, "b", "true", "bool"),
    (True, "s", "true", "text"),
    ("TRUE", "n", "true", "bool"),
    ([1, "a", None], "s", "[1, a, ]", "text"),
    ([1, "a", None, [2.5]], "n", "[1, a, , [2.5]]", "text"),
    ((1, "a"), "s", "(1, 'a')", "text"),
    (decimal.Decimal("1.50"), "n", "1.5", "numeric"),
    (datetime.datetime(2024, 1, 31, 23, 59, 59), "d", "2024-01-31 23:59:59", "datetime"),
    (datetime.datetime(2024, 1, 31, 23, 59, 59, 5), "d", "2024-01-31 23:59:59.000005", "text"),
    ("12", None, "12", "integer"),
])
def test_adapted_value_rule(value, data_type, text, kind):
    c = one(fcell(value=value, data_type=data_type))
    assert c.value == text
    kinds = {"empty": c.is_value_empty, "integer": c.is_value_integer,
             "numeric": c.is_value_numeric, "bool": c.is_value_bool,
             "datetime": c.is_value_datetime}
    assert {k for k, v in kinds.items() if v} == ({kind} if kind != "text" else set())


def test_other_fields_keep_their_text_forms():
    c = one(fcell(value=1, data_type="weird", formula=2.0, style_id=True))
    assert (c.data_type, c.formula, c.style) == ("weird", "2", "true")
    c = one(fcell(data_type=None))
    assert (c.data_type, c.formula, c.style) == ("", None, None)
    assert one(fcell(formula="=A1", data_type="f")).is_formula
    assert not one(fcell(formula="=A1", data_type="n")).is_formula


# ---- the sheet adapter ------------------------------------------------------------------------

def test_sheet_cells_must_be_a_list_and_the_message_has_no_argument_prefix():
    with pytest.raises(TypeError) as e:
        readable.Finder([{**fsheet(), "cells": (fcell(),)}])
    assert str(e.value) == "'tuple' object cannot be cast as 'list'"


def test_sheet_adapter_keeps_the_last_cell_at_a_coordinate():
    sheet = readable.Finder([fsheet([fcell(1, 1, "first"), fcell(1, 1, "last")], name=5)]).sheets[0]
    assert [c.value for c in sheet.cells] == ["last"]
    assert repr(sheet) == "ReadableSheet (5) cells: 1"
    assert sheet.sheet_state == "visible"
    # the same cells given to a module function are both searched
    assert len(readable.find_cells_by_regex("", [fcell(1, 1, "first"), fcell(1, 1, "last")])) == 2


@pytest.mark.parametrize("merge_cells, ranges", [
    ([[1, 2, 1, 3], [5, 5], 7], [(1, 2, 1, 3), (5, 5, 0, 0), (7, 0, 0, 0)]),
    (([1, 2, 1, 3],), []),
    ([(1, 2, 1, 3)], [(0, 0, 0, 0)]),
    ([[1, 2, 70000, 3, 99]], [(1, 2, 4464, 3)]),
    ([["2", 1.5, True, None]], [(2, 1, 1, 0)]),
    ([[5, 1, 9, 2]], [(5, 1, 9, 2)]),
    ("A1:B2", []),
    (None, []),
])
def test_merge_list_conversion(merge_cells, ranges):
    sheet = readable.Finder([fsheet(merge_cells=merge_cells)]).sheets[0]
    assert sheet.merge_cells == ranges


def test_merge_items_are_read_even_when_unused():
    with pytest.raises(OverflowError):
        readable.Finder([fsheet(merge_cells=[[1, 2, 3, 4, 2**64]])])
    with pytest.raises(Boom):
        readable.Finder([fsheet(merge_cells=RaisingStr())])


def test_a_readable_sheet_given_back_is_adapted_like_any_object():
    f = readable.Finder([fsheet([], merge_cells=[[1, 2, 3, 4]]), fsheet([fcell()])])
    empty, full = f.sheets
    again = readable.Finder([empty]).sheets[0]
    assert again.merge_cells == [(0, 0, 0, 0)]  # tuples read as text
    with pytest.raises(AttributeError, match="style_id"):
        readable.Finder([full])


# ---- list conversions ----------------------------------------------------------------------------

def test_a_readable_cell_in_cells_is_shared_and_a_main_module_cell_is_not_accepted():
    import quillmoor
    found = readable.find_cells_by_regex("x", [fcell(1, 1), fcell(2, 1, "y"), fcell(3, 1)])
    # a ReadableCell has no style_id field: only sharing its record can work
    again = readable.find_cells_by_str("x", found + found)
    assert [c.row for c in again] == [1, 3, 1, 3]
    cell = quillmoor.Book().add_sheet("a").cell(1, 1, "x")
    with pytest.raises(AttributeError):
        readable.find_cells_by_str("x", [cell])


def test_the_first_bad_element_fails_the_whole_call():
    calls = []

    class Late:
        def __getattr__(self, name):
            calls.append(name)
            return fcell()[name]

    with pytest.raises(KeyError):
        readable.find_cell_by_str("x", [fcell(), {}, Late()])
    assert calls == []  # elements after the failing one are not read


class ShrinksList:
    """Its __str__ empties (or grows) the very list being converted."""
    def __init__(self, victim, grow=False):
        self.victim = victim
        self.grow = grow

    def __str__(self):
        if self.grow:
            self.victim.extend(fcell(9, 9) for _ in range(1000))
        else:
            self.victim.clear()
        return "s"


@pytest.mark.parametrize("grow", [False, True])
def test_cells_list_mutated_by_an_element_during_conversion(grow):
    cells = [fcell(1, 1)]
    cells.append(fcell(2, 1, value=ShrinksList(cells, grow)))
    cells.extend(fcell(3, i) for i in range(1, 50))
    hits = readable.find_cells_by_regex("", cells)
    # no crash; every hit is a well-formed cell of the list as it was read
    assert all(c.row in (1, 2, 3, 9) for c in hits)
    assert hits[:2] and [c.row for c in hits[:2]] == [1, 2]


def test_value_list_mutated_by_its_own_element():
    value = ["a"]
    value.append(ShrinksList(value))
    value.append("never")
    c = one(fcell(value=value))
    assert c.value == "[a, s]"


def test_sheet_cells_mutated_by_a_property():
    sheet = fsheet([fcell(1, 1)])

    class Mutator:
        row = 2
        column = 2
        formula = None
        data_type = "s"
        style_id = None

        @property
        def value(self):
            sheet["cells"].clear()
            return "v"

    sheet["cells"].append(Mutator())
    sheet["cells"].append(fcell(3, 3))
    got = readable.Finder([sheet]).sheets[0]
    assert [(c.row, c.value) for c in got.cells] == [(1, "x"), (2, "v")]


class OddLen(list):
    def __len__(self):
        return 10**6


class ZeroLen(list):
    def __len__(self):
        return 0


@pytest.mark.parametrize("kind", [OddLen, ZeroLen])
def test_list_subclass_with_odd_len_uses_its_real_items(kind):
    cells = kind([fcell(1, 1), fcell(2, 1)])
    assert [c.row for c in readable.find_cells_by_str("x", cells)] == [1, 2]
    sheet = readable.Finder(kind([fsheet(cells)])).sheets
    assert [c.row for c in sheet[0].cells] == [1, 2]


def _rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize() // 1024


def test_failed_conversions_leave_nothing_behind():
    good = [fcell(r, 1, "text that is long enough to be stored out of line") for r in range(2000)]
    bad_cells = good + [{}]
    bad_sheets = [fsheet(good), fsheet(bad_cells)]

    def churn():
        for _ in range(50):
            with pytest.raises(KeyError):
                readable.find_cells_by_str("x", bad_cells)
            with pytest.raises(KeyError):
                readable.Finder(bad_sheets)

    churn()  # warm up allocator pools
    before = _rss_kib()
    churn()  # 300,000 records built and dropped
    assert _rss_kib() - before < 8 * 1024


def test_dict_keys_made_at_run_time_are_found():
    import json
    c = one(json.loads('{"row": 4, "column": 2, "value": "j", "formula": null, '
                       '"data_type": "s", "style_id": "7"}'))
    assert (c.letter, c.value, c.style) == ("B4", "j", "7")


def test_a_value_that_edits_its_own_dict_is_seen_by_the_later_fields():
    d = fcell(1, 1)

    class Editor:
        def __str__(self):
            d["data_type"] = "n"
            del d["style_id"]
            return "12"

    d["value"] = Editor()
    with pytest.raises(KeyError, match="style_id"):
        one(d)
    d2 = fcell(1, 1)

    class Retyper:
        def __str__(self):
            d2["data_type"] = "n"
            return "12"

    d2["value"] = Retyper()
    assert one(d2).is_value_integer  # the data type read after the value is the new one
