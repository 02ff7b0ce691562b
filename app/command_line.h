// CCommandLine: splits the process command line into arguments, each an
// optional switch ("/x" or "-x") and an optional value. Tokens are separated
// by spaces only (tabs stay inside a token); a token that begins with a
// double quote opens a group that runs to the first token ending in one.
//
// The process's own arguments arrive one by one (argv), and each is one
// token as given, so that every text reads back exactly: a switch is "/" or
// "-" followed by letters only ("/A", "-a", a bare "-"); anything else is a
// value, whole (a leading space, quotes, a path beginning with "-" or "/"),
// except that a value wrapped in double quotes as typed ('"-"') loses them.
#pragma once

#include <memory>
#include <vector>

#include "platform/cstring.h"
#include "platform/types.h"

class CCommandLine {
public:
    CCommandLine();
    // Parses the given line instead of the process's (tests, embedding).
    explicit CCommandLine(const CString& strCmdLine);
    virtual ~CCommandLine() = default;
    CCommandLine(const CCommandLine&) = delete;
    CCommandLine& operator=(const CCommandLine&) = delete;

    // Restarts parsing, skips the program name and reads argument 1.
    void GetFirstArg(CString& strSwitch, CString& strValue);
    // Reads the next argument; FALSE, with both outputs empty, at the end.
    BOOL GetNextArg(CString& strSwitch, CString& strValue);

    const CString m_strCmdLine;

private:
    BOOL NextArgument(CString& strSwitch, CString& strValue);

    // The process's arguments, read one token each; empty when a line was
    // given to parse.
    const std::vector<CString> m_arguments;
    size_t m_nArgument = 0;

    void ReadToken(CString& strOut, char16_t* pszStart);
    char16_t* NextToken();

    std::unique_ptr<char16_t[]> m_pszBuffer;
    char16_t* m_pszToken = nullptr;
    char16_t* m_pszScan = nullptr;  // where the tokenizer resumes
};
