// What the benchmarks that go through unixODBC to the built driver share:
// the diagnostic check, a connection to one workbook, reading a whole
// result with SQLFetch + SQLGetData(SQL_C_WCHAR), and the workbook named on
// the command line (by default one that bench/make_workbooks.py writes).
// Each including target defines TABROOK_BENCH_DIR and TABROOK_BUILD_ETC.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Throws the handle's first diagnostic record, prefixed by `what`, unless
// `rc` succeeded.
inline void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    if (SQL_SUCCEEDED(rc)) {
        return;
    }
    SQLCHAR state[6] = {}, message[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
    throw std::runtime_error(std::string(what) + ": " + reinterpret_cast<char*>(state) + " " +
                             reinterpret_cast<char*>(message));
}

// An ODBC 3 connection to `workbook` through the driver's name; `settings`
// (";Key=Value...") is appended to the connection string.
struct Connection {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;

    explicit Connection(const std::string& workbook, const std::string& settings = "") {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::string cs = "DRIVER={Velkor Excel Driver (*.xls)};DSN='';DBQ=" + workbook + settings;
        check(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS,
                               nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
              SQL_HANDLE_DBC, dbc, "connect");
    }
    ~Connection() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
};

// Fetches every row of the open result on `statement` and reads each of its
// `columns` fields as SQL_C_WCHAR; returns the number of rows and adds the
// fields' lengths to `checksum` (which keeps the reads from being optimised
// away).
inline size_t readEveryField(SQLHSTMT statement, SQLUSMALLINT columns, size_t& checksum) {
    std::vector<SQLWCHAR> buffer(4096);
    size_t rows = 0;
    while (SQLFetch(statement) == SQL_SUCCESS) {
        ++rows;
        for (SQLUSMALLINT col = 1; col <= columns; ++col) {
            SQLLEN ind = 0;
            SQLGetData(statement, col, SQL_C_WCHAR, buffer.data(),
                       static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &ind);
            checksum += ind == SQL_NULL_DATA ? 0 : static_cast<size_t>(ind);
        }
    }
    return rows;
}

// Points the driver manager at the build tree's etc/ (unless ODBCSYSINI is
// set) and returns the workbook: argv[1], else bench/cache/wide.xls. Nothing
// when that default is missing (after saying how to write it).
inline std::optional<std::string> workbookArgument(int argc, char** argv, const char* program) {
    setenv("ODBCSYSINI", TABROOK_BUILD_ETC, 0);
    const std::string workbook =
        argc > 1 ? argv[1] : std::string(TABROOK_BENCH_DIR) + "/cache/wide.xls";
    if (argc < 2 && access(workbook.c_str(), R_OK) != 0) {
        std::fprintf(stderr,
                     "%s: %s is missing; write it with /usr/bin/python3 "
                     "bench/make_workbooks.py\n",
                     program, workbook.c_str());
        return std::nullopt;
    }
    return workbook;
}

}  // namespace bench
