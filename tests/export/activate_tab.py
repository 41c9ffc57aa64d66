#!/usr/bin/python3
"""Copies a workbook with another sheet tab made the active one (workbookView activeTab).

usage: activate_tab.py IN.xlsx OUT.xlsx TAB     TAB: 0-based position among all sheets
"""
import re
import sys
import zipfile

src = zipfile.ZipFile(sys.argv[1])
dst = zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED)
for item in src.infolist():
    data = src.read(item.filename)
    if item.filename == "xl/workbook.xml":
        data = re.sub(rb'\sactiveTab="\d+"', b"", data)
        data = data.replace(b"<workbookView ", b'<workbookView activeTab="%s" ' % sys.argv[3].encode())
    dst.writestr(item, data)
dst.close()
