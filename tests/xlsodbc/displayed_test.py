"""Values=Displayed against the spreadsheet's own text exports.

Every CSV in <corpus>/excel-csv was saved by Excel from a workbook in
<corpus>/xls (sheet N, counted in workbook order). Each such sheet is read
through the driver with Values=Displayed and FirstRowHasNames=0 and must
equal the export cell for cell, but for the cells listed in UNMATCHABLE,
each with the reason it cannot match. Workbooks the driver refuses as
password-protected are counted apart. Ends with the count of sheets and
cells that match.

Run with /usr/bin/python3 (Debian's pyodbc) and ODBCSYSINI pointing at the
build tree's etc/.
"""
import csv
import glob
import os
import re
import sys

import pyodbc

DRIVER = "Velkor Excel Driver (*.xls)"

# (export, row, column) within the used range, (export, None, column) for a
# whole column, or (export, None, None) for a whole sheet: why the cells
# cannot match the export.
UNMATCHABLE = {
    ("sheetjs__BlankSheetTypes.xls.excel-mac-2016.sheet0.csv", None, None):
        "the export holds cells the workbook does not (an independent reader finds none either)",
    ("sheetjs__comments_stress_test.xls.excel-mac-2016.sheet2.csv", 0, 1):
        "a text with line breaks: the Mac export writes each as CR, the cell holds LF",
    ("sheetjs__comments_stress_test.xls.excel-mac-2016.sheet2.csv", 2, 1):
        "a text with line breaks: the Mac export writes each as CR, the cell holds LF",
    ("sheetjs__numfmt_1_russian.xls.excel-mac-2016.sheet0.csv", 4, 1):
        "a text cell whose stored spaces the export changed (an independent reader agrees with us)",
    ("sheetjs__numfmt_1_russian.xls.excel-mac-2016.sheet0.csv", None, 3):
        "texts from the workbook's macro functions, which the export shows recalculated",
    ("sheetjs__numfmt_1_russian.xls.excel-mac-2016.sheet0.csv", None, 4):
        "texts from the workbook's macro functions, which the export shows recalculated",
    ("sheetjs__numfmt_1_russian.xls.excel-mac-2016.sheet0.csv", None, 5):
        "texts from the workbook's macro functions, which the export shows recalculated",
    ("sheetjs__phpexcel_bad_cfb_dir.xls.excel-mac-2016.sheet0.csv", 1, 5):
        "a text that begins with a quote, which the export wrote unquoted (not CSV)",
    ("sheetjs__phpexcel_bad_cfb_dir.xls.excel-mac-2016.sheet0.csv", 2, 5):
        "a text that begins with a quote, which the export wrote unquoted (not CSV)",
}


def as_exported(text):
    """A text as the 8-bit export writes it: Windows-1252, '_' for every
    UTF-16 unit outside it."""
    out = []
    for ch in text:
        try:
            ch.encode("cp1252")
            out.append(ch)
        except UnicodeEncodeError:
            out.append("_" * (2 if ord(ch) > 0xFFFF else 1))
    return "".join(out)


def trimmed(grid):
    grid = [list(r) for r in grid]
    while grid and all(c == "" for c in grid[-1]):
        grid.pop()
    for r in grid:
        while r and r[-1] == "":
            r.pop()
    return grid


def from_used_range(grid):
    """The export starts at A1; the driver's result at the used range."""
    grid = trimmed(grid)
    top = 0
    while top < len(grid) and not grid[top]:
        top += 1
    left = min((next(i for i, c in enumerate(r) if c != "") for r in grid if r), default=0)
    return trimmed([r[left:] for r in grid[top:]])


def main(corpus):
    exports = sorted(glob.glob(os.path.join(corpus, "excel-csv", "*.csv")))
    if not exports:
        print("no exports in", corpus)
        return 1
    sheets = matched_sheets = cells = matched = refused = 0
    failures = []
    for path in exports:
        name = os.path.basename(path)
        m = re.match(r"(.*)\.excel-mac-\d+\.sheet(\d+)\.csv$", name)
        book, index = m.group(1), int(m.group(2))
        workbook = os.path.join(corpus, "xls", book)
        if (name, None, None) in UNMATCHABLE or not os.path.exists(workbook):
            continue
        try:
            conn = pyodbc.connect("DRIVER={%s};DBQ=%s;FirstRowHasNames=0;Values=Displayed"
                                  % (DRIVER, workbook))
        except pyodbc.Error as e:
            if "password-protected" in str(e):
                refused += 1
                continue
            raise
        cur = conn.cursor()
        tables = [t.table_name for t in cur.tables() if t.table_type == "SYSTEM TABLE"]
        rows = cur.execute("select * from [%s]" % tables[index]).fetchall()
        conn.close()
        ours = trimmed([["" if v is None else v for v in r] for r in rows])
        with open(path, newline="", encoding="cp1252", errors="replace") as f:
            excel = from_used_range(csv.reader(f))
        sheets += 1
        bad = 0
        for r in range(max(len(excel), len(ours))):
            er = excel[r] if r < len(excel) else []
            orow = ours[r] if r < len(ours) else []
            for c in range(max(len(er), len(orow))):
                e = er[c] if c < len(er) else ""
                o = orow[c] if c < len(orow) else ""
                if e == "" and o == "":
                    continue
                cells += 1
                if e == as_exported(o):
                    matched += 1
                elif (name, r, c) not in UNMATCHABLE and (name, None, c) not in UNMATCHABLE:
                    bad += 1
                    failures.append("%s row %d column %d: Excel %r, driver %r" % (name, r, c, e, o))
        matched_sheets += bad == 0
    for f in failures:
        print(f)
    print("sheets %d of %d, cells %d of %d match; %d refused as password-protected"
          % (matched_sheets, sheets, matched, cells, refused))
    return 1 if failures or sheets == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
