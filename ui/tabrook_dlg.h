// CTabrookDlg: the program's window in a dialog run. The user names the
// workbook (its chooser also derives the output path and fills the worksheet
// list from the workbook's catalogue), the output file, the worksheet, the
// character set, the delimiter, the line endings and whether numbers are
// written as their formats show them, starts a conversion on
// a worker thread, watches its record counter and can stop it.
#pragma once

#include "convert/convert_thread.h"
#include "platform/qt/dialog.h"

class CTabrookDlg : public CDialog, public CConvertDialog {
public:
    explicit CTabrookDlg(CWnd* pParent = nullptr);
    // Waits for the workers (WaitForWorkers) if that has not been done.
    ~CTabrookDlg() override;
    CTabrookDlg(const CTabrookDlg&) = delete;
    CTabrookDlg& operator=(const CTabrookDlg&) = delete;

    // Runs the dialog modally; when the window closes, stops every run
    // still going and waits for its worker, so none outlives the window.
    INT_PTR DoModal() override;
    // Stops every run still going and waits for its worker, serving the
    // worker's requests meanwhile. Whoever ends a dialog that was not run
    // with DoModal calls it before destroying the dialog.
    void WaitForWorkers();

    // The worker's side (any thread).
    CConvertSettings ReadSettings() override;
    CWnd* GetNotifyWnd() override { return this; }

    // Click handlers and the progress message. OnStopConversion is also the
    // end of the last run started.
    void OnStartConversion();
    void OnStopConversion();
    void OnBrowseExcelFile();
    void OnBrowseTextFile();
    void OnHelpButton();
    LRESULT OnProgress(WPARAM wParam, LPARAM lParam);

    void LoadWorksheetList();
    void ShowRecordNumber(int nRecord);
    // TRUE when the path exists and is not a folder.
    static bool FileExists(const CString& strPath);
    // The address the Help button opens.
    static CString HelpAddress();

    HICON m_hIcon = nullptr;
    CConvertThread* m_pThread = nullptr;  // the worker last started; owned by the framework
    CComboBox m_cbWorksheet;
    CComboBox m_cbCharset;
    CComboBox m_cbDelimiter;
    CComboBox m_cbFileFormat;
    CButton m_chkValuesDisplayed;  // numbers as their number formats show them
    CEdit m_edExcelFile;
    CStatic m_stProgressLabel;
    CStatic m_stRecordCount;
    CString m_strTextFile;
    CString m_strExcelDriver;
    CString m_strExcelName;
    bool m_bOverwrite = true;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    std::vector<CMessageMapEntry> GetMessageMap() override;
    // Cancel, Escape and the close box: a run still going is asked to stop
    // at once; the window then ends (and waits for its workers as it goes).
    void OnCancel() override;

private:
    // A worker's ended notification, on the dialog's thread.
    void OnWorkerEnded(const CConvertThread* pThread);
    void ShowIdle(const CString& strCaption);
    // Enables one of Convert and Stop and disables the other.
    void SwapButtons(int nEnable, int nDisable);

    int m_nRunning = 0;  // workers started whose ended notification has not come yet
};
