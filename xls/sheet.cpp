// One worksheet sub-stream: its cell records, read into the compact form
// (cells sorted by row and column, a row index, strings shared with the
// workbook where they come from the SST), and the Sheet accessors.
//
// Writers store cells row by row and left to right, so each cell is appended
// straight to the final vector and the row index grows beside it; only a
// sheet whose records come out of order is gathered with its rows and
// sorted at the end.
#include <algorithm>
#include <utility>

#include "xls/data.h"
#include "xls/formats.h"
#include "xls/huge_pages.h"
#include "xls/render.h"
#include "xls/sheet_builder.h"
#include "xls/strings.h"

namespace xls::detail {
namespace {

// How far the parser reads before it gives the bytes behind it back, and
// how large a sheet must be for that to be worth it.
constexpr size_t kReleaseStep = size_t{2} << 20U;
constexpr size_t kReleaseAtLeast = 2 * kReleaseStep;

// The smallest cell record, per stored cell: MULRK's 6 bytes (xf and RK).
constexpr size_t kMinCellBytes = 6;

// RK: a 30-bit integer or the top 30 bits of a double, optionally x100.
double decodeRk(uint32_t rk) {
    double v;
    if (rk & 0x02) {
        v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    } else {
        const uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCU) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    return (rk & 0x01) ? v / 100 : v;
}

class SheetParser {
public:
    // `bytes`: how many stream bytes the sheet can take at most, which
    // bounds every reservation made from the sheet's own claims.
    SheetParser(const Workbook::Data& book, Sheet::Data& out, size_t bytes)
        : m_book(book),
          m_out(out),
          m_cp(book.codePage),
          m_bytes(bytes),
          m_cells(out),
          m_formats(book.biff) {}
    // The stream bytes from where the sheet begins up to `limit` are given
    // back as the parser leaves them behind.
    void releaseUpTo(size_t limit) { m_releaseLimit = limit; }
    void run(size_t offset);
    // True once any of the sheet's bytes were given back.
    [[nodiscard]] bool released() const { return m_releasedTo > m_releaseFrom; }

private:
    [[noreturn]] static void tooShort(const Record& r, const char* what) {
        damaged(std::string("records: ") + what + " record at offset " + hex(r.offset) +
                " is too short");
    }
    void dispatch(RecordCursor& cursor, const Record& r);
    bool dispatchOld(const Record& r);
    // A number's kind and its format's place in the sheet's table.
    struct NumberKind {
        CellType kind = CellType::Number;
        uint8_t slot = 0;
    };
    [[nodiscard]] NumberKind kindOf(uint16_t xf);
    [[nodiscard]] NumberKind kindOfAttributes(const uint8_t* attributes);
    [[nodiscard]] uint8_t slotOf(uint32_t formatId, const std::map<uint16_t, std::u16string>* own);
    void place(uint32_t row, const Cell& c) { m_cells.place(row, c); }
    void addNumber(uint32_t row, uint16_t col, uint16_t xf, double v);
    void addValue(uint32_t row, uint16_t col, NumberKind kind, double v);
    void addText(uint32_t row, uint16_t col, std::u16string_view s);
    void addCode(uint32_t row, uint16_t col, CellType type, uint8_t code);
    void onDimension(const Record& r);
    void onRk(const Record& r);
    void onMulRk(const Record& r);
    void onLabelSst(const Record& r);
    void onLabel(RecordCursor& cursor, const Record& r);
    void onBoolErr(const Record& r);
    void onFormula(const Record& r);
    void onFormula2(const Record& r);
    void onFormulaResult(uint32_t row, uint16_t col, const uint8_t* result);
    void onString(RecordCursor& cursor, const Record& r);
    void onMerged(const Record& r);
    void giveBack(size_t position, size_t step);

    const Workbook::Data& m_book;
    Sheet::Data& m_out;
    CodePage m_cp;
    size_t m_bytes;
    SheetBuilder m_cells;
    std::u16string m_scratch;
    Pieces m_pieces;
    // A FORMULA whose string result follows in a STRING record.
    bool m_stringPending = false;
    uint32_t m_pendingRow = 0;
    uint16_t m_pendingCol = 0;
    // Excel 2.x-4.0: the sheet's own number formats and XF records (a
    // BIFF4W sheet carries its own), and the XF of BIFF2 cells whose
    // attributes give index 63.
    FormatTable m_formats;
    std::vector<CellType> m_kinds;
    bool m_kindsStale = false;
    // Each XF's format slot once asked for (-1: not yet).
    std::vector<int16_t> m_slots;
    uint16_t m_ixfe = 0;
    // Bytes [m_releaseFrom, m_releasedTo) are given back; none beyond
    // m_releaseLimit ever are.
    size_t m_releaseLimit = 0;
    size_t m_releaseFrom = 0;
    size_t m_releasedTo = 0;
};

void SheetParser::addNumber(uint32_t row, uint16_t col, uint16_t xf, double v) {
    addValue(row, col, kindOf(xf), v);
}

void SheetParser::addValue(uint32_t row, uint16_t col, NumberKind kind, double v) {
    Cell c;
    c.col = col;
    c.type = kind.kind;
    c.code = kind.slot;
    c.number = v;
    place(row, c);
}

// The kind of a number in XF `xf`: from the sheet's own XF records where
// an Excel 2.x-4.0 sheet has them, else the workbook's.
SheetParser::NumberKind SheetParser::kindOf(uint16_t xf) {
    const bool own = m_formats.hasXfs();
    if (own && m_kindsStale) {
        m_kinds = m_formats.xfKinds(m_book.country);
        m_kindsStale = false;
        m_slots.clear();
    }
    const std::vector<CellType>& kinds = own ? m_kinds : m_book.xfKinds;
    if (xf >= kinds.size()) {
        return {};
    }
    if (m_slots.size() <= xf) {
        m_slots.resize(kinds.size(), -1);
    }
    if (m_slots[xf] < 0) {
        const uint32_t id = own                            ? m_formats.xfFormats()[xf]
                            : xf < m_book.xfFormats.size() ? m_book.xfFormats[xf]
                                                           : 0;
        m_slots[xf] = slotOf(id, own ? &m_formats.codes() : nullptr);
    }
    return {kinds[xf], static_cast<uint8_t>(m_slots[xf])};
}

// The slot of format `id`: its code from the sheet's own formats (`own`)
// or the workbook's, else the built-in id alone.
uint8_t SheetParser::slotOf(uint32_t formatId, const std::map<uint16_t, std::u16string>* own) {
    std::u16string_view code;
    if (own != nullptr) {
        const auto it = own->find(static_cast<uint16_t>(formatId));
        if (it != own->end()) {
            code = it->second;
        }
    } else {
        const auto it = m_book.formatCodes.find(formatId);
        if (it != m_book.formatCodes.end()) {
            code = it->second;
        }
    }
    return formatSlot(m_out, formatId, code);
}

// BIFF2 cell attributes: the XF index in the low six bits of the first
// byte (63: the last IXFE's), or, in files without XF records, the number
// format's index in the low six bits of the second.
SheetParser::NumberKind SheetParser::kindOfAttributes(const uint8_t* attributes) {
    if (m_formats.hasXfs() || !m_book.xfKinds.empty()) {
        const uint16_t xf = attributes[0] & 0x3F;
        return kindOf(xf == 0x3F ? m_ixfe : xf);
    }
    const auto id = static_cast<uint16_t>(attributes[1] & 0x3F);
    return {m_formats.formatKind(id, m_book.country), slotOf(id, &m_formats.codes())};
}

// A stored empty string is an empty cell: no one sees it, and it must not
// widen the used range.
void SheetParser::addText(uint32_t row, uint16_t col, std::u16string_view s) {
    if (s.empty()) {
        return;
    }
    Cell c;
    c.col = col;
    c.type = CellType::Text;
    c.text = static_cast<uint32_t>(m_book.sst->size() + m_out.local.size());
    m_out.local.add(s);
    place(row, c);
}

void SheetParser::addCode(uint32_t row, uint16_t col, CellType type, uint8_t code) {
    Cell c;
    c.col = col;
    c.type = type;
    c.code = code;
    place(row, c);
}

// [MS-XLS] 2.4.90 Dimensions. DIMENSION sizes the cell vector and row index up front. It is only a
// hint: writers get it wrong both ways, and a damaged one may claim the
// whole grid, so no reservation exceeds what the sheet's bytes can hold.
void SheetParser::onDimension(const Record& r) {
    const uint8_t* d = r.data.data();
    uint64_t rows = 0, cols = 0;
    if (m_book.biff == 8 && r.data.size() >= 12) {
        rows = le32(d + 4) > le32(d) ? le32(d + 4) - le32(d) : 0;
        cols = le16(d + 10) > le16(d + 8) ? le16(d + 10) - le16(d + 8) : 0;
    } else if (m_book.biff < 8 && r.data.size() >= 8) {
        rows = le16(d + 2) > le16(d) ? le16(d + 2) - le16(d) : 0;
        cols = le16(d + 6) > le16(d + 4) ? le16(d + 6) - le16(d + 4) : 0;
    }
    const uint64_t most = m_bytes / kMinCellBytes;
    if (m_out.cells.empty() && m_out.rows.empty()) {
        reserveLarge(m_out.cells, static_cast<size_t>(std::min(rows * cols, most)));
        reserveLarge(m_out.rows, static_cast<size_t>(std::min(rows, most)) + 1);
    }
}

// [MS-XLS] 2.4.220 RK: one number in RK form (2.5.218 RkNumber).
void SheetParser::onRk(const Record& r) {
    if (r.data.size() < 10) {
        tooShort(r, "RK");
    }
    const uint8_t* d = r.data.data();
    addNumber(le16(d), le16(d + 2), le16(d + 4), decodeRk(le32(d + 6)));
}

// [MS-XLS] 2.4.175 MulRk: consecutive RK numbers of one row.
void SheetParser::onMulRk(const Record& r) {
    // row, first column, (xf, rk) per column, last column
    if (r.data.size() < 6) {
        tooShort(r, "MULRK");
    }
    const uint8_t* d = r.data.data();
    const uint16_t row = le16(d);
    const uint16_t first = le16(d + 2);
    const size_t n = (r.data.size() - 6) / 6;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = d + 4 + 6 * i;
        addNumber(row, static_cast<uint16_t>(first + i), le16(p), decodeRk(le32(p + 2)));
    }
}

// [MS-XLS] 2.4.149 LabelSst: a cell holding a shared string.
void SheetParser::onLabelSst(const Record& r) {
    if (r.data.size() < 10) {
        tooShort(r, "LABELSST");
    }
    const uint8_t* d = r.data.data();
    const uint32_t index = le32(d + 6);
    if (index >= m_book.sst->size()) {
        damaged("records: LABELSST at offset " + hex(r.offset) + " refers to string " +
                std::to_string(index) + " of " + std::to_string(m_book.sst->size()));
    }
    if (m_book.sst->at(index).empty()) {
        return;  // an empty string: an empty cell
    }
    Cell c;
    c.col = le16(d + 2);
    c.type = CellType::Text;
    c.text = index;
    place(le16(d), c);
}

// [MS-XLS] 2.4.148 Label (and RSTRING, laid out alike up to the string):
// a cell holding its own string.
void SheetParser::onLabel(RecordCursor& cursor, const Record& r) {
    // LABEL and RSTRING: row, column, xf, then the string.
    if (r.data.size() < 8) {
        tooShort(r, r.type == rec::kLabel ? "LABEL" : "RSTRING");
    }
    const uint8_t* d = r.data.data();
    m_scratch.clear();
    if (m_book.biff == 8) {
        gatherContinues(cursor, r, m_pieces);
        m_pieces[0] = m_pieces[0].subspan(6);
        PieceReader reader(m_pieces);
        // Some writers store a BIFF8 LABEL's text as bytes with no option
        // byte, which shows as a length that fits the record only so.
        if (r.data.size() == 8 + static_cast<size_t>(le16(d + 6)) && m_pieces.size() == 1) {
            readByteString(r.data, 6, 2, m_cp, m_scratch);
        } else {
            readUnicodeString(reader, 2, PieceReader::Boundary::Guess, m_scratch);
        }
    } else {
        readByteString(r.data, 6, 2, m_cp, m_scratch);
    }
    addText(le16(d), le16(d + 2), m_scratch);
}

// [MS-XLS] 2.4.24 BoolErr: a Boolean or an error code (2.5.10 Bes).
void SheetParser::onBoolErr(const Record& r) {
    // LibreOffice writes one byte more than the 8 the format has.
    if (r.data.size() < 8) {
        tooShort(r, "BOOLERR");
    }
    const uint8_t* d = r.data.data();
    const bool isError = d[7] != 0;
    addCode(le16(d), le16(d + 2), isError ? CellType::Error : CellType::Boolean,
            isError ? d[6] : static_cast<uint8_t>(d[6] != 0));
}

// [MS-XLS] 2.4.127 Formula: the cached result (2.5.133 FormulaValue); a
// string result follows in a STRING record.
void SheetParser::onFormula(const Record& r) {
    // row, column, xf, the cached result (8 bytes), flags, ...
    if (r.data.size() < 14) {
        tooShort(r, "FORMULA");
    }
    const uint8_t* d = r.data.data();
    const uint16_t row = le16(d), col = le16(d + 2), xf = le16(d + 4);
    const uint8_t* v = d + 6;
    if (le16(v + 6) != 0xFFFF) {
        addNumber(row, col, xf, leDouble(v));
        return;
    }
    onFormulaResult(row, col, v);
}

// BIFF2: row, column, cell attributes (3 bytes), the cached result, ...
void SheetParser::onFormula2(const Record& r) {
    if (r.data.size() < 15) {
        tooShort(r, "FORMULA");
    }
    const uint8_t* d = r.data.data();
    const uint8_t* v = d + 7;
    if (le16(v + 6) != 0xFFFF) {
        addValue(le16(d), le16(d + 2), kindOfAttributes(d + 4), leDouble(v));
        return;
    }
    onFormulaResult(le16(d), le16(d + 2), v);
}

// A result that is not a number: its type in the first byte, the value in
// the third.
void SheetParser::onFormulaResult(uint32_t row, uint16_t col, const uint8_t* v) {
    switch (v[0]) {
        case 0:  // a string, in the STRING record that follows
            m_stringPending = true;
            m_pendingRow = row;
            m_pendingCol = col;
            break;
        case 1:
            addCode(row, col, CellType::Boolean, static_cast<uint8_t>(v[2] != 0));
            break;
        case 2:
            addCode(row, col, CellType::Error, v[2]);
            break;
        default:
            break;  // 3: an empty string, which reads as an empty cell
    }
}

// [MS-XLS] 2.4.268 String: the string result of the FORMULA before it.
void SheetParser::onString(RecordCursor& cursor, const Record& r) {
    if (!m_stringPending) {
        return;
    }
    m_stringPending = false;
    m_scratch.clear();
    if (m_book.biff == 8) {
        gatherContinues(cursor, r, m_pieces);
        PieceReader reader(m_pieces);
        readUnicodeString(reader, 2, PieceReader::Boundary::Guess, m_scratch);
    } else {
        readByteString(r.data, 0, r.type == rec::kString2 ? 1 : 2, m_cp, m_scratch);
    }
    addText(m_pendingRow, m_pendingCol, m_scratch);
}

// [MS-XLS] 2.4.168 MergeCells: merged areas (2.5.211 Ref8 each).
void SheetParser::onMerged(const Record& r) {
    if (r.data.size() < 2) {
        return;
    }
    const size_t n = std::min<size_t>(le16(r.data.data()), (r.data.size() - 2) / 8);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = r.data.data() + 2 + 8 * i;
        Range m{le16(p), le16(p + 2), le16(p + 4), le16(p + 6)};
        if (m.firstRow <= m.lastRow && m.firstCol <= m.lastCol) {
            m_cells.addMerged(m);
        }
    }
}

// The records of Excel 2.x-4.0 sheets that later versions do not have (or
// lay out otherwise); false for any other record.
bool SheetParser::dispatchOld(const Record& r) {
    const Bytes d = r.data;
    switch (r.type) {
        case rec::kFormat:
        case rec::kFormat2:
            m_formats.onFormat(r, m_cp);
            m_kindsStale = true;
            return true;
        case rec::kXf2:
        case rec::kXf3:
        case rec::kXf4:
            m_formats.onXf(r);
            m_kindsStale = true;
            return true;
        case rec::kIxfe:
            m_ixfe = d.size() >= 2 ? le16(d.data()) : 0;
            return true;
        case rec::kDateMode:
            // A BIFF4W sheet carries its own, like a worksheet file.
            m_out.date1904 = d.size() >= 2 && le16(d.data()) == 1;
            return true;
        case rec::kDimension2:
            onDimension(r);
            return true;
        case rec::kInteger2:
            if (d.size() < 9) {
                tooShort(r, "INTEGER");
            }
            addValue(le16(d.data()), le16(d.data() + 2), kindOfAttributes(d.data() + 4),
                     le16(d.data() + 7));
            return true;
        case rec::kNumber2:
            if (d.size() < 15) {
                tooShort(r, "NUMBER");
            }
            addValue(le16(d.data()), le16(d.data() + 2), kindOfAttributes(d.data() + 4),
                     leDouble(d.data() + 7));
            return true;
        case rec::kLabel2:
            if (d.size() < 8) {
                tooShort(r, "LABEL");
            }
            m_scratch.clear();
            readByteString(d, 7, 1, m_cp, m_scratch);
            addText(le16(d.data()), le16(d.data() + 2), m_scratch);
            return true;
        case rec::kBoolErr2:
            if (d.size() < 9) {
                tooShort(r, "BOOLERR");
            }
            addCode(le16(d.data()), le16(d.data() + 2),
                    d[8] != 0 ? CellType::Error : CellType::Boolean,
                    d[8] != 0 ? d[7] : static_cast<uint8_t>(d[7] != 0));
            return true;
        case rec::kFormula:
            if (m_book.biff != 2) {
                return false;
            }
            onFormula2(r);
            return true;
        default:
            return false;
    }
}

void SheetParser::dispatch(RecordCursor& cursor, const Record& r) {
    if (r.type != rec::kString && r.type != rec::kString2 && r.type != rec::kContinue &&
        r.type != rec::kShrFmla && r.type != rec::kArray2 && r.type != rec::kArray &&
        r.type != rec::kTable) {
        m_stringPending = false;  // STRING must follow its FORMULA (shared/array records aside)
    }
    if (m_book.biff <= 4 && dispatchOld(r)) {
        return;
    }
    switch (r.type) {
        case rec::kNumber:
            if (r.data.size() < 14) {
                tooShort(r, "NUMBER");
            }
            addNumber(le16(r.data.data()), le16(r.data.data() + 2), le16(r.data.data() + 4),
                      leDouble(r.data.data() + 6));
            break;
        case rec::kRk:
            onRk(r);
            break;
        case rec::kMulRk:
            onMulRk(r);
            break;
        case rec::kLabelSst:
            onLabelSst(r);
            break;
        case rec::kLabel:
        case rec::kRString:
            onLabel(cursor, r);
            break;
        case rec::kBoolErr:
            onBoolErr(r);
            break;
        case rec::kFormula:
        case rec::kFormula3:
        case rec::kFormula4:
            onFormula(r);
            break;
        case rec::kString:
        case rec::kString2:
            onString(cursor, r);
            break;
        case rec::kMerged:
            onMerged(r);
            break;
        case rec::kDimension:
            onDimension(r);
            break;
        default:
            break;
    }
}

// Gives back what the parser has left behind, once it is `step` bytes or
// more: records are read forward only, and nothing keeps a view of one
// after it has been handled.
void SheetParser::giveBack(size_t position, size_t step) {
    const size_t to = std::min(position, m_releaseLimit);
    if (to >= m_releasedTo + step && to > m_releasedTo) {
        m_book.stream.release(m_releasedTo, to);
        m_releasedTo = to;
    }
}

void SheetParser::run(size_t offset) {
    RecordCursor cursor(m_book.stream, offset);
    m_releaseFrom = m_releasedTo = offset;
    Record r;
    if (!cursor.next(r) || !isBof(r.type)) {
        damaged("records: sheet does not begin with a BOF record at offset " + hex(offset));
    }
    // Embedded sub-streams (a chart inside a sheet) nest BOF..EOF.
    int depth = 1;
    while (depth > 0) {
        giveBack(cursor.position(), kReleaseStep);
        if (!cursor.next(r)) {
            damaged("records: sheet at offset " + hex(offset) + " ends at offset " +
                    hex(cursor.position()) + " without an EOF record (the stream is cut short)");
        }
        if (isBof(r.type)) {
            ++depth;
        } else if (r.type == rec::kEof) {
            --depth;
        } else if (depth == 1) {
            dispatch(cursor, r);
        }
    }
    if (released()) {
        giveBack(cursor.position(), 0);
    }
    m_cells.finish();
}

// The offset of sheet `index`'s BOF: from BOUNDSHEET, or when that points
// elsewhere, the index-th sub-stream after the globals.
size_t sheetOffset(const Workbook::Data& book, size_t index) {
    const size_t off = book.sheetOffsets[index];
    if (off + 4 <= book.stream.size() && isBof(book.stream.u16At(off))) {
        return off;
    }
    if (index < book.substreamOffsets.size()) {
        return book.substreamOffsets[index];
    }
    damaged("records: sheet " + std::to_string(index) +
            " has no BOF record (BOUNDSHEET points to " + hex(off) + ")");
}

// At most how many bytes the sheet at `offset` spans: up to the next
// sheet's BOF, or the end of the stream.
size_t sheetBytes(const Workbook::Data& book, size_t offset) {
    const auto& sorted = book.sortedOffsets;
    const auto next = std::upper_bound(sorted.begin(), sorted.end(), offset);
    const size_t end =
        next != sorted.end() && *next < book.stream.size() ? *next : book.stream.size();
    return end > offset ? end - offset : 0;
}

// True when no other sheet begins within [offset, offset + bytes), so that
// the bytes there are read by this sheet alone.
bool readAlone(const Workbook::Data& book, size_t index, size_t offset, size_t bytes) {
    const auto inside = [&](size_t other) { return other >= offset && other - offset < bytes; };
    for (size_t i = 0; i < book.sheetOffsets.size(); ++i) {
        if (i != index && inside(book.sheetOffsets[i])) {
            return false;
        }
    }
    for (size_t i = 0; i < book.substreamOffsets.size(); ++i) {
        if (i != index && inside(book.substreamOffsets[i])) {
            return false;
        }
    }
    return true;
}

std::shared_ptr<Sheet::Data> newSheetData(const Workbook::Data& book) {
    auto data = std::make_shared<Sheet::Data>();
    data->date1904 = book.date1904;
    data->sst = book.sst;
    return data;
}

// Fills `data` by `read` without the workbook's lock, so that other sheets
// are read meanwhile, then keeps the sheet, or the error that refused it,
// for every later reader. `lock` holds the workbook's lock on entry and on
// return.
template <typename Read>
std::shared_ptr<const Sheet::Data> readUnlockedAndKeep(std::unique_lock<std::mutex>& lock,
                                                       Workbook::Data::ParsedSheets& parsed,
                                                       size_t index,
                                                       std::shared_ptr<Sheet::Data> data,
                                                       const Read& read) {
    lock.unlock();
    try {
        read();
    } catch (const Error& e) {
        lock.lock();
        parsed.failures.emplace(index, e.what());
        throw;
    }
    lock.lock();
    return parsed.sheets.emplace(index, std::move(data)).first->second;
}

}  // namespace

// A large sheet read alone gives its bytes back as the parser leaves them,
// so that the workbook's bytes and the sheet's cells are not both held
// whole; it is then read once, under the workbook's lock, and kept (its
// error too) for every later reader. Any other sheet is read afresh each
// time, by any number of threads at once.
std::shared_ptr<const Sheet::Data> parseSheet(const Workbook::Data& book, size_t index) {
    Workbook::Data::ParsedSheets& parsed = *book.parsed;
    std::unique_lock lock(parsed.lock);
    if (const auto kept = parsed.sheets.find(index); kept != parsed.sheets.end()) {
        return kept->second;
    }
    if (const auto failed = parsed.failures.find(index); failed != parsed.failures.end()) {
        damaged(failed->second);
    }
    if (book.readSheet) {
        auto data = newSheetData(book);
        return readUnlockedAndKeep(lock, parsed, index, data,
                                   [&] { book.readSheet(index, *data); });
    }
    const size_t offset = sheetOffset(book, index);
    const size_t bytes = sheetBytes(book, offset);
    auto data = newSheetData(book);
    SheetParser parser(book, *data, bytes);
    if (bytes < kReleaseAtLeast || !readAlone(book, index, offset, bytes)) {
        // Kept: a client that reads many tables of one sheet (its defined
        // names, SQLColumns over the workbook) parses it once.
        return readUnlockedAndKeep(lock, parsed, index, data, [&] { parser.run(offset); });
    }
    parser.releaseUpTo(offset + bytes);
    try {
        parser.run(offset);
    } catch (const Error& e) {
        if (parser.released()) {
            parsed.failures.emplace(index, e.what());
        }
        throw;
    }
    if (parser.released()) {
        parsed.sheets.emplace(index, data);
    }
    return data;
}

void releaseGlobals(const Workbook::Data& book) {
    if (book.sheetOffsets.empty()) {
        return;
    }
    size_t first = book.stream.size();
    for (const uint32_t offset : book.sheetOffsets) {
        first = std::min<size_t>(first, offset);
    }
    for (const uint32_t offset : book.substreamOffsets) {
        first = std::min<size_t>(first, offset);
    }
    if (first >= kReleaseAtLeast) {
        book.stream.release(0, first);
    }
}

}  // namespace xls::detail

namespace xls {

Sheet::Sheet(std::shared_ptr<const Data> data) : m_data(std::move(data)) {}

std::optional<Range> Sheet::usedRange() const {
    return m_data->used;
}

size_t Sheet::cellCount() const {
    return m_data->cells.size();
}

std::span<const Range> Sheet::mergedRanges() const {
    return m_data->merged;
}

std::span<const Cell> Sheet::row(uint32_t r) const {
    const auto& rows = m_data->rows;
    // Rows without gaps (the usual table) are found by position; else by
    // binary search.
    const size_t guess = static_cast<size_t>(r) - rows.front().row;
    auto it = r >= rows.front().row && guess + 1 < rows.size() && rows[guess].row == r
                  ? rows.begin() + static_cast<ptrdiff_t>(guess)
                  : std::lower_bound(rows.begin(), rows.end() - 1, r,
                                     [](const Data::Row& a, uint32_t v) { return a.row < v; });
    if (it == rows.end() - 1 || it->row != r) {
        return {};
    }
    return std::span<const Cell>(m_data->cells).subspan(it->begin, (it + 1)->begin - it->begin);
}

std::u16string_view Sheet::string(const Cell& cell) const {
    if (cell.type != CellType::Text) {
        return {};
    }
    const size_t shared = m_data->sst->size();
    if (cell.text < shared) {
        return m_data->sst->at(cell.text);
    }
    const size_t local = cell.text - shared;
    return local < m_data->local.size() ? m_data->local.at(local) : std::u16string_view{};
}

const NumberFormat& Sheet::numberFormat(const Cell& cell) const {
    const bool number = cell.type == CellType::Number || cell.type == CellType::Date ||
                        cell.type == CellType::Time || cell.type == CellType::DateTime;
    return number && cell.code < m_data->formats.size() ? m_data->formats[cell.code]
                                                        : m_data->formats.front();
}

bool Sheet::date1904() const {
    return m_data->date1904;
}

size_t Sheet::textLength(const Cell& cell) const {
    switch (cell.type) {
        case CellType::Number:
            return detail::numberLength(cell.number);
        case CellType::Date:
        case CellType::Time:
        case CellType::DateTime:
            return detail::dateTimeLength(cell.number, cell.type, m_data->date1904);
        case CellType::Text:
            return string(cell).size();
        case CellType::Boolean:
            return cell.code ? 4 : 5;
        case CellType::Error:
            return detail::errorText(cell.code).size();
    }
    return 0;
}

void Sheet::text(const Cell& cell, std::u16string& out) const {
    switch (cell.type) {
        case CellType::Number:
            detail::renderNumber(cell.number, out);
            break;
        case CellType::Date:
        case CellType::Time:
        case CellType::DateTime:
            detail::renderDateTime(cell.number, cell.type, m_data->date1904, out);
            break;
        case CellType::Text:
            out.assign(string(cell));
            break;
        case CellType::Boolean:
            out.assign(cell.code ? u"TRUE" : u"FALSE");
            break;
        case CellType::Error: {
            const std::string_view e = detail::errorText(cell.code);
            out.assign(e.begin(), e.end());
            break;
        }
    }
}

}  // namespace xls
