// The workbook reader behind the driver's WorkbookSource interface: maps the
// reader's sheets and names to tables, its cells to grids of texts, and its
// errors to the driver's diagnostics.
#include "xlsodbc/diagnostics.h"
#include "xlsodbc/provider.h"
#include "xlsodbc/text.h"

#include "numfmt/numfmt.h"
#include "xls/workbook.h"
#include "xlsx/xlsx.h"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace xlsodbc {
namespace {

std::string quotedPath(const std::filesystem::path& path) {
    return "\"" + echoUtf8(path.string()) + "\"";
}

// unixODBC keeps the first 512 characters of each record that a driver
// posts while connecting, and drops the rest: a refusal quotes the path
// shortened (and the reader's reason too) so that the whole message, what
// went wrong with it, fits there.
constexpr size_t kRefusalLength = 480;
constexpr size_t kShortestPath = 64;
constexpr size_t kReasonLength = 200;

std::string aboutWorkbook(std::string_view before, const std::filesystem::path& path,
                          std::string_view after) {
    const size_t fixed = before.size() + after.size() + 2;
    const size_t room =
        fixed + kShortestPath < kRefusalLength ? kRefusalLength - fixed : kShortestPath;
    return std::string(before) + "\"" + echoUtf8(path.string(), room) + "\"" + std::string(after);
}

// Why a workbook was refused, in words a user understands.
std::string refusal(const std::filesystem::path& path, const xls::Error& error) {
    std::string_view what = error.what();
    if (error.kind() == xls::ErrorKind::Io) {
        // The reader's text names the file again before the system's
        // reason: the message names it once.
        const std::string repeated = "file: cannot open '" + path.string() + "': ";
        if (what.starts_with(repeated)) {
            what.remove_prefix(repeated.size());
        }
    }
    const std::string reason = echoUtf8(what, kReasonLength);
    const std::string notExcel = " is not an Excel workbook (.xls, .xlsx or .xlsm)";
    const std::string saveAs = "; save it as an Excel workbook (.xlsx or .xls) to read it";
    switch (error.kind()) {
        case xls::ErrorKind::Io:
            return aboutWorkbook("The workbook ", path, " cannot be opened: " + reason);
        case xls::ErrorKind::NotWorkbook:
            return aboutWorkbook("", path, notExcel + " (" + reason + ")");
        case xls::ErrorKind::LooksLikeXlsx:
            return aboutWorkbook(
                "", path,
                notExcel + ": it looks like an Excel 2007 or later (.xlsx) workbook" + saveAs);
        case xls::ErrorKind::LooksLikeOds:
            return aboutWorkbook(
                "", path,
                notExcel +
                    ": it is an OpenDocument spreadsheet (.ods), which this driver "
                    "does not read" +
                    saveAs);
        case xls::ErrorKind::LooksLikeXlsb:
            return aboutWorkbook("", path,
                                 notExcel +
                                     ": it is an Excel binary workbook (.xlsb), which this driver "
                                     "does not read" +
                                     saveAs);
        case xls::ErrorKind::Encrypted:
            return aboutWorkbook(
                "The workbook ", path,
                " is password-protected; save a copy without a password to read it");
        case xls::ErrorKind::UnsupportedVersion:
            return aboutWorkbook(
                "", path,
                " is an Excel file of a version that is not supported (" + reason + ")" + saveAs);
        case xls::ErrorKind::Damaged:
            break;
    }
    return aboutWorkbook("The workbook ", path, " is damaged (" + reason + ")");
}

// One worksheet rectangle. seek() indexes the row's cells by column so that
// field() is a lookup; texts of string cells are views into the sheet.
class SheetGrid final : public Grid {
public:
    SheetGrid(xls::Sheet sheet, CellRange range, bool empty, ReadOptions options,
              std::string note = {})
        : m_sheet(std::move(sheet)),
          m_range(range),
          m_empty(empty),
          m_displayed(options.values == Values::Displayed),
          m_detect(options.detectTypes),
          m_index(static_cast<size_t>(range.lastCol - range.firstCol) + 1, -1) {
        m_note = std::move(note);
    }

    [[nodiscard]] uint32_t rowCount() const override {
        return m_empty ? 0 : m_range.lastRow - m_range.firstRow + 1;
    }
    [[nodiscard]] uint16_t columnCount() const override {
        return static_cast<uint16_t>(m_range.lastCol - m_range.firstCol + 1);
    }

    void seek(uint32_t row) override {
        for (const xls::Cell& cell : m_cells) {
            if (inColumns(cell.col)) {
                m_index[cell.col - m_range.firstCol] = -1;
            }
        }
        m_cells = m_sheet.row(m_range.firstRow + row);
        for (size_t i = 0; i < m_cells.size(); ++i) {
            if (inColumns(m_cells[i].col)) {
                m_index[m_cells[i].col - m_range.firstCol] = static_cast<int32_t>(i);
            }
        }
    }

    bool formatted(uint16_t col) override {
        const int32_t i = m_index[col];
        return m_displayed && i >= 0 && isNumber(m_cells[static_cast<size_t>(i)].type) &&
               (m_typed.empty() || !m_typed[col]);
    }

    std::optional<std::u16string_view> field(uint16_t col) override {
        if (!formatted(col)) {
            return contractField(col);
        }
        const xls::Cell& cell = m_cells[static_cast<size_t>(m_index[col])];
        const numfmt::Format& f = format(cell);
        // A plain number's contract text is what General shows when it
        // takes at most 11 characters besides the sign (both are then its
        // shortest text); only longer ones go through the format.
        if (cell.type == xls::CellType::Number && f.isGeneral()) {
            m_sheet.text(cell, m_scratch);
            const size_t sign = !m_scratch.empty() && m_scratch[0] == u'-' ? 1 : 0;
            if (m_scratch.size() - sign > 11) {
                f.apply(cell.number, m_sheet.date1904(), m_scratch);
            }
        } else {
            f.apply(cell.number, m_sheet.date1904(), m_scratch);
        }
        return m_scratch.empty() ? std::nullopt : std::optional<std::u16string_view>(m_scratch);
    }

    std::optional<std::u16string_view> contractField(uint16_t col) override {
        const int32_t i = m_index[col];
        if (i < 0) {
            return std::nullopt;
        }
        const xls::Cell& cell = m_cells[static_cast<size_t>(i)];
        std::u16string_view text;
        if (cell.type == xls::CellType::Text) {
            text = m_sheet.string(cell);
        } else {
            m_sheet.text(cell, m_scratch);
            text = m_scratch;
        }
        // An empty string (a formula's "" result) is an empty cell.
        return text.empty() ? std::nullopt : std::optional(text);
    }

    std::optional<double> plainNumber(uint16_t col) override {
        const int32_t i = m_index[col];
        if (i < 0) {
            return std::nullopt;
        }
        const xls::Cell& cell = m_cells[static_cast<size_t>(i)];
        if (cell.type != xls::CellType::Number) {
            return std::nullopt;
        }
        const double number = cell.number;  // a packed member: read by value, never bound
        return number;
    }

    // Visits only the cells that hold a value: a range as wide and tall as
    // a worksheet allows may hold a handful of them. Values are measured,
    // not rendered: only strings are looked at.
    std::vector<Extent> longestTexts(uint32_t fromRow) override {
        std::vector<Extent> longest(columnCount());
        std::vector<uint8_t> kinds(m_detect ? columnCount() : 0);
        for (uint32_t r = fromRow; r < rowCount(); ++r) {
            for (const xls::Cell& cell : m_sheet.row(m_range.firstRow + r)) {
                if (!inColumns(cell.col)) {
                    continue;
                }
                const size_t c = cell.col - m_range.firstCol;
                Extent& column = longest[c];
                if (cell.type == xls::CellType::Text) {
                    measure(column, m_sheet.string(cell));
                } else {
                    measureAscii(column, m_sheet.textLength(cell));
                }
                if (m_detect) {
                    kinds[c] |= kindBit(cell);
                }
            }
        }
        if (m_detect) {
            m_typed.assign(columnCount(), false);
            for (size_t c = 0; c < longest.size(); ++c) {
                longest[c].kind = kindOf(kinds[c]);
                m_typed[c] = longest[c].kind != Kind::Text;
            }
        }
        return longest;
    }

private:
    [[nodiscard]] bool inColumns(uint16_t col) const {
        return col >= m_range.firstCol && col <= m_range.lastCol;
    }

    // What a cell's contract text is, as a bit: a number, a date, a
    // date-time, a boolean, or anything else (text, an error, a time of
    // day, a date outside the calendar, which read as other texts).
    enum : uint8_t { kNumber = 1, kDate = 2, kDateTime = 4, kBoolean = 8, kOther = 16 };
    [[nodiscard]] uint8_t kindBit(const xls::Cell& cell) const {
        const double limit = m_sheet.date1904() ? 2958466.0 - 1462 : 2958466.0;
        switch (cell.type) {
            case xls::CellType::Number:
                return std::isfinite(cell.number) ? kNumber : kOther;
            case xls::CellType::Date:
            case xls::CellType::DateTime:
                // From 0 to 1 a value reads as a time of day; negative or
                // past the calendar, as a number.
                if (!(cell.number >= 1) || cell.number >= limit - 1) {
                    return kOther;
                }
                return cell.type == xls::CellType::Date ? kDate : kDateTime;
            case xls::CellType::Boolean:
                return kBoolean;
            default:
                return kOther;
        }
    }
    static Kind kindOf(uint8_t bits) {
        switch (bits) {
            case kNumber:
                return Kind::Number;
            case kDate:
                return Kind::Date;
            case kDateTime:
            case kDate | kDateTime:
                return Kind::DateTime;
            case kBoolean:
                return Kind::Boolean;
            default:
                return Kind::Text;  // mixed, other, or no value at all
        }
    }

    static bool isNumber(xls::CellType t) {
        return t == xls::CellType::Number || t == xls::CellType::Date || t == xls::CellType::Time ||
               t == xls::CellType::DateTime;
    }

    // The parsed number format of a number cell, parsed once per format of
    // the sheet. A built-in id the engine has no code for shows as its kind
    // was classified: a date, a time, or General.
    const numfmt::Format& format(const xls::Cell& cell) {
        if (m_formats.size() <= cell.code) {
            m_formats.resize(static_cast<size_t>(cell.code) + 1);
        }
        std::optional<numfmt::Format>& f = m_formats[cell.code];
        if (!f) {
            const xls::NumberFormat& nf = m_sheet.numberFormat(cell);
            std::u16string_view code = nf.code;
            if (code.empty()) {
                code = numfmt::builtinCode(nf.id);
            }
            if (code.empty()) {
                code = cell.type == xls::CellType::Date       ? u"yyyy/m/d"
                       : cell.type == xls::CellType::Time     ? u"h:mm:ss"
                       : cell.type == xls::CellType::DateTime ? u"yyyy/m/d h:mm"
                                                              : u"General";
            }
            f.emplace(code);
        }
        return *f;
    }

    xls::Sheet m_sheet;
    CellRange m_range;
    bool m_empty;
    bool m_displayed;
    bool m_detect;
    std::vector<bool> m_typed;     // columns of one detected type read as contract texts
    std::vector<int32_t> m_index;  // column in range -> position in m_cells, or -1
    std::span<const xls::Cell> m_cells;
    std::u16string m_scratch;
    std::vector<std::optional<numfmt::Format>> m_formats;  // by the cells' format slot
};

class XlsSource final : public WorkbookSource {
public:
    XlsSource(std::filesystem::path path, xls::Workbook workbook, ReadOptions options)
        : m_path(std::move(path)), m_workbook(std::move(workbook)), m_options(options) {
        const auto& sheets = m_workbook.sheets();
        for (size_t i = 0; i < sheets.size(); ++i) {
            if (sheets[i].type == xls::SheetType::Worksheet) {
                m_tables.push_back({sheets[i].name, TableKind::Worksheet, {}});
                m_targets.push_back({i, std::nullopt});
            }
        }
        for (const xls::DefinedName& name : m_workbook.names()) {
            if (name.sheet < sheets.size() &&
                sheets[name.sheet].type == xls::SheetType::Worksheet) {
                const xls::Range& r = name.range;
                std::u16string scope;
                if (name.scope > 0 && name.scope <= sheets.size()) {
                    scope = sheets[name.scope - 1].name;
                }
                m_tables.push_back({name.name, TableKind::DefinedName, std::move(scope)});
                m_targets.push_back(
                    {name.sheet, CellRange{r.firstRow, r.lastRow, r.firstCol, r.lastCol}});
            }
        }
    }

    [[nodiscard]] const std::vector<TableInfo>& tables() const override { return m_tables; }
    [[nodiscard]] ReadOptions options() const override { return m_options; }

    [[nodiscard]] std::unique_ptr<Grid> open(size_t index,
                                             std::optional<CellRange> range) const override {
        const Target& target = m_targets.at(index);
        xls::Sheet sheet = readSheet(target.sheet);
        std::string note;
        const std::optional<xls::Range> used = withinGrid(sheet, target.sheet, note);
        if (!range) {
            range = target.range;
        }
        if (!range) {
            if (!used) {
                // A sheet without values: one unnamed column and no rows.
                return std::make_unique<SheetGrid>(std::move(sheet), CellRange{}, true, m_options,
                                                   std::move(note));
            }
            range = CellRange{used->firstRow, used->lastRow, used->firstCol, used->lastCol};
        } else {
            range = clipToUsed(*range, used);
        }
        return std::make_unique<SheetGrid>(std::move(sheet), *range, false, m_options,
                                           std::move(note));
    }

private:
    struct Target {
        size_t sheet;
        std::optional<CellRange> range;
    };

    // The sheet's used range within the grid of an Excel worksheet (256
    // columns; 65,536 rows, 16,384 in Excel 2.x-4.0 files). Cells beyond it
    // are damage that no spreadsheet program shows: they are left out, and
    // `note` says so, rather than widening the result to tens of thousands
    // of empty columns.
    [[nodiscard]] std::optional<xls::Range> withinGrid(const xls::Sheet& sheet, size_t index,
                                                       std::string& note) const {
        std::optional<xls::Range> used = sheet.usedRange();
        const int version = m_workbook.biffVersion();
        const uint16_t lastCol = version >= 12 ? 16383 : 255;
        const uint32_t lastRow = version >= 12 ? 1048575 : version <= 4 ? 16383 : 65535;
        if (!used || (used->lastCol <= lastCol && used->lastRow <= lastRow)) {
            return used;
        }
        note = "The worksheet \"" + echo(m_workbook.sheets()[index].name) + "\" of " +
               quotedPath(m_path) + " has cells outside the grid of a worksheet (columns A to " +
               (version >= 12 ? "XFD" : "IV") + ", rows 1 to " + std::to_string(lastRow + 1) +
               "): the file is damaged there, and " + "those cells are left out";
        if (used->firstCol > lastCol || used->firstRow > lastRow) {
            return std::nullopt;
        }
        used->lastCol = std::min(used->lastCol, lastCol);
        used->lastRow = std::min(used->lastRow, lastRow);
        return used;
    }

    // A range that reaches past the last used row or column (a whole
    // column, a whole row) ends where the values end, but keeps at least
    // its first row and column.
    static CellRange clipToUsed(CellRange r, const std::optional<xls::Range>& used) {
        const uint32_t lastRow = used ? used->lastRow : 0;
        const uint16_t lastCol = used ? used->lastCol : 0;
        r.lastRow = std::min(r.lastRow, std::max(lastRow, r.firstRow));
        r.lastCol = std::min(r.lastCol, std::max(lastCol, r.firstCol));
        return r;
    }

    [[nodiscard]] xls::Sheet readSheet(size_t index) const {
        try {
            return m_workbook.sheet(index);
        } catch (const xls::Error& e) {
            throw DriverError(State::GeneralError,
                              "The worksheet \"" + echo(m_workbook.sheets()[index].name) +
                                  "\" of " + quotedPath(m_path) + " is damaged (" + e.what() + ")");
        }
    }

    std::filesystem::path m_path;
    xls::Workbook m_workbook;
    std::vector<TableInfo> m_tables;
    std::vector<Target> m_targets;
    ReadOptions m_options;
};

}  // namespace

std::unique_ptr<WorkbookSource> openWorkbook(const std::filesystem::path& path,
                                             ReadOptions options) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw DriverError(
            State::UnableToConnect,
            aboutWorkbook("The workbook ", path, " cannot be opened: it is a folder, not a file"));
    }
    try {
        return std::make_unique<XlsSource>(path, xlsx::openWorkbook(path), options);
    } catch (const xls::Error& e) {
        throw DriverError(State::UnableToConnect, refusal(path, e));
    }
}

}  // namespace xlsodbc
