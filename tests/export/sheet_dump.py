#!/usr/bin/python3
"""What openpyxl (the independent reader of the export tests) reads from a workbook.

usage: sheet_dump.py BOOK.xlsx...
For each book "BOOK<TAB>path", then per worksheet in tab order "SHEET<TAB>title<TAB>1|0" (1: the
active sheet), one line per cell holding a value or a comment
"CELL<TAB>row<TAB>column<TAB>kind<TAB>value<TAB>number format<TAB>bold 1|0<TAB>comment"
(kind: str, num, bool, date, none) and "WIDTH<TAB>column letter<TAB>width" for every column
whose width the file sets. Texts escape backslash, tab and line break as \\\\, \\t and \\n.
"""
import datetime
import sys
import warnings

warnings.simplefilter("ignore")
import openpyxl  # noqa: E402


def esc(text):
    return str(text).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def kind_and_text(value):
    if value is None:
        return "none", ""
    if isinstance(value, bool):
        return "bool", "TRUE" if value else "FALSE"
    if isinstance(value, (int, float)):
        return "num", repr(float(value))
    if isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
        return "date", value.isoformat()
    return "str", value


def dump(path, out):
    wb = openpyxl.load_workbook(path)
    out.append("BOOK\t" + path)
    active = wb.active.title if wb.active is not None else None
    for ws in wb.worksheets:
        out.append("SHEET\t%s\t%d" % (esc(ws.title), 1 if ws.title == active else 0))
        for (row, col), c in sorted(ws._cells.items()):
            if c.value is None and c.comment is None:
                continue
            kind, text = kind_and_text(c.value)
            comment = c.comment.text if c.comment is not None else ""
            out.append("CELL\t%d\t%d\t%s\t%s\t%s\t%d\t%s" % (
                row, col, kind, esc(text), esc(c.number_format), 1 if c.font.b else 0,
                esc(comment)))
        for letter, dim in sorted(ws.column_dimensions.items()):
            if dim.width:
                out.append("WIDTH\t%s\t%r" % (letter, float(dim.width)))


def main():
    out = []
    for path in sys.argv[1:]:
        dump(path, out)
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))


main()
