// The driver's handle classes. A handle crossing the C ABI is the address
// of its Handle, and every live handle is listed by that address in the
// handle registry: a call finds its handle there, by address and kind,
// before it reads anything through the pointer, so a freed handle, a handle
// of another kind or a stray pointer is refused with SQL_INVALID_HANDLE
// without touching memory that may be gone. The registry shares ownership
// of each handle with the calls in progress on it: a handle freed while
// another thread is in a call on it lives until that call ends, and the
// call, which takes the handle's lock, then finds it marked freed.
// Nothing else is shared between connections, so different connections run
// on different threads at once; every call locks the handle it is made on,
// so one handle may also be used from several threads.
#pragma once

#include "xlsodbc/conversion.h"
#include "xlsodbc/diagnostics.h"
#include "xlsodbc/engine_bridge.h"
#include "xlsodbc/odbc.h"
#include "xlsodbc/provider.h"
#include "xlsodbc/result_set.h"
#include "xlsodbc/statement_parser.h"

#include "sql/engine.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace xlsodbc {

enum class HandleKind : uint8_t { Environment, Connection, Statement };

class Handle : public std::enable_shared_from_this<Handle> {
public:
    explicit Handle(HandleKind handleKind) : kind(handleKind) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    virtual ~Handle() = default;

    const HandleKind kind;
    Diagnostics diagnostics;
    // Held for the length of each call on the handle (and while its
    // diagnostics are read): a driver manager with threading off, or an
    // application linked to the driver, may call on one handle from two
    // threads at once.
    std::mutex mutex;
    // Set under `mutex` when the handle is freed: a call that found the
    // handle just before sees it once it holds the lock, and does nothing.
    bool freed = false;
    // The ODBC version the application declared (ODBC 2 states and
    // catalogue column names for SQL_OV_ODBC2).
    [[nodiscard]] virtual bool odbc2() const = 0;
};

// The address the application holds for a handle.
inline SQLHANDLE toHandle(Handle& handle) {
    return static_cast<SQLHANDLE>(&handle);
}

// Every live handle by its address, in shards with a lock each, so that
// calls on different connections seldom wait for one another.
namespace registry {
// Lists a new handle; the registry owns it until it is taken out.
void add(const std::shared_ptr<Handle>& handle);
// The live handle of that kind at that address, shared with the caller for
// the length of its call; nullptr for anything else. Reads no memory
// through `address`.
std::shared_ptr<Handle> find(SQLHANDLE address, HandleKind kind);
// Takes the handle out (it is freed); false when it was not listed, as
// when another thread freed it first.
bool remove(const Handle& handle);
}  // namespace registry

class Environment final : public Handle {
public:
    Environment() : Handle(HandleKind::Environment) {}
    [[nodiscard]] bool odbc2() const override { return odbcVersion == SQL_OV_ODBC2; }
    SQLINTEGER odbcVersion = SQL_OV_ODBC3;
    // Connections allocated and not yet freed: an environment with any is
    // not freed.
    std::atomic<size_t> connections = 0;
};

class Statement;

class Connection final : public Handle {
public:
    explicit Connection(std::shared_ptr<Environment> env)
        : Handle(HandleKind::Connection), environment(*env), m_environment(std::move(env)) {}
    [[nodiscard]] bool odbc2() const override { return environment.odbc2(); }
    [[nodiscard]] bool connected() const { return workbook != nullptr; }

    // A new statement of this connection, listed in the registry.
    Statement& addStatement();
    // Forgets a statement that was freed.
    void dropStatement(const Statement& statement);
    // Frees the statements (waiting for calls in progress on them) and
    // closes the workbook. The caller holds the connection's lock.
    void disconnect();

    Environment& environment;
    std::unique_ptr<WorkbookSource> workbook;
    std::filesystem::path path;
    bool firstRowHasNames = true;
    bool sheetsAsTables = false;  // worksheets listed as "TABLE" (SheetsAsTables=1)
    std::u16string connectionString;
    std::u16string dataSource;  // the DSN named at connect time, empty for none
    // Attributes an application may set; kept so that it reads back what
    // it set. The source is read-only whatever the access mode says.
    SQLUINTEGER autocommit = SQL_AUTOCOMMIT_ON;
    SQLUINTEGER loginTimeout = 0;
    SQLUINTEGER connectionTimeout = 0;
    SQLUINTEGER txnIsolation = 0;

    // The SQL engine of statements other than SELECT * FROM <table>,
    // started on the first one; it reads the workbook through `tables`.
    sql::Engine& engine();
    std::unique_ptr<WorkbookTables> tables;
    std::unique_ptr<sql::Engine> sqlEngine;
    std::mutex engineMutex;  // statements on several threads start it once

private:
    std::shared_ptr<Environment> m_environment;  // outlives its connections
    std::mutex m_statementsMutex;
    std::vector<std::shared_ptr<Statement>> m_statements;
};

// One bound column (SQLBindCol).
struct Binding {
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLPOINTER data = nullptr;
    SQLLEN capacity = 0;
    SQLLEN* indicator = nullptr;
};

// One bound parameter (SQLBindParameter).
struct ParameterBinding {
    SQLSMALLINT cType = SQL_C_DEFAULT;
    SQLSMALLINT sqlType = SQL_WVARCHAR;
    SQLPOINTER data = nullptr;
    SQLLEN capacity = 0;
    SQLLEN* indicator = nullptr;
};

class Statement final : public Handle {
public:
    explicit Statement(std::shared_ptr<Connection> conn)
        : Handle(HandleKind::Statement), connection(*conn), m_connection(std::move(conn)) {}
    [[nodiscard]] bool odbc2() const override { return connection.odbc2(); }

    void closeCursor();
    // Marks the statement freed and lets go of its query and result, which
    // belong to the connection's engine and workbook. The caller holds the
    // statement's lock.
    void release();

    Connection& connection;
    // The prepared or executed result; the cursor is open while `executed`.
    std::unique_ptr<ResultSet> result;
    bool executed = false;
    // An engine statement: compiled once, run at each execution when it has
    // parameters (else its result is read when it is prepared).
    std::unique_ptr<sql::Query> query;
    std::vector<ParameterBinding> parameters;  // by parameter number - 1
    // Stops the engine statement running on this handle: SQLCancel from
    // another thread reaches it without the handle's lock.
    sql::Control control;
    std::atomic<bool> running{false};
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
    SQLULEN queryTimeout = 0;
    SQLULEN noScan = SQL_NOSCAN_OFF;
    SQLULEN retrieveData = SQL_RD_ON;  // SQL_RD_OFF: SQLFetch moves without filling bound columns
    // Attributes the application may set and read back that have nothing
    // to act on (parameter arrays, bookmarks, positioned operations).
    std::map<SQLINTEGER, SQLULEN> keptAttributes;

    // SQLGetData's progress in the current row.
    int getDataColumn = -1;
    Piece piece;
    std::string scratch;

private:
    std::shared_ptr<Connection> m_connection;  // outlives its statements
};

// Handle checks: the live handle of the kind at `handle`, shared for the
// length of a call; nullptr for anything else.
std::shared_ptr<Environment> asEnvironment(SQLHANDLE handle);
std::shared_ptr<Connection> asConnection(SQLHANDLE handle);
std::shared_ptr<Statement> asStatement(SQLHANDLE handle);

}  // namespace xlsodbc
