// The window half of the framework stand-in over Qt Widgets: a CWnd is a
// handle on a widget (owned by its Qt parent, never by the CWnd), and the
// control classes add their own operations. Every operation may be called
// from any thread: off the GUI thread it runs there while the caller waits,
// as a sent window message would.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/cstring.h"
#include "platform/window.h"

class CWidgetWnd : public CWnd {
public:
    CWidgetWnd() = default;
    explicit CWidgetWnd(QWidget* pWidget) : m_pWidget(pWidget) {}

    // Binds this object to a widget (what DDX_Control does).
    void Attach(QWidget* pWidget) { m_pWidget = pWidget; }
    [[nodiscard]] QWidget* GetWidget() const { return m_pWidget; }

    // Controls take no posted messages; only dialogs do.
    BOOL PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The text of a label, button, edit box, the field of a drop-down, or
    // a window's caption.
    void GetWindowTextW(CString& rString) const;
    [[nodiscard]] CString GetWindowText() const;
    void SetWindowTextW(const char16_t* lpszString);
    BOOL EnableWindow(BOOL bEnable = TRUE);
    [[nodiscard]] BOOL IsWindowEnabled() const;
    // TRUE when this control is the one its window gives the keyboard to
    // (also while the window itself is not active).
    [[nodiscard]] BOOL HasFocus() const;
    // Gives this control the keyboard, as a click would (an edit box's
    // text is not selected).
    void SetFocus();

protected:
    QPointer<QWidget> m_pWidget;
};

class CEdit : public CWidgetWnd {
public:
    // EM_SETREADONLY: TRUE refuses typing, FALSE allows it.
    BOOL SetReadOnly(BOOL bReadOnly = TRUE);
};

class CStatic : public CWidgetWnd {};
inline constexpr int BST_UNCHECKED = 0;
inline constexpr int BST_CHECKED = 1;

class CButton : public CWidgetWnd {
public:
    // BM_GETCHECK / BM_SETCHECK on a check box: BST_CHECKED or
    // BST_UNCHECKED (also for a button that cannot be checked).
    [[nodiscard]] int GetCheck() const;
    void SetCheck(int nCheck);
};

inline constexpr int CB_ERR = -1;

class CComboBox : public CWidgetWnd {
public:
    // CB_ADDSTRING: appends an entry (the lists never sort); its index.
    int AddString(const char16_t* lpszString);
    // CB_SETCURSEL: selects an entry and shows it in the field; -1 clears
    // the selection. CB_ERR for an index out of range.
    int SetCurSel(int nSelect);
    [[nodiscard]] int GetCurSel() const;
    // CB_RESETCONTENT: empties the list and its field.
    void ResetContent();
    [[nodiscard]] int GetCount() const;
    void GetLBText(int nIndex, CString& rString) const;
};

// The hourglass over every window of the program for the lifetime of the
// object (wait cursors nest). Message boxes shown meanwhile still show the
// ordinary pointer.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// Conversions between the stand-in's UTF-16 strings and Qt's.
QString ToQString(const CString& s);
CString FromQString(const QString& s);
