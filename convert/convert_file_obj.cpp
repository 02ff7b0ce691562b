// The conversion job: settings and their checks, the export of a worksheet
// through ODBC into chunks of delimited text, and the one writing routine
// shared by the output file and the error log.
#include "convert/convert_file_obj.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "odbc/connect_string.h"
#include "platform/codepage.h"
#include "textfile/velkor_stdio_file.h"

namespace {

constexpr const char16_t* kOpenFailureBox =
    u"Problem opening output file.\nInvalid path or File may be read only.";
constexpr const char16_t* kOpenFailureLog =
    u"Problem opening output file.\r\nInvalid path or File may be read only.\r\n";
constexpr const char16_t* kOutputBusyBox =
    u"The output file is being written by another conversion; nothing was written to it.";
constexpr const char16_t* kOutputBusyLog =
    u"The output file is being written by another conversion; nothing was written to "
    u"it.\r\n";
constexpr const char16_t* kOutputIsWorkbook = u"The output file is the workbook itself.";
constexpr const char16_t* kOutputIsLog = u"The output file is the error log.";

// Lower-cases the whole name, then capitalises an ASCII first letter, so
// that "windows", "WINDOWS" and "Windows" all read "Windows".
CString NormaliseOSType(CString strOSType) {
    if (strOSType.IsEmpty())
        return strOSType;
    strOSType.MakeLower();
    const char16_t first = strOSType[0];
    if (first >= u'a' && first <= u'z')
        strOSType.SetAt(0, static_cast<char16_t>(first - u'a' + u'A'));
    return strOSType;
}

// TRUE for a worksheet given as the catalogue quotes it, "'" + name + "'",
// followed by "$". A sheet name can neither begin nor end with "'", so such
// a name always means the quoted form.
bool IsQuotedTableName(const CString& strWorksheet) {
    const int n = strWorksheet.GetLength();
    return n >= 4 && strWorksheet[0] == u'\'' && strWorksheet[n - 2] == u'\'' &&
           strWorksheet[n - 1] == u'$';
}

// Why an existing path (links followed) that is neither a regular file nor
// a folder is no workbook; empty for anything else, which the driver opens
// or explains itself.
CString NotARegularFile(const CString& strPath) {
    struct stat st {};
    if (::stat(strPath.ToUtf8().c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
        return {};
    if (S_ISFIFO(st.st_mode))
        return u"it is a FIFO (a named pipe), not a regular file";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return u"it is a device, not a regular file";
    if (S_ISSOCK(st.st_mode))
        return u"it is a socket, not a regular file";
    return u"it is not a regular file";
}

// TRUE when a name holds bytes that are not UTF-8 (U+DC80-U+DCFF).
bool HasEscapedBytes(const CString& strName) {
    const std::u16string_view name = strName.view();
    return std::any_of(name.begin(), name.end(),
                       [](char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; });
}

bool IsKnownOSType(const CString& strOSType) {
    return LineEndingOf(strOSType).has_value();
}

// The folder part of a path ("." when it has none) and its last part.
std::pair<CString, CString> SplitPath(const CString& strPath) {
    const int nSlash = strPath.ReverseFind(u'/');
    if (nSlash < 0)
        return {u".", strPath};
    return {nSlash == 0 ? CString(u"/") : strPath.Left(nSlash), strPath.Mid(nSlash + 1)};
}

// TRUE when two paths name one file: the same existing file, or, for a file
// not there yet, the same name in the same folder.
bool NameOneFile(const CString& strA, const CString& strB) {
    if (strA.IsEmpty() || strB.IsEmpty())
        return false;
    if (IsSameFile(strA, strB))
        return true;
    const auto [folderA, nameA] = SplitPath(strA);
    const auto [folderB, nameB] = SplitPath(strB);
    return nameA == nameB && (folderA == folderB || IsSameFile(folderA, folderB));
}

}  // namespace

bool RunConversion(CConvertFileObj& job, CWnd* pWnd) {
    const char* pszUnreported = nullptr;
    try {
        job.ConvertFile(pWnd);
        return !job.ErrorReported();
    } catch (const CFileException& e) {
        try {
            job.ReportOpenFailure(e.GetReason());
            return false;
        } catch (const CException&) {
            pszUnreported =
                "tabrook: writing the output file failed, and so did writing the error log\n";
        }
    } catch (const std::bad_alloc&) {
        pszUnreported = "tabrook: out of memory\n";
    } catch (const CMemoryException&) {
        pszUnreported = "tabrook: out of memory\n";
    }
    std::fputs(pszUnreported, stderr);
    try {
        job.ReportError(u"Out of memory", u"Out of memory\r\n");
    } catch (...) {  // NOLINT(bugprone-empty-catch): already on standard error
    }
    return false;
}

std::optional<CharacterSet> ParseCharacterSet(const CString& strEncoding) {
    if (strEncoding.CompareNoCase(u"ANSI") == 0)
        return CharacterSet::Ansi;
    if (strEncoding.CompareNoCase(u"Unicode") == 0)
        return CharacterSet::Unicode;
    if (strEncoding.CompareNoCase(u"UTF-8") == 0)
        return CharacterSet::Utf8;
    return std::nullopt;
}

CharacterSet CharacterSetOf(const CString& strEncoding) {
    return ParseCharacterSet(strEncoding).value_or(CharacterSet::Utf8);
}

int EncodingIndex(const CString& strEncoding) {
    return static_cast<int>(CharacterSetOf(strEncoding));
}

std::optional<LineEnding> LineEndingOf(const CString& strOSType) {
    const CString strName = NormaliseOSType(strOSType);
    if (strName == u"Windows")
        return LineEnding::Windows;
    if (strName == u"Unix")
        return LineEnding::Unix;
    if (strName == u"Mac")
        return LineEnding::Mac;
    return std::nullopt;
}

CConvertFileObj::CConvertFileObj(CString strExcelFile, CString strOutputFile, CString strDriver,
                                 CString strWorksheet, CString strEncoding, CString strDelimiter,
                                 CString strOSType, CString strErrorLog, bool bOverwrite,
                                 bool bBatchMode)
    : m_strExcelFile(std::move(strExcelFile)),
      m_strOutputFile(std::move(strOutputFile)),
      m_strDriver(std::move(strDriver)),
      m_strWorksheet(std::move(strWorksheet)),
      m_strEncoding(std::move(strEncoding)),
      m_strDelimiter(std::move(strDelimiter)),
      m_strOSType(NormaliseOSType(std::move(strOSType))),
      m_strErrorLog(std::move(strErrorLog)),
      m_bOverwrite(bOverwrite),
      m_bBatchMode(bBatchMode) {
    InitializeCriticalSection(&m_csStop);
    if (!m_strEncoding.IsEmpty())
        m_strEncoding.MakeUpper();
}

CConvertFileObj::CConvertFileObj(const CConvertSettings& settings)
    : CConvertFileObj(settings.strExcelFile, settings.strOutputFile, settings.strDriver,
                      settings.strWorksheet, settings.strEncoding, settings.strDelimiter,
                      settings.strOSType, settings.strErrorLog, settings.bOverwrite,
                      settings.bBatchMode) {
    m_bValuesDisplayed = settings.bValuesDisplayed;
}

CConvertFileObj::~CConvertFileObj() {
    DeleteCriticalSection(&m_csStop);
}

void CConvertFileObj::SetStop(BOOL bStop) {
    EnterCriticalSection(&m_csStop);
    m_bStop = bStop != FALSE;
    LeaveCriticalSection(&m_csStop);
}

bool CConvertFileObj::StopRequested() {
    EnterCriticalSection(&m_csStop);
    const bool bStop = m_bStop;
    LeaveCriticalSection(&m_csStop);
    return bStop;
}

void CConvertFileObj::ConvertFile(CWnd* pWnd) {
    if (m_strExcelFile.IsEmpty())
        return;
    if (m_strDriver.IsEmpty()) {
        ReportError(u"No Excel ODBC driver found", u"No Excel ODBC driver found\r\n");
        return;
    }
    if (m_bBatchMode && !ValidateBatchSettings())
        return;
    if (!CheckOutputPath())
        return;
    // Only a regular file is a workbook. Anything else (a FIFO above all,
    // whose open would wait for a writer for ever) is refused before the
    // driver is asked to open it, in the driver's own words.
    const CString strNotAFile = NotARegularFile(m_strExcelFile);
    if (!strNotAFile.IsEmpty()) {
        const CString strMessage = u"The workbook \"" + EscapeControlCharacters(m_strExcelFile) +
                                   u"\" cannot be opened: " + strNotAFile;
        ReportError(strMessage, strMessage + u"\r\n");
        return;
    }
    ExportSheet(pWnd);
}

// Converting a workbook onto itself would destroy it before a record is
// read, and writing the output over the error log would wipe the line that
// says why a run failed. Both are refused before anything is written; the
// output's open checks the same again on the file it opened.
bool CConvertFileObj::CheckOutputPath() {
    if (IsSameFile(m_strExcelFile, m_strOutputFile)) {
        ReportError(kOutputIsWorkbook, CString(kOutputIsWorkbook) + u"\r\n");
        return false;
    }
    if (m_bBatchMode && NameOneFile(m_strOutputFile, m_strErrorLog)) {
        ReportError(kOutputIsLog, CString(kOutputIsLog) + u"\r\n");
        return false;
    }
    return true;
}

// Logs each missing or unknown setting in a fixed order. An unknown
// character set or line-ending system ends the checks at once.
bool CConvertFileObj::ValidateBatchSettings() {
    bool bError = false;
    if (m_strOutputFile.IsEmpty()) {
        LogOnly(u"No Output file set\r\n");
        bError = true;
    }
    if (m_strWorksheet.IsEmpty()) {
        LogOnly(u"No Worksheet set\r\n");
        bError = true;
    }
    if (m_strEncoding.IsEmpty()) {
        LogOnly(u"No file encoding set\r\n");
        bError = true;
    } else if (!ParseCharacterSet(m_strEncoding)) {
        LogOnly(u"Invalid file encoding set\r\n");
        return false;
    }
    if (m_strDelimiter.IsEmpty()) {
        LogOnly(u"No Delimiter set\r\n");
        bError = true;
    }
    if (m_strOSType.IsEmpty()) {
        LogOnly(u"No OS set\r\n");
        return false;
    }
    if (!IsKnownOSType(m_strOSType)) {
        LogOnly(u"Invalid OS Type set\r\n");
        return false;
    }
    if (!bError && IsQuotedTableName(m_strWorksheet)) {
        // The catalogue's form of a name ('Bob''s Data$'), with the "$" the
        // batch run appended: the query would look for a range by that name.
        const CString strGiven = m_strWorksheet.Left(m_strWorksheet.GetLength() - 1);
        CString strName = strGiven.Mid(1, strGiven.GetLength() - 2);
        strName.Replace(u"''", u"'");
        LogOnly(u"The worksheet name " + EscapeControlCharacters(strGiven) +
                u" is written with quotes, as the catalogue lists it; name it without them: " +
                EscapeControlCharacters(strName) + u"\r\n");
        return false;
    }
    return !bError;
}

void CConvertFileObj::ExportSheet(CWnd* pWnd) {
    m_pDatabase = std::make_unique<CDatabase>();
    if (m_strDelimiter == u"{tab}") {
        m_strDelimiter = u"\t";
    } else if (m_strDelimiter == u"{space}") {
        m_strDelimiter = u" ";
    }
    m_characterSet = CharacterSetOf(m_strEncoding);
    m_lineEnding = LineEndingOf(m_strOSType);
    // ODBC strings are UTF-16 text, and a workbook name that is not valid
    // UTF-8 holds escaped bytes that a driver would not turn back: such a
    // workbook is opened here and named to the driver by its descriptor.
    CString strWorkbook = m_strExcelFile;
    if (m_workbook.Open(m_strExcelFile, CFile::modeRead) && HasEscapedBytes(m_strExcelFile))
        strWorkbook.Format(u"/proc/self/fd/%d", m_workbook.m_hFile);
    CString strConnect = ExcelConnectString(m_strDriver, strWorkbook);
    if (m_bValuesDisplayed)
        strConnect += u";Values=Displayed";
    try {
        m_pDatabase->Open(nullptr, FALSE, FALSE, strConnect, TRUE);
        {
            // The recordset is released before the connection closes.
            CRecordset rs(m_pDatabase.get());
            rs.Open(CRecordset::forwardOnly, u"Select * from [" + m_strWorksheet + u"]",
                    CRecordset::readOnly);
            // What the driver had to leave out (cells of a damaged sheet) is
            // data the output will not hold: the run says so and fails, but
            // still writes what could be read.
            if (!rs.GetWarnings().IsEmpty())
                ReportError(u"Database warning: " + rs.GetWarnings(),
                            u"Database warning: " + rs.GetWarnings() + u"\r\n");
            ExportRecords(rs, pWnd);
        }
        m_pDatabase->Close();
        m_pDatabase.reset();
    } catch (const CDBException& e) {
        ReportError(u"Database error: " + e.m_strError,
                    u"Database error: " + e.m_strError + u"\r\n");
    }
    m_workbook.Abort();
}

// The record loop: the header at the first record, then one line per
// record; a chunk goes out each time the counter reaches a multiple of 500,
// and whatever is left at the end, also when nothing is.
void CConvertFileObj::ExportRecords(CRecordset& rs, CWnd* pWnd) {
    const short nColumns = rs.GetODBCFieldCount();
    int nRecord = 1;
    bool bHeaderWritten = false;
    bool bOutputEnded = false;
    CString strBuffer;
    CString strValue;
    CODBCFieldInfo fieldInfo;
    while (!rs.IsEOF()) {
        if (pWnd)
            pWnd->PostMessageW(WM_CONVERT_PROGRESS, 0, nRecord);
        if (StopRequested()) {
            m_bStopped = true;
            break;
        }
        if (!bHeaderWritten) {
            for (short i = 0; i < nColumns; ++i) {
                rs.GetODBCFieldInfo(i, fieldInfo);
                if (i > 0)
                    strBuffer += m_strDelimiter;
                strBuffer += fieldInfo.m_strName;
            }
            strBuffer += u"\r\n";
            bHeaderWritten = true;
        }
        for (short i = 0; i < nColumns; ++i) {
            rs.GetFieldValue(i, strValue);
            if (i > 0)
                strBuffer += m_strDelimiter;
            strBuffer += strValue;
        }
        strBuffer += u"\r\n";
        rs.MoveNext();
        if (++nRecord % kChunkRecords == 0) {
            if (!WriteChunk(strBuffer)) {
                bOutputEnded = true;
                break;
            }
            strBuffer.Empty();
        }
    }
    // What was read before a stop request is written too, as whole lines.
    if (!bOutputEnded && WriteChunk(strBuffer))
        m_pOutput->Close();
    m_pOutput.reset();
    // In a batch run only a signal stops the job: the output then ends
    // early, and the log must say so, or it would look complete.
    if (m_bStopped && m_bBatchMode) {
        CString strLine;
        strLine.Format(u"The conversion was interrupted after record %d.\r\n", nRecord - 1);
        LogOnly(strLine);
    }
}

// The output is opened at the first write, also when it gets no text, and
// then never by name again. It must not be the workbook or the log, and no
// other conversion may hold it; only then does an overwriting run empty it
// (a descriptor the process was given, /dev/stdout, is never emptied: the
// shell opened it as the user asked).
bool CConvertFileObj::OpenOutput() {
    m_bOutputTried = true;
    auto pFile = std::make_unique<CVelkorStdioFile>();
    pFile->m_bUTF8 = m_characterSet == CharacterSet::Utf8;
    pFile->m_bUnicode = m_characterSet == CharacterSet::Unicode;
    const UINT nFlags = m_bOverwrite ? modeAppend | CFile::modeOutput
                                     : modeAppend | CFile::modeOutput | CFile::appendAtEnd;
    CFileException fileError;
    if (!pFile->Open(m_strOutputFile, nFlags, &fileError)) {
        ReportOpenFailure(fileError.GetReason());
        return false;
    }
    const bool bWorkbook = m_workbook.IsOpen() ? pFile->IsSameFileAs(m_workbook.m_hFile)
                                               : IsSameFile(m_strExcelFile, m_strOutputFile);
    if (bWorkbook) {
        ReportError(kOutputIsWorkbook, CString(kOutputIsWorkbook) + u"\r\n");
        return false;
    }
    if (m_bBatchMode && pFile->IsSameFileAs(m_strErrorLog)) {
        ReportError(kOutputIsLog, CString(kOutputIsLog) + u"\r\n");
        return false;
    }
    if (pFile->TryLockExclusive() == CFile::busy) {
        ReportError(kOutputBusyBox, kOutputBusyLog);
        return false;
    }
    if (m_bOverwrite && pFile->IsRegularFile() && !pFile->IsInherited())
        pFile->SetLength(0);
    pFile->SetWaitCancel([this] { return StopRequested(); });
    m_pOutput = std::move(pFile);
    return true;
}

bool CConvertFileObj::WriteChunk(const CString& strText) {
    if (!m_pOutput && (m_bOutputTried || !OpenOutput()))
        return false;
    try {
        WriteLines(*m_pOutput, strText, m_lineEnding);
    } catch (const CFileException& e) {
        if (e.m_lOsError != ECANCELED)
            throw;
        m_bStopped = true;  // a stop request ended a wait for a stalled reader
        return false;
    }
    return true;
}

void CConvertFileObj::ReportOpenFailure(const CString& strReason) {
    if (strReason.IsEmpty()) {
        ReportError(kOpenFailureBox, kOpenFailureLog);
        return;
    }
    ReportError(CString(kOpenFailureBox) + u"\n" + strReason,
                CString(kOpenFailureLog) + strReason + u"\r\n");
}

BOOL CConvertFileObj::WriteText(const CString& strPath, const CString& strText, UINT nOpenMode,
                                std::optional<LineEnding> lineEnding, CharacterSet characterSet) {
    auto pFile = std::make_unique<CVelkorStdioFile>();
    CFileException fileError;
    pFile->m_bUTF8 = characterSet == CharacterSet::Utf8;
    pFile->m_bUnicode = characterSet == CharacterSet::Unicode;
    // Appends go to the end of the file as it is when they are written, so
    // that runs logging into one folder at once keep every line.
    const UINT nFlags =
        (nOpenMode & CFile::modeNoTruncate) ? nOpenMode | CFile::appendAtEnd : nOpenMode;
    if (!pFile->Open(strPath, nFlags, &fileError) ||
        fileError.m_cause == CFileException::accessDenied) {
        ReportOpenFailure(fileError.GetReason());
        return FALSE;
    }
    WriteLines(*pFile, strText, lineEnding);
    pFile->Close();
    return TRUE;
}

void CConvertFileObj::WriteLines(CVelkorStdioFile& file, const CString& strText,
                                 std::optional<LineEnding> lineEnding) {
    if (strText.IsEmpty())
        return;
    file.Seek(0, CFile::end);
    if (lineEnding)
        file.WriteLines(strText, *lineEnding);
}

void CConvertFileObj::ReportError(const CString& strBoxText, const CString& strLogText) {
    m_bErrorReported = true;
    if (!m_bBatchMode) {
        AfxMessageBox(strBoxText, MB_OK, 0);
        return;
    }
    if (!AppendToLog(strLogText)) {
        // The log cannot be opened: the message must not be lost.
        std::fprintf(stderr, "tabrook: cannot open the error log %s; the error was: %s",
                     m_strErrorLog.ToUtf8().c_str(), strLogText.ToUtf8().c_str());
    }
}

// The log is read in a terminal and by the user's tools, so it is written in
// the locale's own encoding (UTF-8 under a UTF-8 locale), without a mark.
// Each line is appended in one write at the end of the file as it is then,
// so that runs logging into one folder at once keep every line.
bool CConvertFileObj::AppendToLog(const CString& strLogText) {
    CVelkorStdioFile log;
    log.SetCodePage(static_cast<int>(GetLocaleCodePage()));
    CFileException fileError;
    if (!log.Open(m_strErrorLog, modeAppend | CFile::appendAtEnd, &fileError))
        return false;
    WriteLines(log, strLogText, LineEnding::Windows);
    log.Close();
    return true;
}

void CConvertFileObj::LogOnly(const char16_t* pszLogText) {
    ReportError(CString(), pszLogText);
}
