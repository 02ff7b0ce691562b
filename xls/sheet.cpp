// One worksheet sub-stream: its cell records, read into the compact form
// (cells sorted by row and column, a row index, strings shared with the
// workbook where they come from the SST), and the Sheet accessors.
#include <algorithm>

#include "xls/data.h"
#include "xls/render.h"
#include "xls/strings.h"

namespace xls::detail {
namespace {

struct Placed {
    uint32_t row;
    Cell cell;
};

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
    SheetParser(const Workbook::Data& book, Sheet::Data& out)
        : m_book(book), m_out(out), m_cp(book.codePage) {}
    void run(size_t offset);

private:
    [[noreturn]] static void tooShort(const Record& r, const char* what) {
        damaged(std::string("records: ") + what + " record at offset " + hex(r.offset) +
                " is too short");
    }
    void dispatch(RecordCursor& cursor, const Record& r);
    void addNumber(uint32_t row, uint16_t col, uint16_t xf, double v);
    void addText(uint32_t row, uint16_t col, std::u16string_view s);
    void addCode(uint32_t row, uint16_t col, CellType type, uint8_t code);
    void onRk(const Record& r);
    void onMulRk(const Record& r);
    void onLabelSst(const Record& r);
    void onLabel(RecordCursor& cursor, const Record& r);
    void onBoolErr(const Record& r);
    void onFormula(const Record& r);
    void onString(RecordCursor& cursor, const Record& r);
    void onMerged(const Record& r);
    void finish();
    void dropMerged();

    const Workbook::Data& m_book;
    Sheet::Data& m_out;
    CodePage m_cp;
    std::vector<Placed> m_cells;
    std::vector<Range> m_merged;
    std::u16string m_scratch;
    // A FORMULA whose string result follows in a STRING record.
    bool m_stringPending = false;
    uint32_t m_pendingRow = 0;
    uint16_t m_pendingCol = 0;
};

void SheetParser::addNumber(uint32_t row, uint16_t col, uint16_t xf, double v) {
    Cell c;
    c.col = col;
    c.type = xf < m_book.xfKinds.size() ? m_book.xfKinds[xf] : CellType::Number;
    c.number = v;
    m_cells.push_back({row, c});
}

void SheetParser::addText(uint32_t row, uint16_t col, std::u16string_view s) {
    Cell c;
    c.col = col;
    c.type = CellType::Text;
    c.text = static_cast<uint32_t>(m_book.sst->size() + m_out.local.size());
    m_out.local.add(s);
    m_cells.push_back({row, c});
}

void SheetParser::addCode(uint32_t row, uint16_t col, CellType type, uint8_t code) {
    Cell c;
    c.col = col;
    c.type = type;
    c.code = code;
    m_cells.push_back({row, c});
}

void SheetParser::onRk(const Record& r) {
    if (r.data.size() < 10) {
        tooShort(r, "RK");
    }
    const uint8_t* d = r.data.data();
    addNumber(le16(d), le16(d + 2), le16(d + 4), decodeRk(le32(d + 6)));
}

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
    Cell c;
    c.col = le16(d + 2);
    c.type = CellType::Text;
    c.text = index;
    m_cells.push_back({le16(d), c});
}

void SheetParser::onLabel(RecordCursor& cursor, const Record& r) {
    // LABEL and RSTRING: row, column, xf, then the string.
    if (r.data.size() < 8) {
        tooShort(r, r.type == rec::kLabel ? "LABEL" : "RSTRING");
    }
    const uint8_t* d = r.data.data();
    m_scratch.clear();
    if (m_book.biff == 8) {
        Pieces pieces = gatherContinues(cursor, r);
        pieces[0] = pieces[0].subspan(6);
        PieceReader reader(pieces);
        // Some writers store a BIFF8 LABEL's text as bytes with no option
        // byte, which shows as a length that fits the record only so.
        if (r.data.size() == 8 + static_cast<size_t>(le16(d + 6)) && pieces.size() == 1) {
            readByteString(r.data, 6, 2, m_cp, m_scratch);
        } else {
            readUnicodeString(reader, 2, PieceReader::Boundary::Guess, m_scratch);
        }
    } else {
        readByteString(r.data, 6, 2, m_cp, m_scratch);
    }
    addText(le16(d), le16(d + 2), m_scratch);
}

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

void SheetParser::onString(RecordCursor& cursor, const Record& r) {
    if (!m_stringPending) {
        return;
    }
    m_stringPending = false;
    m_scratch.clear();
    if (m_book.biff == 8) {
        const Pieces pieces = gatherContinues(cursor, r);
        PieceReader reader(pieces);
        readUnicodeString(reader, 2, PieceReader::Boundary::Guess, m_scratch);
    } else {
        readByteString(r.data, 0, 2, m_cp, m_scratch);
    }
    if (!m_scratch.empty()) {
        addText(m_pendingRow, m_pendingCol, m_scratch);
    }
}

void SheetParser::onMerged(const Record& r) {
    if (r.data.size() < 2) {
        return;
    }
    const size_t n = std::min<size_t>(le16(r.data.data()), (r.data.size() - 2) / 8);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = r.data.data() + 2 + 8 * i;
        Range m{le16(p), le16(p + 2), le16(p + 4), le16(p + 6)};
        if (m.firstRow <= m.lastRow && m.firstCol <= m.lastCol) {
            m_merged.push_back(m);
        }
    }
}

void SheetParser::dispatch(RecordCursor& cursor, const Record& r) {
    if (r.type != rec::kString && r.type != rec::kContinue && r.type != 0x04BC &&
        r.type != 0x0221 && r.type != 0x0236) {
        m_stringPending = false;  // STRING must follow its FORMULA (shared/array records aside)
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
            onString(cursor, r);
            break;
        case rec::kMerged:
            onMerged(r);
            break;
        default:
            break;
    }
}

void SheetParser::run(size_t offset) {
    RecordCursor cursor(m_book.stream, offset);
    Record r;
    if (!cursor.next(r) || r.type != rec::kBof) {
        damaged("records: sheet does not begin with a BOF record at offset " + hex(offset));
    }
    // Embedded sub-streams (a chart inside a sheet) nest BOF..EOF.
    int depth = 1;
    while (depth > 0) {
        if (!cursor.next(r)) {
            damaged("records: sheet at offset " + hex(offset) + " ends at offset " +
                    hex(cursor.position()) + " without an EOF record (the stream is cut short)");
        }
        if (r.type == rec::kBof) {
            ++depth;
        } else if (r.type == rec::kEof) {
            --depth;
        } else if (depth == 1) {
            dispatch(cursor, r);
        }
    }
    finish();
}

void SheetParser::dropMerged() {
    if (m_merged.empty()) {
        return;
    }
    // Only the top-left cell of a merged area keeps its value.
    auto inside = [this](const Placed& p) {
        for (const Range& m : m_merged) {
            if (p.row >= m.firstRow && p.row <= m.lastRow && p.cell.col >= m.firstCol &&
                p.cell.col <= m.lastCol && !(p.row == m.firstRow && p.cell.col == m.firstCol)) {
                return true;
            }
        }
        return false;
    };
    std::erase_if(m_cells, inside);
}

void SheetParser::finish() {
    auto less = [](const Placed& a, const Placed& b) {
        return a.row != b.row ? a.row < b.row : a.cell.col < b.cell.col;
    };
    if (!std::is_sorted(m_cells.begin(), m_cells.end(), less)) {
        std::stable_sort(m_cells.begin(), m_cells.end(), less);
    }
    // A cell written twice keeps its last value.
    std::vector<Placed> unique;
    auto& cells = m_cells;
    size_t w = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (w > 0 && cells[w - 1].row == cells[i].row &&
            cells[w - 1].cell.col == cells[i].cell.col) {
            cells[w - 1] = cells[i];
        } else {
            cells[w++] = cells[i];
        }
    }
    cells.resize(w);
    dropMerged();
    m_out.cells.reserve(cells.size());
    Range used{UINT32_MAX, 0, UINT16_MAX, 0};
    for (const Placed& p : cells) {
        if (m_out.rows.empty() || m_out.rows.back().row != p.row) {
            m_out.rows.push_back({p.row, static_cast<uint32_t>(m_out.cells.size())});
        }
        m_out.cells.push_back(p.cell);
        used.firstRow = std::min(used.firstRow, p.row);
        used.lastRow = std::max(used.lastRow, p.row);
        used.firstCol = std::min(used.firstCol, p.cell.col);
        used.lastCol = std::max(used.lastCol, p.cell.col);
    }
    m_out.rows.push_back({UINT32_MAX, static_cast<uint32_t>(m_out.cells.size())});
    if (!cells.empty()) {
        m_out.used = used;
    }
    std::vector<Placed>().swap(m_cells);
    m_out.merged = std::move(m_merged);
}

// The offset of sheet `index`'s BOF: from BOUNDSHEET, or when that points
// elsewhere, the index-th sub-stream after the globals.
size_t sheetOffset(const Workbook::Data& book, size_t index) {
    const size_t off = book.sheetOffsets[index];
    if (off + 4 <= book.stream.size() && le16(book.stream.data() + off) == rec::kBof) {
        return off;
    }
    RecordCursor cursor(book.stream);
    Record r;
    size_t seen = 0;
    int depth = 0;
    while (cursor.next(r)) {
        if (r.type == rec::kBof) {
            if (depth == 0 && seen++ == index + 1) {
                return r.offset;
            }
            ++depth;
        } else if (r.type == rec::kEof && depth > 0) {
            --depth;
        }
    }
    damaged("records: sheet " + std::to_string(index) +
            " has no BOF record (BOUNDSHEET points to " + hex(off) + ")");
}

}  // namespace

std::shared_ptr<const Sheet::Data> parseSheet(const Workbook::Data& book, size_t index) {
    auto data = std::make_shared<Sheet::Data>();
    data->date1904 = book.date1904;
    data->sst = book.sst;
    SheetParser parser(book, *data);
    parser.run(sheetOffset(book, index));
    return data;
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
    auto it = std::lower_bound(rows.begin(), rows.end() - 1, r,
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
