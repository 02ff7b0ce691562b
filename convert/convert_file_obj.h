// CConvertFileObj: one conversion of one worksheet into one delimited text
// file. It carries the job's settings, validates them in batch runs, exports
// the sheet through ODBC in chunks of 500 records, and reports every error
// through exactly one channel: the error log in batch runs, a message box in
// dialog runs.
#pragma once

#include <memory>
#include <optional>

#include "platform/cstring.h"
#include "platform/database.h"
#include "platform/file.h"
#include "platform/winapi.h"
#include "platform/window.h"
#include "textfile/velkor_stdio_file.h"

// Posted to the notify window before each record: wParam 0, lParam the
// number of the record about to be written, counting from 1.
constexpr UINT WM_CONVERT_PROGRESS = WM_APP + 0xFB7;

class CConvertFileObj {
public:
    // Open modes of WriteText: replace creates or truncates, append creates
    // or keeps the contents and writes at the end.
    static constexpr UINT modeReplace = CFile::modeCreate | CFile::modeWrite;
    static constexpr UINT modeAppend = CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite;
    // Records per chunk handed to WriteText.
    static constexpr int kChunkRecords = 500;

    CConvertFileObj(CString strExcelFile, CString strOutputFile, CString strDriver,
                    CString strWorksheet, CString strEncoding, CString strDelimiter,
                    CString strOSType, CString strErrorLog, bool bOverwrite, bool bBatchMode);
    CConvertFileObj(const CConvertFileObj&) = delete;
    CConvertFileObj& operator=(const CConvertFileObj&) = delete;
    virtual ~CConvertFileObj();

    // Sets or clears the stop request; safe from any thread.
    void SetStop(BOOL bStop);
    // Runs the whole conversion on the calling thread. pWnd receives the
    // progress messages (null in batch runs).
    void ConvertFile(CWnd* pWnd);
    // Writes text to a file in one of the two open modes, each CR LF turned
    // into the line end of lineEnding, in characterSet. Without a line
    // ending (a system the job does not know) the file is opened and nothing
    // is written. FALSE, after reporting it, when the file cannot be opened.
    BOOL WriteText(const CString& strPath, const CString& strText, UINT nOpenMode,
                   std::optional<LineEnding> lineEnding, CharacterSet characterSet);

    // Reports an error through the job's channel: a message box in dialog
    // runs, a line of the error log in batch runs (standard error when the
    // log itself cannot be written).
    void ReportError(const CString& strBoxText, const CString& strLogText);
    // TRUE once any error has been reported: a batch run's exit status.
    [[nodiscard]] bool ErrorReported() const { return m_bErrorReported; }

    CString m_strExcelFile;
    CString m_strOutputFile;
    CString m_strDriver;
    CString m_strWorksheet;
    CString m_strEncoding;
    CString m_strDelimiter;
    CString m_strOSType;
    CString m_strErrorLog;
    bool m_bOverwrite;
    bool m_bBatchMode;
    CRITICAL_SECTION m_csStop;
    bool m_bStop = false;
    std::unique_ptr<CDatabase> m_pDatabase;

private:
    bool ValidateBatchSettings();
    void ExportSheet(CWnd* pWnd);
    void ExportRecords(CRecordset& rs, CWnd* pWnd);
    // FALSE, after reporting it, when another conversion holds the output.
    bool WriteChunk(const CString& strText, bool bTextWritten);
    // Writes a text with the line ends of lineEnding at the end of the file.
    static void WriteLines(CVelkorStdioFile& file, const CString& strText,
                           std::optional<LineEnding> lineEnding);
    bool StopRequested();
    void LogOnly(const char16_t* pszLogText);

    // The output's character set and line ending, turned once from
    // m_strEncoding and m_strOSType when the export starts.
    CharacterSet m_characterSet = CharacterSet::Utf8;
    std::optional<LineEnding> m_lineEnding;
    bool m_bErrorReported = false;
    // Held from the first write of the output to the end of the job, so that
    // two conversions never interleave their chunks in one file.
    CFileLock m_outputLock;
    bool m_bOutputLockTried = false;
    // An output that cannot seek, open from its first write to the end of
    // the run.
    std::unique_ptr<CVelkorStdioFile> m_pSequentialOutput;
};

// Runs the job and reports, through its channel, what the job itself does
// not catch: a failed write (a full disk) as a failure of the output file,
// and running out of memory (also on standard error). TRUE when the run
// ended without any error.
bool RunConversion(CConvertFileObj& job, CWnd* pWnd);

// The character-set index of a character-set name ("ANSI", "UTF-8",
// "Unicode", any letter case); anything else gives ENC_UTF8.
int EncodingIndex(const CString& strEncoding);
// The same as a typed value.
CharacterSet CharacterSetOf(const CString& strEncoding);
// The line ending of a system's name ("Windows", "Unix", "Mac", any letter
// case); none for any other name.
std::optional<LineEnding> LineEndingOf(const CString& strOSType);
