#!/usr/bin/python3
"""Writes the conversion tests' workbooks with python3-xlwt (Debian's
/usr/bin/python3), and a damaged copy derived by truncation.

  xlwt_export.xls     sheets Pens (Name/Qty), R499, R500, R1000, R1201
                      (header Item/Number, then rows item<i>/<i>), HeaderOnly
                      (column names, no rows), Values (delimiters, quotes,
                      CR LF, non-ASCII, empty cells), Two Words
  xlwt_export_truncated.xls  the first 8 KB of xlwt_export.xls
"""
import os
import sys

import xlwt

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from fixture_writers import fixtures_folder, truncated_copy  # noqa: E402

here = fixtures_folder(__file__, sys.argv)
book = xlwt.Workbook(encoding="utf-8")

pens = book.add_sheet("Pens")
for r, row in enumerate([("Name", "Qty"), ("pen", 3), ("ink", 12)]):
    for c, v in enumerate(row):
        pens.write(r, c, v)

for rows in (499, 500, 1000, 1201):
    s = book.add_sheet(f"R{rows}")
    s.write(0, 0, "Item")
    s.write(0, 1, "Number")
    for i in range(1, rows + 1):
        s.write(i, 0, f"item{i}")
        s.write(i, 1, i)

header_only = book.add_sheet("HeaderOnly")
header_only.write(0, 0, "A")
header_only.write(0, 1, "B")

values = book.add_sheet("Values")
for c, v in enumerate(["Text", "Gap", "Last"]):
    values.write(0, c, v)
values.write(1, 0, "a,b")
values.write(1, 2, 'say "hi"')
values.write(2, 0, "line1\r\nline2")
values.write(2, 1, "tab\there")
values.write(2, 2, "é中😀")
values.write(3, 0, 2.5)

two = book.add_sheet("Two Words")
two.write(0, 0, "K")
two.write(1, 0, "v")

path = os.path.join(here, "xlwt_export.xls")
book.save(path)
truncated_copy(path, os.path.join(here, "xlwt_export_truncated.xls"), 8192)
