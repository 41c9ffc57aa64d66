#!/usr/bin/python3
"""Workbooks for the import tests, written and edited with openpyxl (an independent writer).

  import_probe.py export DRAWING BOOK [--oddline] [--one-sheet] [--no-block-name]
      Writes BOOK in the layout the export writes, from ezdxf's view of DRAWING: for every block
      definition with attribute definitions that has references, a worksheet named after it
      (--one-sheet: all tables one below the other on one sheet "All", each under its own header
      row); row 1 the header "Block name", the attribute tags, X, Y, Z, Rotation, Scale X/Y/Z,
      Layer, the property headers carrying their column labels as comments; one data row per
      reference with its handle as the comment of column A. Numbers are written as the drawing's
      units write them ($LUPREC decimals, degrees with $AUPREC decimals). All cells are text
      cells (number format '@'). Prints "SHEET<TAB>ROW<TAB>HANDLE<TAB>TAG=COLUMN..." per data row.
  import_probe.py edit BOOK SHEET CELL=VALUE ...
      VALUE "s:TEXT" a text cell, "n:NUMBER" a number cell, "b:1" a logical, "d:2024-01-02" a
      date, "e:#N/A" an error value, "x:" an empty cell, "c:TEXT" a comment (c: alone removes it).
  import_probe.py moverow BOOK SHEET FROM TO
      Moves row FROM (values and comments) to row TO and clears FROM.
  import_probe.py handle DRAWING TYPE
      Prints the handle of the first entity of TYPE in model space.
  import_probe.py libreoffice BOOK OUTDIR
      Saves BOOK again with LibreOffice (soffice --headless --convert-to xlsx) into OUTDIR.
"""
import datetime
import os
import subprocess
import sys

import ezdxf
import openpyxl
from openpyxl.comments import Comment
from openpyxl.utils import get_column_letter

# The column labels of the resource library (ids 14 to 28), which the import compares with.
PROPERTIES = [
    ("X", "Insertion point X"),
    ("Y", "Insertion point Y"),
    ("Z", "Insertion point Z"),
    ("Rotation", "Rotation angle"),
    ("Scale X", "X scale factor"),
    ("Scale Y", "Y scale factor"),
    ("Scale Z", "Z scale factor"),
    ("Layer", "Layer name"),
]


def text_cell(ws, row, col, value):
    cell = ws.cell(row, col)
    cell.value = value
    cell.number_format = "@"
    cell.data_type = "s"
    return cell


def export(drawing, book, oddline=False, one_sheet=False, block_name=True):
    doc = ezdxf.readfile(drawing)
    luprec = int(doc.header.get("$LUPREC", 4))
    auprec = int(doc.header.get("$AUPREC", 0))
    length = lambda v: "%.*f" % (luprec, v)
    angle = lambda v: "%.*f" % (auprec, v % 360.0)
    refs = {}
    for layout in doc.layouts:
        for insert in layout.query("INSERT"):
            refs.setdefault(insert.dxf.name, []).append(insert)
    wb = openpyxl.Workbook()
    first = wb.active
    sheet_all = None
    row = 0
    for block in doc.blocks:
        defs = [d for d in block if d.dxftype() == "ATTDEF" and not d.is_const]
        if block.name.startswith("*") or not defs or block.name not in refs:
            continue
        if one_sheet:
            if sheet_all is None:
                sheet_all = wb.create_sheet("All")
            ws = sheet_all
            row += 2 if row else 0
        else:
            ws = wb.create_sheet(block.name[:31])
            row = 0
        row += 1
        tags = [d.dxf.tag for d in defs]
        header = (["Block name"] if block_name else []) + tags + [h for h, _ in PROPERTIES]
        for col, text in enumerate(header, start=1):
            text_cell(ws, row, col, text).font = openpyxl.styles.Font(bold=True)
        first_prop = len(header) - len(PROPERTIES) + 1
        for i, (_, label) in enumerate(PROPERTIES):
            ws.cell(row, first_prop + i).comment = Comment(label, "export")
        for insert in refs[block.name]:
            row += 2 if oddline else 1
            have = {a.dxf.tag.upper(): a.dxf.text for a in insert.attribs}
            x, y, z = insert.ocs().to_wcs(insert.dxf.insert)
            values = ([block.name] if block_name else []) + [have.get(t.upper(), "") for t in tags]
            values += [length(x), length(y), length(z), angle(insert.dxf.rotation),
                       length(insert.dxf.xscale), length(insert.dxf.yscale),
                       length(insert.dxf.zscale), insert.dxf.layer]
            for col, text in enumerate(values, start=1):
                text_cell(ws, row, col, text)
            ws.cell(row, 1).comment = Comment(insert.dxf.handle, "export")
            columns = " ".join("%s=%s" % (t, get_column_letter(i + 1 + (1 if block_name else 0)))
                               for i, t in enumerate(tags))
            print("%s\t%d\t%s\t%s" % (ws.title, row, insert.dxf.handle, columns))
    if len(wb.worksheets) > 1:
        wb.remove(first)
    wb.save(book)


def edit(book, sheet, assignments):
    wb = openpyxl.load_workbook(book)
    ws = wb[sheet]
    for assignment in assignments:
        ref, value = assignment.split("=", 1)
        kind, _, text = value.partition(":")
        cell = ws[ref]
        if kind == "s":
            cell.value = text
            cell.data_type = "s"
        elif kind == "n":
            cell.value = float(text)
            cell.number_format = "General"
        elif kind == "b":
            cell.value = text == "1"
            cell.number_format = "General"
        elif kind == "d":
            cell.value = datetime.datetime.fromisoformat(text)
            cell.number_format = "yyyy-mm-dd"
        elif kind == "e":
            cell.value = text
            cell.data_type = "e"
        elif kind == "x":
            cell.value = None
        elif kind == "c":
            cell.comment = Comment(text, "test") if text else None
        else:
            raise SystemExit("unknown value kind: " + value)
    wb.save(book)


def moverow(book, sheet, src, dst):
    wb = openpyxl.load_workbook(book)
    ws = wb[sheet]
    src, dst = int(src), int(dst)
    for col in range(1, ws.max_column + 1):
        a, b = ws.cell(src, col), ws.cell(dst, col)
        b.value, b.number_format = a.value, a.number_format
        if a.value is not None and not isinstance(a.value, (int, float)):
            b.data_type = "s"
        b.comment = Comment(a.comment.text, "test") if a.comment else None
        a.value, a.comment = None, None
    wb.save(book)


def libreoffice(book, outdir):
    env = dict(os.environ, HOME=outdir)
    subprocess.run(["soffice", "--headless", "--norestore", "--convert-to", "xlsx",
                    "--outdir", outdir, book], check=True, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)


def main(argv):
    command = argv[1]
    if command == "export":
        flags = set(argv[4:])
        export(argv[2], argv[3], oddline="--oddline" in flags, one_sheet="--one-sheet" in flags,
               block_name="--no-block-name" not in flags)
    elif command == "edit":
        edit(argv[2], argv[3], argv[4:])
    elif command == "moverow":
        moverow(argv[2], argv[3], argv[4], argv[5])
    elif command == "handle":
        print(ezdxf.readfile(argv[2]).modelspace().query(argv[3]).first.dxf.handle)
    elif command == "libreoffice":
        libreoffice(argv[2], argv[3])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
