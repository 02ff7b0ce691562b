// The parameter functions: "?" markers of engine statements, bound with
// SQLBindParameter in the common C types and read at each execution.
// SELECT * FROM <table> has none; clients still count, describe and bind
// parameters on every statement they prepare.
#include "xlsodbc/api.h"

#include "sql/dates.h"

#include <cstdlib>
#include <cstring>

namespace xlsodbc {
namespace {

void requirePrepared(const Statement& s) {
    if (!s.result) {
        throw DriverError(State::SequenceError, "No statement has been prepared");
    }
}

int parameterCount(const Statement& s) {
    return s.query ? s.query->parameterCount() : 0;
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
                      "No parameter is waiting for data: the driver does not take parameter data "
                      "at execution time");
}

// The C type SQL_C_DEFAULT stands for with a parameter of `sqlType`.
SQLSMALLINT defaultParameterCType(SQLSMALLINT sqlType) {
    switch (sqlType) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
            return SQL_C_CHAR;
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_TINYINT:
        case SQL_BIT:
            return SQL_C_SLONG;
        case SQL_BIGINT:
            return SQL_C_SBIGINT;
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE:
            return SQL_C_DOUBLE;
        case SQL_TYPE_DATE:
        case SQL_DATE:
            return SQL_C_TYPE_DATE;
        case SQL_TYPE_TIME:
        case SQL_TIME:
            return SQL_C_TYPE_TIME;
        case SQL_TYPE_TIMESTAMP:
        case SQL_TIMESTAMP:
            return SQL_C_TYPE_TIMESTAMP;
        default:
            return SQL_C_WCHAR;
    }
}

template <typename T>
T read(const ParameterBinding& b) {
    T value{};
    std::memcpy(&value, b.data, sizeof value);
    return value;
}

sql::Value number(double v) {
    sql::Value out;
    out.kind = sql::Value::Kind::Number;
    out.number = v;
    return out;
}

std::u16string dateText(int64_t y, int64_t m, int64_t d, int64_t h, int64_t mi, int64_t s,
                        bool hasDate, bool hasTime, size_t index) {
    if (hasDate && (m < 1 || m > 12 || d < 1 || d > 31 || y < 1 || y > 9999)) {
        throw DriverError(State::InvalidDatetime,
                          "Parameter " + std::to_string(index + 1) + " is not a valid date");
    }
    if (hasTime && (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)) {
        throw DriverError(State::InvalidDatetime,
                          "Parameter " + std::to_string(index + 1) + " is not a valid time");
    }
    sql::DateTime v;
    v.days = hasDate ? sql::daysFromCivil(y, m, d) : 0;
    v.seconds = hasTime ? h * 3600 + mi * 60 + s : 0;
    v.hasDate = hasDate;
    v.hasTime = hasTime;
    return sql::formatDateTime(v);
}

sql::Value parameterValue(const ParameterBinding& b, size_t index, std::u16string& text) {
    sql::Value out;
    const SQLLEN indicator = b.indicator != nullptr ? *b.indicator : SQL_NTS;
    if (indicator == SQL_NULL_DATA) {
        return out;
    }
    if (indicator == SQL_DATA_AT_EXEC || indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET) {
        throw DriverError(State::NotImplemented,
                          "Parameter " + std::to_string(index + 1) +
                              " asks for its data at execution time, which the driver does not "
                              "support; bind the value itself");
    }
    if (b.data == nullptr) {
        throw DriverError(State::InvalidNullPointer,
                          "Parameter " + std::to_string(index + 1) + " has no value bound");
    }
    const SQLSMALLINT cType = b.cType == SQL_C_DEFAULT ? defaultParameterCType(b.sqlType) : b.cType;
    switch (cType) {
        case SQL_C_CHAR: {
            const char* p = static_cast<const char*>(b.data);
            const size_t length = indicator >= 0 ? static_cast<size_t>(indicator) : std::strlen(p);
            text = utf8ToUtf16(std::string_view(p, length));
            break;
        }
        case SQL_C_WCHAR: {
            const auto* p = static_cast<const char16_t*>(b.data);
            size_t length = 0;
            if (indicator >= 0) {
                length = static_cast<size_t>(indicator) / 2;
            } else {
                while (p[length] != 0) {
                    ++length;
                }
            }
            text.assign(p, length);
            break;
        }
        case SQL_C_SLONG:
        case SQL_C_LONG:
            return number(read<SQLINTEGER>(b));
        case SQL_C_ULONG:
            return number(read<SQLUINTEGER>(b));
        case SQL_C_SSHORT:
        case SQL_C_SHORT:
            return number(read<SQLSMALLINT>(b));
        case SQL_C_USHORT:
            return number(read<SQLUSMALLINT>(b));
        case SQL_C_STINYINT:
        case SQL_C_TINYINT:
            return number(read<SQLSCHAR>(b));
        case SQL_C_UTINYINT:
            return number(read<SQLCHAR>(b));
        case SQL_C_BIT:
            // A workbook's booleans are the texts TRUE and FALSE.
            text = read<SQLCHAR>(b) != 0 ? u"TRUE" : u"FALSE";
            break;
        case SQL_C_SBIGINT:
            return number(static_cast<double>(read<SQLBIGINT>(b)));
        case SQL_C_UBIGINT:
            return number(static_cast<double>(read<SQLUBIGINT>(b)));
        case SQL_C_DOUBLE:
            return number(read<SQLDOUBLE>(b));
        case SQL_C_FLOAT:
            return number(read<SQLREAL>(b));
        case SQL_C_NUMERIC: {
            const auto n = read<SQL_NUMERIC_STRUCT>(b);
            double v = 0;
            for (size_t i = SQL_MAX_NUMERIC_LEN; i-- > 0;) {
                v = v * 256 + n.val[i];
            }
            for (int k = 0; k < n.scale; ++k) {
                v /= 10;
            }
            for (int k = 0; k > n.scale; --k) {
                v *= 10;
            }
            return number(n.sign == 1 ? v : -v);
        }
        case SQL_C_TYPE_DATE:
        case SQL_C_DATE: {
            const auto d = read<SQL_DATE_STRUCT>(b);
            text = dateText(d.year, d.month, d.day, 0, 0, 0, true, false, index);
            break;
        }
        case SQL_C_TYPE_TIME:
        case SQL_C_TIME: {
            const auto t = read<SQL_TIME_STRUCT>(b);
            text = dateText(0, 0, 0, t.hour, t.minute, t.second, false, true, index);
            break;
        }
        case SQL_C_TYPE_TIMESTAMP:
        case SQL_C_TIMESTAMP: {
            // Midnight reads as the date alone, as a date cell does.
            const auto t = read<SQL_TIMESTAMP_STRUCT>(b);
            const bool time = t.hour != 0 || t.minute != 0 || t.second != 0;
            text = dateText(t.year, t.month, t.day, t.hour, t.minute, t.second, true, time, index);
            break;
        }
        default:
            throw DriverError(State::InvalidBufferType,
                              "Parameter " + std::to_string(index + 1) + " has the C type " +
                                  std::to_string(cType) + ", which the driver does not read");
    }
    // Clients bind numbers as text too (DBD::ODBC, PHP): a text that is a
    // number whole compares with the workbook's numbers as one.
    if ((cType == SQL_C_CHAR || cType == SQL_C_WCHAR) && !text.empty() && text.size() < 64) {
        std::string ascii;
        for (const char16_t c : text) {
            ascii.push_back(c < 0x80 ? static_cast<char>(c) : '\x01');
        }
        char* end = nullptr;
        const double v = std::strtod(ascii.c_str(), &end);
        const bool plain = ascii.find_first_of("xXnNiI \t") == std::string::npos;
        if (plain && end == ascii.c_str() + ascii.size()) {
            return number(v);
        }
    }
    out.kind = sql::Value::Kind::Text;
    out.text = text;
    return out;
}

}  // namespace

std::vector<sql::Value> parameterValues(Statement& s, size_t count,
                                        std::vector<std::u16string>& texts) {
    if (s.parameters.size() < count) {
        throw DriverError(State::WrongParameterCount, "The statement has " + std::to_string(count) +
                                                          " parameter markers but only " +
                                                          std::to_string(s.parameters.size()) +
                                                          " parameters are bound");
    }
    texts.assign(count, {});
    std::vector<sql::Value> values;
    values.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        values.push_back(parameterValue(s.parameters[i], i, texts[i]));
        if (values.back().kind == sql::Value::Kind::Text) {
            values.back().text = texts[i];
        }
    }
    return values;
}

SQLRETURN numParams(SQLHSTMT stmt, SQLSMALLINT* count) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        requirePrepared(s);
        storeLength(count, parameterCount(s));
        return SQL_SUCCESS;
    });
}

SQLRETURN bindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT ioType, SQLSMALLINT cType,
                        SQLSMALLINT sqlType, SQLPOINTER value, SQLLEN capacity,
                        SQLLEN* indicator) noexcept {
    // Binding may come before the statement is prepared, so a binding is
    // checked and kept; a statement with fewer markers ignores the rest.
    return guard<Statement>(stmt, [&](Statement& s) {
        if (number < 1) {
            throw DriverError(State::InvalidParameterNumber, "Parameter numbers start at 1");
        }
        if (!knownParameterType(ioType)) {
            throw DriverError(State::InvalidParameterType,
                              "Unknown parameter type " + std::to_string(ioType));
        }
        if (ioType != SQL_PARAM_INPUT) {
            throw DriverError(State::NotImplemented,
                              "Only input parameters are supported: a statement returns no "
                              "values through its parameters");
        }
        if (capacity < 0) {
            throw DriverError(State::InvalidLength, "The buffer length is negative");
        }
        if (value == nullptr && indicator == nullptr) {
            throw DriverError(State::InvalidNullPointer,
                              "Neither a value nor an indicator was given for the parameter");
        }
        if (cType != SQL_C_DEFAULT) {
            fixedSize(cType);  // refuses C types the driver does not know
        }
        if (s.parameters.size() < number) {
            s.parameters.resize(number);
        }
        s.parameters[number - 1] = ParameterBinding{cType, sqlType, value, capacity, indicator};
        return SQL_SUCCESS;
    });
}

SQLRETURN describeParam(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT* type, SQLULEN* size,
                        SQLSMALLINT* digits, SQLSMALLINT* nullable) noexcept {
    // Every value is text to the driver: a parameter is described as one.
    return guard<Statement>(stmt, [&](Statement& s) -> SQLRETURN {
        requirePrepared(s);
        if (number < 1 || number > parameterCount(s)) {
            throw DriverError(State::InvalidParameterNumber,
                              "Parameter " + std::to_string(number) +
                                  " does not exist: the statement has " +
                                  std::to_string(parameterCount(s)) + " parameters");
        }
        storeLength(type, SQL_WVARCHAR);
        storeLength(size, 255);
        storeLength(digits, 0);
        storeLength(nullable, SQL_NULLABLE);
        return SQL_SUCCESS;
    });
}

SQLRETURN paramData(SQLHSTMT stmt, SQLPOINTER* /*value*/) noexcept {
    return guard<Statement>(stmt, [](Statement&) -> SQLRETURN { noDataPending(); });
}

SQLRETURN putData(SQLHSTMT stmt, SQLPOINTER /*data*/, SQLLEN /*length*/) noexcept {
    return guard<Statement>(stmt, [](Statement&) -> SQLRETURN { noDataPending(); });
}

}  // namespace xlsodbc
