#!/usr/bin/python3
"""Writes the process tests' workbook with python3-xlwt (Debian's
/usr/bin/python3).

  xlwt_batch.xls  Nul: header Key/Text, 1,200 rows key<i>/text<i>, where row 3's
                  text holds a U+0000 between two letters ("a\\0b")
                  Big: header A/B/C, 20,000 rows <i>/row<i>/<i * 2>, for runs
                  that must still be going when a signal or a second run comes
                  Bob's Data: a sheet whose name needs quotes in the catalogue
"""
import os
import sys

import xlwt

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from fixture_writers import fixtures_folder  # noqa: E402

here = fixtures_folder(__file__, sys.argv)
book = xlwt.Workbook(encoding="utf-8")

nul = book.add_sheet("Nul")
nul.write(0, 0, "Key")
nul.write(0, 1, "Text")
for i in range(1, 1201):
    nul.write(i, 0, f"key{i}")
    nul.write(i, 1, "a\0b" if i == 3 else f"text{i}")

big = book.add_sheet("Big")
for c, v in enumerate(["A", "B", "C"]):
    big.write(0, c, v)
for i in range(1, 20001):
    big.write(i, 0, i)
    big.write(i, 1, f"row{i}")
    big.write(i, 2, i * 2)

bob = book.add_sheet("Bob's Data")
bob.write(0, 0, "K")
bob.write(1, 0, "v")

book.save(os.path.join(here, "xlwt_batch.xls"))
