// Start-up: the batch run (command line to conversion job) and the choice
// between it and the dialog.
#include "app/tabrook_app.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "app/find_excel_driver.h"
#include "convert/convert_file_obj.h"

namespace {

constexpr const char* kUsage =
    "usage: tabrook [/A] WORKBOOK.xls OUTPUT.txt WORKSHEET CHARSET DELIMITER FORMAT\n"
    "  /A         append to an existing output file (default: overwrite)\n"
    "  CHARSET    ANSI, UTF-8 or Unicode\n"
    "  DELIMITER  {tab}, {space} or the delimiter text (quote one starting with - or / twice: "
    "'\"-\"')\n"
    "  FORMAT     line endings: Windows, Unix or Mac\n"
    "Errors are appended to DravikErrlog.txt in the output file's folder.\n";

}  // namespace

CString ErrorLogPath(const CString& strOutputFile) {
    const int nSlash = std::max(strOutputFile.ReverseFind(u'/'), strOutputFile.ReverseFind(u'\\'));
    if (nSlash < 0)
        return u"DravikErrlog.txt";
    return strOutputFile.Left(nSlash) + u"/DravikErrlog.txt";
}

CString WorksheetTableName(CString strWorksheet) {
    if (!strWorksheet.IsEmpty() && strWorksheet[strWorksheet.GetLength() - 1] != u'$')
        strWorksheet += u'$';
    return strWorksheet;
}

BOOL CTabrookApp::InitInstance() {
    CCommandLine cmdLine;
    CString strSwitch;
    CString strValue1;
    cmdLine.GetFirstArg(strSwitch, strValue1);
    if (strValue1.IsEmpty()) {
        RunDialog();
    } else {
        RunBatch(cmdLine, strSwitch, strValue1);
    }
    return FALSE;
}

void CTabrookApp::RunBatch(CCommandLine& cmdLine, CString strSwitch, const CString& strWorkbook) {
    strSwitch.MakeUpper();
    const bool bOverwrite = strSwitch != u"A";
    CString values[5];  // output file, worksheet, character set, delimiter, line endings
    CString strIgnoredSwitch;
    for (CString& strValue : values) cmdLine.GetNextArg(strIgnoredSwitch, strValue);

    CConvertFileObj job(strWorkbook, values[0], FindExcelDriver(), WorksheetTableName(values[1]),
                        values[2], values[3], values[4], ErrorLogPath(values[0]), bOverwrite, true);
    try {
        job.ConvertFile(nullptr);
    } catch (const CFileException&) {
        // A write failed (a full disk): the job does not catch it, the run
        // reports it and fails instead of ending abnormally.
        try {
            job.ReportError(
                u"Problem opening output file.\nInvalid path or File may be read only.",
                u"Problem opening output file.\r\nInvalid path or File may be read only.\r\n");
        } catch (const CException&) {
            std::fputs(
                "tabrook: writing the output file failed, and so did writing the error log\n",
                stderr);
        }
        m_nExitCode = 1;
    } catch (const std::bad_alloc&) {
        std::fputs("tabrook: out of memory\n", stderr);
        m_nExitCode = 1;
    } catch (const CMemoryException&) {
        std::fputs("tabrook: out of memory\n", stderr);
        m_nExitCode = 1;
    }
    if (job.ErrorReported())
        m_nExitCode = 1;
}

void CTabrookApp::RunDialog() {
    std::fputs(kUsage, stderr);
    m_nExitCode = 2;
}
