// Driver discovery against odbcinst.ini files written for each case.
#include "odbc/find_excel_driver.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Runs FindExcelDriver in a child process whose ODBCSYSINI holds the given
// odbcinst.ini, so that no installer state carries over between cases.
std::string DiscoverWith(const std::string& odbcinst) {
    const fs::path dir =
        fs::temp_directory_path() / ("tabrook-odbcinst-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "odbcinst.ini") << odbcinst;
    int fds[2];
    if (pipe(fds) != 0)
        return "<pipe failed>";
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        setenv("ODBCSYSINI", dir.c_str(), 1);
        setenv("ODBCINSTINI", "odbcinst.ini", 1);
        const std::string name = FindExcelDriver().ToUtf8();
        const ssize_t written = write(fds[1], name.data(), name.size());
        _exit(written == static_cast<ssize_t>(name.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    fs::remove_all(dir);
    return out;
}

std::string Section(const std::string& name) {
    return "[" + name + "]\nDriver=/nonexistent/lib" + std::to_string(name.size()) + ".so\n\n";
}

TEST(FindExcelDriver, FirstNameContainingExcelWins) {
    EXPECT_EQ(DiscoverWith(Section("SQL Server") + Section("Access Driver (*.mdb)") +
                           Section("Velkor Excel Driver (*.xls)") + Section("Other Excel Driver")),
              "Velkor Excel Driver (*.xls)");
}

TEST(FindExcelDriver, MatchIsCaseSensitive) {
    EXPECT_EQ(DiscoverWith(Section("EXCEL Driver") + Section("excel driver")), "");
    EXPECT_EQ(DiscoverWith(Section("EXCEL Driver") + Section("MyExcelDriver")), "MyExcelDriver");
}

TEST(FindExcelDriver, NoneInstalled) {
    EXPECT_EQ(DiscoverWith(""), "");
    EXPECT_EQ(DiscoverWith(Section("SQLite3")), "");
}

TEST(FindExcelDriver, NamesBeyondTheFirst2000CharactersAreNotSeen) {
    std::string ini;
    for (int i = 0; i < 30; ++i)
        ini += Section("Filler driver number " + std::to_string(i) + std::string(60, 'x'));
    ini += Section("Late Excel Driver");
    EXPECT_EQ(DiscoverWith(ini), "");
}

}  // namespace
