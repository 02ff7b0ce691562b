// Window and control operations on their widgets, always on the GUI thread.
#include "platform/qt/wnd.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/qt/gui_thread.h"

QString ToQString(const CString& s) {
    return QString::fromUtf16(s.GetString(), s.GetLength());
}

CString FromQString(const QString& s) {
    return CString(std::u16string_view(reinterpret_cast<const char16_t*>(s.utf16()),
                                       static_cast<size_t>(s.size())));
}

namespace {

QString TextOf(const QWidget* w) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(w))
        return edit->text();
    if (const auto* combo = qobject_cast<const QComboBox*>(w))
        return combo->currentText();
    if (const auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    if (const auto* group = qobject_cast<const QGroupBox*>(w))
        return group->title();
    return w->windowTitle();
}

void SetTextOf(QWidget* w, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        // Setting the same text again would only reset the cursor.
        if (edit->text() != text)
            edit->setText(text);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable())
            combo->setEditText(text);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(text);
    } else {
        w->setWindowTitle(text);
    }
}

// Runs fn(combo) on the GUI thread when this control is a combo box.
template <class Fn>
auto OnCombo(const QPointer<QWidget>& widget, Fn fn) -> decltype(fn(nullptr)) {
    decltype(fn(nullptr)) result{};
    RunOnGuiThread([&] {
        if (auto* combo = qobject_cast<QComboBox*>(widget.data()))
            result = fn(combo);
    });
    return result;
}

}  // namespace

BOOL CWidgetWnd::PostMessageW(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return FALSE;
}

void CWidgetWnd::GetWindowTextW(CString& rString) const {
    rString = GetWindowText();
}

CString CWidgetWnd::GetWindowText() const {
    CString text;
    RunOnGuiThread([&] {
        if (m_pWidget)
            text = FromQString(TextOf(m_pWidget));
    });
    return text;
}

void CWidgetWnd::SetWindowTextW(const char16_t* lpszString) {
    const QString text = ToQString(CString(lpszString));
    RunOnGuiThread([&] {
        if (m_pWidget)
            SetTextOf(m_pWidget, text);
    });
}

BOOL CWidgetWnd::EnableWindow(BOOL bEnable) {
    BOOL bWasDisabled = FALSE;
    RunOnGuiThread([&] {
        if (!m_pWidget)
            return;
        bWasDisabled = m_pWidget->isEnabled() ? FALSE : TRUE;
        m_pWidget->setEnabled(bEnable != FALSE);
    });
    return bWasDisabled;
}

BOOL CWidgetWnd::IsWindowEnabled() const {
    BOOL bEnabled = FALSE;
    RunOnGuiThread([&] { bEnabled = m_pWidget && m_pWidget->isEnabled() ? TRUE : FALSE; });
    return bEnabled;
}

BOOL CWidgetWnd::HasFocus() const {
    BOOL bFocus = FALSE;
    RunOnGuiThread([&] {
        bFocus = m_pWidget && m_pWidget->window()->focusWidget() == m_pWidget ? TRUE : FALSE;
    });
    return bFocus;
}

void CWidgetWnd::SetFocus() {
    RunOnGuiThread([&] {
        if (m_pWidget)
            m_pWidget->setFocus(Qt::OtherFocusReason);
    });
}

CWaitCursor::CWaitCursor() {
    RunOnGuiThread([] { QApplication::setOverrideCursor(Qt::WaitCursor); });
}

CWaitCursor::~CWaitCursor() {
    RunOnGuiThread([] { QApplication::restoreOverrideCursor(); });
}

BOOL CEdit::SetReadOnly(BOOL bReadOnly) {
    BOOL bDone = FALSE;
    RunOnGuiThread([&] {
        if (auto* edit = qobject_cast<QLineEdit*>(m_pWidget.data())) {
            edit->setReadOnly(bReadOnly != FALSE);
            bDone = TRUE;
        }
    });
    return bDone;
}

int CButton::GetCheck() const {
    int nCheck = BST_UNCHECKED;
    RunOnGuiThread([&] {
        if (const auto* button = qobject_cast<const QAbstractButton*>(m_pWidget.data()))
            nCheck = button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
    });
    return nCheck;
}

void CButton::SetCheck(int nCheck) {
    RunOnGuiThread([&] {
        if (auto* button = qobject_cast<QAbstractButton*>(m_pWidget.data());
            button && button->isCheckable())
            button->setChecked(nCheck == BST_CHECKED);
    });
}

int CComboBox::AddString(const char16_t* lpszString) {
    const QString text = ToQString(CString(lpszString));
    return OnCombo(m_pWidget, [&](QComboBox* combo) {
        if (!combo)
            return CB_ERR;
        combo->addItem(text);
        return combo->count() - 1;
    });
}

int CComboBox::SetCurSel(int nSelect) {
    return OnCombo(m_pWidget, [&](QComboBox* combo) {
        if (!combo || nSelect >= combo->count() || nSelect < -1)
            return CB_ERR;
        combo->setCurrentIndex(nSelect);
        if (nSelect == -1 && combo->isEditable())
            combo->setEditText(QString());
        return nSelect == -1 ? CB_ERR : nSelect;
    });
}

int CComboBox::GetCurSel() const {
    return OnCombo(m_pWidget,
                   [](QComboBox* combo) { return combo ? combo->currentIndex() : CB_ERR; });
}

void CComboBox::ResetContent() {
    OnCombo(m_pWidget, [](QComboBox* combo) {
        if (combo) {
            combo->clear();
            if (combo->isEditable())
                combo->setEditText(QString());
        }
        return 0;
    });
}

int CComboBox::GetCount() const {
    return OnCombo(m_pWidget, [](QComboBox* combo) { return combo ? combo->count() : 0; });
}

void CComboBox::GetLBText(int nIndex, CString& rString) const {
    rString = OnCombo(m_pWidget, [&](QComboBox* combo) {
        return combo ? FromQString(combo->itemText(nIndex)) : CString();
    });
}
