#!/usr/bin/python3
"""Dumps an .xlsx workbook as JSON through openpyxl, a reader independent of ours.

Usage: openpyxl_dump.py FILE [--summary]
Each cell is [type, value, number format]; dates become "YYYY-MM-DD hh:mm:ss".
--summary reads the workbook streamed and keeps each sheet's first two rows,
with the sheet's size from its dimension.
"""
import datetime
import json
import sys

import openpyxl


def cell_json(cell):
    value = cell.value
    if value is None:
        return ["empty", None, cell.number_format]
    if isinstance(value, datetime.datetime):
        return ["date", value.strftime("%Y-%m-%d %H:%M:%S"), cell.number_format]
    if isinstance(value, (int, float)):
        return ["number", value, cell.number_format]
    return ["text", value, cell.number_format]


def main():
    path = sys.argv[1]
    summary = "--summary" in sys.argv[2:]
    book = openpyxl.load_workbook(path, read_only=summary)
    sheets = []
    for sheet in book.worksheets:
        rows = sheet.iter_rows(max_row=2) if summary else sheet.iter_rows()
        widths = [] if summary else [sheet.column_dimensions[c].width for c in "ABCDE"]
        sheets.append({
            "name": sheet.title,
            "nrows": sheet.max_row,
            "ncols": sheet.max_column,
            "rows": [[cell_json(c) for c in row] for row in rows],
            "widths": widths,
        })
    json.dump({"epoch1904": book.epoch.year == 1904, "sheets": sheets}, sys.stdout)


if __name__ == "__main__":
    main()
