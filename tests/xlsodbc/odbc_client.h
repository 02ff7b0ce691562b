// A small ODBC client for the driver's tests: RAII handles, wide and narrow
// helpers, and the diagnostic records of a handle. The same compiled test
// sources are linked twice: to the driver library itself (its functions
// called directly) and to unixODBC's driver manager, which loads the built
// driver through the test-only odbcinst.ini (ODBCSYSINI).
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace xlsodbc_test {

// True in the program that calls the driver's functions directly, false in
// the one with the driver manager in front (level.cpp).
extern const bool kDirect;

std::u16string u(const std::string& utf8);
std::string utf8(const std::u16string& text);

struct Diag {
    std::string state;
    std::string message;
};

std::vector<Diag> diagnostics(SQLSMALLINT type, SQLHANDLE handle);
std::string describe(SQLSMALLINT type, SQLHANDLE handle);

// An environment of the given ODBC version (SQL_OV_ODBC3 or SQL_OV_ODBC2).
class Env {
public:
    explicit Env(SQLINTEGER version);
    ~Env();
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;
    SQLHENV handle = SQL_NULL_HENV;
};

class Conn {
public:
    explicit Conn(Env& env);
    ~Conn();
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;
    // SQLDriverConnectW with the string as given.
    SQLRETURN connect(const std::string& connectionString);
    SQLRETURN connectDsn(const std::string& dsn);
    [[nodiscard]] std::vector<Diag> diags() const { return diagnostics(SQL_HANDLE_DBC, handle); }
    SQLHDBC handle = SQL_NULL_HDBC;
    bool connected = false;
};

class Stmt {
public:
    explicit Stmt(Conn& conn);
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    SQLRETURN exec(const std::string& statement);
    [[nodiscard]] std::vector<Diag> diags() const { return diagnostics(SQL_HANDLE_STMT, handle); }
    // Column names by SQLDescribeColW.
    std::vector<std::string> columnNames();
    // Every row, every field read with SQLGetData(SQL_C_WCHAR) in pieces
    // of `piece` bytes; nullopt for NULL.
    std::vector<std::vector<std::optional<std::string>>> rows(SQLLEN piece = 4096);
    SQLHSTMT handle = SQL_NULL_HSTMT;
};

// The path of a fixture workbook.
std::string fixture(const std::string& name);
// "DRIVER={Velkor Excel Driver (*.xls)};DBQ=<fixture>"
std::string connectionString(const std::string& workbook, const std::string& extra = "");

using Table = std::vector<std::vector<std::optional<std::string>>>;

}  // namespace xlsodbc_test
