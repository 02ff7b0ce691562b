// Text at the ODBC boundary: the driver keeps UTF-16 inside; narrow entry
// points take and give UTF-8, wide ones UTF-16 (SQLWCHAR). These helpers read
// an application's text argument and fill an application's output buffer
// with ODBC's truncation rules.
#pragma once

#include "xlsodbc/odbc.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace xlsodbc {

enum class Encoding : unsigned char { Utf8, Utf16 };

// UTF conversions; ill-formed input becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
void appendUtf8(std::u16string_view text, std::string& out);

// The longest text whose length every client can be told: one less than
// the largest SQLSMALLINT, so that length + 1 is still a buffer length.
// Column names and diagnostic messages are never longer, in UTF-16 units
// nor in UTF-8 bytes, so wide and narrow clients see the same text whole.
constexpr size_t kLongestText = 32766;

// The longest prefix of `text`, in whole characters, that is at most
// `limit` long both in UTF-16 units and in UTF-8 bytes.
std::u16string_view prefixWithin(std::u16string_view text, size_t limit);

// A name, path, statement or value as a diagnostic quotes it, in UTF-8:
// every control character (C0, DEL, C1, and the line and paragraph
// separators) written as an escape, \r, \n, \t, \xHH or \uHHHH, so that
// a name can never end a line of a client's log or forge the next one; and
// a text of more than `limit` bytes shortened in its middle, its head and
// tail kept with "\u2026" between them, so that the message around it, and
// what went wrong, always fits.
constexpr size_t kEchoLimit = 4096;
std::string echo(std::u16string_view text, size_t limit = kEchoLimit);
std::string echoUtf8(std::string_view text, size_t limit = kEchoLimit);

// An input text argument (pointer plus length or SQL_NTS) as the
// application passed it. Lengths of wide texts count SQLWCHARs, of narrow
// ones bytes.
struct TextArg {
    const void* data = nullptr;
    SQLINTEGER length = SQL_NTS;
    Encoding encoding = Encoding::Utf8;

    [[nodiscard]] bool isNull() const { return data == nullptr; }
    // Throws DriverError(HY090) for a negative length other than SQL_NTS.
    [[nodiscard]] std::u16string str() const;
};

inline TextArg narrowArg(const SQLCHAR* text, SQLINTEGER length) {
    return {text, length, Encoding::Utf8};
}
inline TextArg wideArg(const SQLWCHAR* text, SQLINTEGER length) {
    return {text, length, Encoding::Utf16};
}

// An output text buffer. `capacity` counts characters (SQLWCHARs or bytes)
// when `inBytes` is false, bytes otherwise; the terminator is always written
// when there is room for one.
struct TextBuffer {
    void* data = nullptr;
    SQLLEN capacity = 0;
    Encoding encoding = Encoding::Utf8;
    bool inBytes = false;
};

struct Written {
    SQLLEN length = 0;       // the whole text's length, in the buffer's unit
    bool truncated = false;  // the text did not fit (ODBC 01004)
};

// Writes the text, cut at a character boundary when it does not fit, and
// returns its full length. Throws DriverError(HY090) for a negative capacity.
Written writeText(std::u16string_view text, const TextBuffer& buffer);

inline TextBuffer narrowChars(SQLCHAR* data, SQLLEN capacity) {
    return {data, capacity, Encoding::Utf8, false};
}
inline TextBuffer wideChars(SQLWCHAR* data, SQLLEN capacity) {
    return {data, capacity, Encoding::Utf16, false};
}
inline TextBuffer narrowBytes(void* data, SQLLEN capacity) {
    return {data, capacity, Encoding::Utf8, true};
}
inline TextBuffer wideBytes(void* data, SQLLEN capacity) {
    return {data, capacity, Encoding::Utf16, true};
}

// Stores a length into an optional output pointer of any integer width. A
// length too large for the type (a text of 32,767 units or more in an
// SQLSMALLINT) is stored as one less than the type's largest value, so that
// an application that allocates length + 1 for the terminator still passes
// a valid buffer length, and the result is false: the caller reports the
// text as truncated (01004), which it always is, since no buffer that such
// a length can describe holds it.
template <typename T>
bool storeLength(T* out, SQLLEN value) {
    if (out == nullptr) {
        return true;
    }
    constexpr T kLargest = std::numeric_limits<T>::max() - 1;
    if (std::cmp_greater(value, kLargest)) {
        *out = kLargest;
        return false;
    }
    *out = static_cast<T>(value);
    return true;
}

// Stores a number or an address into an optional output buffer and its
// size in bytes into an optional length: how every fixed-size value is
// answered (attributes, information types, diagnostic fields).
template <typename T, typename L>
void storeScalar(void* out, L* length, T value) {
    if (out != nullptr) {
        std::memcpy(out, &value, sizeof value);
    }
    storeLength(length, sizeof value);
}

// ASCII-only case-insensitive comparison; sheet and column names compare so.
char16_t foldCase(char16_t c);
bool equalsNoCase(std::u16string_view a, std::u16string_view b);

// Shorthand for ASCII literals turned into UTF-16.
std::u16string u16(std::string_view ascii);

}  // namespace xlsodbc
