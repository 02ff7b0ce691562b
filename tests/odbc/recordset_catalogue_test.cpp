// The recordsets and the table catalogue as one suite against both real
// drivers that unixODBC loads from the test configuration: Debian's SQLite
// driver, and the project's Excel driver on fixtures/lo_catalogue.xls. Both
// hold the same data (tables Sales, "My Data", Empty and Prices), so every
// case expects the same rows; only table names and the catalogue's table
// types differ, and each backend states its own.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "odbc/connect_string.h"
#include "odbc/recordsetex.h"
#include "odbc/tables.h"
#include "tests/odbc/odbc_sandbox.h"
#include "tests/odbc/reading.h"

namespace {

struct Backend {
    const char* name;
    bool excel;
    std::vector<CString> tables;  // the catalogue's names, in the driver's order
    CString sales;                // Item, Price: (pen, 3), (ink, 12)
    CString myData;               // Name: (Ann)
    const char16_t* otherType;    // the table type that only Prices has
    CString state;                // of the failure to find a table
};

// GoogleTest names a case's backend by its name.
void PrintTo(const Backend& backend, std::ostream* os) {
    *os << backend.name;
}

Backend SqliteBackend() {
    return {"SQLite",      false,        {u"Sales", u"My Data", u"Empty", u"Prices"},
            u"[Sales]",    u"[My Data]", u"VIEW",
            u"State:HY000"};
}

Backend ExcelBackend() {
    return {"Excel",
            true,
            {u"Sales$", u"'My Data$'", u"Empty$", u"Prices"},
            u"[Sales$]",
            u"['My Data$']",
            u"TABLE",
            u"State:42S02"};
}

class RecordsetAndCatalogue : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        UseTestDrivers();
        if (!GetParam().excel) {
            m_sqlite.emplace();
            m_database.Open(nullptr, FALSE, FALSE, m_sqlite->Connect());
            for (const char16_t* sql :
                 {u"create table Sales(Item varchar(9), Price integer)",
                  u"insert into Sales values ('pen', 3), ('ink', 12)",
                  u"create table \"My Data\"(Name varchar(9))",
                  u"insert into \"My Data\" values ('Ann')", u"create table Empty(a integer)",
                  u"create view Prices as select * from Sales"}) {
                CRecordset(&m_database).Open(CRecordset::forwardOnly, sql, CRecordset::none);
            }
        } else {
#ifdef TABROOK_ODBC_FIXTURES
            const CString workbook =
                CString::FromUtf8(std::string(TABROOK_ODBC_FIXTURES) + "/lo_catalogue.xls");
            m_database.Open(nullptr, FALSE, FALSE,
                            ExcelConnectString(u"Velkor Excel Driver (*.xls)", workbook), TRUE);
#endif
        }
    }

    static CString SelectAll(const CString& table) {
        return u"Select * from " + table;
    }

    // Every field of every row, read the way the export reads a sheet.
    static std::vector<CString> Fields(CRecordset& set) {
        std::vector<CString> fields;
        CString value;
        while (!set.IsEOF()) {
            for (short i = 0; i < set.GetODBCFieldCount(); ++i) {
                set.GetFieldValue(i, value);
                fields.push_back(value);
            }
            set.MoveNext();
        }
        return fields;
    }

    std::optional<ScratchSqlite> m_sqlite;
    CDatabase m_database;
};

TEST_P(RecordsetAndCatalogue, BothRecordsetsStandOnTheFirstRowAndReadEveryRow) {
    const std::vector<CString> rows{u"pen", u"3", u"ink", u"12"};
    CRecordset set(&m_database);
    ASSERT_TRUE(
        set.Open(CRecordset::forwardOnly, SelectAll(GetParam().sales), CRecordset::readOnly));
    EXPECT_EQ(ColumnNames(set), (std::vector<CString>{u"Item", u"Price"}));
    EXPECT_EQ(Fields(set), rows);

    CRecordsetEx dynamic(&m_database);
    ASSERT_TRUE(
        dynamic.Open(CRecordset::forwardOnly, SelectAll(GetParam().sales), CRecordset::readOnly));
    EXPECT_FALSE(dynamic.IsBOF());
    EXPECT_FALSE(dynamic.IsEOF());
    EXPECT_EQ(dynamic.GetRecordCount(), 1);
    EXPECT_EQ(ColumnNames(dynamic), (std::vector<CString>{u"Item", u"Price"}));
    EXPECT_EQ(Fields(dynamic), rows);
    EXPECT_EQ(dynamic.GetRecordCount(), 2);
}

TEST_P(RecordsetAndCatalogue, SecondOpenDescribesOnlyTheNewColumns) {
    CRecordsetEx set(&m_database);
    set.Open(CRecordset::forwardOnly, SelectAll(GetParam().sales), CRecordset::readOnly);
    ASSERT_EQ(set.GetODBCFieldCount(), 2);
    set.Close();
    EXPECT_EQ(set.GetODBCFieldCount(), -1);
    set.Open(CRecordset::snapshot, SelectAll(GetParam().myData), CRecordset::readOnly);
    EXPECT_EQ(ColumnNames(set), (std::vector<CString>{u"Name"}));
    CString value;
    set.GetFieldValue(0, value);
    EXPECT_EQ(value, CString(u"Ann"));
    EXPECT_THROW(set.GetFieldValue(1, value), CInvalidArgException);
}

TEST_P(RecordsetAndCatalogue, FailingStatementClosesAndCarriesTheDriversMessage) {
    CRecordsetEx set(&m_database);
    set.Open(CRecordset::forwardOnly, SelectAll(GetParam().sales), CRecordset::readOnly);
    try {
        set.Open(CRecordset::forwardOnly, u"Select * from [Missing$]", CRecordset::readOnly);
        FAIL() << "no exception";
    } catch (const CDBException& e) {
        EXPECT_EQ(e.m_nRetCode, SQL_ERROR);
        EXPECT_NE(e.m_strError.Find(u"Missing$"), -1) << e.m_strError.ToUtf8();
        EXPECT_EQ(e.m_strStateNativeOrigin.Left(GetParam().state.GetLength()), GetParam().state);
    }
    EXPECT_FALSE(set.IsOpen());
    EXPECT_EQ(set.GetODBCFieldCount(), -1);
}

TEST_P(RecordsetAndCatalogue, CatalogueListsEveryTableOnceAndAfreshOnReopening) {
    CTables tables(&m_database);
    for (int read = 0; read < 2; ++read) {
        ASSERT_TRUE(tables.Open(nullptr, nullptr, nullptr, nullptr, CRecordset::dynaset));
        EXPECT_FALSE(tables.IsBOF());
        EXPECT_EQ(tables.GetRecordCount(), 1);
        EXPECT_EQ(CatalogueColumn(tables), GetParam().tables);
        EXPECT_TRUE(tables.IsEOF());
        EXPECT_EQ(tables.GetRecordCount(), 4);
        EXPECT_EQ(tables.m_strTableName, CString(u""));
        tables.Close();
        EXPECT_FALSE(tables.IsOpen());
    }
}

TEST_P(RecordsetAndCatalogue, CatalogueSearchArgumentsReachTheDriver) {
    CTables tables(&m_database);
    tables.Open(nullptr, nullptr, u"%y%", nullptr, CRecordset::dynaset);
    EXPECT_EQ(CatalogueColumn(tables),
              (std::vector<CString>{GetParam().tables[1], GetParam().tables[2]}));
    tables.Close();
    tables.Open(nullptr, nullptr, nullptr, GetParam().otherType, CRecordset::dynaset);
    EXPECT_EQ(CatalogueColumn(tables), (std::vector<CString>{u"Prices"}));
    tables.Close();
    ASSERT_TRUE(tables.Open(nullptr, nullptr, u"NoSuchTable%", nullptr, CRecordset::dynaset));
    EXPECT_TRUE(tables.IsOpen());
    EXPECT_TRUE(tables.IsBOF());
    EXPECT_TRUE(tables.IsEOF());
    EXPECT_TRUE(CatalogueColumn(tables).empty());
}

std::vector<Backend> Backends() {
#ifdef TABROOK_ODBC_FIXTURES
    return {SqliteBackend(), ExcelBackend()};
#else
    return {SqliteBackend()};
#endif
}

INSTANTIATE_TEST_SUITE_P(Drivers, RecordsetAndCatalogue, ::testing::ValuesIn(Backends()),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
