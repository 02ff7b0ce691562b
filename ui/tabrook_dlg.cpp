// CTabrookDlg: the window, its option lists, starting, stopping and
// watching a conversion, the choosers and help.
#include "ui/tabrook_dlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "odbc/find_excel_driver.h"
#include "odbc/worksheetlist.h"
#include "platform/qt/choosers.h"
#include "platform/winapi.h"
#include "ui/dir_dialog.h"
#include "ui/output_path.h"
#include "ui/tabrook_rc.h"

namespace {

// The longest path the workbook chooser's buffer takes, with its NUL.
constexpr int kFileBufferSize = 520;

}  // namespace

CTabrookDlg::CTabrookDlg(CWnd* pParent) : CDialog(ConvertDialogTemplate(), pParent) {
    RegisterTabrookResources();
    m_hIcon = LoadIconW(IDR_MAINFRAME);
}

CTabrookDlg::~CTabrookDlg() {
    WaitForWorkers();
}

INT_PTR CTabrookDlg::DoModal() {
    const INT_PTR nResult = CDialog::DoModal();
    WaitForWorkers();
    return nResult;
}

std::vector<CMessageMapEntry> CTabrookDlg::GetMessageMap() {
    return {
        OnClicked(IDC_CONVERT, this, &CTabrookDlg::OnStartConversion),
        OnClicked(IDC_BROWSE_EXCEL, this, &CTabrookDlg::OnBrowseExcelFile),
        OnClicked(IDC_BROWSE_TEXT, this, &CTabrookDlg::OnBrowseTextFile),
        OnClicked(IDC_STOP, this, &CTabrookDlg::OnStopConversion),
        OnClicked(ID_HELP, this, &CTabrookDlg::OnHelpButton),
        OnMessage(WM_CONVERT_PROGRESS, this, &CTabrookDlg::OnProgress),
    };
}

void CTabrookDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_WORKSHEET, m_cbWorksheet);
    DDX_Control(pDX, IDC_FILE_FORMAT, m_cbFileFormat);
    DDX_Control(pDX, IDC_VALUES_DISPLAYED, m_chkValuesDisplayed);
    DDX_Control(pDX, IDC_EXCEL_FILE, m_edExcelFile);
    DDX_Text(pDX, IDC_TEXT_FILE, m_strTextFile);
    DDX_Control(pDX, IDC_CHARSET, m_cbCharset);
    DDX_Control(pDX, IDC_DELIMITER, m_cbDelimiter);
    DDX_Control(pDX, IDC_PROGRESS_LABEL, m_stProgressLabel);
    DDX_Control(pDX, IDC_RECORD_COUNT, m_stRecordCount);
}

BOOL CTabrookDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    m_edExcelFile.SetReadOnly(TRUE);
    for (const char16_t* psz : {u"UTF-8", u"ANSI", u"Unicode"}) m_cbCharset.AddString(psz);
    m_cbCharset.SetCurSel(0);
    for (const char16_t* psz : {u"|", u"\u00D8", u",", u";", u"{tab}", u"{space}"})
        m_cbDelimiter.AddString(psz);
    m_cbDelimiter.SetCurSel(0);
    for (const char16_t* psz : {u"Windows", u"Unix", u"Mac"}) m_cbFileFormat.AddString(psz);
    m_cbFileFormat.SetCurSel(0);
    GetDlgItem(IDC_STOP)->EnableWindow(FALSE);
    m_stProgressLabel.SetWindowTextW(u"");
    return TRUE;
}

// Conversion control.

void CTabrookDlg::OnStartConversion() {
    UpdateData(TRUE);
    const CString strExcelFile = m_edExcelFile.GetWindowText();
    const CString strWorksheet = m_cbWorksheet.GetWindowText();
    if (strExcelFile.IsEmpty() || m_strTextFile.IsEmpty())
        return;
    if (strWorksheet.IsEmpty()) {
        AfxMessageBox(u"Choose or type worksheet name", MB_OK);
        return;
    }
    // A workbook converted onto itself would be destroyed: no question
    // whether to overwrite it.
    if (IsSameFile(strExcelFile, m_strTextFile)) {
        AfxMessageBox(u"The output file is the workbook itself.", MB_OK);
        return;
    }
    m_bOverwrite = true;
    if (FileExists(m_strTextFile)) {
        CString strQuestion;
        strQuestion.Format(u"File %s already exists\nYes: Overwrite file\nNo: Append to file",
                           m_strTextFile);
        switch (AfxMessageBox(strQuestion, MB_YESNOCANCEL | MB_ICONQUESTION)) {
            case IDYES:
                break;
            case IDNO:
                m_bOverwrite = false;
                break;
            default:
                return;
        }
    }
    // A workbook path typed after a cancelled chooser had no worksheet-list
    // load to find the driver.
    if (m_strExcelDriver.IsEmpty())
        m_strExcelDriver = FindExcelDriver();
    SwapButtons(IDC_STOP, IDC_CONVERT);
    CString strCaption;
    strCaption.LoadString(IDS_PROCESSING_RECORD);
    m_stProgressLabel.SetWindowTextW(strCaption);
    m_stRecordCount.SetWindowTextW(u"");
    auto* pThread = static_cast<CConvertThread*>(
        AfxBeginThread(RUNTIME_CLASS(CConvertThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
    if (!pThread) {
        // Back to idle; the last run's worker stays the current one.
        ShowIdle(u"");
        AfxMessageBox(u"The conversion could not be started: the system refused a new thread.",
                      MB_OK);
        return;
    }
    pThread->m_pDlg = this;
    pThread->m_pPrevious = m_pThread;
    // The end comes through the same queue as the progress messages, so it
    // follows the run's last one.
    pThread->m_pfnEnded = [this, pThread] {
        PostCall([this, pThread] { OnWorkerEnded(pThread); });
    };
    m_pThread = pThread;
    ++m_nRunning;
    ResumeThread(pThread->m_hThread);
}

CConvertSettings CTabrookDlg::ReadSettings() {
    CConvertSettings settings;
    RunOnGuiThread([&] {
        settings.strExcelFile = m_edExcelFile.GetWindowText();
        settings.strOutputFile = m_strTextFile;
        settings.strDriver = m_strExcelDriver;
        settings.strWorksheet = m_cbWorksheet.GetWindowText();
        settings.strEncoding = m_cbCharset.GetWindowText();
        settings.strDelimiter = m_cbDelimiter.GetWindowText();
        settings.strOSType = m_cbFileFormat.GetWindowText();
        settings.bOverwrite = m_bOverwrite;
        settings.bValuesDisplayed = m_chkValuesDisplayed.GetCheck() == BST_CHECKED;
    });
    return settings;
}

void CTabrookDlg::OnStopConversion() {
    if (m_pThread)
        m_pThread->RequestStop();
    CString strCaption;
    strCaption.LoadString(IDS_TOTAL_RECORDS);
    ShowIdle(strCaption);
}

void CTabrookDlg::OnWorkerEnded(const CConvertThread* pThread) {
    --m_nRunning;
    // A run that ends after a newer one began stops nothing of the newer
    // run and leaves its buttons alone.
    if (pThread == m_pThread)
        OnStopConversion();
}

void CTabrookDlg::ShowIdle(const CString& strCaption) {
    SwapButtons(IDC_CONVERT, IDC_STOP);
    m_stProgressLabel.SetWindowTextW(strCaption);
}

void CTabrookDlg::SwapButtons(int nEnable, int nDisable) {
    CWidgetWnd* pOn = GetDlgItem(nEnable);
    CWidgetWnd* pOff = GetDlgItem(nDisable);
    pOn->EnableWindow(TRUE);
    // A button that goes grey with the keyboard on it hands the keyboard to
    // the one that comes on, not to the next control in the tab order (the
    // read-only workbook box, whose text would show selected).
    if (pOff->HasFocus())
        pOn->SetFocus();
    pOff->EnableWindow(FALSE);
}

LRESULT CTabrookDlg::OnProgress(WPARAM /*wParam*/, LPARAM lParam) {
    ShowRecordNumber(static_cast<int>(lParam));
    UpdateData(FALSE);
    return 1;
}

void CTabrookDlg::ShowRecordNumber(int nRecord) {
    CString strNumber;
    strNumber.Format(u"%d", nRecord);
    m_stRecordCount.SetWindowTextW(strNumber);
}

bool CTabrookDlg::FileExists(const CString& strPath) {
    const DWORD attributes = GetFileAttributesW(strPath);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Convert comes back only once the last run started has ended or was asked
// to stop, so that run is the only one that may still need a stop request.

void CTabrookDlg::OnCancel() {
    if (m_pThread)
        m_pThread->RequestStop();
    CDialog::OnCancel();
}

void CTabrookDlg::WaitForWorkers() {
    if (m_pThread)
        m_pThread->RequestStop();
    // A worker may still read the controls, show a message box or post
    // progress: keep serving events until every ended notification has come.
    while (m_nRunning > 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Choosers and help.

void CTabrookDlg::OnBrowseExcelFile() {
    UpdateData(TRUE);
    m_edExcelFile.SetReadOnly(FALSE);
    const CString strCurrent = m_edExcelFile.GetWindowText();
    CFileDialog chooser(TRUE, u".xls", nullptr, OFN_EXPLORER | OFN_FILEMUSTEXIST,
                        u"Excel Files (*.xls *.xlsx *.xlsm)|*.xls;*.xlsx;*.xlsm|"
                        u"All files (*)|*||",
                        this);
    std::u16string buffer(kFileBufferSize, u'\0');
    std::copy_n(strCurrent.GetString(), std::min(strCurrent.GetLength(), kFileBufferSize - 1),
                buffer.begin());
    chooser.m_ofn.lpstrFile = buffer.data();
    chooser.m_ofn.nMaxFile = kFileBufferSize;
    if (chooser.DoModal() != IDOK)
        return;  // the box stays writable: the user may type a path now
    UpdateData(TRUE);
    const CString strPath = chooser.GetPathName();
    m_edExcelFile.SetWindowTextW(strPath);
    UpdateData(FALSE);
    if (strPath.Find(u'/') >= 0 || strPath.Find(u'\\') >= 0)
        m_strExcelName = FileNamePart(strPath);
    m_edExcelFile.SetReadOnly(TRUE);
    m_strTextFile = OutputPathFor(strPath);
    UpdateData(FALSE);
    LoadWorksheetList();
}

void CTabrookDlg::LoadWorksheetList() {
    // A large workbook keeps the window busy for a while.
    const CWaitCursor wait;
    const CString strWorkbook = m_edExcelFile.GetWindowText();
    m_strExcelDriver = FindExcelDriver();
    if (m_strExcelDriver.IsEmpty()) {
        AfxMessageBox(u"No Excel ODBC driver found", MB_OK);
        return;
    }
    CWorksheetList list;
    const BOOL bLoaded = list.Load(m_strExcelDriver, strWorkbook);
    if (list.m_bReplaced) {
        m_cbWorksheet.ResetContent();
        for (const CString& strName : list.m_arrNames) m_cbWorksheet.AddString(strName);
        m_cbWorksheet.SetCurSel(0);
    }
    // A catalogue the driver does not offer is no database error: the list
    // simply stays as it was.
    if (!bLoaded && list.m_strError.Find(u"Database error: ") == 0)
        AfxMessageBox(list.m_strError, MB_OK);
}

void CTabrookDlg::OnBrowseTextFile() {
    UpdateData(TRUE);
    CDirDialog chooser;
    if (!m_strTextFile.IsEmpty())
        chooser.m_strStartFolder = m_strTextFile;
    if (chooser.BrowseForFolder()) {
        CString strFolder = chooser.m_strFolder;
        if (!strFolder.IsEmpty() && strFolder[strFolder.GetLength() - 1] == u'/')
            strFolder = strFolder.Left(strFolder.GetLength() - 1);  // the root "/"
        m_strTextFile = strFolder + u"/" + OutputFileName(m_strExcelName);
    }
    UpdateData(FALSE);
}

CString CTabrookDlg::HelpAddress() {
    const QString host = QStringLiteral(TABROOK_HELP_HOST);
    if (!host.isEmpty())
        return FromQString(host + QStringLiteral("/tabrookhelp.htm"));
    // The page installed with the program, found from the program's own
    // place; when that cannot be read, in the installed data folder, never
    // relative to the current folder.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QString page =
        QFileInfo(exe).isAbsolute()
            ? QDir::cleanPath(QFileInfo(exe).absolutePath() +
                              QStringLiteral("/" TABROOK_HELP_RELDIR "/tabrookhelp.htm"))
            : QStringLiteral(TABROOK_HELP_INSTALLED_DIR "/tabrookhelp.htm");
    return FromQString(QUrl::fromLocalFile(page).toString());
}

void CTabrookDlg::OnHelpButton() {
    const CString strAddress = HelpAddress();
    if (ShellExecuteW(nullptr, u"open", strAddress, nullptr, nullptr, SW_SHOW) > 32)
        return;
    // The installed page is named by its path, a web page by its address.
    const QUrl url(ToQString(strAddress));
    const CString strPage = url.isLocalFile() ? FromQString(url.toLocalFile()) : strAddress;
    AfxMessageBox(u"The help page " + strPage + u" cannot be opened:\n" + ShellExecuteErrorText(),
                  MB_OK);
}
