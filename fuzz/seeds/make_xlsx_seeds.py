#!/usr/bin/python3
"""Writes the small workbooks that seed the .xlsx fuzzer (fuzz/seeds/xlsx_fuzz/), with openpyxl.

Run by hand: /usr/bin/python3 fuzz/seeds/make_xlsx_seeds.py
"""
import datetime
import os

import openpyxl
from openpyxl.comments import Comment
from openpyxl.styles import Font

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "xlsx_fuzz")
os.makedirs(OUT, exist_ok=True)

# Values of every kind, a text-formatted cell, a bold cell and a note.
book = openpyxl.Workbook()
sheet = book.active
sheet.title = "Blocks"
sheet["A1"] = "Block name"
sheet["A1"].font = Font(bold=True)
sheet["A1"].comment = Comment("4F2", "sheetwise")
sheet["B1"] = 12.5
sheet["C1"] = True
sheet["D1"] = datetime.date(2026, 12, 5)
sheet["E1"] = "=B1*2"
sheet["F1"] = "007"
sheet["F1"].number_format = "@"
sheet.column_dimensions["A"].width = 20
hidden = book.create_sheet("Hidden")
hidden.sheet_state = "hidden"
hidden["A1"] = "Überprüfung 東京"
book.save(os.path.join(OUT, "values.xlsx"))

# The smallest workbook: one empty sheet.
openpyxl.Workbook().save(os.path.join(OUT, "empty.xlsx"))
