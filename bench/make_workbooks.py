#!/usr/bin/python3
"""Writes the conversion benchmark's workbooks with LibreOffice headless.

Each workbook is first written as UTF-8 CSV, then converted by LibreOffice
(Debian's libreoffice-calc-nogui) into Excel 97-2003 format, so the .xls is
what a real spreadsheet program writes: shared strings split across CONTINUE
records, its own number formats, typed dates and booleans. The files are
cached in bench/cache/ (git-ignored) and rebuilt only when missing.

  wide.xls    65,535 rows x 26 mixed columns (numbers, text with non-ASCII
              characters, dates, booleans)
  narrow.xls  65,535 rows x 4 columns
  small.xls   100 rows x 10 columns (start-up cost)
  wide.xlsx   wide.xls saved again by LibreOffice as an Excel 2007+ workbook
"""
import csv
import datetime
import os
import subprocess
import sys
import tempfile

CACHE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cache")
WORDS = ["Zürich", "Kraków", "東京", "São Paulo", "Αθήνα", "Reykjavík", "plain", "Ωmega", "naïve café"]


def value(kind, r, c):
    if kind == 0:
        return str(r * 31 + c)
    if kind == 1:
        return f"{(r * 7919 + c) % 100000 / 7:.6f}"
    if kind == 2:
        return f"{WORDS[(r + c) % len(WORDS)]} {r % 977}"
    if kind == 3:
        return (datetime.date(1990, 1, 1) + datetime.timedelta(days=(r * 13 + c) % 12000)).isoformat()
    if kind == 4:
        return "TRUE" if (r + c) % 3 else "FALSE"
    return f"item-{r}-{c}"


def write(name, rows, cols):
    target = os.path.join(CACHE, name + ".xls")
    if os.path.exists(target):
        return target
    os.makedirs(CACHE, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, name + ".csv")
        with open(src, "w", newline="", encoding="utf-8") as f:
            w = csv.writer(f)
            w.writerow([f"Column {c + 1}" for c in range(cols)])
            for r in range(rows):
                w.writerow([value(c % 6, r, c) for c in range(cols)])
        subprocess.run(["soffice", f"-env:UserInstallation=file://{tmp}/profile", "--headless", "--norestore",
                        "--infilter=CSV:44,34,76,1", "--convert-to", "xls:MS Excel 97", "--outdir", CACHE, src],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return target


def write_xlsx(name):
    """The .xls of that name saved by LibreOffice as .xlsx."""
    source = os.path.join(CACHE, name + ".xls")
    target = os.path.join(CACHE, name + ".xlsx")
    if os.path.exists(target):
        return target
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["soffice", f"-env:UserInstallation=file://{tmp}/profile", "--headless", "--norestore",
                        "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", CACHE, source],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return target


if __name__ == "__main__":
    for name, rows, cols in [("wide", 65535, 26), ("narrow", 65535, 4), ("small", 100, 10)]:
        print(write(name, rows, cols))
    print(write_xlsx("wide"))
    sys.exit(0)
