// The driver's behaviour through the ODBC API, under ODBC 3 and ODBC 2:
// connection strings, the catalogue, the statement forms, the result's
// shape, SQLGetData and block fetches, diagnostics, two connections on two
// threads. Compiled once and run twice (see odbc_client.h): against the
// driver directly and through unixODBC.
#include "odbc_client.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <mutex>
#include <regex>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace xlsodbc_test;

namespace {

constexpr const char* kLo = "lo_driver.xls";
constexpr const char* kXlwt = "xlwt_driver.xls";

class Driver : public ::testing::TestWithParam<SQLINTEGER> {
protected:
    [[nodiscard]] bool odbc2() const { return GetParam() == SQL_OV_ODBC2; }
    [[nodiscard]] std::string state(const char* odbc3, const char* odbc2state) const {
        return odbc2() ? odbc2state : odbc3;
    }
    // Connects `conn` to a fixture, failing the test when it cannot.
    void open(Conn& conn, const std::string& workbook, const std::string& extra = "") {
        ASSERT_TRUE(SQL_SUCCEEDED(conn.connect(connectionString(workbook, extra))))
            << describe(SQL_HANDLE_DBC, conn.handle);
    }
    Table select(const std::string& workbook, const std::string& statement,
                 std::vector<std::string>* names = nullptr, const std::string& extra = "") {
        Env env(GetParam());
        Conn conn(env);
        open(conn, workbook, extra);
        Stmt stmt(conn);
        EXPECT_EQ(stmt.exec(statement), SQL_SUCCESS) << describe(SQL_HANDLE_STMT, stmt.handle);
        if (names != nullptr) {
            *names = stmt.columnNames();
        }
        return stmt.rows();
    }
    // Connects to a workbook among the reader's fixtures.
    static void openReaderFixture(Conn& conn, const std::string& name) {
        ASSERT_TRUE(SQL_SUCCEEDED(conn.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=" +
                                               std::string(XLSODBC_READER_FIXTURES) + "/" + name)))
            << describe(SQL_HANDLE_DBC, conn.handle);
    }
    // The first diagnostic after a failed statement.
    Diag failure(const std::string& workbook, const std::string& statement) {
        Env env(GetParam());
        Conn conn(env);
        open(conn, workbook);
        Stmt stmt(conn);
        EXPECT_EQ(stmt.exec(statement), SQL_ERROR);
        const auto d = stmt.diags();
        return d.empty() ? Diag{} : d.front();
    }
    Diag connectFailure(const std::string& connectionString) {
        Env env(GetParam());
        Conn conn(env);
        EXPECT_EQ(conn.connect(connectionString), SQL_ERROR);
        const auto d = conn.diags();
        return d.empty() ? Diag{} : d.front();
    }
};

std::optional<std::string> s(const char* text) {
    return std::string(text);
}
const std::optional<std::string> null;

// ---- connection strings -------------------------------------------------

TEST_P(Driver, ConnectionStringKeysAnyCaseBracesAndUnknownKeys) {
    for (const std::string& cs : std::vector<std::string>{
             "driver={Velkor Excel Driver (*.xls)};dbq=" + fixture(kLo),
             "DRIVER={Velkor Excel Driver (*.xls)};DSN='';DbQ={" + fixture(kLo) + "};Foo=bar",
             "DRIVER={Velkor Excel Driver (*.xls)}; DBQ = " + fixture(kLo) + " ;"}) {
        Env env(GetParam());
        Conn conn(env);
        EXPECT_TRUE(SQL_SUCCEEDED(conn.connect(cs))) << cs << "\n"
                                                     << describe(SQL_HANDLE_DBC, conn.handle);
    }
}

// An Excel 2.x worksheet file: its one sheet is named after the file.
TEST_P(Driver, Excel2WorksheetFileIsOneTableNamedAfterTheFile) {
    Env env(GetParam());
    Conn conn(env);
    const std::string file = std::string(XLSODBC_READER_FIXTURES) + "/biff2-4/CRLFX5_2.XLS";
    ASSERT_TRUE(SQL_SUCCEEDED(conn.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=" + file)))
        << describe(SQL_HANDLE_DBC, conn.handle);
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("SELECT * FROM [CRLFX5_2$]"), SQL_SUCCESS)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    EXPECT_EQ(stmt.columnNames(), (std::vector<std::string>{"Normal", "abc\ndef"}));
    EXPECT_EQ(stmt.rows(), (Table{{s("Formula"), s("abc\r\ndef")}}));
}

// A connection that cannot be made is 08001 with the reason in words a
// user understands, naming the workbook where there is one: no workbook
// named, a missing file, a folder, files that are no workbook, and the
// reader's fixtures that real writers made or that were damaged on purpose.
TEST_P(Driver, RefusedConnectionsSayWhy) {
    const std::string driver = "DRIVER={Velkor Excel Driver (*.xls)};";
    const std::string reader = std::string(XLSODBC_READER_FIXTURES) + "/";
    const struct {
        std::string connection;
        std::vector<const char*> phrases;
    } cases[] = {
        {driver + "DSN=''", {"[Velkor][Excel Driver]No workbook was named"}},
        {connectionString("no_such_file.xls"), {"no_such_file.xls", "cannot be opened"}},
        {driver + "DBQ=" + XLSODBC_FIXTURES, {"folder"}},
        {connectionString("not_a_workbook.xls"), {"not an Excel workbook"}},
        {driver + "DBQ=" + XLSODBC_XLSX_FIXTURES + "/calamine_date.xlsb",
         {"binary workbook (.xlsb)", "save it as an Excel workbook (.xlsx or .xls)"}},
        {connectionString("lo_driver_truncated.xls"), {"lo_driver_truncated.xls"}},
        {driver + "DBQ=" + reader + "lo_encrypted.xls", {"password-protected"}},
        {driver + "DBQ=" + reader + "malformed/ods_named_xls.xls",
         {"OpenDocument spreadsheet (.ods)", "(.xlsx or .xls)"}},
        {driver + "DBQ=" + reader + "malformed/fat_chain_loops.xls", {"damaged"}},
    };
    for (const auto& c : cases) {
        const Diag d = connectFailure(c.connection);
        EXPECT_EQ(d.state, "08001") << c.connection;
        for (const char* phrase : c.phrases) {
            EXPECT_NE(d.message.find(phrase), std::string::npos) << d.message;
        }
    }
}

TEST_P(Driver, Excel95WorkbookReadsLikeAnyOther) {
    Env env(GetParam());
    Conn conn(env);
    ASSERT_TRUE(SQL_SUCCEEDED(conn.connect(
        "DRIVER={Velkor Excel Driver (*.xls)};DBQ=" + std::string(XLSODBC_READER_FIXTURES) +
        "/gnm_features_biff5.xls")))
        << describe(SQL_HANDLE_DBC, conn.handle);
    Stmt stmt(conn);
    ASSERT_EQ(SQLTablesW(stmt.handle, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    EXPECT_FALSE(stmt.rows().empty());
}

TEST_P(Driver, DataSourceInOdbcIniCarriesDbqAndFirstRowHasNames) {
    const std::filesystem::path ini = std::filesystem::temp_directory_path() /
                                      ("xlsodbc_test_odbc_" + std::to_string(getpid()) + ".ini");
    std::ofstream(ini)
        << "[VelkorTest]\nDriver = Velkor Excel Driver (*.xls)\nDBQ = " << fixture(kLo)
        << "\n[VelkorNoHeader]\nDriver = Velkor Excel Driver (*.xls)\nDBQ = " << fixture(kLo)
        << "\nFirstRowHasNames = 0\n[VelkorNoDbq]\nDriver = Velkor Excel Driver (*.xls)\n";
    setenv("ODBCINI", ini.c_str(), 1);
    // Removes the file and the variable however the test ends.
    struct Cleanup {
        std::filesystem::path file;
        ~Cleanup() {
            unsetenv("ODBCINI");
            std::error_code ec;
            std::filesystem::remove(file, ec);
        }
    } cleanup{ini};
    {
        Env env(GetParam());
        Conn conn(env);
        ASSERT_TRUE(SQL_SUCCEEDED(conn.connectDsn("VelkorTest")))
            << describe(SQL_HANDLE_DBC, conn.handle);
        Stmt stmt(conn);
        ASSERT_EQ(stmt.exec("select * from [My Sheet$]"), SQL_SUCCESS);
        EXPECT_EQ(stmt.columnNames(), std::vector<std::string>{"Col"});
    }
    {
        Env env(GetParam());
        Conn conn(env);
        ASSERT_TRUE(SQL_SUCCEEDED(conn.connect("DSN=VelkorNoHeader")))
            << describe(SQL_HANDLE_DBC, conn.handle);
        Stmt stmt(conn);
        ASSERT_EQ(stmt.exec("select * from [My Sheet$]"), SQL_SUCCESS);
        EXPECT_EQ(stmt.columnNames(), std::vector<std::string>{"F1"});
        EXPECT_EQ(stmt.rows(), (Table{{s("Col")}, {s("v1")}}));
    }
    {
        // The data source's name is the DSN alone, not the rest of the string.
        Env env(GetParam());
        Conn conn(env);
        ASSERT_TRUE(SQL_SUCCEEDED(conn.connect("DSN=VelkorTest;FirstRowHasNames=0")))
            << describe(SQL_HANDLE_DBC, conn.handle);
        char name[64] = {};
        SQLSMALLINT length = 0;
        ASSERT_EQ(SQLGetInfo(conn.handle, SQL_DATA_SOURCE_NAME, name, sizeof name, &length),
                  SQL_SUCCESS);
        EXPECT_STREQ(name, "VelkorTest");
    }
    {
        Env env(GetParam());
        Conn conn(env);
        EXPECT_EQ(conn.connectDsn("VelkorNoDbq"), SQL_ERROR);
        ASSERT_FALSE(conn.diags().empty());
        EXPECT_NE(conn.diags().front().message.find("VelkorNoDbq"), std::string::npos);
    }
}

// ---- catalogue --------------------------------------------------------------

Table tables(Stmt& stmt, const char* table, const char* type = nullptr) {
    std::u16string t = table ? u(table) : u"";
    std::u16string ty = type ? u(type) : u"";
    EXPECT_EQ(SQLTablesW(stmt.handle, nullptr, 0, nullptr, 0,
                         table ? reinterpret_cast<SQLWCHAR*>(t.data()) : nullptr, SQL_NTS,
                         type ? reinterpret_cast<SQLWCHAR*>(ty.data()) : nullptr, SQL_NTS),
              SQL_SUCCESS)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    Table rows = stmt.rows();
    SQLCloseCursor(stmt.handle);
    return rows;
}

std::vector<std::string> column(const Table& rows, size_t index) {
    std::vector<std::string> out;
    for (const auto& r : rows) {
        out.push_back(r.at(index).value_or("<NULL>"));
    }
    return out;
}

// The workbook that LibreOffice saved as .xls saved again as .xlsx: the same
// tables in the same order, and each reads as the same result set.
TEST_P(Driver, AnXlsxReadsAsTheXlsSavedFromTheSameSheets) {
    Env env(GetParam());
    Conn xls(env), xlsx(env);
    open(xls, kLo);
    open(xlsx, "lo_driver.xlsx");
    Stmt xlsTables(xls), xlsxTables(xlsx);
    const Table names = tables(xlsTables, nullptr);
    ASSERT_EQ(column(tables(xlsxTables, nullptr), 2), column(names, 2));
    for (const std::string& name : column(names, 2)) {
        Stmt a(xls), b(xlsx);
        ASSERT_EQ(a.exec("SELECT * FROM [" + name + "]"), SQL_SUCCESS) << name;
        ASSERT_EQ(b.exec("SELECT * FROM [" + name + "]"), SQL_SUCCESS)
            << name << describe(SQL_HANDLE_STMT, b.handle);
        EXPECT_EQ(b.columnNames(), a.columnNames()) << name;
        EXPECT_EQ(b.rows(), a.rows()) << name;
    }
}

TEST_P(Driver, TablesListsSheetsInOrderQuotedThenDefinedNames) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    const Table all = tables(stmt, nullptr);
    EXPECT_EQ(column(all, 2),
              (std::vector<std::string>{"Sheet1$", "'My Sheet$'", "'Bob''s Data$'", "Café$",
                                        "Headers$", "Empty$", "Offset$", "OffsetBlock", "Prices"}));
    EXPECT_EQ(column(all, 3)[0], "SYSTEM TABLE");
    EXPECT_EQ(column(all, 3)[8], "TABLE");
    EXPECT_EQ(column(all, 0)[0], fixture(kLo));
    EXPECT_EQ(column(all, 1)[0], "<NULL>");
    EXPECT_EQ(column(all, 4)[0], "<NULL>");
    ASSERT_EQ(SQLTablesW(stmt.handle, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(stmt.columnNames().size(), 5U);
    SQLCloseCursor(stmt.handle);

    // Every name the catalogue reports works between brackets.
    for (const std::string& name : column(all, 2)) {
        Stmt select(conn);
        EXPECT_EQ(select.exec("SELECT * FROM [" + name + "]"), SQL_SUCCESS)
            << name << describe(SQL_HANDLE_STMT, select.handle);
    }
}

// A workbook whose sheets each define a name of their own (LocalRange on
// several sheets): each is listed once, qualified by its sheet, and selects
// its own range; the built-in names (print areas) are not tables.
TEST_P(Driver, EachSheetsOwnNameIsListedQualifiedAndSelectsItsRange) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, "xlrd__namesdemo.xls");
    Stmt stmt(conn);
    const std::vector<std::string> names = column(tables(stmt, nullptr, "TABLE"), 2);
    std::vector<std::string> local;
    for (const std::string& name : names) {
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
        EXPECT_EQ(name.find("Print_"), std::string::npos) << name;
        if (name.find('!') != std::string::npos) {
            local.push_back(name);
        }
    }
    EXPECT_EQ(local.size(), 3U);
    for (const std::string& name : local) {
        Stmt select(conn);
        ASSERT_EQ(select.exec("SELECT * FROM [" + name + "]"), SQL_SUCCESS)
            << name << describe(SQL_HANDLE_STMT, select.handle);
        char table[64] = {};
        ASSERT_EQ(SQLColAttribute(select.handle, 1, SQL_DESC_TABLE_NAME, table, sizeof table,
                                  nullptr, nullptr),
                  SQL_SUCCESS);
        EXPECT_EQ(std::string(table), name) << "another sheet's name was selected";
    }
}

TEST_P(Driver, TablesSearchPatternsAndTypes) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    EXPECT_EQ(column(tables(stmt, "%sheet%"), 2),
              (std::vector<std::string>{"Sheet1$", "'My Sheet$'"}));
    EXPECT_EQ(column(tables(stmt, "_eaders$"), 2), std::vector<std::string>{"Headers$"});
    EXPECT_EQ(column(tables(stmt, "Sheet_$"), 2), std::vector<std::string>{"Sheet1$"});
    EXPECT_TRUE(tables(stmt, "Sheet\\_$").empty());
    EXPECT_EQ(column(tables(stmt, "%", "'TABLE'"), 2),
              (std::vector<std::string>{"OffsetBlock", "Prices"}));
    EXPECT_EQ(column(tables(stmt, nullptr, "VIEW"), 2), std::vector<std::string>{});

    // SQL_ALL_TABLE_TYPES: table "" and type "%".
    std::u16string empty, percent = u"%";
    ASSERT_EQ(SQLTablesW(stmt.handle, reinterpret_cast<SQLWCHAR*>(empty.data()), 0,
                         reinterpret_cast<SQLWCHAR*>(empty.data()), 0,
                         reinterpret_cast<SQLWCHAR*>(empty.data()), 0,
                         reinterpret_cast<SQLWCHAR*>(percent.data()), SQL_NTS),
              SQL_SUCCESS);
    EXPECT_EQ(column(stmt.rows(), 3), (std::vector<std::string>{"SYSTEM TABLE", "TABLE"}));
}

// SheetsAsTables=1 reports worksheets as "TABLE", for clients that list only
// tables of that type (LibreOffice Base); the default stays "SYSTEM TABLE".
TEST_P(Driver, SheetsAsTablesListsWorksheetsAsTables) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo, "SheetsAsTables=1");
    Stmt stmt(conn);
    const Table listed = tables(stmt, "%", "TABLE");
    EXPECT_EQ(column(listed, 2).size(), 9U);
    EXPECT_EQ(column(listed, 2).front(), "Sheet1$");
    EXPECT_EQ(column(listed, 3).front(), "TABLE");
    EXPECT_TRUE(tables(stmt, "%", "SYSTEM TABLE").empty());
    std::u16string empty, percent = u"%";
    ASSERT_EQ(SQLTablesW(stmt.handle, reinterpret_cast<SQLWCHAR*>(empty.data()), 0,
                         reinterpret_cast<SQLWCHAR*>(empty.data()), 0,
                         reinterpret_cast<SQLWCHAR*>(empty.data()), 0,
                         reinterpret_cast<SQLWCHAR*>(percent.data()), SQL_NTS),
              SQL_SUCCESS);
    EXPECT_EQ(column(stmt.rows(), 3), std::vector<std::string>{"TABLE"});
}

TEST_P(Driver, CatalogueColumnNamesFollowTheApplicationsOdbcVersion) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    tables(stmt, "Sheet1$");
    ASSERT_EQ(SQLTablesW(stmt.handle, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    const auto names = stmt.columnNames();
    ASSERT_EQ(names.size(), 5U);
    EXPECT_EQ(names[0], odbc2() ? "TABLE_QUALIFIER" : "TABLE_CAT");
    EXPECT_EQ(names[1], odbc2() ? "TABLE_OWNER" : "TABLE_SCHEM");
    SQLCloseCursor(stmt.handle);

    std::u16string table = u"Headers$";
    ASSERT_EQ(SQLColumnsW(stmt.handle, nullptr, 0, nullptr, 0,
                          reinterpret_cast<SQLWCHAR*>(table.data()), SQL_NTS, nullptr, 0),
              SQL_SUCCESS)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    const auto columnsNames = stmt.columnNames();
    EXPECT_EQ(columnsNames.size(), odbc2() ? 12U : 18U);
    EXPECT_EQ(columnsNames[6], odbc2() ? "PRECISION" : "COLUMN_SIZE");
    const Table rows = stmt.rows();
    EXPECT_EQ(column(rows, 3), (std::vector<std::string>{"Qty", "qty1", "F3", "F31", "Qty2"}));
    EXPECT_EQ(column(rows, 4)[0], std::to_string(SQL_WVARCHAR));
}

// A workbook has no keys, indexes, row identifiers, procedures or privileges:
// each of these functions answers an empty result with its standard columns
// (Perl's primary_key_info, PHP's odbc_primarykeys, pyodbc's primaryKeys).
TEST_P(Driver, CatalogueFunctionsWithNothingToListGiveEmptyDescribedResults) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    std::u16string name = u"Sheet1$";
    SQLWCHAR* t = reinterpret_cast<SQLWCHAR*>(name.data());
    SQLHSTMT h = stmt.handle;
    struct Case {
        SQLUSMALLINT function;
        std::function<SQLRETURN()> call;
        size_t columns;
        std::string firstColumn;
    };
    const bool v2 = odbc2();
    const std::vector<Case> cases{
        {SQL_API_SQLPRIMARYKEYS,
         [&] { return SQLPrimaryKeysW(h, nullptr, 0, nullptr, 0, t, SQL_NTS); }, 6,
         v2 ? "TABLE_QUALIFIER" : "TABLE_CAT"},
        {SQL_API_SQLFOREIGNKEYS,
         [&] {
             return SQLForeignKeysW(h, nullptr, 0, nullptr, 0, t, SQL_NTS, nullptr, 0, nullptr, 0,
                                    nullptr, 0);
         },
         v2 ? 13U : 14U, v2 ? "PKTABLE_QUALIFIER" : "PKTABLE_CAT"},
        {SQL_API_SQLSTATISTICS,
         [&] {
             return SQLStatisticsW(h, nullptr, 0, nullptr, 0, t, SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
         },
         13, v2 ? "TABLE_QUALIFIER" : "TABLE_CAT"},
        {SQL_API_SQLSPECIALCOLUMNS,
         [&] {
             return SQLSpecialColumns(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0,
                                      reinterpret_cast<SQLCHAR*>(const_cast<char*>("Sheet1$")),
                                      SQL_NTS, SQL_SCOPE_SESSION, SQL_NULLABLE);
         },
         8, "SCOPE"},
        {SQL_API_SQLPROCEDURES,
         [&] { return SQLProceduresW(h, nullptr, 0, nullptr, 0, nullptr, 0); }, 8,
         v2 ? "PROCEDURE_QUALIFIER" : "PROCEDURE_CAT"},
        {SQL_API_SQLPROCEDURECOLUMNS,
         [&] { return SQLProcedureColumnsW(h, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); },
         v2 ? 13U : 19U, v2 ? "PROCEDURE_QUALIFIER" : "PROCEDURE_CAT"},
        {SQL_API_SQLTABLEPRIVILEGES,
         [&] { return SQLTablePrivilegesW(h, nullptr, 0, nullptr, 0, t, SQL_NTS); }, 7,
         v2 ? "TABLE_QUALIFIER" : "TABLE_CAT"},
        {SQL_API_SQLCOLUMNPRIVILEGES,
         [&] { return SQLColumnPrivilegesW(h, nullptr, 0, nullptr, 0, t, SQL_NTS, nullptr, 0); }, 8,
         v2 ? "TABLE_QUALIFIER" : "TABLE_CAT"},
    };
    for (const Case& c : cases) {
        SQLUSMALLINT supported = SQL_FALSE;
        ASSERT_EQ(SQLGetFunctions(conn.handle, c.function, &supported), SQL_SUCCESS);
        EXPECT_EQ(supported, SQL_TRUE) << c.function;
        ASSERT_EQ(c.call(), SQL_SUCCESS) << c.function << describe(SQL_HANDLE_STMT, h);
        const auto names = stmt.columnNames();
        EXPECT_EQ(names.size(), c.columns) << c.function;
        EXPECT_EQ(names.at(0), c.firstColumn) << c.function;
        EXPECT_TRUE(stmt.rows().empty()) << c.function;
        SQLCloseCursor(h);
    }
    EXPECT_EQ(SQLPrimaryKeysW(h, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).state, state("HY009", "S1009"));
    EXPECT_EQ(SQLStatisticsW(h, nullptr, 0, nullptr, 0, t, SQL_NTS, 7, SQL_QUICK), SQL_ERROR);
}

// Cells moved past column IV (one to column 300, one to 40,000) are left
// out with a warning, where the result grew to tens of thousands of empty
// columns (and a column count past 32,767 wrapped).
TEST_P(Driver, CellsOutsideTheGridAreLeftOutWithAWarning) {
    Env env(GetParam());
    Conn conn(env);
    openReaderFixture(conn, "malformed/cells_past_the_last_column.xls");
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("select * from [types$]"), SQL_SUCCESS_WITH_INFO)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    const auto warnings = stmt.diags();
    ASSERT_EQ(warnings.size(), 1U);
    EXPECT_EQ(warnings[0].state, "01000");
    EXPECT_NE(warnings[0].message.find("outside the grid"), std::string::npos)
        << warnings[0].message;
    SQLSMALLINT columns = 0;
    ASSERT_EQ(SQLNumResultCols(stmt.handle, &columns), SQL_SUCCESS);
    EXPECT_GT(columns, 0);
    EXPECT_LE(columns, 256);
}

// A damaged worksheet does not hide the columns of the others: they are
// listed and the damaged one is named in a warning.
TEST_P(Driver, ColumnsOfTheWorkbookSkipADamagedSheetWithAWarning) {
    Env env(GetParam());
    Conn conn(env);
    openReaderFixture(conn, "malformed/record_longer_than_its_stream.xls");
    Stmt stmt(conn);
    ASSERT_EQ(SQLColumnsW(stmt.handle, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0),
              SQL_SUCCESS_WITH_INFO)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    const auto warnings = stmt.diags();
    ASSERT_EQ(warnings.size(), 1U);
    EXPECT_EQ(warnings[0].state, "01000");
    EXPECT_NE(warnings[0].message.find("\"formulas_nocache\""), std::string::npos);
    EXPECT_FALSE(stmt.rows().empty());
}

// What clients read about the catalogue and the one type: text columns as
// wide as their values (isql lays out its "help" by them), a type that no
// predicate can search, named for what it is.
TEST_P(Driver, CatalogueSizesAndTheTypeDescription) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    ASSERT_EQ(SQLTablesW(stmt.handle, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS);
    SQLLEN width = 0;
    SQLLEN total = 0;
    for (SQLUSMALLINT c = 1; c <= 5; ++c) {
        ASSERT_EQ(
            SQLColAttribute(stmt.handle, c, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &width),
            SQL_SUCCESS);
        total += width;
        if (c == 1) {
            EXPECT_EQ(width, static_cast<SQLLEN>(fixture(kLo).size()));
        }
    }
    EXPECT_LT(total, 300);
    ASSERT_EQ(SQLCloseCursor(stmt.handle), SQL_SUCCESS);

    ASSERT_EQ(SQLGetTypeInfo(stmt.handle, SQL_ALL_TYPES), SQL_SUCCESS);
    const Table types = stmt.rows();
    ASSERT_EQ(types.size(), 1U);
    EXPECT_EQ(types[0][0], s("WVARCHAR"));
    EXPECT_EQ(types[0][1], std::to_string(SQL_WVARCHAR));
    EXPECT_EQ(types[0][8], std::to_string(SQL_SEARCHABLE));
}

// Statement attributes: defaults that clients set are accepted and read back,
// SQL_ATTR_MAX_LENGTH (never applied) is answered with 01S02, and
// SQL_ATTR_RETRIEVE_DATA off moves the cursor without filling bound columns.
TEST_P(Driver, StatementAttributesClientsSet) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    SQLULEN processed = 0;
    EXPECT_EQ(
        SQLSetStmtAttr(stmt.handle, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0),
        SQL_SUCCESS)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    EXPECT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_PARAM_BIND_TYPE,
                             reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0),
              SQL_SUCCESS);
    EXPECT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0),
              SQL_SUCCESS);
    SQLPOINTER back = nullptr;
    EXPECT_EQ(SQLGetStmtAttr(stmt.handle, SQL_ATTR_PARAMS_PROCESSED_PTR, &back, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(back, &processed);
    EXPECT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_MAX_LENGTH, reinterpret_cast<SQLPOINTER>(10), 0),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt.diags().at(0).state, "01S02");
    SQLULEN maxLength = 99;
    EXPECT_EQ(SQLGetStmtAttr(stmt.handle, SQL_ATTR_MAX_LENGTH, &maxLength, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(maxLength, 0U);

    ASSERT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_RETRIEVE_DATA,
                             reinterpret_cast<SQLPOINTER>(SQL_RD_OFF), 0),
              SQL_SUCCESS);
    ASSERT_EQ(stmt.exec("select * from [Sheet1$]"), SQL_SUCCESS);
    char name[16] = "untouched";
    SQLLEN indicator = 0;
    ASSERT_EQ(SQLBindCol(stmt.handle, 1, SQL_C_CHAR, name, sizeof name, &indicator), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt.handle), SQL_SUCCESS);
    EXPECT_STREQ(name, "untouched");
    ASSERT_EQ(SQLGetData(stmt.handle, 1, SQL_C_CHAR, name, sizeof name, &indicator), SQL_SUCCESS);
    EXPECT_STREQ(name, "pen");
}

// One attribute's round trip: `value` is set and the call answers `set`
// (null: SQL_SUCCESS; "01S02": SQL_SUCCESS_WITH_INFO; another state:
// SQL_ERROR with that state); then the attribute reads back `back`, or the
// read answers SQL_ERROR with the state `get`.
struct AttributeCase {  // NOLINT(clang-analyzer-optin.performance.Padding)
    SQLINTEGER attribute;
    SQLULEN value;
    const char* set;
    SQLULEN back;
    const char* get = nullptr;
};

SQLULEN bits(const void* p) {
    return reinterpret_cast<SQLULEN>(p);
}

// Runs the cases through `set(attribute, value)` and `get(attribute, &back,
// &length)` of one handle whose records `diags()` reads; a value read back
// is `width` bytes long.
template <class Set, class Get, class Diags>
void expectRoundTrips(const std::vector<AttributeCase>& cases, bool odbc2, SQLINTEGER width,
                      Set set, Get get, Diags diags) {
    const auto expectAnswer = [&](SQLRETURN rc, const char* state) {
        if (state == nullptr) {
            EXPECT_EQ(rc, SQL_SUCCESS) << (diags().empty() ? "" : diags().at(0).message);
            return;
        }
        const std::map<std::string, std::string> kOdbc2 = {
            {"HY092", "S1092"}, {"HYC00", "S1C00"}, {"HY024", "S1009"}};
        const std::string expected = odbc2 && kOdbc2.contains(state) ? kOdbc2.at(state) : state;
        EXPECT_EQ(rc, expected == "01S02" ? SQL_SUCCESS_WITH_INFO : SQL_ERROR);
        const std::vector<Diag> records = diags();
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.at(0).state, expected) << records.at(0).message;
    };
    for (const AttributeCase& c : cases) {
        SCOPED_TRACE(c.attribute);
        expectAnswer(set(c.attribute, reinterpret_cast<SQLPOINTER>(c.value)), c.set);
        SQLULEN back = 0;
        SQLINTEGER length = -1;
        expectAnswer(get(c.attribute, &back, &length), c.get);
        if (c.get == nullptr) {
            EXPECT_EQ(back, c.back);
            EXPECT_EQ(length, width);
        }
    }
}

// Every statement attribute reads back what was set: a stored value as
// given, a fixed one as the driver keeps it (another value gives 01S02), a
// pointer as the same address; a value out of range is refused and the
// last one stays. A read-only attribute refuses to be set (HY092), one the
// driver does not support is refused both ways (HYC00), and a number that
// is no statement attribute is refused as unknown (HY092).
TEST_P(Driver, StatementAttributesReadBackWhatWasSet) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    SQLLEN offset = 0;
    SQLULEN count = 0;
    std::array<SQLUSMALLINT, 4> status{};
    std::vector<AttributeCase> cases = {
        {SQL_ROWSET_SIZE, 5, nullptr, 5},
        {SQL_ATTR_ROW_ARRAY_SIZE, 7, nullptr, 7},
        {SQL_ATTR_ROW_ARRAY_SIZE, 0, "HY024", 7},
        {SQL_ATTR_ROWS_FETCHED_PTR, bits(&count), nullptr, bits(&count)},
        {SQL_ATTR_ROW_STATUS_PTR, bits(status.data()), nullptr, bits(status.data())},
        {SQL_ATTR_ROW_BIND_TYPE, 24, nullptr, 24},
        {SQL_ATTR_ROW_BIND_OFFSET_PTR, bits(&offset), nullptr, bits(&offset)},
        {SQL_ATTR_MAX_ROWS, 3, nullptr, 3},
        {SQL_ATTR_QUERY_TIMEOUT, 5, nullptr, 5},
        {SQL_ATTR_NOSCAN, SQL_NOSCAN_ON, nullptr, SQL_NOSCAN_ON},
        {SQL_ATTR_RETRIEVE_DATA, SQL_RD_OFF, nullptr, SQL_RD_OFF},
        {SQL_ATTR_RETRIEVE_DATA, 2, "HY024", SQL_RD_OFF},
        {SQL_ATTR_METADATA_ID, SQL_TRUE, nullptr, SQL_FALSE},
        {SQL_ATTR_MAX_LENGTH, 10, "01S02", 0},
        {SQL_ATTR_PARAMSET_SIZE, 1, nullptr, 1},
        {SQL_ATTR_PARAMSET_SIZE, 3, "01S02", 1},
        {SQL_ATTR_KEYSET_SIZE, 9, "01S02", 0},
        {SQL_ATTR_ENABLE_AUTO_IPD, SQL_TRUE, "01S02", SQL_FALSE},
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC, "01S02", SQL_CURSOR_FORWARD_ONLY},
        {SQL_ATTR_CONCURRENCY, SQL_CONCUR_LOCK, "01S02", SQL_CONCUR_READ_ONLY},
        {SQL_ATTR_CURSOR_SCROLLABLE, SQL_SCROLLABLE, "01S02", SQL_NONSCROLLABLE},
        {SQL_ATTR_CURSOR_SENSITIVITY, SQL_SENSITIVE, "01S02", SQL_INSENSITIVE},
        {SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE, "01S02", SQL_UB_OFF},
        {SQL_ATTR_ASYNC_ENABLE, SQL_ASYNC_ENABLE_ON, "01S02", SQL_ASYNC_ENABLE_OFF},
        {SQL_ATTR_PARAM_BIND_TYPE, 16, nullptr, 16},
        {SQL_ATTR_SIMULATE_CURSOR, SQL_SC_NON_UNIQUE, nullptr, SQL_SC_NON_UNIQUE},
        {SQL_ATTR_PARAM_BIND_OFFSET_PTR, bits(&offset), nullptr, bits(&offset)},
        {SQL_ATTR_PARAM_OPERATION_PTR, bits(status.data()), nullptr, bits(status.data())},
        {SQL_ATTR_PARAM_STATUS_PTR, bits(status.data()), nullptr, bits(status.data())},
        {SQL_ATTR_PARAMS_PROCESSED_PTR, bits(&count), nullptr, bits(&count)},
        {SQL_ATTR_ROW_OPERATION_PTR, bits(status.data()), nullptr, bits(status.data())},
        {SQL_ATTR_FETCH_BOOKMARK_PTR, bits(&offset), nullptr, bits(&offset)},
        // No cursor: no current row (the driver manager says so itself).
        {SQL_ATTR_ROW_NUMBER, 4, "HY092", 0, kDirect ? nullptr : "24000"},
        {9999, 0, "HY092", 0, "HY092"},
        {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, "HY092", 0, "HY092"},  // a connection's
    };
    if (kDirect) {
        // The driver manager answers these from descriptors and events of
        // its own.
        const std::vector<AttributeCase> unsupported = {
            {SQL_ATTR_APP_ROW_DESC, 0, "HYC00", 0, "HYC00"},
            {SQL_ATTR_APP_PARAM_DESC, 0, "HYC00", 0, "HYC00"},
            {SQL_ATTR_IMP_ROW_DESC, 0, "HY092", 0, "HYC00"},
            {SQL_ATTR_IMP_PARAM_DESC, 0, "HY092", 0, "HYC00"},
            {SQL_GET_BOOKMARK, 0, "HY092", 0, "HYC00"},
            {SQL_ATTR_ASYNC_STMT_EVENT, 0, "HYC00", 0, "HYC00"},
        };
        cases.insert(cases.end(), unsupported.begin(), unsupported.end());
    }
    expectRoundTrips(
        cases, odbc2(), sizeof(SQLULEN),
        [&](SQLINTEGER a, SQLPOINTER v) { return SQLSetStmtAttr(stmt.handle, a, v, 0); },
        [&](SQLINTEGER a, SQLULEN* v, SQLINTEGER* length) {
            return SQLGetStmtAttr(stmt.handle, a, v, 0, length);
        },
        [&] { return stmt.diags(); });
}

// Every connection attribute the same way, as 32-bit numbers; a statement
// attribute set on the connection (as ODBC 2 applications do) is not
// supported (HYC00). The catalog is the workbook's path, cut with 01004
// when the buffer is short.
TEST_P(Driver, ConnectionAttributesReadBackWhatWasSet) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    std::vector<AttributeCase> cases = {
        {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, nullptr, SQL_AUTOCOMMIT_OFF},
        {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY, nullptr, SQL_MODE_READ_ONLY},
        {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_WRITE, "01S02", SQL_MODE_READ_ONLY},
        {SQL_ATTR_LOGIN_TIMEOUT, 9, nullptr, 9},
        {SQL_ATTR_CONNECTION_TIMEOUT, 8, nullptr, 8},
        {SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE, nullptr, SQL_TXN_SERIALIZABLE},
        {SQL_ATTR_METADATA_ID, SQL_TRUE, nullptr, SQL_FALSE},
        {SQL_ATTR_QUIET_MODE, 0, nullptr, 0, "HYC00"},
        {SQL_ATTR_CONNECTION_DEAD, SQL_CD_TRUE, "HY092", SQL_CD_FALSE},
        {SQL_ATTR_MAX_ROWS, 1, "HYC00", 0, "HYC00"},
        {9999, 0, "HY092", 0, "HY092"},
    };
    if (kDirect) {
        // The driver manager keeps these itself, and takes no packet size
        // once connected.
        const std::vector<AttributeCase> unsupported = {
            {SQL_ATTR_PACKET_SIZE, 4096, nullptr, 0, "HYC00"},
            {SQL_ATTR_TRACE, SQL_OPT_TRACE_ON, "HYC00", 0, "HYC00"},
            {SQL_ATTR_ODBC_CURSORS, SQL_CUR_USE_ODBC, "HYC00", 0, "HYC00"},
            {SQL_ATTR_ANSI_APP, SQL_AA_TRUE, "HYC00", 0, "HYC00"},
            {SQL_ATTR_AUTO_IPD, SQL_TRUE, "HY092", 0, "HYC00"},
            {SQL_ATTR_ENLIST_IN_DTC, 0, "HYC00", 0, "HYC00"},
        };
        cases.insert(cases.end(), unsupported.begin(), unsupported.end());
    }
    expectRoundTrips(
        cases, odbc2(), sizeof(SQLUINTEGER),
        [&](SQLINTEGER a, SQLPOINTER v) { return SQLSetConnectAttr(conn.handle, a, v, 0); },
        [&](SQLINTEGER a, SQLULEN* v, SQLINTEGER* length) {
            return SQLGetConnectAttr(conn.handle, a, v, 0, length);
        },
        [&] { return conn.diags(); });

    const std::string path = fixture(kLo);
    char catalog[512] = {};
    SQLINTEGER length = 0;
    ASSERT_EQ(
        SQLGetConnectAttr(conn.handle, SQL_ATTR_CURRENT_CATALOG, catalog, sizeof catalog, &length),
        SQL_SUCCESS);
    EXPECT_EQ(catalog, path);
    EXPECT_EQ(length, static_cast<SQLINTEGER>(path.size()));
    ASSERT_EQ(SQLGetConnectAttr(conn.handle, SQL_ATTR_CURRENT_CATALOG, catalog, 5, &length),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(conn.diags().at(0).state, "01004");
    EXPECT_EQ(catalog, path.substr(0, 4));
    EXPECT_EQ(length, static_cast<SQLINTEGER>(path.size()));
    EXPECT_EQ(SQLSetConnectAttr(conn.handle, SQL_ATTR_CURRENT_CATALOG, catalog, SQL_NTS),
              SQL_ERROR);
    EXPECT_EQ(conn.diags().at(0).state, state("HYC00", "S1C00"));
}

// Every environment attribute the same way. The driver manager answers
// these itself: only the driver called directly sees them.
TEST_P(Driver, EnvironmentAttributesReadBackWhatWasSet) {
    if (!kDirect) {
        GTEST_SKIP() << "the driver manager keeps the environment's attributes";
    }
    Env env(GetParam());
    const auto version = static_cast<SQLULEN>(GetParam());
    const std::vector<AttributeCase> cases = {
        {SQL_ATTR_CONNECTION_POOLING, SQL_CP_ONE_PER_DRIVER, nullptr, SQL_CP_OFF},
        {SQL_ATTR_CP_MATCH, SQL_CP_RELAXED_MATCH, nullptr, SQL_CP_STRICT_MATCH},
        {SQL_ATTR_OUTPUT_NTS, SQL_TRUE, nullptr, SQL_TRUE},
        {SQL_ATTR_OUTPUT_NTS, SQL_FALSE, "HYC00", SQL_TRUE},
        {9999, 0, "HY092", 0, "HY092"},
        {SQL_ATTR_ODBC_VERSION, 7, "HY024", version},
        {SQL_ATTR_ODBC_VERSION, version, nullptr, version},
    };
    expectRoundTrips(
        cases, odbc2(), sizeof(SQLINTEGER),
        [&](SQLINTEGER a, SQLPOINTER v) { return SQLSetEnvAttr(env.handle, a, v, 0); },
        [&](SQLINTEGER a, SQLULEN* v, SQLINTEGER* length) {
            return SQLGetEnvAttr(env.handle, a, v, 0, length);
        },
        [&] { return diagnostics(SQL_HANDLE_ENV, env.handle); });
}

// ---- statements --------------------------------------------------------------

TEST_P(Driver, EveryTableFormReachesTheSameSheet) {
    const Table expected{{s("bob")}};
    for (const char* statement :
         {"select * from [Bob's Data$]", "SELECT * FROM ['Bob''s Data$']",
          "Select * From `Bob's Data$`", "select * from \"Bob's Data$\"",
          "select * from 'Bob''s Data$'", "  select\n\t*\r\nfrom  [Bob's Data$] ; ",
          "SELECT*FROM[Bob's Data$]", "select * from ['Bob''s Data'$]"}) {
        EXPECT_EQ(select(kLo, statement), expected) << statement;
    }
    EXPECT_EQ(select(kLo, "select * from Headers$;"),
              (Table{{s("1"), s("2"), s("3"), s("4"), s("5")}}));
    EXPECT_EQ(select(kLo, "select * from [headers$]"),
              (Table{{s("1"), s("2"), s("3"), s("4"), s("5")}}));
}

TEST_P(Driver, RangesAndDefinedNames) {
    std::vector<std::string> names;
    EXPECT_EQ(select(kLo, "select * from [Sheet1$A1:B3]", &names),
              (Table{{s("pen"), s("3")}, {s("ink"), s("12")}}));
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "Qty"}));
    EXPECT_EQ(select(kLo, "select * from [Sheet1$b2:a3]"), (Table{{s("ink"), s("12")}}));
    EXPECT_EQ(select(kLo, "select * from [Prices]", &names),
              (Table{{s("pen"), s("3"), s("1.5")}, {s("ink"), s("12"), s("0.3")}}));
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "Qty", "Price"}));
    EXPECT_EQ(select(kLo, "select * from [OffsetBlock]", &names),
              (Table{{s("1"), null}, {null, s("2")}}));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
    // A range reaching past the values ends with them.
    EXPECT_EQ(select(kLo, "select * from ['My Sheet$'A1:C65536]", &names), (Table{{s("v1")}}));
    // An .xlsx grid reaches column XFD and row 1,048,576.
    const std::string xlsx = "../../xlsx/fixtures/xlw_traps.xlsx";
    EXPECT_EQ(select(xlsx, "select * from [Data$XFC1:XFD1048576]", &names),
              (Table{{null, null}, {null, null}, {null, null}}));
    EXPECT_EQ(names, (std::vector<std::string>{"F1", "last column"}));
    EXPECT_EQ(select(xlsx, "select * from [Last!Local]", &names), (Table{{s("a"), s("1")}}));
    EXPECT_EQ(names, (std::vector<std::string>{"k", "v"}));
}

TEST_P(Driver, BadStatementsSayWhatIsAcceptedAndUnknownTablesListTheTables) {
    for (const char* statement :
         {"delete from [Sheet1$]", "select * from", "select * from [Sheet1$", "select * [Sheet1$]",
          "select * from [Sheet1$A1:ZZZ9]", "selec * from [Sheet1$]"}) {
        const Diag d = failure(kLo, statement);
        EXPECT_EQ(d.state, state("42000", "37000")) << statement;
        EXPECT_NE(d.message.find("[Velkor][Excel Driver]"), std::string::npos) << d.message;
    }
    const Diag range = failure(kLo, "select * from [Sheet1$A1:ZZZ9]");
    EXPECT_NE(range.message.find("is not a range of a worksheet"), std::string::npos)
        << range.message;
    const Diag unclosed = failure(kLo, "select * from [Sheet1$");
    EXPECT_NE(unclosed.message.find("not closed"), std::string::npos) << unclosed.message;

    const Diag unknown = failure(kLo, "select * from [Nope$]");
    EXPECT_EQ(unknown.state, state("42S02", "S0002"));
    EXPECT_NE(unknown.message.find("\"Nope$\""), std::string::npos) << unknown.message;
    EXPECT_NE(unknown.message.find("Sheet1$, 'My Sheet$', 'Bob''s Data$'"), std::string::npos)
        << unknown.message;

    // A workbook of 1,327 names lists the first twenty and counts the rest.
    const Diag many = failure("../../xls/fuzz/corpus/fuzz_driver/many-names-over-one-sheet.xls",
                              "select * from [Nope$]");
    EXPECT_EQ(many.state, state("42S02", "S0002"));
    EXPECT_TRUE(std::regex_search(many.message, std::regex(", [^,]+ and [0-9]{4} more$")))
        << many.message.substr(0, 400);
    EXPECT_LT(many.message.size(), 1000u);

    const Diag bracket = failure(kLo, "select * from [a]b$]");
    EXPECT_EQ(bracket.state, state("42S02", "S0002"));
    EXPECT_NE(bracket.message.find("\"a]b$\""), std::string::npos) << bracket.message;

    // A sheet name without "$" is not the sheet.
    EXPECT_EQ(failure(kLo, "select * from [Sheet1]").state, state("42S02", "S0002"));
}

// ---- result shape -------------------------------------------------------------

TEST_P(Driver, UsedRangeHeadersEmptyRowsAndNulls) {
    std::vector<std::string> names;
    const Table rows = select(kLo, "select * from [Sheet1$]", &names);
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "Qty", "Price", "Day", "Note"}));
    EXPECT_EQ(rows, (Table{{s("pen"), s("3"), s("1.5"), s("2024-01-15"), s("first")},
                           {s("ink"), s("12"), s("0.3"), s("2024-02-29 13:45:00"), null},
                           {null, null, null, null, null},
                           {s("Grüße 日本 😀"), s("-12.5"), null, s("13:45:00"), s("a&b <c>")},
                           {s("last"), null, null, null, null}}));

    EXPECT_EQ(select(kLo, "select * from [Offset$]", &names),
              (Table{{s("1"), null}, {null, s("2")}}));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));

    EXPECT_EQ(select(kLo, "select * from [Empty$]", &names), Table{});
    EXPECT_EQ(names, std::vector<std::string>{"F1"});

    EXPECT_EQ(select(kLo, "select * from [Headers$]", &names).size(), 1U);
    EXPECT_EQ(names, (std::vector<std::string>{"Qty", "qty1", "F3", "F31", "Qty2"}));

    const Table all = select(kLo, "select * from [Headers$]", &names, "FirstRowHasNames=0");
    EXPECT_EQ(names, (std::vector<std::string>{"F1", "F2", "F3", "F4", "F5"}));
    EXPECT_EQ(all.front(), (std::vector<std::optional<std::string>>{s("Qty"), s("qty"), null,
                                                                    s("F3"), s("Qty")}));
}

TEST_P(Driver, ColumnsAreNullableTextSizedByTheirLongestValue) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("select * from [Sheet1$]"), SQL_SUCCESS);
    const std::array<SQLULEN, 5> sizes{11, 5, 3, 19, 7};  // "Grüße 日本 😀" is 11 UTF-16 units
    for (SQLUSMALLINT c = 1; c <= 5; ++c) {
        SQLSMALLINT type = 0, digits = 0, nullable = 0, length = 0;
        SQLULEN size = 0;
        ASSERT_EQ(
            SQLDescribeColW(stmt.handle, c, nullptr, 0, &length, &type, &size, &digits, &nullable),
            SQL_SUCCESS);
        EXPECT_EQ(type, SQL_WVARCHAR);
        EXPECT_EQ(size, sizes[c - 1]) << c;
        EXPECT_EQ(nullable, SQL_NULLABLE);
    }
    SQLLEN display = 0;
    ASSERT_EQ(
        SQLColAttributeW(stmt.handle, 1, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display),
        SQL_SUCCESS);
    EXPECT_EQ(display, 19);  // the UTF-8 bytes of the longest name: narrow clients' buffers hold it
    SQLWCHAR name[16];
    SQLSMALLINT bytes = 0;
    ASSERT_EQ(SQLColAttributeW(stmt.handle, 2, SQL_DESC_NAME, name, sizeof name, &bytes, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(bytes, 6);
    EXPECT_EQ(SQLColAttributeW(stmt.handle, 9, SQL_DESC_NAME, name, sizeof name, &bytes, nullptr),
              SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).state, state("07009", "S1002"));
}

TEST_P(Driver, ValuesOfEveryCellKindReadAsText) {
    Table rows = select(kXlwt, "select * from [Values$]");
    std::map<std::string, std::optional<std::string>> byKind;
    for (const auto& r : rows) {
        byKind[*r[0]] = r[1];
    }
    EXPECT_EQ(byKind["true"], s("TRUE"));
    EXPECT_EQ(byKind["false"], s("FALSE"));
    EXPECT_EQ(byKind["int"], s("42"));
    EXPECT_EQ(byKind["big"], s("1E+20"));
    EXPECT_EQ(byKind["small"], s("1.23E-05"));
    EXPECT_EQ(byKind["third"], s("0.333333333333333"));
    EXPECT_EQ(byKind["negzero"], s("0"));
    EXPECT_EQ(byKind["div0"], s("#DIV/0!"));
    EXPECT_EQ(byKind["na"], s("#N/A"));
    EXPECT_EQ(byKind["date"], s("2024-01-15"));
    EXPECT_EQ(byKind["datetime"], s("2024-01-15 12:00:00"));
    EXPECT_EQ(byKind["time"], s("18:00:00"));
    EXPECT_EQ(byKind["unicode"], s("Ünïcödé ☃ 𝄞"));
    EXPECT_EQ(byKind["long"], std::string(32767, 'x'));
}

// ---- SQLGetData ------------------------------------------------------------------

// A statement on the Values sheet positioned on the row of `kind`.
class ValueRow {
public:
    ValueRow(SQLINTEGER version, const std::string& kind)
        : env(version), conn(env), stmt((connect(), conn)) {
        EXPECT_EQ(stmt.exec("select * from [Values$]"), SQL_SUCCESS);
        while (SQLFetch(stmt.handle) == SQL_SUCCESS) {
            char name[64] = {};
            SQLLEN ind = 0;
            SQLGetData(stmt.handle, 1, SQL_C_CHAR, name, sizeof name, &ind);
            if (kind == name) {
                return;
            }
        }
        ADD_FAILURE() << "no row " << kind;
    }
    Env env;
    Conn conn;
    Stmt stmt;

private:
    void connect() { EXPECT_TRUE(SQL_SUCCEEDED(conn.connect(connectionString(kXlwt)))); }
};

TEST_P(Driver, GetDataInPiecesReportsTruncationThenNoData) {
    ValueRow row(GetParam(), "long");
    std::u16string whole;
    SQLWCHAR piece[1000];
    SQLLEN ind = 0;
    SQLRETURN rc;
    int pieces = 0;
    std::vector<SQLLEN> remaining;
    while ((rc = SQLGetData(row.stmt.handle, 2, SQL_C_WCHAR, piece, sizeof piece, &ind)) ==
           SQL_SUCCESS_WITH_INFO) {
        EXPECT_EQ(row.stmt.diags().at(0).state, "01004");
        remaining.push_back(ind);
        whole += reinterpret_cast<char16_t*>(piece);
        ++pieces;
    }
    ASSERT_EQ(rc, SQL_SUCCESS);
    whole += reinterpret_cast<char16_t*>(piece);
    EXPECT_EQ(whole, std::u16string(32767, u'x'));
    EXPECT_EQ(pieces, 32);  // 999 characters a piece
    EXPECT_EQ(remaining.front(), 32767 * 2);
    EXPECT_EQ(remaining[1], (32767 - 999) * 2);
    EXPECT_EQ(SQLGetData(row.stmt.handle, 2, SQL_C_WCHAR, piece, sizeof piece, &ind), SQL_NO_DATA);
}

TEST_P(Driver, GetDataUtf8PiecesNeverSplitACharacter) {
    ValueRow row(GetParam(), "unicode");
    std::string whole;
    char piece[5];  // room for the 4-byte character and the terminator
    SQLLEN ind = 0;
    SQLRETURN rc;
    while ((rc = SQLGetData(row.stmt.handle, 2, SQL_C_CHAR, piece, sizeof piece, &ind)) !=
           SQL_NO_DATA) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        whole += piece;
    }
    EXPECT_EQ(whole, "Ünïcödé ☃ 𝄞");
}

// A buffer too small for the next whole character still moves on: the piece
// takes the bytes (or UTF-16 units) that fit, so the loop ends and the
// pieces join into the value.
TEST_P(Driver, GetDataIntoABufferSmallerThanOneCharacterEnds) {
    ValueRow row(GetParam(), "unicode");
    std::string narrow;
    char piece[4];  // 3 bytes and the terminator, before a 4-byte character
    SQLLEN ind = 0;
    SQLRETURN rc;
    int calls = 0;
    while ((rc = SQLGetData(row.stmt.handle, 2, SQL_C_CHAR, piece, sizeof piece, &ind)) !=
               SQL_NO_DATA &&
           ++calls < 100) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        narrow += piece;
    }
    EXPECT_EQ(narrow, "Ünïcödé ☃ 𝄞");

    ValueRow again(GetParam(), "unicode");
    std::u16string wide;
    SQLWCHAR unit[2];  // one UTF-16 unit and the terminator, before a surrogate pair
    calls = 0;
    while ((rc = SQLGetData(again.stmt.handle, 2, SQL_C_WCHAR, unit, sizeof unit, &ind)) !=
               SQL_NO_DATA &&
           ++calls < 100) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        wide += reinterpret_cast<char16_t*>(unit);
    }
    EXPECT_EQ(utf8(wide), "Ünïcödé ☃ 𝄞");
}

TEST_P(Driver, GetDataBinaryIsUtf16AndNullNeedsAnIndicator) {
    {
        ValueRow row(GetParam(), "int");
        char bytes[16] = {};
        SQLLEN ind = 0;
        ASSERT_EQ(SQLGetData(row.stmt.handle, 2, SQL_C_BINARY, bytes, sizeof bytes, &ind),
                  SQL_SUCCESS);
        EXPECT_EQ(ind, 4);
        EXPECT_EQ(std::string(bytes, 4), std::string("4\0"
                                                     "2\0",
                                                     4));
    }
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("select * from [Sheet1$]"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt.handle), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt.handle), SQL_SUCCESS);
    SQLWCHAR text[8];
    SQLLEN ind = 0;
    EXPECT_EQ(SQLGetData(stmt.handle, 5, SQL_C_WCHAR, text, sizeof text, nullptr), SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).state, "22002");
    EXPECT_EQ(SQLGetData(stmt.handle, 5, SQL_C_WCHAR, text, sizeof text, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, SQL_NULL_DATA);
    EXPECT_EQ(SQLGetData(stmt.handle, 5, SQL_C_WCHAR, text, sizeof text, &ind), SQL_NO_DATA);
}

TEST_P(Driver, GetDataConvertsToNumbersAndDatesWhereTheTextAllows) {
    auto get = [&](const char* kind, SQLSMALLINT type, void* value, size_t size) {
        ValueRow row(GetParam(), kind);
        SQLLEN ind = 0;
        const SQLRETURN rc =
            SQLGetData(row.stmt.handle, 2, type, value, static_cast<SQLLEN>(size), &ind);
        const auto d = row.stmt.diags();
        return std::make_pair(rc, d.empty() ? std::string() : d.front().state);
    };
    SQLINTEGER i = 0;
    EXPECT_EQ(get("int", SQL_C_SLONG, &i, sizeof i).first, SQL_SUCCESS);
    EXPECT_EQ(i, 42);
    EXPECT_EQ(get("frac", SQL_C_SLONG, &i, sizeof i),
              std::make_pair(SQLRETURN{SQL_SUCCESS_WITH_INFO}, std::string("01S07")));
    EXPECT_EQ(i, 2);
    EXPECT_EQ(get("text", SQL_C_SLONG, &i, sizeof i),
              std::make_pair(SQLRETURN{SQL_ERROR}, state("22018", "22005")));
    EXPECT_EQ(get("big", SQL_C_SLONG, &i, sizeof i),
              std::make_pair(SQLRETURN{SQL_ERROR}, std::string("22003")));
    SQLBIGINT big = 0;
    EXPECT_EQ(get("numtext", SQL_C_SBIGINT, &big, sizeof big).first, SQL_SUCCESS);
    EXPECT_EQ(big, 123);
    double d = 0;
    EXPECT_EQ(get("big", SQL_C_DOUBLE, &d, sizeof d).first, SQL_SUCCESS);
    EXPECT_EQ(d, 1e20);
    unsigned char bit = 0;
    EXPECT_EQ(get("true", SQL_C_BIT, &bit, 1).first, SQL_SUCCESS);
    EXPECT_EQ(bit, 1);
    SQL_DATE_STRUCT date{};
    EXPECT_EQ(get("date", SQL_C_TYPE_DATE, &date, sizeof date).first, SQL_SUCCESS);
    EXPECT_EQ(date.year, 2024);
    EXPECT_EQ(date.month, 1);
    EXPECT_EQ(date.day, 15);
    SQL_TIMESTAMP_STRUCT ts{};
    EXPECT_EQ(get("datetime", SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts).first, SQL_SUCCESS);
    EXPECT_EQ(ts.hour, 12);
    SQL_TIME_STRUCT time{};
    EXPECT_EQ(get("time", SQL_C_TYPE_TIME, &time, sizeof time).first, SQL_SUCCESS);
    EXPECT_EQ(time.hour, 18);
    EXPECT_EQ(get("int", SQL_C_TYPE_DATE, &date, sizeof date).first, SQL_ERROR);
}

// ---- block fetches ------------------------------------------------------------------

TEST_P(Driver, ColumnWiseBlockFetchReadsEveryRow) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kXlwt);
    Stmt stmt(conn);
    constexpr SQLULEN kRows = 64;
    std::array<SQLINTEGER, kRows> n{};
    std::array<SQLLEN, kRows> nInd{}, textInd{}, halfInd{};
    std::array<std::array<SQLWCHAR, 16>, kRows> text{};
    std::array<std::array<char, 8>, kRows> half{};
    std::array<SQLUSMALLINT, kRows> status{};
    SQLULEN fetched = 0;
    ASSERT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_ROW_ARRAY_SIZE,
                             reinterpret_cast<SQLPOINTER>(kRows), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(stmt.exec("select * from [Rows$]"), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt.handle, 1, SQL_C_SLONG, n.data(), 0, nInd.data()), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt.handle, 2, SQL_C_WCHAR, text.data(), sizeof text[0], textInd.data()),
              SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt.handle, 3, SQL_C_CHAR, half.data(), sizeof half[0], halfInd.data()),
              SQL_SUCCESS);
    SQLINTEGER expected = 1;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt.handle)) == SQL_SUCCESS) {
        ASSERT_LE(fetched, kRows);
        for (SQLULEN i = 0; i < fetched; ++i, ++expected) {
            ASSERT_EQ(status[i], SQL_ROW_SUCCESS);
            ASSERT_EQ(n[i], expected);
            ASSERT_EQ(utf8(reinterpret_cast<char16_t*>(text[i].data())),
                      "row " + std::to_string(expected));
            if (expected % 2 == 0) {
                ASSERT_EQ(std::string(half[i].data()), std::to_string(expected / 2));
            } else {
                ASSERT_EQ(halfInd[i], SQL_NULL_DATA);
            }
        }
        if (fetched < kRows) {
            EXPECT_EQ(status[fetched], SQL_ROW_NOROW);
        }
    }
    EXPECT_EQ(rc, SQL_NO_DATA) << describe(SQL_HANDLE_STMT, stmt.handle);
    EXPECT_EQ(expected, 2001);
}

TEST_P(Driver, RowWiseBlockFetchAndMaxRows) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kXlwt);
    Stmt stmt(conn);
    struct Row {
        SQLINTEGER n;
        SQLLEN nInd;
        char text[6];
        SQLLEN textInd;
    };
    std::array<Row, 10> rows{};
    SQLULEN fetched = 0;
    ASSERT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_ROW_BIND_TYPE,
                             reinterpret_cast<SQLPOINTER>(sizeof(Row)), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_ROW_ARRAY_SIZE,
                             reinterpret_cast<SQLPOINTER>(rows.size()), 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt.handle, SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(15), 0),
              SQL_SUCCESS);
    ASSERT_EQ(stmt.exec("select * from [Rows$]"), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt.handle, 1, SQL_C_SLONG, &rows[0].n, 0, &rows[0].nInd), SQL_SUCCESS);
    ASSERT_EQ(
        SQLBindCol(stmt.handle, 2, SQL_C_CHAR, rows[0].text, sizeof rows[0].text, &rows[0].textInd),
        SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt.handle), SQL_SUCCESS_WITH_INFO);  // "row 10" does not fit in 6 bytes
    EXPECT_EQ(fetched, 10U);
    EXPECT_EQ(rows[8].n, 9);
    EXPECT_STREQ(rows[8].text, "row 9");
    EXPECT_STREQ(rows[9].text, "row 1");
    EXPECT_EQ(rows[9].textInd, 6);
    EXPECT_EQ(stmt.diags().at(0).state, "01004");
    ASSERT_EQ(SQLFetch(stmt.handle), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(fetched, 5U);
    EXPECT_EQ(rows[4].n, 15);
    EXPECT_EQ(SQLFetch(stmt.handle), SQL_NO_DATA);
}

// ---- diagnostics and driver facts -------------------------------------------------------

TEST_P(Driver, DiagnosticRecordsLoopAndShortBuffers) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("select * from [Nope$]"), SQL_ERROR);
    SQLCHAR stateText[6];
    SQLCHAR message[10];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt.handle, 1, stateText, &native, message,
                            sizeof message, &length),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(reinterpret_cast<char*>(message), "[Velkor][");
    EXPECT_GT(length, 100);
    EXPECT_STREQ(reinterpret_cast<char*>(stateText), state("42S02", "S0002").c_str());
    EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, stmt.handle, 2, stateText, &native, message,
                            sizeof message, &length),
              SQL_NO_DATA);
    SQLINTEGER count = 0;
    EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt.handle, 0, SQL_DIAG_NUMBER, &count, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(count, 1);
    // A successful call clears the records.
    ASSERT_EQ(stmt.exec("select * from [Sheet1$]"), SQL_SUCCESS);
    EXPECT_TRUE(stmt.diags().empty());
}

TEST_P(Driver, GetFunctionsAndInfoAnswerTruthfully) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    SQLUSMALLINT supported = 0;
    ASSERT_EQ(SQLGetFunctions(conn.handle, SQL_API_SQLTABLES, &supported), SQL_SUCCESS);
    EXPECT_EQ(supported, SQL_TRUE);
    for (const SQLUSMALLINT f : std::initializer_list<SQLUSMALLINT>{
             SQL_API_SQLFETCHSCROLL, SQL_API_SQLGETDATA, SQL_API_SQLCOLUMNS, SQL_API_SQLBINDCOL,
             SQL_API_SQLDESCRIBECOL, SQL_API_SQLEXECDIRECT}) {
        ASSERT_EQ(SQLGetFunctions(conn.handle, f, &supported), SQL_SUCCESS);
        EXPECT_EQ(supported, SQL_TRUE) << f;
    }
    char text[64] = {};
    SQLSMALLINT length = 0;
    ASSERT_EQ(SQLGetInfo(conn.handle, SQL_DATA_SOURCE_READ_ONLY, text, sizeof text, &length),
              SQL_SUCCESS);
    EXPECT_STREQ(text, "Y");
    SQLUINTEGER getData = 0;
    ASSERT_EQ(SQLGetInfo(conn.handle, SQL_GETDATA_EXTENSIONS, &getData, sizeof getData, nullptr),
              SQL_SUCCESS);
    EXPECT_NE(getData & SQL_GD_ANY_ORDER, 0U);
    // pyodbc switches autocommit off and commits: both are accepted.
    EXPECT_EQ(SQLSetConnectAttr(conn.handle, SQL_ATTR_AUTOCOMMIT,
                                reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_SUCCESS);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.handle, SQL_COMMIT), SQL_SUCCESS);
}

// Transactions end on an environment or a connection: a statement handle is
// refused (HY092, read on the statement), a handle passed as a kind it is
// not is no handle of that kind, an unknown completion type is HY012 and a
// connection that is not open is 08003.
TEST_P(Driver, EndTranTakesOnlyAnEnvironmentOrAnOpenConnection) {
    Env env(GetParam());
    Conn conn(env);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.handle, SQL_COMMIT), SQL_ERROR);
    EXPECT_EQ(conn.diags().at(0).state, "08003");
    open(conn, kLo);
    Stmt stmt(conn);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_STMT, conn.handle, SQL_COMMIT), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_STMT, stmt.handle, SQL_ROLLBACK), SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).state, state("HY092", "S1092"));
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, stmt.handle, SQL_COMMIT), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.handle, 99), SQL_ERROR);
    EXPECT_EQ(conn.diags().at(0).state, state("HY012", "S1012"));
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, conn.handle, SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, env.handle, SQL_COMMIT), SQL_SUCCESS);
}

TEST_P(Driver, DisconnectFreesStatementsLeftOpen) {
    Env env(GetParam());
    SQLHDBC dbc = SQL_NULL_HDBC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env.handle, &dbc), SQL_SUCCESS);
    std::u16string cs = u(connectionString(kLo));
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(cs.data()),
                                        SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
    SQLHSTMT open = SQL_NULL_HSTMT, idle = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &open), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &idle), SQL_SUCCESS);
    std::u16string sql = u"select * from [Sheet1$]";
    ASSERT_EQ(SQLExecDirectW(open, reinterpret_cast<SQLWCHAR*>(sql.data()), SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(open), SQL_SUCCESS);
    EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS) << describe(SQL_HANDLE_DBC, dbc);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
}

// ---- lengths and cursor states that clients rely on ---------------------------------------

// The first diagnostic record of a handle read whole (wide), with the return
// code of SQLGetDiagRecW given room for any message.
std::pair<SQLRETURN, std::u16string> wholeMessage(SQLSMALLINT type, SQLHANDLE handle) {
    std::vector<SQLWCHAR> text(32767);
    SQLWCHAR state[6];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRecW(type, handle, 1, state, &native, text.data(),
                                        static_cast<SQLSMALLINT>(text.size()), &length);
    return {rc, std::u16string(reinterpret_cast<const char16_t*>(text.data()),
                               static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)))};
}

// A real workbook whose first cell holds 32,770 characters: its column name
// is cut to 32,766 characters (so that length + 1 is still a buffer length),
// and SQLDescribeCol, SQLColAttribute and SQLColumns report that one name;
// a buffer too short for it gives 01004 with the length 32,766.
TEST_P(Driver, ALongHeaderIsOneCutNameEverywhere) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, "poi__46368.xls");
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("select * from [Sheet1$]"), SQL_SUCCESS);
    SQLSMALLINT length = 0;
    SQLCHAR narrow[300];
    EXPECT_EQ(SQLDescribeCol(stmt.handle, 1, narrow, sizeof narrow, &length, nullptr, nullptr,
                             nullptr, nullptr),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(length, 32766);
    EXPECT_EQ(stmt.diags().at(0).state, "01004");
    std::vector<SQLWCHAR> described(32767);
    EXPECT_EQ(SQLDescribeColW(stmt.handle, 1, described.data(), 32767, &length, nullptr, nullptr,
                              nullptr, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(length, 32766);
    const std::u16string name(reinterpret_cast<const char16_t*>(described.data()), 32766);
    EXPECT_EQ(described[32766], 0);
    SQLWCHAR wide[300];
    EXPECT_EQ(SQLColAttributeW(stmt.handle, 1, SQL_DESC_NAME, wide, sizeof wide, &length, nullptr),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(length, 32766);  // 65,532 bytes do not fit an SQLSMALLINT

    Stmt columns(conn);
    ASSERT_EQ(SQLColumnsW(columns.handle, nullptr, 0, nullptr, 0,
                          reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(u"Sheet1$")), SQL_NTS,
                          nullptr, 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(columns.handle), SQL_SUCCESS);
    std::vector<SQLWCHAR> listed(40000);
    SQLLEN bytes = 0;
    ASSERT_EQ(SQLGetData(columns.handle, 4, SQL_C_WCHAR, listed.data(),
                         static_cast<SQLLEN>(listed.size() * sizeof(SQLWCHAR)), &bytes),
              SQL_SUCCESS);
    EXPECT_EQ(bytes, 32766 * 2);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(listed.data()),
                             static_cast<size_t>(bytes) / 2),
              name);
}

// Names, paths, statements and values that a message quotes are shortened
// in their middle when long, so that what went wrong is still said whole
// (the message fits an SQLSMALLINT length, as UTF-16 and as UTF-8).
TEST_P(Driver, LongNamesInMessagesAreShortenedInTheMiddle) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    const std::string head = "select * from [" + std::string(20000, 'h');
    Stmt unknown(conn);
    ASSERT_EQ(unknown.exec(head + std::string(20000, 't') + "$]"), SQL_ERROR);
    auto [rc, message] = wholeMessage(SQL_HANDLE_STMT, unknown.handle);
    EXPECT_EQ(rc, SQL_SUCCESS);
    std::string text = utf8(message);
    EXPECT_LT(text.size(), 32767u);
    EXPECT_TRUE(std::regex_search(text, std::regex("^\\[Velkor\\]\\[Excel Driver\\]The table \"h+"
                                                   "\u2026t+\\$\" does not exist in the workbook "
                                                   "\"[^\"]+lo_driver\\.xls\"; its tables are: "
                                                   "Sheet1\\$, ")))
        << text.substr(0, 200);
    // The narrow message is as long in UTF-8 bytes: it fits too.
    std::vector<SQLCHAR> narrow(32767);
    SQLCHAR state[6];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    EXPECT_EQ(SQLGetDiagRec(SQL_HANDLE_STMT, unknown.handle, 1, state, &native, narrow.data(),
                            32767, &length),
              SQL_SUCCESS);

    // A statement of a megabyte is quoted by its head and tail: the message
    // still says what is wrong.
    Stmt syntax(conn);
    ASSERT_EQ(syntax.exec("selectx " + std::string(1U << 20, 'x') + " from [Sheet1$]"), SQL_ERROR);
    std::tie(rc, message) = wholeMessage(SQL_HANDLE_STMT, syntax.handle);
    EXPECT_EQ(rc, SQL_SUCCESS);
    text = utf8(message);
    EXPECT_TRUE(std::regex_search(text, std::regex("^\\[Velkor\\]\\[Excel Driver\\]Syntax error: "
                                                   ".+\\(in \"selectx x+\u2026x+ from "
                                                   "\\[Sheet1\\$\\]\"\\)$")))
        << text;
    EXPECT_LT(text.size(), 1000u);

    // A workbook path of 40,000 characters keeps the system's reason, and
    // the message fits the 512 characters that unixODBC keeps of a record
    // posted while connecting.
    Conn far(env);
    EXPECT_EQ(far.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=/nonexistent/" +
                          std::string(40000, 'p') + ".xls"),
              SQL_ERROR);
    std::tie(rc, message) = wholeMessage(SQL_HANDLE_DBC, far.handle);
    EXPECT_EQ(rc, SQL_SUCCESS);
    text = utf8(message);
    EXPECT_TRUE(std::regex_search(
        text, std::regex("^\\[Velkor\\]\\[Excel Driver\\]The workbook \"/nonexistent/p+\u2026p+"
                         "\\.xls\" cannot be opened: [A-Z][a-z ]+$")))
        << text.size() << " bytes: " << text.substr(0, 100) << "..."
        << text.substr(text.size() - 100);
    EXPECT_LT(text.size(), 512u);
}

// A name that holds control characters (a worksheet's, a statement's, a
// path's, a value's) is quoted with them escaped, so that a message never
// holds a line break that would forge a line in a client's log.
TEST_P(Driver, ControlCharactersInNamesAreEscaped) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, "xlwt_control_names.xls");
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("select * from [Nope\r\nThe conversion was interrupted after record 1.$]"),
              SQL_ERROR);
    const std::string message = utf8(wholeMessage(SQL_HANDLE_STMT, stmt.handle).second);
    EXPECT_NE(message.find("\"Nope\\r\\nThe conversion was interrupted after record 1.$\" does "
                           "not exist"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("its tables are: 'x\\r\\nForged line$', 'Tab\\there\\x85$'"),
              std::string::npos)
        << message;

    ASSERT_EQ(stmt.exec("select * from ['x\r\nForged line$']"), SQL_SUCCESS)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    double number = 0;
    SQLLEN ind = 0;
    for (const char* value : {"\"a\\r\\nb\"", "\"tab\\there\\x07\""}) {
        ASSERT_EQ(SQLFetch(stmt.handle), SQL_SUCCESS);
        EXPECT_EQ(SQLGetData(stmt.handle, 1, SQL_C_DOUBLE, &number, 0, &ind), SQL_ERROR);
        const std::string cast = utf8(wholeMessage(SQL_HANDLE_STMT, stmt.handle).second);
        EXPECT_NE(cast.find(std::string("The value ") + value + " cannot be read"),
                  std::string::npos)
            << cast;
    }

    Conn broken(env);
    EXPECT_EQ(
        broken.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=/nonexistent/a\nb\x1b[2J.xls"),
        SQL_ERROR);
    const std::string refused = utf8(wholeMessage(SQL_HANDLE_DBC, broken.handle).second);
    EXPECT_NE(refused.find("\"/nonexistent/a\\nb\\x1B[2J.xls\" cannot be opened"),
              std::string::npos)
        << refused;
    for (const std::string& m : {message, refused}) {
        EXPECT_EQ(std::count_if(m.begin(), m.end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
                  0);
    }
}

// SQLCancel with no call in progress closes the cursor as SQLFreeStmt(SQL_CLOSE)
// does: the driver manager then lets the application execute again.
TEST_P(Driver, CancelClosesTheCursor) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("select * from [Sheet1$]"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt.handle), SQL_SUCCESS);
    EXPECT_EQ(SQLCancel(stmt.handle), SQL_SUCCESS);
    EXPECT_EQ(stmt.exec("select * from [Offset$]"), SQL_SUCCESS)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    EXPECT_EQ(stmt.rows().size(), 2U);
    ASSERT_EQ(SQLCloseCursor(stmt.handle), SQL_SUCCESS);

    std::u16string text = u"select * from [Offset$]";
    ASSERT_EQ(SQLPrepareW(stmt.handle, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS),
              SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(stmt.handle), SQL_SUCCESS);
    EXPECT_EQ(SQLCancel(stmt.handle), SQL_SUCCESS);
    EXPECT_EQ(SQLExecute(stmt.handle), SQL_SUCCESS) << describe(SQL_HANDLE_STMT, stmt.handle);
    EXPECT_EQ(stmt.rows().size(), 2U);
}

// Clients count, describe and bind parameters on every statement they prepare
// (pyodbc's fast_executemany, the npm odbc package): the statement has none.
TEST_P(Driver, ParameterFunctionsAnswerForAStatementWithoutParameters) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    for (const SQLUSMALLINT f : std::initializer_list<SQLUSMALLINT>{
             SQL_API_SQLNUMPARAMS, SQL_API_SQLBINDPARAMETER, SQL_API_SQLDESCRIBEPARAM,
             SQL_API_SQLPARAMDATA, SQL_API_SQLPUTDATA}) {
        SQLUSMALLINT supported = SQL_FALSE;
        ASSERT_EQ(SQLGetFunctions(conn.handle, f, &supported), SQL_SUCCESS);
        EXPECT_EQ(supported, SQL_TRUE) << f;
    }
    Stmt stmt(conn);
    SQLSMALLINT count = -1;
    EXPECT_EQ(SQLNumParams(stmt.handle, &count), SQL_ERROR);  // nothing prepared
    std::u16string text = u"select * from [Offset$]";
    ASSERT_EQ(SQLPrepareW(stmt.handle, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS),
              SQL_SUCCESS);
    EXPECT_EQ(SQLNumParams(stmt.handle, &count), SQL_SUCCESS)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    EXPECT_EQ(count, 0);
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    EXPECT_EQ(SQLDescribeParam(stmt.handle, 1, &type, &size, &digits, &nullable), SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).state, state("07009", "S1093"));

    SQLINTEGER value = 1;
    SQLLEN indicator = 0;
    EXPECT_EQ(SQLBindParameter(stmt.handle, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                               &value, 0, &indicator),
              SQL_SUCCESS)
        << describe(SQL_HANDLE_STMT, stmt.handle);
    EXPECT_EQ(SQLBindParameter(stmt.handle, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                               nullptr, 0, nullptr),
              SQL_ERROR);
    EXPECT_EQ(SQLExecute(stmt.handle), SQL_SUCCESS) << describe(SQL_HANDLE_STMT, stmt.handle);
    EXPECT_EQ(stmt.rows().size(), 2U);
    SQLPOINTER token = nullptr;
    EXPECT_EQ(SQLParamData(stmt.handle, &token), SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).state, state("HY010", "S1010"));
    EXPECT_EQ(SQLPutData(stmt.handle, &value, sizeof value), SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).state, state("HY010", "S1010"));
}

// Without a driver manager in front, a statement executed over an open cursor
// fails (24000) and leaves no cursor open, as the driver manager would assume.
TEST_P(Driver, AFailedStatementLeavesNoCursorOpen) {
    if (!kDirect) {
        GTEST_SKIP() << "the driver manager keeps the cursor's state itself";
    }
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("select * from [Sheet1$]"), SQL_SUCCESS);
    EXPECT_EQ(stmt.exec("select * from [Offset$]"), SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).state, "24000");
    EXPECT_EQ(SQLCloseCursor(stmt.handle), SQL_ERROR);
    EXPECT_EQ(SQLFetch(stmt.handle), SQL_ERROR);
    EXPECT_EQ(stmt.exec("select * from [Offset$]"), SQL_SUCCESS);
    EXPECT_EQ(stmt.rows().size(), 2U);
}

// ---- the C boundary -------------------------------------------------------------------------

using StatementCall = SQLRETURN (*)(SQLHSTMT);
using ConnectionCall = SQLRETURN (*)(SQLHDBC);

SQLCHAR gNarrow[64] = "x";
SQLWCHAR gWide[64] = {u'x', 0};
SQLSMALLINT gSmall = 0;
SQLINTEGER gInteger = 0;
SQLLEN gLength = 0;
SQLULEN gSize = 0;
SQLPOINTER gPointer = nullptr;

// Every exported function that takes a statement handle.
const StatementCall kStatementCalls[] = {
    [](SQLHSTMT h) { return SQLFreeStmt(h, SQL_CLOSE); },
    [](SQLHSTMT h) { return SQLFreeHandle(SQL_HANDLE_STMT, h); },
    [](SQLHSTMT h) { return SQLBindCol(h, 1, SQL_C_CHAR, gNarrow, 64, &gLength); },
    [](SQLHSTMT h) { return SQLCancel(h); },
    [](SQLHSTMT h) { return SQLCloseCursor(h); },
    [](SQLHSTMT h) { return SQLColAttribute(h, 1, SQL_DESC_NAME, gNarrow, 64, &gSmall, &gLength); },
    [](SQLHSTMT h) { return SQLColAttributeW(h, 1, SQL_DESC_NAME, gWide, 64, &gSmall, &gLength); },
    [](SQLHSTMT h) { return SQLColumns(h, nullptr, 0, nullptr, 0, gNarrow, SQL_NTS, nullptr, 0); },
    [](SQLHSTMT h) { return SQLColumnsW(h, nullptr, 0, nullptr, 0, gWide, SQL_NTS, nullptr, 0); },
    [](SQLHSTMT h) {
        return SQLDescribeCol(h, 1, gNarrow, 64, &gSmall, &gSmall, &gSize, &gSmall, &gSmall);
    },
    [](SQLHSTMT h) {
        return SQLDescribeColW(h, 1, gWide, 64, &gSmall, &gSmall, &gSize, &gSmall, &gSmall);
    },
    [](SQLHSTMT h) { return SQLExecDirect(h, gNarrow, SQL_NTS); },
    [](SQLHSTMT h) { return SQLExecDirectW(h, gWide, SQL_NTS); },
    [](SQLHSTMT h) { return SQLExecute(h); },
    [](SQLHSTMT h) { return SQLFetch(h); },
    [](SQLHSTMT h) { return SQLFetchScroll(h, SQL_FETCH_NEXT, 0); },
    [](SQLHSTMT h) { return SQLGetData(h, 1, SQL_C_CHAR, gNarrow, 64, &gLength); },
    [](SQLHSTMT h) {
        return SQLGetDiagField(SQL_HANDLE_STMT, h, 1, SQL_DIAG_MESSAGE_TEXT, gNarrow, 64, &gSmall);
    },
    [](SQLHSTMT h) {
        return SQLGetDiagFieldW(SQL_HANDLE_STMT, h, 1, SQL_DIAG_MESSAGE_TEXT, gWide, 64, &gSmall);
    },
    [](SQLHSTMT h) {
        return SQLGetDiagRec(SQL_HANDLE_STMT, h, 1, gNarrow, &gInteger, gNarrow + 8, 32, &gSmall);
    },
    [](SQLHSTMT h) {
        return SQLGetDiagRecW(SQL_HANDLE_STMT, h, 1, gWide, &gInteger, gWide + 8, 32, &gSmall);
    },
    [](SQLHSTMT h) { return SQLGetStmtAttr(h, SQL_ATTR_MAX_ROWS, &gSize, 0, &gInteger); },
    [](SQLHSTMT h) { return SQLGetStmtAttrW(h, SQL_ATTR_MAX_ROWS, &gSize, 0, &gInteger); },
    [](SQLHSTMT h) { return SQLGetTypeInfo(h, SQL_ALL_TYPES); },
    [](SQLHSTMT h) { return SQLGetTypeInfoW(h, SQL_ALL_TYPES); },
    [](SQLHSTMT h) { return SQLMoreResults(h); },
    [](SQLHSTMT h) { return SQLNumResultCols(h, &gSmall); },
    [](SQLHSTMT h) { return SQLPrepare(h, gNarrow, SQL_NTS); },
    [](SQLHSTMT h) { return SQLPrepareW(h, gWide, SQL_NTS); },
    [](SQLHSTMT h) { return SQLRowCount(h, &gLength); },
    [](SQLHSTMT h) {
        return SQLSetStmtAttr(h, SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(1), 0);
    },
    [](SQLHSTMT h) {
        return SQLSetStmtAttrW(h, SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(1), 0);
    },
    [](SQLHSTMT h) { return SQLTables(h, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); },
    [](SQLHSTMT h) { return SQLTablesW(h, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); },
    [](SQLHSTMT h) { return SQLNumParams(h, &gSmall); },
    [](SQLHSTMT h) {
        return SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, gNarrow, 64,
                                &gLength);
    },
    [](SQLHSTMT h) { return SQLDescribeParam(h, 1, &gSmall, &gSize, &gSmall, &gSmall); },
    [](SQLHSTMT h) { return SQLParamData(h, &gPointer); },
    [](SQLHSTMT h) { return SQLPutData(h, gNarrow, 1); },
    [](SQLHSTMT h) { return SQLPrimaryKeys(h, nullptr, 0, nullptr, 0, gNarrow, SQL_NTS); },
    [](SQLHSTMT h) { return SQLPrimaryKeysW(h, nullptr, 0, nullptr, 0, gWide, SQL_NTS); },
    [](SQLHSTMT h) {
        return SQLForeignKeys(h, nullptr, 0, nullptr, 0, gNarrow, SQL_NTS, nullptr, 0, nullptr, 0,
                              nullptr, 0);
    },
    [](SQLHSTMT h) {
        return SQLForeignKeysW(h, nullptr, 0, nullptr, 0, gWide, SQL_NTS, nullptr, 0, nullptr, 0,
                               nullptr, 0);
    },
    [](SQLHSTMT h) {
        return SQLStatistics(h, nullptr, 0, nullptr, 0, gNarrow, SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
    },
    [](SQLHSTMT h) {
        return SQLStatisticsW(h, nullptr, 0, nullptr, 0, gWide, SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
    },
    [](SQLHSTMT h) {
        return SQLSpecialColumns(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, gNarrow, SQL_NTS,
                                 SQL_SCOPE_SESSION, SQL_NULLABLE);
    },
    [](SQLHSTMT h) {
        return SQLSpecialColumnsW(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, gWide, SQL_NTS,
                                  SQL_SCOPE_SESSION, SQL_NULLABLE);
    },
    [](SQLHSTMT h) { return SQLProcedures(h, nullptr, 0, nullptr, 0, nullptr, 0); },
    [](SQLHSTMT h) { return SQLProceduresW(h, nullptr, 0, nullptr, 0, nullptr, 0); },
    [](SQLHSTMT h) {
        return SQLProcedureColumns(h, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
    },
    [](SQLHSTMT h) {
        return SQLProcedureColumnsW(h, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
    },
    [](SQLHSTMT h) { return SQLTablePrivileges(h, nullptr, 0, nullptr, 0, gNarrow, SQL_NTS); },
    [](SQLHSTMT h) { return SQLTablePrivilegesW(h, nullptr, 0, nullptr, 0, gWide, SQL_NTS); },
    [](SQLHSTMT h) {
        return SQLColumnPrivileges(h, nullptr, 0, nullptr, 0, gNarrow, SQL_NTS, nullptr, 0);
    },
    [](SQLHSTMT h) {
        return SQLColumnPrivilegesW(h, nullptr, 0, nullptr, 0, gWide, SQL_NTS, nullptr, 0);
    },
};

// Every exported function that takes a connection handle.
const ConnectionCall kConnectionCalls[] = {
    [](SQLHDBC h) {
        SQLHANDLE out = nullptr;
        return SQLAllocHandle(SQL_HANDLE_STMT, h, &out);
    },
    [](SQLHDBC h) { return SQLConnect(h, gNarrow, SQL_NTS, nullptr, 0, nullptr, 0); },
    [](SQLHDBC h) { return SQLConnectW(h, gWide, SQL_NTS, nullptr, 0, nullptr, 0); },
    [](SQLHDBC h) {
        return SQLDriverConnect(h, nullptr, gNarrow, SQL_NTS, nullptr, 0, &gSmall,
                                SQL_DRIVER_NOPROMPT);
    },
    [](SQLHDBC h) {
        return SQLDriverConnectW(h, nullptr, gWide, SQL_NTS, nullptr, 0, &gSmall,
                                 SQL_DRIVER_NOPROMPT);
    },
    [](SQLHDBC h) { return SQLDisconnect(h); },
    [](SQLHDBC h) { return SQLEndTran(SQL_HANDLE_DBC, h, SQL_COMMIT); },
    [](SQLHDBC h) { return SQLGetConnectAttr(h, SQL_ATTR_AUTOCOMMIT, &gInteger, 0, nullptr); },
    [](SQLHDBC h) { return SQLGetConnectAttrW(h, SQL_ATTR_AUTOCOMMIT, &gInteger, 0, nullptr); },
    [](SQLHDBC h) {
        return SQLSetConnectAttr(h, SQL_ATTR_AUTOCOMMIT,
                                 reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    },
    [](SQLHDBC h) {
        return SQLSetConnectAttrW(h, SQL_ATTR_AUTOCOMMIT,
                                  reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    },
    [](SQLHDBC h) { return SQLGetInfo(h, SQL_DRIVER_NAME, gNarrow, 64, &gSmall); },
    [](SQLHDBC h) { return SQLGetInfoW(h, SQL_DRIVER_NAME, gWide, 64, &gSmall); },
    [](SQLHDBC h) {
        SQLUSMALLINT supported = 0;
        return SQLGetFunctions(h, SQL_API_SQLFETCH, &supported);
    },
    [](SQLHDBC h) { return SQLNativeSql(h, gNarrow, SQL_NTS, gNarrow + 8, 32, &gInteger); },
    [](SQLHDBC h) { return SQLNativeSqlW(h, gWide, SQL_NTS, gWide + 8, 32, &gInteger); },
    [](SQLHDBC h) {
        return SQLGetDiagRec(SQL_HANDLE_DBC, h, 1, gNarrow, &gInteger, gNarrow + 8, 32, &gSmall);
    },
    [](SQLHDBC h) {
        return SQLGetDiagField(SQL_HANDLE_DBC, h, 0, SQL_DIAG_NUMBER, &gInteger, 0, &gSmall);
    },
    [](SQLHDBC h) { return SQLFreeHandle(SQL_HANDLE_DBC, h); },
};

// Without a driver manager in front, the driver itself refuses a null handle,
// and a statement or connection freed before (its owner still alive), with
// SQL_INVALID_HANDLE.
TEST_P(Driver, EveryEntryPointRefusesNullAndFreedHandles) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    SQLHDBC freedDbc = SQL_NULL_HDBC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env.handle, &freedDbc), SQL_SUCCESS);
    ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, freedDbc), SQL_SUCCESS);
    SQLHSTMT freedStmt = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, conn.handle, &freedStmt), SQL_SUCCESS);
    ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, freedStmt), SQL_SUCCESS);

    for (const SQLHSTMT h : std::array<SQLHSTMT, 2>{nullptr, freedStmt}) {
        for (size_t i = 0; i < std::size(kStatementCalls); ++i) {
            EXPECT_EQ(kStatementCalls[i](h), SQL_INVALID_HANDLE) << "statement call " << i;
        }
    }
    for (const SQLHDBC h : std::array<SQLHDBC, 2>{nullptr, freedDbc}) {
        for (size_t i = 0; i < std::size(kConnectionCalls); ++i) {
            EXPECT_EQ(kConnectionCalls[i](h), SQL_INVALID_HANDLE) << "connection call " << i;
        }
    }
    SQLINTEGER version = 0;
    EXPECT_EQ(SQLGetEnvAttr(SQL_NULL_HENV, SQL_ATTR_ODBC_VERSION, &version, 0, nullptr),
              SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLSetEnvAttr(SQL_NULL_HENV, SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, SQL_NULL_HENV, SQL_COMMIT), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, SQL_NULL_HENV), SQL_INVALID_HANDLE);
    // The live connection still works.
    Stmt stmt(conn);
    EXPECT_EQ(stmt.exec("select * from [Offset$]"), SQL_SUCCESS);
}

// Handles whose owner is gone too: a statement freed by the disconnect of
// its connection, that connection freed, and then its environment freed.
// Nothing is read through them (under ASan a check that did would fail as a
// heap use after free).
TEST_P(Driver, HandlesWhoseOwnersWereFreedAreRefused) {
    SQLHENV env = SQL_NULL_HENV;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(GetParam())), 0),
              SQL_SUCCESS);
    SQLHDBC dbc = SQL_NULL_HDBC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    std::string cs = connectionString(kLo);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
                                               SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
    std::array<SQLHSTMT, 3> stmts{};
    for (SQLHSTMT& h : stmts) {
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h), SQL_SUCCESS);
    }
    ASSERT_EQ(
        SQLExecDirect(stmts[0],
                      reinterpret_cast<SQLCHAR*>(const_cast<char*>("select * from [Sheet1$]")),
                      SQL_NTS),
        SQL_SUCCESS);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    for (size_t i = 0; i < std::size(kStatementCalls); ++i) {
        EXPECT_EQ(kStatementCalls[i](stmts[1]), SQL_INVALID_HANDLE) << "statement call " << i;
    }
    ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    for (const SQLHSTMT h : stmts) {
        for (size_t i = 0; i < std::size(kStatementCalls); ++i) {
            EXPECT_EQ(kStatementCalls[i](h), SQL_INVALID_HANDLE) << "statement call " << i;
        }
    }
    for (size_t i = 0; i < std::size(kConnectionCalls); ++i) {
        EXPECT_EQ(kConnectionCalls[i](dbc), SQL_INVALID_HANDLE) << "connection call " << i;
    }
    ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
    SQLINTEGER version = 0;
    EXPECT_EQ(SQLGetEnvAttr(env, SQL_ATTR_ODBC_VERSION, &version, 0, nullptr), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmts[2]), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_INVALID_HANDLE);
}

// Negative lengths and buffer sizes are errors (HY090), never an exception
// or a write through a negative size; the handle stays usable.
TEST_P(Driver, NegativeLengthsAreErrors) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kLo);
    Stmt stmt(conn);
    ASSERT_EQ(stmt.exec("select * from [Sheet1$]"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt.handle), SQL_SUCCESS);
    SQLCHAR buffer[64] = "select * from [Sheet1$]";
    SQLSMALLINT small = 0;
    SQLLEN length = 0;
    SQLINTEGER integer = 0;
    for (const SQLSMALLINT field :
         std::initializer_list<SQLSMALLINT>{SQL_DIAG_DYNAMIC_FUNCTION, SQL_DIAG_MESSAGE_TEXT}) {
        const SQLRETURN rc =
            SQLGetDiagField(SQL_HANDLE_STMT, stmt.handle, 1, field, buffer, -1, &small);
        EXPECT_TRUE(rc == SQL_ERROR || rc == SQL_NO_DATA) << rc;
    }
    EXPECT_EQ(SQLGetInfo(conn.handle, SQL_DRIVER_NAME, buffer, -1, &small), SQL_ERROR);
    EXPECT_EQ(
        SQLDescribeCol(stmt.handle, 1, buffer, -1, &small, nullptr, nullptr, nullptr, nullptr),
        SQL_ERROR);
    EXPECT_EQ(SQLColAttribute(stmt.handle, 1, SQL_DESC_NAME, buffer, -1, &small, nullptr),
              SQL_ERROR);
    EXPECT_EQ(SQLGetData(stmt.handle, 1, SQL_C_CHAR, buffer, -1, &length), SQL_ERROR);
    EXPECT_EQ(SQLNativeSql(conn.handle, buffer, -5, buffer, 64, &integer), SQL_ERROR);
    EXPECT_EQ(SQLNativeSql(conn.handle, buffer, SQL_NTS, buffer, -1, &integer), SQL_ERROR);
    if (kDirect) {  // the driver manager answers this one from its own copy of the records
        EXPECT_EQ(
            SQLGetDiagRec(SQL_HANDLE_STMT, stmt.handle, 1, buffer, &integer, buffer, -1, &small),
            SQL_ERROR);
    }
    ASSERT_EQ(SQLCloseCursor(stmt.handle), SQL_SUCCESS);
    EXPECT_EQ(SQLExecDirect(stmt.handle, buffer, -5), SQL_ERROR);
    EXPECT_EQ(SQLTables(stmt.handle, nullptr, 0, nullptr, 0, buffer, -7, nullptr, 0), SQL_ERROR);

    Conn other(env);
    std::string cs = connectionString(kLo);
    EXPECT_EQ(SQLDriverConnect(other.handle, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
                               SQL_NTS, buffer, -1, &small, SQL_DRIVER_NOPROMPT),
              SQL_ERROR);
    EXPECT_EQ(SQLDisconnect(other.handle), SQL_ERROR);  // the failed call left it closed

    EXPECT_EQ(stmt.exec("select * from [Offset$]"), SQL_SUCCESS)
        << describe(SQL_HANDLE_STMT, stmt.handle);
}

// An environment with a connection is not freed (HY010): its memory is in use.
TEST_P(Driver, AnEnvironmentWithConnectionsIsNotFreed) {
    Env env(GetParam());
    SQLHDBC dbc = SQL_NULL_HDBC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env.handle, &dbc), SQL_SUCCESS);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env.handle), SQL_ERROR);
    EXPECT_EQ(describe(SQL_HANDLE_ENV, env.handle).substr(0, 5), state("HY010", "S1010"));
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
}

// ---- threads ----------------------------------------------------------------------------

TEST_P(Driver, TwoConnectionsOnTwoThreadsAtOnce) {
    // unixODBC copies settings into static buffers of its own without a
    // lock while it sets up an environment and connects, so the two threads
    // set up one at a time; what runs at once is everything after.
    std::mutex settingUp;
    auto readAll = [&](Table& out) {
        std::unique_lock lock(settingUp);
        Env env(GetParam());
        Conn conn(env);
        const bool connected = SQL_SUCCEEDED(conn.connect(connectionString(kXlwt)));
        lock.unlock();
        if (!connected) {
            return;
        }
        for (int pass = 0; pass < 5; ++pass) {
            Stmt stmt(conn);
            stmt.exec("select * from [Rows$]");
            out = stmt.rows(64);
        }
    };
    Table a, b;
    std::thread first(readAll, std::ref(a));
    std::thread second(readAll, std::ref(b));
    first.join();
    second.join();
    ASSERT_EQ(a.size(), 2000U);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a[1999][1], s("row 2000"));
}

// One connection used from several threads at once, as an application
// linked to the driver (or a driver manager with threading off) does it:
// statements of the connection are allocated, run and freed on every
// thread while the others ask the connection about itself.
TEST_P(Driver, OneConnectionFromSeveralThreads) {
    Env env(GetParam());
    Conn conn(env);
    open(conn, kXlwt);
    auto work = [&](Table& out) {
        for (int pass = 0; pass < 8; ++pass) {
            Stmt stmt(conn);
            EXPECT_EQ(stmt.exec("select * from [Rows$]"), SQL_SUCCESS);
            out = stmt.rows(64);
            char name[64] = {};
            SQLSMALLINT length = 0;
            EXPECT_EQ(SQLGetInfo(conn.handle, SQL_DRIVER_NAME, name, sizeof name, &length),
                      SQL_SUCCESS);
            Stmt failing(conn);
            EXPECT_EQ(failing.exec("select * from [Nope$]"), SQL_ERROR);
            EXPECT_EQ(failing.diags().size(), 1U);
        }
    };
    std::array<Table, 3> results;
    std::vector<std::thread> threads;
    threads.reserve(results.size());
    for (Table& result : results) {
        threads.emplace_back(work, std::ref(result));
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (const Table& result : results) {
        ASSERT_EQ(result.size(), 2000U);
        EXPECT_EQ(result, results[0]);
    }
}

// A statement freed (by SQLFreeHandle, or by its connection's disconnect)
// while other threads are in calls on it: those calls wait for it or find
// it gone, and no call reads a handle after it was freed.
TEST_P(Driver, StatementsFreedWhileOtherThreadsUseThemFromSeveralThreads) {
    if (!kDirect) {
        GTEST_SKIP() << "through unixODBC, a handle freed during a call is the manager's to check";
    }
    Env env(GetParam());
    SQLHDBC dbc = SQL_NULL_HDBC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env.handle, &dbc), SQL_SUCCESS);
    std::string cs = connectionString(kXlwt);
    std::atomic<SQLHSTMT> current{SQL_NULL_HSTMT};
    std::atomic<bool> done{false};
    std::atomic<int> refused{0};
    auto use = [&] {
        while (!done) {
            const SQLHSTMT h = current.load();
            SQLSMALLINT columns = 0;
            if (SQLNumResultCols(h, &columns) == SQL_INVALID_HANDLE) {
                ++refused;
            }
            SQLFetch(h);
            SQLLEN count = 0;
            SQLRowCount(h, &count);
        }
    };
    std::array<std::thread, 2> users;
    for (std::thread& t : users) {
        t = std::thread(use);
    }
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(
            SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
                                           SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
        for (int k = 0; k < 5; ++k) {
            SQLHSTMT h = SQL_NULL_HSTMT;
            ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h), SQL_SUCCESS);
            SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>("select * from [Rows$]")),
                          SQL_NTS);
            current = h;
            std::this_thread::yield();
            if (k % 2 == 0) {
                EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, h), SQL_SUCCESS);
            }
        }
        EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);  // frees the statements left
        std::this_thread::yield();
    }
    done = true;
    for (std::thread& t : users) {
        t.join();
    }
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    EXPECT_GT(refused.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(OdbcVersions, Driver, ::testing::Values(SQL_OV_ODBC3, SQL_OV_ODBC2),
                         [](const auto& p) { return p.param == SQL_OV_ODBC3 ? "Odbc3" : "Odbc2"; });

}  // namespace
