// Catalogue names and search patterns, and the result sets of SQLTables,
// SQLColumns and SQLGetTypeInfo.
#pragma once

#include "xlsodbc/diagnostics.h"
#include "xlsodbc/provider.h"
#include "xlsodbc/result_set.h"
#include "xlsodbc/statement_parser.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace xlsodbc {

// What the catalogue reads of a connection: its workbook, the workbook's
// path (the one catalogue, TABLE_CAT) and the two settings that shape table
// types and column names.
struct CatalogSource {
    const WorkbookSource& workbook;
    const std::filesystem::path& path;
    bool firstRowHasNames = true;
    bool sheetsAsTables = false;
};

// How the catalogue names a table: a worksheet "Sheet1$", quoted when the
// name holds anything but letters, digits and "_" ('My Sheet$', with a
// quote inside doubled); a defined name as it is. Every such name works
// between brackets in a statement.
std::u16string catalogName(const TableInfo& table);

// ODBC search pattern: "%" any run, "_" one character, `escape` makes the
// next character literal. Letter case is ignored, as in sheet names.
bool matchesPattern(std::u16string_view value, std::u16string_view pattern,
                    char16_t escape = u'\\');

// Arguments of a catalogue function: nullopt places no restriction.
struct TablesQuery {
    std::optional<std::u16string> catalog, schema, table, type;
};
std::unique_ptr<ResultSet> tablesResult(const CatalogSource& c, const TablesQuery& query,
                                        bool odbc2);

struct ColumnsQuery {
    std::optional<std::u16string> catalog, schema, table, column;
};
// A worksheet that cannot be read is left out with a warning in `warnings`.
std::unique_ptr<ResultSet> columnsResult(const CatalogSource& c, const ColumnsQuery& query,
                                         bool odbc2, Diagnostics& warnings);

std::unique_ptr<ResultSet> typeInfoResult(SQLSMALLINT type, bool odbc2);

// Catalogue functions whose answer is always empty for a workbook: it has
// no keys, indexes, row identifiers, procedures or privileges.
enum class EmptyCatalog : unsigned char {
    PrimaryKeys,
    ForeignKeys,
    Statistics,
    SpecialColumns,
    Procedures,
    ProcedureColumns,
    TablePrivileges,
    ColumnPrivileges,
};
// The empty result with the function's standard columns (ODBC 2 names and
// column counts for ODBC 2 applications).
std::unique_ptr<ResultSet> emptyCatalogResult(EmptyCatalog which, bool odbc2);

// The table a reference names: a worksheet by its name; a defined name
// qualified by a sheet (Sheet1!Name) as that sheet's own; an unqualified
// one as the workbook's, else as the first sheet's that has it.
std::optional<size_t> findTable(const std::vector<TableInfo>& tables, const TableReference& ref);

// The result of one table of the workbook (a statement's
// table). Throws DriverError (42S02) naming the tables that exist.
std::unique_ptr<ResultSet> tableResult(const CatalogSource& c, const TableReference& ref);

}  // namespace xlsodbc
