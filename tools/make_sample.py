#!/usr/bin/python3
"""Writes samples/sales.xls, the bundled sample workbook, with python3-xlwt.

Run with Debian's /usr/bin/python3 (python3-xlwt). The sheet mixes text
with non-ASCII characters, numbers, dates and booleans, so a conversion of
it shows every kind of value.
"""
import datetime
import sys

import xlwt

rows = [
    ("Zürich", "Füller", 12, 4.5, datetime.date(2024, 1, 15), True),
    ("Kraków", "Atrament", 3, 12.25, datetime.date(2024, 2, 29), False),
    ("東京", "万年筆", 7, 31.0, datetime.date(2024, 3, 1), True),
    ("São Paulo", "Caneta", 120, 0.99, datetime.date(2024, 12, 31), True),
    ("Αθήνα", "Μελάνι", 1, 1e-5, datetime.date(1999, 12, 31), False),
]

book = xlwt.Workbook(encoding="utf-8")
sheet = book.add_sheet("Sheet1")
header = ("Region", "Product", "Units", "Unit price", "Ordered", "Shipped")
for col, name in enumerate(header):
    sheet.write(0, col, name)
date_style = xlwt.easyxf(num_format_str="YYYY-MM-DD")
for r, row in enumerate(rows, start=1):
    for col, value in enumerate(row):
        sheet.write(r, col, value, date_style if isinstance(value, datetime.date) else xlwt.Style.default_style)
notes = book.add_sheet("Notes")
notes.write(0, 0, "Note")
notes.write(1, 0, "Prices in local currency")
book.save(sys.argv[1] if len(sys.argv) > 1 else "samples/sales.xls")
