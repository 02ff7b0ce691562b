#!/usr/bin/python3
"""Writes the .xlsx reader's fixtures into tests/xlsx/fixtures/.

Usage:  /usr/bin/python3 tests/xlsx/make_fixtures.py
(Debian's python3-xlsxwriter and python3-openpyxl; run /usr/bin/python3.)

Real writers, one workbook per trap:
  xlw_traps.xlsx       XlsxWriter: rich text, a "\\r\\n" string (_x000D_),
                       a date before 1900-03-01, a time-only format, a
                       boolean, an error and a formula with cached values,
                       a merged area, XFD1 (the last column), a hidden
                       sheet, a chart sheet between worksheets, defined
                       names of the workbook and of one sheet (localSheetId)
  xlw_inline_1904.xlsx XlsxWriter in constant-memory mode (inline strings,
                       no shared-string part) with the 1904 date system
  opx_iso_dates.xlsx   openpyxl with ISO 8601 date cells (t="d") and no
                       styles beyond its defaults

Damaged and hostile copies of xlw_traps.xlsx, named after their defect
(malformed/): a cut zip, sizes that lie, a bomb of each kind, a DTD,
duplicate parts, a cycle of relationships, indexes past their tables, a
cell past the grid.
"""
import datetime
import io
import os
import struct
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "fixtures")
BAD = os.path.join(OUT, "malformed")
FIXED_TIME = (2024, 1, 1, 0, 0, 0)


def xlsxwriter_traps(path):
    import xlsxwriter
    wb = xlsxwriter.Workbook(path)
    wb.set_properties({"created": datetime.datetime(2024, 1, 1)})
    bold = wb.add_format({"bold": True})
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    time = wb.add_format({"num_format": "hh:mm:ss"})
    ws = wb.add_worksheet("Data")
    ws.write_row(0, 0, ["Name", "When", "At", "Flag", "Calc"])
    ws.write_rich_string(1, 0, "plain ", bold, "bold", " tail")
    ws.write_datetime(1, 1, datetime.datetime(1900, 2, 15), date)
    ws.write_datetime(1, 2, datetime.time(13, 45, 30), time)
    ws.write_boolean(1, 3, True)
    ws.write_formula(1, 4, "=1/0", None, "#DIV/0!")
    ws.write_string(2, 0, "two\r\nlines")
    ws.write_number(2, 1, 45306.5, date)
    ws.write_formula(2, 4, "=2+3", None, 5)
    ws.merge_range("A4:B5", "merged", None)
    ws.write_string(0, 16383, "last column")
    hidden = wb.add_worksheet("Hidden")
    hidden.write("A1", "secret")
    hidden.hide()
    chart = wb.add_chart({"type": "column"})
    chart.add_series({"values": "=Data!$B$2:$B$3"})
    cs = wb.add_chartsheet("Chart")
    cs.set_chart(chart)
    last = wb.add_worksheet("Last")
    last.write_row(0, 0, ["k", "v"])
    last.write_row(1, 0, ["a", 1])
    wb.define_name("Block", "=Data!$A$1:$C$3")
    wb.define_name("Last!Local", "=Last!$A$1:$B$2")
    wb.close()


def xlsxwriter_inline_1904(path):
    import xlsxwriter
    wb = xlsxwriter.Workbook(path, {"constant_memory": True, "date_1904": True})
    wb.set_properties({"created": datetime.datetime(2024, 1, 1)})
    date = wb.add_format({"num_format": "yyyy-mm-dd hh:mm"})
    ws = wb.add_worksheet()
    ws.write_row(0, 0, ["text", "when"])
    ws.write_string(1, 0, "inline")
    ws.write_datetime(1, 1, datetime.datetime(2024, 1, 15, 13, 45), date)
    ws.write_string(2, 0, "")
    ws.write_number(2, 1, 0.5)
    wb.close()


def openpyxl_iso_dates(path):
    import openpyxl
    wb = openpyxl.Workbook()
    wb.iso_dates = True
    ws = wb.active
    ws.title = "Dates"
    ws.append(["when", "n"])
    ws.append([datetime.datetime(2024, 1, 15, 13, 45), 1])
    ws.append([datetime.date(1999, 12, 31), 2])
    wb.save(path)


def members(path):
    with zipfile.ZipFile(path) as z:
        return [(i.filename, z.read(i.filename)) for i in z.infolist()]


def write_zip(path, parts, method=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(path, "w", method) as z:
        for name, data in parts:
            z.writestr(zipfile.ZipInfo(name, FIXED_TIME), data, compress_type=method)


def replaced(parts, name, data):
    return [(n, data if n == name else d) for n, d in parts]


def stored_zip(parts):
    """A zip of stored members, built by hand so that its headers can lie."""
    body, central = bytearray(), bytearray()
    for name, data in parts:
        n = name.encode()
        crc = zlib.crc32(data)
        offset = len(body)
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, crc, len(data), len(data), len(n), 0) + n + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0, crc, len(data), len(data),
                               len(n), 0, 0, 0, 0, 0, offset) + n
    eocd = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(parts), len(parts), len(central), len(body), 0)
    return bytes(body + central + eocd), len(body)


def malformed(source):
    os.makedirs(BAD, exist_ok=True)
    parts = members(source)
    raw = open(source, "rb").read()
    out = {}
    out["truncated_zip.xlsx"] = raw[: len(raw) // 2]
    # Central directory sizes that lie: a member claims more compressed bytes
    # than the file holds; another claims a tiny uncompressed size (a hint only).
    data, cd = stored_zip(parts)
    lying = bytearray(data)
    first = cd
    struct.pack_into("<I", lying, first + 20, 0x7FFFFFF0)
    out["lying_compressed_size.xlsx"] = bytes(lying)
    hint = bytearray(data)
    pos = cd
    while struct.unpack_from("<I", hint, pos)[0] == 0x02014B50:
        struct.pack_into("<I", hint, pos + 24, 1)
        pos += 46 + struct.unpack_from("<H", hint, pos + 28)[0]
    out["understated_sizes.xlsx"] = bytes(hint)  # reads: the sizes are hints
    # A deflate bomb: a worksheet of 200 MB of white space inside <sheetData>.
    sheet = "xl/worksheets/sheet1.xml"
    text = dict(parts)[sheet].decode()
    head, tail = text.split("<sheetData>", 1)
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    bomb = z.compress((head + "<sheetData>").encode())
    chunk = b" " * (1 << 20)
    for _ in range(200):
        bomb += z.compress(chunk)
    bomb += z.compress(tail.encode()) + z.flush()
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as zf:
        for name, d in parts:
            if name != sheet:
                zf.writestr(zipfile.ZipInfo(name, FIXED_TIME), d)
    out["deflate_bomb.xlsx"] = splice_raw(buf.getvalue(), sheet, bomb, zlib.crc32(head.encode()))
    # Overlapping members: every worksheet entry points at one local header.
    data, cd = stored_zip(parts + [("xl/worksheets/sheet9.xml", b"<worksheet/>")])
    overlap = bytearray(data)
    pos, offsets = cd, []
    while struct.unpack_from("<I", overlap, pos)[0] == 0x02014B50:
        offsets.append(pos)
        pos += 46 + struct.unpack_from("<H", overlap, pos + 28)[0]
    target = struct.unpack_from("<I", overlap, offsets[0] + 42)[0]
    struct.pack_into("<I", overlap, offsets[-1] + 42, target)
    out["overlapping_members.xlsx"] = bytes(overlap)
    # An entity-expansion bomb in the shared strings.
    sst = dict(parts)["xl/sharedStrings.xml"].decode()
    dtd = ('<!DOCTYPE sst [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">'
           '<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]>')
    sst = sst.replace("?>", "?>" + dtd, 1).replace("<t>Name</t>", "<t>&c;</t>", 1)
    write_zip(os.path.join(BAD, "dtd_entities.xlsx"), replaced(parts, "xl/sharedStrings.xml", sst.encode()))
    # Two members of one name, and two that differ only in letter case.
    write_zip(os.path.join(BAD, "duplicate_parts.xlsx"), parts + [(sheet, b"<worksheet/>")])
    write_zip(os.path.join(BAD, "duplicate_parts_case.xlsx"), parts + [(sheet.upper(), b"<worksheet/>")])
    # A cycle: the workbook's relationships name the workbook as a sheet and
    # the package relationships as its styles.
    rels = dict(parts)["xl/_rels/workbook.xml.rels"].decode()
    rels = rels.replace('Target="worksheets/sheet1.xml"', 'Target="/xl/workbook.xml"')
    rels = rels.replace('Target="styles.xml"', 'Target="../_rels/.rels"')
    write_zip(os.path.join(BAD, "relationship_cycle.xlsx"), replaced(parts, "xl/_rels/workbook.xml.rels", rels.encode()))
    # Indexes and references past what exists.
    bad_sst = text.replace('t="s"><v>0</v>', 't="s"><v>4000000000</v>', 1)
    write_zip(os.path.join(BAD, "shared_string_index_past_table.xlsx"), replaced(parts, sheet, bad_sst.encode()))
    bad_ref = text.replace('r="A1"', 'r="XFE1"', 1)
    write_zip(os.path.join(BAD, "cell_past_last_column.xlsx"), replaced(parts, sheet, bad_ref.encode()))
    bad_style = text.replace('r="B2" s="', 'r="B2" s="9999', 1)
    write_zip(os.path.join(BAD, "style_index_past_table.xlsx"), replaced(parts, sheet, bad_style.encode()))
    # A worksheet part that is not well-formed XML.
    write_zip(os.path.join(BAD, "sheet_not_well_formed.xlsx"), replaced(parts, sheet, text[: len(text) // 2].encode()))
    # A member whose CRC does not match its bytes.
    crc = bytearray(open(os.path.join(BAD, "duplicate_parts.xlsx"), "rb").read())
    data, cd = stored_zip(parts)
    crc = bytearray(data)
    struct.pack_into("<I", crc, cd + 16, struct.unpack_from("<I", crc, cd + 16)[0] ^ 1)
    out["crc_mismatch.xlsx"] = bytes(crc)
    for name, data in out.items():
        with open(os.path.join(BAD, name), "wb") as f:
            f.write(data)
    many_sheets_bomb(os.path.join(BAD, "many_sheets_bomb.xlsx"))


def many_sheets_bomb(path):
    """Twelve worksheets, each under the budget of one part (3.9 MB of white
    space in <sheetData>), that together inflate far past the package's."""
    import xlsxwriter
    plain = path + ".tmp"
    wb = xlsxwriter.Workbook(plain)
    wb.set_properties({"created": datetime.datetime(2024, 1, 1)})
    for i in range(12):
        wb.add_worksheet().write("A1", i)
    wb.close()
    parts = members(plain)
    os.remove(plain)
    padded = []
    for name, data in parts:
        if name.startswith("xl/worksheets/sheet"):
            data = data.replace(b"<sheetData>", b"<sheetData>" + b" " * (39 * 100000), 1)
        padded.append((name, data))
    write_zip(path, padded)


def splice_raw(zip_bytes, name, deflated, crc):
    """Appends a member whose deflated bytes are given (zipfile would
    inflate-check nothing, but cannot take raw deflate data)."""
    eocd = zip_bytes.rfind(b"PK\x05\x06")
    count, cd_size, cd_offset = struct.unpack_from("<HII", zip_bytes, eocd + 10)
    body = bytearray(zip_bytes[:cd_offset])
    central = bytearray(zip_bytes[cd_offset:cd_offset + cd_size])
    n = name.encode()
    offset = len(body)
    # The CRC and size are those of the XML around the white space: the
    # bomb must be stopped by its budget before any check at its end.
    body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, 0, crc, len(deflated), 1, len(n), 0) + n + deflated
    central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0, 0, crc, len(deflated), 1,
                           len(n), 0, 0, 0, 0, 0, offset) + n
    eocd_rec = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count + 1, count + 1, len(central), len(body), 0)
    return bytes(body + central + eocd_rec)


def main():
    os.makedirs(OUT, exist_ok=True)
    traps = os.path.join(OUT, "xlw_traps.xlsx")
    xlsxwriter_traps(traps)
    xlsxwriter_inline_1904(os.path.join(OUT, "xlw_inline_1904.xlsx"))
    openpyxl_iso_dates(os.path.join(OUT, "opx_iso_dates.xlsx"))
    malformed(traps)


if __name__ == "__main__":
    main()
