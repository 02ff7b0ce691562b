#!/usr/bin/python3
"""Writes the driver's test workbooks with real writers into fixtures/.

Run with Debian's /usr/bin/python3 (python3-xlwt) and LibreOffice (soffice)
on PATH:   tests/xlsodbc/make_fixtures.py
The outputs are small and committed; the tests never run this script.

  lo_driver.xls    LibreOffice (from a flat ODS): sheets named with a space,
                   a quote, non-ASCII letters, duplicate and empty headers, empty rows,
                   an empty sheet, data starting at C3, dates and times,
                   non-ASCII text, defined names.
  xlwt_driver.xls  xlwt: booleans, error values, number forms, a
                   32,767-character text, a 2,000-row sheet for block fetches.
  lo_driver.xlsx   the LibreOffice workbook saved as .xlsx (a zip container).
  truncated.xls    lo_driver.xls cut to its first 4 KB.
  not_a_workbook.xls  a text file.

Two real workbooks are copied as they are from the shared corpus, not made
here: poi__46368.xls (Apache POI's test data, Apache-2.0; a first cell of
32,770 characters) and xlrd__namesdemo.xls (xlrd's samples, BSD-style
licence; names of one name on several sheets).
"""
import os
import shutil
import subprocess
import tempfile

import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "fixtures")


def cell(value=None, kind="string", extra=""):
    if value is None:
        return "<table:table-cell/>"
    if kind == "string":
        return ('<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' % value)
    if kind == "float":
        return '<table:table-cell office:value-type="float" office:value="%s"/>' % value
    if kind == "formula":
        return ('<table:table-cell table:formula="of:=%s" office:value-type="float" office:value="%s"/>'
                % (extra, value))
    if kind == "date":
        return ('<table:table-cell table:style-name="%s" office:value-type="date" office:date-value="%s"/>'
                % (extra, value))
    if kind == "time":
        return ('<table:table-cell table:style-name="ctime" office:value-type="time" office:time-value="%s"/>'
                % value)
    raise ValueError(kind)


def row(*cells):
    return "<table:table-row>%s</table:table-row>" % "".join(cells)


def empty_rows(n):
    return '<table:table-row table:number-rows-repeated="%d"><table:table-cell/></table:table-row>' % n


def table(name, *rows):
    return '<table:table table:name="%s">%s</table:table>' % (name, "".join(rows))


def s(v):
    return cell(v, "string")


def f(v):
    return cell(v, "float")


FODS_HEAD = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles>
 <number:date-style style:name="nd"><number:year number:style="long"/><number:text>-</number:text><number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/></number:date-style>
 <number:date-style style:name="ndt"><number:year number:style="long"/><number:text>-</number:text><number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/><number:text> </number:text><number:hours number:style="long"/><number:text>:</number:text><number:minutes number:style="long"/><number:text>:</number:text><number:seconds number:style="long"/></number:date-style>
 <number:time-style style:name="nt"><number:hours number:style="long"/><number:text>:</number:text><number:minutes number:style="long"/><number:text>:</number:text><number:seconds number:style="long"/></number:time-style>
 <style:style style:name="cdate" style:family="table-cell" style:data-style-name="nd"/>
 <style:style style:name="cdt" style:family="table-cell" style:data-style-name="ndt"/>
 <style:style style:name="ctime" style:family="table-cell" style:data-style-name="nt"/>
</office:automatic-styles>
<office:body><office:spreadsheet>
"""

FODS_TAIL = """<table:named-expressions>
 <table:named-range table:name="Prices" table:base-cell-address="$Sheet1.$A$1" table:cell-range-address="$Sheet1.$A$1:.$C$3"/>
 <table:named-range table:name="OffsetBlock" table:base-cell-address="$Offset.$C$3" table:cell-range-address="$Offset.$C$3:.$D$5"/>
</table:named-expressions>
</office:spreadsheet></office:body></office:document>
"""


def lo_sheets():
    sheet1 = table(
        "Sheet1",
        row(s("Name"), s("Qty"), s("Price"), s("Day"), s("Note")),
        row(s("pen"), f(3), f(1.5), cell("2024-01-15", "date", "cdate"), s("first")),
        row(s("ink"), f(12), cell("0.3", "formula", "0.1+0.2"), cell("2024-02-29T13:45:00", "date", "cdt"), cell()),
        empty_rows(1),
        row(s("Grüße 日本 😀"), f(-12.5), cell(), cell("PT13H45M00S", "time"), s("a&amp;b &lt;c&gt;")),
        row(s("last")),
    )
    return [
        sheet1,
        table("My Sheet", row(s("Col")), row(s("v1"))),
        table("Bob's Data", row(s("h")), row(s("bob"))),
        table("Café", row(s("h")), row(s("accent"))),
        table("Headers", row(s("Qty"), s("qty"), cell(), s("F3"), s("Qty")), row(f(1), f(2), f(3), f(4), f(5))),
        table("Empty", empty_rows(1)),
        table("Offset", empty_rows(2), row(cell(), cell(), s("a"), s("b")), row(cell(), cell(), f(1)),
              row(cell(), cell(), cell(), f(2))),
    ]


def soffice(src, fmt, outdir, profile):
    subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--convert-to", fmt,
                    "--outdir", outdir, src], check=True, stdout=subprocess.DEVNULL)


def write_lo(tmp):
    src = os.path.join(tmp, "lo_driver.fods")
    with open(src, "w", encoding="utf-8") as out:
        out.write(FODS_HEAD + "".join(lo_sheets()) + FODS_TAIL)
    profile = os.path.join(tmp, "profile")
    soffice(src, "xls:MS Excel 97", tmp, profile)
    soffice(src, "xlsx:Calc MS Excel 2007 XML", tmp, profile)
    shutil.copy(os.path.join(tmp, "lo_driver.xls"), os.path.join(OUT, "lo_driver.xls"))
    shutil.copy(os.path.join(tmp, "lo_driver.xlsx"), os.path.join(OUT, "lo_driver.xlsx"))


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


def write_bad():
    with open(os.path.join(OUT, "lo_driver.xls"), "rb") as src:
        head = src.read(4096)
    with open(os.path.join(OUT, "truncated.xls"), "wb") as out:
        out.write(head)
    with open(os.path.join(OUT, "not_a_workbook.xls"), "w") as out:
        out.write("Name,Qty\npen,3\n")


def main():
    os.makedirs(OUT, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        write_lo(tmp)
    write_xlwt()
    write_bad()


if __name__ == "__main__":
    main()
