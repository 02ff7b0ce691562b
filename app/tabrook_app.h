// CTabrookApp: start-up. With a first argument it runs one conversion from
// the command line without any window; without one it shows the dialog.
#pragma once

#include <filesystem>
#include <vector>

#include "app/command_line.h"
#include "platform/winapp.h"

class CTabrookApp : public CWinApp {
public:
    CTabrookApp() = default;

    BOOL InitInstance() override;
    // 0: the batch run ended without any reported error; 1: an error was
    // reported (see the error log); 2: usage problem (no dialog available).
    int ExitInstance() override { return m_nExitCode; }

private:
    void RunBatch(CCommandLine& cmdLine, CString strSwitch, const CString& strWorkbook);
    void RunDialog();

    int m_nExitCode = 0;
};

// The error log's path: "DravikErrlog.txt" in the output file's folder (the
// part before its last "/" or "\"), or in the current directory when the
// output path has no folder part, or names a device or a pipe in /dev or
// /proc (/dev/stdout).
CString ErrorLogPath(const CString& strOutputFile);
// Appends "$" to a worksheet name that does not already end with one.
CString WorksheetTableName(CString strWorksheet);
// Where a dialog run looks for the dialog module, for the program at exe
// (/proc/self/exe's target): beside it and in the library folder relative
// to it; when exe is unknown or not absolute, the installed library folder.
// Only absolute paths: a relative one would load whatever module the
// current folder holds.
std::vector<std::filesystem::path> DialogModulePaths(const std::filesystem::path& exe);
