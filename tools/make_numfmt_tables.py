#!/usr/bin/python3
"""Turns spreadsheet-made number-format tables into tests/numfmt/data/excel_tables.txt.

Usage: make_numfmt_tables.py SOURCE_TEST_DIR [OUTPUT]

SOURCE_TEST_DIR is the test folder of the format library whose tables these
are (see tests/numfmt/data/README.md): general.json, implied.json,
fraction.json, oddities.json, comma.tsv and exp.tsv.

Output, one row a line, five fields split by tabs:
    table  builtin-id  format-code  value  expected-text
builtin-id is the number of a built-in format (then format-code is empty) or
empty. value is a decimal number as strtod reads it. Fields are ASCII:
backslash, tab and newline are written \\\\ \\t \\n, any other character
outside printable ASCII as \\uXXXX (a UTF-16 unit). A run of 255 '#' (what a
sheet's text export writes for a value its date format cannot show) is
written as \\H.

Rows left out, and why:
- values that are text or booleans (the engine formats numbers only);
- built-ins 39, 40 and 47 in the implied table: their texts follow the file
  format standard's listing ("#,##0.00;(#,##0.00)", "mmss.0"), not the
  formats the spreadsheet itself applies (its own export of a workbook with
  built-in 39 pads positive numbers with a space: "#,##0.00_);(#,##0.00)");
- rows of the oddities table that the library marks as not matching (a third
  element) or that carry no expected text: the library's own notes, not texts
  the spreadsheet showed.
"""

import json
import sys
from pathlib import Path

HASHES = '#' * 255


def escape(text):
    out = []
    i = 0
    while i < len(text):
        if text.startswith(HASHES, i):
            out.append('\\H')
            i += len(HASHES)
            continue
        c = text[i]
        if c == '\\':
            out.append('\\\\')
        elif c == '\t':
            out.append('\\t')
        elif c == '\n':
            out.append('\\n')
        elif ' ' <= c <= '~':
            out.append(c)
        else:
            units = c.encode('utf-16-be')
            for k in range(0, len(units), 2):
                out.append('\\u' + units[k:k + 2].hex().upper())
        i += 1
    return ''.join(out)


def number(v):
    if isinstance(v, bool) or not isinstance(v, (int, float)):
        return None
    return repr(float(v)) if isinstance(v, float) else str(v)


class Out:
    def __init__(self):
        self.lines = []
        self.skipped = {}

    def row(self, table, fmt, value, expected):
        if isinstance(fmt, int):
            ident, code = str(fmt), ''
        else:
            ident, code = '', fmt
        self.lines.append('\t'.join([table, ident, escape(code), value, escape(expected)]))

    def skip(self, table, why):
        self.skipped[(table, why)] = self.skipped.get((table, why), 0) + 1


def general(src, out):
    for value, fmt, expected in json.loads((src / 'general.json').read_text('utf-8')):
        if number(value) is None:
            out.skip('general', 'text or boolean value')
        else:
            out.row('general', fmt, number(value), expected)


def implied(src, out):
    for entry in json.loads((src / 'implied.json').read_text('utf-8')):
        if len(entry) == 2:
            value, rows = entry
            pairs = [(r[0], r[1]) for r in rows if len(r) == 2]
        else:
            value, fmt, expected = entry
            pairs = [(fmt, expected)]
        for fmt, expected in pairs:
            if fmt in (39, 40, 47):
                out.skip('builtin', f'id {fmt} as the standard lists it')
                continue
            # The library's JSON tables hold the export's run of '#' as ''.
            if expected == '' and (14 <= fmt <= 22 or fmt in (45, 46)):
                expected = HASHES
            out.row('builtin' if fmt != 0 else 'general', fmt, number(value), expected)


def fraction(src, out):
    for value, fmt, expected in json.loads((src / 'fraction.json').read_text('utf-8')):
        out.row('fraction', fmt, number(value), expected)


def oddities(src, out):
    for entry in json.loads((src / 'oddities.json').read_text('utf-8')):
        fmt, rows = entry[0], entry[1:]
        for r in rows:
            if number(r[0]) is None:
                out.skip('oddities', 'text value')
            elif len(r) != 2:
                out.skip('oddities', 'no expected text, or marked by the library')
            else:
                out.row('oddities', fmt, number(r[0]), r[1])


def tsv(src, name, table, out):
    lines = (src / name).read_text('utf-8').split('\n')
    headers = lines[0].split('\t')
    for line in lines[1:]:
        if not line:
            continue
        cells = line.split('\t')
        for fmt, cell in zip(headers[1:], cells[1:]):
            # A leading '|' marks a row the library does not match; the text
            # after it is still the spreadsheet's.
            out.row(table, fmt, cells[0], cell[1:] if cell.startswith('|') else cell)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    src = Path(sys.argv[1])
    dest = Path(sys.argv[2]) if len(sys.argv) == 3 else \
        Path(__file__).resolve().parent.parent / 'tests/numfmt/data/excel_tables.txt'
    out = Out()
    general(src, out)
    implied(src, out)
    fraction(src, out)
    tsv(src, 'comma.tsv', 'comma', out)
    tsv(src, 'exp.tsv', 'exp', out)
    oddities(src, out)
    dest.write_text(''.join(line + '\n' for line in out.lines), 'ascii')
    counts = {}
    for line in out.lines:
        counts[line.split('\t', 1)[0]] = counts.get(line.split('\t', 1)[0], 0) + 1
    for table, n in counts.items():
        print(f'{table}: {n} rows')
    for (table, why), n in sorted(out.skipped.items()):
        print(f'{table}: left out {n} ({why})')


if __name__ == '__main__':
    main()
