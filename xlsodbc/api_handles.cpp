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
        auto env = std::make_shared<Environment>();
        registry::add(env);
        *output = toHandle(*env);
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
        auto connection = std::make_shared<Connection>(
            std::static_pointer_cast<Environment>(e.shared_from_this()));
        registry::add(connection);
        ++e.connections;
        *output = toHandle(*connection);
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

// Freeing takes the handle out of the registry under its own lock and marks
// it freed; the object goes when the last call that holds it ends.
SQLRETURN freeEnvironment(SQLHANDLE handle) noexcept {
    return guard<Environment>(handle, [](Environment& e) {
        if (e.connections > 0) {
            throw DriverError(State::SequenceError,
                              "The environment still has connections; free them first");
        }
        registry::remove(e);
        e.freed = true;
        return SQL_SUCCESS;
    });
}

SQLRETURN freeConnection(SQLHANDLE handle) noexcept {
    return guard<Connection>(handle, [](Connection& c) {
        if (c.connected()) {
            throw DriverError(State::SequenceError,
                              "The connection is still open; disconnect it first");
        }
        registry::remove(c);
        c.freed = true;
        --c.environment.connections;
        return SQL_SUCCESS;
    });
}

SQLRETURN freeStatement(SQLHANDLE handle) noexcept {
    return guard<Statement>(handle, [](Statement& s) {
        // A disconnect on another thread may have taken it out of the
        // registry since it was found: it is freed all the same.
        registry::remove(s);
        s.release();
        s.connection.dropStatement(s);
        return SQL_SUCCESS;
    });
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
