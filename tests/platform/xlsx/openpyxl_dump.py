#!/usr/bin/env python3
"""Prints what openpyxl reads from a workbook: the independent reader of the tests.

Usage: openpyxl_dump.py BOOK.xlsx [SHEET!CELL ...]
Prints "sheets: A|B", "active: A", then per sheet "count A: cells N comments M", then for each
cell asked "cell A!B2: value=num:7.0 format=General bold=0 comment=TEXT" (newlines in texts
shown as \\n).
"""
import sys
import warnings

warnings.simplefilter("ignore")
import openpyxl  # noqa: E402


def show(text):
    return str(text).replace("\\", "\\\\").replace("\n", "\\n")


def main():
    wb = openpyxl.load_workbook(sys.argv[1])
    print("sheets: " + "|".join(wb.sheetnames))
    print("active: " + (wb.active.title if wb.active else ""))
    for ws in wb.worksheets:
        cells = comments = 0
        # The cells the file holds (iter_rows would walk the whole dimension, which Gnumeric
        # declares as A1:XFD1048576).
        for c in ws._cells.values():
            cells += c.value is not None
            comments += c.comment is not None
        print(f"count {ws.title}: cells {cells} comments {comments}")
    for arg in sys.argv[2:]:
        sheet, ref = arg.rsplit("!", 1)
        c = wb[sheet][ref]
        v = c.value
        if isinstance(v, bool):
            value = "bool:" + ("TRUE" if v else "FALSE")
        elif isinstance(v, (int, float)):
            value = "num:" + repr(float(v))
        elif v is None:
            value = "empty"
        else:
            value = "str:" + show(v)
        comment = show(c.comment.text) if c.comment else ""
        print(f"cell {arg}: value={value} format={c.number_format} bold={int(bool(c.font.b))} "
              f"comment={comment}")


main()
