// The message-box seam: one process-wide handler, standard error until a GUI
// installs its own.
#include "platform/window.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_handlerMutex;
MessageBoxHandler g_handler;

}  // namespace

int AfxMessageBox(const char16_t* text, UINT type, UINT /*helpId*/) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(g_handlerMutex);
        handler = g_handler;
    }
    if (handler)
        return handler(CString(text), type);
    std::fprintf(stderr, "%s\n", CString(text).ToUtf8().c_str());
    return IDOK;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard lock(g_handlerMutex);
    std::swap(g_handler, handler);
    return handler;
}
