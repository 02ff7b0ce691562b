// Connecting (SQLDriverConnect, SQLConnect with a DSN that carries DBQ),
// disconnecting, connection attributes and transactions. The workbook is
// opened and checked at connect time so that a bad file fails the
// connection; nothing is ever written.
#include "xlsodbc/api.h"
#include "xlsodbc/attributes.h"
#include "xlsodbc/connection_string.h"
#include "xlsodbc/engine_bridge.h"

#include "sql/rewriter.h"

namespace xlsodbc {
namespace {

void open(Connection& c, const Attributes& attributes, std::u16string connectionString) {
    if (c.connected()) {
        throw DriverError(State::ConnectionInUse, "The connection is already open");
    }
    const ConnectSettings settings = resolveSettings(attributes);
    c.workbook = openWorkbook(settings.workbook, {settings.values, settings.detectTypes});
    c.path = settings.workbook;
    c.firstRowHasNames = settings.firstRowHasNames;
    c.sheetsAsTables = settings.sheetsAsTables;
    c.connectionString = std::move(connectionString);
    const std::u16string dsn = findAttribute(attributes, u"DSN").value_or(u"");
    c.dataSource = dsn == u"''" || dsn == u"\"\"" ? std::u16string() : dsn;
}

void checkCompletion(SQLSMALLINT completion) {
    if (completion != SQL_COMMIT && completion != SQL_ROLLBACK) {
        throw DriverError(State::InvalidTransactionCode,
                          "The completion type " + std::to_string(completion) +
                              " is neither SQL_COMMIT nor SQL_ROLLBACK");
    }
}

}  // namespace

SQLRETURN driverConnect(SQLHDBC dbc, const TextArg& in, const TextBuffer& out,
                        SQLSMALLINT* outLength, SQLUSMALLINT /*completion*/) noexcept {
    // The driver cannot prompt: every completion mode connects with what
    // the string (and its DSN) gives, or fails.
    return guard<Connection>(dbc, [&](Connection& c) {
        if (out.capacity < 0) {
            throw DriverError(State::InvalidLength, "The output buffer length is negative");
        }
        const std::u16string text = in.str();
        open(c, parseConnectionString(text), text);
        const Written w = writeText(text, out);
        if (!storeLength(outLength, w.length) || w.truncated) {
            c.diagnostics.add(State::Truncated,
                              "The completed connection string was cut to fit its buffer");
        }
        return SQL_SUCCESS;
    });
}

SQLRETURN connect(SQLHDBC dbc, const TextArg& dsn) noexcept {
    return guard<Connection>(dbc, [&](Connection& c) {
        const std::u16string name = dsn.str();
        open(c, Attributes{{u"DSN", name}}, u"DSN=" + name);
        return SQL_SUCCESS;
    });
}

SQLRETURN disconnect(SQLHDBC dbc) noexcept {
    return guard<Connection>(dbc, [](Connection& c) {
        if (!c.connected()) {
            throw DriverError(State::NotConnected, "The connection is not open");
        }
        c.disconnect();
        return SQL_SUCCESS;
    });
}

namespace {

constexpr AttributeType kInteger = AttributeType::Integer;
constexpr AttributeType kPointer = AttributeType::Pointer;
constexpr AttributeType kText = AttributeType::Text;

SQLULEN readConnectionDead(const Connection& c, const Attribute<Connection>& /*a*/) {
    return c.connected() ? SQL_CD_FALSE : SQL_CD_TRUE;
}

std::u16string readCatalog(const Connection& c) {
    return utf8ToUtf16(c.path.string());
}

// The timeouts and the isolation level are kept so that the application
// reads back what it set; the source is read-only whatever the access mode
// says, and pyodbc switches autocommit off at connect: on a read-only
// source both settings mean the same.
constexpr Attribute<Connection> kEntries[] = {
    stored<&Connection::autocommit>(SQL_ATTR_AUTOCOMMIT, kInteger),
    fixed<Connection>(SQL_ATTR_ACCESS_MODE, kInteger, SQL_MODE_READ_ONLY,
                      "The workbook is always read-only"),
    stored<&Connection::loginTimeout>(SQL_ATTR_LOGIN_TIMEOUT, kInteger),
    stored<&Connection::connectionTimeout>(SQL_ATTR_CONNECTION_TIMEOUT, kInteger),
    stored<&Connection::txnIsolation>(SQL_ATTR_TXN_ISOLATION, kInteger),
    setOnly<Connection>(SQL_ATTR_QUIET_MODE, kPointer),
    setOnly<Connection>(SQL_ATTR_PACKET_SIZE, kInteger),
    accepted<Connection>(SQL_ATTR_METADATA_ID, kInteger, SQL_FALSE),
    computed<Connection>(SQL_ATTR_CONNECTION_DEAD, kInteger, readConnectionDead),
    reportedText<Connection>(SQL_ATTR_CURRENT_CATALOG, readCatalog,
                             "The catalog name was cut to fit its buffer"),
    // Tracing, translation, cursor libraries and pooling are the driver
    // manager's; the driver takes part in no distributed transaction.
    unsupported<Connection>(SQL_ATTR_TRACE, kInteger),
    unsupported<Connection>(SQL_ATTR_TRACEFILE, kText),
    unsupported<Connection>(SQL_ATTR_TRANSLATE_LIB, kText),
    unsupported<Connection>(SQL_ATTR_TRANSLATE_OPTION, kInteger),
    unsupported<Connection>(SQL_ATTR_ODBC_CURSORS, kInteger),
    unsupported<Connection>(SQL_ATTR_DISCONNECT_BEHAVIOR, kInteger),
    unsupported<Connection>(SQL_ATTR_ANSI_APP, kInteger),
    unsupported<Connection>(SQL_ATTR_RESET_CONNECTION, kInteger),
    unsupported<Connection>(SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE, kInteger),
    unsupported<Connection>(SQL_ATTR_ENLIST_IN_DTC, kPointer),
    unsupported<Connection>(SQL_ATTR_ENLIST_IN_XA, kPointer),
    unsupported<Connection>(SQL_ATTR_AUTO_IPD, kInteger, true),
};

// ODBC 2 applications set statement attributes on the connection.
constexpr AttributeTable<Connection> kConnectionAttributes{"connection", kEntries,
                                                           isStatementAttribute};

}  // namespace

SQLRETURN setConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER /*length*/,
                         Encoding /*enc*/) noexcept {
    return guard<Connection>(dbc, [&](Connection& c) {
        return setAttribute(c, kConnectionAttributes, attribute, value);
    });
}

SQLRETURN getConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                         SQLINTEGER* length, Encoding enc) noexcept {
    return guard<Connection>(dbc, [&](Connection& c) {
        return getAttribute(c, kConnectionAttributes, attribute, value, capacity, length, enc);
    });
}

SQLRETURN endTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) noexcept {
    // Nothing is ever written, so commit and rollback have nothing to do;
    // what is checked is what the application asked for.
    switch (type) {
        case SQL_HANDLE_ENV:
            return guard<Environment>(handle, [&](Environment&) {
                checkCompletion(completion);
                return SQL_SUCCESS;
            });
        case SQL_HANDLE_DBC:
            return guard<Connection>(handle, [&](Connection& c) {
                if (!c.connected()) {
                    throw DriverError(State::NotConnected, "The connection is not open");
                }
                checkCompletion(completion);
                return SQL_SUCCESS;
            });
        case SQL_HANDLE_STMT:
            // A statement has no transaction of its own: refused on the
            // statement, where the application reads why. A handle of
            // another kind passed as a statement is no statement handle.
            return guard<Statement>(handle, [](Statement&) -> SQLRETURN {
                throw DriverError(State::InvalidAttribute,
                                  "Transactions end on an environment or a connection, not on a "
                                  "statement");
            });
        default:
            return SQL_INVALID_HANDLE;
    }
}

SQLRETURN nativeSql(SQLHDBC dbc, const TextArg& in, const TextBuffer& out,
                    SQLINTEGER* outLength) noexcept {
    // The native form is the text the engine runs: the statement with its
    // escapes and the dialect's forms translated.
    return guard<Connection>(dbc, [&](Connection& c) {
        if (in.isNull()) {
            throw DriverError(State::InvalidNullPointer, "No statement text was given");
        }
        std::u16string native;
        try {
            native = sql::rewrite(in.str(), utf8ToUtf16(c.path.string()));
        } catch (const sql::Error& e) {
            rethrowEngineError(e, in.str());
        }
        const Written w = writeText(native, out);
        storeLength(outLength, w.length);
        if (w.truncated) {
            c.diagnostics.add(State::Truncated, "The statement text was cut to fit its buffer");
        }
        return SQL_SUCCESS;
    });
}

}  // namespace xlsodbc
