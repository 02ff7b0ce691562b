// CString: the framework's wide string, holding UTF-16 code units.
//
// Lengths, positions and buffers count UTF-16 units, as the program's
// designed buffer sizes and its UTF-16LE output do. Format is type-safe:
// "%s" takes a CString or a NUL-terminated char16_t text, "%d" an integer,
// "%%" writes a percent sign.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

// Converts implicitly from and to wide C strings, like the framework's
// string, so that framework-style calls take literals and CStrings alike.
class CString {
public:
    CString() = default;
    CString(const char16_t* psz) : m_s(psz ? psz : u"") {}
    CString(const char16_t* p, int n) : m_s(p, static_cast<size_t>(n > 0 ? n : 0)) {}
    CString(char16_t ch, int repeat = 1) : m_s(static_cast<size_t>(repeat > 0 ? repeat : 0), ch) {}
    CString(std::u16string s) : m_s(std::move(s)) {}
    CString(std::u16string_view s) : m_s(s) {}

    // UTF-8 edges (argv, file names, environment, diagnostics of the C
    // library). Linux names are bytes: a byte that is not part of valid
    // UTF-8 becomes the lone low surrogate U+DC80-U+DCFF of its value, and
    // ToUtf8 turns such a surrogate back into that byte, so any name makes
    // the round trip unchanged. Other lone surrogates become U+FFFD.
    static CString FromUtf8(std::string_view utf8);
    [[nodiscard]] std::string ToUtf8() const;

    [[nodiscard]] int GetLength() const { return static_cast<int>(m_s.size()); }
    [[nodiscard]] bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    [[nodiscard]] char16_t GetAt(int i) const { return m_s.at(static_cast<size_t>(i)); }
    [[nodiscard]] char16_t operator[](int i) const { return GetAt(i); }
    void SetAt(int i, char16_t ch) { m_s.at(static_cast<size_t>(i)) = ch; }

    operator const char16_t*() const { return m_s.c_str(); }
    [[nodiscard]] const char16_t* GetString() const { return m_s.c_str(); }
    [[nodiscard]] const std::u16string& str() const { return m_s; }
    [[nodiscard]] std::u16string_view view() const { return m_s; }

    CString& operator=(const char16_t* psz) {
        m_s = psz ? psz : u"";
        return *this;
    }
    CString& operator+=(const CString& s) {
        m_s += s.m_s;
        return *this;
    }
    CString& operator+=(const char16_t* psz) {
        if (psz)
            m_s += psz;
        return *this;
    }
    CString& operator+=(char16_t ch) {
        m_s += ch;
        return *this;
    }
    CString& operator+=(std::u16string_view s) {
        m_s += s;
        return *this;
    }
    void Append(const char16_t* p, int n) { m_s.append(p, static_cast<size_t>(n)); }

    friend CString operator+(CString a, const CString& b) { return a += b; }
    friend CString operator+(CString a, const char16_t* b) { return a += b; }
    friend CString operator+(const char16_t* a, const CString& b) { return CString(a) += b; }
    friend CString operator+(CString a, char16_t b) { return a += b; }

    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const char16_t* b) { return a.m_s == (b ? b : u""); }

    // Case-sensitive and case-insensitive comparison: <0, 0, >0.
    [[nodiscard]] int Compare(const char16_t* psz) const;
    [[nodiscard]] int CompareNoCase(const char16_t* psz) const;

    // Loads string resource nID (see platform/resources.h); false, with the
    // string unchanged, when there is none.
    bool LoadString(unsigned int nID);

    CString& MakeUpper();
    CString& MakeLower();

    [[nodiscard]] CString Left(int n) const;
    [[nodiscard]] CString Right(int n) const;
    [[nodiscard]] CString Mid(int first) const;
    [[nodiscard]] CString Mid(int first, int n) const;

    // Position of the first match at or after start, or -1.
    [[nodiscard]] int Find(char16_t ch, int start = 0) const;
    [[nodiscard]] int Find(const char16_t* sub, int start = 0) const;
    [[nodiscard]] int ReverseFind(char16_t ch) const;
    // Replaces every occurrence; returns how many were replaced.
    int Replace(const char16_t* oldText, const char16_t* newText);
    int Replace(char16_t oldCh, char16_t newCh);

    CString& TrimLeft();
    CString& TrimRight();
    CString& Trim() { return TrimLeft().TrimRight(); }

    // A writable buffer of at least minLength units plus a terminator;
    // ReleaseBuffer(-1) takes the length up to the first NUL.
    char16_t* GetBuffer(int minLength);
    void ReleaseBuffer(int newLength = -1);

    template <class... Args>
    void Format(const char16_t* format, const Args&... args) {
        m_s.clear();
        const FormatArg list[] = {FormatArg(args)..., FormatArg()};
        FormatImpl(format, list, sizeof...(Args));
    }

private:
    // Built implicitly from each argument of Format.
    struct FormatArg {
        FormatArg() = default;
        FormatArg(const CString& s) : text(s.view()) {}
        FormatArg(const char16_t* s) : text(s ? s : u"") {}
        FormatArg(std::u16string_view s) : text(s) {}
        template <std::integral T>
        FormatArg(T n) : number(static_cast<long long>(n)), isNumber(true) {}
        std::u16string_view text;
        long long number = 0;
        bool isNumber = false;
    };
    void FormatImpl(const char16_t* format, const FormatArg* args, size_t count);

    std::u16string m_s;
};

// Length of a NUL-terminated wide text (0 for null), as lstrlenW.
int lstrlenW(const char16_t* psz);

// The text with every control character (C0, DEL, C1, and the line and
// paragraph separators) written as an escape: \r, \n, \t, \xHH or \uHHHH.
// A name shown inside a line of a log can then never end that line or
// forge the next one.
CString EscapeControlCharacters(const CString& text);
