"""A monthly sales report, built the way report code uses quillmoor.

A `Service` subclass owns a real database connection (an in-memory sqlite3
database filled with seeded, generated sales), builds its sheets from SQL
queries in its two hooks, exports the workbook as one JSON document, reads a
few figures back with the sheet searches, and finally hands the document's
sheets to `quillmoor.readable.Finder` - as plain dicts, the way cells from any
other spreadsheet reader arrive - to run the checks a report reviewer would.

    python examples/monthly_report.py            # 5,000 sales
    python examples/monthly_report.py --fast     # 500 sales (used by the tests)

The workbook is written twice into the output folder: as the JSON document and
as a real spreadsheet file (monthly_report.xlsx, through quillmoor.xlsx).
"""

import argparse
import datetime as dt
import json
import random
import sqlite3
import sys
from pathlib import Path
from typing import Any, cast

import quillmoor
import quillmoor.xlsx
from quillmoor import readable

REGIONS = ["North", "South", "East", "West", "Central"]
PRODUCTS = [("Quill", 4.5), ("Ink (50 ml)", 7.25), ("Parchment pack", 12.0), ("Wax seal", 3.1),
            ("Blotter", 2.4), ("Writing set", 49.9)]


def make_database(n_sales: int, seed: int = 20261211) -> sqlite3.Connection:
    """An in-memory database with a few thousand generated, seeded sales."""
    rng = random.Random(seed)
    conn = sqlite3.connect(":memory:")
    conn.executescript(
        """
        CREATE TABLE product (id INTEGER PRIMARY KEY, name TEXT, unit_price REAL);
        CREATE TABLE sale (id INTEGER PRIMARY KEY, sold_at TEXT, region TEXT,
                           product_id INTEGER REFERENCES product(id), qty INTEGER,
                           returned INTEGER);
        """
    )
    conn.executemany("INSERT INTO product (name, unit_price) VALUES (?, ?)", PRODUCTS)
    start = dt.datetime(2026, 11, 1)
    rows = []
    for _ in range(n_sales):
        sold_at = start + dt.timedelta(seconds=rng.randrange(30 * 24 * 3600))
        rows.append((sold_at.strftime("%Y-%m-%d %H:%M:%S"), rng.choice(REGIONS),
                     rng.randrange(1, len(PRODUCTS) + 1), rng.randrange(1, 20),
                     int(rng.random() < 0.03)))
    conn.executemany(
        "INSERT INTO sale (sold_at, region, product_id, qty, returned) VALUES (?, ?, ?, ?, ?)",
        rows)
    return conn


class MonthlySalesReport(quillmoor.Service):
    """November sales: a summary sheet by region and a detail sheet of sales."""

    def summary_0(self, sheets: list[Any], /, **kwargs: Any) -> quillmoor.Sheet:
        month = kwargs.get("month", "2026-11")
        sheet = self._add_sheet("Summary")
        sheet.cell(1, 1, f"Sales by region, {month}")
        sheet.add_merge_cells(1, 1, 1, 5)
        sheet.set_height_row(1, 32.0)
        for col, title in enumerate(["Region", "Sales", "Units", "Revenue", "Returns seen"], 1):
            sheet.cell(3, col, title)
        query = """
            SELECT region, COUNT(*), SUM(qty), ROUND(SUM(qty * unit_price), 2), MAX(returned)
            FROM sale JOIN product ON product.id = sale.product_id
            WHERE substr(sold_at, 1, 7) = ? GROUP BY region ORDER BY region"""
        row = 4
        for region, n, units, revenue, any_returned in self._conn_db.execute(query, (month,)):
            sheet.cell(row, 1, region)
            sheet.cell(row, 2, str(n))                      # Integer
            sheet.cell(row, 3, str(units))                  # Integer
            sheet.cell(row, 4).set_value_number(revenue)    # Number
            sheet.cell(row, 5).set_value_bool(bool(any_returned))
            row += 1
        total = sheet.cell(row, 1, "Total")
        total.style = "bold"
        sheet.cell(row, 2, str(sum(int(sheet.get_value_cell(r, 2)) for r in range(4, row))))
        revenue = sheet.cell(row, 4)
        revenue.set_value_number(round(sum(float(sheet.get_value_cell(r, 4))
                                           for r in range(4, row)), 2))
        revenue.formula = f"=SUM(D4:D{row - 1})"             # data type "f", value kept
        sheet.add_comment(row, 4, "Checked against the ledger export.", "controller")
        sheet.cell(row + 2, 1, "Generated")
        sheet.cell(row + 2, 2).set_value_datetime(dt.datetime(2026, 12, 1, 6, 30, 0, 250000))
        sheet.set_hidden_row(row + 2, True)                 # bookkeeping row, hidden
        sheet.set_width_column(1, 18.0)
        sheet.set_width_column(4, 14.5)
        sheets.append(sheet)
        return sheet

    def _fmt_0(self, **kwargs: Any) -> quillmoor.Sheet:
        month = kwargs.get("month", "2026-11")
        sheet = self._add_sheet("Details")
        for col, title in enumerate(["Sold at", "Region", "Product", "Qty", "Amount"], 1):
            sheet.cell(1, col, title)
        query = """
            SELECT sold_at, region, name, qty, ROUND(qty * unit_price, 2), returned
            FROM sale JOIN product ON product.id = sale.product_id
            WHERE substr(sold_at, 1, 7) = ? ORDER BY sold_at"""
        row = 2
        for sold_at, region, product, qty, amount, returned in self._conn_db.execute(
                query, (month,)):
            sheet.cell(row, 1, sold_at)                     # parsed as a DateTime
            sheet.cell(row, 2, region)
            sheet.cell(row, 3, product)
            sheet.cell(row, 4, str(qty))
            sheet.cell(row, 5, repr(amount))                # Number
            if returned:
                sheet.cell(row, 6, "returned")
                sheet.set_hidden_row(row, True)
            row += 1
        sheet.cell(row, 1, "End of details")
        sheet.set_width_column(1, 20.0)
        sheet.set_hidden_column(6, True)
        return sheet


def foreign_sheets(document: dict[str, Any]) -> list[dict[str, Any]]:
    """The document's sheets as plain dicts, as another reader would hand them over."""
    out = []
    for s in document["sheets"]:
        cells = [{"row": c["row"], "column": c["column"], "value": c["value"],
                  "formula": c.get("formula"), "data_type": c["data_type"],
                  "style_id": c.get("style_id")} for c in s["cells"]]
        out.append({"name": s["name"], "sheet_state": s["sheet_state"],
                    "merge_cells": s["merge_cells"], "cells": cells})
    return out


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--fast", action="store_true", help="a small data set")
    parser.add_argument("--out", default="out", help="folder for the JSON document and .xlsx file")
    args = parser.parse_args(argv)

    conn = make_database(500 if args.fast else 5000)
    report = MonthlySalesReport(conn)
    built: list[quillmoor.Sheet] = []
    summary = report.summary_0(built, month="2026-11")
    details = report._fmt_0(month="2026-11")
    archive = report._copy_sheet(summary)                  # "Sheet 3", shares the cells
    archive.set_sheet_state("hidden")

    out_dir = Path(args.out)
    out_dir.mkdir(parents=True, exist_ok=True)
    path = out_dir / "monthly_report.json"
    text = report.to_json()
    path.write_text(text, encoding="utf-8")
    xlsx_path = quillmoor.xlsx.write(report, out_dir / "monthly_report.xlsx")

    # Figures read back with the sheet searches.
    # Both searches always find something in this report: cast() only tells the type checker.
    total = cast(quillmoor.Cell, summary.find_cell_by_str("Total"))
    revenue = summary.get_value_cell(total.row, 4)
    top = max(summary.get_cells_by_range(4, total.row - 1, 4, 4), key=lambda c: float(c.value))
    returned_rows = details.find_cells_by_regex("^returned$")

    # A reviewer's checks on the exported document, through the readable side.
    finder = readable.Finder(foreign_sheets(json.loads(text)))
    detail_sheet = cast(readable.ReadableSheet, finder.find_sheet_by_regex("^Det"))
    block = detail_sheet.find_cells_between_regex(r"^sold at$", r"^end of details$")
    quills = readable.find_cells_by_regex(r"^quill$", detail_sheet.cells)
    big = [c for c in detail_sheet.find_cells_for_rows_by_regex(r"^\d{3,}(\.\d+)?$", 5)
           if c.column == 5]
    hidden = [s.name for s in finder.sheets if s.sheet_state != "visible"]

    print(f"{report!r}; document {len(text):,} bytes -> {path}")
    print(f"Spreadsheet file -> {xlsx_path}")
    print(f"Total revenue {revenue} (formula {summary.cell(total.row, 4).formula}); "
          f"best region {summary.get_value_cell(top.row, 1)} with {top.value}")
    print(f"Details: {details.max_row - 2} sales, {len(returned_rows)} returned (rows hidden); "
          f"archive copy '{archive.name}' is {archive.sheet_state}")
    print(f"Reviewer: {len(block)} cells between the markers, {len(quills)} quill sales, "
          f"{len(big)} amounts of 100 or more, hidden sheets {hidden}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
