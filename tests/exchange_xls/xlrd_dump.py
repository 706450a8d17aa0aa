#!/usr/bin/python3
"""Dumps an .xls workbook as JSON through xlrd, a reader independent of ours.

Usage: xlrd_dump.py FILE [--summary]
Each cell is [type, value, format string]; dates also get their value as
"YYYY-MM-DD hh:mm:ss". --summary keeps only each sheet's first and last rows.
"""
import json
import sys

import xlrd

TYPES = {
    xlrd.XL_CELL_EMPTY: "empty",
    xlrd.XL_CELL_TEXT: "text",
    xlrd.XL_CELL_NUMBER: "number",
    xlrd.XL_CELL_DATE: "date",
    xlrd.XL_CELL_BOOLEAN: "bool",
    xlrd.XL_CELL_ERROR: "error",
    xlrd.XL_CELL_BLANK: "blank",
}


def cell_json(book, sheet, r, c):
    cell = sheet.cell(r, c)
    fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
    out = [TYPES.get(cell.ctype, "?"), cell.value, fmt]
    if cell.ctype == xlrd.XL_CELL_DATE:
        y, mo, d, h, mi, s = xlrd.xldate_as_tuple(cell.value, book.datemode)
        out.append("%04d-%02d-%02d %02d:%02d:%02d" % (y, mo, d, h, mi, s))
    return out


def main():
    path = sys.argv[1]
    summary = "--summary" in sys.argv[2:]
    book = xlrd.open_workbook(path, formatting_info=True)
    sheets = []
    for sheet in book.sheets():
        rows = list(range(sheet.nrows))
        if summary and len(rows) > 3:
            rows = rows[:2] + rows[-1:]
        sheets.append({
            "name": sheet.name,
            "nrows": sheet.nrows,
            "ncols": sheet.ncols,
            "rowIndexes": rows,
            "rows": [[cell_json(book, sheet, r, c) for c in range(sheet.ncols)] for r in rows],
            "widths": [sheet.colinfo_map[c].width if c in sheet.colinfo_map else -1
                       for c in range(sheet.ncols)],
        })
    json.dump({"datemode": book.datemode, "sheets": sheets}, sys.stdout)


if __name__ == "__main__":
    main()
