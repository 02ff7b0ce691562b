// The driver's handle classes. A handle crossing the C ABI is the address of
// a HandleSlot, which holds the handle and a tag saying what kind it is, so
// that a stray pointer of the wrong kind is refused with SQL_INVALID_HANDLE.
// An environment owns the slots of its connections, a connection those of
// its statements (SQLDisconnect frees them): a slot outlives the handle
// freed in it for as long as its owner lives, so a freed statement or
// connection handle is refused too instead of being read from freed memory,
// and later allocations reuse the slot. Nothing is shared between
// connections, so different connections run on different threads at once;
// every call locks the handle it is made on, and the lists of slots have
// their own locks, so one handle may also be used from several threads.
#pragma once

#include "xlsodbc/conversion.h"
#include "xlsodbc/diagnostics.h"
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

enum class HandleTag : uint32_t {
    Free = 0,
    Environment = 0x56454e56,
    Connection = 0x5644424b,
    Statement = 0x56535454
};

class Handle {
public:
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    virtual ~Handle() = default;

    Diagnostics diagnostics;
    // Held for the length of each call on the handle (and while its
    // diagnostics are read): a driver manager with threading off, or an
    // application linked to the driver, may call on one handle from two
    // threads at once.
    std::mutex mutex;
    // The ODBC version the application declared (ODBC 2 states and
    // catalogue column names for SQL_OV_ODBC2).
    [[nodiscard]] virtual bool odbc2() const = 0;
};

// What the application holds for a handle (see above).
struct HandleSlot {
    HandleTag tag = HandleTag::Free;
    std::unique_ptr<Handle> handle;
};

// The slots of one owner's handles, behind their own lock: two threads may
// allocate and free statements of one connection (or connections of one
// environment) at once.
class SlotList {
public:
    // Puts the handle in a free slot (or a new one) and returns the slot.
    HandleSlot& add(HandleTag tag, std::unique_ptr<Handle> handle);
    // Frees the handle of `slot`; the slot stays for reuse. The handle is
    // destroyed after the lock is let go.
    void release(HandleSlot& slot) noexcept;
    void releaseAll() noexcept;
    [[nodiscard]] bool anyInUse();

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<HandleSlot>> m_slots;
};

class Environment final : public Handle {
public:
    [[nodiscard]] bool odbc2() const override { return odbcVersion == SQL_OV_ODBC2; }
    SQLINTEGER odbcVersion = SQL_OV_ODBC3;
    SlotList connections;
};

class Connection final : public Handle {
public:
    explicit Connection(Environment& env) : environment(env) {}
    ~Connection() override;
    [[nodiscard]] bool odbc2() const override { return environment.odbc2(); }
    [[nodiscard]] bool connected() const { return workbook != nullptr; }

    // The slot of a new statement of this connection.
    HandleSlot& addStatement();
    void disconnect();
    SlotList statements;

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
    std::unique_ptr<sql::TableResolver> tables;
    std::unique_ptr<sql::Engine> sqlEngine;
    std::mutex engineMutex;  // statements on several threads start it once
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
    explicit Statement(Connection& conn) : connection(conn) {}
    [[nodiscard]] bool odbc2() const override { return connection.odbc2(); }

    void closeCursor();

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
};

// The slot of a handle given to the application.
inline SQLHANDLE toHandle(HandleSlot& slot) {
    return static_cast<SQLHANDLE>(&slot);
}
inline HandleSlot* slotOf(SQLHANDLE handle) {
    return static_cast<HandleSlot*>(handle);
}

// Handle checks: nullptr when the pointer is not a live handle of the kind.
Environment* asEnvironment(SQLHANDLE handle);
Connection* asConnection(SQLHANDLE handle);
Statement* asStatement(SQLHANDLE handle);

}  // namespace xlsodbc
