// Streaming XML over a package part: the part is inflated in chunks and
// handed to expat, whose events reach a handler with their namespace told
// apart (the Transitional and the Strict spreadsheet namespaces are one
// here). A document type declaration is refused: packages may not carry
// one, and it is how entity-expansion bombs begin. Markup-compatibility
// blocks are resolved on the way: an mc:Choice is skipped (every one names
// an extension this reader does not know) and the content of mc:Fallback
// stands in its place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "xlsx/zip.h"

namespace xlsx {

enum class Ns : uint8_t {
    Main,           // spreadsheet markup, Transitional or Strict, or no namespace
    Relationships,  // officeDocument relationships (r:id), either flavour
    Package,        // package relationships and content types
    Other,
};

struct XmlName {
    Ns ns = Ns::Other;
    std::string_view local;
    [[nodiscard]] bool is(std::string_view name) const { return ns == Ns::Main && local == name; }
};

// Attributes as expat gives them: name, value, name, value, ..., nullptr.
class XmlAttributes {
public:
    explicit XmlAttributes(const char** a) : m_a(a) {}
    // An attribute without a namespace (the usual ones), else nullptr.
    [[nodiscard]] const char* get(std::string_view local) const;
    // An attribute in the officeDocument relationships namespace (r:id).
    [[nodiscard]] const char* relationship(std::string_view local) const;
    [[nodiscard]] const char** raw() const { return m_a; }

private:
    const char** m_a;
};

class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    virtual void start(const XmlName& name, const XmlAttributes& attributes) = 0;
    virtual void end(const XmlName& name) = 0;
    // Character data, in pieces; only where the handler asked for it.
    virtual void text(std::string_view chars) = 0;
    // Whether character data is wanted now (most of a part is markup).
    [[nodiscard]] virtual bool wantsText() const = 0;
};

// Parses the member through the handler. Exceptions thrown by the handler
// stop the parse and come out of here; XML errors throw
// xls::Error(Damaged) naming the part and the line.
void parseXml(const ZipArchive& zip, const ZipEntry& entry, XmlHandler& handler);
// The same over bytes in memory (tests, fuzzing).
void parseXml(std::string_view xml, std::string_view partName, XmlHandler& handler);

// The code point of the UTF-8 sequence at s[i] (well-formed, as expat hands
// it over), its length in bytes in `length`: 0 when the end of s cuts the
// sequence short.
inline uint32_t decodeUtf8At(std::string_view s, size_t i, size_t& length) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (i + len > s.size()) {
        length = 0;
        return 0;
    }
    uint32_t cp = len == 1 ? c : c & (len == 4 ? 0x07U : len == 3 ? 0x0FU : 0x1FU);
    for (size_t k = 1; k < len; ++k) {
        cp = (cp << 6U) | (static_cast<unsigned char>(s[i + k]) & 0x3FU);
    }
    length = len;
    return cp;
}

// Appends code point cp as UTF-16: a surrogate pair above U+FFFF.
inline void appendUtf16(uint32_t cp, std::u16string& out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10U)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FFU)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

// UTF-8 text (as expat gives it) appended to UTF-16, with the _xHHHH_
// escapes of spreadsheet strings decoded (_x005F_ escapes an underscore),
// stopping at `limit` units in all. False when text was cut at the limit.
bool appendSpreadsheetText(std::string_view utf8, std::u16string& out, size_t limit);

// The value of a hexadecimal digit of either case, or -1 for any other
// character (the _xHHHH_ escapes, the %XX escapes of part names).
int hexDigit(char c);

}  // namespace xlsx
