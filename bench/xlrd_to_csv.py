#!/usr/bin/python3
"""The Python route a user would take: xlrd reads the first sheet, csv writes it."""
import csv
import sys

import xlrd

book = xlrd.open_workbook(sys.argv[1], on_demand=True)
sheet = book.sheet_by_index(0)
with open(sys.argv[2], "w", newline="", encoding="utf-8") as out:
    w = csv.writer(out)
    for r in range(sheet.nrows):
        w.writerow(sheet.row_values(r))
