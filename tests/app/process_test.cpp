// The tabrook process run as a user runs it, without a display: exit
// status, usage text, and where the error log lands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string err;
};

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// In a forked child: becomes tabrook with these arguments.
[[noreturn]] void ExecTabrook(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string exe = TABROOK_EXE;
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
}

// Runs tabrook in cwd with ODBCSYSINI = odbcSysIni, no display and the
// given further environment.
Result RunTabrook(const fs::path& cwd, const fs::path& odbcSysIni,
                  const std::vector<std::string>& args,
                  const std::vector<std::pair<const char*, const char*>>& env = {}) {
    const fs::path errFile = cwd / ".stderr";
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        const int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("ODBCSYSINI", odbcSysIni.c_str(), 1);
        for (const auto& [name, value] : env) setenv(name, value, 1);
        ExecTabrook(args);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.err = ReadBytes(errFile);
    fs::remove(errFile);
    return r;
}

class TabrookProcess : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tabrook-process-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "etc");
        fs::create_directories(dir / "none");
        // A registered Excel driver that never gets loaded: the checks run
        // before any connection.
        std::ofstream(dir / "etc" / "odbcinst.ini")
            << "[Test Excel Driver]\nDriver=/nonexistent.so\n";
        std::ofstream(dir / "none" / "odbcinst.ini") << "[SQLite3]\nDriver=/nonexistent.so\n";
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(TabrookProcess, WithoutArgumentsAndWithoutDisplayPrintsUsage) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"/A"}}) {
        const Result r = RunTabrook(dir, dir / "etc", args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("usage: tabrook"), std::string::npos) << r.err;
    }
}

TEST_F(TabrookProcess, MissingSettingsAreLoggedInTheCurrentFolder) {
    const Result r = RunTabrook(dir, dir / "etc", {"book.xls"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"),
              "No Output file set\r\nNo Worksheet set\r\nNo file encoding set\r\nNo Delimiter "
              "set\r\nNo OS set\r\n");
}

TEST_F(TabrookProcess, LogLiesBesideTheOutputFile) {
    fs::create_directories(dir / "out");
    const Result r = RunTabrook(dir, dir / "etc",
                                {"book.xls", "out/book.txt", "Sheet1", "UTF-16", "{tab}", "Unix"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(dir / "out" / "DravikErrlog.txt"), "Invalid file encoding set\r\n");
    EXPECT_FALSE(fs::exists(dir / "DravikErrlog.txt"));
    EXPECT_FALSE(fs::exists(dir / "out" / "book.txt"));
}

TEST_F(TabrookProcess, NoExcelDriverInstalled) {
    const Result r =
        RunTabrook(dir, dir / "none", {"book.xls", "book.txt", "Sheet1", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"), "No Excel ODBC driver found\r\n");
}

TEST_F(TabrookProcess, UnwritableLogGoesToStandardError) {
    const Result r = RunTabrook(dir, dir / "etc", {"book.xls", "missing/folder/book.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No Worksheet set"), std::string::npos) << r.err;
}

// Whole runs through the build tree's registered Excel driver.
TEST_F(TabrookProcess, ConvertsTheSampleWithAbsolutePaths) {
    const fs::path out = dir / "out" / "sales.csv";
    fs::create_directories(out.parent_path());
    const Result r = RunTabrook(dir, TABROOK_ETC,
                                {SAMPLE_XLS, out.string(), "Sheet1", "ANSI", "{tab}", "Windows"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string text = ReadBytes(out);
    EXPECT_EQ(
        text.rfind("Region\tProduct\tUnits\tUnit "
                   "price\tOrdered\tShipped\r\nZ\xFCrich\tF\xFCller\t12\t4.5\t2024-01-15\tTRUE\r\n",
                   0),
        0u)
        << text;
    EXPECT_FALSE(fs::exists(out.parent_path() / "DravikErrlog.txt"));
}

// A workbook LibreOffice saved as .xls and as .xlsx converts to the same
// bytes, whatever its extension says (an .xlsx renamed .xlsm too).
TEST_F(TabrookProcess, AnXlsxConvertsAsTheXlsSavedFromIt) {
    const fs::path fixtures = DRIVER_FIXTURES;
    fs::copy_file(fixtures / "lo_driver.xlsx", dir / "macro book.xlsm");
    std::string first;
    for (const fs::path& book :
         {fixtures / "lo_driver.xls", fixtures / "lo_driver.xlsx", dir / "macro book.xlsm"}) {
        const fs::path out = dir / (book.stem().string() + ".txt");
        const Result r = RunTabrook(dir, TABROOK_ETC,
                                    {book.string(), out.string(), "Sheet1", "UTF-8", ";", "Unix"});
        EXPECT_EQ(r.status, 0) << book << r.err;
        const std::string text = ReadBytes(out);
        EXPECT_NE(text.find("Grüße 日本 😀;-12.5"), std::string::npos) << book << text;
        if (first.empty()) {
            first = text;
        }
        EXPECT_EQ(text, first) << book;
    }
    EXPECT_FALSE(fs::exists(dir / "DravikErrlog.txt"));
}

// /D (any case, -D too, before the workbook in any order with /A) writes
// numbers as their formats show them; without it the output is unchanged.
TEST_F(TabrookProcess, DisplayedValuesOnlyWhenAsked) {
    const std::string book = (fs::path(DRIVER_FIXTURES) / "xlwt_driver.xls").string();
    const auto convert = [&](std::vector<std::string> switches, const std::string& name) {
        const fs::path out = dir / name;
        switches.insert(switches.end(), {book, out.string(), "Values", "ANSI", ";", "Unix"});
        const Result r = RunTabrook(dir, TABROOK_ETC, switches);
        EXPECT_EQ(r.status, 0) << r.err;
        return ReadBytes(out);
    };
    const std::string plain = convert({}, "plain.txt");
    EXPECT_NE(plain.find("\nthird;0.333333333333333\n"), std::string::npos) << plain;
    const std::string shown = convert({"/D"}, "shown.txt");
    EXPECT_NE(shown.find("\nthird;0.333333333\n"), std::string::npos) << shown;
    EXPECT_EQ(convert({"-d"}, "dash.txt"), shown);
    EXPECT_EQ(convert({"/a", "/D"}, "appended.txt"), shown);
    EXPECT_EQ(convert({"/D", "/A"}, "appended.txt"), shown + shown);
    EXPECT_EQ(convert({"/A"}, "plain2.txt"), plain);
}

TEST_F(TabrookProcess, FullDiskIsLoggedAndFailsTheRun) {
    // The output file is a link to /dev/full: opening works, writing fails.
    fs::create_directories(dir / "out");
    fs::create_symlink("/dev/full", dir / "out" / "sales.csv");
    const Result r =
        RunTabrook(dir, TABROOK_ETC, {SAMPLE_XLS, "out/sales.csv", "Sheet1", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(ReadBytes(dir / "out" / "DravikErrlog.txt"),
              "Problem opening output file.\r\nInvalid path or File may be read only.\r\n"
              "No space left on device\r\n");
}

TEST_F(TabrookProcess, MissingWorksheetFailsTheRun) {
    const Result r =
        RunTabrook(dir, TABROOK_ETC, {SAMPLE_XLS, "out.csv", "Nope", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1);
    const std::string log = ReadBytes(dir / "DravikErrlog.txt");
    EXPECT_EQ(log.rfind("Database error: ", 0), 0u) << log;
    EXPECT_NE(log.find("Nope$"), std::string::npos) << log;
}

// Connection-string injection: a ";" in a path must not add connection keys
// (here a DRIVER= that would load any library), and real files with the
// characters of the connection-string syntax in their names convert.
TEST_F(TabrookProcess, APathCannotAddConnectionKeys) {
    const fs::path marker = dir / "evil-was-loaded";
    setenv("TABROOK_EVIL_MARKER", marker.c_str(), 1);
    const std::string evil = EVIL_DRIVER;
    fs::create_directories(dir / "q1;DRIVER=.");
    fs::copy_file(evil, dir / "q1;DRIVER=." / "evil.so");
    for (const std::string& workbook : std::vector<std::string>{
             "book.xls;DRIVER=" + evil, "book.xls;DRIVER={" + evil + "}", "q1;DRIVER=./evil.so",
             "x.xls};DRIVER={" + evil, SAMPLE_XLS + std::string(";FirstRowHasNames=0")}) {
        const Result r =
            RunTabrook(dir, TABROOK_ETC, {workbook, "o.txt", "Sheet1", "UTF-8", ",", "Unix"});
        EXPECT_EQ(r.status, 1) << workbook;
        EXPECT_FALSE(fs::exists(marker)) << workbook;
        EXPECT_FALSE(fs::exists(dir / "o.txt")) << workbook;
    }
    unsetenv("TABROOK_EVIL_MARKER");
}

TEST_F(TabrookProcess, NamesWithConnectionStringSyntaxConvert) {
    for (const char* name : {"a;b.xls", "{b}.xls", "c=d e.xls", "x}y{z.xls", "}}.xls",
                             "q1;DRIVER=./sales.xls", " lead;DSN=x;.xls"}) {
        const fs::path workbook = dir / "in" / name;
        fs::create_directories(workbook.parent_path());
        fs::copy_file(SAMPLE_XLS, workbook, fs::copy_options::overwrite_existing);
        const fs::path out = dir / "out.csv";
        const Result r = RunTabrook(
            dir, TABROOK_ETC, {workbook.string(), out.string(), "Sheet1", "ANSI", ",", "Unix"});
        EXPECT_EQ(r.status, 0) << name << ": " << ReadBytes(dir / "DravikErrlog.txt");
        EXPECT_EQ(ReadBytes(out).rfind("Region,Product,Units,Unit price,Ordered,Shipped\n", 0), 0u)
            << name;
        fs::remove_all(dir / "in");
    }
}

TEST_F(TabrookProcess, TheWorkbookIsNeverItsOwnOutput) {
    const fs::path book = dir / "book.xls";
    fs::copy_file(SAMPLE_XLS, book);
    fs::create_symlink(book, dir / "link.txt");
    const std::string before = ReadBytes(book);
    for (const std::string& output :
         {book.string(), std::string("./book.xls"), std::string("link.txt")}) {
        const Result r =
            RunTabrook(dir, TABROOK_ETC, {"book.xls", output, "Sheet1", "UTF-8", ",", "Unix"});
        EXPECT_EQ(r.status, 1) << output;
        EXPECT_EQ(ReadBytes(book), before) << output;
    }
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"),
              "The output file is the workbook itself.\r\n"
              "The output file is the workbook itself.\r\n"
              "The output file is the workbook itself.\r\n");
}

// A batch run must not load Qt: the dynamic loader's own record of what it
// opened shows the driver manager and no Qt library.
TEST_F(TabrookProcess, ABatchRunLoadsNoQt) {
    setenv("LD_DEBUG", "libs", 1);
    const Result r =
        RunTabrook(dir, TABROOK_ETC, {SAMPLE_XLS, "out.csv", "Sheet1", "UTF-8", ",", "Unix"});
    unsetenv("LD_DEBUG");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("libodbc.so"), std::string::npos) << "LD_DEBUG had no effect";
    EXPECT_EQ(r.err.find("libQt6"), std::string::npos);
    EXPECT_EQ(r.err.find("tabrook-dialog"), std::string::npos);
}

// Without arguments, on a display, tabrook opens the dialog module and
// shows the dialog until it is closed.
TEST_F(TabrookProcess, WithoutArgumentsTheDialogRuns) {
    const pid_t child = fork();
    if (child == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("ODBCSYSINI", TABROOK_ETC, 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        ExecTabrook({});
    }
    bool bDialogUp = false;
    for (int i = 0; i < 200 && !bDialogUp; ++i) {
        usleep(50000);
        const std::string maps = ReadBytes("/proc/" + std::to_string(child) + "/maps");
        bDialogUp = maps.find("tabrook-dialog.so") != std::string::npos &&
                    maps.find("libQt6Widgets") != std::string::npos;
    }
    int status = 0;
    const bool bStillRunning = waitpid(child, &status, WNOHANG) == 0;
    kill(child, SIGTERM);
    waitpid(child, &status, 0);
    EXPECT_TRUE(bDialogUp);
    EXPECT_TRUE(bStillRunning);
}

}  // namespace

namespace {

// Lines of a text with "\n" line ends (a last line without one counts).
size_t CountLines(const std::string& text) {
    size_t n = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    if (!text.empty() && text.back() != '\n')
        ++n;
    return n;
}

// Starts tabrook in cwd and returns at once; WaitTabrook collects it.
pid_t StartTabrook(const fs::path& cwd, const std::vector<std::string>& args) {
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        setenv("ODBCSYSINI", TABROOK_ETC, 1);
        ExecTabrook(args);
    }
    return child;
}

int WaitTabrook(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A delimiter long enough that converting the 20,000 records of Big takes
// a while, so that signals and second runs meet a run in progress.
const std::string kSlowDelimiter(2000, '~');

}  // namespace

// A U+0000 inside a cell is text like any other: every line of the sheet is
// written, in every character set, with the NUL where the cell has it.
TEST_F(TabrookProcess, ANulInsideACellLosesNothing) {
    for (const std::string charset : {"ANSI", "UTF-8", "Unicode"}) {
        const fs::path out = dir / ("nul-" + charset + ".txt");
        const Result r =
            RunTabrook(dir, TABROOK_ETC, {BATCH_XLS, out.string(), "Nul", charset, ",", "Unix"});
        ASSERT_EQ(r.status, 0) << charset;
        std::string text = ReadBytes(out);
        if (charset == "Unicode") {
            ASSERT_EQ(text.rfind("\xFF\xFE", 0), 0u);
            std::string narrow;
            for (size_t i = 2; i + 1 < text.size(); i += 2) {
                ASSERT_EQ(text[i + 1], '\0') << charset;
                narrow += text[i];
            }
            text = narrow;
        } else if (charset == "UTF-8") {
            ASSERT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u);
            text = text.substr(3);
        }
        EXPECT_EQ(CountLines(text), 1201u) << charset;
        EXPECT_NE(text.find(std::string("key3,a\0b\nkey4,text4\n", 20)), std::string::npos)
            << charset;
        EXPECT_NE(text.find("key1200,text1200\n"), std::string::npos) << charset;
    }
}

// Runs that log into one folder at the same moment keep every line.
TEST_F(TabrookProcess, ParallelRunsKeepEveryLogLine) {
    constexpr int kRuns = 24;
    std::vector<pid_t> children;
    children.reserve(kRuns);
    for (int i = 0; i < kRuns; ++i)
        children.push_back(StartTabrook(dir, {"book.xls", "o.txt", "S", "UTF-16", ",", "Unix"}));
    for (const pid_t child : children) EXPECT_EQ(WaitTabrook(child), 1);
    std::string expected;
    for (int i = 0; i < kRuns; ++i) expected += "Invalid file encoding set\r\n";
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"), expected);
}

// The output is locked for the run: a conversion that finds it locked by
// another writes nothing into it and says why.
TEST_F(TabrookProcess, ALockedOutputIsLeftAlone) {
    const fs::path out = dir / "out.txt";
    std::ofstream(out) << "held\n";
    const int fd = open(out.c_str(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    for (const std::string mode : {"", "/A"}) {
        std::vector<std::string> args = {BATCH_XLS, "out.txt", "Nul", "UTF-8", ",", "Unix"};
        if (!mode.empty())
            args.insert(args.begin(), mode);
        const Result r = RunTabrook(dir, TABROOK_ETC, args);
        EXPECT_EQ(r.status, 1) << mode;
        EXPECT_EQ(ReadBytes(out), "held\n") << mode;
    }
    close(fd);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"),
              "The output file is being written by another conversion; nothing was written to "
              "it.\r\n"
              "The output file is being written by another conversion; nothing was written to "
              "it.\r\n");
}

// Two runs started together on one output: the file ends as one whole run
// wrote it, never as a mixture of both.
TEST_F(TabrookProcess, TwoRunsOnOneOutputNeverInterleave) {
    const std::vector<std::string> args = {BATCH_XLS, "out.txt",      "Big",
                                           "UTF-8",   kSlowDelimiter, "Unix"};
    ASSERT_EQ(WaitTabrook(StartTabrook(
                  dir, {BATCH_XLS, "ref.txt", "Big", "UTF-8", kSlowDelimiter, "Unix"})),
              0);
    const std::string reference = ReadBytes(dir / "ref.txt");
    for (int round = 0; round < 3; ++round) {
        const pid_t first = StartTabrook(dir, args);
        const pid_t second = StartTabrook(dir, args);
        const int firstStatus = WaitTabrook(first);
        const int secondStatus = WaitTabrook(second);
        EXPECT_TRUE(ReadBytes(dir / "out.txt") == reference) << "round " << round;
        EXPECT_EQ(firstStatus + secondStatus <= 1, true) << firstStatus << " " << secondStatus;
        fs::remove(dir / "out.txt");
    }
    const std::string log = ReadBytes(dir / "DravikErrlog.txt");
    std::string busyLines;
    for (size_t at = 0; (at = log.find("another conversion", at)) != std::string::npos; ++at)
        busyLines += "x";
    EXPECT_EQ(log.size(), busyLines.size() * std::string("The output file is being written by "
                                                         "another conversion; nothing was "
                                                         "written to it.\r\n")
                                                 .size())
        << log;
}

// SIGINT or SIGTERM stops the run at the next record: the records read so
// far are written as whole lines, the log says where the output ends, and
// the exit status says that the run did not complete.
TEST_F(TabrookProcess, ASignalStopsTheRunAndSaysWhere) {
    for (const int signo : {SIGTERM, SIGINT}) {
        const fs::path out = dir / "out.txt";
        fs::remove(out);
        fs::remove(dir / "DravikErrlog.txt");
        const pid_t child =
            StartTabrook(dir, {BATCH_XLS, out.string(), "Big", "ANSI", kSlowDelimiter, "Unix"});
        // The first chunk is out: the run is past connecting and reading.
        std::error_code error;
        int status = 0;
        for (int i = 0; i < 100000 && (fs::file_size(out, error) == 0 || error); ++i) {
            ASSERT_EQ(waitpid(child, &status, WNOHANG), 0)
                << "the run ended before its first chunk";
            usleep(200);
        }
        ASSERT_EQ(kill(child, signo), 0);
        EXPECT_EQ(WaitTabrook(child), 1) << signo;
        const std::string text = ReadBytes(out);
        const std::string log = ReadBytes(dir / "DravikErrlog.txt");
        const std::string prefix = "The conversion was interrupted after record ";
        ASSERT_EQ(log.rfind(prefix, 0), 0u) << log;
        const size_t records = std::stoul(log.substr(prefix.size()));
        EXPECT_EQ(log, prefix + std::to_string(records) + ".\r\n");
        EXPECT_GE(records, 499u);
        EXPECT_LT(records, 20000u);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        EXPECT_EQ(CountLines(text), records + 1) << signo;
        const std::string last = std::to_string(records) + kSlowDelimiter + "row" +
                                 std::to_string(records) + kSlowDelimiter +
                                 std::to_string(records * 2) + "\n";
        EXPECT_EQ(text.substr(text.size() - last.size()), last);
    }
}

// Linux names are bytes: a workbook, an output and a log folder whose names
// are not UTF-8 are found and written under exactly those names.
TEST_F(TabrookProcess, NamesThatAreNotUtf8AreKeptByteForByte) {
    const std::string folder = "d\xE9p\xF4t";
    fs::create_directories(dir / folder);
    fs::copy_file(SAMPLE_XLS, dir / folder / "caf\xE9.xls");
    const Result r = RunTabrook(
        dir, TABROOK_ETC,
        {folder + "/caf\xE9.xls", folder + "/sortie\xFF.csv", "Sheet1", "ANSI", ",", "Unix"});
    EXPECT_EQ(r.status, 0) << ReadBytes(dir / folder / "DravikErrlog.txt");
    EXPECT_EQ(ReadBytes(dir / folder / "sortie\xFF.csv")
                  .rfind("Region,Product,Units,Unit price,Ordered,Shipped\n", 0),
              0u);
    const Result missing =
        RunTabrook(dir, TABROOK_ETC,
                   {folder + "/caf\xE9.xls", folder + "/x.csv", "Nope", "ANSI", ",", "Unix"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(ReadBytes(dir / folder / "DravikErrlog.txt").find("Database error: "),
              std::string::npos);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"DravikErrlog.txt", "caf\xE9.xls", "sortie\xFF.csv"}));
}

// An output that cannot seek is written in sequence: through a pipe, the
// whole sheet arrives once, with one mark; a device's log stays in the
// current folder.
TEST_F(TabrookProcess, APipeOutputIsWrittenInSequence) {
    for (const std::string charset : {"UTF-8", "ANSI"}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t child = fork();
        if (child == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            setenv("ODBCSYSINI", TABROOK_ETC, 1);
            execl(TABROOK_EXE, TABROOK_EXE, BATCH_XLS, "/dev/stdout", "Nul", charset.c_str(), ",",
                  "Unix", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<size_t>(n));
        close(fds[0]);
        EXPECT_EQ(WaitTabrook(child), 0) << ReadBytes(dir / "DravikErrlog.txt");
        const std::string mark = charset == "UTF-8" ? "\xEF\xBB\xBF" : "";
        EXPECT_EQ(text.rfind(mark + "Key,Text\nkey1,text1\n", 0), 0u) << charset;
        EXPECT_EQ(text.find("\xEF\xBB\xBF", 1), std::string::npos) << charset;
        EXPECT_EQ(CountLines(text), 1201u) << charset;
    }
    // A run that fails logs beside the program's current folder, not in /dev.
    const Result r =
        RunTabrook(dir, TABROOK_ETC, {BATCH_XLS, "/dev/null", "Nope", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(ReadBytes(dir / "DravikErrlog.txt").find("Database error: "), std::string::npos);
}

// The catalogue's quoted form of a name is answered with how to write it.
TEST_F(TabrookProcess, AQuotedWorksheetNameIsExplained) {
    const Result r = RunTabrook(dir, TABROOK_ETC,
                                {BATCH_XLS, "out.txt", "'Bob''s Data$'", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"),
              "The worksheet name 'Bob''s Data$' is written with quotes, as the catalogue lists "
              "it; name it without them: Bob's Data$\r\n");
    EXPECT_FALSE(fs::exists(dir / "out.txt"));
    const Result plain =
        RunTabrook(dir, TABROOK_ETC, {BATCH_XLS, "out.txt", "Bob's Data", "ANSI", ",", "Unix"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(ReadBytes(dir / "out.txt"), "K\nv\n");
}

// Only a regular file is a workbook: a FIFO (whose open would wait for ever)
// or a device is refused at once, and says why.
TEST_F(TabrookProcess, AWorkbookThatIsNoRegularFileIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo((dir / "fifo.xls").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.xls");
    for (const std::string workbook : {"fifo.xls", "zero.xls"}) {
        const pid_t child = StartTabrook(dir, {workbook, "o.txt", "Sheet1", "UTF-8", ",", "Unix"});
        int status = 0;
        for (int i = 0; i < 1000 && waitpid(child, &status, WNOHANG) == 0; ++i) usleep(10000);
        if (kill(child, 0) == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << workbook << " is still being opened after 10 s";
            continue;
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << workbook;
    }
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"),
              "The workbook \"fifo.xls\" cannot be opened: it is a FIFO (a named pipe), not a "
              "regular file\r\n"
              "The workbook \"zero.xls\" cannot be opened: it is a device, not a regular file\r\n");
    EXPECT_FALSE(fs::exists(dir / "o.txt"));
}

namespace {

// A damaged sheet whose cells lie past column IV: what the grid holds is
// converted, and the run says what was left out and fails.
TEST_F(TabrookProcess, CellsLeftOutOfADamagedSheetAreReported) {
    const Result r =
        RunTabrook(dir, TABROOK_ETC,
                   {std::string(READER_FIXTURES) + "/malformed/cells_past_the_last_column.xls",
                    "out.csv", "types", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1);
    const std::string log = ReadBytes(dir / "DravikErrlog.txt");
    EXPECT_EQ(log.rfind("Database warning: ", 0), 0u) << log;
    EXPECT_NE(log.find("outside the grid"), std::string::npos) << log;
    const std::string out = ReadBytes(dir / "out.csv");
    const std::string header = out.substr(0, out.find('\n'));
    EXPECT_FALSE(header.empty());
    EXPECT_LT(std::count(header.begin(), header.end(), ','), 256);
}

}  // namespace

namespace {

// Waits for a run until it ends or a deadline passes; a run still going
// then is killed and reported as a hang (-1).
int WaitTabrookAtMost(pid_t child, int seconds) {
    for (int i = 0; i < seconds * 100; ++i) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

// Waits until a run has written its first chunk to out.
void AwaitFirstChunk(pid_t child, const fs::path& out) {
    std::error_code error;
    for (int i = 0; i < 100000 && (fs::file_size(out, error) == 0 || error); ++i) {
        ASSERT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "the run ended before its first chunk";
        usleep(200);
    }
}

const std::string kOpenFailure =
    "Problem opening output file.\r\nInvalid path or File may be read only.\r\n";

}  // namespace

// The output is opened once: a link to the workbook put in its place during
// the run is never followed, and the rest of the text goes where the first
// chunk went; moved away mid-run, the output keeps all of it, and a second
// run on the old name writes a file of its own.
TEST_F(TabrookProcess, TheOutputIsOpenedOnceWhateverItsNameMeansLater) {
    fs::copy_file(BATCH_XLS, dir / "wb.xls");
    const std::string workbook = ReadBytes(dir / "wb.xls");
    const std::vector<std::string> args = {"wb.xls", "o.txt",        "Big",
                                           "UTF-8",  kSlowDelimiter, "Unix"};
    pid_t child = StartTabrook(dir, args);
    AwaitFirstChunk(child, dir / "o.txt");
    fs::rename(dir / "o.txt", dir / "first.txt");
    fs::create_symlink("wb.xls", dir / "link.tmp");
    fs::rename(dir / "link.tmp", dir / "o.txt");
    EXPECT_EQ(WaitTabrook(child), 0) << ReadBytes(dir / "DravikErrlog.txt");
    EXPECT_TRUE(ReadBytes(dir / "wb.xls") == workbook) << "the workbook was written to";
    EXPECT_EQ(CountLines(ReadBytes(dir / "first.txt")), 20001u);
    EXPECT_EQ(ReadBytes(dir / "first.txt")
                  .rfind("\xEF\xBB\xBF"
                         "A" +
                             kSlowDelimiter,
                         0),
              0u);

    // A run given the link from the start refuses it, and writes nothing.
    EXPECT_EQ(RunTabrook(dir, TABROOK_ETC, args).status, 1);
    EXPECT_TRUE(ReadBytes(dir / "wb.xls") == workbook);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"), "The output file is the workbook itself.\r\n");

    fs::remove(dir / "o.txt");
    child = StartTabrook(dir, args);
    AwaitFirstChunk(child, dir / "o.txt");
    fs::rename(dir / "o.txt", dir / "moved.txt");
    ASSERT_EQ(WaitTabrook(StartTabrook(dir, args)), 0);
    EXPECT_EQ(WaitTabrook(child), 0);
    EXPECT_TRUE(ReadBytes(dir / "moved.txt") == ReadBytes(dir / "first.txt"));
    EXPECT_TRUE(ReadBytes(dir / "o.txt") == ReadBytes(dir / "first.txt"));
}

// In a folder that others can write to, a link that someone else planted
// is not followed, neither for the output nor for the log.
TEST_F(TabrookProcess, ALinkPlantedByAnotherUserIsNotFollowed) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a link to another user";
    const fs::path shared = dir / "shared";
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    std::ofstream(dir / "victim.txt") << "precious\n";
    fs::create_symlink(dir / "victim.txt", shared / "o.txt");
    ASSERT_EQ(lchown((shared / "o.txt").c_str(), 65534, 65534), 0);
    Result r =
        RunTabrook(dir, TABROOK_ETC, {BATCH_XLS, "shared/o.txt", "Nul", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(dir / "victim.txt"), "precious\n");
    EXPECT_EQ(ReadBytes(shared / "DravikErrlog.txt"),
              kOpenFailure +
                  "It is a link that someone else put in a folder that others can write to; it is "
                  "not followed\r\n");

    fs::remove(shared / "DravikErrlog.txt");
    fs::create_symlink(dir / "victim.txt", shared / "DravikErrlog.txt");
    ASSERT_EQ(lchown((shared / "DravikErrlog.txt").c_str(), 65534, 65534), 0);
    r = RunTabrook(dir, TABROOK_ETC, {BATCH_XLS, "shared/x.txt", "Nope", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(dir / "victim.txt"), "precious\n");
    EXPECT_NE(r.err.find("cannot open the error log"), std::string::npos) << r.err;

    // The same link made by the user who runs the program is followed.
    fs::remove(shared / "DravikErrlog.txt");
    ASSERT_EQ(lchown((shared / "o.txt").c_str(), 0, 0), 0);
    r = RunTabrook(dir, TABROOK_ETC, {BATCH_XLS, "shared/o.txt", "Nul", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CountLines(ReadBytes(dir / "victim.txt")), 1201u);
}

// /dev/stdout is the descriptor the shell opened: appended to as ">>"
// asked, never truncated.
TEST_F(TabrookProcess, AnOutputThatIsOurOwnDescriptorIsWrittenThroughIt) {
    std::ofstream(dir / "f.txt") << "kept\n";
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open((dir / "f.txt").c_str(), O_WRONLY | O_APPEND);
        dup2(fd, 1);
        setenv("ODBCSYSINI", TABROOK_ETC, 1);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        execl(TABROOK_EXE, TABROOK_EXE, BATCH_XLS, "/dev/stdout", "Nul", "UTF-8", ",", "Unix",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    EXPECT_EQ(WaitTabrook(child), 0) << ReadBytes(dir / "DravikErrlog.txt");
    const std::string text = ReadBytes(dir / "f.txt");
    EXPECT_EQ(text.rfind("kept\nKey,Text\nkey1,text1\n", 0), 0u) << text.substr(0, 40);
    EXPECT_EQ(CountLines(text), 1202u);
}

// A FIFO that nobody reads is refused at once; one that a reader has
// stopped reading holds the run only until a signal asks it to stop.
TEST_F(TabrookProcess, AFifoNeverHoldsTheRunForEver) {
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const pid_t lonely = StartTabrook(dir, {BATCH_XLS, "fifo", "Nul", "UTF-8", ",", "Unix"});
    EXPECT_EQ(WaitTabrookAtMost(lonely, 20), 1);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"),
              kOpenFailure + "It is a FIFO (a named pipe) that no program is reading\r\n");

    fs::remove(dir / "DravikErrlog.txt");
    const int reader = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    fcntl(reader, F_SETPIPE_SZ, 4096);
    const pid_t stalled =
        StartTabrook(dir, {BATCH_XLS, "fifo", "Big", "UTF-8", kSlowDelimiter, "Unix"});
    usleep(500000);
    ASSERT_EQ(waitpid(stalled, nullptr, WNOHANG), 0) << "the run did not wait for its reader";
    kill(stalled, SIGINT);
    EXPECT_EQ(WaitTabrookAtMost(stalled, 20), 1);
    close(reader);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt")
                  .rfind("The conversion was interrupted after record ", 0),
              0u)
        << ReadBytes(dir / "DravikErrlog.txt");
}

// An output that cannot be opened ends the run with one message, however
// many chunks the sheet has; one named like the log is refused and the log
// kept.
TEST_F(TabrookProcess, AnUnusableOutputEndsTheRunWithOneMessage) {
    fs::create_directories(dir / "folder");
    Result r = RunTabrook(dir, TABROOK_ETC, {BATCH_XLS, "folder", "Nul", "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"), kOpenFailure + "Is a directory\r\n");

    std::ofstream(dir / "DravikErrlog.txt", std::ios::trunc) << "earlier\r\n";
    fs::create_symlink("DravikErrlog.txt", dir / "log-link.txt");
    for (const std::string out : {"DravikErrlog.txt", "./DravikErrlog.txt", "log-link.txt"}) {
        r = RunTabrook(dir, TABROOK_ETC, {BATCH_XLS, out, "Nul", "UTF-8", ",", "Unix"});
        EXPECT_EQ(r.status, 1) << out;
    }
    EXPECT_EQ(ReadBytes(dir / "DravikErrlog.txt"),
              "earlier\r\n"
              "The output file is the error log.\r\nThe output file is the error "
              "log.\r\nThe output file is the error log.\r\n");
}

// A name with line breaks stays on its one line of the log, and the log is
// written in the locale's own encoding.
TEST_F(TabrookProcess, LogLinesAreWholeAndInTheLocalesEncoding) {
    Result r =
        RunTabrook(dir, TABROOK_ETC,
                   {BATCH_XLS, "o.txt", "x\r\nThe conversion was interrupted after record 1.",
                    "UTF-8", ",", "Unix"});
    EXPECT_EQ(r.status, 1);
    std::string log = ReadBytes(dir / "DravikErrlog.txt");
    EXPECT_EQ(log.find("\r\n"), log.size() - 2) << log;
    EXPECT_EQ(log.find('\n'), log.size() - 1) << log;
    EXPECT_NE(log.find("x\\r\\nThe conversion"), std::string::npos) << log;

    fs::remove(dir / "DravikErrlog.txt");
    r = RunTabrook(dir, TABROOK_ETC,
                   {BATCH_XLS, "o.txt", "Za\u017C\u00F3\u0142\u0107", "UTF-8", ",", "Unix"},
                   {{"LANG", "pl_PL.UTF-8"}, {"LC_ALL", ""}, {"LC_CTYPE", ""}});
    EXPECT_EQ(r.status, 1);
    log = ReadBytes(dir / "DravikErrlog.txt");
    EXPECT_NE(log.find("Za\u017C\u00F3\u0142\u0107"), std::string::npos) << log;
    EXPECT_EQ(log.rfind("\xEF\xBB\xBF", 0), std::string::npos);
}

// Arguments arrive as given: a space as the delimiter, an output whose name
// begins with "-" and holds quotes.
TEST_F(TabrookProcess, ArgumentsAreTakenExactlyAsGiven) {
    const Result r =
        RunTabrook(dir, TABROOK_ETC, {BATCH_XLS, "-o \"x\".txt", "Nul", "UTF-8", " ", "Unix"});
    EXPECT_EQ(r.status, 0) << ReadBytes(dir / "DravikErrlog.txt");
    EXPECT_EQ(ReadBytes(dir / "-o \"x\".txt").rfind("\xEF\xBB\xBFKey Text\nkey1 text1\n", 0), 0u);
}
