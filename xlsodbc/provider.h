// The driver's view of a workbook, independent of how it is read: a list of
// tables (worksheets, then defined names) and, for one of them, a grid of
// texts read row by row. The workbook reader sits behind this interface
// (xls_provider.cpp); the catalogue's own result sets are grids too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xlsodbc {

// A rectangle of cells, 0-based and inclusive.
struct CellRange {
    uint32_t firstRow = 0;
    uint32_t lastRow = 0;
    uint16_t firstCol = 0;
    uint16_t lastCol = 0;
};

enum class TableKind : uint8_t { Worksheet, DefinedName };

struct TableInfo {
    std::u16string name;  // the sheet's or the defined name's own name
    TableKind kind = TableKind::Worksheet;
    // A defined name that belongs to one sheet: that sheet's name (empty for
    // a name of the whole workbook).
    std::u16string scope;
};

// A rectangle of texts. A grid has one current row; field() reads it.
class Grid {
public:
    virtual ~Grid() = default;
    [[nodiscard]] virtual uint32_t rowCount() const = 0;
    [[nodiscard]] virtual uint16_t columnCount() const = 0;
    // Makes `row` (0-based, below rowCount()) the current row.
    virtual void seek(uint32_t row) = 0;
    // The text of column `col` of the current row; nullopt for an empty
    // cell. The view stays valid until the next call on this grid.
    virtual std::optional<std::u16string_view> field(uint16_t col) = 0;
    // The contract text of column `col` of the current row (15 significant
    // digits, ISO 8601 dates) also where field() shows numbers as their
    // formats do; the same view rules as field().
    virtual std::optional<std::u16string_view> contractField(uint16_t col) { return field(col); }
    // True when field() shows the cell of column `col` of the current row
    // through its number format (a number or date where the grid shows
    // numbers as their formats do).
    virtual bool formatted(uint16_t /*col*/) { return false; }
    // The value of column `col` of the current row when it is a plain
    // number (not a date or time); nullopt otherwise.
    virtual std::optional<double> plainNumber(uint16_t /*col*/) { return std::nullopt; }
    // The longest text of each column over rows [fromRow, rowCount()), in
    // UTF-16 units and in UTF-8 bytes; leaves the current row undefined.
    // With detected types, also what every value of the column is.
    enum class Kind : uint8_t { Text, Number, Date, DateTime, Boolean };
    struct Extent {
        size_t units = 0;
        size_t utf8 = 0;
        Kind kind = Kind::Text;
    };
    virtual std::vector<Extent> longestTexts(uint32_t fromRow);
    // What the grid had to leave out of its sheet, for a warning; empty
    // when nothing.
    [[nodiscard]] const std::string& note() const { return m_note; }

protected:
    // Widens `longest` to hold `text`, or an ASCII text of `length` units.
    static void measure(Extent& longest, std::u16string_view text);
    static void measureAscii(Extent& longest, size_t length);

    std::string m_note;
};

// A grid held in memory (catalogue results).
class TableGrid final : public Grid {
public:
    using Row = std::vector<std::optional<std::u16string>>;
    TableGrid(uint16_t columns, std::vector<Row> rows)
        : m_columns(columns), m_rows(std::move(rows)) {}
    [[nodiscard]] uint32_t rowCount() const override {
        return static_cast<uint32_t>(m_rows.size());
    }
    [[nodiscard]] uint16_t columnCount() const override { return m_columns; }
    void seek(uint32_t row) override { m_current = row; }
    std::optional<std::u16string_view> field(uint16_t col) override;

private:
    uint16_t m_columns;
    std::vector<Row> m_rows;
    uint32_t m_current = 0;
};

// How numbers read as text: the one contract text (15 significant digits,
// ISO 8601 dates), or as the cell's number format shows them.
enum class Values : uint8_t { Contract, Displayed };

struct ReadOptions {
    Values values = Values::Contract;
    // Types=Detected: a column whose values are all numbers, all dates, all
    // date-times or all booleans says so in its extent's kind (and reads
    // its values as the contract texts, which convert to those types).
    bool detectTypes = false;
};

class WorkbookSource {
public:
    virtual ~WorkbookSource() = default;
    // Worksheets in workbook order, then the defined names that refer to a
    // rectangle of one worksheet. Chart, macro and dialog sheets are left out.
    [[nodiscard]] virtual const std::vector<TableInfo>& tables() const = 0;
    // The cells of table `index`: a worksheet's used range, or `range` of
    // it when given, or a defined name's range. Throws DriverError (HY000)
    // when the sheet's records are damaged.
    [[nodiscard]] virtual std::unique_ptr<Grid> open(size_t index,
                                                     std::optional<CellRange> range) const = 0;
    // The options the workbook was opened with.
    [[nodiscard]] virtual ReadOptions options() const = 0;
};

// Opens and checks a workbook. Throws DriverError (08001) with the reason
// in words a user understands.
std::unique_ptr<WorkbookSource> openWorkbook(const std::filesystem::path& path,
                                             ReadOptions options = {});

}  // namespace xlsodbc
