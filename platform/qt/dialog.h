// CDialog over QDialog: a dialog built from a template in dialog units, with
// data exchange, a message map for button clicks and posted messages, and a
// modal loop. The template's units become pixels from the dialog font's
// average character width and height (x * width / 4, y * height / 8).
#pragma once

#include <QDialog>
#include <QIcon>

#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "platform/qt/gui_thread.h"
#include "platform/qt/wnd.h"

using INT_PTR = intptr_t;
using LRESULT = intptr_t;

inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT BN_CLICKED = 0;

// The kinds of control a template holds.
enum class DlgItemKind {
    PushButton,
    DefPushButton,  // push button with the default-button style
    Label,
    GroupBox,
    Edit,               // border, horizontal auto-scroll
    ComboDropDownList,  // a list: no typing
    ComboDropDown,      // a drop-down with an edit field: typing allowed
    AutoCheckBox,       // a check box that toggles itself when clicked
};

struct DlgItemTemplate {
    int nID;  // -1: a control without an id (labels, group boxes)
    DlgItemKind kind;
    const char16_t* pszText;
    int x, y, cx, cy;     // dialog units; a drop-down's height includes its list
    const char* pszName;  // object name, for tests and accessibility tools
};

struct DlgTemplate {
    const char16_t* pszCaption;
    const char16_t* pszFont;
    int nPointSize;
    int cx, cy;
    std::span<const DlgItemTemplate> items;
};

// A window icon: a handle on a QIcon that the icon table owns.
using HICON = const QIcon*;
// Registers the icon of resource nID; LoadIconW then finds it.
void AfxRegisterIcon(UINT nID, const QIcon& icon);
HICON LoadIconW(UINT nID);

class CDialog;

class CDataExchange {
public:
    CDataExchange(CDialog* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;  // TRUE: controls to members
    CDialog* m_pDlgWnd;
};

// Binds a control object to the dialog's control nID.
void DDX_Control(CDataExchange* pDX, int nIDC, CWidgetWnd& rControl);
// Copies the text of control nIDC to or from value.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

// One entry of a dialog's message map: a click on control nID
// (message WM_COMMAND) or a posted message (nID 0).
struct CMessageMapEntry {
    UINT nMessage;
    int nID;
    std::function<LRESULT(WPARAM, LPARAM)> handler;
};

class CDialog : public CWidgetWnd {
public:
    explicit CDialog(const DlgTemplate& dlgTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Builds the window, runs OnInitDialog and the modal loop; returns the
    // code given to EndDialog (IDCANCEL for Escape and the close box).
    virtual INT_PTR DoModal();
    // Builds the window and runs OnInitDialog without a modal loop (a
    // modeless dialog: tests drive it this way).
    BOOL Create();
    void EndDialog(int nResult);
    // The window, once created.
    [[nodiscard]] QDialog* GetQDialog() const;

    CWidgetWnd* GetDlgItem(int nID) const;
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    // Sets the big (title bar, task switcher) or small window icon; Qt keeps
    // one icon with several sizes, so both set the same.
    void SetIcon(HICON hIcon, BOOL bBigIcon);

    // Queues the message for the dialog's thread; never waits, never merges.
    BOOL PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Queues a call for the dialog's thread, in order with the posted
    // messages; FALSE before the window exists.
    BOOL PostCall(std::function<void()> call);
    // Handles one message through the message map (clicks on IDOK and
    // IDCANCEL fall back to OnOK and OnCancel). 0 when nothing handled it.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual std::vector<CMessageMapEntry> GetMessageMap();
    virtual void OnOK();
    virtual void OnCancel();

    // Message-map entries for a click handler and a message handler.
    template <class T>
    static CMessageMapEntry OnClicked(int nID, T* pThis, void (T::*pfn)()) {
        return {WM_COMMAND, nID, [pThis, pfn](WPARAM, LPARAM) -> LRESULT {
                    (pThis->*pfn)();
                    return 0;
                }};
    }
    template <class T>
    static CMessageMapEntry OnMessage(UINT nMessage, T* pThis, LRESULT (T::*pfn)(WPARAM, LPARAM)) {
        return {nMessage, 0, [pThis, pfn](WPARAM wParam, LPARAM lParam) {
                    return (pThis->*pfn)(wParam, lParam);
                }};
    }

private:
    class Window;
    void BuildWindow();
    void CreateControl(const DlgItemTemplate& item, int baseX, int baseY);

    const DlgTemplate& m_template;
    CWnd* m_pParentWnd;
    std::unique_ptr<Window> m_pWindow;
    std::map<int, std::unique_ptr<CWidgetWnd>> m_controls;
    std::vector<CMessageMapEntry> m_messageMap;
    CPostedCalls* m_pPosted = nullptr;  // a child of the window
    bool m_bHasDefault = false;
};
