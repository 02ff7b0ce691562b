// CString operations that need more than a line: case mapping through ICU,
// UTF-8 conversion, search and replace, trimming and formatting.
#include "platform/cstring.h"

#include "platform/utf16.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <stdexcept>

namespace {

template <class Map>
void MapCodePoints(std::u16string& s, Map map) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const UChar32 c = map(NextCodePoint(s, i));
        if (U_IS_BMP(c)) {
            out += static_cast<char16_t>(c);
        } else {
            out += static_cast<char16_t>(U16_LEAD(c));
            out += static_cast<char16_t>(U16_TRAIL(c));
        }
    }
    s.swap(out);
}

// Undecodable bytes 0x80-0xFF travel as the lone low surrogates U+DC80 to
// U+DCFF, which no valid UTF-8 text can produce.
constexpr char32_t kEscapeBase = 0xDC00;

bool IsWhite(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

// The length of the valid UTF-8 sequence at the start of bytes, or 0 when
// it does not start with one (overlong forms, encoded surrogates and values
// past U+10FFFF are not valid).
size_t ValidUtf8Length(std::string_view bytes, char32_t& c) {
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    const size_t length = b0 >= 0xC2 && b0 <= 0xDF   ? 2
                          : b0 >= 0xE0 && b0 <= 0xEF ? 3
                          : b0 >= 0xF0 && b0 <= 0xF4 ? 4
                                                     : 0;
    if (length == 0 || bytes.size() < length)
        return 0;
    c = b0 & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (b & 0x3F);
    }
    const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
    if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return 0;
    return length;
}

}  // namespace

CString CString::FromUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const size_t length = ValidUtf8Length(utf8.substr(i), c);
        if (length == 0) {
            out += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(utf8[i]));
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += length;
    }
    return CString(std::move(out));
}

std::string CString::ToUtf8() const {
    std::string out;
    out.reserve(m_s.size());
    for (size_t i = 0; i < m_s.size(); ++i) {
        char32_t c = m_s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < m_s.size() && m_s[i + 1] >= 0xDC00 &&
            m_s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (m_s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
            out += static_cast<char>(c - kEscapeBase);
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int CString::Compare(const char16_t* psz) const {
    return m_s.compare(psz ? psz : u"");
}

int CString::CompareNoCase(const char16_t* psz) const {
    UErrorCode status = U_ZERO_ERROR;
    return u_strCaseCompare(m_s.c_str(), static_cast<int32_t>(m_s.size()), psz ? psz : u"", -1,
                            U_FOLD_CASE_DEFAULT, &status);
}

CString& CString::MakeUpper() {
    MapCodePoints(m_s, [](UChar32 c) { return u_toupper(c); });
    return *this;
}

CString& CString::MakeLower() {
    MapCodePoints(m_s, [](UChar32 c) { return u_tolower(c); });
    return *this;
}

CString CString::Left(int n) const {
    if (n <= 0)
        return {};
    return CString(m_s.substr(0, static_cast<size_t>(n)));
}

CString CString::Right(int n) const {
    if (n <= 0)
        return {};
    const size_t take = std::min(m_s.size(), static_cast<size_t>(n));
    return CString(m_s.substr(m_s.size() - take));
}

CString CString::Mid(int first) const {
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int n) const {
    if (first < 0)
        first = 0;
    if (n <= 0 || static_cast<size_t>(first) >= m_s.size())
        return {};
    return CString(m_s.substr(static_cast<size_t>(first), static_cast<size_t>(n)));
}

int CString::Find(char16_t ch, int start) const {
    if (start < 0)
        start = 0;
    const size_t pos = m_s.find(ch, static_cast<size_t>(start));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char16_t* sub, int start) const {
    if (start < 0)
        start = 0;
    const size_t pos = m_s.find(sub ? sub : u"", static_cast<size_t>(start));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char16_t ch) const {
    const size_t pos = m_s.rfind(ch);
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::Replace(const char16_t* oldText, const char16_t* newText) {
    const std::u16string_view from = oldText ? oldText : u"";
    const std::u16string_view to = newText ? newText : u"";
    if (from.empty())
        return 0;
    std::u16string out;
    int count = 0;
    size_t pos = 0;
    for (size_t hit; (hit = m_s.find(from, pos)) != std::u16string::npos; pos = hit + from.size()) {
        if (count == 0) {
            // One allocation for the common case of a replacement no longer
            // than what it replaces (line ends in a whole chunk of records).
            out.reserve(m_s.size());
        }
        out.append(m_s, pos, hit - pos);
        out += to;
        ++count;
    }
    if (count == 0)
        return 0;
    out.append(m_s, pos);
    m_s.swap(out);
    return count;
}

int CString::Replace(char16_t oldCh, char16_t newCh) {
    int count = 0;
    for (char16_t& c : m_s) {
        if (c == oldCh) {
            c = newCh;
            ++count;
        }
    }
    return count;
}

CString& CString::TrimLeft() {
    size_t i = 0;
    while (i < m_s.size() && IsWhite(m_s[i])) ++i;
    m_s.erase(0, i);
    return *this;
}

CString& CString::TrimRight() {
    size_t n = m_s.size();
    while (n > 0 && IsWhite(m_s[n - 1])) --n;
    m_s.resize(n);
    return *this;
}

char16_t* CString::GetBuffer(int minLength) {
    if (minLength > GetLength())
        m_s.resize(static_cast<size_t>(minLength));
    return m_s.data();
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) {
        const size_t nul = m_s.find(u'\0');
        if (nul != std::u16string::npos)
            m_s.resize(nul);
    } else {
        m_s.resize(static_cast<size_t>(newLength));
    }
}

void CString::FormatImpl(const char16_t* format, const FormatArg* args, size_t count) {
    size_t next = 0;
    for (const char16_t* p = format ? format : u""; *p; ++p) {
        if (*p != u'%' || (p[1] != u's' && p[1] != u'd' && p[1] != u'%')) {
            m_s += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            m_s += u'%';
            continue;
        }
        if (next >= count)
            throw std::invalid_argument("CString::Format: too few arguments");
        const FormatArg& arg = args[next++];
        if (*p == u's') {
            m_s += arg.text;
        } else {
            const std::string digits = std::to_string(arg.number);
            m_s.append(digits.begin(), digits.end());
        }
    }
}

int lstrlenW(const char16_t* psz) {
    return psz ? static_cast<int>(std::char_traits<char16_t>::length(psz)) : 0;
}

CString EscapeControlCharacters(const CString& text) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string out;
    out.reserve(static_cast<size_t>(text.GetLength()));
    for (const char16_t c : text.view()) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
        if (!control) {
            out += c;
        } else if (c == u'\r') {
            out += u"\\r";
        } else if (c == u'\n') {
            out += u"\\n";
        } else if (c == u'\t') {
            out += u"\\t";
        } else if (c <= 0xFF) {
            out += {u'\\', u'x', kHex[c >> 4], kHex[c & 0xF]};
        } else {
            out += {u'\\',        u'u', kHex[c >> 12], kHex[(c >> 8) & 0xF], kHex[(c >> 4) & 0xF],
                    kHex[c & 0xF]};
        }
    }
    return CString(out);
}
