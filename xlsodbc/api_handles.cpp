// SQLAllocHandle, SQLFreeHandle, SQLFreeStmt and the environment's
// attributes. Handles given to the application are created here and
// destroyed by SQLFreeHandle (or, for statements, by SQLDisconnect).
#include "xlsodbc/api.h"

#include <memory>

namespace xlsodbc {
namespace {

SQLHANDLE toHandle(Handle& handle) {
    return static_cast<SQLHANDLE>(&handle);
}

SQLRETURN allocConnection(SQLHANDLE env, SQLHANDLE* output) {
    return guard<Environment>(env, [&](Environment& e) {
        if (output == nullptr) {
            throw DriverError(State::InvalidNullPointer,
                              "No place for the new connection handle was given");
        }
        *output = toHandle(*std::make_unique<Connection>(e).release());
        return SQL_SUCCESS;
    });
}

SQLRETURN allocStatement(SQLHANDLE dbc, SQLHANDLE* output) {
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

}  // namespace

SQLRETURN allocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    switch (type) {
        case SQL_HANDLE_ENV:
            if (output == nullptr) {
                return SQL_ERROR;
            }
            try {
                *output = toHandle(*std::make_unique<Environment>().release());
                return SQL_SUCCESS;
            } catch (...) {
                *output = SQL_NULL_HENV;
                return SQL_ERROR;
            }
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

SQLRETURN freeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    switch (type) {
        case SQL_HANDLE_ENV: {
            Environment* env = asEnvironment(handle);
            if (env == nullptr) {
                return SQL_INVALID_HANDLE;
            }
            const std::unique_ptr<Environment> owner(env);
            return SQL_SUCCESS;
        }
        case SQL_HANDLE_DBC: {
            Connection* dbc = asConnection(handle);
            if (dbc == nullptr) {
                return SQL_INVALID_HANDLE;
            }
            if (dbc->connected()) {
                dbc->diagnostics.clear();
                dbc->diagnostics.add(State::SequenceError,
                                     "The connection is still open; disconnect it first");
                return SQL_ERROR;
            }
            const std::unique_ptr<Connection> owner(dbc);
            return SQL_SUCCESS;
        }
        case SQL_HANDLE_STMT: {
            Statement* stmt = asStatement(handle);
            if (stmt == nullptr) {
                return SQL_INVALID_HANDLE;
            }
            stmt->connection.removeStatement(*stmt);
            return SQL_SUCCESS;
        }
        default:
            return SQL_INVALID_HANDLE;
    }
}

SQLRETURN freeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
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
                break;  // the driver takes no parameters
            default:
                throw DriverError(State::InvalidAttributeValue, "Unknown SQLFreeStmt option");
        }
        return SQL_SUCCESS;
    });
}

SQLRETURN setEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER /*length*/) {
    return guard<Environment>(env, [&](Environment& e) {
        const auto v = static_cast<SQLINTEGER>(reinterpret_cast<SQLLEN>(value));
        switch (attribute) {
            case SQL_ATTR_ODBC_VERSION:
                if (v != SQL_OV_ODBC2 && v != SQL_OV_ODBC3 && v != SQL_OV_ODBC3_80) {
                    throw DriverError(State::InvalidAttributeValue, "Unknown ODBC version");
                }
                e.odbcVersion = v;
                return SQL_SUCCESS;
            case SQL_ATTR_CONNECTION_POOLING:
            case SQL_ATTR_CP_MATCH:
                return SQL_SUCCESS;  // pooling is the driver manager's
            case SQL_ATTR_OUTPUT_NTS:
                if (v != SQL_TRUE) {
                    throw DriverError(State::NotImplemented,
                                      "Texts are always returned with a terminating null");
                }
                return SQL_SUCCESS;
            default:
                throw DriverError(State::InvalidAttribute,
                                  "Unknown environment attribute " + std::to_string(attribute));
        }
    });
}

SQLRETURN getEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER /*capacity*/,
                     SQLINTEGER* length) {
    return guard<Environment>(env, [&](Environment& e) {
        SQLINTEGER v = 0;
        switch (attribute) {
            case SQL_ATTR_ODBC_VERSION:
                v = e.odbcVersion;
                break;
            case SQL_ATTR_CONNECTION_POOLING:
                v = SQL_CP_OFF;
                break;
            case SQL_ATTR_CP_MATCH:
                v = SQL_CP_STRICT_MATCH;
                break;
            case SQL_ATTR_OUTPUT_NTS:
                v = SQL_TRUE;
                break;
            default:
                throw DriverError(State::InvalidAttribute,
                                  "Unknown environment attribute " + std::to_string(attribute));
        }
        if (value != nullptr) {
            *static_cast<SQLINTEGER*>(value) = v;
        }
        storeLength(length, sizeof(SQLINTEGER));
        return SQL_SUCCESS;
    });
}

}  // namespace xlsodbc
