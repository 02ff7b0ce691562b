// Text to C types: character and binary in pieces, numbers, booleans and
// dates from the text as the driver renders it ("3", "-12.5", "1E+20",
// "2024-01-15", "13:45:00", "2024-01-15 13:45:00", "TRUE").
#include "xlsodbc/conversion.h"

#include "xlsodbc/diagnostics.h"
#include "xlsodbc/text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

namespace xlsodbc {
namespace {

[[noreturn]] void notOfType(std::u16string_view text, const char* what) {
    throw DriverError(State::InvalidCast,
                      "The value \"" + echo(text) + "\" cannot be read as " + what);
}

// The ASCII form of a value that may be a number or a date; empty for text
// that cannot be either.
std::string asciiOf(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        if (c >= 0x80) {
            return {};
        }
        out.push_back(static_cast<char>(c));
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    const size_t start = out.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : out.substr(start);
}

double toDouble(std::u16string_view text) {
    std::string ascii = asciiOf(text);
    if (!ascii.empty() && ascii.front() == '+') {
        ascii.erase(0, 1);
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ascii.empty() || ec == std::errc::invalid_argument || end != ascii.data() + ascii.size()) {
        notOfType(text, "a number");
    }
    if (ec == std::errc::result_out_of_range) {
        throw DriverError(State::OutOfRange, "The number \"" + echo(text) + "\" is out of range");
    }
    return value;
}

template <typename T>
Converted writeInteger(std::u16string_view text, void* data) {
    const std::string ascii = asciiOf(text);
    long long exact = 0;
    const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), exact);
    double value = 0;
    if (!ascii.empty() && ec == std::errc() && end == ascii.data() + ascii.size()) {
        value = static_cast<double>(exact);
        if (exact >= static_cast<long long>(std::numeric_limits<T>::min()) &&
            (exact < 0 || static_cast<unsigned long long>(exact) <=
                              static_cast<unsigned long long>(std::numeric_limits<T>::max()))) {
            const T v = static_cast<T>(exact);
            std::memcpy(data, &v, sizeof v);
            return Converted::Ok;
        }
    } else {
        value = toDouble(text);
    }
    const double whole = std::trunc(value);
    if (!std::isfinite(value) || whole < static_cast<double>(std::numeric_limits<T>::min()) ||
        whole > static_cast<double>(std::numeric_limits<T>::max())) {
        throw DriverError(
            State::OutOfRange,
            "The number \"" + echo(text) + "\" is out of range for the requested integer type");
    }
    const T v = static_cast<T>(whole);
    std::memcpy(data, &v, sizeof v);
    return whole == value ? Converted::Ok : Converted::FractionTruncated;
}

Converted writeBit(std::u16string_view text, void* data) {
    unsigned char bit = 0;
    Converted result = Converted::Ok;
    if (equalsNoCase(text, u"TRUE") || equalsNoCase(text, u"FALSE")) {
        bit = equalsNoCase(text, u"TRUE") ? 1 : 0;
    } else {
        const double value = toDouble(text);
        if (value < 0 || value >= 2) {
            throw DriverError(State::OutOfRange,
                              "The value \"" + echo(text) + "\" is not a boolean");
        }
        bit = value >= 1 ? 1 : 0;
        result = (value == 0 || value == 1) ? Converted::Ok : Converted::FractionTruncated;
    }
    std::memcpy(data, &bit, 1);
    return result;
}

struct DateTimeParts {
    bool hasDate = false;
    bool hasTime = false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

bool digits(const std::string& s, size_t pos, size_t n, int& out) {
    if (pos + n > s.size()) {
        return false;
    }
    out = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return false;
        }
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

bool parseDate(const std::string& s, size_t pos, DateTimeParts& p) {
    return digits(s, pos, 4, p.year) && s[pos + 4] == '-' && digits(s, pos + 5, 2, p.month) &&
           s[pos + 7] == '-' && digits(s, pos + 8, 2, p.day) && p.month >= 1 && p.month <= 12 &&
           p.day >= 1 && p.day <= 31;
}

bool parseTime(const std::string& s, size_t pos, DateTimeParts& p) {
    return digits(s, pos, 2, p.hour) && s[pos + 2] == ':' && digits(s, pos + 3, 2, p.minute) &&
           s[pos + 5] == ':' && digits(s, pos + 6, 2, p.second) && p.hour < 24 && p.minute < 60 &&
           p.second < 60 && pos + 8 == s.size();
}

// "YYYY-MM-DD", "HH:MM:SS" or "YYYY-MM-DD HH:MM:SS".
DateTimeParts parseDateTime(std::u16string_view text) {
    const std::string s = asciiOf(text);
    DateTimeParts p;
    if (s.size() == 10 && parseDate(s, 0, p)) {
        p.hasDate = true;
    } else if (s.size() == 8 && parseTime(s, 0, p)) {
        p.hasTime = true;
    } else if (s.size() == 19 && parseDate(s, 0, p) && s[10] == ' ' && parseTime(s, 11, p)) {
        p.hasDate = p.hasTime = true;
    } else {
        notOfType(text, "a date or time (YYYY-MM-DD, HH:MM:SS or both)");
    }
    return p;
}

// ODBC: a time without a date takes today's date when a timestamp is asked.
void today(DateTimeParts& p) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    p.year = local.tm_year + 1900;
    p.month = local.tm_mon + 1;
    p.day = local.tm_mday;
}

Converted writeDateTime(std::u16string_view text, SQLSMALLINT cType, void* data) {
    DateTimeParts p = parseDateTime(text);
    switch (cType) {
        case SQL_C_TYPE_DATE:
        case SQL_C_DATE: {
            if (!p.hasDate) {
                notOfType(text, "a date");
            }
            const SQL_DATE_STRUCT d{static_cast<SQLSMALLINT>(p.year),
                                    static_cast<SQLUSMALLINT>(p.month),
                                    static_cast<SQLUSMALLINT>(p.day)};
            std::memcpy(data, &d, sizeof d);
            return p.hasTime && (p.hour | p.minute | p.second) != 0 ? Converted::FractionTruncated
                                                                    : Converted::Ok;
        }
        case SQL_C_TYPE_TIME:
        case SQL_C_TIME: {
            if (!p.hasTime) {
                notOfType(text, "a time");
            }
            const SQL_TIME_STRUCT t{static_cast<SQLUSMALLINT>(p.hour),
                                    static_cast<SQLUSMALLINT>(p.minute),
                                    static_cast<SQLUSMALLINT>(p.second)};
            std::memcpy(data, &t, sizeof t);
            return Converted::Ok;
        }
        default: {
            if (!p.hasDate) {
                today(p);
            }
            SQL_TIMESTAMP_STRUCT ts{};
            ts.year = static_cast<SQLSMALLINT>(p.year);
            ts.month = static_cast<SQLUSMALLINT>(p.month);
            ts.day = static_cast<SQLUSMALLINT>(p.day);
            ts.hour = static_cast<SQLUSMALLINT>(p.hour);
            ts.minute = static_cast<SQLUSMALLINT>(p.minute);
            ts.second = static_cast<SQLUSMALLINT>(p.second);
            std::memcpy(data, &ts, sizeof ts);
            return Converted::Ok;
        }
    }
}

Converted writeFixed(std::u16string_view text, SQLSMALLINT cType, void* data) {
    switch (cType) {
        case SQL_C_DOUBLE: {
            const double v = toDouble(text);
            std::memcpy(data, &v, sizeof v);
            return Converted::Ok;
        }
        case SQL_C_FLOAT: {
            const double v = toDouble(text);
            if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max()) {
                throw DriverError(State::OutOfRange,
                                  "The number \"" + echo(text) + "\" is out of range for a float");
            }
            const auto f = static_cast<float>(v);
            std::memcpy(data, &f, sizeof f);
            return Converted::Ok;
        }
        case SQL_C_LONG:
        case SQL_C_SLONG:
            return writeInteger<SQLINTEGER>(text, data);
        case SQL_C_ULONG:
            return writeInteger<SQLUINTEGER>(text, data);
        case SQL_C_SHORT:
        case SQL_C_SSHORT:
            return writeInteger<SQLSMALLINT>(text, data);
        case SQL_C_USHORT:
            return writeInteger<SQLUSMALLINT>(text, data);
        case SQL_C_TINYINT:
        case SQL_C_STINYINT:
            return writeInteger<SQLSCHAR>(text, data);
        case SQL_C_UTINYINT:
            return writeInteger<SQLCHAR>(text, data);
        case SQL_C_SBIGINT:
            return writeInteger<SQLBIGINT>(text, data);
        case SQL_C_UBIGINT:
            return writeInteger<SQLUBIGINT>(text, data);
        case SQL_C_BIT:
            return writeBit(text, data);
        default:
            return writeDateTime(text, cType, data);
    }
}

// Character and binary data in pieces: `units` is the value in the target's
// encoding, `unit` its code-unit size; a piece ends on a character boundary.
template <typename Unit>
Converted writePiece(std::basic_string_view<Unit> units, const Target& target, Piece& piece,
                     bool terminate) {
    const size_t rest = units.size() - piece.offset;
    storeLength(target.lengthOrIndicator, static_cast<SQLLEN>(rest * sizeof(Unit)));
    const size_t capacity =
        target.capacity > 0 ? static_cast<size_t>(target.capacity) / sizeof(Unit) : 0;
    const size_t room = terminate ? (capacity > 0 ? capacity - 1 : 0) : capacity;
    if (target.data == nullptr) {
        return Converted::Truncated;  // a length query: nothing written, nothing consumed
    }
    if (rest <= room) {
        std::memcpy(target.data, units.data() + piece.offset, rest * sizeof(Unit));
        if (terminate) {
            static_cast<Unit*>(target.data)[rest] = 0;
        }
        piece.done = true;
        return Converted::Ok;
    }
    // A piece ends on a character boundary (a surrogate pair or a UTF-8
    // sequence stays whole) when at least one whole character fits. When
    // none does, the piece takes the bytes that fit, so that every call
    // moves on and the pieces still join into the value; a buffer with no
    // room at all (only the terminator) is a length query and moves nothing.
    size_t n = room;
    if constexpr (sizeof(Unit) == 2) {
        if (n > 1 && units[piece.offset + n - 1] >= 0xD800 &&
            units[piece.offset + n - 1] <= 0xDBFF) {
            --n;  // keep a surrogate pair together
        }
    } else if (terminate) {
        size_t whole = n;
        while (whole > 0 &&
               (static_cast<unsigned char>(units[piece.offset + whole]) & 0xC0) == 0x80) {
            --whole;  // keep a UTF-8 sequence together
        }
        n = whole > 0 ? whole : n;
    }
    if (capacity > 0) {
        std::memcpy(target.data, units.data() + piece.offset, n * sizeof(Unit));
        if (terminate) {
            static_cast<Unit*>(target.data)[n] = 0;
        }
    }
    piece.offset += n;
    return Converted::Truncated;
}

}  // namespace

size_t fixedSize(SQLSMALLINT cType) {
    switch (cType) {
        case SQL_C_CHAR:
        case SQL_C_WCHAR:
        case SQL_C_BINARY:
            return 0;
        case SQL_C_DOUBLE:
            return sizeof(SQLDOUBLE);
        case SQL_C_FLOAT:
            return sizeof(SQLREAL);
        case SQL_C_LONG:
        case SQL_C_SLONG:
        case SQL_C_ULONG:
            return sizeof(SQLINTEGER);
        case SQL_C_SHORT:
        case SQL_C_SSHORT:
        case SQL_C_USHORT:
            return sizeof(SQLSMALLINT);
        case SQL_C_TINYINT:
        case SQL_C_STINYINT:
        case SQL_C_UTINYINT:
        case SQL_C_BIT:
            return 1;
        case SQL_C_SBIGINT:
        case SQL_C_UBIGINT:
            return sizeof(SQLBIGINT);
        case SQL_C_TYPE_DATE:
        case SQL_C_DATE:
            return sizeof(SQL_DATE_STRUCT);
        case SQL_C_TYPE_TIME:
        case SQL_C_TIME:
            return sizeof(SQL_TIME_STRUCT);
        case SQL_C_TYPE_TIMESTAMP:
        case SQL_C_TIMESTAMP:
            return sizeof(SQL_TIMESTAMP_STRUCT);
        default:
            throw DriverError(State::InvalidBufferType,
                              "The C data type " + std::to_string(cType) +
                                  " is not supported: read values as text (SQL_C_CHAR, "
                                  "SQL_C_WCHAR), binary, numbers "
                                  "or dates");
    }
}

SQLSMALLINT defaultCType(SQLSMALLINT sqlType) {
    switch (sqlType) {
        case SQL_SMALLINT:
            return SQL_C_SSHORT;
        case SQL_INTEGER:
            return SQL_C_SLONG;
        case SQL_VARCHAR:
            return SQL_C_CHAR;
        case SQL_DOUBLE:
            return SQL_C_DOUBLE;
        case SQL_TYPE_DATE:
            return SQL_C_TYPE_DATE;
        case SQL_TYPE_TIMESTAMP:
            return SQL_C_TYPE_TIMESTAMP;
        case SQL_BIT:
            return SQL_C_BIT;
        default:
            return SQL_C_WCHAR;
    }
}

bool copyWholeWideText(std::optional<std::u16string_view> value, const Target& target) {
    if (target.cType != SQL_C_WCHAR || target.data == nullptr ||
        target.lengthOrIndicator == nullptr) {
        return false;
    }
    if (!value) {
        *target.lengthOrIndicator = SQL_NULL_DATA;
        return true;
    }
    const size_t room =
        target.capacity > 0 ? static_cast<size_t>(target.capacity) / sizeof(char16_t) : 0;
    if (room == 0 || value->size() > room - 1) {
        return false;
    }
    const size_t bytes = value->size() * sizeof(char16_t);
    constexpr char16_t kTerminator = 0;
    std::memcpy(target.data, value->data(), bytes);
    std::memcpy(static_cast<char*>(target.data) + bytes, &kTerminator, sizeof kTerminator);
    *target.lengthOrIndicator = static_cast<SQLLEN>(bytes);
    return true;
}

Converted convert(std::optional<std::u16string_view> value, const Target& target, Piece& piece,
                  std::string& scratch) {
    const size_t fixed = fixedSize(target.cType);
    if (piece.done) {
        return Converted::NoData;
    }
    if (!value) {
        if (target.lengthOrIndicator == nullptr) {
            throw DriverError(
                State::IndicatorRequired,
                "The value is NULL (an empty cell) and no indicator variable was given");
        }
        *target.lengthOrIndicator = SQL_NULL_DATA;
        piece.done = true;
        return Converted::Ok;
    }
    switch (target.cType) {
        case SQL_C_WCHAR:
            return writePiece<char16_t>(*value, target, piece, true);
        case SQL_C_BINARY:
            return writePiece<char>(std::string_view(reinterpret_cast<const char*>(value->data()),
                                                     value->size() * sizeof(char16_t)),
                                    target, piece, false);
        case SQL_C_CHAR:
            if (piece.offset == 0) {
                scratch.clear();
                appendUtf8(*value, scratch);
            }
            return writePiece<char>(scratch, target, piece, true);
        default:
            break;
    }
    if (target.data == nullptr) {
        throw DriverError(State::InvalidNullPointer, "No buffer was given for the value");
    }
    const Converted result = writeFixed(*value, target.cType, target.data);
    storeLength(target.lengthOrIndicator, static_cast<SQLLEN>(fixed));
    piece.done = true;
    return result;
}

}  // namespace xlsodbc
