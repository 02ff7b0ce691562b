// UTF-8/UTF-16 conversion and ODBC output buffers with truncation.
#include "xlsodbc/text.h"

#include "xlsodbc/diagnostics.h"

#include <unicode/uchar.h>

#include <cstring>
#include <vector>

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

namespace {

// The length of the character at text[i] in UTF-16 units (2 for a
// surrogate pair, else 1).
size_t unitsAt(std::u16string_view text, size_t i) {
    return isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1]) ? 2 : 1;
}

// The bytes of the character at text[i] in UTF-8 (a lone surrogate is
// written as U+FFFD).
size_t utf8BytesAt(std::u16string_view text, size_t i) {
    const char16_t c = text[i];
    if (unitsAt(text, i) == 2) {
        return 4;
    }
    return c < 0x80 ? 1 : (c < 0x800 ? 2 : 3);
}

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// Appends the character at text[i], escaped when it is a control
// character, as UTF-8; returns the UTF-16 units it took.
size_t appendEscaped(std::u16string_view text, size_t i, std::string& out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char16_t c = text[i];
    if (!isControl(c)) {
        const size_t units = unitsAt(text, i);
        appendUtf8(text.substr(i, units), out);
        return units;
    }
    if (c == u'\r') {
        out += "\\r";
    } else if (c == u'\n') {
        out += "\\n";
    } else if (c == u'\t') {
        out += "\\t";
    } else if (c <= 0xFF) {
        out += {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    } else {
        out +=
            {'\\', 'u', kHex[c >> 12], kHex[(c >> 8) & 0xF], kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
    }
    return 1;
}

}  // namespace

std::u16string_view prefixWithin(std::u16string_view text, size_t limit) {
    size_t units = 0;
    size_t bytes = 0;
    while (units < text.size()) {
        const size_t u = unitsAt(text, units);
        const size_t b = utf8BytesAt(text, units);
        if (units + u > limit || bytes + b > limit) {
            break;
        }
        units += u;
        bytes += b;
    }
    return text.substr(0, units);
}

std::string echo(std::u16string_view text, size_t limit) {
    std::string out;
    size_t i = 0;
    while (i < text.size() && out.size() <= limit) {
        i += appendEscaped(text, i, out);
    }
    if (i == text.size() && out.size() <= limit) {
        return out;
    }
    // Too long: the head takes half the room, the tail what is left; both
    // end at whole characters (and whole escapes).
    static constexpr std::string_view kEllipsis = "\u2026";
    const size_t room = limit > kEllipsis.size() ? limit - kEllipsis.size() : 0;
    out.clear();
    std::string piece;
    size_t head = 0;
    while (head < text.size()) {
        piece.clear();
        const size_t units = appendEscaped(text, head, piece);
        if (out.size() + piece.size() > room / 2) {
            break;
        }
        out += piece;
        head += units;
    }
    std::vector<std::string> tail;
    size_t tailBytes = 0;
    size_t end = text.size();
    while (end > head) {
        size_t start = end - 1;
        if (isLowSurrogate(text[start]) && start > head && isHighSurrogate(text[start - 1])) {
            --start;
        }
        piece.clear();
        appendEscaped(text, start, piece);
        if (out.size() + tailBytes + piece.size() > room) {
            break;
        }
        tailBytes += piece.size();
        tail.push_back(piece);
        end = start;
    }
    out += kEllipsis;
    for (auto it = tail.rbegin(); it != tail.rend(); ++it) {
        out += *it;
    }
    return out;
}

std::string echoUtf8(std::string_view text, size_t limit) {
    return echo(utf8ToUtf16(text), limit);
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
