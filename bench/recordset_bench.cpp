// Reading speed of CRecordset::GetFieldValue, the way the sheet export reads
// a worksheet: every field of every row of a forward-only, read-only result
// (fetched in blocks), against the same result opened as a snapshot (one
// SQLGetData per field).
//
//   recordset_bench                      a 65,535 x 26 SQLite table made here
//   recordset_bench WORKBOOK SHEET       a worksheet through the Excel driver
//
// Drivers come from the build tree's test configuration (ODBCSYSINI).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "odbc/connect_string.h"
#include "platform/database.h"

namespace {

constexpr int kRows = 65535;
constexpr int kColumns = 26;

void Execute(CDatabase& database, const CString& sql) {
    CRecordset statement(&database);
    statement.Open(CRecordset::forwardOnly, sql, CRecordset::none);
}

// Columns c0..c25 of varchar(16), text values of 1 to 12 characters.
void MakeTable(CDatabase& database) {
    CString columns;
    CString values;
    for (int c = 0; c < kColumns; ++c) {
        CString column;
        column.Format(u"c%d", c);
        columns += (c > 0 ? u", " : u"") + column + u" varchar(16)";
        CString value;
        value.Format(u"substr('abcdefghijkl', 1, 1 + (k + %d) %% 12) || k", c);
        values += (c > 0 ? u", " : u"") + value;
    }
    Execute(database, CString(u"create table sheet(") + columns + u")");
    CString insert;
    insert.Format(
        u"insert into sheet with recursive n(k) as (select 1 union all select k + 1 "
        u"from n where k < %d) select %s from n",
        kRows, values);
    Execute(database, insert);
}

void Measure(CDatabase& database, const CString& sql, UINT openType, const char* label) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    CRecordset set(&database);
    set.Open(openType, sql, CRecordset::readOnly);
    const auto opened = Clock::now();
    const short columns = set.GetODBCFieldCount();
    CString value;
    long fields = 0;
    size_t units = 0;
    while (!set.IsEOF()) {
        for (short i = 0; i < columns; ++i) {
            set.GetFieldValue(i, value);
            units += static_cast<size_t>(value.GetLength());
            ++fields;
        }
        set.MoveNext();
    }
    const std::chrono::duration<double> open = opened - start;
    const std::chrono::duration<double> read = Clock::now() - opened;
    std::printf(
        "%-12s %6ld rows %8ld fields %9zu units  open %6.3f s  read %6.3f s  %6.1f ns/field\n",
        label, set.GetRecordCount(), fields, units, open.count(), read.count(),
        fields > 0 ? read.count() * 1e9 / static_cast<double>(fields) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const char* sysini = std::getenv("ODBCSYSINI");
    if (sysini == nullptr || *sysini == '\0')
        setenv("ODBCSYSINI", TABROOK_TEST_ODBCSYSINI, 1);
    try {
        CDatabase database;
        CString sql;
        std::filesystem::path scratch;
        if (argc >= 3) {
            database.Open(
                nullptr, FALSE, FALSE,
                ExcelConnectString(u"Velkor Excel Driver (*.xls)", CString::FromUtf8(argv[1])));
            sql = CString(u"Select * from [") + CString::FromUtf8(argv[2]) + u"]";
        } else {
            scratch = std::filesystem::temp_directory_path() / "tabrook-recordset-bench.sqlite";
            std::filesystem::remove(scratch);
            database.Open(nullptr, FALSE, FALSE,
                          CString::FromUtf8("ODBC;DRIVER={SQLite3};Database=" + scratch.string()));
            MakeTable(database);
            sql = u"select * from sheet";
        }
        Measure(database, sql, CRecordset::forwardOnly, "forward-only");
        Measure(database, sql, CRecordset::snapshot, "snapshot");
        database.Close();
        if (!scratch.empty())
            std::filesystem::remove(scratch);
    } catch (const CDBException& e) {
        std::fprintf(stderr, "Database error: %s\n", e.m_strError.ToUtf8().c_str());
        return 1;
    }
    return 0;
}
