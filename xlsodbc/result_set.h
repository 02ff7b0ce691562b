// A result set: described columns over a grid of texts, read row by row.
// A worksheet's result takes its column names from the first row of the
// grid (or F1..Fn); catalogue results carry fixed descriptions.
#pragma once

#include "xlsodbc/odbc.h"
#include "xlsodbc/provider.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xlsodbc {

struct ColumnInfo {
    std::u16string name;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLULEN size = 1;         // characters (text) or digits (numbers)
    SQLULEN displaySize = 1;  // UTF-8 bytes of the longest text: narrow clients
                              // (isql) size their buffers from it
    SQLSMALLINT nullable = SQL_NULLABLE;
};

// The name of an SQL type as the driver reports it (SQL_DESC_TYPE_NAME,
// SQLColumns' TYPE_NAME): text is WVARCHAR.
const char16_t* typeName(SQLSMALLINT type);
// Octet length of a column's values in their SQL type's default C form.
SQLLEN octetLength(const ColumnInfo& c);

class ResultSet {
public:
    // `sized` says the columns' sizes are given; otherwise each text
    // column's size is the longest value in it, computed when first asked
    // (number columns keep the size they were given).
    ResultSet(std::vector<ColumnInfo> columns, std::unique_ptr<Grid> grid, uint32_t firstDataRow,
              bool sized, std::u16string table);

    [[nodiscard]] uint16_t columnCount() const { return static_cast<uint16_t>(m_columns.size()); }
    // Column i, 0-based.
    const ColumnInfo& column(uint16_t i);
    [[nodiscard]] const std::u16string& table() const { return m_table; }
    [[nodiscard]] uint32_t rowCount() const { return m_rowCount; }
    // What the result's sheet had to leave out (empty when nothing).
    [[nodiscard]] std::string note() const { return m_grid ? m_grid->note() : std::string(); }

    // Makes data row i (0-based) current for field().
    void seek(uint32_t row);
    std::optional<std::u16string_view> field(uint16_t col);

private:
    void computeSizes();

    std::vector<ColumnInfo> m_columns;
    std::unique_ptr<Grid> m_grid;
    uint32_t m_firstDataRow;
    uint32_t m_rowCount;
    bool m_sized;
    std::u16string m_table;
    uint32_t m_wanted = 0;
    bool m_positioned = false;
};

// The result of a worksheet, a range or a defined name.
std::unique_ptr<ResultSet> sheetResult(std::unique_ptr<Grid> grid, bool firstRowHasNames,
                                       std::u16string table);

// Column names from header texts: "F<position>" for an empty one, the
// smallest number appended to one that repeats an earlier name (letter
// case ignored).
std::vector<std::u16string> columnNames(const std::vector<std::optional<std::u16string>>& headers);

}  // namespace xlsodbc
