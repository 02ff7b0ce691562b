#!/usr/bin/python3
"""Derive malformed workbooks from the committed fixtures by byte patches.

Usage:  tests/xls/make_malformed_fixtures.py   (writes tests/xls/fixtures/malformed/)

Each output is named after its defect; the fixture test expects each to be
refused with the error kind and place named in its table, or (for the
tolerated ones) to read like its source.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SRC = os.path.join(HERE, "fixtures")
OUT = os.path.join(SRC, "malformed")
ENDOFCHAIN = 0xFFFFFFFE


class Cfb:
    """Just enough of the compound file to find a stream's sectors."""

    def __init__(self, data):
        self.d = bytearray(data)
        self.ss = 1 << struct.unpack_from("<H", self.d, 0x1E)[0]
        fat_sectors = [s for s in struct.unpack_from("<109I", self.d, 0x4C) if s < 0xFFFFFFF0]
        self.fat_pos = []  # file offset of each FAT entry
        for s in fat_sectors:
            base = (s + 1) * self.ss
            self.fat_pos += [base + 4 * i for i in range(self.ss // 4)]

    def fat(self, i):
        return struct.unpack_from("<I", self.d, self.fat_pos[i])[0]

    def set_fat(self, i, v):
        struct.pack_into("<I", self.d, self.fat_pos[i], v)

    def chain(self, s):
        out = []
        while s != ENDOFCHAIN and len(out) < 100000:
            out.append(s)
            s = self.fat(s)
        return out

    def entry(self, name):
        for s in self.chain(struct.unpack_from("<I", self.d, 0x30)[0]):
            base = (s + 1) * self.ss
            for k in range(self.ss // 128):
                e = base + 128 * k
                n = struct.unpack_from("<H", self.d, e + 0x40)[0]
                if self.d[e:e + max(0, n - 2)].decode("utf-16le", "replace") == name:
                    return e
        raise KeyError(name)

    def stream_sectors(self, name):
        e = self.entry(name)
        return self.chain(struct.unpack_from("<I", self.d, e + 0x74)[0])

    def stream_offset(self, name, pos):
        """File offset of byte pos of a stream held in regular sectors."""
        sectors = self.stream_sectors(name)
        return (sectors[pos // self.ss] + 1) * self.ss + pos % self.ss

    def stream(self, name):
        e = self.entry(name)
        size = struct.unpack_from("<I", self.d, e + 0x78)[0]
        return b"".join(bytes(self.d[(s + 1) * self.ss:(s + 2) * self.ss])
                        for s in self.stream_sectors(name))[:size]


def records(stream):
    pos = 0
    while pos + 4 <= len(stream):
        t, n = struct.unpack_from("<HH", stream, pos)
        yield pos, t, n
        pos += 4 + n


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(bytes(data))
    print(name, len(data))


def main():
    os.makedirs(OUT, exist_ok=True)
    base = open(os.path.join(SRC, "xlwt_types.xls"), "rb").read()

    cf = Cfb(base)
    chain = cf.stream_sectors("Workbook")
    cf.set_fat(chain[3], chain[1])
    write("fat_chain_loops.xls", cf.d)

    cf = Cfb(base)
    cf.set_fat(chain[2], 0x00FFFFF0)
    write("sector_index_out_of_range.xls", cf.d)

    cf = Cfb(base)
    cf.set_fat(chain[0], 0xFFFFFFFF)  # a free sector where the chain goes on
    write("stream_chain_cut_short.xls", cf.d)

    write("file_truncated_in_workbook_stream.xls", base[:len(base) // 2])

    # The last record of the stream claims more bytes than the stream has.
    cf = Cfb(base)
    stream = cf.stream("Workbook")
    last = [p for p, t, n in records(stream) if t == 0x000A][-1]
    struct.pack_into("<H", cf.d, cf.stream_offset("Workbook", last + 2), 0x2000)
    write("record_longer_than_its_stream.xls", cf.d)

    # SST declaring far more unique strings than are present (tolerated).
    cf = Cfb(base)
    sst = next(p for p, t, n in records(stream) if t == 0x00FC)
    struct.pack_into("<I", cf.d, cf.stream_offset("Workbook", sst + 8), 50000000)
    write("sst_count_larger_than_data.xls", cf.d)

    # The workbook stream's name in capitals (tolerated).
    cf = Cfb(base)
    e = cf.entry("Workbook")
    cf.d[e:e + 16] = "WORKBOOK".encode("utf-16le")
    write("stream_name_in_capitals.xls", cf.d)

    # The Workbook stream's 4th and 11th sectors trade places in the file
    # (the chain follows them): records then cross from one run of sectors
    # to another (tolerated, reads like the source).
    cf = Cfb(base)
    order = list(chain)
    order[3], order[10] = order[10], order[3]
    ss = cf.ss
    blocks = {s: bytes(cf.d[(s + 1) * ss:(s + 2) * ss]) for s in chain}
    for k, s in enumerate(order):
        cf.d[(s + 1) * ss:(s + 2) * ss] = blocks[chain[k]]
    for a, b in zip(order, order[1:]):
        cf.set_fat(a, b)
    cf.set_fat(order[-1], ENDOFCHAIN)
    struct.pack_into("<I", cf.d, cf.entry("Workbook") + 0x74, order[0])
    write("stream_sectors_out_of_order.xls", cf.d)

    # The sheet's DIMENSION claims 2^32 rows of 65,535 columns, which no
    # reservation may follow (tolerated).
    cf = Cfb(base)
    dim = [p for p, t, n in records(stream) if t == 0x0200][0]
    struct.pack_into("<I", cf.d, cf.stream_offset("Workbook", dim + 8), 0xFFFFFFFF)
    struct.pack_into("<H", cf.d, cf.stream_offset("Workbook", dim + 14), 0xFFFF)
    write("dimension_claims_4g_rows.xls", cf.d)

    # Two cells moved past the grid's last column (IV, 256 columns): one to
    # column 300, one to column 40,000 (damage; left out with a warning).
    cf = Cfb(base)
    cells = [p for p, t, n in records(stream) if t in (0x0203, 0x00FD, 0x027E)]
    struct.pack_into("<H", cf.d, cf.stream_offset("Workbook", cells[0] + 6), 300)
    struct.pack_into("<H", cf.d, cf.stream_offset("Workbook", cells[1] + 6), 40000)
    write("cells_past_the_last_column.xls", cf.d)

    # Excel 95 in Russian (SheetJS's biff5_numfmt_1_russian.xls) with its
    # CODEPAGE record renamed to a record no reader knows: the fonts'
    # character set (204, Cyrillic) must give the code page (tolerated,
    # reads like its source).
    cf = Cfb(open(os.path.join(SRC, "excel95_russian.xls"), "rb").read())
    book = cf.stream("Book")
    codepage = next(p for p, t, n in records(book) if t == 0x0042)
    struct.pack_into("<H", cf.d, cf.stream_offset("Book", codepage), 0x00FF)
    write("excel95_russian_no_codepage.xls", cf.d)

    # Excel 2000 in Japanese (Spreadsheet::ParseExcel's Test2000J.xls) with
    # its COUNTRY record saying Chinese Excel: built-in format 56, a date
    # in Japanese Excel, is a time in Chinese Excel.
    cf = Cfb(open(os.path.join(SRC, "excel2000_japanese.xls"), "rb").read())
    wb = cf.stream("Workbook")
    country = next(p for p, t, n in records(wb) if t == 0x008C)
    for field in (4, 6):
        struct.pack_into("<H", cf.d, cf.stream_offset("Workbook", country + field), 86)
    write("excel2000_japanese_country_china.xls", cf.d)

    # An Excel 4.0 workbook (BIFF4W) assembled from two Excel 4.0 worksheet
    # files: globals (BOF of a workbook, CODEPAGE, the sheet names), then
    # per sheet a SHEETHDR (the sub-stream's length and the sheet's name)
    # and the worksheet file's stream, then the globals' EOF (tolerated:
    # each sheet reads like its source).
    def rec(t, data=b""):
        return struct.pack("<HH", t, len(data)) + data

    def name(text):
        return bytes([len(text)]) + text.encode("latin-1")

    sheets = [("First", "biff2-4/as3xls_BIFF4.xls"), ("Second", "biff2-4/CRLFX5_4.XLS")]
    w = rec(0x0409, struct.pack("<HHH", 0, 0x0100, 0)) + rec(0x0042, struct.pack("<H", 0x8001))
    for title, _ in sheets:
        w += rec(0x0085, name(title))
    for title, src in sheets:
        body = open(os.path.join(SRC, src), "rb").read()
        w += rec(0x008F, struct.pack("<I", len(body)) + name(title)) + body
    write("biff4w_assembled_from_two_worksheets.xls", w + rec(0x000A))

    # A bare BIFF4 BOF that declares 6 bytes and is followed by 8, then EOF:
    # the next record header is read from inside the BOF's data.
    write("biff4_worksheet.xls", struct.pack("<HHHHHH", 0x0409, 6, 0, 0x10, 0, 0) +
          struct.pack("<HH", 0x000A, 0))
    # A zip container, the start of an .xlsx file.
    write("zip_container.xls", b"PK\x03\x04" + bytes(60))


if __name__ == "__main__":
    main()
