#!/usr/bin/env python3
"""The work of the calc benchmark done with openpyxl: the comparison peer.

  openpyxl_peer.py write ROWS BOOK.xlsx   12 texts a row, a handle comment on column A, save
  openpyxl_peer.py read BOOK.xlsx         open, read every cell's value and every comment
Prints the seconds taken (the process's peak memory is measured by the caller).
"""
import sys
import time
import warnings

warnings.simplefilter("ignore")
import openpyxl  # noqa: E402
from openpyxl.comments import Comment  # noqa: E402


def write(rows, path):
    t = time.perf_counter()
    wb = openpyxl.Workbook()
    ws = wb.active
    for r in range(1, rows + 1):
        for c in range(1, 13):
            cell = ws.cell(row=r, column=c)
            if c == 1:
                cell.comment = Comment("%X" % (0x1000 + r), "bench")
            cell.value = "BLOCK-%d" % r if c == 2 else "V%d-%d" % (r, c)
    wb.save(path)
    print("%.3f" % (time.perf_counter() - t))


def read(path):
    t = time.perf_counter()
    wb = openpyxl.load_workbook(path)
    ws = wb.active
    comments = 0
    for row in ws.iter_rows():
        for cell in row:
            _ = cell.value
            if cell.comment is not None:
                comments += 1
    print("%.3f %d" % (time.perf_counter() - t, comments), file=sys.stderr)
    print("%.3f" % (time.perf_counter() - t))


if sys.argv[1] == "write":
    write(int(sys.argv[2]), sys.argv[3])
else:
    read(sys.argv[2])
