"""Random edits of sheets (cell, value writes, delete_rows, delete_cols,
copy_sheet) against a Python model of records shared between sheets."""

import json

from hypothesis import given, settings, strategies as st

from quillmoor import _quillmoor as qm

texts = st.text(alphabet="xyz", min_size=1, max_size=3)  # parse as text, read back unchanged
sheet_idx = st.integers(0, 3)
ops = st.lists(st.one_of(
    st.tuples(st.just("cell"), sheet_idx, st.integers(0, 8), st.integers(0, 5),
              st.none() | texts),
    st.tuples(st.just("write"), st.integers(0, 40), texts),
    st.tuples(st.just("delete_rows"), sheet_idx, st.integers(0, 9), st.integers(0, 4)),
    st.tuples(st.just("delete_cols"), sheet_idx, st.integers(0, 6), st.integers(0, 3)),
    st.tuples(st.just("copy"), sheet_idx),
), max_size=40)


class Model:
    def __init__(self):
        self.records = {}  # id -> [row, col, value]
        self.sheets = [{}]  # per sheet: (row, col) -> id
        self.next_id = 0

    def new_record(self, row, col, value):
        self.next_id += 1
        self.records[self.next_id] = [row, col, value]
        return self.next_id

    def cell(self, s, r, c, text):
        table = self.sheets[s]
        if (r, c) not in table:
            table[(r, c)] = self.new_record(r, c, "")
        rid = table[(r, c)]
        if text is not None:
            self.records[rid][2] = text
        return rid

    def delete(self, s, by_row, idx, amount):
        if amount == 0:
            return
        end = idx + amount
        pos = 0 if by_row else 1
        table = self.sheets[s]
        moving = {rid for key, rid in table.items() if key[pos] >= end}
        clones = {}
        for t, other in enumerate(self.sheets):
            if t == s:
                continue
            for key, rid in list(other.items()):
                if rid in moving:
                    if rid not in clones:
                        clones[rid] = self.new_record(*self.records[rid])
                    other[key] = clones[rid]
        new = {}
        for key, rid in table.items():
            if key[pos] < idx:
                new[key] = rid
            elif key[pos] >= end:
                rec = self.records[rid]
                rec[pos] -= amount
                new[(rec[0], rec[1])] = rid
        self.sheets[s] = new


@settings(max_examples=200, deadline=None)
@given(ops)
def test_sheets_follow_the_model(steps):
    book = qm.Book()
    sheets = [book.add_sheet("s")]
    model = Model()
    held = []  # (Cell, record id)
    for step in steps:
        kind = step[0]
        if kind == "cell":
            _, s, r, c, text = step
            s %= len(sheets)
            cell = sheets[s].cell(r, c, text)
            held.append((cell, model.cell(s, r, c, text)))
        elif kind == "write":
            if held:
                cell, rid = held[step[1] % len(held)]
                cell.value = step[2]
                model.records[rid][2] = step[2]
        elif kind == "copy":
            src = step[1] % len(sheets)
            sheets.append(book.copy_sheet(sheets[src]))
            model.sheets.append(dict(model.sheets[src]))
        else:
            _, s, idx, amount = step
            s %= len(sheets)
            getattr(sheets[s], kind)(idx, amount)
            model.delete(s, kind == "delete_rows", idx, amount)

    check(book, sheets, model, held)
    # Write through every held cell: which sheets see each write shows which
    # records are still shared.
    for i, (cell, rid) in enumerate(held):
        cell.value = f"w{i}"
        model.records[rid][2] = f"w{i}"
    check(book, sheets, model, held)


def check(book, sheets, model, held):
    doc = json.loads(book.to_json())["sheets"]
    for sheet, table, sd in zip(sheets, model.sheets, doc):
        want = sorted((key[0], key[1], model.records[rid][2]) for key, rid in table.items())
        got = [(c.row, c.column, c.value) for c in sheet.cells]
        assert got == want
        assert [(c["row"], c["column"], c["value"] or "") for c in sd["cells"]] == want
        assert sheet.max_row == max((k[0] for k in table), default=0)
        assert sheet.max_column == max((k[1] for k in table), default=0)
        for r, c, v in want:
            assert sheet.find_value_by_coords(r, c) == v
    for cell, rid in held:
        assert [cell.row, cell.column, cell.value] == model.records[rid]
