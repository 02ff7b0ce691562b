// CTables on what only Debian's SQLite ODBC driver can show: a table made
// between two reads, the failure of a catalogue whose connection is not
// open, and the inherited statement open. The cases both drivers share are
// in recordset_catalogue_test.cpp.
#include <gtest/gtest.h>

#include "odbc/tables.h"
#include "tests/odbc/odbc_sandbox.h"
#include "tests/odbc/reading.h"

namespace {

class TablesTest : public ::testing::Test {
protected:
    void SetUp() override { m_database.Open(nullptr, FALSE, FALSE, m_file.Connect()); }

    void Execute(const char16_t* sql) {
        CRecordset statement(&m_database);
        statement.Open(CRecordset::forwardOnly, sql, CRecordset::none);
    }

    ScratchSqlite m_file;
    CDatabase m_database;
};

TEST_F(TablesTest, ReopeningReadsTheCatalogueAfresh) {
    Execute(u"create table one(a integer)");
    CTables tables(&m_database);
    tables.Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset);
    EXPECT_EQ(CatalogueColumn(tables), (std::vector<CString>{u"one"}));
    tables.Close();
    EXPECT_FALSE(tables.IsOpen());

    Execute(u"create table two(a integer)");
    tables.Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset);
    EXPECT_EQ(tables.GetRecordCount(), 1);
    EXPECT_EQ(CatalogueColumn(tables), (std::vector<CString>{u"one", u"two"}));
}

TEST_F(TablesTest, ClosedConnectionFailsBeforeAnyStatement) {
    CDatabase closed;
    CTables tables(&closed);
    try {
        tables.Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset);
        FAIL() << "no exception";
    } catch (const CDBException& e) {
        EXPECT_EQ(e.m_nRetCode, SQL_INVALID_HANDLE);
        EXPECT_FALSE(e.m_strError.IsEmpty());
    }
    EXPECT_FALSE(tables.IsOpen());
}

TEST_F(TablesTest, StatementOpenStaysAvailable) {
    // The inherited statement open still works on a catalogue object, and
    // the bound fields follow its first five columns.
    CTables tables(&m_database);
    tables.Open(CRecordset::forwardOnly, u"select 'q', 'o', 'n', 't', 'r'", CRecordset::readOnly);
    EXPECT_EQ(tables.m_strQualifier, CString(u"q"));
    EXPECT_EQ(tables.m_strTableName, CString(u"n"));
    EXPECT_EQ(tables.m_strRemarks, CString(u"r"));
    EXPECT_TRUE(tables.IsKindOf(RUNTIME_CLASS(CRecordsetEx)));
}

}  // namespace
