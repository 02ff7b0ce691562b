#!/usr/bin/python3
"""Make the reader benchmark's large workbook, cached in bench/cache/.

65,535 rows x 26 mixed columns (integers, decimals, short and repeated
strings, dates, times, booleans, errors-free formulas' results are not
needed here), written with python3-xlwt and re-saved by LibreOffice
headless so that the record layout is LibreOffice's (MULRK, SST with
CONTINUE, DBCELL/INDEX). Prints the cached path; does nothing if it exists.
Needs python3-xlwt and libreoffice-calc-nogui; run with Debian's python3.
"""
import datetime as dt
import os
import shutil
import subprocess
import sys

import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.path.join(HERE, "cache")
TARGET = os.path.join(CACHE, "bench_65535x26.xls")
ROWS, COLS = 65535, 26


def value(r, c):
    kind = c % 6
    if kind == 0:
        return r * 7 + c
    if kind == 1:
        return (r * 31 + c) / 8.0 + 0.001
    if kind == 2:
        return "text %d/%d" % (r, c)
    if kind == 3:
        return ("north", "south", "east", "west")[r % 4]
    if kind == 4:
        return dt.datetime(2000, 1, 1) + dt.timedelta(days=r % 9000, seconds=(r * 37) % 86400)
    return (r + c) % 2 == 0


def main():
    if os.path.exists(TARGET):
        print(TARGET)
        return
    os.makedirs(CACHE, exist_ok=True)
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("data")
    date_style = xlwt.easyxf(num_format_str="YYYY-MM-DD HH:MM:SS")
    for c in range(COLS):
        sheet.write(0, c, "col%02d" % c)
    for r in range(1, ROWS):
        for c in range(COLS):
            v = value(r, c)
            if isinstance(v, dt.datetime):
                sheet.write(r, c, v, date_style)
            else:
                sheet.write(r, c, v)
    raw = os.path.join(CACHE, "bench_xlwt.xls")
    book.save(raw)
    out = os.path.join(CACHE, "lo-out")
    profile = os.path.join(CACHE, "lo-profile")
    subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless",
                    "--convert-to", "xls:MS Excel 97", "--outdir", out, raw],
                   check=True, stdout=subprocess.DEVNULL)
    shutil.move(os.path.join(out, "bench_xlwt.xls"), TARGET)
    os.remove(raw)
    print(TARGET)


if __name__ == "__main__":
    sys.exit(main())
