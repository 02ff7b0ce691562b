// Result sets over grids, and a worksheet result's column names.
#include "xlsodbc/result_set.h"

#include "xlsodbc/text.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace xlsodbc {
namespace {

std::u16string folded(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out) {
        c = foldCase(c);
    }
    return out;
}

std::u16string number(size_t n) {
    return u16(std::to_string(n));
}

}  // namespace

const char16_t* typeName(SQLSMALLINT type) {
    switch (type) {
        case SQL_SMALLINT:
            return u"SMALLINT";
        case SQL_INTEGER:
            return u"INTEGER";
        case SQL_DOUBLE:
            return u"DOUBLE";
        case SQL_TYPE_DATE:
            return u"DATE";
        case SQL_TYPE_TIMESTAMP:
            return u"TIMESTAMP";
        case SQL_BIT:
            return u"BIT";
        default:
            return u"WVARCHAR";
    }
}

// Octet length of a column's values in their SQL type's default C form.
SQLLEN octetLength(const ColumnInfo& c) {
    switch (c.sqlType) {
        case SQL_SMALLINT:
            return sizeof(SQLSMALLINT);
        case SQL_INTEGER:
            return sizeof(SQLINTEGER);
        case SQL_DOUBLE:
            return sizeof(SQLDOUBLE);
        case SQL_TYPE_DATE:
            return sizeof(SQL_DATE_STRUCT);
        case SQL_TYPE_TIMESTAMP:
            return sizeof(SQL_TIMESTAMP_STRUCT);
        case SQL_BIT:
            return 1;
        default:
            return static_cast<SQLLEN>(c.size * sizeof(SQLWCHAR));
    }
}

ResultSet::ResultSet(std::vector<ColumnInfo> columns, std::unique_ptr<Grid> grid,
                     uint32_t firstDataRow, bool sized, std::u16string table)
    : m_columns(std::move(columns)),
      m_grid(std::move(grid)),
      m_firstDataRow(firstDataRow),
      m_rowCount(m_grid->rowCount() > firstDataRow ? m_grid->rowCount() - firstDataRow : 0),
      m_sized(sized),
      m_table(std::move(table)) {}

const ColumnInfo& ResultSet::column(uint16_t i) {
    if (!m_sized) {
        computeSizes();
    }
    return m_columns.at(i);
}

void ResultSet::computeSizes() {
    const std::vector<Grid::Extent> longest = m_grid->longestTexts(m_firstDataRow);
    for (size_t c = 0; c < m_columns.size() && c < longest.size(); ++c) {
        ColumnInfo& column = m_columns[c];
        if (column.sqlType != SQL_WVARCHAR) {
            continue;  // a number column keeps its type's size
        }
        column.size = std::max<SQLULEN>(1, longest[c].units);
        column.displaySize = std::max<SQLULEN>(1, longest[c].utf8);
        // A column whose every value is of one type (Types=Detected) is
        // described as that type, sized as ODBC sizes it.
        switch (longest[c].kind) {
            case Grid::Kind::Number:
                column.sqlType = SQL_DOUBLE, column.size = 15, column.displaySize = 24;
                break;
            case Grid::Kind::Date:
                column.sqlType = SQL_TYPE_DATE, column.size = 10, column.displaySize = 10;
                break;
            case Grid::Kind::DateTime:
                column.sqlType = SQL_TYPE_TIMESTAMP, column.size = 19, column.displaySize = 19;
                break;
            case Grid::Kind::Boolean:
                column.sqlType = SQL_BIT, column.size = 1, column.displaySize = 1;
                break;
            case Grid::Kind::Text:
                break;
        }
    }
    m_sized = true;
    m_positioned = false;
}

void ResultSet::seek(uint32_t row) {
    m_wanted = row;
    m_positioned = false;
}

std::optional<std::u16string_view> ResultSet::field(uint16_t col) {
    if (!m_positioned) {
        m_grid->seek(m_firstDataRow + m_wanted);
        m_positioned = true;
    }
    return m_grid->field(col);
}

// A name is cut to kLongestText (a header cell may hold 32,767
// characters), so that every function reports the same name and length.
// The names taken so far are kept case-folded in a hash set, and each
// repeated name remembers the number it reached: names are only ever added,
// so the smallest free number for a name never goes down. Each header then
// costs time in proportion to its length, however long and however often
// repeated the headers are.
std::vector<std::u16string> columnNames(const std::vector<std::optional<std::u16string>>& headers) {
    std::vector<std::u16string> names;
    names.reserve(headers.size());
    std::unordered_set<std::u16string> taken;
    taken.reserve(headers.size());
    std::unordered_map<std::u16string, size_t> nextNumber;
    for (size_t i = 0; i < headers.size(); ++i) {
        std::u16string name = headers[i] && !headers[i]->empty()
                                  ? std::u16string(prefixWithin(*headers[i], kLongestText))
                                  : u"F" + number(i + 1);
        std::u16string key = folded(name);
        if (taken.contains(key)) {
            // The number goes after as much of the name as leaves room for it.
            size_t& n = nextNumber.try_emplace(key, 1).first->second;
            auto numbered = [&](size_t k) {
                const std::u16string digits = number(k);
                return std::u16string(prefixWithin(name, kLongestText - digits.size())) + digits;
            };
            while (taken.contains(folded(numbered(n)))) {
                ++n;
            }
            name = numbered(n);
            key = folded(name);
            ++n;
        }
        taken.insert(std::move(key));
        names.push_back(std::move(name));
    }
    return names;
}

std::unique_ptr<ResultSet> sheetResult(std::unique_ptr<Grid> grid, bool firstRowHasNames,
                                       std::u16string table) {
    std::vector<std::optional<std::u16string>> headers(grid->columnCount());
    uint32_t firstDataRow = 0;
    if (firstRowHasNames && grid->rowCount() > 0) {
        grid->seek(0);
        for (uint16_t c = 0; c < grid->columnCount(); ++c) {
            if (const auto text = grid->field(c)) {
                headers[c] = std::u16string(*text);
            }
        }
        firstDataRow = 1;
    }
    std::vector<ColumnInfo> columns;
    for (std::u16string& name : columnNames(headers)) {
        columns.push_back(ColumnInfo{std::move(name), SQL_WVARCHAR, 1, 1, SQL_NULLABLE});
    }
    return std::make_unique<ResultSet>(std::move(columns), std::move(grid), firstDataRow, false,
                                       std::move(table));
}

}  // namespace xlsodbc
