// The window services that the conversion engine needs without depending on
// a GUI: a notify window that progress messages are posted to, and the
// message box that dialog-mode errors are shown in. The dialog installs the
// real ones; batch runs never load a GUI toolkit and never reach them.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/cstring.h"
#include "platform/types.h"

using WPARAM = uintptr_t;
using LPARAM = intptr_t;

constexpr UINT WM_APP = 0x8000;
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// A window that can receive posted messages. Posting never waits for the
// window's thread.
class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;
    virtual BOOL PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// Shows a message box with the given text and style and returns the button
// pressed. Until a GUI installs its handler, the text goes to standard error
// and the answer is IDOK.
int AfxMessageBox(const char16_t* text, UINT type = MB_OK, UINT helpId = 0);

using MessageBoxHandler = std::function<int(const CString& text, UINT type)>;
// Installs the handler that AfxMessageBox calls (an empty one restores the
// standard-error fallback). Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
