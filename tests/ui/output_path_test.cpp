// The output path derived from a workbook path.
#include <gtest/gtest.h>

#include "ui/output_path.h"

namespace {

TEST(OutputPath, OnlyTheFilesOwnXlsExtensionIsReplaced) {
    EXPECT_EQ(OutputPathFor(u"/data/Sales.xls"), u"/data/Sales.csv");
    EXPECT_EQ(OutputPathFor(u"/data/Sales.XLS"), u"/data/Sales.csv");
    EXPECT_EQ(OutputPathFor(u"/q1.xls.d/a.xls"), u"/q1.xls.d/a.csv");
    EXPECT_EQ(OutputPathFor(u"/data/a.xls.bak"), u"/data/a.xls.bak.csv");
    EXPECT_EQ(OutputPathFor(u"/data/book"), u"/data/book.csv");
    EXPECT_EQ(OutputPathFor(u"C:\\data\\Book.Xls"), u"C:\\data\\Book.csv");
    EXPECT_EQ(OutputPathFor(u"/data/.xls"), u"/data/.csv");
    EXPECT_EQ(OutputFileName(u""), u".csv");  // a folder picked before any workbook
    EXPECT_EQ(OutputPathFor(u"/data/Sales.xlsx"), u"/data/Sales.csv");
    EXPECT_EQ(OutputPathFor(u"/data/Macros.XLSM"), u"/data/Macros.csv");
    EXPECT_EQ(OutputPathFor(u"/data/a.xlsx.d/b.xlsb"), u"/data/a.xlsx.d/b.xlsb.csv");
}

}  // namespace
