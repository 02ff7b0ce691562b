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

// The settings of one conversion, filled by name by each front end: the
// batch run from its command line, the dialog's worker from the dialog.
struct CConvertSettings {
    CString strExcelFile;   // the workbook
    CString strOutputFile;  // the text file written
    CString strDriver;      // the installed Excel driver's name
    CString strWorksheet;   // the table the query names
    CString strEncoding;    // "ANSI", "UTF-8" or "Unicode"
    CString strDelimiter;   // "{tab}", "{space}" or the text itself
    CString strOSType;      // "Windows", "Unix" or "Mac"
    CString strErrorLog;    // batch runs only
    bool bOverwrite = true;
    bool bBatchMode = false;
    // Numbers as their cells' formats show them (the driver's
    // Values=Displayed); otherwise the driver's default texts.
    bool bValuesDisplayed = false;
};

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
    explicit CConvertFileObj(const CConvertSettings& settings);
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
    // Reports that a file cannot be opened or written, with the system's
    // reason ("No space left on device") after the fixed text when known.
    void ReportOpenFailure(const CString& strReason);
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
    bool m_bValuesDisplayed = false;
    CRITICAL_SECTION m_csStop;
    bool m_bStop = false;
    std::unique_ptr<CDatabase> m_pDatabase;

private:
    bool ValidateBatchSettings();
    // FALSE, after reporting it, when the output would overwrite the
    // workbook or the error log.
    bool CheckOutputPath();
    void ExportSheet(CWnd* pWnd);
    void ExportRecords(CRecordset& rs, CWnd* pWnd);
    // Opens the output once for the whole run; FALSE, after reporting it,
    // when it cannot be opened, is the workbook or the log, or another
    // conversion holds it.
    bool OpenOutput();
    // Writes a chunk to the output, opening it first. FALSE when the run
    // must end: the output failed (reported) or a stop request ended a
    // wait for it (m_bStopped).
    bool WriteChunk(const CString& strText);
    // Appends a line to the error log in the locale's own encoding; FALSE
    // when the log cannot be opened.
    bool AppendToLog(const CString& strLogText);
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
    bool m_bStopped = false;
    // The workbook, open for the whole run: an output that turns out to be
    // this very file (through a link planted at any moment) is refused.
    CFile m_workbook;
    // The output, opened once at the first write and written through this
    // one descriptor until the end of the run, locked meanwhile so that two
    // conversions never interleave their chunks in one file. Opening it by
    // name for each chunk would follow whatever the name meant by then.
    std::unique_ptr<CVelkorStdioFile> m_pOutput;
    bool m_bOutputTried = false;
};

// Runs the job and reports, through its channel, what the job itself does
// not catch: a failed write (a full disk) as a failure of the output file,
// and running out of memory (also on standard error). TRUE when the run
// ended without any error.
bool RunConversion(CConvertFileObj& job, CWnd* pWnd);

// The character set a name stands for ("ANSI", "UTF-8", "Unicode", any
// letter case); none for any other name.
std::optional<CharacterSet> ParseCharacterSet(const CString& strEncoding);
// The character-set index of a name; anything unknown gives ENC_UTF8.
int EncodingIndex(const CString& strEncoding);
// The same as a typed value.
CharacterSet CharacterSetOf(const CString& strEncoding);
// The line ending of a system's name ("Windows", "Unix", "Mac", any letter
// case); none for any other name.
std::optional<LineEnding> LineEndingOf(const CString& strOSType);
