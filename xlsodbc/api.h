// The driver's implementation of each ODBC function, one per function for
// narrow and wide callers alike (text arguments arrive as TextArg, text
// results go to a TextBuffer), and the boundary every entry point runs
// through: clear the handle's diagnostics, run, turn an exception into a
// diagnostic record and derive the return code from the records.
#pragma once

#include "xlsodbc/catalog.h"
#include "xlsodbc/diagnostics.h"
#include "xlsodbc/handles.h"
#include "xlsodbc/odbc.h"
#include "xlsodbc/text.h"

#include <array>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>

namespace xlsodbc {

template <typename H>
std::shared_ptr<H> handleCast(SQLHANDLE handle);
template <>
inline std::shared_ptr<Environment> handleCast<Environment>(SQLHANDLE handle) {
    return asEnvironment(handle);
}
template <>
inline std::shared_ptr<Connection> handleCast<Connection>(SQLHANDLE handle) {
    return asConnection(handle);
}
template <>
inline std::shared_ptr<Statement> handleCast<Statement>(SQLHANDLE handle) {
    return asStatement(handle);
}

// Records the exception that is being handled as a diagnostic of `handle`.
void recordCurrentException(Handle& handle) noexcept;

// Runs body(handle) for the live handle of type H, holding the handle's
// lock: SQL_INVALID_HANDLE for anything else (also for a handle freed while
// the call waited for its lock); SQL_SUCCESS_WITH_INFO when the body
// succeeded but left records (warnings, or errors of single rows of a
// rowset); SQL_ERROR when it threw. Nothing crosses the C ABI as an
// exception. The handle is kept alive until the lock is let go.
template <typename H, typename Body>
SQLRETURN guard(SQLHANDLE raw, Body&& body) noexcept {
    const std::shared_ptr<H> handle = handleCast<H>(raw);
    if (handle == nullptr) {
        return SQL_INVALID_HANDLE;
    }
    std::unique_lock lock(handle->mutex, std::defer_lock);
    try {
        lock.lock();
        if (handle->freed) {
            return SQL_INVALID_HANDLE;
        }
        handle->diagnostics.clear();
        // Bodies return the SQL_* macros, which are ints.
        const auto rc = static_cast<SQLRETURN>(body(*handle));
        if (rc == SQL_SUCCESS && !handle->diagnostics.empty()) {
            return SQL_SUCCESS_WITH_INFO;
        }
        return rc;
    } catch (...) {
        recordCurrentException(*handle);
        return SQL_ERROR;
    }
}

// The catalogue's view of a connected connection.
inline CatalogSource catalogOf(const Connection& c) {
    return {*c.workbook, c.path, c.firstRowHasNames, c.sheetsAsTables};
}

// Handles and environment (api_handles.cpp).
SQLRETURN allocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) noexcept;
SQLRETURN freeHandle(SQLSMALLINT type, SQLHANDLE handle) noexcept;
SQLRETURN freeStmt(SQLHSTMT stmt, SQLUSMALLINT option) noexcept;
SQLRETURN setEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                     SQLINTEGER length) noexcept;
SQLRETURN getEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                     SQLINTEGER* length) noexcept;

// Connections (api_connection.cpp).
SQLRETURN driverConnect(SQLHDBC dbc, const TextArg& in, const TextBuffer& out,
                        SQLSMALLINT* outLength, SQLUSMALLINT completion) noexcept;
SQLRETURN connect(SQLHDBC dbc, const TextArg& dsn) noexcept;
SQLRETURN disconnect(SQLHDBC dbc) noexcept;
SQLRETURN setConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length,
                         Encoding enc) noexcept;
SQLRETURN getConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                         SQLINTEGER* length, Encoding enc) noexcept;
SQLRETURN endTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) noexcept;
SQLRETURN nativeSql(SQLHDBC dbc, const TextArg& in, const TextBuffer& out,
                    SQLINTEGER* outLength) noexcept;

// What the driver supports (api_info.cpp).
SQLRETURN getInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity,
                  SQLSMALLINT* length, Encoding enc) noexcept;
SQLRETURN getFunctions(SQLHDBC dbc, SQLUSMALLINT function, SQLUSMALLINT* supported) noexcept;

// Statements and result descriptions (api_statement.cpp).
SQLRETURN prepare(SQLHSTMT stmt, const TextArg& text) noexcept;
SQLRETURN execute(SQLHSTMT stmt) noexcept;
SQLRETURN execDirect(SQLHSTMT stmt, const TextArg& text) noexcept;
SQLRETURN numResultCols(SQLHSTMT stmt, SQLSMALLINT* count) noexcept;
SQLRETURN describeCol(SQLHSTMT stmt, SQLUSMALLINT column, const TextBuffer& name,
                      SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLULEN* size,
                      SQLSMALLINT* digits, SQLSMALLINT* nullable) noexcept;
SQLRETURN colAttribute(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                       const TextBuffer& text, SQLSMALLINT* textLength, SQLLEN* number) noexcept;
SQLRETURN rowCount(SQLHSTMT stmt, SQLLEN* count) noexcept;
SQLRETURN moreResults(SQLHSTMT stmt) noexcept;
SQLRETURN closeCursor(SQLHSTMT stmt) noexcept;
SQLRETURN cancel(SQLHSTMT stmt) noexcept;
SQLRETURN setStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                      SQLINTEGER length) noexcept;
SQLRETURN getStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                      SQLINTEGER* length) noexcept;

// Parameters (api_params.cpp).
SQLRETURN numParams(SQLHSTMT stmt, SQLSMALLINT* count) noexcept;
SQLRETURN bindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT ioType, SQLSMALLINT cType,
                        SQLSMALLINT sqlType, SQLPOINTER value, SQLLEN capacity,
                        SQLLEN* indicator) noexcept;
// The values bound to the first `count` parameters; texts are kept in
// `texts`. Throws DriverError (07002 when fewer are bound).
std::vector<sql::Value> parameterValues(Statement& s, size_t count,
                                        std::vector<std::u16string>& texts);
SQLRETURN describeParam(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT* type, SQLULEN* size,
                        SQLSMALLINT* digits, SQLSMALLINT* nullable) noexcept;
SQLRETURN paramData(SQLHSTMT stmt, SQLPOINTER* value) noexcept;
SQLRETURN putData(SQLHSTMT stmt, SQLPOINTER data, SQLLEN length) noexcept;

// Fetching (api_fetch.cpp).
SQLRETURN bindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER data,
                  SQLLEN capacity, SQLLEN* indicator) noexcept;
SQLRETURN fetch(SQLHSTMT stmt) noexcept;
SQLRETURN fetchScroll(SQLHSTMT stmt, SQLSMALLINT orientation, SQLLEN offset) noexcept;
SQLRETURN getData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER data,
                  SQLLEN capacity, SQLLEN* indicator) noexcept;

// The catalogue (api_catalog.cpp).
SQLRETURN tables(SQLHSTMT stmt, const TextArg& catalog, const TextArg& schema, const TextArg& table,
                 const TextArg& type) noexcept;
SQLRETURN columns(SQLHSTMT stmt, const TextArg& catalog, const TextArg& schema,
                  const TextArg& table, const TextArg& column) noexcept;
SQLRETURN getTypeInfo(SQLHSTMT stmt, SQLSMALLINT type) noexcept;
// The catalogue functions that are always empty for a workbook (keys,
// statistics, row identifiers, procedures, privileges): `args` are the
// function's text arguments in order, `options` its other arguments.
SQLRETURN emptyCatalog(SQLHSTMT stmt, EmptyCatalog which, std::initializer_list<TextArg> args,
                       std::array<SQLUSMALLINT, 3> options = {}) noexcept;

// Diagnostics (api_diag.cpp).
SQLRETURN getDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                     const TextBuffer& state, SQLINTEGER* native, const TextBuffer& message,
                     SQLSMALLINT* messageLength) noexcept;
SQLRETURN getDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                       SQLPOINTER value, SQLSMALLINT capacity, SQLSMALLINT* length,
                       Encoding enc) noexcept;

}  // namespace xlsodbc
