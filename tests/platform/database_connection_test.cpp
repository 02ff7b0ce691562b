// CDatabase and CDBException against the real driver manager and Debian's
// SQLite ODBC driver: connecting and closing, the environment's ODBC
// version, the diagnostic text that a failure carries, and the recordsets
// that a closing connection takes with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/database.h"
#include "tests/odbc/odbc_sandbox.h"

namespace {

CDBException OpenFailure(const char16_t* dsn, const char16_t* connect) {
    UseTestDrivers();
    CDatabase database;
    try {
        database.Open(dsn, FALSE, FALSE, connect, TRUE);
    } catch (const CDBException& e) {
        EXPECT_FALSE(database.IsOpen());
        return e;
    }
    ADD_FAILURE() << "Open did not throw";
    return CDBException();
}

TEST(DatabaseConnection, ConnectsWithoutTheLeadingOdbcAndCloses) {
    ScratchSqlite file;
    CDatabase database;
    // The cursor-library flag is on, as the program passes it: wide calls
    // must still work afterwards.
    ASSERT_TRUE(database.Open(nullptr, FALSE, FALSE, file.Connect(), TRUE));
    EXPECT_TRUE(database.IsOpen());
    EXPECT_EQ(database.GetConnect().Left(5), CString(u"ODBC;"));
    EXPECT_EQ(database.GetConnect().Find(u"ODBC;", 1), -1) << database.GetConnect().ToUtf8();
    EXPECT_NE(database.GetConnect().Find(u"Database="), -1);

    SQLINTEGER version = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLGetEnvAttr(database.GetHenv(), SQL_ATTR_ODBC_VERSION, &version, 0, nullptr)));
    EXPECT_EQ(version, SQL_OV_ODBC3);

    database.Close();
    EXPECT_FALSE(database.IsOpen());
    EXPECT_EQ(database.m_hdbc, nullptr);
    // The same object connects again.
    EXPECT_TRUE(database.Open(nullptr, FALSE, TRUE, file.Connect()));
}

TEST(DatabaseConnection, FailureCarriesTheDriverManagersText) {
    const CDBException e = OpenFailure(nullptr, u"ODBC;DRIVER={No Such Driver};DSN='';DBQ=/x.xls");
    EXPECT_EQ(e.m_nRetCode, SQL_ERROR);
    EXPECT_EQ(
        e.m_strError,
        CString(u"[unixODBC][Driver Manager]Can't open lib 'No Such Driver' : file not found"));
    EXPECT_EQ(e.GetErrorMessage(), e.m_strError);
    EXPECT_EQ(e.m_strStateNativeOrigin,
              CString(u"State:01000,Native:0,Origin:[unixODBC][Driver Manager]"));
}

TEST(DatabaseConnection, FailureCarriesTheDriversOwnText) {
    const CDBException e =
        OpenFailure(nullptr, u"ODBC;DRIVER={SQLite3};Database=/nonexistent-folder/x.sqlite");
    EXPECT_EQ(e.m_strError.Left(8), CString(u"[SQLite]")) << e.m_strError.ToUtf8();
    EXPECT_NE(e.m_strError.Right(1), CString(u"\n"));
}

TEST(DatabaseConnection, DataSourceNameGoesFirst) {
    const CDBException e = OpenFailure(u"NoSuchSource", u"ODBC;");
    EXPECT_NE(e.m_strError.Find(u"Data source name not found"), -1) << e.m_strError.ToUtf8();
    EXPECT_EQ(e.m_strStateNativeOrigin.Left(11), CString(u"State:IM002"));
}

TEST(DatabaseConnection, ClosingTakesTheOpenRecordsetsAlong) {
    ScratchSqlite file;
    auto database = std::make_unique<CDatabase>();
    database->Open(nullptr, FALSE, FALSE, file.Connect());
    CRecordset first(database.get());
    CRecordset second(database.get());
    first.Open(CRecordset::forwardOnly, u"select 1", CRecordset::readOnly);
    second.Open(CRecordset::snapshot, u"select 2", CRecordset::none);
    ASSERT_TRUE(first.IsOpen() && second.IsOpen());

    database->Close();
    EXPECT_FALSE(first.IsOpen());
    EXPECT_FALSE(second.IsOpen());
    // Destroying the database before its recordsets is harmless too.
    database.reset();
    first.Close();
}

TEST(DatabaseConnection, RecordsetOnAClosedConnectionThrows) {
    UseTestDrivers();
    CDatabase database;
    CRecordset set(&database);
    EXPECT_THROW(set.Open(CRecordset::forwardOnly, u"select 1", CRecordset::readOnly),
                 CDBException);
    EXPECT_FALSE(set.IsOpen());
    EXPECT_TRUE(set.IsEOF());
}

TEST(DatabaseConnection, RecordsetWithoutDatabaseConnectsWithItsDefault) {
    UseTestDrivers();
    CRecordset set;
    try {
        set.Open(CRecordset::forwardOnly, u"select 1", CRecordset::readOnly);
        FAIL() << "the default connection string names no source";
    } catch (const CDBException& e) {
        EXPECT_NE(e.m_strError.Find(u"Data source name not found"), -1);
    }
    EXPECT_FALSE(set.IsOpen());
}

}  // namespace

// A diagnostic is read whole at any length the driver manager can pass on
// (SQLGetDiagRecW counts in SQLSMALLINT: 32,766 characters and a
// terminator), and a longer one as far as that, never cut short by a
// wrapped length nor lost.
TEST(DatabaseConnection, ADiagnosticOfAnyLengthIsReadWhole) {
    for (const int length : {511, 512, 5000, 32766, 32767, 32768, 40000, 65535, 65536, 65600}) {
        const CString connect =
            CString::FromUtf8("ODBC;DRIVER={" LONG_DIAG_DRIVER "};LEN=" + std::to_string(length));
        CDatabase database;
        ASSERT_TRUE(database.Open(nullptr, FALSE, FALSE, connect, TRUE));
        CDBException e;
        try {
            CRecordset rs(&database);
            rs.Open(CRecordset::forwardOnly, u"Select * from [Sheet1$]", CRecordset::readOnly);
            FAIL() << "no failure";
        } catch (const CDBException& thrown) {
            e = thrown;
        }
        const int expected = std::min(length, 32766);
        EXPECT_EQ(e.m_strError.GetLength(), expected) << length << e.m_strError.Left(200).ToUtf8();
        EXPECT_EQ(e.m_strError.Find(u'x'), 0) << length;
        if (length <= 32766) {
            EXPECT_EQ(e.m_strError.Right(1), CString(u"!")) << length;
        }
    }
}
