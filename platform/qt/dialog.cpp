// CDialog: building a template's controls, data exchange, message dispatch.
#include "platform/qt/dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

std::map<UINT, QIcon>& IconTable() {
    static std::map<UINT, QIcon> table;
    return table;
}

// The dialog base units of a font: the average width of the Latin letters
// and the font's height, as the dialog manager measures them.
QSize BaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width / 26 + 1) / 2, metrics.height()};
}

}  // namespace

void AfxRegisterIcon(UINT nID, const QIcon& icon) {
    IconTable()[nID] = icon;
}

HICON LoadIconW(UINT nID) {
    const auto found = IconTable().find(nID);
    return found == IconTable().end() ? nullptr : &found->second;
}

// The dialog's top-level window: Escape and the close box end the dialog
// through IDCANCEL; Enter activates only a focused button, so that Enter in
// a field never closes the dialog by surprise.
class CDialog::Window : public QDialog {
public:
    Window(CDialog& owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}
    void reject() override { m_owner.WindowProc(WM_COMMAND, IDCANCEL, 0); }
    void ForceDone(int r) { QDialog::done(r); }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
                button->click();
            return;
        }
        QDialog::keyPressEvent(event);
    }

private:
    CDialog& m_owner;
};

CDialog::CDialog(const DlgTemplate& dlgTemplate, CWnd* pParentWnd)
    : m_template(dlgTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

QDialog* CDialog::GetQDialog() const {
    return m_pWindow.get();
}

INT_PTR CDialog::DoModal() {
    if (!m_pWindow && !Create())
        return -1;
    return m_pWindow->exec();
}

BOOL CDialog::Create() {
    BuildWindow();
    m_messageMap = GetMessageMap();
    if (OnInitDialog()) {
        // Focus on the first tab stop.
        for (const DlgItemTemplate& item : m_template.items) {
            QWidget* w = GetDlgItem(item.nID) ? GetDlgItem(item.nID)->GetWidget() : nullptr;
            if (w && w->isEnabled() && w->focusPolicy() & Qt::TabFocus) {
                w->setFocus();
                break;
            }
        }
    }
    m_pWindow->show();
    return TRUE;
}

void CDialog::BuildWindow() {
    auto* pParent = dynamic_cast<CWidgetWnd*>(m_pParentWnd);
    m_pWindow = std::make_unique<Window>(*this, pParent ? pParent->GetWidget() : nullptr);
    m_pWidget = m_pWindow.get();
    m_pPosted = new CPostedCalls(CPostedCalls::kBatchMs, m_pWindow.get());
    QFont font(ToQString(m_template.pszFont), m_template.nPointSize);
    font.setStyleHint(QFont::SansSerif);
    m_pWindow->setFont(font);
    m_pWindow->setWindowTitle(ToQString(m_template.pszCaption));
    // Caption, close box and a fixed frame: no minimise, maximise or resize.
    m_pWindow->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const QSize base = BaseUnits(font);
    m_pWindow->setFixedSize(m_template.cx * base.width() / 4, m_template.cy * base.height() / 8);
    for (const DlgItemTemplate& item : m_template.items)
        CreateControl(item, base.width(), base.height());
}

void CDialog::CreateControl(const DlgItemTemplate& item, int baseX, int baseY) {
    QWidget* parent = m_pWindow.get();
    const QString text = ToQString(item.pszText);
    QWidget* w = nullptr;
    switch (item.kind) {
        case DlgItemKind::PushButton:
        case DlgItemKind::DefPushButton: {
            auto* button = new QPushButton(text, parent);
            button->setAutoDefault(true);
            // Qt keeps one default button: the first with the style, which is
            // also the first tab stop.
            if (item.kind == DlgItemKind::DefPushButton && !m_bHasDefault) {
                button->setDefault(true);
                m_bHasDefault = true;
            }
            const int nID = item.nID;
            QObject::connect(button, &QPushButton::clicked, button,
                             [this, nID] { WindowProc(WM_COMMAND, static_cast<WPARAM>(nID), 0); });
            w = button;
            break;
        }
        case DlgItemKind::AutoCheckBox: {
            auto* box = new QCheckBox(text, parent);
            const int nID = item.nID;
            QObject::connect(box, &QCheckBox::clicked, box,
                             [this, nID] { WindowProc(WM_COMMAND, static_cast<WPARAM>(nID), 0); });
            w = box;
            break;
        }
        case DlgItemKind::Label:
            w = new QLabel(text, parent);
            static_cast<QLabel*>(w)->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            break;
        case DlgItemKind::GroupBox:
            w = new QGroupBox(text, parent);
            w->setFocusPolicy(Qt::NoFocus);
            break;
        case DlgItemKind::Edit:
            w = new QLineEdit(text, parent);
            break;
        case DlgItemKind::ComboDropDownList:
        case DlgItemKind::ComboDropDown: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(item.kind == DlgItemKind::ComboDropDown);
            combo->setInsertPolicy(QComboBox::NoInsert);  // typed text is not added to the list
            w = combo;
            break;
        }
    }
    w->setObjectName(QString::fromLatin1(item.pszName));
    int height = item.cy * baseY / 8;
    if (auto* combo = qobject_cast<QComboBox*>(w))
        height = std::min(height, combo->sizeHint().height());  // the field, without its list
    w->setGeometry(item.x * baseX / 4, item.y * baseY / 8, item.cx * baseX / 4, height);
    if (item.nID >= 0)
        m_controls[item.nID] = std::make_unique<CWidgetWnd>(w);
}

void CDialog::EndDialog(int nResult) {
    RunOnGuiThread([&] {
        if (m_pWindow)
            m_pWindow->ForceDone(nResult);
    });
}

CWidgetWnd* CDialog::GetDlgItem(int nID) const {
    const auto found = m_controls.find(nID);
    return found == m_controls.end() ? nullptr : found->second.get();
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    RunOnGuiThread([&] {
        CDataExchange dx(this, bSaveAndValidate);
        DoDataExchange(&dx);
    });
    return TRUE;
}

void CDialog::SetIcon(HICON hIcon, BOOL /*bBigIcon*/) {
    if (hIcon && m_pWindow)
        m_pWindow->setWindowIcon(*hIcon);
}

BOOL CDialog::PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) {
    return PostCall([this, message, wParam, lParam] { WindowProc(message, wParam, lParam); });
}

BOOL CDialog::PostCall(std::function<void()> call) {
    if (!m_pPosted)
        return FALSE;
    m_pPosted->Post(std::move(call));
    return TRUE;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const int nID = message == WM_COMMAND ? static_cast<int>(wParam & 0xFFFF) : 0;
    for (const CMessageMapEntry& entry : m_messageMap) {
        if (entry.nMessage == message && entry.nID == nID)
            return entry.handler(wParam, lParam);
    }
    if (message == WM_COMMAND && nID == IDOK)
        OnOK();
    else if (message == WM_COMMAND && nID == IDCANCEL)
        OnCancel();
    return 0;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

std::vector<CMessageMapEntry> CDialog::GetMessageMap() {
    return {};
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWidgetWnd& rControl) {
    if (CWidgetWnd* pItem = pDX->m_pDlgWnd->GetDlgItem(nIDC))
        rControl.Attach(pItem->GetWidget());
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    CWidgetWnd* pItem = pDX->m_pDlgWnd->GetDlgItem(nIDC);
    if (!pItem)
        return;
    if (pDX->m_bSaveAndValidate)
        pItem->GetWindowTextW(value);
    else
        pItem->SetWindowTextW(value);
}
