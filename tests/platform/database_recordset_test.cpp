// CRecordset against Debian's SQLite ODBC driver, read the way the sheet
// export reads a worksheet: every row and value of forward-only results
// (fetched in blocks) and of other open types (read per field), across block
// boundaries, values longer than the size the driver reports, long and
// non-ASCII texts, NULLs, bound fields, and the failures that must surface.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/database.h"
#include "tests/odbc/odbc_sandbox.h"

namespace {

class RecordsetTest : public ::testing::Test {
protected:
    void SetUp() override { m_database.Open(nullptr, FALSE, FALSE, m_file.Connect()); }

    void Execute(const char16_t* sql) {
        CRecordset statement(&m_database);
        try {
            statement.Open(CRecordset::forwardOnly, sql, CRecordset::none);
        } catch (const CDBException& e) {
            FAIL() << CString(sql).ToUtf8() << ": " << e.m_strError.ToUtf8();
        }
    }

    // t(n, s, u): n from 1 to rows, s "r" + n, u NULL for even n and "" for
    // every third one, else "u" + n.
    void MakeNumberedTable(int rows) {
        Execute(u"create table t(n integer, s varchar(20), u varchar(20))");
        CString insert;
        insert.Format(
            u"insert into t with recursive c(k) as (select 1 union all select k + 1 from c where "
            u"k < %d) select k, 'r' || k, case when k %% 2 = 0 then null when k %% 3 = 0 then '' "
            u"else 'u' || k end from c",
            rows);
        if (rows > 0)
            Execute(insert);
    }

    static std::vector<CString> Row(CRecordset& set) {
        std::vector<CString> values(static_cast<size_t>(set.GetODBCFieldCount()));
        for (short i = 0; i < set.GetODBCFieldCount(); ++i)
            set.GetFieldValue(i, values[static_cast<size_t>(i)]);
        return values;
    }

    static CString Text(const char* utf8) { return CString::FromUtf8(utf8); }

    ScratchSqlite m_file;
    CDatabase m_database;
};

class NumberedRows : public RecordsetTest,
                     public ::testing::WithParamInterface<std::tuple<int, UINT>> {};

TEST_P(NumberedRows, EveryRowAndValueInOrder) {
    const auto [rows, openType] = GetParam();
    MakeNumberedTable(rows);
    CRecordset set(&m_database);
    set.Open(openType, u"select n, s, u from t order by n", CRecordset::readOnly);
    ASSERT_EQ(set.GetODBCFieldCount(), 3);
    EXPECT_EQ(set.IsBOF(), set.IsEOF());
    int seen = 0;
    while (!set.IsEOF()) {
        ++seen;
        const std::vector<CString> values = Row(set);
        const std::string n = std::to_string(seen);
        const std::string u = seen % 2 == 0 || seen % 3 == 0 ? "" : "u" + n;
        ASSERT_EQ(values[0], Text(n.c_str())) << "row " << seen;
        ASSERT_EQ(values[1], Text(("r" + n).c_str())) << "row " << seen;
        ASSERT_EQ(values[2], Text(u.c_str())) << "row " << seen;
        set.MoveNext();
        ASSERT_EQ(set.GetRecordCount(), seen + (set.IsEOF() ? 0 : 1));
    }
    EXPECT_EQ(seen, rows);
    EXPECT_EQ(set.GetRecordCount(), rows);
    EXPECT_THROW(set.MoveNext(), CDBException);
    CString value;
    EXPECT_THROW(set.GetFieldValue(0, value), CDBException);
}

INSTANTIATE_TEST_SUITE_P(BlockBoundaries, NumberedRows,
                         ::testing::Combine(::testing::Values(0, 1, 255, 256, 257, 1000),
                                            ::testing::Values(UINT{CRecordset::forwardOnly},
                                                              UINT{CRecordset::snapshot},
                                                              UINT{CRecordset::dynaset})));

TEST_F(RecordsetTest, EmptyResultIsAtBothEnds) {
    MakeNumberedTable(0);
    CRecordset set(&m_database);
    set.Open(CRecordset::forwardOnly, u"select n, s from t", CRecordset::readOnly);
    EXPECT_TRUE(set.IsOpen());
    EXPECT_TRUE(set.IsBOF());
    EXPECT_TRUE(set.IsEOF());
    EXPECT_EQ(set.GetRecordCount(), 0);
    EXPECT_EQ(set.GetODBCFieldCount(), 2);
}

TEST_F(RecordsetTest, DescribesTheResultColumns) {
    MakeNumberedTable(1);
    CRecordset set(&m_database);
    set.Open(CRecordset::forwardOnly, u"select s as \"Größe\", n from t", CRecordset::readOnly);
    CODBCFieldInfo info;
    set.GetODBCFieldInfo(0, info);
    EXPECT_EQ(info.m_strName, Text("Größe"));
    EXPECT_EQ(info.m_nSQLType, SQL_VARCHAR);
    EXPECT_EQ(info.m_nPrecision, 20u);
    set.GetODBCFieldInfo(1, info);
    EXPECT_EQ(info.m_strName, CString(u"n"));
    EXPECT_EQ(info.m_nSQLType, SQL_INTEGER);
    EXPECT_THROW(set.GetODBCFieldInfo(2, info), CInvalidArgException);
    CString value;
    EXPECT_THROW(set.GetFieldValue(-1, value), CInvalidArgException);
    EXPECT_THROW(set.GetFieldValue(2, value), CInvalidArgException);
}

// A driver may report a column size smaller than a value it then delivers
// (SQLite does not enforce varchar sizes). The values still come out whole,
// in their place, also after a block boundary.
TEST_F(RecordsetTest, ValuesLongerThanTheReportedSizeComeOutWhole) {
    Execute(u"create table w(k integer, v varchar(4))");
    Execute(
        u"insert into w with recursive c(k) as (select 1 union all select k + 1 from c where "
        u"k < 600) select k, 'v' || k from c");
    Execute(u"update w set v = replace(hex(zeroblob(5000)), '00', 'xy') where k = 400");
    // Non-ASCII text is made in SQL: this driver garbles it in statement texts.
    Execute(
        u"update w set v = 'Gr' || char(246, 223) || 'e ' || char(26085, 26412, 32, 128512) || "
        u"' and more text' where k = 401");
    CRecordset set(&m_database);
    set.Open(CRecordset::forwardOnly, u"select k, v from w order by k", CRecordset::readOnly);
    int seen = 0;
    CString value;
    while (!set.IsEOF()) {
        ++seen;
        set.GetFieldValue(1, value);
        if (seen == 400) {
            std::u16string expected;
            for (int i = 0; i < 5000; ++i) expected += u"xy";
            ASSERT_TRUE(value == CString(expected)) << value.GetLength();
        } else if (seen == 401) {
            ASSERT_EQ(value, Text("Größe 日本 😀 and more text"));
        } else {
            ASSERT_EQ(value, Text(("v" + std::to_string(seen)).c_str())) << "row " << seen;
        }
        set.GetFieldValue(0, value);
        ASSERT_EQ(value, Text(std::to_string(seen).c_str()));
        set.MoveNext();
    }
    EXPECT_EQ(seen, 600);
    EXPECT_EQ(set.GetRecordCount(), 600);
}

TEST_F(RecordsetTest, LongTextArrivesInPiecesAndWhole) {
    Execute(u"create table l(v text)");
    // 5,000 times "a" and a character outside the BMP: 15,000 UTF-16 units,
    // with surrogate pairs across the 4,096-unit pieces of SQLGetData.
    Execute(u"insert into l values(replace(hex(zeroblob(5000)), '00', 'a' || char(128512)))");
    std::u16string expected;
    for (int i = 0; i < 5000; ++i) expected += u"a\U0001F600";
    for (UINT openType : {UINT{CRecordset::forwardOnly}, UINT{CRecordset::snapshot}}) {
        CRecordset set(&m_database);
        set.Open(openType, u"select v, length(v) from l", CRecordset::readOnly);
        CString value;
        set.GetFieldValue(0, value);
        EXPECT_EQ(value.GetLength(), 15000);
        EXPECT_TRUE(value == CString(expected));
        set.GetFieldValue(1, value);
        EXPECT_EQ(value, CString(u"10000"));
    }
}

TEST_F(RecordsetTest, ColumnsReadInAnyOrderAndAgain) {
    MakeNumberedTable(3);
    for (UINT openType : {UINT{CRecordset::forwardOnly}, UINT{CRecordset::snapshot}}) {
        CRecordset set(&m_database);
        set.Open(openType, u"select n, s, u from t order by n", CRecordset::readOnly);
        set.MoveNext();
        CString value;
        set.GetFieldValue(2, value);
        EXPECT_EQ(value, CString(u""));  // row 2: NULL
        set.GetFieldValue(0, value);
        EXPECT_EQ(value, CString(u"2"));
        set.GetFieldValue(1, value);
        EXPECT_EQ(value, CString(u"r2"));
        set.GetFieldValue(2, value);
        EXPECT_EQ(value, CString(u""));
        set.MoveNext();
        set.GetFieldValue(1, value);
        EXPECT_EQ(value, CString(u"r3"));
    }
}

TEST_F(RecordsetTest, FailingStatementThrowsTheDriversTextAndCloses) {
    CRecordset set(&m_database);
    try {
        set.Open(CRecordset::forwardOnly, u"Select * from [Missing$]", CRecordset::readOnly);
        FAIL() << "no exception";
    } catch (const CDBException& e) {
        EXPECT_EQ(e.m_strError.Left(8), CString(u"[SQLite]"));
        EXPECT_NE(e.m_strError.Find(u"no such table: Missing$"), -1) << e.m_strError.ToUtf8();
    }
    EXPECT_FALSE(set.IsOpen());
    // The object opens again afterwards.
    set.Open(CRecordset::forwardOnly, u"select 7", CRecordset::readOnly);
    CString value;
    set.GetFieldValue(0, value);
    EXPECT_EQ(value, CString(u"7"));
}

// Two string members bound by position, at most four characters long.
class CPairSet : public CRecordset {
public:
    using CRecordset::CRecordset;
    void DoFieldExchange(CFieldExchange* pFX) override {
        pFX->SetFieldType(CFieldExchange::outputColumn);
        RFX_Text(pFX, u"first", m_strFirst, 4);
        RFX_Text(pFX, u"second", m_strSecond, 4);
    }
    CString m_strFirst;
    CString m_strSecond;
};

TEST_F(RecordsetTest, BoundFieldsFollowEachRow) {
    MakeNumberedTable(3);
    Execute(u"update t set s = 'Greater' where n = 3");
    CPairSet set(&m_database);
    set.m_nFields = 2;
    set.Open(CRecordset::dynaset, u"select u, s from t order by n", CRecordset::readOnly);
    std::vector<std::pair<CString, CString>> rows;
    while (!set.IsEOF()) {
        rows.emplace_back(set.m_strFirst, set.m_strSecond);
        set.MoveNext();
    }
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], std::make_pair(CString(u"u1"), CString(u"r1")));
    EXPECT_EQ(rows[1], std::make_pair(CString(u""), CString(u"r2")));    // NULL
    EXPECT_EQ(rows[2], std::make_pair(CString(u""), CString(u"Grea")));  // cut to 4
    EXPECT_EQ(set.m_strSecond, CString(u""));                            // no row at the end
}

}  // namespace
