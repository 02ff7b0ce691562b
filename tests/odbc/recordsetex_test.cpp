// CRecordsetEx on what only Debian's SQLite ODBC driver can show: a
// statement text run as given, results without columns or without rows,
// long and non-ASCII column names. The cases both drivers share are in
// recordset_catalogue_test.cpp.
#include <gtest/gtest.h>

#include "odbc/recordsetex.h"
#include "tests/odbc/odbc_sandbox.h"
#include "tests/odbc/reading.h"

namespace {

class RecordsetExTest : public ::testing::Test {
protected:
    void SetUp() override { m_database.Open(nullptr, FALSE, FALSE, m_file.Connect()); }

    ScratchSqlite m_file;
    CDatabase m_database;
    CRecordsetEx m_set{&m_database};
};

TEST_F(RecordsetExTest, StatementWithoutResultColumns) {
    EXPECT_TRUE(m_set.Open(CRecordset::forwardOnly, u"create table t(a integer, b varchar(9))",
                           CRecordset::none));
    EXPECT_TRUE(m_set.IsOpen());
    EXPECT_EQ(m_set.GetODBCFieldCount(), 0);
    EXPECT_EQ(m_set.GetRecordCount(), 0);
    EXPECT_TRUE(m_set.IsEOF());
    EXPECT_TRUE(m_set.IsBOF());
    CODBCFieldInfo info;
    EXPECT_THROW(m_set.GetODBCFieldInfo(0, info), CInvalidArgException);
    // The statement ran: the table exists.
    m_set.Close();
    EXPECT_TRUE(m_set.Open(CRecordset::forwardOnly, u"select * from t", CRecordset::readOnly));
    EXPECT_EQ(ColumnNames(m_set), (std::vector<CString>{u"a", u"b"}));
}

TEST_F(RecordsetExTest, ColumnsButNoRowsIsAtBothEnds) {
    m_set.Open(CRecordset::forwardOnly, u"create table t(a integer, b varchar(9))",
               CRecordset::none);
    for (UINT openType : {UINT{CRecordset::forwardOnly}, UINT{CRecordset::dynaset}}) {
        m_set.Close();
        ASSERT_TRUE(m_set.Open(openType, u"select b, a from t", CRecordset::readOnly));
        EXPECT_TRUE(m_set.IsBOF());
        EXPECT_TRUE(m_set.IsEOF());
        EXPECT_EQ(m_set.GetRecordCount(), 0);
        EXPECT_EQ(ColumnNames(m_set), (std::vector<CString>{u"b", u"a"}));
        EXPECT_THROW(m_set.MoveNext(), CDBException);
    }
}

TEST_F(RecordsetExTest, LongColumnNamesKeepTheirFirst255Characters) {
    const CString name255(u'n', 255);
    const CString name300 = CString(u'm', 255) + CString(u'z', 45);
    const CString sql =
        CString(u"select 1 as ") + name255 + u", 2 as " + name300 + u", 3 as \"Größe\"";
    ASSERT_TRUE(m_set.Open(CRecordset::forwardOnly, sql, CRecordset::readOnly));
    const std::vector<CString> names = ColumnNames(m_set);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], name255);
    EXPECT_EQ(names[1], name300.Left(255));
    EXPECT_EQ(names[2], CString::FromUtf8("Größe"));
}

TEST_F(RecordsetExTest, RunsTheTextAsGiven) {
    // The base recordset would run its default statement for an empty
    // text; this one hands the driver exactly what it got.
    const char16_t* sql = u"  select 5 as five  ";
    m_set.Open(CRecordset::forwardOnly, sql, CRecordset::readOnly);
    EXPECT_EQ(m_set.GetSQL(), CString(sql));
    EXPECT_THROW(m_set.Open(CRecordset::forwardOnly, u"", CRecordset::readOnly), CDBException);
    EXPECT_FALSE(m_set.IsOpen());
}

TEST_F(RecordsetExTest, KnowsItsClass) {
    EXPECT_TRUE(m_set.IsKindOf(RUNTIME_CLASS(CRecordset)));
    EXPECT_TRUE(m_set.IsKindOf(RUNTIME_CLASS(CRecordsetEx)));
    EXPECT_STREQ(m_set.GetRuntimeClass()->m_lpszClassName, "CRecordsetEx");
}

TEST(RecordsetExWithoutConnection, OpenReturnsFalse) {
    UseTestDrivers();
    CDatabase database;  // never opened: no statement can be allocated
    CRecordsetEx set(&database);
    EXPECT_FALSE(set.Open(CRecordset::forwardOnly, u"select 1", CRecordset::readOnly));
    EXPECT_FALSE(set.IsOpen());
}

}  // namespace
