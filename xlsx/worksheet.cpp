// A worksheet part, streamed: each <c> of <sheetData> becomes one compact
// cell as its end tag passes, so the sheet's XML is never held. A cell's
// reference is optional (the next column, and a row's the next row); its
// type says where the value is: a number, a shared string's index, a
// formula's string result or an inline string, a boolean, an error's text,
// or an ISO 8601 date. Formulas count by their cached value. <dimension>
// plays no part: writers get it wrong both ways.
#include <charconv>
#include <cmath>
#include <cstring>

#include "xls/bytes.h"
#include "xls/huge_pages.h"
#include "xls/render.h"
#include "xls/sheet_builder.h"
#include "xlsx/package.h"
#include "xlsx/xml.h"

namespace xlsx::detail {
namespace {

using xls::Cell;
using xls::CellType;
using xls::detail::damaged;

// A string cell's raw text may hold up to 7 bytes per unit (_xHHHH_).
constexpr size_t kMaxRawText = kMaxString * 7;

// Room for the cells a part's bytes can hold: a stored cell takes at least
// "<c><v>0</v></c>" inflated, and deflate shrinks that no more than the
// inflate budget allows.
uint64_t cellBudget(const ZipEntry& e) {
    return 16 * e.compressedSize + 4096;
}

uint8_t errorCode(std::string_view text) {
    static constexpr std::pair<std::string_view, uint8_t> kCodes[] = {
        {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
        {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A},    {"#GETTING_DATA", 0x2B},
    };
    for (const auto& [name, code] : kCodes) {
        if (text == name) {
            return code;
        }
    }
    return 0xFF;
}

std::string_view trimmed(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) {
        return {};
    }
    const size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool parseNumber(std::string_view s, double& out) {
    s = trimmed(s);
    if (!s.empty() && s[0] == '+') {
        s.remove_prefix(1);
    }
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

bool digits(std::string_view s, size_t at, size_t n, int& out) {
    if (at + n > s.size()) {
        return false;
    }
    out = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return false;
        }
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

int64_t daysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// An ISO 8601 date, date and time, or time ("2024-01-15", "2024-01-15T13:45:00Z",
// "13:45:00") as a serial of the workbook's date system, and its kind.
bool parseIsoDate(std::string_view s, bool date1904, double& serial, CellType& kind) {
    s = trimmed(s);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    double fraction = 0;
    size_t pos = 0;
    bool hasDate = false, hasTime = false;
    if (digits(s, 0, 4, y) && s.size() >= 10 && s[4] == '-' && digits(s, 5, 2, mo) && s[7] == '-' &&
        digits(s, 8, 2, d)) {
        hasDate = true;
        pos = 10;
        if (pos < s.size() && (s[pos] == 'T' || s[pos] == ' ')) {
            ++pos;
        }
    }
    if (digits(s, pos, 2, h) && pos + 5 <= s.size() && s[pos + 2] == ':' &&
        digits(s, pos + 3, 2, mi)) {
        hasTime = true;
        pos += 5;
        if (pos < s.size() && s[pos] == ':' && digits(s, pos + 1, 2, sec)) {
            pos += 3;
            if (pos < s.size() && s[pos] == '.') {
                size_t end = pos + 1;
                while (end < s.size() && s[end] >= '0' && s[end] <= '9') {
                    ++end;
                }
                double f = 0;
                std::from_chars(s.data() + pos, s.data() + end, f);
                fraction = f;
            }
        }
    }
    if (!hasDate && !hasTime) {
        return false;
    }
    if (hasDate && (mo < 1 || mo > 12 || d < 1 || d > 31)) {
        return false;
    }
    double day = 0;
    if (hasDate) {
        const int64_t days = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
        if (date1904) {
            day = static_cast<double>(days - daysFromCivil(1904, 1, 1));
        } else {
            day = static_cast<double>(days - daysFromCivil(1899, 12, 30));
            if (day < 61) {
                day -= 1;  // before the day the 1900 system invents
            }
        }
    }
    serial = day + (h * 3600 + mi * 60 + sec + fraction) / 86400.0;
    kind = hasDate && hasTime ? CellType::DateTime : hasDate ? CellType::Date : CellType::Time;
    return true;
}

class SheetHandler final : public XmlHandler {
public:
    SheetHandler(const Package& package, const ZipEntry& entry, xls::Sheet::Data& out)
        : m_package(package),
          m_entry(entry),
          m_out(out),
          m_cells(out),
          m_budget(cellBudget(entry)) {}

    void start(const XmlName& name, const XmlAttributes& a) override {
        if (name.ns != Ns::Main) {
            return;
        }
        const std::string_view n = name.local;
        if (n == "c" && m_inData) {
            startCell(a.raw());
        } else if (n == "v" && m_inCell) {
            m_text.clear();
            m_collect = Collect::Value;
        } else if (n == "t" && m_inIs && m_phonetic == 0) {
            m_collect = Collect::Inline;
        } else if (n == "is" && m_inCell) {
            m_inIs = true;
            m_hasInline = true;
            m_inlineText.clear();
        } else if (n == "rPh") {
            ++m_phonetic;
        } else if (n == "row" && m_inData) {
            startRow(a);
        } else if (n == "sheetData") {
            m_inData = true;
        } else if (n == "mergeCell") {
            merge(a.get("ref"));
        } else if (n == "dimension") {
            reserve(a.get("ref"));
        }
    }

    void end(const XmlName& name) override {
        if (name.ns != Ns::Main) {
            return;
        }
        const std::string_view n = name.local;
        if (n == "c" && m_inCell) {
            endCell();
        } else if (n == "v" || n == "t") {
            m_collect = Collect::None;
        } else if (n == "is") {
            m_inIs = false;
        } else if (n == "rPh") {
            --m_phonetic;
        } else if (n == "sheetData") {
            m_inData = false;
        }
    }

    void text(std::string_view chars) override {
        std::string& into = m_collect == Collect::Value ? m_text : m_inlineText;
        if (into.size() < kMaxRawText) {
            into.append(chars.substr(0, kMaxRawText - into.size()));
        }
    }
    [[nodiscard]] bool wantsText() const override { return m_collect != Collect::None; }

    void finish() { m_cells.finish(); }

private:
    enum class Collect : uint8_t { None, Value, Inline };
    enum class Type : uint8_t { Number, Shared, String, Inline, Boolean, Error, Date };

    [[noreturn]] void bad(const std::string& what) const {
        damaged("worksheet part \"" + m_entry.name + "\": " + what);
    }
    [[nodiscard]] std::string cellName() const {
        std::string name;
        for (uint32_t c = m_col + 1; c > 0; c = (c - 1) / 26) {
            name.insert(name.begin(), static_cast<char>('A' + (c - 1) % 26));
        }
        return name + std::to_string(m_row + 1);
    }

    void startRow(const XmlAttributes& a) {
        ++m_row;  // a row without a number follows the previous one
        if (const char* r = a.get("r")) {
            const std::string_view v(r);
            uint32_t row = 0;
            const auto parsed = std::from_chars(v.data(), v.data() + v.size(), row);
            if (parsed.ec != std::errc() || parsed.ptr != v.data() + v.size() || row == 0 ||
                row > kRows) {
                bad(std::string("row number \"") + r + "\" is outside the worksheet");
            }
            m_row = row - 1;
        }
        if (m_row >= kRows) {
            bad("more rows than a worksheet holds");
        }
        m_col = UINT32_MAX;  // the first cell without a reference is column A
    }

    void startCell(const char** a) {
        m_inCell = true;
        m_hasInline = false;
        m_text.clear();
        m_type = Type::Number;
        m_xf = 0;
        bool placed = false;
        for (; *a != nullptr; a += 2) {
            const char* key = a[0];
            const char* value = a[1];
            if (key[1] != '\0') {
                continue;
            }
            if (key[0] == 'r') {
                uint32_t row = 0, col = 0;
                if (!parseCellRef(value, row, col)) {
                    bad(std::string("cell reference \"") + value +
                        "\" is not a cell of a worksheet");
                }
                m_row = row;
                m_col = col;
                placed = true;
            } else if (key[0] == 's') {
                const std::string_view v(value);
                m_xf = 0;
                std::from_chars(v.data(), v.data() + v.size(), m_xf);
            } else if (key[0] == 't') {
                m_type = typeOf(value);
            }
        }
        if (!placed) {
            ++m_col;
            if (m_row == UINT32_MAX) {
                m_row = 0;
            }
            if (m_col >= kColumns) {
                bad("row " + std::to_string(m_row + 1) +
                    " has more cells than a worksheet's columns");
            }
        }
    }

    Type typeOf(std::string_view t) const {
        if (t == "n" || t.empty()) {
            return Type::Number;
        }
        if (t == "s") {
            return Type::Shared;
        }
        if (t == "str") {
            return Type::String;
        }
        if (t == "inlineStr") {
            return Type::Inline;
        }
        if (t == "b") {
            return Type::Boolean;
        }
        if (t == "e") {
            return Type::Error;
        }
        if (t == "d") {
            return Type::Date;
        }
        bad("cell " + cellName() + " has the unknown type \"" + std::string(t) + "\"");
    }

    void endCell() {
        m_inCell = false;
        Cell c;
        c.col = static_cast<uint16_t>(m_col);
        switch (m_type) {
            case Type::Number: {
                if (trimmed(m_text).empty()) {
                    return;  // no value (a formula without its cached result)
                }
                // Through a local: the packed cell's double is not aligned.
                double number = 0;
                if (!parseNumber(m_text, number)) {
                    bad("cell " + cellName() + " holds \"" + m_text.substr(0, 40) +
                        "\", which is not a number");
                }
                c.number = number;
                c.type =
                    m_xf < m_package.xfKinds.size() ? m_package.xfKinds[m_xf] : CellType::Number;
                c.code = formatSlot();
                break;
            }
            case Type::Shared: {
                const std::string_view v = trimmed(m_text);
                if (v.empty()) {
                    return;
                }
                uint32_t index = 0;
                const auto r = std::from_chars(v.data(), v.data() + v.size(), index);
                if (r.ec != std::errc() || r.ptr != v.data() + v.size() ||
                    index >= m_package.sst->size()) {
                    bad("cell " + cellName() + " refers to shared string \"" + std::string(v) +
                        "\" of " + std::to_string(m_package.sst->size()));
                }
                if (m_package.sst->at(index).empty()) {
                    return;  // an empty string is an empty cell
                }
                c.type = CellType::Text;
                c.text = index;
                break;
            }
            case Type::String:
            case Type::Inline:
                if (!addLocal(m_hasInline ? m_inlineText : m_text, c)) {
                    return;
                }
                break;
            case Type::Boolean: {
                const std::string_view v = trimmed(m_text);
                if (v.empty()) {
                    return;
                }
                c.type = CellType::Boolean;
                c.code = v == "1" || v == "true" || v == "TRUE" ? 1 : 0;
                break;
            }
            case Type::Error: {
                const std::string_view v = trimmed(m_text);
                if (v.empty()) {
                    return;
                }
                const uint8_t code = errorCode(v);
                if (code == 0xFF) {
                    // An error this model has no code for keeps its text.
                    if (!addLocal(m_text, c)) {
                        return;
                    }
                } else {
                    c.type = CellType::Error;
                    c.code = code;
                }
                break;
            }
            case Type::Date: {
                if (trimmed(m_text).empty()) {
                    return;
                }
                CellType kind = CellType::Date;
                double serial = 0;
                if (!parseIsoDate(m_text, m_package.date1904, serial, kind)) {
                    bad("cell " + cellName() + " holds \"" + m_text.substr(0, 40) +
                        "\", which is not an ISO 8601 date");
                }
                c.number = serial;
                const CellType format =
                    m_xf < m_package.xfKinds.size() ? m_package.xfKinds[m_xf] : CellType::Number;
                c.type = format == CellType::Number ? kind : format;
                c.code = formatSlot();
                break;
            }
        }
        if (++m_count > m_budget) {
            bad("more cells (" + std::to_string(m_count) + ") than its " +
                std::to_string(m_entry.compressedSize) + " bytes can hold");
        }
        m_cells.place(m_row, c);
    }

    // The place of the current cell format's number format in the sheet's
    // table, found once per cell format.
    uint8_t formatSlot() {
        if (m_xf >= m_package.xfFormats.size()) {
            return 0;
        }
        if (m_slots.size() <= m_xf) {
            m_slots.resize(m_package.xfFormats.size(), -1);
        }
        if (m_slots[m_xf] < 0) {
            const uint32_t id = m_package.xfFormats[m_xf];
            const auto code = m_package.formatCodes.find(id);
            m_slots[m_xf] = xls::detail::formatSlot(m_out, id,
                                                    code != m_package.formatCodes.end()
                                                        ? std::u16string_view(code->second)
                                                        : std::u16string_view());
        }
        return static_cast<uint8_t>(m_slots[m_xf]);
    }

    // A string of the sheet's own; false for an empty one (an empty cell).
    bool addLocal(std::string_view raw, Cell& c) {
        m_scratch.clear();
        appendSpreadsheetText(raw, m_scratch, kMaxString);
        if (m_scratch.empty()) {
            return false;
        }
        const size_t index = m_package.sst->size() + m_out.local.size();
        if (index >= UINT32_MAX || m_out.local.chars.size() + m_scratch.size() >= UINT32_MAX) {
            bad("more string text than a worksheet can hold");
        }
        c.type = CellType::Text;
        c.text = static_cast<uint32_t>(index);
        m_out.local.add(m_scratch);
        return true;
    }

    // <dimension> sizes the cell vector up front, so that a large sheet
    // is not copied as the vector grows. It is only a hint, and no more is
    // reserved than the part's bytes can hold as cells.
    void reserve(const char* ref) {
        if (ref == nullptr || !m_out.cells.empty()) {
            return;
        }
        const std::string_view r(ref);
        const size_t colon = r.find(':');
        uint32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
        if (colon == std::string_view::npos || !parseCellRef(r.substr(0, colon), r1, c1) ||
            !parseCellRef(r.substr(colon + 1), r2, c2) || r2 < r1 || c2 < c1) {
            return;
        }
        // A cell takes at least "<c><v>0</v></c>" of the inflated part.
        constexpr uint64_t kLeastCellBytes = 15;
        const uint64_t claimed = uint64_t{r2 - r1 + 1} * (c2 - c1 + 1);
        // Real sheets hold well under one cell per compressed byte (a wide
        // sheet of numbers, dates and text: 0.2); a lying <dimension> and a
        // lying size in the zip directory get no more than two.
        const uint64_t room =
            std::min(m_entry.declaredSize / kLeastCellBytes, 2 * m_entry.compressedSize + 4096);
        xls::detail::reserveLarge(m_out.cells, static_cast<size_t>(std::min(claimed, room)));
    }

    void merge(const char* ref) {
        if (ref == nullptr) {
            return;
        }
        const std::string_view r(ref);
        const size_t colon = r.find(':');
        uint32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
        if (colon == std::string_view::npos || !parseCellRef(r.substr(0, colon), r1, c1) ||
            !parseCellRef(r.substr(colon + 1), r2, c2)) {
            return;  // not an area: it merges nothing
        }
        xls::Range m{std::min(r1, r2), std::max(r1, r2), static_cast<uint16_t>(std::min(c1, c2)),
                     static_cast<uint16_t>(std::max(c1, c2))};
        m_cells.addMerged(m);
    }

    const Package& m_package;
    const ZipEntry& m_entry;
    xls::Sheet::Data& m_out;
    xls::detail::SheetBuilder m_cells;
    uint64_t m_budget;
    uint64_t m_count = 0;
    bool m_inData = false;
    bool m_inCell = false;
    bool m_inIs = false;
    bool m_hasInline = false;
    int m_phonetic = 0;
    Collect m_collect = Collect::None;
    Type m_type = Type::Number;
    uint32_t m_xf = 0;
    std::vector<int16_t> m_slots;  // per cell format: its number format's slot, -1 not yet
    uint32_t m_row = UINT32_MAX;
    uint32_t m_col = UINT32_MAX;
    std::string m_text;
    std::string m_inlineText;
    std::u16string m_scratch;
};

}  // namespace

bool parseCellRef(std::string_view ref, uint32_t& row, uint32_t& col, bool partial) {
    size_t i = 0;
    if (i < ref.size() && ref[i] == '$') {
        ++i;
    }
    uint64_t c = 0;
    size_t letters = 0;
    for (; i < ref.size() && letters < 4; ++i, ++letters) {
        const char ch = ref[i];
        if (ch >= 'A' && ch <= 'Z') {
            c = c * 26 + static_cast<uint64_t>(ch - 'A' + 1);
        } else if (ch >= 'a' && ch <= 'z') {
            c = c * 26 + static_cast<uint64_t>(ch - 'a' + 1);
        } else {
            break;
        }
    }
    if (i < ref.size() && ref[i] == '$') {
        ++i;
    }
    uint64_t r = 0;
    size_t numerals = 0;
    for (; i < ref.size() && numerals < 8; ++i, ++numerals) {
        if (ref[i] < '0' || ref[i] > '9') {
            break;
        }
        r = r * 10 + static_cast<uint64_t>(ref[i] - '0');
    }
    if (i != ref.size() || (letters == 0 && numerals == 0)) {
        return false;
    }
    if ((letters == 0 || numerals == 0) && !partial) {
        return false;
    }
    if ((letters > 0 && (c == 0 || c > kColumns)) || (numerals > 0 && (r == 0 || r > kRows))) {
        return false;
    }
    col = letters > 0 ? static_cast<uint32_t>(c - 1) : UINT32_MAX;
    row = numerals > 0 ? static_cast<uint32_t>(r - 1) : UINT32_MAX;
    return true;
}

void readWorksheet(const Package& package, size_t index, xls::Sheet::Data& out) {
    const std::string& part = package.sheetParts.at(index);
    if (part.empty()) {
        xls::detail::SheetBuilder(out).finish();
        return;
    }
    const ZipEntry* entry = package.zip->find(part);
    if (entry == nullptr) {
        damaged("package: the worksheet part \"" + part + "\" is missing");
    }
    SheetHandler handler(package, *entry, out);
    parseXml(*package.zip, *entry, handler);
    handler.finish();
}

}  // namespace xlsx::detail
