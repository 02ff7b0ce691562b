// CWinApp: the application object. One global instance registers itself;
// AfxWinMain captures the command line, calls InitInstance and ends with
// ExitInstance's status. No message loop runs: this program's InitInstance
// always returns FALSE.
#pragma once

#include "platform/cstring.h"
#include "platform/types.h"

class CWinApp {
public:
    explicit CWinApp(const char16_t* pszAppName = nullptr);
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    virtual BOOL InitInstance() { return FALSE; }
    // The process exit status.
    virtual int ExitInstance() { return 0; }

    CString m_strAppName;
};

// The application object, or null before it is constructed.
CWinApp* AfxGetApp();

// The process arguments as main received them (what a GUI toolkit is
// started with); 0 and null before AfxWinMain.
int& AfxGetArgc();
char** AfxGetArgv();

// The program's entry: captures argv as the command line, runs the
// application object and returns its exit status.
int AfxWinMain(int argc, char** argv);
