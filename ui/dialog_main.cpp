// The dialog module: tabrook opens it (dlopen) only for a dialog run, so a
// batch run never loads Qt. Its one entry starts Qt, runs the dialog and
// returns the process exit status.
#include <QApplication>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>

#include "platform/qt/choosers.h"
#include "platform/thread.h"
#include "ui/tabrook_dlg.h"

namespace {

// Qt ends the process when its default platform finds no X display, so the
// display is tried first. A platform chosen with QT_QPA_PLATFORM is the
// user's own choice and is taken as it is.
bool DisplayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool bUsable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return bUsable;
}

}  // namespace

// 0 when the dialog ran; 2 when there is no display to show it on.
extern "C" __attribute__((visibility("default"))) int TabrookRunDialog(int& argc, char** argv) {
    if (!DisplayAvailable()) {
        std::fputs(
            "tabrook: no display to show the dialog on (DISPLAY is not set or cannot be "
            "opened)\n",
            stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tabrook"));
    QApplication::setDesktopFileName(QStringLiteral("tabrook"));
    const MessageBoxHandler previous = AfxInstallQtMessageBox();
    {
        CTabrookDlg dlg;
        dlg.Create();
        AfxSetMainWnd(&dlg);
        dlg.DoModal();
        AfxSetMainWnd(nullptr);
    }  // the dialog waits for its workers as it goes
    AfxTermThreads();
    SetMessageBoxHandler(previous);
    return 0;
}
