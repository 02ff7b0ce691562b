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
#include "odbc_bench.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using bench::check;
using bench::Clock;
using bench::Connection;

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
    run.executeMs = bench::millisecondsSince(start);
}

Run getDataRun(const Connection& c, const std::string& table) {
    Statement s(c);
    Run run;
    execute(s, table, run);
    const auto start = Clock::now();
    run.rows = bench::readEveryField(s.handle, run.columns, run.checksum);
    run.fetchMs = bench::millisecondsSince(start);
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
    run.fetchMs = bench::millisecondsSince(start);
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
    const auto argument = bench::workbookArgument(argc, argv, "xlsodbc_bench");
    if (!argument) {
        return 1;
    }
    const std::string& workbook = *argument;
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
