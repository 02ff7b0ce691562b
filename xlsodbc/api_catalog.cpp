// SQLTables, SQLColumns and SQLGetTypeInfo: catalogue results that the
// statement then fetches like any other result.
#include "xlsodbc/api.h"
#include "xlsodbc/catalog.h"

namespace xlsodbc {
namespace {

std::optional<std::u16string> argument(const TextArg& arg) {
    return arg.isNull() ? std::nullopt : std::optional(arg.str());
}

// Opens the result that `make` builds. As with a statement, a failure
// leaves no cursor open (the driver manager assumes none is).
template <typename Make>
void openCatalogResult(Statement& s, Make&& make) {
    try {
        if (s.executed) {
            throw DriverError(State::InvalidCursorState,
                              "A result is still open on this statement; close it first");
        }
        s.result = make();
        s.closeCursor();
        s.executed = true;
    } catch (...) {
        s.closeCursor();
        s.result.reset();
        throw;
    }
}

}  // namespace

SQLRETURN tables(SQLHSTMT stmt, const TextArg& catalog, const TextArg& schema, const TextArg& table,
                 const TextArg& type) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        openCatalogResult(s, [&] {
            const TablesQuery query{argument(catalog), argument(schema), argument(table),
                                    argument(type)};
            return tablesResult(s.connection, query, s.odbc2());
        });
        return SQL_SUCCESS;
    });
}

SQLRETURN columns(SQLHSTMT stmt, const TextArg& catalog, const TextArg& schema,
                  const TextArg& table, const TextArg& column) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        openCatalogResult(s, [&] {
            const ColumnsQuery query{argument(catalog), argument(schema), argument(table),
                                     argument(column)};
            return columnsResult(s.connection, query, s.odbc2());
        });
        return SQL_SUCCESS;
    });
}

SQLRETURN getTypeInfo(SQLHSTMT stmt, SQLSMALLINT type) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        openCatalogResult(s, [&] { return typeInfoResult(type, s.odbc2()); });
        return SQL_SUCCESS;
    });
}

}  // namespace xlsodbc
