// Start-up helpers: the error log's location, worksheet names, where the
// dialog module is looked for.
#include <gtest/gtest.h>

#include <string>

#include "app/tabrook_app.h"

namespace {

TEST(ErrorLogPath, LiesInTheOutputFilesFolder) {
    EXPECT_EQ(ErrorLogPath(u"/out/book.txt"), u"/out/DravikErrlog.txt");
    EXPECT_EQ(ErrorLogPath(u"out/sub/book.txt"), u"out/sub/DravikErrlog.txt");
    EXPECT_EQ(ErrorLogPath(u"C:\\out\\book.txt"), u"C:\\out/DravikErrlog.txt");
    EXPECT_EQ(ErrorLogPath(u"/book.txt"), u"/DravikErrlog.txt");
    // No folder part: the current directory, never the file system's root.
    EXPECT_EQ(ErrorLogPath(u"book.txt"), u"DravikErrlog.txt");
    EXPECT_EQ(ErrorLogPath(u""), u"DravikErrlog.txt");
}

TEST(DialogModulePaths, AreAbsoluteEvenWhenTheProgramsPlaceIsUnknown) {
    for (const char* exe : {"/usr/bin/tabrook", "", "tabrook", "bin/tabrook"}) {
        const auto paths = DialogModulePaths(exe);
        ASSERT_FALSE(paths.empty()) << exe;
        for (const auto& path : paths) EXPECT_TRUE(path.is_absolute()) << exe << ": " << path;
    }
    EXPECT_EQ(DialogModulePaths("/opt/t/bin/tabrook").front(), "/opt/t/bin/tabrook-dialog.so");
}

TEST(WorksheetTableName, AppendsDollarOnce) {
    EXPECT_EQ(WorksheetTableName(u"Sheet1"), u"Sheet1$");
    EXPECT_EQ(WorksheetTableName(u"Sheet1$"), u"Sheet1$");
    EXPECT_EQ(WorksheetTableName(u"a$b"), u"a$b$");
    EXPECT_EQ(WorksheetTableName(u""), u"");
}

}  // namespace
