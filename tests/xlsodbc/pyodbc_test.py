#!/usr/bin/python3
"""Real-client test: Debian's pyodbc reads a fixture workbook through the built
driver (ODBCSYSINI names the build's etc/). usage: pyodbc_test.py <fixtures>"""
import os
import sys

import pyodbc

fixtures = sys.argv[1]
conn = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DSN='';DBQ=%s" % os.path.join(fixtures, "lo_driver.xls"))
cur = conn.cursor()

tables = [(t.table_name, t.table_type) for t in cur.tables()]
assert tables[:3] == [("Sheet1$", "SYSTEM TABLE"), ("'My Sheet$'", "SYSTEM TABLE"),
                      ("'Bob''s Data$'", "SYSTEM TABLE")], tables
assert ("Prices", "TABLE") in tables, tables

columns = [c.column_name for c in cur.columns(table="Headers$")]
assert columns == ["Qty", "qty1", "F3", "F31", "Qty2"], columns

rows = cur.execute("select * from [Sheet1$]").fetchall()
assert [d[0] for d in cur.description] == ["Name", "Qty", "Price", "Day", "Note"], cur.description
assert [tuple(r) for r in rows] == [
    ("pen", "3", "1.5", "2024-01-15", "first"),
    ("ink", "12", "0.3", "2024-02-29 13:45:00", None),
    (None, None, None, None, None),
    ("Grüße 日本 😀", "-12.5", None, "13:45:00", "a&b <c>"),
    ("last", None, None, None, None),
], rows
conn.commit()

try:
    cur.execute("select * from [Nope$]")
    raise AssertionError("unknown table accepted")
except pyodbc.Error as e:
    assert e.args[0] == "42S02", e.args
    assert "Nope$" in e.args[1], e.args

big = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=%s" % os.path.join(fixtures, "xlwt_driver.xls"))
values = dict(tuple(r) for r in big.cursor().execute("select * from [Values$]").fetchall())
assert values["long"] == "x" * 32767
assert values["unicode"] == "Ünïcödé ☃ 𝄞", values["unicode"]
assert len(big.cursor().execute("select * from [Rows$]").fetchall()) == 2000
print("pyodbc ok")
