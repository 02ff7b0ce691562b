// SQLTables, SQLColumns and SQLGetTypeInfo: catalogue results that the
// statement then fetches like any other result.
#include "xlsodbc/api.h"
#include "xlsodbc/catalog.h"

namespace xlsodbc {
namespace {

std::optional<std::u16string> argument(const TextArg& arg) {
    return arg.isNull() ? std::nullopt : std::optional(arg.str());
}

void openCatalogResult(Statement& s, std::unique_ptr<ResultSet> result) {
    if (s.executed) {
        throw DriverError(State::InvalidCursorState,
                          "A result is still open on this statement; close it first");
    }
    s.result = std::move(result);
    s.closeCursor();
    s.executed = true;
}

}  // namespace

SQLRETURN tables(SQLHSTMT stmt, const TextArg& catalog, const TextArg& schema, const TextArg& table,
                 const TextArg& type) {
    return guard<Statement>(stmt, [&](Statement& s) {
        const TablesQuery query{argument(catalog), argument(schema), argument(table),
                                argument(type)};
        openCatalogResult(s, tablesResult(s.connection, query, s.odbc2()));
        return SQL_SUCCESS;
    });
}

SQLRETURN columns(SQLHSTMT stmt, const TextArg& catalog, const TextArg& schema,
                  const TextArg& table, const TextArg& column) {
    return guard<Statement>(stmt, [&](Statement& s) {
        const ColumnsQuery query{argument(catalog), argument(schema), argument(table),
                                 argument(column)};
        openCatalogResult(s, columnsResult(s.connection, query, s.odbc2()));
        return SQL_SUCCESS;
    });
}

SQLRETURN getTypeInfo(SQLHSTMT stmt, SQLSMALLINT type) {
    return guard<Statement>(stmt, [&](Statement& s) {
        openCatalogResult(s, typeInfoResult(type, s.odbc2()));
        return SQL_SUCCESS;
    });
}

}  // namespace xlsodbc
