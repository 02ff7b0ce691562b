// The driver's layers that need no workbook, tested on their own: the
// connection string, the statement and range parser, catalogue names and
// search patterns, column naming, and ODBC's output-buffer rules.
#include "xlsodbc/catalog.h"
#include "xlsodbc/connection_string.h"
#include "xlsodbc/conversion.h"
#include "xlsodbc/diagnostics.h"
#include "xlsodbc/result_set.h"
#include "xlsodbc/statement_parser.h"
#include "xlsodbc/text.h"

#include "sql/text_table.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>

namespace xlsodbc {
namespace {

State failureOf(auto&& f) {
    try {
        f();
    } catch (const DriverError& e) {
        return e.state();
    }
    ADD_FAILURE() << "no DriverError";
    return State::GeneralWarning;
}

TEST(ConnectionString, BracesKeepSeparatorsAndDoubledClosingBraces) {
    const Attributes a = parseConnectionString(
        u"DRIVER={A;B}};C} ; dbq = /x y.xls;;noequals;EMPTY=;DBQ=/second.xls");
    EXPECT_EQ(findAttribute(a, u"driver"), u"A;B};C");
    EXPECT_EQ(findAttribute(a, u"DBQ"), u"/x y.xls");  // the first occurrence wins
    EXPECT_EQ(findAttribute(a, u"Empty"), u"");
    EXPECT_FALSE(findAttribute(a, u"noequals"));
    EXPECT_EQ(failureOf([] { parseConnectionString(u"DBQ={/open.xls"); }), State::UnableToConnect);
}

TEST(ConnectionString, ValuesAndTypesTakeTheirWordsInAnyCaseAndRefuseOthers) {
    const ConnectSettings plain = resolveSettings(parseConnectionString(u"DBQ=/a.xls"));
    EXPECT_EQ(plain.values, Values::Contract);
    EXPECT_FALSE(plain.detectTypes);
    const ConnectSettings both =
        resolveSettings(parseConnectionString(u"DBQ=/a.xls;values= displayed ;TYPES={Detected}"));
    EXPECT_EQ(both.values, Values::Displayed);
    EXPECT_TRUE(both.detectTypes);
    const ConnectSettings named =
        resolveSettings(parseConnectionString(u"DBQ=/a.xls;Values=Contract;Types=Text"));
    EXPECT_EQ(named.values, Values::Contract);
    EXPECT_FALSE(named.detectTypes);
    EXPECT_EQ(failureOf([] { resolveSettings(parseConnectionString(u"DBQ=/a.xls;Values=1")); }),
              State::UnableToConnect);
    EXPECT_EQ(failureOf([] { resolveSettings(parseConnectionString(u"DBQ=/a.xls;Types=auto")); }),
              State::UnableToConnect);
}

// A client may send a megabyte of separators and pieces without "=": they
// are read in one pass (this took minutes when each piece searched the rest
// of the string), and what follows them is still found.
TEST(ConnectionString, AMegabyteOfSeparatorsReadsInOnePass) {
    std::u16string text(1U << 20, u';');
    for (size_t i = 0; i < text.size(); i += 8) {
        text[i] = u'x';  // a piece without "="
    }
    text += u"DBQ={/a;b.xls};FirstRowHasNames=0";
    const Attributes a = parseConnectionString(text);
    ASSERT_EQ(a.size(), 2U);
    EXPECT_EQ(findAttribute(a, u"dbq"), u"/a;b.xls");
    EXPECT_EQ(findAttribute(a, u"FirstRowHasNames"), u"0");
}

TEST(ConnectionString, SettingsNeedAWorkbookAndJoinDefaultDir) {
    EXPECT_EQ(failureOf([] { resolveSettings(parseConnectionString(u"DSN='';DBQ=  ")); }),
              State::UnableToConnect);
    const ConnectSettings s = resolveSettings(
        parseConnectionString(u"DBQ=book.xls;DefaultDir=/data;FirstRowHasNames=No"));
    EXPECT_EQ(s.workbook, std::filesystem::path("/data/book.xls"));
    EXPECT_FALSE(s.firstRowHasNames);
    EXPECT_TRUE(
        resolveSettings(parseConnectionString(u"DBQ=/a.xls;FirstRowHasNames=1")).firstRowHasNames);
}

TEST(StatementParser, TableFormsAndWhatTheyName) {
    const TableReference quoted = parseSelect(u"select * from ['It''s $ here$'A2:c3];");
    EXPECT_TRUE(quoted.worksheet);
    EXPECT_EQ(quoted.name, u"It's $ here");
    ASSERT_TRUE(quoted.range);
    EXPECT_EQ(quoted.range->firstRow, 1U);
    EXPECT_EQ(quoted.range->lastCol, 2U);

    EXPECT_EQ(parseSelect(u"SELECT * FROM [a]]b$]").name, u"a]b");  // "]]" stands for "]"
    EXPECT_EQ(parseSelect(u"SELECT * FROM [x]y$]").name, u"x]y");   // the last "]" closes
    EXPECT_EQ(parseSelect(u"select * from `Cost$$`").name, u"Cost$");
    const TableReference name = parseSelect(u"select * from \"Prices\"");
    EXPECT_FALSE(name.worksheet);
    EXPECT_EQ(name.name, u"Prices");
    // A "$" not followed by a range leaves a table name for the lookup.
    EXPECT_FALSE(parseSelect(u"select * from [A$B]").worksheet);
}

TEST(StatementParser, AnythingElseIsASyntaxError) {
    for (const char16_t* bad :
         {u"", u"select", u"select *", u"select * from", u"select * from []", u"select * from a b",
          u"selectx * from [a$]", u"select * fromx", u"select a from [a$]",
          u"select * from [Sheet1$A1:XFE2]", u"select * from [a$] where 1"}) {
        EXPECT_EQ(failureOf([&] { parseSelect(bad); }), State::SyntaxError) << utf16ToUtf8(bad);
    }
}

// What a client sends to sort or filter (a query builder's ORDER BY after a
// quoted table) is refused by name, never read as part of the table's name.
TEST(StatementParser, ClausesAfterTheTableAreRefusedByName) {
    const std::pair<const char16_t*, const char*> cases[] = {
        {u"SELECT * FROM `Sheet1$` ORDER BY `Name`", "ORDER BY is not supported"},
        {u"select * from [Sheet1$] where [Name] = 'x'", "WHERE is not supported"},
        {u"select * from \"Sheet1$\" group  by x;", "GROUP BY is not supported"},
        {u"select * from Sheet1$ ORDER BY 1", "ORDER BY is not supported"},
        {u"select * from 'My Sheet$' where 0 = 1", "WHERE is not supported"},
        {u"select * from [a$], [b$]", "a second table is not supported"},
        {u"select * from [a$] AS t", "AS is not supported"},
    };
    for (const auto& [statement, message] : cases) {
        try {
            parseSelect(statement);
            ADD_FAILURE() << utf16ToUtf8(statement) << " was accepted";
        } catch (const DriverError& e) {
            EXPECT_EQ(e.state(), State::SyntaxError) << utf16ToUtf8(statement);
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
    // A closing delimiter followed by anything else is part of the name.
    EXPECT_EQ(parseSelect(u"select * from [x] wherever$]").name, u"x] wherever");
    EXPECT_EQ(parseSelect(u"select * from ['My Sheet$'] ").name, u"My Sheet");
}

TEST(StatementParser, CellRangesWithinTheLimitsOfAWorksheet) {
    const auto r = parseCellRange(u"xfd1048576:a1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->firstRow, 0U);
    EXPECT_EQ(r->lastRow, 1048575U);
    EXPECT_EQ(r->lastCol, 16383U);
    EXPECT_TRUE(parseCellRange(u"B7"));
    EXPECT_TRUE(parseCellRange(u"IW1:IW65537"));  // beyond an .xls grid, within an .xlsx one
    for (const char16_t* bad :
         {u"A0", u"A1048577", u"XFE1", u"1A", u"A1:", u"AAAA1", u"A1:B2:C3", u"A-1"}) {
        EXPECT_FALSE(parseCellRange(bad)) << utf16ToUtf8(bad);
    }
}

TEST(Catalog, NamesAreQuotedUnlessLettersDigitsAndUnderscore) {
    EXPECT_EQ(catalogName({u"Sheet_1", TableKind::Worksheet, {}}), u"Sheet_1$");
    EXPECT_EQ(catalogName({u"Données", TableKind::Worksheet, {}}), u"Données$");
    EXPECT_EQ(catalogName({u"My Sheet", TableKind::Worksheet, {}}), u"'My Sheet$'");
    EXPECT_EQ(catalogName({u"Bob's", TableKind::Worksheet, {}}), u"'Bob''s$'");
    EXPECT_EQ(catalogName({u"Prices", TableKind::DefinedName, {}}), u"Prices");
    // Every quoted name parses back to the sheet.
    for (const char16_t* sheet : {u"My Sheet", u"Bob's", u"'lead", u"a$b", u"x]y"}) {
        const TableReference ref =
            parseSelect(u"select * from [" + catalogName({sheet, TableKind::Worksheet, {}}) + u"]");
        EXPECT_TRUE(ref.worksheet);
        EXPECT_EQ(ref.name, sheet);
    }
}

// A defined name of one sheet is listed qualified by that sheet, and the
// qualified name parses back to the sheet and the name.
TEST(Catalog, SheetScopedNamesAreQualifiedByTheirSheet) {
    EXPECT_EQ(catalogName({u"Prices", TableKind::DefinedName, u"Sheet1"}), u"Sheet1!Prices");
    EXPECT_EQ(catalogName({u"Prices", TableKind::DefinedName, u"Bob's Data"}),
              u"'Bob''s Data'!Prices");
    for (const char16_t* sheet : {u"Sheet1", u"Bob's Data", u"a!b", u"x]y"}) {
        const TableReference ref = parseSelect(
            u"select * from [" + catalogName({u"Prices", TableKind::DefinedName, sheet}) + u"]");
        EXPECT_FALSE(ref.worksheet);
        EXPECT_EQ(ref.name, u"Prices");
        EXPECT_EQ(ref.scope, sheet);
    }
    EXPECT_EQ(parseSelect(u"select * from [Prices]").scope, u"");
}

TEST(Catalog, SearchPatterns) {
    EXPECT_TRUE(matchesPattern(u"Sheet1$", u"%"));
    EXPECT_TRUE(matchesPattern(u"Sheet1$", u"s%1_"));
    EXPECT_TRUE(matchesPattern(u"ÉTÉ$", u"été%"));
    EXPECT_TRUE(matchesPattern(u"a_b", u"a\\_b"));
    EXPECT_FALSE(matchesPattern(u"axb", u"a\\_b"));
    EXPECT_TRUE(matchesPattern(u"a%b", u"a\\%b"));
    EXPECT_FALSE(matchesPattern(u"aXXb", u"a\\%b"));
    EXPECT_TRUE(matchesPattern(u"abcabd", u"%ab_"));
    EXPECT_FALSE(matchesPattern(u"", u"_"));
    EXPECT_TRUE(matchesPattern(u"", u"%%"));
    EXPECT_FALSE(matchesPattern(u"Sheet1$", u"Sheet"));
}

TEST(ResultSet, ColumnNamesFillBlanksAndNumberRepeats) {
    const std::vector<std::optional<std::u16string>> headers{u"Qty", u"QTY", std::nullopt, u"F3",
                                                             u"Qty", u"",    u"qty1"};
    EXPECT_EQ(columnNames(headers), (std::vector<std::u16string>{u"Qty", u"QTY1", u"F3", u"F31",
                                                                 u"Qty2", u"F6", u"qty11"}));
    // Names are cut to 32,766 characters; the number of a repeat takes the
    // place of the last ones.
    const std::u16string longHeader(40000, u'q');
    const auto cut = columnNames({longHeader, longHeader + u"z"});
    EXPECT_EQ(cut[0], std::u16string(32766, u'q'));
    EXPECT_EQ(cut[1], std::u16string(32765, u'q') + u"1");
}

TEST(Text, OutputBuffersCutAtCharacterBoundariesAndReportTheWholeLength) {
    const std::u16string text = u"a😀b";  // a surrogate pair in the middle
    char16_t wide[3] = {};
    Written w = writeText(text, TextBuffer{wide, 3, Encoding::Utf16, false});
    EXPECT_TRUE(w.truncated);
    EXPECT_EQ(w.length, 4);
    EXPECT_EQ(std::u16string(wide), u"a");  // not half of the pair
    char narrow[4] = {};
    w = writeText(text, TextBuffer{narrow, 4, Encoding::Utf8, true});
    EXPECT_EQ(w.length, 6);
    EXPECT_STREQ(narrow, "a");
    w = writeText(text, TextBuffer{nullptr, 0, Encoding::Utf8, false});
    EXPECT_FALSE(w.truncated);  // a length query is not a truncation
    EXPECT_EQ(utf8ToUtf16("\xff"
                          "a\xe2\x82"),
              u"\xfffd"
              u"a\xfffd");
}

// What a message quotes: control characters escaped, one form each; a long
// text keeps its head and tail around an ellipsis, never splitting a
// character or an escape, within the limit in UTF-8 bytes.
TEST(Text, EchoedNamesAreEscapedAndShortenedInTheMiddle) {
    EXPECT_EQ(echo(u"a\r\nb\tc\x01\x7f\x85\u2028 d\\n"), "a\\r\\nb\\tc\\x01\\x7F\\x85\\u2028 d\\n");
    EXPECT_EQ(echo(u"abcdefghij", 10), "abcdefghij");
    EXPECT_EQ(echo(u"abcdefghijk", 10), "abc\u2026hijk");  // 3 + 3 + 4 bytes
    // A pair, a three-byte character and an escape are kept whole or left out.
    EXPECT_EQ(echo(u"😀😀😀😀😀😀", 15), "😀\u2026😀😀");
    EXPECT_EQ(echo(u"\r\r\r\r\r\r", 9), "\\r\u2026\\r\\r");
    const std::string big = echo(std::u16string(100000, u'\u00e9'), 4096);
    EXPECT_LE(big.size(), 4096u);
    EXPECT_GT(big.size(), 4090u);
    EXPECT_EQ(utf8ToUtf16(big).substr(0, 3), u"ééé");

    EXPECT_EQ(prefixWithin(u"a😀b", 2), u"a");   // the pair does not fit in 2 units
    EXPECT_EQ(prefixWithin(u"ééé", 5), u"éé");  // 6 bytes do not fit in 5
    EXPECT_EQ(prefixWithin(u"abc", 32766), u"abc");
}

TEST(Conversion, BinaryPiecesAndFixedTypesOnce) {
    const std::u16string value = u"12";
    std::string scratch;
    char bytes[3];
    SQLLEN ind = 0;
    Piece piece;
    const Target binary{SQL_C_BINARY, bytes, sizeof bytes, &ind};
    EXPECT_EQ(convert(value, binary, piece, scratch), Converted::Truncated);
    EXPECT_EQ(ind, 4);
    EXPECT_EQ(convert(value, binary, piece, scratch), Converted::Ok);
    EXPECT_EQ(ind, 1);
    EXPECT_EQ(convert(value, binary, piece, scratch), Converted::NoData);

    SQLSMALLINT small = 0;
    Piece once;
    EXPECT_EQ(convert(u"-32768", Target{SQL_C_SSHORT, &small, 0, &ind}, once, scratch),
              Converted::Ok);
    EXPECT_EQ(small, -32768);
    Piece overflow;
    EXPECT_EQ(failureOf([&] {
                  convert(u"32768", Target{SQL_C_SSHORT, &small, 0, &ind}, overflow, scratch);
              }),
              State::OutOfRange);
    EXPECT_EQ(failureOf([] { fixedSize(SQL_C_GUID); }), State::InvalidBufferType);
}

}  // namespace
}  // namespace xlsodbc

// The engine writes numbers as printf's %.15G does (zero as "0"), through a
// shortcut when the shortest digits are few: both ways must agree on
// fractions, powers of ten at the form's edges and arbitrary bit patterns.
TEST(NumberText, FifteenSignificantDigitsAsPrintfWritesThem) {
    std::vector<double> values = {0.1 + 0.2,
                                  1e15,
                                  999999999999999.0,
                                  1e15 + 1,
                                  123456.789,
                                  -0.0001,
                                  0.0001,
                                  0.00012345,
                                  1e-5,
                                  1e100,
                                  1.5e-300,
                                  1e21,
                                  2.5,
                                  -1234.5678,
                                  1.0 / 3,
                                  5e-324,
                                  1.7976931348623157e308};
    std::mt19937_64 random(24);
    for (int i = 0; i < 200000; ++i) {
        values.push_back(static_cast<double>(random() % 2000000) / 7);
        values.push_back(static_cast<double>(random() % 100000) / 1000 * std::pow(10, i % 40 - 20));
        const double bits = std::bit_cast<double>(random());
        if (std::isfinite(bits)) {
            values.push_back(bits);
        }
    }
    for (const double v : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15G", v);
        const std::u16string text = sql::numberText(v);
        ASSERT_EQ(std::string(text.begin(), text.end()), v == 0 ? "0" : expected) << v;
    }
}
