"""The ``python -m quillmoor`` command line: search a spreadsheet file, export a JSON document.

    python -m quillmoor search sales.xlsx '^total$' --sheet '^Sum' --json
    python -m quillmoor export report.json report.xlsx

Exit status: 0 on success (``search``: at least one hit), 1 when ``search``
finds nothing, 2 for an error (missing or unreadable file, a pattern that
does not compile, a bad document), with a one-line message on stderr.
"""

from __future__ import annotations

import argparse
import json
import sys
from collections.abc import Sequence
from pathlib import Path
from typing import Any, TextIO

from quillmoor import readable, xlsx

EXIT_HITS = 0
EXIT_NO_HIT = 1
EXIT_ERROR = 2


class CommandError(Exception):
    """A failure reported as one line on stderr with exit status 2."""


def _escape(text: str) -> str:
    # One hit per line: tabs and line breaks inside texts are written escaped.
    return (text.replace("\\", "\\\\").replace("\t", "\\t")
            .replace("\n", "\\n").replace("\r", "\\r"))


def _check_pattern(pattern: str, what: str) -> None:
    # Compile the pattern once, on a one-cell list, so that a bad pattern is
    # reported even when there is nothing to search.
    probe = {"row": 1, "column": 1, "value": "", "formula": None, "data_type": "s",
             "style_id": None}
    try:
        readable.find_cell_by_regex(pattern, [probe])
    except RuntimeError as e:
        raise CommandError(f"{what} {pattern!r} does not compile: {e}") from None


def _load(path: str) -> list[xlsx.XlsxSheet]:
    file = Path(path)
    if not file.exists():
        raise CommandError(f"{path}: no such file")
    if not file.is_file():
        raise CommandError(f"{path}: not a file")
    try:
        return xlsx.read_sheets(file)
    except Exception as e:  # openpyxl raises many kinds for a file it cannot read
        raise CommandError(f"{path}: not a spreadsheet file ({type(e).__name__}: {e})") from None


def _matching_sheets(finder: readable.Finder, regex: str | None) -> list[readable.ReadableSheet]:
    sheets = finder.sheets
    if regex is None:
        return sheets
    # The Finder's own (case-sensitive, unanchored) sheet pattern, applied to
    # every sheet: a one-name Finder per sheet answers whether its name matches.
    try:
        return [s for s in sheets
                if readable.Finder([{"name": s.name, "sheet_state": s.sheet_state,
                                     "merge_cells": [], "cells": []}])
                .find_sheet_by_regex(regex) is not None]
    except RuntimeError as e:
        raise CommandError(f"sheet pattern {regex!r} does not compile: {e}") from None


def search(args: argparse.Namespace, out: TextIO) -> int:
    _check_pattern(args.pattern, "pattern")
    if args.between:
        for marker in args.between:
            _check_pattern(marker, "marker")
    finder = readable.Finder(list(_load(args.file)))
    hits = 0
    for sheet in _matching_sheets(finder, args.sheet):
        if args.between:
            block = sheet.find_cells_between_regex(args.between[0], args.between[1])
            cells = readable.find_cells_by_regex(args.pattern, list(block))
        else:
            cells = sheet.find_cells_by_regex(args.pattern)
        for cell in cells:
            hits += 1
            if args.json:
                record = {"sheet": sheet.name, "cell": cell.letter, "row": cell.row,
                          "column": cell.column, "value": cell.value}
                out.write(json.dumps(record, ensure_ascii=False) + "\n")
            else:
                out.write(f"{_escape(sheet.name)}\t{cell.letter}\t{_escape(cell.value)}\n")
    return EXIT_HITS if hits else EXIT_NO_HIT


def export(args: argparse.Namespace, out: TextIO) -> int:
    source = Path(args.document)
    if not source.is_file():
        raise CommandError(f"{args.document}: no such file")
    try:
        document: Any = json.loads(source.read_text(encoding="utf-8"))
    except (UnicodeDecodeError, json.JSONDecodeError) as e:
        raise CommandError(f"{args.document}: not a JSON document ({e})") from None
    if not isinstance(document, dict) or not isinstance(document.get("sheets"), list):
        raise CommandError(f"{args.document}: not a workbook document (no list of 'sheets')")
    try:
        path = xlsx.write(document, args.output)
    except (ValueError, TypeError, KeyError, AttributeError) as e:
        raise CommandError(f"{args.document}: cannot be written as a spreadsheet: {e}") from None
    except OSError as e:
        raise CommandError(f"{args.output}: {e.strerror or e}") from None
    out.write(f"{path}\n")
    return EXIT_HITS


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m quillmoor",
        description="Search spreadsheet files and turn workbook JSON documents into .xlsx files.",
        epilog="Exit status: 0 success (search: at least one hit), 1 search found nothing, "
               "2 error (message on stderr).")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    s = commands.add_parser(
        "search", help="print the cells of an .xlsx file whose value matches a pattern",
        description="Print every cell of FILE whose value text matches PATTERN "
                    "(case-insensitive regular expression), one hit per line: sheet, cell "
                    "(such as B7) and value, tab-separated (tabs, line breaks and backslashes "
                    "in texts escaped as \\t, \\n, \\r, \\\\). Exit 0 with hits, 1 without.")
    s.add_argument("file", metavar="FILE", help="the .xlsx file to search")
    s.add_argument("pattern", metavar="PATTERN",
                   help="regular expression searched in each cell's value text, ignoring case")
    s.add_argument("--sheet", metavar="REGEX",
                   help="only sheets whose name matches REGEX (case-sensitive, unanchored)")
    s.add_argument("--between", nargs=2, metavar=("BEFORE", "AFTER"),
                   help="only cells between a cell matching BEFORE and one matching AFTER")
    s.add_argument("--json", action="store_true",
                   help="one JSON object per hit: sheet, cell, row, column, value")
    s.set_defaults(run=search)

    e = commands.add_parser(
        "export", help="write a workbook JSON document (as to_json writes it) as an .xlsx file",
        description="Turn a workbook JSON document, as Book.to_json() or Service.to_json() "
                    "writes it, into an .xlsx spreadsheet file and print its path.")
    e.add_argument("document", metavar="FILE.json", help="the JSON document to read")
    e.add_argument("output", metavar="OUT.xlsx", help="the spreadsheet file to write")
    e.set_defaults(run=export)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line; returns the exit status."""
    args = build_parser().parse_args(argv)
    try:
        status: int = args.run(args, sys.stdout)
        return status
    except CommandError as e:
        print(f"quillmoor: error: {e}", file=sys.stderr)
        return EXIT_ERROR
