// Start-up: the batch run (command line to conversion job) and the choice
// between it and the dialog.
#include "app/tabrook_app.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/stop_on_signal.h"
#include "convert/convert_file_obj.h"
#include "odbc/find_excel_driver.h"

namespace {

constexpr const char* kUsage =
    "usage: tabrook [/A] [/D] WORKBOOK.xls OUTPUT.txt WORKSHEET CHARSET DELIMITER FORMAT\n"
    "  /A         append to an existing output file (default: overwrite)\n"
    "  /D         write numbers as their cells' formats show them (default: plain values)\n"
    "  CHARSET    ANSI, UTF-8 or Unicode\n"
    "  DELIMITER  {tab}, {space} or the delimiter text (quote one starting with - or / twice: "
    "'\"-\"')\n"
    "  FORMAT     line endings: Windows, Unix or Mac\n"
    "Errors are appended to DravikErrlog.txt in the output file's folder.\n";

}  // namespace

namespace {

// TRUE for an output that is a device or a pipe named inside the system's
// own folders of them (/dev/stdout, /proc/self/fd/1): no folder of the
// user's, and no place for a log.
bool IsSystemStream(const CString& strOutputFile) {
    const std::string path = strOutputFile.ToUtf8();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
        return false;
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::canonical(std::filesystem::absolute(path, error).parent_path(), error);
    const std::string name = folder.string();
    return !error && (name == "/dev" || name.starts_with("/dev/") || name.starts_with("/proc/"));
}

}  // namespace

std::vector<std::filesystem::path> DialogModulePaths(const std::filesystem::path& exe) {
    if (!exe.is_absolute())
        return {std::filesystem::path(TABROOK_DIALOG_INSTALLED_DIR) / "tabrook-dialog.so"};
    const std::filesystem::path exeDir = exe.parent_path();
    return {exeDir / "tabrook-dialog.so",
            (exeDir / TABROOK_DIALOG_RELDIR / "tabrook-dialog.so").lexically_normal()};
}

CString ErrorLogPath(const CString& strOutputFile) {
    if (IsSystemStream(strOutputFile))
        return u"DravikErrlog.txt";
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
    // Several switches may come before the workbook ("/A /D book.xls"):
    // each is kept, "/"-separated, with the one that carries the workbook.
    CString strSwitches;
    while (strValue1.IsEmpty() && !strSwitch.IsEmpty()) {
        strSwitches += strSwitch + u"/";
        if (!cmdLine.GetNextArg(strSwitch, strValue1))
            break;
    }
    strSwitch = strSwitches + strSwitch;
    if (strValue1.IsEmpty()) {
        RunDialog();
    } else {
        RunBatch(cmdLine, strSwitch, strValue1);
    }
    return FALSE;
}

void CTabrookApp::RunBatch(CCommandLine& cmdLine, CString strSwitch, const CString& strWorkbook) {
    strSwitch.MakeUpper();
    CConvertSettings settings;
    settings.strExcelFile = strWorkbook;
    // The switches of the later arguments mean nothing and are dropped.
    CString strIgnoredSwitch;
    for (CString* pValue : {&settings.strOutputFile, &settings.strWorksheet, &settings.strEncoding,
                            &settings.strDelimiter, &settings.strOSType}) {
        cmdLine.GetNextArg(strIgnoredSwitch, *pValue);
    }
    settings.strWorksheet = WorksheetTableName(settings.strWorksheet);
    settings.strDriver = FindExcelDriver();
    settings.strErrorLog = ErrorLogPath(settings.strOutputFile);
    // The switches before the workbook, in any order and case: A appends,
    // D writes values as displayed; others mean nothing.
    bool bAppend = false;
    int nStart = 0;
    while (nStart <= strSwitch.GetLength()) {
        int nEnd = strSwitch.Find(u'/', nStart);
        if (nEnd < 0)
            nEnd = strSwitch.GetLength();
        const CString strOne = strSwitch.Mid(nStart, nEnd - nStart);
        bAppend = bAppend || strOne == u"A";
        settings.bValuesDisplayed = settings.bValuesDisplayed || strOne == u"D";
        nStart = nEnd + 1;
    }
    settings.bOverwrite = !bAppend;
    settings.bBatchMode = true;

    CConvertFileObj job(settings);
    const CStopOnSignal stopOnSignal(job);
    if (!RunConversion(job, nullptr))
        m_nExitCode = 1;
}

// The dialog lives in a module of its own, so that only a dialog run loads
// Qt: next to the program in the build tree, in <libdir>/tabrook when
// installed.
void CTabrookApp::RunDialog() {
    m_nExitCode = 2;
    const bool bDisplay =
        std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!bDisplay) {
        std::fputs("tabrook: no display to show the dialog on; give the arguments of a batch run\n",
                   stderr);
        std::fputs(kUsage, stderr);
        return;
    }
    void* pModule = nullptr;
    std::string strTried;
    std::error_code error;
    for (const std::filesystem::path& path :
         DialogModulePaths(std::filesystem::read_symlink("/proc/self/exe", error))) {
        pModule = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (pModule)
            break;
        strTried += std::string("\n  ") + dlerror();
    }
    using RunDialogFn = int (*)(int&, char**);
    auto pfnRun =
        pModule ? reinterpret_cast<RunDialogFn>(dlsym(pModule, "TabrookRunDialog")) : nullptr;
    if (!pfnRun) {
        std::fprintf(stderr, "tabrook: the dialog cannot be loaded:%s\n", strTried.c_str());
        std::fputs(kUsage, stderr);
        return;
    }
    // The module stays loaded until the process ends: Qt cannot be unloaded.
    m_nExitCode = pfnRun(AfxGetArgc(), AfxGetArgv());
    if (m_nExitCode == 2)
        std::fputs(kUsage, stderr);
}
