// The choosers, message boxes and the shell's "open" over Qt.
#include "platform/qt/choosers.h"

#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <mutex>

namespace {

std::mutex g_hookMutex;
FileChooserHook g_fileHook;
FolderChooserHook g_folderHook;
QPointer<QDialog> g_mainWindow;

template <class Hook>
Hook CopyHook(const Hook& hook) {
    std::lock_guard lock(g_hookMutex);
    return hook;
}

// "Excel Files (*.xls)|*.xls||" -> {("Excel Files (*.xls)", "*.xls")}.
std::vector<std::pair<CString, CString>> ParseFilter(const CString& filter) {
    std::vector<std::pair<CString, CString>> result;
    std::vector<CString> parts;
    int start = 0;
    for (int bar = filter.Find(u'|'); bar >= 0; bar = filter.Find(u'|', start)) {
        parts.push_back(filter.Mid(start, bar - start));
        start = bar + 1;
    }
    for (size_t i = 0; i + 1 < parts.size() && !parts[i].IsEmpty(); i += 2)
        result.emplace_back(parts[i], parts[i + 1]);
    return result;
}

QString QtFilter(const std::pair<CString, CString>& filter) {
    // Qt reads the patterns from the parentheses; the framework lists them
    // apart, separated by ";".
    QString patterns = ToQString(filter.second);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    return ToQString(filter.first) + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

std::optional<CString> RunQtFileChooser(const FileChooserRequest& request, QWidget* parent) {
    QFileDialog chooser(parent);
    chooser.setAcceptMode(request.bOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    chooser.setFileMode((request.dwFlags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                              : QFileDialog::AnyFile);
    QStringList filters;
    for (const auto& filter : request.filters) filters << QtFilter(filter);
    if (!filters.isEmpty())
        chooser.setNameFilters(filters);
    if (!request.strDefExt.IsEmpty())
        chooser.setDefaultSuffix(
            ToQString(request.strDefExt).remove(0, request.strDefExt[0] == u'.' ? 1 : 0));
    if (!request.strInitialPath.IsEmpty()) {
        const QFileInfo initial(ToQString(request.strInitialPath));
        chooser.setDirectory(initial.absolutePath());
        chooser.selectFile(initial.fileName());
    }
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return std::nullopt;
    return FromQString(QDir::toNativeSeparators(chooser.selectedFiles().constFirst()));
}

std::optional<CString> RunQtFolderChooser(const FolderChooserRequest& request) {
    QFileDialog chooser;  // no owner: the other windows stay usable
    chooser.setWindowModality(Qt::NonModal);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly, true);
    chooser.setWindowTitle(ToQString(request.strPrompt));
    chooser.setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    if (!request.strStartPath.IsEmpty()) {
        // The start path usually names a file in the folder to preselect.
        const QFileInfo start(ToQString(request.strStartPath));
        chooser.setDirectory(start.isDir() ? start.absoluteFilePath() : start.absolutePath());
    }
    QEventLoop loop;
    QObject::connect(&chooser, &QDialog::finished, &loop, &QEventLoop::quit);
    chooser.show();
    loop.exec();
    if (chooser.result() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return std::nullopt;
    const QFileInfo folder(chooser.selectedFiles().constFirst());
    if (!folder.isDir())
        return std::nullopt;  // only folders of the file system
    return FromQString(folder.absoluteFilePath());
}

int ShowQtMessageBox(const CString& text, UINT type) {
    QMessageBox box(g_mainWindow.data());
    box.setWindowTitle(QStringLiteral("Tabrook"));
    box.setText(ToQString(text));
    if ((type & 0xF) == MB_YESNOCANCEL) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // Without an icon flag, the framework shows a warning sign for an OK
    // box and a question mark for a question.
    const UINT icon = type & 0xF0;
    if (icon == MB_ICONQUESTION || (icon == 0 && (type & 0xF) == MB_YESNOCANCEL))
        box.setIcon(QMessageBox::Question);
    else
        box.setIcon(QMessageBox::Warning);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        default:
            return IDOK;
    }
}

}  // namespace

void SetFileChooserHook(FileChooserHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_fileHook = std::move(hook);
}

void SetFolderChooserHook(FolderChooserHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_folderHook = std::move(hook);
}

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char16_t* lpszDefExt,
                         const char16_t* lpszFileName, DWORD dwFlags, const char16_t* lpszFilter,
                         CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog),
      m_strDefExt(lpszDefExt),
      m_strFileName(lpszFileName),
      m_strFilter(lpszFilter),
      m_pParentWnd(pParentWnd) {
    m_ofn.Flags = dwFlags;
}

FileChooserRequest CFileDialog::Request() const {
    FileChooserRequest request;
    request.bOpen = m_bOpenFileDialog != FALSE;
    request.strInitialPath = m_ofn.lpstrFile ? CString(m_ofn.lpstrFile) : m_strFileName;
    request.strDefExt = m_strDefExt;
    request.dwFlags = m_ofn.Flags;
    request.filters = ParseFilter(m_strFilter);
    return request;
}

INT_PTR CFileDialog::DoModal() {
    const FileChooserRequest request = Request();
    std::optional<CString> chosen;
    if (FileChooserHook hook = CopyHook(g_fileHook)) {
        chosen = hook(request);
    } else {
        auto* pParent = dynamic_cast<CWidgetWnd*>(m_pParentWnd);
        RunOnGuiThread(
            [&] { chosen = RunQtFileChooser(request, pParent ? pParent->GetWidget() : nullptr); });
    }
    if (!chosen)
        return IDCANCEL;
    m_strFileName = *chosen;
    if (m_ofn.lpstrFile && m_ofn.nMaxFile > 0) {
        const int n = std::min(chosen->GetLength(), static_cast<int>(m_ofn.nMaxFile) - 1);
        std::copy_n(chosen->GetString(), n, m_ofn.lpstrFile);
        m_ofn.lpstrFile[n] = u'\0';
    }
    return IDOK;
}

CString CFileDialog::GetPathName() const {
    return m_strFileName;
}

BOOL AfxBrowseForFolder(const CString& strStartPath, const CString& strPrompt, CString& strFolder) {
    const FolderChooserRequest request{strStartPath, strPrompt};
    std::optional<CString> chosen;
    if (FolderChooserHook hook = CopyHook(g_folderHook))
        chosen = hook(request);
    else
        RunOnGuiThread([&] { chosen = RunQtFolderChooser(request); });
    if (!chosen)
        return FALSE;
    strFolder = *chosen;
    return TRUE;
}

INT_PTR ShellExecuteW(CWnd* /*hWnd*/, const char16_t* lpOperation, const char16_t* lpFile,
                      const char16_t* /*lpParameters*/, const char16_t* /*lpDirectory*/,
                      int /*nShowCmd*/) {
    if (CString(lpOperation) != u"open" || !lpFile)
        return 0;
    bool bOpened = false;
    const QUrl url(ToQString(CString(lpFile)));
    RunOnGuiThread([&] { bOpened = QDesktopServices::openUrl(url); });
    return bOpened ? 42 : 0;
}

MessageBoxHandler AfxInstallQtMessageBox() {
    return SetMessageBoxHandler([](const CString& text, UINT type) {
        int answer = IDOK;
        RunOnGuiThread([&] { answer = ShowQtMessageBox(text, type); });
        return answer;
    });
}

void AfxSetMainWnd(CDialog* pWnd) {
    RunOnGuiThread([&] { g_mainWindow = pWnd ? pWnd->GetQDialog() : nullptr; });
}
