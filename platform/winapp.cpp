// The application object's registration and the process entry sequence.
#include "platform/winapp.h"

#include "platform/winapi.h"

namespace {
CWinApp* g_pApp = nullptr;
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
    SetProcessCommandLine(argc, argv);
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return 1;
    pApp->InitInstance();
    return pApp->ExitInstance();
}
