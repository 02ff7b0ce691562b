// CCommandLine: splits the process command line into arguments, each an
// optional switch ("/x" or "-x") and an optional value. Tokens are separated
// by spaces only (tabs stay inside a token); a token that begins with a
// double quote opens a group that runs to the first token ending in one.
#pragma once

#include <memory>

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
    void ReadToken(CString& strOut, char16_t* pszStart);
    char16_t* NextToken();

    std::unique_ptr<char16_t[]> m_pszBuffer;
    char16_t* m_pszToken = nullptr;
    char16_t* m_pszScan = nullptr;  // where the tokenizer resumes
};
