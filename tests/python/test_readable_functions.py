"""The module-level search functions of quillmoor.readable: registration,
argument handling, each search over a list in list order, results fed back,
a property test against a plain-Python oracle, and the interpreter lock."""
import inspect
import re
import threading

import pytest
from hypothesis import given, settings, strategies as st

from quillmoor import readable
from test_readable_classes import progress_during


def fcell(row, column, value="x", data_type="s", formula=None, style_id=None):
    return {"row": row, "column": column, "value": value, "formula": formula,
            "data_type": data_type, "style_id": style_id}


SIGNATURES = [
    ("create_finder", "(sheets)"),
    ("find_cell_by_coords", "(row, col, cells)"),
    ("find_value_by_coords", "(row, col, cells)"),
    ("find_cell_by_regex", "(regex, cells)"),
    ("find_cell_by_str", "(value, cells)"),
    ("find_cell_by_letter", "(letter, cells)"),
    ("find_cells_by_regex", "(regex, cells)"),
    ("find_cells_by_str", "(value, cells)"),
    ("find_cells_for_rows_by_regex", "(regex, col_stop, cells)"),
    ("find_cells_for_cols_by_regex", "(regex, row_stop, cells)"),
    ("find_cells_multi_regex", "(before_regex, after_regex, cells)"),
    ("find_cells_between_regex", "(before_regex, after_regex, cells)"),
    ("find_cells_range_rows", "(start_row, end_row, cells)"),
    ("find_cells_range_cols", "(start_col, end_col, cells)"),
    ("find_values_by_col_rows", "(col, rows, cells)"),
    ("find_values_by_row_cols", "(row, cols, cells)"),
]


def test_submodule_lists_classes_then_functions_in_order():
    assert readable.__all__ == ["Finder", "ReadableSheet", "ReadableCell"] + [n for n, _ in SIGNATURES]
    for name, sig in SIGNATURES:
        fn = getattr(readable, name)
        assert fn.__text_signature__ == sig
        assert fn.__module__ == "readable"
        assert str(inspect.signature(fn)) == sig


# Every function with arguments that find nothing in an empty list.
EMPTY_CALLS = {
    "find_cell_by_coords": (1, 1), "find_value_by_coords": (1, 1), "find_cell_by_regex": ("x",),
    "find_cell_by_str": ("x",), "find_cell_by_letter": ("A1",), "find_cells_by_regex": ("x",),
    "find_cells_by_str": ("x",), "find_cells_for_rows_by_regex": ("x", 5),
    "find_cells_for_cols_by_regex": ("x", 5), "find_cells_multi_regex": ("a", "b"),
    "find_cells_between_regex": ("a", "b"), "find_cells_range_rows": (1, 5),
    "find_cells_range_cols": (1, 5), "find_values_by_col_rows": (1, [1]),
    "find_values_by_row_cols": (1, [1]),
}


@pytest.mark.parametrize("name, args", EMPTY_CALLS.items())
def test_empty_list_finds_nothing_and_bad_lists_are_refused(name, args):
    fn = getattr(readable, name)
    assert fn(*args, []) == (None if "_cell_" in name or "_value_" in name else [])
    with pytest.raises(TypeError) as e:
        fn(*args, ())
    assert str(e.value) == "argument 'cells': 'tuple' object cannot be cast as 'list'"
    lacking = {k: v for k, v in fcell(1, 1).items() if k != "style_id"}
    with pytest.raises(AttributeError):
        fn(*args, [fcell(1, 1), type("C", (), lacking)()])


CELLS = [
    fcell(1, 1, "  Total "), fcell(1, 2, "Total\t"), fcell(2, 1, "total"), fcell(2, 2, "Totals"),
    fcell(3, 2, 5.0, "n"), fcell(3, 3, True, "b"), fcell(4, 1, None), fcell(4, 2, "Subtotal"),
    fcell(3, 2, "dup"), fcell(5, 1, -12, "n"), fcell(6, 2, "Alpha"), fcell(6, 1, ""),
]


def rc(cells):
    return [(c.row, c.column) for c in cells]


@pytest.mark.parametrize("call, expected", [
    (lambda: rc(readable.find_cells_by_str("  Total ", CELLS)), [(1, 1), (1, 2)]),
    (lambda: rc([readable.find_cell_by_str("5", CELLS)]), [(3, 2)]),
    (lambda: readable.find_cell_by_str("5.0", CELLS), None),
    (lambda: rc([readable.find_cell_by_str("true", CELLS)]), [(3, 3)]),
    (lambda: rc(readable.find_cells_by_str("", CELLS)), [(4, 1), (6, 1)]),
    (lambda: rc([readable.find_cell_by_regex("^total$", CELLS)]), [(2, 1)]),
    (lambda: rc(readable.find_cells_by_regex("tot", CELLS)), [(1, 1), (1, 2), (2, 1), (2, 2), (4, 2)]),
    (lambda: readable.find_cell_by_coords(3, 2, CELLS).value, "5"),  # the first of two
    (lambda: readable.find_cell_by_letter("$b$3", CELLS).value, "5"),
    (lambda: readable.find_value_by_coords(5, 1, CELLS), "-12"),
    (lambda: readable.find_value_by_coords(4, 1, CELLS), ""),
    (lambda: readable.find_value_by_coords(9, 9, CELLS), None),
    (lambda: rc(readable.find_cells_range_rows(3, 3, CELLS)), [(3, 2), (3, 3), (3, 2)]),
    (lambda: rc(readable.find_cells_range_cols(3, 3, CELLS)), [(3, 3)]),
    (lambda: rc(readable.find_cells_for_cols_by_regex("tot", 1, CELLS)), [(1, 1), (1, 2)]),
    (lambda: rc(readable.find_cells_for_rows_by_regex("tot", 1, CELLS)), [(1, 1), (2, 1)]),
    (lambda: readable.find_values_by_row_cols(3, [3, 2, 3], CELLS), ["5", "true", "dup"]),
    (lambda: readable.find_values_by_col_rows(2, range(5, 7), CELLS), ["Alpha"]),
])
def test_searches_in_list_order(call, expected):
    assert call() == expected


def test_value_lookup_follows_the_cells_not_the_rows_list():
    cells = [fcell(1, 2, "Alpha"), fcell(5, 2, 7.0, "n")]
    assert readable.find_values_by_col_rows(2, [5, 1, 5], cells) == ["Alpha", "7"]


MARKERS = [fcell(1, 1, "x"), fcell(2, 1, "Begin"), fcell(3, 2, "in"), fcell(5, 1, "End"),
           fcell(6, 1, "out"), fcell(8, 1, "Begin"), fcell(9, 1, "End")]


@pytest.mark.parametrize("cells, multi, between", [
    (MARKERS, [2, 5, 8, 9], [2, 3, 5]),
    (MARKERS[:3], [2], [2, 3]),                      # a start without an end: to the last row
    ([fcell(1, 1, "End"), fcell(2, 1, "in")], [], []),  # no start, the end is ignored
    ([fcell(4, 1, "Begin"), fcell(4, 2, "End"), fcell(5, 1, "y")], [4, 4], [4, 4]),
    ([fcell(1, 1, "BeginEnd"), fcell(2, 1, "BeginEnd")], [1, 2], [1, 2]),  # both patterns
])
def test_marker_searches(cells, multi, between):
    assert [c.row for c in readable.find_cells_multi_regex("begin", "end", cells)] == multi
    assert [c.row for c in readable.find_cells_between_regex("begin", "end", cells)] == between


def test_results_fed_back_share_their_records():
    first = readable.find_cells_by_regex("tot", CELLS)
    second = readable.find_cells_by_str("Totals", first)
    assert rc(second) == [(2, 2)]
    assert second[0] is not first[3]
    assert second[0].value == first[3].value


@pytest.mark.parametrize("call, exc, message", [
    (lambda: readable.find_cells_by_regex("(", CELLS), RuntimeError, "missing closing parenthesis"),
    (lambda: readable.find_cells_multi_regex("[", "(", CELLS), RuntimeError, "missing terminating ]"),
    (lambda: readable.find_cell_by_letter("B", CELLS), ValueError, "B"),
    (lambda: readable.find_cell_by_regex(1, CELLS), TypeError,
     "argument 'regex': 'int' object cannot be cast as 'str'"),
    (lambda: readable.find_cell_by_coords(-1, 1, CELLS), OverflowError, ""),
    (lambda: readable.find_cell_by_coords(2**32, 1, CELLS), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda: readable.find_values_by_col_rows(1, "12", CELLS), TypeError, "argument 'rows': "),
    (lambda: readable.find_values_by_row_cols(1, {1}, CELLS), TypeError,
     "argument 'cols': 'set' object cannot be cast as 'Sequence'"),
    (lambda: readable.find_cells_by_str("x"), TypeError,
     "find_cells_by_str() missing 1 required positional argument: 'cells'"),
    (lambda: readable.find_cells_by_str("x", CELLS, 1), TypeError,
     "find_cells_by_str() takes 2 positional arguments but 3 were given"),
])
def test_argument_and_engine_errors(call, exc, message):
    with pytest.raises(exc) as e:
        call()
    assert str(e.value).startswith(message) or message in str(e.value)


# ---- against a plain-Python oracle ------------------------------------------------------------

WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + \
    "\u2028\u2029\u202f\u205f\u3000"

texts = st.text(alphabet=st.sampled_from("abAB \t\u00a0\u3000xé1"), max_size=6)


@settings(max_examples=150, deadline=None)
@given(values=st.lists(texts, max_size=40), needle=texts)
def test_text_and_pattern_searches_match_an_oracle(values, needle):
    cells = [fcell(i // 3 + 1, i % 3 + 1, v) for i, v in enumerate(values)]
    want_str = [i for i, v in enumerate(values) if v.strip(WHITE_SPACE) == needle.strip(WHITE_SPACE)]
    got = readable.find_cells_by_str(needle, cells)
    assert [(c.row - 1) * 3 + c.column - 1 for c in got] == want_str
    rx = re.compile(re.escape(needle), re.IGNORECASE)
    want_rx = [i for i, v in enumerate(values) if rx.search(v)]
    got = readable.find_cells_by_regex(re.escape(needle), cells)
    assert [(c.row - 1) * 3 + c.column - 1 for c in got] == want_rx
    first = readable.find_cell_by_regex(re.escape(needle), cells)
    assert (first is None) == (not want_rx)


# ---- the interpreter lock ---------------------------------------------------------------------

def test_another_thread_runs_and_may_drop_the_list_during_a_search():
    text = "a" * 22 + "!"
    cells = readable.find_cells_by_str(text, [fcell(r, 1, text) for r in range(1, 801)])
    mine = list(cells)
    expected = [(c.row, c.column) for c in cells]
    ready = threading.Event()

    def vandal():
        ready.wait()
        mine.clear()  # drops the list's references to the cells being searched

    t = threading.Thread(target=vandal)
    t.start()

    def search():
        ready.set()
        return readable.find_cells_by_regex(r"^(a|aa)+$|!", mine)

    result, inside, took = progress_during(search)
    t.join()
    assert rc(result) == expected
    assert mine == []
    assert len(inside) > 100
