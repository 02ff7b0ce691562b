// The parameter functions. The one statement the driver runs has no
// parameter markers, so every prepared statement has zero parameters; the
// functions still answer as ODBC defines them, because clients call them
// on every statement they prepare (to count, describe and bind parameters).
#include "xlsodbc/api.h"

namespace xlsodbc {
namespace {

void requirePrepared(const Statement& s) {
    if (!s.result) {
        throw DriverError(State::SequenceError, "No statement has been prepared");
    }
}

bool knownParameterType(SQLSMALLINT ioType) {
    switch (ioType) {
        case SQL_PARAM_INPUT:
        case SQL_PARAM_INPUT_OUTPUT:
        case SQL_PARAM_OUTPUT:
        case SQL_PARAM_INPUT_OUTPUT_STREAM:
        case SQL_PARAM_OUTPUT_STREAM:
            return true;
        default:
            return false;
    }
}

[[noreturn]] void noDataPending() {
    throw DriverError(State::SequenceError,
                      "No parameter is waiting for data: the driver's statements take no "
                      "parameters");
}

}  // namespace

SQLRETURN numParams(SQLHSTMT stmt, SQLSMALLINT* count) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        requirePrepared(s);
        storeLength(count, 0);
        return SQL_SUCCESS;
    });
}

SQLRETURN bindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT ioType, SQLSMALLINT cType,
                        SQLPOINTER value, SQLLEN capacity, SQLLEN* indicator) noexcept {
    // Binding may come before the statement is prepared, so a binding is
    // checked and accepted; a statement without markers then ignores it,
    // as ODBC lets a statement ignore parameters bound beyond its own.
    return guard<Statement>(stmt, [&](Statement&) {
        if (number < 1) {
            throw DriverError(State::InvalidParameterNumber, "Parameter numbers start at 1");
        }
        if (!knownParameterType(ioType)) {
            throw DriverError(State::InvalidParameterType,
                              "Unknown parameter type " + std::to_string(ioType));
        }
        if (capacity < 0) {
            throw DriverError(State::InvalidLength, "The buffer length is negative");
        }
        if (value == nullptr && indicator == nullptr && ioType != SQL_PARAM_OUTPUT) {
            throw DriverError(State::InvalidNullPointer,
                              "Neither a value nor an indicator was given for the parameter");
        }
        if (cType != SQL_C_DEFAULT) {
            fixedSize(cType);  // refuses C types the driver does not know
        }
        return SQL_SUCCESS;
    });
}

SQLRETURN describeParam(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT* /*type*/,
                        SQLULEN* /*size*/, SQLSMALLINT* /*digits*/,
                        SQLSMALLINT* /*nullable*/) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) -> SQLRETURN {
        requirePrepared(s);
        throw DriverError(State::InvalidParameterNumber,
                          "Parameter " + std::to_string(number) +
                              " does not exist: the statement has no parameters");
    });
}

SQLRETURN paramData(SQLHSTMT stmt, SQLPOINTER* /*value*/) noexcept {
    return guard<Statement>(stmt, [](Statement&) -> SQLRETURN { noDataPending(); });
}

SQLRETURN putData(SQLHSTMT stmt, SQLPOINTER /*data*/, SQLLEN /*length*/) noexcept {
    return guard<Statement>(stmt, [](Statement&) -> SQLRETURN { noDataPending(); });
}

}  // namespace xlsodbc
