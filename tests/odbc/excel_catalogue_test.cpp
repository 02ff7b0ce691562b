// The worksheet catalogue through the project's Excel driver, loaded by
// unixODBC: a workbook written by LibreOffice with three sheets (one named
// with a space, one empty) and a defined name. The names come out exactly as
// the driver reports them, quotes and "$" kept, in workbook order, and each
// one works as it stands in the export's statement. The cases both drivers
// share are in recordset_catalogue_test.cpp.
#include <gtest/gtest.h>

#include "odbc/connect_string.h"
#include "odbc/tables.h"
#include "odbc/worksheetlist.h"
#include "tests/odbc/odbc_sandbox.h"
#include "tests/odbc/reading.h"

namespace {

const char16_t* const kDriver = u"Velkor Excel Driver (*.xls)";

CString Fixture(const char* name) {
    return CString::FromUtf8(std::string(TABROOK_ODBC_FIXTURES) + "/" + name);
}

const std::vector<CString> kCatalogueNames{u"Sales$", u"'My Data$'", u"Empty$", u"Prices"};

TEST(ExcelWorksheetList, NamesExactlyAsTheDriverReportsThem) {
    UseTestDrivers();
    CWorksheetList list;
    ASSERT_TRUE(list.Load(kDriver, Fixture("lo_catalogue.xls"))) << list.m_strError.ToUtf8();
    EXPECT_TRUE(list.m_bReplaced);
    EXPECT_TRUE(list.m_strError.IsEmpty());
    EXPECT_EQ(list.m_arrNames, kCatalogueNames);
}

TEST(ExcelWorksheetList, MissingWorkbookIsADatabaseError) {
    UseTestDrivers();
    CWorksheetList list;
    EXPECT_FALSE(list.Load(kDriver, Fixture("no-such-book.xls")));
    EXPECT_FALSE(list.m_bReplaced);
    EXPECT_TRUE(list.m_arrNames.empty());
    EXPECT_EQ(list.m_strError.Left(CString(u"Database error: [Velkor][Excel Driver]").GetLength()),
              CString(u"Database error: [Velkor][Excel Driver]"))
        << list.m_strError.ToUtf8();
    EXPECT_NE(list.m_strError.Find(u"no-such-book.xls"), -1) << list.m_strError.ToUtf8();
}

class ExcelCatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTestDrivers();
        m_database.Open(nullptr, FALSE, FALSE,
                        ExcelConnectString(kDriver, Fixture("lo_catalogue.xls")), TRUE);
    }

    CDatabase m_database;
};

TEST_F(ExcelCatalogueTest, WorksheetsAreSystemTablesAndTextColumnsWideText) {
    CTables tables(&m_database);
    ASSERT_TRUE(tables.Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset));
    EXPECT_EQ(tables.m_strQualifier, Fixture("lo_catalogue.xls"));
    EXPECT_EQ(CatalogueColumn(tables, &CTables::m_strTableType),
              (std::vector<CString>{u"SYSTEM TABLE", u"SYSTEM TABLE", u"SYSTEM TABLE", u"TABLE"}));
    CRecordsetEx set(&m_database);
    ASSERT_TRUE(
        set.Open(CRecordset::forwardOnly, u"Select * from ['My Data$']", CRecordset::readOnly));
    CODBCFieldInfo info;
    set.GetODBCFieldInfo(0, info);
    EXPECT_EQ(info.m_nSQLType, SQL_WVARCHAR);
}

TEST_F(ExcelCatalogueTest, EveryNameWorksAsItStandsInTheStatement) {
    for (const CString& name : kCatalogueNames) {
        CRecordset set(&m_database);
        EXPECT_NO_THROW(set.Open(CRecordset::forwardOnly, CString(u"Select * from [") + name + u"]",
                                 CRecordset::readOnly))
            << name.ToUtf8();
    }
}

}  // namespace
