// The application object's registration and the process entry sequence.
#include "platform/winapp.h"

#include "platform/winapi.h"

namespace {
CWinApp* g_pApp = nullptr;
int g_argc = 0;
char** g_argv = nullptr;
}  // namespace

int& AfxGetArgc() {
    return g_argc;
}

char** AfxGetArgv() {
    return g_argv;
}

CWinApp::CWinApp(const char16_t* pszAppName) : m_strAppName(pszAppName ? pszAppName : u"tabrook") {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

int AfxWinMain(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
    SetProcessCommandLine(argc, argv);
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return 1;
    pApp->InitInstance();
    return pApp->ExitInstance();
}
