// The driver's handle classes. A handle crossing the C ABI is a pointer to
// one of these; each carries a tag so that a stray pointer of the wrong
// kind is refused with SQL_INVALID_HANDLE. A connection owns its
// statements (SQLDisconnect frees them); nothing is shared between
// connections, so different connections may run on different threads.
#pragma once

#include "xlsodbc/conversion.h"
#include "xlsodbc/diagnostics.h"
#include "xlsodbc/odbc.h"
#include "xlsodbc/provider.h"
#include "xlsodbc/result_set.h"
#include "xlsodbc/statement_parser.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xlsodbc {

enum class HandleTag : uint32_t {
    Environment = 0x56454e56,
    Connection = 0x5644424b,
    Statement = 0x56535454
};

class Handle {
public:
    explicit Handle(HandleTag tag) : m_tag(tag) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    virtual ~Handle() { m_tag = HandleTag{0}; }

    [[nodiscard]] HandleTag tag() const { return m_tag; }
    Diagnostics diagnostics;
    // The ODBC version the application declared (ODBC 2 states and
    // catalogue column names for SQL_OV_ODBC2).
    [[nodiscard]] virtual bool odbc2() const = 0;

private:
    HandleTag m_tag;
};

class Environment final : public Handle {
public:
    Environment() : Handle(HandleTag::Environment) {}
    [[nodiscard]] bool odbc2() const override { return odbcVersion == SQL_OV_ODBC2; }
    SQLINTEGER odbcVersion = SQL_OV_ODBC3;
};

class Statement;

class Connection final : public Handle {
public:
    explicit Connection(Environment& env) : Handle(HandleTag::Connection), environment(env) {}
    ~Connection() override;
    [[nodiscard]] bool odbc2() const override { return environment.odbc2(); }
    [[nodiscard]] bool connected() const { return workbook != nullptr; }

    Statement& addStatement();
    void removeStatement(Statement& statement);
    void disconnect();

    Environment& environment;
    std::unique_ptr<WorkbookSource> workbook;
    std::filesystem::path path;
    bool firstRowHasNames = true;
    std::u16string connectionString;
    // Attributes an application may set; kept so that it reads back what
    // it set. The source is read-only whatever the access mode says.
    SQLUINTEGER autocommit = SQL_AUTOCOMMIT_ON;
    SQLUINTEGER loginTimeout = 0;
    SQLUINTEGER connectionTimeout = 0;
    SQLUINTEGER txnIsolation = 0;

private:
    std::vector<std::unique_ptr<Statement>> m_statements;
};

// One bound column (SQLBindCol).
struct Binding {
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLPOINTER data = nullptr;
    SQLLEN capacity = 0;
    SQLLEN* indicator = nullptr;
};

class Statement final : public Handle {
public:
    explicit Statement(Connection& conn) : Handle(HandleTag::Statement), connection(conn) {}
    [[nodiscard]] bool odbc2() const override { return connection.odbc2(); }

    void closeCursor();

    Connection& connection;
    // The prepared or executed result; the cursor is open while `executed`.
    std::unique_ptr<ResultSet> result;
    bool executed = false;
    // Index of the next row SQLFetch reads; the current row is the first of
    // the last rowset fetched.
    uint32_t nextRow = 0;
    std::optional<uint32_t> currentRow;
    uint32_t rowsetSize = 0;  // rows in the last rowset fetched

    std::vector<Binding> bindings;  // by column number - 1
    // Statement attributes.
    SQLULEN rowArraySize = 1;
    SQLULEN* rowsFetched = nullptr;
    SQLUSMALLINT* rowStatus = nullptr;
    SQLULEN bindType = SQL_BIND_BY_COLUMN;
    SQLLEN* bindOffset = nullptr;
    SQLULEN maxRows = 0;
    SQLULEN maxLength = 0;
    SQLULEN queryTimeout = 0;
    SQLULEN noScan = SQL_NOSCAN_OFF;
    SQLULEN retrieveData = SQL_RD_ON;

    // SQLGetData's progress in the current row.
    int getDataColumn = -1;
    Piece piece;
    std::string scratch;
};

// Handle checks: nullptr when the pointer is not a live handle of the kind.
Environment* asEnvironment(SQLHANDLE handle);
Connection* asConnection(SQLHANDLE handle);
Statement* asStatement(SQLHANDLE handle);

}  // namespace xlsodbc
