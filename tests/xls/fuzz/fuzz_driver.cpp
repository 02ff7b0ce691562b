// Fuzz target: the ODBC driver end to end through its own entry points, as
// a client uses it: connect to the input as a workbook, list the tables,
// and read every table whole (column names and sizes, every field in short
// pieces). The workbook is an anonymous in-memory file named by its
// /proc/self/fd path, so no file is left behind.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::u16string wide(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

SQLWCHAR* w(std::u16string& s) {
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

std::vector<std::u16string> tableNames(SQLHDBC dbc) {
    std::vector<std::u16string> names;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
        return names;
    }
    if (SQL_SUCCEEDED(SQLTablesW(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0))) {
        std::u16string name(1024, u'\0');
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            SQLLEN len = 0;
            if (SQL_SUCCEEDED(SQLGetData(stmt, 3, SQL_C_WCHAR, name.data(),
                                         static_cast<SQLLEN>(name.size() * 2), &len)) &&
                len >= 0 && static_cast<size_t>(len) / 2 < name.size()) {
                names.emplace_back(name.data(), static_cast<size_t>(len) / 2);
            }
        }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return names;
}

void readTable(SQLHDBC dbc, const std::u16string& table) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
        return;
    }
    std::u16string sql = u"SELECT * FROM [" + table + u"]";
    if (SQL_SUCCEEDED(SQLExecDirectW(stmt, w(sql), static_cast<SQLINTEGER>(sql.size())))) {
        SQLSMALLINT cols = 0;
        SQLNumResultCols(stmt, &cols);
        SQLWCHAR name[64];
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(cols); ++c) {
            SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN colSize = 0;
            SQLDescribeColW(stmt, c, name, 64, &nameLen, &type, &colSize, &digits, &nullable);
        }
        // A few values can span a result of millions of fields (a cell in
        // the first and one in the last row and column); reading them all
        // is the client's cost, not the driver's, so a run reads a sample.
        size_t budget = 100000;
        char piece[16];
        while (budget > 0 && SQL_SUCCEEDED(SQLFetch(stmt))) {
            for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(cols) && budget > 0;
                 ++c, --budget) {
                SQLLEN len = 0;
                while (SQLGetData(stmt, c, SQL_C_WCHAR, piece, sizeof piece, &len) ==
                       SQL_SUCCESS_WITH_INFO) {
                }
            }
        }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("fuzz_driver.xls", 0);
    if (fd < 0) {
        return 0;
    }
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
        SQLHENV env = SQL_NULL_HENV;
        SQLHDBC dbc = SQL_NULL_HDBC;
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::u16string connect = wide("DBQ=/proc/self/fd/" + std::to_string(fd));
        if (SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, w(connect),
                                            static_cast<SQLSMALLINT>(connect.size()), nullptr, 0,
                                            nullptr, SQL_DRIVER_NOPROMPT))) {
            for (const std::u16string& table : tableNames(dbc)) {
                readTable(dbc, table);
            }
            SQLDisconnect(dbc);
        }
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    close(fd);
    return 0;
}
