// Turning a field's text into the application's C type, for SQLGetData
// (in pieces) and for bound columns. Every value is text inside the driver;
// numbers and dates convert where the text allows it.
#pragma once

#include "xlsodbc/odbc.h"

#include <optional>
#include <string>
#include <string_view>

namespace xlsodbc {

// Where SQLGetData stopped in the current column.
struct Piece {
    size_t offset =
        0;  // bytes (binary), UTF-8 bytes (char) or UTF-16 units (wchar) already returned
    bool done = false;  // the whole value has been returned
};

enum class Converted : unsigned char {
    Ok,
    Truncated,          // 01004: text cut, the rest follows in the next piece
    FractionTruncated,  // 01S07: a number or a time lost its fraction
    NoData,             // SQL_NO_DATA: the value was returned completely before
};

struct Target {
    SQLSMALLINT cType = SQL_C_WCHAR;  // SQL_C_DEFAULT already resolved
    void* data = nullptr;
    SQLLEN capacity = 0;  // bytes, for variable-length types
    SQLLEN* lengthOrIndicator = nullptr;
};

// Writes `value` (nullopt = NULL) to the target. `scratch` is reused for the
// UTF-8 form. Throws DriverError: 22018 (the text is not of the type),
// 22003 (out of range), 22002 (NULL without an indicator), HY003 (a C type
// the driver does not convert to).
Converted convert(std::optional<std::u16string_view> value, const Target& target, Piece& piece,
                  std::string& scratch);

// The common case of a block fetch: a column bound as SQL_C_WCHAR, with an
// indicator and room for the whole value and its terminator. Writes what
// convert() writes there (the value, or SQL_NULL_DATA) without its general
// steps and returns true; false leaves every other case to convert().
bool copyWholeWideText(std::optional<std::u16string_view> value, const Target& target);

// The fixed size of a C type's value, 0 for variable-length types; throws
// DriverError (HY003) for a C type the driver does not convert to.
size_t fixedSize(SQLSMALLINT cType);

// The C type that SQL_C_DEFAULT means for a column of the given SQL type.
SQLSMALLINT defaultCType(SQLSMALLINT sqlType);

}  // namespace xlsodbc
