// SQLGetDiagRec and SQLGetDiagField over a handle's records, and the
// conversion of an exception into a record at the entry point's boundary.
#include "xlsodbc/api.h"

#include <cstring>
#include <mutex>

namespace xlsodbc {
namespace {

std::shared_ptr<Handle> anyHandle(SQLSMALLINT type, SQLHANDLE handle) {
    switch (type) {
        case SQL_HANDLE_ENV:
            return asEnvironment(handle);
        case SQL_HANDLE_DBC:
            return asConnection(handle);
        case SQL_HANDLE_STMT:
            return asStatement(handle);
        default:
            return nullptr;
    }
}

// ODBC: states of classes defined by ISO SQL name "ISO 9075" as origin,
// those ODBC added name "ODBC 3.0".
const char* classOrigin(const char* state) {
    return (std::strncmp(state, "HY", 2) == 0 || std::strncmp(state, "IM", 2) == 0) ? "ODBC 3.0"
                                                                                    : "ISO 9075";
}

const char* subclassOrigin(const char* state) {
    static const char* const kOdbcStates[] = {"01S02", "01S07", "07009", "42S02", "HY000", "HY001",
                                              "HY003", "HY009", "HY010", "HY012", "HY024", "HY090",
                                              "HY091", "HY092", "HY096", "HY097", "HY098", "HY099",
                                              "HY100", "HY101", "HY105", "HY106", "HYC00", "IM001"};
    for (const char* s : kOdbcStates) {
        if (std::strcmp(s, state) == 0) {
            return "ODBC 3.0";
        }
    }
    return "ISO 9075";
}

template <typename T>
SQLRETURN storeValue(SQLPOINTER value, T v, SQLSMALLINT* length) {
    storeScalar(value, length, v);
    return SQL_SUCCESS;
}

SQLRETURN storeText(std::u16string_view text, SQLPOINTER value, SQLSMALLINT capacity,
                    SQLSMALLINT* length, Encoding enc) {
    const Written w = writeText(text, TextBuffer{value, capacity, enc, true});
    const bool fits = storeLength(length, w.length);
    return w.truncated || !fits ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // namespace

void recordCurrentException(Handle& handle) noexcept {
    try {
        try {
            throw;
        } catch (const DriverError& e) {
            handle.diagnostics.add(e.state(), e.what());
        } catch (const std::bad_alloc&) {
            handle.diagnostics.add(State::OutOfMemory, "Out of memory");
        } catch (const std::exception& e) {
            handle.diagnostics.add(State::GeneralError, std::string("Internal error: ") + e.what());
        } catch (...) {
            handle.diagnostics.add(State::GeneralError, "Internal error");
        }
    } catch (...) {
        // Not even the record fits in memory: the return code still says
        // SQL_ERROR.
    }
}

namespace {

SQLRETURN diagRec(const Handle& h, SQLSMALLINT record, const TextBuffer& state, SQLINTEGER* native,
                  const TextBuffer& message, SQLSMALLINT* messageLength) {
    if (record < 1 || message.capacity < 0) {
        return SQL_ERROR;
    }
    const auto& records = h.diagnostics.records();
    if (static_cast<size_t>(record) > records.size()) {
        return SQL_NO_DATA;
    }
    const DiagRecord& r = records[static_cast<size_t>(record) - 1];
    writeText(u16(sqlState(r.state, h.odbc2())), state);
    storeLength(native, 0);
    const Written w = writeText(r.message, message);
    const bool fits = storeLength(messageLength, w.length);
    return w.truncated || !fits ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN diagField(const Handle& h, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                    SQLSMALLINT capacity, SQLSMALLINT* length, Encoding enc) {
    const auto& records = h.diagnostics.records();
    switch (field) {
        case SQL_DIAG_NUMBER:
            return storeValue(value, static_cast<SQLINTEGER>(records.size()), length);
        case SQL_DIAG_CURSOR_ROW_COUNT:
        case SQL_DIAG_ROW_COUNT:
            return storeValue(value, static_cast<SQLLEN>(0), length);
        case SQL_DIAG_DYNAMIC_FUNCTION:
            return storeText(u"", value, capacity, length, enc);
        case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
            return storeValue(value, static_cast<SQLINTEGER>(SQL_DIAG_UNKNOWN_STATEMENT), length);
        default:
            break;
    }
    if (record < 1) {
        return SQL_ERROR;
    }
    if (static_cast<size_t>(record) > records.size()) {
        return SQL_NO_DATA;
    }
    const DiagRecord& r = records[static_cast<size_t>(record) - 1];
    const char* state = sqlState(r.state, h.odbc2());
    switch (field) {
        case SQL_DIAG_SQLSTATE:
            return storeText(u16(state), value, capacity, length, enc);
        case SQL_DIAG_MESSAGE_TEXT:
            return storeText(r.message, value, capacity, length, enc);
        case SQL_DIAG_NATIVE:
            return storeValue(value, static_cast<SQLINTEGER>(0), length);
        case SQL_DIAG_CLASS_ORIGIN:
            return storeText(u16(classOrigin(state)), value, capacity, length, enc);
        case SQL_DIAG_SUBCLASS_ORIGIN:
            return storeText(u16(subclassOrigin(state)), value, capacity, length, enc);
        case SQL_DIAG_CONNECTION_NAME:
        case SQL_DIAG_SERVER_NAME:
            return storeText(u"", value, capacity, length, enc);
        case SQL_DIAG_ROW_NUMBER:
            return storeValue(value, r.row, length);
        case SQL_DIAG_COLUMN_NUMBER:
            return storeValue(value, r.column, length);
        default:
            return SQL_ERROR;
    }
}

// Reading diagnostics leaves them in place (no boundary that clears them)
// and posts none of its own: a failure is only the return code.
template <typename Read>
SQLRETURN readDiagnostics(SQLSMALLINT type, SQLHANDLE handle, Read&& read) noexcept {
    const std::shared_ptr<Handle> h = anyHandle(type, handle);
    if (h == nullptr) {
        return SQL_INVALID_HANDLE;
    }
    try {
        const std::lock_guard lock(h->mutex);
        if (h->freed) {
            return SQL_INVALID_HANDLE;
        }
        return read(*h);
    } catch (...) {
        return SQL_ERROR;
    }
}

}  // namespace

SQLRETURN getDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                     const TextBuffer& state, SQLINTEGER* native, const TextBuffer& message,
                     SQLSMALLINT* messageLength) noexcept {
    return readDiagnostics(type, handle, [&](const Handle& h) {
        return diagRec(h, record, state, native, message, messageLength);
    });
}

SQLRETURN getDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                       SQLPOINTER value, SQLSMALLINT capacity, SQLSMALLINT* length,
                       Encoding enc) noexcept {
    return readDiagnostics(type, handle, [&](const Handle& h) {
        return diagField(h, record, field, value, capacity, length, enc);
    });
}

}  // namespace xlsodbc
