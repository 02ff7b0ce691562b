// SQLTables, SQLColumns, SQLGetTypeInfo and the catalogue functions that
// are always empty for a workbook: catalogue results that the statement
// then fetches like any other result.
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

// The arguments of an always-empty catalogue function are still checked,
// as ODBC defines them: an application learns of its mistakes either way.
void checkArguments(EmptyCatalog which, const std::vector<TextArg>& args,
                    const std::array<SQLUSMALLINT, 3>& options) {
    for (const TextArg& arg : args) {
        static_cast<void>(arg.str());  // HY090 for a negative length
    }
    auto refuse = [](State state, const std::string& what) { throw DriverError(state, what); };
    switch (which) {
        case EmptyCatalog::PrimaryKeys:
        case EmptyCatalog::Statistics:
        case EmptyCatalog::SpecialColumns:
        case EmptyCatalog::ColumnPrivileges:
            if (args.at(2).isNull()) {
                refuse(State::InvalidNullPointer, "No table name was given");
            }
            break;
        case EmptyCatalog::ForeignKeys:
            if (args.at(2).isNull() && args.at(5).isNull()) {
                refuse(State::InvalidNullPointer, "Neither table name was given");
            }
            break;
        default:
            break;
    }
    if (which == EmptyCatalog::Statistics) {
        if (options[0] != SQL_INDEX_UNIQUE && options[0] != SQL_INDEX_ALL) {
            refuse(State::InvalidUniqueness, "Unknown uniqueness option");
        }
        if (options[1] != SQL_QUICK && options[1] != SQL_ENSURE) {
            refuse(State::InvalidAccuracy, "Unknown accuracy option");
        }
    }
    if (which == EmptyCatalog::SpecialColumns) {
        if (options[0] != SQL_BEST_ROWID && options[0] != SQL_ROWVER) {
            refuse(State::InvalidColumnType, "Unknown identifier type");
        }
        if (options[1] != SQL_SCOPE_CURROW && options[1] != SQL_SCOPE_TRANSACTION &&
            options[1] != SQL_SCOPE_SESSION) {
            refuse(State::InvalidScopeType, "Unknown scope");
        }
        if (options[2] != SQL_NO_NULLS && options[2] != SQL_NULLABLE) {
            refuse(State::InvalidNullableType, "Unknown nullable option");
        }
    }
}

}  // namespace

SQLRETURN tables(SQLHSTMT stmt, const TextArg& catalog, const TextArg& schema, const TextArg& table,
                 const TextArg& type) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        openCatalogResult(s, [&] {
            const TablesQuery query{argument(catalog), argument(schema), argument(table),
                                    argument(type)};
            return tablesResult(catalogOf(s.connection), query, s.odbc2());
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
            return columnsResult(catalogOf(s.connection), query, s.odbc2(), s.diagnostics);
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

SQLRETURN emptyCatalog(SQLHSTMT stmt, EmptyCatalog which, std::initializer_list<TextArg> args,
                       std::array<SQLUSMALLINT, 3> options) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        openCatalogResult(s, [&] {
            checkArguments(which, std::vector<TextArg>(args), options);
            return emptyCatalogResult(which, s.odbc2());
        });
        return SQL_SUCCESS;
    });
}

}  // namespace xlsodbc
