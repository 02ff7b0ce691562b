// CString operations that need more than a line: case mapping through ICU,
// UTF-8 conversion, search and replace, trimming and formatting.
#include "platform/cstring.h"

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
        UChar32 c;
        U16_NEXT(s.data(), i, s.size(), c);
        c = map(c);
        if (U_IS_BMP(c)) {
            out += static_cast<char16_t>(c);
        } else {
            out += static_cast<char16_t>(U16_LEAD(c));
            out += static_cast<char16_t>(U16_TRAIL(c));
        }
    }
    s.swap(out);
}

bool IsWhite(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

}  // namespace

CString CString::FromUtf8(std::string_view utf8) {
    std::u16string out(utf8.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<size_t>(length));
    return CString(std::move(out));
}

std::string CString::ToUtf8() const {
    std::string out(m_s.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, m_s.data(),
                       static_cast<int32_t>(m_s.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<size_t>(length));
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
