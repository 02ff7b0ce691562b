// UTF-8/UTF-16 conversion and ODBC output buffers with truncation.
#include "xlsodbc/text.h"

#include "xlsodbc/diagnostics.h"

#include <unicode/uchar.h>

#include <cstring>

namespace xlsodbc {
namespace {

bool isHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void appendUtf16(char32_t cp, std::u16string& out) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes one UTF-8 sequence at text[i]; advances i. Returns U+FFFD for an
// ill-formed sequence (consuming one byte).
char32_t decodeUtf8(std::string_view text, size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) {
        return lead;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0xFFFD;
    }
    // A sequence cut short becomes one U+FFFD for the bytes it has.
    for (int k = 0; k < extra; ++k) {
        const size_t at = i + static_cast<size_t>(k);
        if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) {
            i = at;
            return 0xFFFD;
        }
        cp = (cp << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
    }
    i += static_cast<size_t>(extra);
    if (cp < min || cp > 0x10FFFF || isHighSurrogate(cp) || isLowSurrogate(cp)) {
        return 0xFFFD;
    }
    return cp;
}

void encodeUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

size_t nulTerminatedLength(const void* data, Encoding encoding) {
    if (encoding == Encoding::Utf8) {
        return std::strlen(static_cast<const char*>(data));
    }
    const auto* p = static_cast<const SQLWCHAR*>(data);
    size_t n = 0;
    while (p[n] != 0) {
        ++n;
    }
    return n;
}

// How many UTF-16 units of `text` fit in `room` units without splitting a
// surrogate pair.
size_t fitUtf16(std::u16string_view text, size_t room) {
    if (room >= text.size()) {
        return text.size();
    }
    if (room > 0 && isHighSurrogate(text[room - 1])) {
        return room - 1;
    }
    return room;
}

// How many bytes of `text` fit in `room` bytes without splitting a UTF-8
// sequence.
size_t fitUtf8(std::string_view text, size_t room) {
    if (room >= text.size()) {
        return text.size();
    }
    while (room > 0 && (static_cast<unsigned char>(text[room]) & 0xC0) == 0x80) {
        --room;
    }
    return room;
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        appendUtf16(decodeUtf8(text, i), out);
    }
    return out;
}

void appendUtf8(std::u16string_view text, std::string& out) {
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            c = 0xFFFD;
        }
        encodeUtf8(c, out);
    }
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    appendUtf8(text, out);
    return out;
}

std::u16string TextArg::str() const {
    if (data == nullptr) {
        return {};
    }
    if (length < 0 && length != SQL_NTS) {
        throw DriverError(State::InvalidLength, "a text argument has a negative length");
    }
    const size_t n =
        length == SQL_NTS ? nulTerminatedLength(data, encoding) : static_cast<size_t>(length);
    if (encoding == Encoding::Utf8) {
        return utf8ToUtf16({static_cast<const char*>(data), n});
    }
    static_assert(sizeof(SQLWCHAR) == sizeof(char16_t));
    std::u16string out(n, u'\0');
    std::memcpy(out.data(), data, n * sizeof(char16_t));
    return out;
}

Written writeText(std::u16string_view text, const TextBuffer& buffer) {
    if (buffer.capacity < 0) {
        throw DriverError(State::InvalidLength, "an output buffer length is negative");
    }
    const auto capacity = static_cast<size_t>(buffer.capacity);
    if (buffer.encoding == Encoding::Utf16) {
        const size_t unit = buffer.inBytes ? sizeof(SQLWCHAR) : 1;
        const size_t room = capacity / unit;
        if (buffer.data != nullptr && room > 0) {
            const size_t n = fitUtf16(text, room - 1);
            std::memcpy(buffer.data, text.data(), n * sizeof(char16_t));
            static_cast<SQLWCHAR*>(buffer.data)[n] = 0;
        }
        return {static_cast<SQLLEN>(text.size() * unit),
                buffer.data != nullptr && text.size() >= room};
    }
    const std::string utf8 = utf16ToUtf8(text);
    if (buffer.data != nullptr && capacity > 0) {
        const size_t n = fitUtf8(utf8, capacity - 1);
        std::memcpy(buffer.data, utf8.data(), n);
        static_cast<char*>(buffer.data)[n] = '\0';
    }
    return {static_cast<SQLLEN>(utf8.size()), buffer.data != nullptr && utf8.size() >= capacity};
}

char16_t foldCase(char16_t c) {
    if (c < 0x80) {
        return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
        return c;
    }
    return static_cast<char16_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT));
}

bool equalsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && foldCase(a[i]) != foldCase(b[i])) {
            return false;
        }
    }
    return true;
}

std::u16string u16(std::string_view ascii) {
    return {ascii.begin(), ascii.end()};
}

}  // namespace xlsodbc
