#!/usr/bin/python3
"""Real-client test: Debian's pyodbc (and pandas over it) reads the fixture
workbooks through the built driver (ODBCSYSINI names the build's etc/).
usage: pyodbc_test.py <fixtures>"""
import os
import sys
import threading
import warnings

import pandas
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

# The same workbook saved as .xlsx reads alike, through either driver name.
for driver in ("Velkor Excel Driver (*.xls)", "Velkor Excel Driver (*.xls, *.xlsx, *.xlsm)"):
    x = pyodbc.connect("DRIVER={%s};DBQ=%s" % (driver, os.path.join(fixtures, "lo_driver.xlsx")))
    xcur = x.cursor()
    assert [(t.table_name, t.table_type) for t in xcur.tables()] == tables
    for name, _ in tables:
        want = [tuple(r) for r in cur.execute("select * from [%s]" % name).fetchall()]
        got = [tuple(r) for r in xcur.execute("select * from [%s]" % name).fetchall()]
        assert got == want, (name, got, want)
    x.close()

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

# fetchmany in pieces.
rows_cur = big.cursor().execute("select * from [Rows$]")
seen = 0
while chunk := rows_cur.fetchmany(300):
    seen += len(chunk)
assert seen == 2000, seen

# pandas reads a sheet as data scientists do (it warns that it tests only
# SQLAlchemy and sqlite3 connections, and works with any DB-API one).
warnings.filterwarnings("ignore", message="pandas only supports SQLAlchemy")
frame = pandas.read_sql("select * from [Sheet1$]", conn)
assert list(frame.columns) == ["Name", "Qty", "Price", "Day", "Note"], frame.columns
assert frame["Name"].tolist()[3] == "Grüße 日本 😀", frame["Name"].tolist()
assert frame["Day"].tolist()[:2] == ["2024-01-15", "2024-02-29 13:45:00"], frame["Day"].tolist()

# Catalogue functions with nothing to list answer empty results.
assert cur.primaryKeys("Sheet1$").fetchall() == []
assert cur.statistics("Sheet1$").fetchall() == []

# A real workbook whose first cell holds 32,770 characters: its header is
# described cut to 32,766, and its rows read.
long_header = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=%s" % os.path.join(fixtures, "poi__46368.xls"))
long_cur = long_header.cursor().execute("select * from [Sheet1$]")
assert len(long_cur.description[0][0]) == 32766, len(long_cur.description[0][0])
assert len(long_cur.fetchall()) == 3

# Two threads, each with its own cursor of one connection, read one sheet.
results = {}


def read(name):
    results[name] = [tuple(r) for r in big.cursor().execute("select * from [Rows$]").fetchall()]


threads = [threading.Thread(target=read, args=(n,)) for n in ("a", "b")]
for t in threads:
    t.start()
for t in threads:
    t.join()
assert len(results["a"]) == 2000 and results["a"] == results["b"]
# Statements the SQL engine runs: parameters of Python's types, executemany,
# pandas' read_sql with a query and parameters.
sales = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=%s" % os.path.join(fixtures, "xlwt_sql.xls"))
scur = sales.cursor()
got = scur.execute("select Product, Units from [Sales$] where Units > ? and Region = ? order by Units",
                   5, "north").fetchall()
assert [tuple(r) for r in got] == [("Pencil", "7"), ("pen", "10")], got
import datetime  # noqa: E402
got = scur.execute("select Region from [Sales$] where Day = ? and Price = ?",
                   datetime.date(2024, 1, 15), 1.5).fetchall()
assert [tuple(r) for r in got] == [("North",)], got
assert scur.execute("select count(*) from [Sales$] where Region = ?", None).fetchone()[0] == "0"
scur.executemany("select * from [Sales$] where Units = ?", [(1,), (2,), (3,)])
with warnings.catch_warnings():
    warnings.simplefilter("ignore")  # pandas prefers SQLAlchemy to a DBAPI connection
    frame = pandas.read_sql("SELECT Region, SUM(Units) AS Units FROM [Sales$] WHERE Paid = ? "
                            "GROUP BY Region ORDER BY Region", sales, params=[True])
assert list(frame.columns) == ["Region", "Units"], frame.columns
assert [tuple(r) for r in frame.itertuples(index=False)] == [("ärger", "2"), ("North", "17")], frame
try:
    scur.execute("delete from [Sales$]")
    raise AssertionError("a write was accepted")
except pyodbc.Error as e:
    assert e.args[0] == "42000" and "read-only" in e.args[1], e.args
sales.close()

# Types=Detected: pandas gets numbers and dates as numbers and dates; a
# column of several kinds stays text, every value kept; SQLColumns tells
# the same types as the result.
typed = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=%s;Types=Detected"
                       % os.path.join(fixtures, "lo_driver.xls"))
frame = pandas.read_sql("select * from [Sheet1$]", typed)
assert str(frame["Qty"].dtype) == "float64", frame.dtypes
assert frame["Qty"].tolist()[:2] == [3.0, 12.0] and frame["Qty"].tolist()[3] == -12.5, frame["Qty"].tolist()
assert str(frame["Price"].dtype) == "float64", frame.dtypes
assert frame["Name"].dtype == object
assert frame["Day"].tolist()[:2] == ["2024-01-15", "2024-02-29 13:45:00"], frame["Day"].tolist()
dates = pandas.read_sql("select * from [Sheet1$D1:D3]", typed)
assert str(dates["Day"].dtype).startswith("datetime64"), dates.dtypes
assert [str(d) for d in dates["Day"]] == ["2024-01-15 00:00:00", "2024-02-29 13:45:00"], dates["Day"].tolist()
# A statement the engine runs keeps the types of the columns it passes through.
with warnings.catch_warnings():
    warnings.simplefilter("ignore")  # pandas prefers SQLAlchemy to a DBAPI connection
    typed_sales = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=%s;Types=Detected"
                                 % os.path.join(fixtures, "xlwt_sql.xls"))
    picked = pandas.read_sql("SELECT Region, Units, Day FROM [Sales$] WHERE Units > ? ORDER BY Units",
                             typed_sales, params=[3])
assert [str(t) for t in picked.dtypes] == ["object", "float64", "datetime64[ns]"], picked.dtypes
assert picked["Units"].tolist() == [4.0, 7.0, 10.0], picked
assert [str(d) for d in picked["Day"]] == ["2024-03-01 00:00:00", "2023-12-31 00:00:00",
                                           "2024-01-15 00:00:00"], picked["Day"].tolist()
tcur = typed.cursor()
described = {d[0]: d[1] for d in tcur.execute("select * from [Sheet1$]").description}
listed = {c.column_name: c.type_name for c in tcur.columns(table="Sheet1$")}
assert described["Qty"] is float and described["Name"] is str, described
assert listed["Qty"] == "DOUBLE" and listed["Name"] == "WVARCHAR" and listed["Day"] == "WVARCHAR", listed
rows_typed = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=%s;Types=Detected"
                            % os.path.join(fixtures, "xlwt_driver.xls"))
values = rows_typed.cursor().execute("select * from [Values$]").fetchall()
assert [r[1] for r in values][:3] == ["TRUE", "FALSE", "42"], values  # a mixed column stays text
half = [r[2] for r in rows_typed.cursor().execute("select * from [Rows$]").fetchall()]
assert half[:4] == [None, 1.0, None, 2.0], half[:4]

# Values=Displayed: numbers as their formats show them.
shown = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=%s;Values=Displayed"
                       % os.path.join(fixtures, "xlwt_driver.xls"))
shown_values = dict(tuple(r) for r in shown.cursor().execute("select * from [Values$]").fetchall())
assert shown_values["third"] == "0.333333333" and shown_values["big"] == "1E+20", shown_values
assert shown_values["date"] == "2024-01-15" and shown_values["time"] == "18:00:00", shown_values
assert shown_values["true"] == "TRUE" and shown_values["div0"] == "#DIV/0!", shown_values
# The .xlsx saved from the same sheets shows the same texts.
def displayed(name):
    c = pyodbc.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=%s;Values=Displayed"
                       % os.path.join(fixtures, name))
    return [tuple(r) for r in c.cursor().execute("select * from [Sheet1$]").fetchall()]


from_xls, from_xlsx = displayed("lo_driver.xls"), displayed("lo_driver.xlsx")
assert from_xls == from_xlsx, (from_xls, from_xlsx)
assert from_xls[1][2:4] == ("0.3", "2024-02-29 13:45:00") and from_xls[3][3] == "13:45:00", from_xls
print("pyodbc ok")
