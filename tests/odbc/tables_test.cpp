// CTables against Debian's SQLite ODBC driver: the catalogue rows walked the
// way the worksheet list walks them, an empty catalogue, a fresh read on
// reopening, search arguments, and the failure of a catalogue whose
// connection is not open.
#include <gtest/gtest.h>

#include "odbc/tables.h"
#include "tests/odbc/odbc_sandbox.h"

namespace {

class TablesTest : public ::testing::Test {
protected:
    void SetUp() override { m_database.Open(nullptr, FALSE, FALSE, m_file.Connect()); }

    void Execute(const char16_t* sql) {
        CRecordset statement(&m_database);
        statement.Open(CRecordset::forwardOnly, sql, CRecordset::none);
    }

    // The worksheet list's loop: while the index is below the count of rows
    // seen so far, take the row's name and move on.
    static std::vector<CString> Names(CTables& tables) {
        std::vector<CString> names;
        for (long row = 0; row < tables.GetRecordCount(); ++row) {
            names.push_back(tables.m_strTableName);
            tables.MoveNext();
        }
        return names;
    }

    ScratchSqlite m_file;
    CDatabase m_database;
};

TEST_F(TablesTest, EveryTableOnceInTheDriversOrder) {
    Execute(u"create table \"Sales 2024\"(a integer)");
    Execute(u"create table Alpha(a integer)");
    Execute(u"create table zeta(a integer)");
    CTables tables(&m_database);
    ASSERT_TRUE(tables.Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset));
    EXPECT_FALSE(tables.IsBOF());
    EXPECT_EQ(tables.GetRecordCount(), 1);
    EXPECT_EQ(tables.m_strTableType, CString(u"TABLE"));
    EXPECT_EQ(tables.m_strOwner, CString(u""));  // NULL
    // This driver lists tables in the order they were made; nothing sorts them.
    EXPECT_EQ(Names(tables), (std::vector<CString>{u"Sales 2024", u"Alpha", u"zeta"}));
    EXPECT_TRUE(tables.IsEOF());
    EXPECT_EQ(tables.GetRecordCount(), 3);
    EXPECT_EQ(tables.m_strTableName, CString(u""));
}

TEST_F(TablesTest, EmptyCatalogueIsAtItsEndRightAway) {
    CTables tables(&m_database);
    ASSERT_TRUE(tables.Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset));
    EXPECT_TRUE(tables.IsOpen());
    EXPECT_TRUE(tables.IsEOF());
    EXPECT_TRUE(tables.IsBOF());
    EXPECT_TRUE(Names(tables).empty());
}

TEST_F(TablesTest, ReopeningReadsTheCatalogueAfresh) {
    Execute(u"create table one(a integer)");
    CTables tables(&m_database);
    tables.Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset);
    EXPECT_EQ(Names(tables), (std::vector<CString>{u"one"}));
    tables.Close();
    EXPECT_FALSE(tables.IsOpen());

    Execute(u"create table two(a integer)");
    tables.Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset);
    EXPECT_EQ(tables.GetRecordCount(), 1);
    EXPECT_EQ(Names(tables), (std::vector<CString>{u"one", u"two"}));
}

TEST_F(TablesTest, SearchArgumentsReachTheDriver) {
    Execute(u"create table apple(a integer)");
    Execute(u"create table banana(a integer)");
    Execute(u"create view basket as select * from apple");
    CTables tables(&m_database);
    tables.Open(nullptr, nullptr, u"b%", nullptr, CRecordset::dynaset);
    EXPECT_EQ(Names(tables), (std::vector<CString>{u"banana", u"basket"}));
    tables.Close();
    tables.Open(nullptr, nullptr, nullptr, u"VIEW", CRecordset::dynaset);
    EXPECT_EQ(Names(tables), (std::vector<CString>{u"basket"}));
    EXPECT_EQ(tables.GetRecordCount(), 1);
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
