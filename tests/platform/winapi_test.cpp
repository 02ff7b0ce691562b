// The command line rebuilt from argv, critical sections and file
// attributes.
#include "platform/winapi.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/platform/temp_dir.h"

// Runs first in this file: before SetProcessCommandLine, the line comes
// from the kernel's copy of the arguments.
TEST(CommandLineTest, WithoutArgvTheLineNamesThisProgram) {
    const CString line = GetCommandLineW();
    EXPECT_GE(line.Find(u"platform_tests"), 0);
}

TEST(CommandLineTest, ArgumentsJoinWithOneSpaceAndQuoteOnlyWhenNeeded) {
    const char* argv[] = {"/opt/my tools/tabrook",
                          "/A",
                          "book.xls",
                          "out dir/book.txt",
                          "Sheet1",
                          "UTF-8",
                          "",
                          "a\tb",
                          "{tab}",
                          "\"x\""};
    EXPECT_EQ(BuildCommandLine(10, argv),
              u"\"/opt/my tools/tabrook\" /A book.xls \"out dir/book.txt\" Sheet1 UTF-8 \"\" "
              u"\"a\tb\" {tab} "
              u"\"x\"");
}

TEST(CommandLineTest, AbsolutePathsAreQuotedSoTheyNeverReadAsSwitches) {
    const char* argv[] = {
        "/usr/bin/tabrook", "/A", "/home/me/book.xls", "/tmp/out.csv", "/", "/B", "-"};
    EXPECT_EQ(BuildCommandLine(7, argv),
              u"\"/usr/bin/tabrook\" /A \"/home/me/book.xls\" \"/tmp/out.csv\" / /B -");
}

TEST(CommandLineTest, Utf8ArgumentsBecomeUtf16AndTheLineIsKept) {
    char program[] = "tabrook";
    char book[] = "r\xC3\xA9sum\xC3\xA9 \xF0\x9F\x98\x80.xls";
    char* argv[] = {program, book};
    SetProcessCommandLine(2, argv);
    EXPECT_EQ(CString(GetCommandLineW()), u"tabrook \"r\u00E9sum\u00E9 \U0001F600.xls\"");
    SetProcessCommandLine(1, argv);
    EXPECT_EQ(CString(GetCommandLineW()), u"tabrook");
}

TEST(CriticalSectionTest, SerialisesThreadsAndCanBeInitialisedAgain) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0;
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                EnterCriticalSection(&section);
                ++counter;
                LeaveCriticalSection(&section);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(counter, 80000);
    DeleteCriticalSection(&section);
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
}

TEST(FileAttributesTest, MissingFolderAndFile) {
    TempDir dir;
    WriteBytes(dir.Path("f.txt"), "x");
    EXPECT_EQ(GetFileAttributesW(dir.WidePath("none")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(dir.WidePath("")), FILE_ATTRIBUTE_DIRECTORY);
    const DWORD file = GetFileAttributesW(dir.WidePath("f.txt"));
    EXPECT_NE(file, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(file & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesW(nullptr), INVALID_FILE_ATTRIBUTES);
}
