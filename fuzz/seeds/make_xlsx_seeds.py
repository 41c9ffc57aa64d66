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

# The worksheet parts alone seed the worksheet fuzzer (fuzz/seeds/xlsx_sheet_fuzz/), with one
# sheet as Excel writes it: shared strings, inline strings, a shared formula, styles, row tags.
import zipfile  # noqa: E402

SHEETS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "xlsx_sheet_fuzz")
os.makedirs(SHEETS, exist_ok=True)
with zipfile.ZipFile(os.path.join(OUT, "values.xlsx")) as z:
    for name in z.namelist():
        if name.startswith("xl/worksheets/sheet"):
            with open(os.path.join(SHEETS, os.path.basename(name)), "wb") as f:
                f.write(z.read(name))
with open(os.path.join(SHEETS, "excel_style.xml"), "w", encoding="utf-8") as f:
    f.write(
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
        'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
        '<dimension ref="A1:C3"/><sheetViews><sheetView tabSelected="1" workbookViewId="0"/>'
        '</sheetViews><sheetFormatPr defaultRowHeight="15"/><cols><col min="1" max="2" '
        'width="12.5" customWidth="1"/></cols><sheetData>'
        '<row r="1" spans="1:3" s="1" customFormat="1"><c r="A1" s="1" t="s"><v>0</v></c>'
        '<c r="B1" t="inlineStr"><is><r><t>rich </t></r><r><rPr><b/></rPr><t>text</t></r>'
        '<rPh><t>x</t></rPh></is></c><c r="C1" t="str"><f>"a"&amp;"b"</f><v>ab</v></c></row>'
        '<row r="2"><c r="A2"><f t="shared" ref="A2:A3" si="0">B2*2</f><v>4</v></c>'
        '<c r="B2"><v>2</v></c><c r="C2" t="e"><v>#N/A</v></c></row>'
        '<row r="3"><c r="A3"><f t="shared" si="0"/><v>6</v></c><c r="B3" t="b"><v>1</v></c>'
        '<c r="C3" t="d"><v>2026-12-05T10:30:00</v></c></row>'
        '</sheetData><pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" '
        'header="0.3" footer="0.3"/></worksheet>')
