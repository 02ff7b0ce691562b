// Command-line parsing: a space-separated tokenizer over a private copy of
// the line, with quoted groups read back from the original line so that the
// spaces inside a group survive exactly.
#include "app/command_line.h"

#include <algorithm>

#include "platform/winapi.h"

namespace {

bool IsSwitchStart(char16_t c) {
    return c == u'/' || c == u'-';
}

CString Trimmed(CString s) {
    s.TrimLeft();
    s.TrimRight();
    return s;
}

// A whole argument that is a switch: "/" or "-" and letters only.
bool IsSwitchArgument(const CString& strArgument) {
    if (strArgument.IsEmpty() || !IsSwitchStart(strArgument[0]))
        return false;
    const std::u16string_view rest = strArgument.view().substr(1);
    return std::all_of(rest.begin(), rest.end(), [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    });
}

// A value typed in double quotes so that it is not read as a switch
// ('"-"') loses them.
CString Unquoted(const CString& strArgument) {
    const int n = strArgument.GetLength();
    if (n >= 2 && strArgument[0] == u'"' && strArgument[n - 1] == u'"')
        return strArgument.Mid(1, n - 2);
    return strArgument;
}

}  // namespace

CCommandLine::CCommandLine()
    : m_strCmdLine(Trimmed(CString(GetCommandLineW()))), m_arguments(GetCommandLineArguments()) {}

CCommandLine::CCommandLine(const CString& strCmdLine) : m_strCmdLine(Trimmed(strCmdLine)) {}

// The next space-separated token of the buffer, NUL-terminated in place (as
// wcstok with a separator set of one space), or null at the end.
char16_t* CCommandLine::NextToken() {
    char16_t* p = m_pszScan;
    if (!p)
        return nullptr;
    while (*p == u' ') ++p;
    if (*p == u'\0') {
        m_pszScan = nullptr;
        return nullptr;
    }
    char16_t* token = p;
    while (*p != u'\0' && *p != u' ') ++p;
    if (*p == u' ') {
        *p = u'\0';
        m_pszScan = p + 1;
    } else {
        m_pszScan = nullptr;
    }
    return token;
}

void CCommandLine::GetFirstArg(CString& strSwitch, CString& strValue) {
    strSwitch.Empty();
    strValue.Empty();
    if (!m_arguments.empty()) {
        m_nArgument = 1;  // past the program name
        GetNextArg(strSwitch, strValue);
        return;
    }
    const size_t length = static_cast<size_t>(m_strCmdLine.GetLength());
    m_pszBuffer = std::make_unique<char16_t[]>(length + 1);
    std::copy_n(m_strCmdLine.GetString(), length, m_pszBuffer.get());
    m_pszScan = m_pszBuffer.get();
    m_pszToken = NextToken();
    if (!m_pszToken)
        return;
    // The program name is one token or quoted group, never a switch: on
    // Linux its path begins with "/", which would otherwise read as one and
    // take argument 1 as its value.
    CString strProgram;
    ReadToken(strProgram, m_pszToken);
    m_pszToken = NextToken();
    GetNextArg(strSwitch, strValue);  // argument 1
}

BOOL CCommandLine::NextArgument(CString& strSwitch, CString& strValue) {
    if (m_nArgument >= m_arguments.size())
        return FALSE;
    if (IsSwitchArgument(m_arguments[m_nArgument]))
        strSwitch = m_arguments[m_nArgument++].Mid(1);
    if (m_nArgument < m_arguments.size() && !IsSwitchArgument(m_arguments[m_nArgument]))
        strValue = Unquoted(m_arguments[m_nArgument++]);
    return TRUE;
}

BOOL CCommandLine::GetNextArg(CString& strSwitch, CString& strValue) {
    strSwitch.Empty();
    strValue.Empty();
    if (!m_arguments.empty())
        return NextArgument(strSwitch, strValue);
    if (!m_pszToken)
        return FALSE;
    if (IsSwitchStart(m_pszToken[0])) {
        ReadToken(strSwitch, m_pszToken + 1);
        m_pszToken = NextToken();
    }
    if (m_pszToken && !IsSwitchStart(m_pszToken[0])) {
        ReadToken(strValue, m_pszToken);
        m_pszToken = NextToken();
    }
    return TRUE;
}

// Copies the token that starts at pszStart (inside the current token). A
// token beginning with a double quote opens a group; the value is the
// original line's text between the opening quote and the closing one, and
// the current token becomes the group's last, so the caller's advance moves
// past the whole group. An unclosed group takes the rest of the line.
void CCommandLine::ReadToken(CString& strOut, char16_t* pszStart) {
    if (*pszStart != u'"') {
        strOut = pszStart;
        return;
    }
    const int nOpen = static_cast<int>(pszStart - m_pszBuffer.get());
    char16_t* pszLast = pszStart;
    for (;;) {
        const int nLength = lstrlenW(pszLast);
        if (pszLast[nLength - 1] == u'"') {
            const int nClose = static_cast<int>(pszLast - m_pszBuffer.get()) + nLength - 1;
            // A lone quote opens and closes an empty group.
            strOut = nClose > nOpen ? m_strCmdLine.Mid(nOpen + 1, nClose - nOpen - 1) : CString();
            m_pszToken = pszLast;
            return;
        }
        char16_t* pszNext = NextToken();
        if (!pszNext) {
            strOut = m_strCmdLine.Mid(nOpen + 1);
            m_pszToken = nullptr;
            m_pszScan = nullptr;
            return;
        }
        pszLast = pszNext;
    }
}
