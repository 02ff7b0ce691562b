// Metamorphic checks of the SQL engine over every workbook of the corpus,
// through the driver's own entry points: for each table of each workbook,
// the engine's SELECT * ... WHERE 1=1 gives the direct path's rows and
// columns byte for byte, COUNT(*) their number, ORDER BY a permutation of
// them in order, and DISTINCT the set of a column's values. Sorts, groups
// and equality lookups on a table's columns (which the driver answers
// itself) give what the engine's own sort and scan give for the same
// statement written on an expression (+column), which they cannot serve.
#include "odbc_client.h"

#include <algorithm>
#include <filesystem>
#include <set>

using namespace xlsodbc_test;

namespace {

std::string quoted(const std::string& name) {
    std::string out = "[";
    for (const char c : name) {
        out.push_back(c);
        if (c == ']') {
            out.push_back(']');
        }
    }
    return out + "]";
}

std::vector<std::string> tables(Conn& conn) {
    Stmt s(conn);
    std::vector<std::string> out;
    if (!SQL_SUCCEEDED(SQLTablesW(s.handle, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0))) {
        return out;
    }
    for (const auto& row : s.rows()) {
        out.push_back(row.at(2).value_or(""));
    }
    return out;
}

struct Result {
    bool ok = false;
    std::vector<std::string> names;
    Table rows;
    std::string problem;
};

// Column names of any length (a header cell may hold 32,767 characters).
std::vector<std::string> columnNames(SQLHSTMT handle) {
    SQLSMALLINT count = 0;
    EXPECT_EQ(SQLNumResultCols(handle, &count), SQL_SUCCESS);
    std::vector<std::string> names;
    std::u16string name(40000, u'\0');
    for (SQLUSMALLINT i = 1; i <= count; ++i) {
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(SQLDescribeColW(
            handle, i, reinterpret_cast<SQLWCHAR*>(name.data()), static_cast<SQLSMALLINT>(32767),
            &length, &type, &size, &digits, &nullable)));
        names.push_back(utf8(name.substr(0, std::min<size_t>(static_cast<size_t>(length), 32766))));
    }
    return names;
}

Result query(Conn& conn, const std::string& statement) {
    Stmt s(conn);
    Result r;
    if (!SQL_SUCCEEDED(s.exec(statement))) {
        r.problem = describe(SQL_HANDLE_STMT, s.handle);
        return r;
    }
    r.ok = true;
    r.names = columnNames(s.handle);
    r.rows = s.rows();
    return r;
}

std::optional<double> number(const std::optional<std::string>& text) {
    if (!text || text->empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    return *end == 0 ? std::optional(v) : std::nullopt;
}

// Rows sorted by the first column: NULLs first, and where every value is
// a number, in numeric order.
void checkOrdered(const Table& rows, const std::string& where) {
    bool numeric = true;
    size_t nulls = 0;
    for (const auto& row : rows) {
        if (!row.at(0)) {
            ++nulls;
        } else {
            numeric = numeric && number(row[0]).has_value();
        }
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(!rows[i][0].has_value(), i < nulls) << where << " row " << i;
        if (numeric && i > nulls) {
            EXPECT_LE(*number(rows[i - 1][0]), *number(rows[i][0])) << where << " row " << i;
        }
    }
}

TEST(CorpusSql, EngineAgreesWithTheDirectPathOnEveryTable) {
    const std::filesystem::path folder = std::filesystem::path(TABROOK_CORPUS_DIR) / "xls";
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        // Large workbooks add time, not cases.
        if (entry.is_regular_file() && entry.file_size() < 1'000'000) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    size_t checked = 0;
    Env env(SQL_OV_ODBC3);
    for (const auto& file : files) {
        Conn conn(env);
        if (!SQL_SUCCEEDED(
                conn.connect("DRIVER={Velkor Excel Driver (*.xls)};DBQ=" + file.string()))) {
            continue;  // workbooks the driver refuses are the reader's tests' business
        }
        std::vector<std::string> names = tables(conn);
        if (names.size() > 6) {
            names.resize(6);
        }
        for (const std::string& table : names) {
            const std::string t = quoted(table);
            const std::string where = file.filename().string() + " " + t;
            const Result direct = query(conn, "SELECT * FROM " + t);
            if (!direct.ok) {
                continue;  // a damaged sheet
            }
            const Result engine = query(conn, "SELECT * FROM " + t + " WHERE 1=1");
            ASSERT_TRUE(engine.ok) << where << ": " << engine.problem;
            EXPECT_EQ(engine.names, direct.names) << where;
            EXPECT_EQ(engine.rows, direct.rows) << where;

            const Result count = query(conn, "SELECT COUNT(*) FROM " + t);
            ASSERT_TRUE(count.ok) << where << ": " << count.problem;
            EXPECT_EQ(count.rows, (Table{{std::to_string(direct.rows.size())}})) << where;

            // A header cut to fit ODBC's lengths cannot be named back.
            if (direct.names.empty() || direct.names[0].size() >= 32766) {
                continue;
            }
            const std::string first = quoted(direct.names[0]);
            const Result ordered = query(conn, "SELECT * FROM " + t + " ORDER BY " + first);
            ASSERT_TRUE(ordered.ok) << where << ": " << ordered.problem;
            Table a = ordered.rows;
            Table b = direct.rows;
            std::sort(a.begin(), a.end());
            std::sort(b.begin(), b.end());
            EXPECT_EQ(a, b) << where << ": ORDER BY is not a permutation";
            checkOrdered(ordered.rows, where);

            const Result distinct = query(conn, "SELECT DISTINCT " + first + " FROM " + t);
            ASSERT_TRUE(distinct.ok) << where << ": " << distinct.problem;
            // The same values, those that differ only in letter case (ASCII
            // here) being one; a number and a text that read alike are two.
            auto folded = [](const Table& rows) {
                std::set<std::string> values;
                for (const auto& row : rows) {
                    std::string v = row[0].value_or("\x01NULL");
                    std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) {
                        return static_cast<char>(std::tolower(c));
                    });
                    values.insert(v);
                }
                return values;
            };
            EXPECT_EQ(folded(distinct.rows), folded(direct.rows)) << where;
            EXPECT_LE(distinct.rows.size(), direct.rows.size()) << where;

            const std::string last =
                direct.names.back().size() < 32766 ? quoted(direct.names.back()) : first;
            auto same = [&](const std::string& served, const std::string& scanned, bool inOrder) {
                const Result byDriver = query(conn, served);
                const Result byEngine = query(conn, scanned);
                ASSERT_TRUE(byDriver.ok && byEngine.ok)
                    << where << ": " << byDriver.problem << byEngine.problem;
                Table x = byDriver.rows;
                Table y = byEngine.rows;
                if (!inOrder) {
                    std::sort(x.begin(), x.end());
                    std::sort(y.begin(), y.end());
                }
                EXPECT_EQ(x, y) << where << ": " << served;
            };
            // Ties keep table order, empty cells first, numbers before texts.
            same("SELECT * FROM " + t + " ORDER BY " + first + " DESC, " + last,
                 "SELECT * FROM " + t + " ORDER BY +" + first + " DESC, +" + last, true);
            same("SELECT " + first + ", COUNT(*), MAX(" + last + ") FROM " + t + " GROUP BY " +
                     first,
                 "SELECT " + first + ", COUNT(*), MAX(" + last + ") FROM " + t + " GROUP BY +" +
                     first,
                 true);
            // Lookups by equality, also where the engine reads a text as a
            // number first; both sides' columns, so that two cursors on one
            // table read in turns. (Not a text cast: a unary + changes how
            // the engine compares a column with a text.)
            if (direct.rows.size() <= 1500) {
                for (const std::string& other :
                     {"b." + first, "CAST(b." + first + " AS REAL)", "UPPER(b." + first + ")"}) {
                    same("SELECT a.*, b.* FROM " + t + " a JOIN " + t + " b ON a." + first + " = " +
                             other + " WHERE a.rowid <= 40",
                         "SELECT a.*, b.* FROM " + t + " a JOIN " + t + " b ON +a." + first +
                             " = " + other + " WHERE a.rowid <= 40",
                         false);
                }
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 100U);
}

}  // namespace
