"""The workbook JSON document: exact text, number, string and date-time
forms, member order and presence, and agreement with to_dict."""

import datetime as dt
import json
import math
from decimal import Decimal

import pytest
from hypothesis import given, settings, strategies as st

from quillmoor import _quillmoor as qm

WORKED = (
    '{"sheets":[{"name":"Report","sheet_state":"visible","merge_cells":[[1,1,1,2]],"cells":['
    '{"row":1,"column":1,"value":"Total","data_type":"s"},'
    '{"row":1,"column":2,"value":1.5,"data_type":"n"},'
    '{"row":2,"column":1,"value":-3,"data_type":"n"},'
    '{"row":2,"column":2,"value":true,"data_type":"b"},'
    '{"row":3,"column":1,"value":"2024-03-05T07:08:09","data_type":"d"},'
    '{"row":3,"column":2,"value":null,"data_type":"s"}],'
    '"row_dimensions":{"rows":{"3":{"row_num":3,"height":30.0,"hidden":false,"collapsed":false,'
    '"level":0}},"default_height":20.0},'
    '"column_dimensions":{"columns":{"2":{"col_num":2,"width":22.5,"hidden":true,'
    '"collapsed":false,"level":0}},"default_width":22.5},'
    '"comments":[{"row":1,"column":1,"author":"auditor","text":"check"}]}]}'
)


def test_worked_example():
    b = qm.Book()
    s = b.add_sheet("Report")
    s.cell(3, 2, "")  # created out of order on purpose
    s.cell(1, 1, "Total")
    s.cell(2, 2).set_value_bool(True)
    s.cell(1, 2, "1.5")
    s.cell(2, 1).set_value_integer(-3)
    s.cell(3, 1).set_value_datetime(dt.datetime(2024, 3, 5, 7, 8, 9))
    s.add_merge_cells(1, 1, 1, 2)
    s.set_height_row(3, 30.0)
    s.set_hidden_column(2, True)
    s.add_comment(1, 1, "check", "auditor")
    assert b.to_json() == WORKED
    assert b.to_dict() == json.loads(WORKED)
    svc = qm.Service(None)
    svc._copy_sheet(s).name = "Report"
    assert svc.to_json() == WORKED


def test_empty_workbook():
    assert qm.Book().to_json() == '{"sheets":[]}'
    assert qm.Book().to_dict() == {"sheets": []}
    assert qm.Service(None).to_json() == '{"sheets":[]}'


def test_new_sheet_text():
    b = qm.Book()
    b.add_sheet("Data")
    assert b.to_json() == (
        '{"sheets":[{"name":"Data","sheet_state":"visible","merge_cells":[],"cells":[],'
        '"row_dimensions":{"default_height":20.0},"column_dimensions":{"default_width":22.5},'
        '"comments":[]}]}')


def one_value(setter):
    b = qm.Book()
    c = b.add_sheet("s").cell(1, 1)
    setter(c)
    text = b.to_json()
    start = text.index('"value":') + len('"value":')
    return text[start:text.index(',"data_type"', start)]


@pytest.mark.parametrize("number, form", [
    (1.0, "1.0"), (0.0, "0.0"), (-0.0, "-0.0"), (20.0, "20.0"), (1500.0, "1500.0"),
    (1.5, "1.5"), (-2.25, "-2.25"), (0.5, "0.5"),
    (1e15, "1000000000000000.0"), (9.999999999999998e15, "9999999999999998.0"),
    (1e16, "1e+16"), (1.2345678901234568e+17, "1.2345678901234568e+17"),
    (123456789012345.6, "123456789012345.6"),
    (0.00001, "0.00001"), (0.000012345, "0.000012345"), (9.99999e-6, "9.99999e-6"),
    (1e-6, "1e-6"), (2.5e-7, "2.5e-7"), (5e-324, "5e-324"),
    (1.7976931348623157e308, "1.7976931348623157e+308"), (-1e100, "-1e+100"),
    (0.1, "0.1"), (0.30000000000000004, "0.30000000000000004"),
    (float("nan"), "null"), (float("inf"), "null"), (float("-inf"), "null"),
])
def test_number_form(number, form):
    assert one_value(lambda c: c.set_value_number(number)) == form
    assert ref_number(number) == form
    if form != "null":
        assert float(form) == number and math.copysign(1, float(form)) == math.copysign(1, number)


@pytest.mark.parametrize("setter, form", [
    (lambda c: c.set_value_integer(1), "1"),
    (lambda c: c.set_value_integer(-2147483648), "-2147483648"),
    (lambda c: c.set_value_bool(False), "false"),
    (lambda c: setattr(c, "value", "1e16"), "1e+16"),
    (lambda c: setattr(c, "value", "0.00001"), "0.00001"),
    (lambda c: setattr(c, "value", "nan"), "null"),
    (lambda c: setattr(c, "value", ""), "null"),
    (lambda c: c.set_value_datetime(dt.datetime(2024, 3, 5, 7, 8, 9, 500000)),
     '"2024-03-05T07:08:09.500"'),
    (lambda c: c.set_value_datetime(dt.datetime(2024, 3, 5, 7, 8, 9, 123)),
     '"2024-03-05T07:08:09.000123"'),
    (lambda c: c.set_value_datetime(dt.datetime(12, 1, 2)), '"0012-01-02T00:00:00"'),
])
def test_value_forms(setter, form):
    assert one_value(setter) == form


@pytest.mark.parametrize("text, form", [
    ('say "hi"', r'"say \"hi\""'),
    ("back\\slash", r'"back\\slash"'),
    ("a/b", '"a/b"'),
    ("\b\t\n\f\r", r'"\b\t\n\f\r"'),
    ("\x1b", r'"\u001b"'),
    ("\x00\x01\x1f", r'"\u0000\u0001\u001f"'),
    ("\x7f", '"\x7f"'),
    ("Привет, 世界 😀", '"Привет, 世界 😀"'),
    ("\u2028\u2029", '"\u2028\u2029"'),
])
def test_string_escapes(text, form):
    assert one_value(lambda c: setattr(c, "value", text)) == form


def test_all_controls_escaped():
    text = "".join(chr(i) for i in range(0x20))
    named = {8: "\\b", 9: "\\t", 10: "\\n", 12: "\\f", 13: "\\r"}
    expected = '"' + "".join(named.get(i, f"\\u{i:04x}") for i in range(0x20)) + '"'
    assert one_value(lambda c: setattr(c, "value", text)) == expected


def test_escapes_in_keys_names_and_comments():
    b = qm.Book()
    s = b.add_sheet('n"\n', sheet_state="\\")
    s.add_comment(1, 1, "\t", "/")
    text = b.to_json()
    assert text.startswith(r'{"sheets":[{"name":"n\"\n","sheet_state":"\\",')
    assert text.endswith(r'"comments":[{"row":1,"column":1,"author":"/","text":"\t"}]}]}')


def test_cells_sorted_and_optional_members():
    b = qm.Book()
    s = b.add_sheet("s")
    s.cell(2, 1, "a")
    c13 = s.cell(1, 3, "b")
    c12 = s.cell(1, 2, "c")
    c13.formula = "=X"
    c13.style = "st"
    c13.hidden_value = "hv"
    c12.hidden_value = ""
    cells = b.to_json().split('"cells":[')[1].split('],"row_dimensions"')[0]
    assert cells == (
        '{"row":1,"column":2,"value":"c","data_type":"s","hidden_value":""},'
        '{"row":1,"column":3,"value":"b","formula":"=X","data_type":"f","style_id":"st",'
        '"hidden_value":"hv"},'
        '{"row":2,"column":1,"value":"a","data_type":"s"}')


def test_dimension_members():
    b = qm.Book()
    s = b.add_sheet("s")
    s.set_height_row(10, 12.0)
    s.set_hidden_row(3, True)
    s.set_width_column(7, float("inf"))
    s.set_width_column(1, 0.0)
    d = b.to_dict()["sheets"][0]
    assert d["row_dimensions"] == {
        "rows": {
            "3": {"row_num": 3, "height": 20.0, "hidden": True, "collapsed": False, "level": 0},
            "10": {"row_num": 10, "height": 12.0, "hidden": False, "collapsed": False, "level": 0},
        },
        "default_height": 20.0,
    }
    assert d["column_dimensions"] == {
        "columns": {
            "7": {"col_num": 7, "width": None, "hidden": False, "collapsed": False, "level": 0},
            "1": {"col_num": 1, "width": 0.0, "hidden": False, "collapsed": False, "level": 0},
        },
        "default_width": 22.5,
    }
    # Member order inside each layout object.
    text = b.to_json()
    assert '"row_dimensions":{"rows":{' in text and '},"default_height":20.0}' in text
    assert list(d["row_dimensions"]) == ["rows", "default_height"]
    assert list(d["column_dimensions"]) == ["columns", "default_width"]


def test_merges_as_stored_and_sheet_member_order():
    b = qm.Book()
    s = b.add_sheet("s")
    s.add_merge_cells(5, 1, 3, 2)
    s.add_merge_cells(5, 1, 3, 2)
    assert '"merge_cells":[[5,1,3,2],[5,1,3,2]]' in b.to_json()
    assert list(b.to_dict()["sheets"][0]) == [
        "name", "sheet_state", "merge_cells", "cells", "row_dimensions", "column_dimensions",
        "comments"]


def test_sheets_in_list_order():
    b = qm.Book()
    for n in ("z", "a", "m"):
        b.add_sheet(n)
    b.copy_sheet(b.sheets[0])
    assert [s["name"] for s in b.to_dict()["sheets"]] == ["z", "a", "m", "Sheet 4"]


def test_document_is_compact():
    b = qm.Book()
    s = b.add_sheet("s")
    s.cell(1, 1, "a b")
    s.set_height_row(1, 1.0)
    text = b.to_json()
    assert text == ref_dump(json.loads(text))


# ---- generated content --------------------------------------------------------------------

texts = st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=12)
rows = st.integers(0, 2**32 - 1)
cols = st.integers(0, 2**16 - 1)
cell_ops = st.one_of(
    st.tuples(st.just("value"), rows, cols, texts),
    st.tuples(st.just("number"), rows, cols, st.floats(allow_nan=True, allow_infinity=True)),
    st.tuples(st.just("integer"), rows, cols, st.integers(-2**31, 2**31 - 1)),
    st.tuples(st.just("formula"), rows, cols, texts),
    st.tuples(st.just("style"), rows, cols, texts),
    st.tuples(st.just("hidden"), rows, cols, texts),
    st.tuples(st.just("height"), rows, cols, st.floats()),
    st.tuples(st.just("width"), rows, cols, st.floats()),
    st.tuples(st.just("merge"), rows, cols, rows),
    st.tuples(st.just("comment"), rows, cols, texts),
)


def ref_number(x):
    """The document's number form, built from Python's shortest repr."""
    if math.isnan(x) or math.isinf(x):
        return "null"
    sign = "-" if math.copysign(1.0, x) < 0 else ""
    if x == 0:
        return sign + "0.0"
    d = Decimal(repr(abs(x)))
    digits = "".join(map(str, d.as_tuple().digits)).rstrip("0")
    e = d.adjusted()
    if -5 <= e <= 15:
        if e < 0:
            body = "0." + "0" * (-e - 1) + digits
        elif e >= len(digits) - 1:
            body = digits + "0" * (e - len(digits) + 1) + ".0"
        else:
            body = digits[:e + 1] + "." + digits[e + 1:]
    else:
        body = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
        body += "e" + ("-" if e < 0 else "+") + str(abs(e))
    return sign + body


def ref_dump(o):
    """Compact JSON in the document's forms (dict order kept)."""
    if isinstance(o, dict):
        return "{" + ",".join(ref_dump(k) + ":" + ref_dump(v) for k, v in o.items()) + "}"
    if isinstance(o, list):
        return "[" + ",".join(map(ref_dump, o)) + "]"
    if isinstance(o, float):
        return ref_number(o)
    return json.dumps(o, ensure_ascii=False)


@settings(max_examples=300, deadline=None)
@given(st.floats(allow_nan=False, allow_infinity=False))
def test_number_form_matches_reference(x):
    assert one_value(lambda c: c.set_value_number(x)) == ref_number(x)


def expected_json_number(x):
    if math.isnan(x) or math.isinf(x):
        return None
    return x


@settings(max_examples=150, deadline=None)
@given(st.lists(texts, min_size=1, max_size=3), st.lists(cell_ops, max_size=30))
def test_generated_documents_parse(names, ops):
    b = qm.Book()
    sheets = [b.add_sheet(n) for n in names]
    model = {}
    for i, (kind, r, c, arg) in enumerate(ops):
        s = sheets[i % len(sheets)]
        key = (i % len(sheets), r, c)
        if kind == "value":
            s.cell(r, c, arg)
        elif kind == "number":
            s.cell(r, c).set_value_number(arg)
            model[key] = expected_json_number(arg)
        elif kind == "integer":
            s.cell(r, c).set_value_integer(arg)
            model[key] = arg
        elif kind == "formula":
            s.cell(r, c).formula = arg
        elif kind == "style":
            s.cell(r, c).style = arg
        elif kind == "hidden":
            s.cell(r, c).hidden_value = arg
        elif kind == "height":
            s.set_height_row(r, arg)
        elif kind == "width":
            s.set_width_column(c, arg)
        elif kind == "merge":
            s.add_merge_cells(r, arg, c, c)
        else:
            s.add_comment(r, c, arg, arg[::-1])
        if kind in ("value", "formula", "style", "hidden"):
            model.pop(key, None)
    text = b.to_json()
    doc = json.loads(text)
    assert b.to_dict() == doc
    assert text == ref_dump(doc)
    for index, (sheet, sd) in enumerate(zip(sheets, doc["sheets"])):
        listed = [(c.row, c.column) for c in sheet.cells]
        assert [(c["row"], c["column"]) for c in sd["cells"]] == listed
        by_key = {(c["row"], c["column"]): c for c in sd["cells"]}
        for c in sheet.cells:
            entry = by_key[(c.row, c.column)]
            assert entry["data_type"] == c.data_type
            assert entry.get("formula") == c.formula
            assert entry.get("style_id") == c.style
            assert entry.get("hidden_value") == c.hidden_value
            if c.is_value_empty:
                assert entry["value"] is None
            elif c.is_value_bool:
                assert entry["value"] is (c.value == "true")
            elif c.data_type == "s" and not (c.is_value_numeric or c.is_value_integer
                                             or c.is_value_datetime):
                assert entry["value"] == c.value
            want = model.get((index, c.row, c.column), entry["value"])
            assert entry["value"] == want or (want != want)
        assert sd["comments"] == [
            {"row": x.row, "column": x.column, "author": x.author, "text": x.text}
            for x in sheet.comments]
        assert [tuple(m) for m in sd["merge_cells"]] == sheet.merge_cells
