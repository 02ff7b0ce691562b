// The modal choosers and the shell services: the open-file chooser
// (CFileDialog), the folder chooser, message boxes and opening an address.
// Each chooser can be scripted through a hook (tests); without one the real
// Qt dialog runs.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/qt/dialog.h"

inline constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
inline constexpr DWORD OFN_EXPLORER = 0x00080000;
inline constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;

// What a file chooser was asked for.
struct FileChooserRequest {
    bool bOpen = true;
    CString strInitialPath;  // the text of the file-name buffer
    CString strDefExt;
    DWORD dwFlags = 0;
    std::vector<std::pair<CString, CString>> filters;  // description, patterns
};
// Answers a file chooser: the chosen path, or nothing for a cancel.
using FileChooserHook = std::function<std::optional<CString>(const FileChooserRequest&)>;
void SetFileChooserHook(FileChooserHook hook);

// The part of the file chooser's settings that callers fill in.
struct OPENFILENAMEW {
    DWORD Flags = 0;
    char16_t* lpstrFile = nullptr;  // in: the initial file; out: the chosen path
    DWORD nMaxFile = 0;             // the buffer's size in characters
};

class CFileDialog {
public:
    // The filter is the framework's form: "description|patterns|...||".
    explicit CFileDialog(BOOL bOpenFileDialog, const char16_t* lpszDefExt = nullptr,
                         const char16_t* lpszFileName = nullptr,
                         DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                         const char16_t* lpszFilter = nullptr, CWnd* pParentWnd = nullptr);
    virtual ~CFileDialog() = default;
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK with the chosen path in m_ofn.lpstrFile, or IDCANCEL.
    virtual INT_PTR DoModal();
    [[nodiscard]] CString GetPathName() const;

    OPENFILENAMEW m_ofn;

private:
    FileChooserRequest Request() const;
    BOOL m_bOpenFileDialog;
    CString m_strDefExt;
    CString m_strFileName;
    CString m_strFilter;
    CWnd* m_pParentWnd;
};

// What a folder chooser was asked for.
struct FolderChooserRequest {
    CString strStartPath;  // the item to preselect (may name a file); empty: none
    CString strPrompt;
};
using FolderChooserHook = std::function<std::optional<CString>(const FolderChooserRequest&)>;
void SetFolderChooserHook(FolderChooserHook hook);

// A modal chooser that confirms only folders of the file system; it has no
// owner window, so the program's other windows stay usable while it is open.
// TRUE with the folder's path in strFolder, FALSE when cancelled.
BOOL AfxBrowseForFolder(const CString& strStartPath, const CString& strPrompt, CString& strFolder);

inline constexpr int SW_SHOW = 5;
// Opens an address ("open" verb) with the user's default handler: the
// desktop's opener (xdg-open), or Qt's services where there is none. Above
// 32 when the handler was started, as the shell answers; otherwise 2 for a
// local file that does not exist, 5 for one that cannot be read, 31 when no
// handler took it, and ShellExecuteErrorText says why. The opener never
// writes to the program's terminal, and a page that it could only show as
// text there counts as not opened.
INT_PTR ShellExecuteW(CWnd* hWnd, const char16_t* lpOperation, const char16_t* lpFile,
                      const char16_t* lpParameters, const char16_t* lpDirectory, int nShowCmd);
// Why the calling thread's last ShellExecuteW failed, as a user reads it.
CString ShellExecuteErrorText();

// Makes AfxMessageBox show Qt message boxes on the GUI thread (from any
// thread; a worker waits for the answer). Returns the previous handler.
MessageBoxHandler AfxInstallQtMessageBox();
// The window that message boxes belong to while it exists.
void AfxSetMainWnd(CDialog* pWnd);
