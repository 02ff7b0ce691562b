#!/usr/bin/python3
"""Writes the driver's test workbooks with real writers into fixtures/.

Run with Debian's /usr/bin/python3 (python3-xlwt) and LibreOffice (soffice)
on PATH:   tests/xlsodbc/make_fixtures.py [OUTDIR]   (default: fixtures/)
The outputs are small and committed; the tests never run this script.

  lo_driver.xls    LibreOffice (from a flat ODS): sheets named with a space,
                   a quote, non-ASCII letters, duplicate and empty headers, empty rows,
                   an empty sheet, data starting at C3, dates and times,
                   non-ASCII text, defined names.
  xlwt_sql.xls     xlwt: sales rows and regions to join them with (statements).
  xlwt_driver.xls  xlwt: booleans, error values, number forms, a
                   32,767-character text, a 2,000-row sheet for block fetches.
  xlwt_control_names.xls  xlwt: sheets whose names hold a line break, a tab
                   and a C1 control character, and values that hold them.
  lo_driver.xlsx   the LibreOffice workbook saved as .xlsx (a zip container).
  lo_driver_truncated.xls  lo_driver.xls cut to its first 4 KB.
  not_a_workbook.xls  a text file.

Two real workbooks are copied as they are from the shared corpus, not made
here: poi__46368.xls (Apache POI's test data, Apache-2.0; a first cell of
32,770 characters) and xlrd__namesdemo.xls (xlrd's samples, BSD-style
licence; names of one name on several sheets).
"""
import os
import sys

import xlwt

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from fixture_writers import (c_date, c_empty, c_f, c_num, c_str, c_time,  # noqa: E402
                             fixtures_folder, fods_document, fods_to, named_range, table,
                             truncated_copy)

OUT = fixtures_folder(__file__, sys.argv)

STYLES = """\
 <number:date-style style:name="nd"><number:year number:style="long"/><number:text>-</number:text><number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/></number:date-style>
 <number:date-style style:name="ndt"><number:year number:style="long"/><number:text>-</number:text><number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/><number:text> </number:text><number:hours number:style="long"/><number:text>:</number:text><number:minutes number:style="long"/><number:text>:</number:text><number:seconds number:style="long"/></number:date-style>
 <number:time-style style:name="nt"><number:hours number:style="long"/><number:text>:</number:text><number:minutes number:style="long"/><number:text>:</number:text><number:seconds number:style="long"/></number:time-style>
 <style:style style:name="cdate" style:family="table-cell" style:data-style-name="nd"/>
 <style:style style:name="cdt" style:family="table-cell" style:data-style-name="ndt"/>
 <style:style style:name="ctime" style:family="table-cell" style:data-style-name="nt"/>"""

NAMES = "\n".join([named_range("Prices", "$Sheet1.$A$1", "$Sheet1.$A$1:.$C$3"),
                   named_range("OffsetBlock", "$Offset.$C$3", "$Offset.$C$3:.$D$5")])


def lo_sheets():
    s, f = c_str, c_num
    sheet1 = table("Sheet1", [
        [s("Name"), s("Qty"), s("Price"), s("Day"), s("Note")],
        [s("pen"), f(3), f(1.5), c_date("2024-01-15", "cdate"), s("first")],
        [s("ink"), f(12), c_f("of:=0.1+0.2", value=0.3), c_date("2024-02-29T13:45:00", "cdt"), c_empty()],
        ("repeat-empty", 1),
        [s("Grüße 日本 😀"), f(-12.5), c_empty(), c_time("PT13H45M00S", "ctime"), s("a&b <c>")],
        [s("last")],
    ])
    return [
        sheet1,
        table("My Sheet", [[s("Col")], [s("v1")]]),
        table("Bob's Data", [[s("h")], [s("bob")]]),
        table("Café", [[s("h")], [s("accent")]]),
        table("Headers", [[s("Qty"), s("qty"), c_empty(), s("F3"), s("Qty")], [f(1), f(2), f(3), f(4), f(5)]]),
        table("Empty", [("repeat-empty", 1)]),
        table("Offset", [("repeat-empty", 2), [c_empty(), c_empty(), s("a"), s("b")], [c_empty(), c_empty(), f(1)],
                         [c_empty(), c_empty(), c_empty(), f(2)]]),
    ]


def write_lo():
    fods_to(fods_document(lo_sheets(), styles=STYLES, names=NAMES), "lo_driver", OUT,
            "xls:MS Excel 97", "xlsx:Calc MS Excel 2007 XML")


def write_xlwt():
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Values")
    ws.write(0, 0, "Kind")
    ws.write(0, 1, "Value")
    values = [("true", True), ("false", False), ("int", 42), ("neg", -7), ("big", 1e20), ("small", 1.23e-05),
              ("third", 1.0 / 3), ("frac", 2.75), ("negzero", -0.0), ("text", "12abc"), ("long", "x" * 32767),
              ("numtext", "123"), ("unicode", "Ünïcödé ☃ 𝄞")]
    r = 1
    for kind, value in values:
        ws.write(r, 0, kind)
        ws.write(r, 1, value)
        r += 1
    ws.write(r, 0, "div0")
    ws.row(r).set_cell_error(1, "#DIV/0!")
    r += 1
    ws.write(r, 0, "na")
    ws.row(r).set_cell_error(1, 0x2A)  # #N/A
    r += 1
    ws.write(r, 0, "date")
    ws.write(r, 1, 45306.0, xlwt.easyxf(num_format_str="yyyy-mm-dd"))
    r += 1
    ws.write(r, 0, "datetime")
    ws.write(r, 1, 45306.5, xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss"))
    r += 1
    ws.write(r, 0, "time")
    ws.write(r, 1, 0.75, xlwt.easyxf(num_format_str="hh:mm:ss"))

    rows = wb.add_sheet("Rows")
    rows.write(0, 0, "N")
    rows.write(0, 1, "Text")
    rows.write(0, 2, "Half")
    for i in range(1, 2001):
        rows.write(i, 0, i)
        rows.write(i, 1, "row %d" % i)
        if i % 2 == 0:
            rows.write(i, 2, i / 2)
    wb.save(os.path.join(OUT, "xlwt_driver.xls"))


def write_control_names():
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("x\r\nForged line")
    ws.write(0, 0, "Value")
    ws.write(1, 0, "a\r\nb")
    ws.write(2, 0, "tab\there\x07")
    other = wb.add_sheet("Tab\there\x85")
    other.write(0, 0, "N")
    wb.save(os.path.join(OUT, "xlwt_control_names.xls"))


def write_sql():
    """xlwt_sql.xls: sales rows and a second table to join them with, for
    the statements the engine runs (mixed letter case, non-ASCII letters,
    dates, booleans, empty cells)."""
    wb = xlwt.Workbook(encoding="utf-8")
    date = xlwt.easyxf(num_format_str="d-mmm-yy")
    stamp = xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss")
    money = xlwt.easyxf(num_format_str="#,##0.00")
    sales = wb.add_sheet("Sales")
    for c, h in enumerate(["Region", "Product", "Units", "Price", "Day", "Paid"]):
        sales.write(0, c, h)
    rows = [("North", "pen", 10, 1.5, 45306.0, True),
            ("south", "ink", 4, 0.25, 45352.0, False),
            ("North", "Pencil", 7, 0.5, 45291.0, True),
            ("\u00c4rger", "pen", 1, 1.5, 45351.0, False),
            ("\u00e4rger", "ink", 2, 0.25, None, True),
            ("West", None, 3, 2, 45306.5729166667, False)]
    for r, row in enumerate(rows, start=1):
        for c, value in enumerate(row):
            if value is None:
                continue
            if c == 4:
                sales.write(r, c, value, stamp if value % 1 else date)
            elif c == 3:
                sales.write(r, c, value, money)
            else:
                sales.write(r, c, value)
    regions = wb.add_sheet("Regions")
    regions.write(0, 0, "Region")
    regions.write(0, 1, "Manager")
    for r, (region, manager) in enumerate([("North", "Ann"), ("SOUTH", "Bob"), ("\u00c4RGER", "Cem"),
                                            ("East", "Dan")], start=1):
        regions.write(r, 0, region)
        regions.write(r, 1, manager)
    wb.save(os.path.join(OUT, "xlwt_sql.xls"))


def write_bad():
    truncated_copy(os.path.join(OUT, "lo_driver.xls"), os.path.join(OUT, "lo_driver_truncated.xls"), 4096)
    with open(os.path.join(OUT, "not_a_workbook.xls"), "w") as out:
        out.write("Name,Qty\npen,3\n")


def main():
    write_lo()
    write_xlwt()
    write_control_names()
    write_sql()
    write_bad()


if __name__ == "__main__":
    main()
