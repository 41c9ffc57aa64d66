#!/usr/bin/env python3
"""Checks an exported workbook against the drawing it came from, with ezdxf and openpyxl.

Usage: export_check.py DRAWING.dxf BOOK.xlsx
For every worksheet whose header row starts with "Block name": each data row's first cell carries
the handle of a block reference as its comment; the reference exists, is an INSERT of that block
(or of an anonymous variant of that dynamic block), and every attribute column holds the
reference's attribute text for that tag (the definition's default where the reference has none).
Every reference of the block appears exactly once. Prints one line per problem, then
"checked N references in M sheets".
"""
import sys
import warnings

warnings.simplefilter("ignore")
import ezdxf  # noqa: E402
import openpyxl  # noqa: E402


def block_of(insert, doc):
    """The dynamic block's own name for an anonymous variant, else the block name."""
    name = insert.dxf.name
    block = doc.blocks.get(name)
    if block is not None and block.block_record.has_xdata("AcDbBlockRepBTag"):
        for tag in block.block_record.get_xdata("AcDbBlockRepBTag"):
            if tag.code == 1005:
                record = doc.entitydb.get(tag.value)
                if record is not None:
                    return record.dxf.name
    return name


def main():
    doc = ezdxf.readfile(sys.argv[1])
    wb = openpyxl.load_workbook(sys.argv[2])
    inserts = {}
    for layout in doc.layouts:
        for e in layout.query("INSERT"):
            inserts[e.dxf.handle.upper()] = e
    problems, checked, sheets = [], 0, 0
    seen = {}
    for ws in wb.worksheets:
        header, columns = None, {}
        for row in ws.iter_rows():
            first = row[0]
            if first.value == "Block name":
                header = {c.column: c.value for c in row if c.value is not None}
                sheets += 1
                continue
            if header is None or first.comment is None:
                continue
            handle = first.comment.text.strip().upper()
            e = inserts.get(handle)
            if e is None:
                problems.append(f"{ws.title}!A{first.row}: handle {handle} is no block reference")
                continue
            seen[handle] = seen.get(handle, 0) + 1
            checked += 1
            name = block_of(e, doc)
            if first.value != name:
                problems.append(f"{ws.title}!A{first.row}: block {first.value!r}, drawing {name!r}")
            texts = {}
            block = doc.blocks.get(e.dxf.name)
            for d in block.query("ATTDEF"):
                texts.setdefault(d.dxf.tag.upper(), d.dxf.text)
            for a in e.attribs:
                texts[a.dxf.tag.upper()] = a.dxf.text
            values = {c.column: c.value for c in row}
            for column, title in header.items():
                key = str(title).upper()
                if column == 1 or key not in texts:
                    continue
                got = values.get(column)
                got = "" if got is None else str(got)
                if got != texts[key]:
                    problems.append(
                        f"{ws.title}!{first.row}: {title} is {got!r}, drawing {texts[key]!r}")
    for handle, n in seen.items():
        if n != 1:
            problems.append(f"handle {handle} exported {n} times")
    for line in problems:
        print(line)
    print(f"checked {checked} references in {sheets} sheets")


if __name__ == "__main__":
    main()
