// CWorksheetList: the worksheet-list load's outcome when the workbook's
// connection cannot be made, reported as the dialog shows it, with the list
// left as it was.
#include <gtest/gtest.h>

#include "odbc/worksheetlist.h"
#include "tests/odbc/odbc_sandbox.h"

namespace {

TEST(WorksheetListFailure, UnknownDriverIsADatabaseErrorAndKeepsTheList) {
    UseTestDrivers();
    CWorksheetList list;
    list.m_arrNames.push_back(u"left over");
    EXPECT_FALSE(list.Load(u"No Such Excel Driver", u"/data/book.xls"));
    EXPECT_EQ(list.m_strError,
              CString(u"Database error: [unixODBC][Driver Manager]Can't open lib 'No Such Excel "
                      u"Driver' : file not found"));
    EXPECT_FALSE(list.m_bReplaced);
    EXPECT_TRUE(list.m_arrNames.empty());
}

}  // namespace
