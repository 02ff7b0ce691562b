// The number-format engine, feature by feature. Where a case's expectation
// comes from a workbook whose sheet the spreadsheet itself saved as text
// (the corpus's Excel exports), the test says which; the rest are the
// spreadsheet's documented behaviour for its built-in formats.
#include <gtest/gtest.h>

#include <string>

#include "numfmt/numfmt.h"

namespace {

std::string show(std::u16string_view code, double value, bool date1904 = false) {
    const std::u16string text = numfmt::Format(code).apply(value, date1904);
    std::string out;
    for (const char16_t c : text) {
        // The cases are ASCII but for a few symbols, shown as '~'.
        out.push_back(c < 128 ? static_cast<char>(c) : '~');
    }
    return out;
}

std::string general(double v) {
    std::u16string text;
    numfmt::general(v, text);
    return {text.begin(), text.end()};
}

const std::string kHashes(255, '#');

// LONumbers.xls and its export: the nine values of every row.
constexpr double kRow[] = {1,        -1.2,     12.3,       -12.34,    123.45,
                           -123.456, 1234.567, -1234.5678, 12345.6789};

TEST(General, FitsElevenCharactersAsExported) {
    EXPECT_EQ(general(12345.6789), "12345.6789");
    EXPECT_EQ(general(-1234.5678), "-1234.5678");
    EXPECT_EQ(general(0.0802139037433155), "0.080213904");  // Excel's export of 15/187
    EXPECT_EQ(general(1.23456789012e22), "1.23457E+22");    // xlsx-stream-d-date-cell export
    EXPECT_EQ(general(0.1 + 0.2), "0.3");
    EXPECT_EQ(general(1.0 / 3), "0.333333333");
    EXPECT_EQ(general(-2.0 / 3), "-0.666666667");
    EXPECT_EQ(general(12345678901), "12345678901");
    EXPECT_EQ(general(123456789012), "1.23457E+11");
    EXPECT_EQ(general(0.00001), "0.00001");  // the format tables: fixed while no digit is lost
    EXPECT_EQ(general(0.00001234567), "1.23457E-05");
    EXPECT_EQ(general(0.0001234), "0.0001234");
    EXPECT_EQ(general(9.99999999999), "10");
    EXPECT_EQ(general(0), "0");
    EXPECT_EQ(general(1e100), "1E+100");
    EXPECT_EQ(show(u"GENERAL", -123.456), "-123.456");
    EXPECT_EQ(show(u"General\" kg\"", 2.5), "2.5 kg");
}

TEST(Digits, PlaceholdersThousandsAndScaling) {
    // LONumbers export: [GREEN]#,### [MAGENTA]0.00 [RED]#.## [WHITE]0.0
    const char* green[] = {"1", "-1", "12", "-12", "123", "-123", "1,235", "-1,235", "12,346"};
    const char* magenta[] = {"1.00",    "-1.20",   "12.30",    "-12.34",  "123.45",
                             "-123.46", "1234.57", "-1234.57", "12345.68"};
    const char* red[] = {"1.",      "-1.2",    "12.3",     "-12.34",  "123.45",
                         "-123.46", "1234.57", "-1234.57", "12345.68"};
    for (size_t i = 0; i < std::size(kRow); ++i) {
        EXPECT_EQ(show(u"[GREEN]#,###", kRow[i]), green[i]);
        EXPECT_EQ(show(u"[MAGENTA]0.00", kRow[i]), magenta[i]);
        EXPECT_EQ(show(u"[RED]#.##", kRow[i]), red[i]);
    }
    EXPECT_EQ(show(u"00000", 2134), "02134");  // a ZIP code
    EXPECT_EQ(show(u"000-00-0000", 123456789), "123-45-6789");
    EXPECT_EQ(show(u"#,##0.00", 1234.5), "1,234.50");
    EXPECT_EQ(show(u"#,##0", 1234567.89), "1,234,568");
    EXPECT_EQ(show(u"#,##0,", 1234567), "1,235");
    EXPECT_EQ(show(u"0.0,,\"M\"", 12345678), "12.3M");
    EXPECT_EQ(show(u"???.???", 1.5), "  1.5  ");
    EXPECT_EQ(show(u"#", 0), "");
    EXPECT_EQ(show(u"0.00", 0.1 + 0.2), "0.30");
    EXPECT_EQ(show(u"0", 2.5), "3");
}

TEST(Digits, PercentAndScientific) {
    EXPECT_EQ(show(u"0%", 0.125), "13%");
    EXPECT_EQ(show(u"0.0%", 0.125), "12.5%");
    EXPECT_EQ(show(u"0.00E+00", 12345), "1.23E+04");
    EXPECT_EQ(show(u"0.00E+00", 0.000123), "1.23E-04");
    EXPECT_EQ(show(u"0.00E-00", 12345), "1.23E04");
    EXPECT_EQ(show(u"##0.0E+0", 12345), "12.3E+3");
    EXPECT_EQ(show(u"##0.0E+0", 1234567), "1.2E+6");
    EXPECT_EQ(show(u"0.00E+00", 0), "0.00E+00");
    EXPECT_EQ(show(u"0.00E+00", 9.999), "1.00E+01");
}

TEST(Sections, SignsConditionsAndColours) {
    // Russian numfmt workbook, its export: "#,##0.00_);(#,##0.00)" pads with a space
    EXPECT_EQ(show(u"#,##0.00_);(#,##0.00)", 1234567.89), "1,234,567.89 ");
    EXPECT_EQ(show(u"#,##0.00_);[Red](#,##0.00)", -1234.5), "(1,234.50)");
    EXPECT_EQ(show(u"#,##0_);(#,##0)", 1234567.89), "1,234,568 ");
    EXPECT_EQ(show(u"0;-0;\"zero\"", 0), "zero");
    EXPECT_EQ(show(u"0;\"minus \"0", -5), "minus 5");
    EXPECT_EQ(show(u"0.0;;", -5), "");
    EXPECT_EQ(show(u"[>=100]\"big\";[<0]\"neg\";0.0", 150), "big");
    EXPECT_EQ(show(u"[>=100]\"big\";[<0]\"neg\";0.0", -3), "neg");
    EXPECT_EQ(show(u"[>=100]\"big\";[<0]\"neg\";0.0", 7), "7.0");
    EXPECT_EQ(show(u"[Blue]0;[Red]-0", -4), "-4");
    EXPECT_EQ(show(u"0;0;0;@", -4), "4");
    EXPECT_EQ(show(u"@", 12.5), "12.5");  // text-only formats show numbers in General
    // built-in 43: accounting, "-" for zero
    EXPECT_EQ(show(numfmt::builtinCode(43), 1234.5), " 1,234.50 ");
    EXPECT_EQ(show(numfmt::builtinCode(43), 0), " -   ");
    EXPECT_EQ(show(numfmt::builtinCode(43), -2), " (2.00)");
    EXPECT_EQ(show(numfmt::builtinCode(7), 1234), "$1,234.00 ");
}

TEST(Literals, QuotesEscapesPaddingFillAndLocales) {
    // number_format_entities export
    EXPECT_EQ(show(u"[>=100000]0.000\\ \\<;[Red]0.000\\ \\>", 12345.6789), "12345.679 >");
    EXPECT_EQ(
        show(u"[>=100000]0.000\\ \\\";[Red]0.000\\ \\<\\ \\>\\ \\\"\\ \\&\\ \\'\\ ", 12345.6789),
        "12345.679 < > \" & ' ");
    EXPECT_EQ(show(u"\\$0.00", 3), "$3.00");
    EXPECT_EQ(show(u"_(0_)", 3), " 3 ");
    EXPECT_EQ(show(u"*-0", 3), "3");
    EXPECT_EQ(show(u"[$-409]0.0", 3), "3.0");
    EXPECT_EQ(show(u"[$EUR-407] #,##0.00", 1234.5), "EUR 1,234.50");
    EXPECT_EQ(show(u"[$\u20ac-407] #,##0.00", 2), "~ 2.00");
    EXPECT_EQ(show(u"#,##0\\ \"r.\"", 1234567.89), "1,234,568 r.");
}

TEST(Fractions, UpToAndFixedDenominators) {
    EXPECT_EQ(show(u"# ?/?", 1.5), "1 1/2");
    EXPECT_EQ(show(u"# ?/?", 0.75), " 3/4");
    EXPECT_EQ(show(u"# ?\?/??", 3.14159265), "3  1/7 ");  // convergents only, as the tables show
    EXPECT_EQ(show(u"# ?\?/??", 0.3333333), "  1/3 ");
    EXPECT_EQ(show(u"?/?", 0.75), "3/4");
    EXPECT_EQ(show(u"?/?", 2.5), "5/2");
    EXPECT_EQ(show(u"# ?/8", 1.3), "1 2/8");
    EXPECT_EQ(show(u"# ?/?", 2), "2    ");
    EXPECT_EQ(show(u"# ?/?", -1.5), "-1 1/2");
    EXPECT_EQ(show(u"# ?/?", 0), "0");
}

TEST(Dates, TokensAsExported) {
    // LONumbers export, value 12345.6789 (1933-10-18 16:17:37)
    EXPECT_EQ(show(u"YY", 12345.6789), "33");
    EXPECT_EQ(show(u"YYYY", 12345.6789), "1933");
    EXPECT_EQ(show(u"YYM", 12345.6789), "3310");
    EXPECT_EQ(show(u"YYMMM", 12345.6789), "33Oct");
    EXPECT_EQ(show(u"YYMMMM", 12345.6789), "33October");
    EXPECT_EQ(show(u"YYMMMMM", 12345.6789), "33O");
    EXPECT_EQ(show(u"DDD", 12345.6789), "Wed");
    EXPECT_EQ(show(u"DDDD", 1), "Sunday");
    EXPECT_EQ(show(u"HHMM", 12345.6789), "1617");
    EXPECT_EQ(show(u"SS", 12345.6789), "37");
    EXPECT_EQ(show(u"AM/PM", 12345.6789), "PM");
    EXPECT_EQ(show(u"A/P", 12.3), "A");
    EXPECT_EQ(show(u"YY", 1), "00");
    // xlsx-stream-d-date-cell and write.xls exports: built-in 14
    EXPECT_EQ(show(numfmt::builtinCode(14), 41684), "2/14/14");
    EXPECT_EQ(show(u"d-mmm-yy", 45306), "15-Jan-24");
    EXPECT_EQ(show(u"h:mm AM/PM", 0.5729166667), "1:45 PM");
    EXPECT_EQ(show(u"yyyy-mm-dd hh:mm:ss", 45306.999999), "2024-01-16 00:00:00");
    EXPECT_EQ(show(u"hh:mm:ss.00", 0.5000001), "12:00:00.01");
    EXPECT_EQ(show(u"mm:ss.0", 0.00123), "01:46.3");
}

TEST(Dates, CalendarEdges) {
    EXPECT_EQ(show(u"yyyy-mm-dd", 60), "1900-02-29");
    EXPECT_EQ(show(u"yyyy-mm-dd", 59), "1900-02-28");
    EXPECT_EQ(show(u"yyyy-mm-dd", 61), "1900-03-01");
    EXPECT_EQ(show(u"m/d/yyyy", 0), "1/0/1900");
    EXPECT_EQ(show(u"yyyy-mm-dd", 0, true), "1904-01-01");
    EXPECT_EQ(show(u"yyyy-mm-dd dddd", 1462, true), "1908-01-02 Thursday");
    EXPECT_EQ(show(u"yyyy-mm-dd", 2958465), "9999-12-31");
    // what the export writes for a value no date can show
    EXPECT_EQ(show(u"yyyy-mm-dd", 2958466), kHashes);
    EXPECT_EQ(show(u"YY", -1.2), kHashes);  // LONumbers export
    EXPECT_EQ(show(u"H", -12.34), kHashes);
}

TEST(Dates, ElapsedAndMinutesByContext) {
    // LONumbers export: [H] [HH] [S] allow negatives, HH[M] is no format
    const char* hours[] = {"24",    "-28",   "295",    "-296",  "2962",
                           "-2962", "29629", "-29629", "296296"};
    const char* secs[] = {"86400",     "-103680",   "1062720",    "-1066176",  "10666080",
                          "-10666598", "106666589", "-106666658", "1066666657"};
    for (size_t i = 0; i < std::size(kRow); ++i) {
        EXPECT_EQ(show(u"[H]", kRow[i]), hours[i]);
        EXPECT_EQ(show(u"[SS]", kRow[i]), secs[i]);
        EXPECT_EQ(show(u"HH[M]", kRow[i]), general(kRow[i]));
    }
    EXPECT_EQ(show(u"[h]:mm", 1.5), "36:00");
    EXPECT_EQ(show(u"[mm]:ss", 0.05), "72:00");
    EXPECT_EQ(show(u"h:mm", 0.75), "18:00");              // minutes after hours
    EXPECT_EQ(show(u"mm:ss", 0.0125), "18:00");           // minutes before seconds
    EXPECT_EQ(show(u"m/d h\"h\"", 45306.5), "1/15 12h");  // months elsewhere
}

TEST(Builtins, IdsWithoutCodes) {
    EXPECT_EQ(numfmt::builtinCode(0), u"General");
    EXPECT_EQ(numfmt::builtinCode(22), u"m/d/yy h:mm");
    EXPECT_EQ(numfmt::builtinCode(49), u"@");
    EXPECT_TRUE(numfmt::builtinCode(30).empty());
    EXPECT_TRUE(numfmt::builtinCode(164).empty());
    EXPECT_TRUE(numfmt::Format(numfmt::builtinCode(22)).isDateTime());
    EXPECT_FALSE(numfmt::Format(numfmt::builtinCode(11)).isDateTime());
}

TEST(Robustness, MalformedCodesShowSomething) {
    EXPECT_EQ(show(u"\"unclosed", 1), "unclosed");
    EXPECT_EQ(show(u"[Red", 1), "");
    EXPECT_EQ(show(u"0;0;0;0;0;0", -1), "1");
    EXPECT_EQ(show(u"0", 1e300).size(), 301U);
    EXPECT_EQ(show(u"[h]", -1e300), kHashes);
    EXPECT_EQ(show(u"0", std::numeric_limits<double>::infinity()), "#NUM!");
}

}  // namespace
