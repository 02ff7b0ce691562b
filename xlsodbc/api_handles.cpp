// SQLAllocHandle, SQLFreeHandle, SQLFreeStmt and the environment's
// attributes. Handles given to the application are created here and
// destroyed by SQLFreeHandle (or, for statements, by SQLDisconnect).
#include "xlsodbc/api.h"
#include "xlsodbc/attributes.h"

#include <memory>

namespace xlsodbc {
namespace {

SQLRETURN allocEnvironment(SQLHANDLE* output) noexcept {
    if (output == nullptr) {
        return SQL_ERROR;
    }
    *output = SQL_NULL_HENV;
    try {
        // An environment's slot has no owner: freeing the environment frees it.
        auto slot = std::make_unique<HandleSlot>();
        slot->handle = std::make_unique<Environment>();
        slot->tag = HandleTag::Environment;
        *output = toHandle(*slot.release());
        return SQL_SUCCESS;
    } catch (...) {
        return SQL_ERROR;
    }
}

SQLRETURN allocConnection(SQLHANDLE env, SQLHANDLE* output) noexcept {
    return guard<Environment>(env, [&](Environment& e) {
        if (output == nullptr) {
            throw DriverError(State::InvalidNullPointer,
                              "No place for the new connection handle was given");
        }
        *output =
            toHandle(e.connections.add(HandleTag::Connection, std::make_unique<Connection>(e)));
        return SQL_SUCCESS;
    });
}

SQLRETURN allocStatement(SQLHANDLE dbc, SQLHANDLE* output) noexcept {
    return guard<Connection>(dbc, [&](Connection& c) {
        if (output == nullptr) {
            throw DriverError(State::InvalidNullPointer,
                              "No place for the new statement handle was given");
        }
        if (!c.connected()) {
            throw DriverError(State::NotConnected, "The connection is not open");
        }
        *output = toHandle(c.addStatement());
        return SQL_SUCCESS;
    });
}

// The handle is freed only after its own call lock is let go: a mutex must
// not be destroyed while it is held.
SQLRETURN freeEnvironment(SQLHANDLE handle) noexcept {
    const SQLRETURN rc = guard<Environment>(handle, [](Environment& e) {
        if (e.connections.anyInUse()) {
            throw DriverError(State::SequenceError,
                              "The environment still has connections; free them first");
        }
        return SQL_SUCCESS;
    });
    if (rc == SQL_SUCCESS) {
        const std::unique_ptr<HandleSlot> slot(slotOf(handle));
        slot->tag = HandleTag::Free;
    }
    return rc;
}

SQLRETURN freeConnection(SQLHANDLE handle) noexcept {
    Environment* env = nullptr;
    const SQLRETURN rc = guard<Connection>(handle, [&](Connection& c) {
        if (c.connected()) {
            throw DriverError(State::SequenceError,
                              "The connection is still open; disconnect it first");
        }
        env = &c.environment;
        return SQL_SUCCESS;
    });
    if (rc == SQL_SUCCESS) {
        env->connections.release(*slotOf(handle));
    }
    return rc;
}

SQLRETURN freeStatement(SQLHANDLE handle) noexcept {
    Statement* stmt = asStatement(handle);
    if (stmt == nullptr) {
        return SQL_INVALID_HANDLE;
    }
    stmt->connection.statements.release(*slotOf(handle));
    return SQL_SUCCESS;
}

}  // namespace

SQLRETURN allocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) noexcept {
    switch (type) {
        case SQL_HANDLE_ENV:
            return allocEnvironment(output);
        case SQL_HANDLE_DBC:
            return allocConnection(input, output);
        case SQL_HANDLE_STMT:
            return allocStatement(input, output);
        default:
            // Descriptors are the driver manager's business for this driver.
            return guard<Connection>(input, [](Connection&) -> SQLRETURN {
                throw DriverError(State::NotImplemented,
                                  "Explicit descriptor handles are not supported");
            });
    }
}

SQLRETURN freeHandle(SQLSMALLINT type, SQLHANDLE handle) noexcept {
    switch (type) {
        case SQL_HANDLE_ENV:
            return freeEnvironment(handle);
        case SQL_HANDLE_DBC:
            return freeConnection(handle);
        case SQL_HANDLE_STMT:
            return freeStatement(handle);
        default:
            return SQL_INVALID_HANDLE;
    }
}

SQLRETURN freeStmt(SQLHSTMT stmt, SQLUSMALLINT option) noexcept {
    if (option == SQL_DROP) {
        return freeHandle(SQL_HANDLE_STMT, stmt);
    }
    return guard<Statement>(stmt, [&](Statement& s) {
        switch (option) {
            case SQL_CLOSE:
                s.closeCursor();
                break;
            case SQL_UNBIND:
                s.bindings.clear();
                break;
            case SQL_RESET_PARAMS:
                s.parameters.clear();
                break;
            default:
                throw DriverError(State::InvalidAttributeValue, "Unknown SQLFreeStmt option");
        }
        return SQL_SUCCESS;
    });
}

namespace {

constexpr AttributeType kInteger = AttributeType::Integer;

void writeOdbcVersion(Environment& e, SQLULEN value, const Attribute<Environment>& /*a*/) {
    if (value != SQL_OV_ODBC2 && value != SQL_OV_ODBC3 && value != SQL_OV_ODBC3_80) {
        throw DriverError(State::InvalidAttributeValue, "Unknown ODBC version");
    }
    e.odbcVersion = static_cast<SQLINTEGER>(value);
}

// Pooling is the driver manager's.
constexpr Attribute<Environment> kEntries[] = {
    stored<&Environment::odbcVersion>(SQL_ATTR_ODBC_VERSION, kInteger, writeOdbcVersion),
    accepted<Environment>(SQL_ATTR_CONNECTION_POOLING, kInteger, SQL_CP_OFF),
    accepted<Environment>(SQL_ATTR_CP_MATCH, kInteger, SQL_CP_STRICT_MATCH),
    onlyValue<Environment>(SQL_ATTR_OUTPUT_NTS, kInteger, SQL_TRUE,
                           "Texts are always returned with a terminating null"),
};

constexpr AttributeTable<Environment> kEnvironmentAttributes{"environment", kEntries};

}  // namespace

SQLRETURN setEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                     SQLINTEGER /*length*/) noexcept {
    return guard<Environment>(env, [&](Environment& e) {
        return setAttribute(e, kEnvironmentAttributes, attribute, value);
    });
}

SQLRETURN getEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                     SQLINTEGER* length) noexcept {
    return guard<Environment>(env, [&](Environment& e) {
        return getAttribute(e, kEnvironmentAttributes, attribute, value, capacity, length);
    });
}

}  // namespace xlsodbc
