// The Excel driver's reading speed through unixODBC: rows per second and
// nanoseconds per field for SQLFetch + SQLGetData(SQL_C_WCHAR) per field,
// and for block fetches into bound columns (SQL_ATTR_ROW_ARRAY_SIZE); then
// the per-field reading again with Values=Displayed (numbers by their number
// formats) and with Types=Detected (typed columns), against the default.
//
//   xlsodbc_bench [WORKBOOK [TABLE]]
//
// The default workbook is bench/cache/wide.xls (65,535 rows x 26 mixed
// columns; bench/make_workbooks.py writes it). ODBCSYSINI defaults to the
// build tree's etc/ so that the driver manager finds the built driver.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
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

struct Statement {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    explicit Statement(const Connection& c) { SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &handle); }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
};

std::string firstTable(const Connection& c) {
    Statement s(c);
    check(SQLTables(s.handle, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_HANDLE_STMT,
          s.handle, "tables");
    check(SQLFetch(s.handle), SQL_HANDLE_STMT, s.handle, "fetch table");
    SQLCHAR name[512] = {};
    SQLLEN ind = 0;
    SQLGetData(s.handle, 3, SQL_C_CHAR, name, sizeof name, &ind);
    return reinterpret_cast<char*>(name);
}

struct Run {
    double executeMs = 0;
    double fetchMs = 0;
    size_t rows = 0;
    SQLUSMALLINT columns = 0;
    size_t checksum = 0;  // keeps the reads from being optimised away
};

void execute(Statement& s, const std::string& table, Run& run) {
    const std::string sql = "SELECT * FROM [" + table + "]";
    const auto start = Clock::now();
    check(SQLExecDirect(s.handle, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                        SQL_NTS),
          SQL_HANDLE_STMT, s.handle, "execute");
    SQLSMALLINT columns = 0;
    SQLNumResultCols(s.handle, &columns);
    run.columns = static_cast<SQLUSMALLINT>(columns);
    // Describing the columns is part of opening a result for every client.
    for (SQLUSMALLINT c = 1; c <= columns; ++c) {
        SQLWCHAR name[256];
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeColW(s.handle, c, name, 256, &length, &type, &size, &digits, &nullable);
    }
    run.executeMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Run getDataRun(const Connection& c, const std::string& table) {
    Statement s(c);
    Run run;
    execute(s, table, run);
    std::vector<SQLWCHAR> buffer(4096);
    const auto start = Clock::now();
    while (SQLFetch(s.handle) == SQL_SUCCESS) {
        ++run.rows;
        for (SQLUSMALLINT col = 1; col <= run.columns; ++col) {
            SQLLEN ind = 0;
            SQLGetData(s.handle, col, SQL_C_WCHAR, buffer.data(),
                       static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &ind);
            run.checksum += ind == SQL_NULL_DATA ? 0 : static_cast<size_t>(ind);
        }
    }
    run.fetchMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return run;
}

Run blockRun(const Connection& c, const std::string& table, SQLULEN rowsetSize) {
    Statement s(c);
    Run run;
    SQLULEN fetched = 0;
    SQLSetStmtAttr(s.handle, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rowsetSize), 0);
    SQLSetStmtAttr(s.handle, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    execute(s, table, run);
    std::vector<std::vector<SQLWCHAR>> data(run.columns);
    std::vector<std::vector<SQLLEN>> ind(run.columns, std::vector<SQLLEN>(rowsetSize));
    std::vector<SQLLEN> width(run.columns);
    for (SQLUSMALLINT col = 1; col <= run.columns; ++col) {
        SQLULEN size = 0;
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLDescribeColW(s.handle, col, nullptr, 0, &length, &type, &size, &digits, &nullable);
        width[col - 1] =
            static_cast<SQLLEN>((std::min<SQLULEN>(size, 4095) + 1) * sizeof(SQLWCHAR));
        data[col - 1].resize(static_cast<size_t>(width[col - 1]) / sizeof(SQLWCHAR) * rowsetSize);
        SQLBindCol(s.handle, col, SQL_C_WCHAR, data[col - 1].data(), width[col - 1],
                   ind[col - 1].data());
    }
    const auto start = Clock::now();
    while (SQL_SUCCEEDED(SQLFetch(s.handle))) {
        run.rows += fetched;
        for (size_t col = 0; col < run.columns; ++col) {
            run.checksum += static_cast<size_t>(std::max<SQLLEN>(ind[col][0], 0));
        }
    }
    run.fetchMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return run;
}

void report(const char* name, const Run& best) {
    const double fields = static_cast<double>(best.rows * best.columns);
    std::printf(
        "%-34s open %7.1f ms  fetch %7.1f ms  %9.0f rows/s  %6.1f ns/field  (%zu rows x %zu "
        "cols)\n",
        name, best.executeMs, best.fetchMs,
        static_cast<double>(best.rows) / (best.fetchMs / 1000.0), best.fetchMs * 1e6 / fields,
        best.rows, static_cast<size_t>(best.columns));
}

template <typename F>
Run bestOf(int times, F&& f) {
    Run best = f();
    for (int i = 1; i < times; ++i) {
        const Run r = f();
        if (r.fetchMs < best.fetchMs) {
            best = r;
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("ODBCSYSINI", TABROOK_BUILD_ETC, 0);
    const std::string workbook =
        argc > 1 ? argv[1] : std::string(TABROOK_BENCH_DIR) + "/cache/wide.xls";
    if (argc < 2 && access(workbook.c_str(), R_OK) != 0) {
        std::fprintf(stderr,
                     "xlsodbc_bench: %s is missing; write it with /usr/bin/python3 "
                     "bench/make_workbooks.py\n",
                     workbook.c_str());
        return 1;
    }
    try {
        const Connection c(workbook);
        const std::string table = argc > 2 ? argv[2] : firstTable(c);
        std::printf("%s [%s] through unixODBC\n", workbook.c_str(), table.c_str());
        report("SQLFetch + SQLGetData(WCHAR)", bestOf(3, [&] { return getDataRun(c, table); }));
        for (const SQLULEN rowset : {1UL, 64UL, 1024UL}) {
            const std::string name = "block fetch, WCHAR, rowset " + std::to_string(rowset);
            report(name.c_str(), bestOf(3, [&] { return blockRun(c, table, rowset); }));
        }
        for (const char* settings : {";Values=Displayed", ";Types=Detected"}) {
            const Connection other(workbook, settings);
            const std::string name = std::string("SQLGetData(WCHAR), ") + (settings + 1);
            report(name.c_str(), bestOf(3, [&] { return getDataRun(other, table); }));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "xlsodbc_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
