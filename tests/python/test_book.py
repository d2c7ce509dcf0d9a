"""Book and Service: sheet lists, copies that share records, the hooks, and
garbage collection of services."""

import gc
import inspect
import json
import weakref

import pytest

from quillmoor import _quillmoor as qm
from conftest import raises_exactly


def coords(cells):
    return [(c.row, c.column) for c in cells]


def doc_cells(owner, index):
    return [(c["row"], c["column"], c["value"])
            for c in json.loads(owner.to_json())["sheets"][index]["cells"]]


class Report(qm.Service):
    pass


class MonthlyReport(qm.Service):
    class Inner(qm.Service):
        pass


class Named:
    """Book and Service members under one set of names."""

    def __init__(self, owner):
        self.o = owner
        self.p = "_" if isinstance(owner, qm.Service) else ""

    def __getattr__(self, name):
        if name in ("to_json", "to_dict"):
            return getattr(self.o, name)
        return getattr(self.o, self.p + name)


@pytest.fixture(params=["Book", "Service", "subclass"])
def owner(request):
    return {"Book": lambda: qm.Book(), "Service": lambda: qm.Service(object()),
            "subclass": lambda: Report(None)}[request.param]()


def test_add_and_find_sheets(owner):
    w = Named(owner)
    a = w.add_sheet("Data")
    b = w.add_sheet("Data", "hidden")
    c = w.add_sheet("Data", sheet_state="anything")
    d = w.add_sheet(name="", sheet_state="")
    assert [(s.name, s.sheet_state) for s in (a, b, c, d)] == [
        ("Data", "visible"), ("Data", "hidden"), ("Data", "anything"), ("", "")]
    assert [s.sheet_state for s in w.sheets] == ["visible", "hidden", "anything", ""]
    assert w.get_sheet_name("Data").sheet_state == "visible"
    assert w.get_sheet_name("data") is None
    assert w.get_sheet_name(name="").sheet_state == ""
    assert w.get_sheet_index(2).sheet_state == "anything"
    assert w.get_sheet_index(idx=0).sheet_state == "visible"
    assert w.get_sheet_index(4) is None and w.get_sheet_index(-1) is None
    with pytest.raises(OverflowError):
        w.get_sheet_index(2**40)
    with pytest.raises(TypeError, match=r"^argument 'idx': "):
        w.get_sheet_index("1")


def test_sheets_are_handles(owner):
    w = Named(owner)
    w.add_sheet("a")
    first, again = w.sheets[0], w.sheets[0]
    assert first is not again
    first.name = "Totals"
    assert again.name == "Totals" and w.get_sheet_name("Totals") is not None
    again.cell(1, 1, "x")
    assert json.loads(w.to_json())["sheets"][0]["cells"][0]["value"] == "x"
    assert w.sheets is not w.sheets


def test_sheet_outlives_book():
    b = qm.Book()
    s = b.add_sheet("kept")
    s.cell(1, 1, "v")
    del b
    gc.collect()
    assert s.get_value_cell(1, 1) == "v" and s.name == "kept"


def test_reprs():
    b = qm.Book()
    assert repr(b) == "Book, sheets: 0"
    b.add_sheet("a")
    b.add_sheet("b")
    assert repr(b) == "Book, sheets: 2"
    s = qm.Service(None)
    assert repr(s) == "Service, sheets: 0"

    db = object()
    m = MonthlyReport(db)
    m._add_sheet("x")
    m._copy_sheet(b.sheets[0])
    m._add_sheet("y")
    assert repr(m) == "MonthlyReport, sheets: 3"
    assert repr(MonthlyReport.Inner(1)) == "MonthlyReport.Inner, sheets: 0"
    assert repr(Report(1)) == "Report, sheets: 0"
    assert m._conn_db is db


def test_copy_sheet_names_and_positions(owner):
    w = Named(owner)
    w.add_sheet("a")
    src = w.add_sheet("b")
    src.cell(1, 1, "x")
    src.set_height_row(2, 5.0)
    src.set_width_column(3, 6.0)
    src.add_merge_cells(1, 1, 1, 2)
    src.add_comment(1, 1, "t", "a")
    src.set_sheet_state("hidden")
    copy = w.copy_sheet(src)
    assert copy.name == "Sheet 3" and w.get_sheet_index(2).name == "Sheet 3"
    assert len(w.sheets) == 3
    d = w.to_dict()["sheets"]
    del d[1]["name"], d[2]["name"]
    assert d[1] == d[2]  # everything but the name is copied
    assert copy.sheet_state == "hidden"
    other = Named(qm.Book())
    assert other.copy_sheet(sheet=copy).name == "Sheet 1"


def test_copy_shares_records_until_structural_edit():
    b = qm.Book()
    s = b.add_sheet("src")
    s.cell(1, 1, "1")
    s.add_comment(1, 1, "t", "a")
    c = b.copy_sheet(s)
    s.cell(1, 1, "7")
    assert c.get_value_cell(1, 1) == "7"
    assert [cells[0][2] for cells in (doc_cells(b, 0), doc_cells(b, 1))] == [7, 7]
    c.cell(1, 1).formula = "=A2"
    assert s.cell(1, 1).formula == "=A2"
    c.comments[0].text = "shared"
    assert s.comments[0].text == "shared"
    c.cell(5, 5, "x")
    c.add_merge_cells(1, 2, 1, 2)
    c.add_comment(2, 2, "only", "c")
    c.set_height_row(9, 1.0)
    assert coords(s.cells) == [(1, 1)] and s.merge_cells == [] and len(s.comments) == 1
    assert s.get_height_by_row(9) == 20.0
    s.cell(6, 6, "y")
    assert c.find_value_by_coords(6, 6) is None


def _family():
    b = qm.Book()
    s = b.add_sheet("src")
    for r in range(1, 6):
        for col in range(1, 4):
            s.cell(r, col, f"{r}-{col}")
    c = b.copy_sheet(s)
    return b, s, c


def _consistent(b, index, sheet):
    """The sheet's listing, its JSON and its searches agree with its keys."""
    listed = [(x.row, x.column, x.value) for x in sheet.cells]
    assert len(set((r, c) for r, c, _ in listed)) == len(listed)
    assert [(r, c, v) for r, c, v in doc_cells(b, index)] == listed
    for r, c, v in listed:
        assert sheet.get_value_cell(r, c) == v
        found = sheet.find_cell_by_letter(qm.get_letter_coordinate(r, c))
        assert (found.row, found.column, found.value) == (r, c, v)
        assert (r, c) in coords(sheet.find_cells_by_str(v))
    assert coords(sheet.get_cells_by_range()) == [(r, c) for r, c, _ in listed]
    return listed


@pytest.mark.parametrize("edit_copy", [False, True], ids=["edit-source", "edit-copy"])
@pytest.mark.parametrize("op", ["delete_rows", "delete_cols"])
def test_copy_then_delete_keeps_both_sheets_consistent(edit_copy, op):
    b, s, c = _family()
    edited, other = (c, s) if edit_copy else (s, c)
    held_edited = edited.cell(5, 3)
    held_other = other.cell(5, 3)
    untouched_shared = edited.cell(1, 1)
    getattr(edited, op)(2, 1)
    # The edited sheet moved: its Cell objects report the new coordinates.
    expect_moved = (4, 3) if op == "delete_rows" else (5, 2)
    assert (held_edited.row, held_edited.column) == expect_moved
    assert held_edited.value == "5-3"
    # The other sheet is unchanged and consistent with its keys.
    listed = _consistent(b, 0 if edit_copy else 1, other)
    assert len(listed) == 15 and other.get_value_cell(5, 3) == "5-3"
    # A Cell taken from the other sheet before the delete was a handle onto
    # the same record, so it follows the record; the other sheet now holds
    # its own record for (5, 3).
    assert (held_other.row, held_other.column) == expect_moved
    held_other.value = "via old handle"
    assert other.get_value_cell(5, 3) == "5-3"
    _consistent(b, 1 if edit_copy else 0, edited)
    # Cells that nothing moved are still shared by both sheets.
    untouched_shared.value = "changed"
    assert other.get_value_cell(1, 1) == "changed"
    # Cells the delete moved have parted: a write reaches only one sheet.
    held_edited.value = "moved"
    assert other.get_value_cell(5, 3) == "5-3"


def test_other_sheet_held_cell_reports_its_own_key():
    b, s, c = _family()
    held = c.cell(5, 3)
    s.delete_rows(1, 2)
    # The copy's own record for (5, 3) still sits at (5, 3), whichever
    # object the copy now holds for it.
    now = c.cell(5, 3)
    assert (now.row, now.column, now.value) == (5, 3, "5-3")
    assert held.value == "5-3"


def test_delete_on_three_sheet_family():
    b, s, c = _family()
    c2 = b.copy_sheet(c)
    c.delete_cols(1, 1)
    for index, sheet in ((0, s), (2, c2)):
        assert len(_consistent(b, index, sheet)) == 15
    assert len(_consistent(b, 1, c)) == 10
    # s and c2 still share among themselves.
    s.cell(5, 3, "together")
    assert c2.get_value_cell(5, 3) == "together"
    c.delete_rows(1, 1)
    _consistent(b, 1, c)


def test_copy_across_books_then_delete():
    b, s, _ = _family()
    other = qm.Book()
    far = other.copy_sheet(s)
    far.delete_rows(1, 3)
    assert len(_consistent(b, 0, s)) == 15
    assert coords(far.cells) == [(1, 1), (1, 2), (1, 3), (2, 1), (2, 2), (2, 3)]


# ---- Service ---------------------------------------------------------------------------

def test_service_construction():
    db = object()
    assert qm.Service(db)._conn_db is db
    assert qm.Service(conn_db=db)._conn_db is db
    assert qm.Service(None)._conn_db is None
    with raises_exactly(TypeError, "Service.__new__() missing 1 required positional argument: 'conn_db'"):
        qm.Service()
    with raises_exactly(TypeError, "Service.__new__() takes 1 positional arguments but 2 were given"):
        qm.Service(1, 2)
    with raises_exactly(TypeError, "Service.__new__() got an unexpected keyword argument 'db'"):
        qm.Service(db=1)
    with raises_exactly(TypeError, "Book.__new__() takes 0 positional arguments but 1 was given"):
        qm.Book(1)
    with pytest.raises(AttributeError):
        qm.Service(1)._conn_db = 2


def test_subclass_init_arguments_reach_the_constructor():
    class WithInit(qm.Service):
        def __init__(self, conn_db, month):
            self.month = month

    with raises_exactly(TypeError, "Service.__new__() takes 1 positional arguments but 2 were given"):
        WithInit("db", 3)

    class WithNew(WithInit):
        def __new__(cls, conn_db, month):
            return super().__new__(cls, conn_db)

    r = WithNew("db", 3)
    assert (r._conn_db, r.month, type(r)) == ("db", 3, WithNew)


def test_service_members_behave_as_books():
    s = qm.Service(None)
    b = qm.Book()
    for w in (Named(s), Named(b)):
        x = w.add_sheet("x")
        x.cell(2, 1, "TRUE")
        w.copy_sheet(x).set_sheet_state("hidden")
    assert s.to_json() == b.to_json()
    assert s.to_dict() == b.to_dict()
    with raises_exactly(TypeError, "Service._add_sheet() missing 1 required positional argument: 'name'"):
        s._add_sheet()
    with raises_exactly(TypeError, "argument 'sheet': 'NoneType' object cannot be cast as 'Sheet'"):
        s._copy_sheet(None)
    assert not hasattr(s, "add_sheet") and not hasattr(b, "_add_sheet")


@pytest.mark.parametrize("call, exc, message", [
    (lambda s: s.summary_0([]), NotImplementedError, "Method 'summary_0' is not implemented"),
    (lambda s: s.summary_0([1, "x"], a=1), NotImplementedError,
     "Method 'summary_0' is not implemented"),
    (lambda s: s.summary_0([], sheets=1), NotImplementedError,
     "Method 'summary_0' is not implemented"),
    (lambda s: s.summary_0((1,)), TypeError,
     "argument 'sheets': 'tuple' object cannot be cast as 'list'"),
    (lambda s: s.summary_0(sheets=[]), TypeError,
     "Service.summary_0() missing 1 required positional argument: 'sheets'"),
    (lambda s: s.summary_0(), TypeError,
     "Service.summary_0() missing 1 required positional argument: 'sheets'"),
    (lambda s: s.summary_0([], []), TypeError,
     "Service.summary_0() takes 1 positional arguments but 2 were given"),
    (lambda s: s._fmt_0(), NotImplementedError, "Method 'fmt_0' is not implemented"),
    (lambda s: s._fmt_0(x=1), NotImplementedError, "Method 'fmt_0' is not implemented"),
    (lambda s: s._fmt_0(1), TypeError,
     "Service._fmt_0() takes 0 positional arguments but 1 was given"),
])
def test_hooks(call, exc, message):
    s = qm.Service(None)
    with raises_exactly(exc, message):
        call(s)
    assert repr(s) == "Service, sheets: 0"


def test_hook_signatures_and_overrides():
    assert qm.Service.summary_0.__text_signature__ == "($self, sheets, /, **kwargs)"
    assert qm.Service._fmt_0.__text_signature__ == "($self, **kwargs)"
    assert str(inspect.signature(qm.Service(None).summary_0)) == "(sheets, /, **kwargs)"
    assert qm.Book.add_sheet.__text_signature__ == '($self, name, sheet_state="visible")'
    assert qm.Service._add_sheet.__text_signature__ == '($self, name, sheet_state="visible")'

    class Monthly(qm.Service):
        def summary_0(self, sheets, /, **kwargs):
            return ("summary", sheets, kwargs)

        def _fmt_0(self, **kwargs):
            return kwargs

    m = Monthly(None)
    assert m.summary_0([1], k=2) == ("summary", [1], {"k": 2})
    assert m._fmt_0(a=1) == {"a": 1}


@pytest.mark.parametrize("name, sig", [
    ("add_sheet", "(name, sheet_state='visible')"), ("copy_sheet", "(sheet)"),
    ("get_sheet_name", "(name)"), ("get_sheet_index", "(idx)"),
    ("to_json", "()"), ("to_dict", "()"),
])
def test_member_signatures(name, sig):
    assert str(inspect.signature(getattr(qm.Book(), name))) == sig
    under = name if name.startswith("to_") else "_" + name
    assert str(inspect.signature(getattr(qm.Service(None), under))) == sig


@pytest.mark.parametrize("owner_factory", [qm.Book, lambda: qm.Service(None)])
def test_to_json_takes_no_arguments(owner_factory):
    o = owner_factory()
    with pytest.raises(TypeError, match=r"takes no arguments \(1 given\)$"):
        o.to_json(1)
    with pytest.raises(TypeError, match=r"takes no arguments \(1 given\)$"):
        o.to_dict(1)


# ---- garbage collection of services -------------------------------------------------------

class Conn:
    pass


def test_cycle_through_conn_db_is_collected():
    conn = Conn()
    svc = qm.Service(conn)
    conn.owner = svc  # svc -> conn -> svc
    probe = weakref.ref(conn)
    del conn, svc
    gc.collect()
    assert probe() is None


def test_cycle_through_subclass_dict_is_collected():
    class Monthly(qm.Service):
        pass

    conn = Conn()
    m = Monthly(conn)
    m.me = m  # through the instance __dict__
    conn.back = m  # and through conn_db
    m._add_sheet("s").cell(1, 1, "v")
    probe_conn, probe_svc = weakref.ref(conn), weakref.ref(m)
    del conn, m
    gc.collect()
    assert probe_conn() is None and probe_svc() is None


def test_service_without_cycle_frees_conn_db_at_once():
    conn = Conn()
    svc = qm.Service(conn)
    probe = weakref.ref(conn)
    del conn
    assert probe() is not None and svc._conn_db is probe()
    del svc
    assert probe() is None


def test_gc_referents_and_live_service_kept():
    conn = Conn()
    svc = qm.Service(conn)
    assert conn in gc.get_referents(svc)
    conn.owner = svc
    gc.collect()
    assert svc._conn_db is conn  # a reachable cycle is left alone
