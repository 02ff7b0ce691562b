// The reader on workbooks written by real programs (xlwt, LibreOffice,
// Gnumeric; made by tools/make_xls_fixtures.py and committed), and on
// malformed ones derived from them by byte patches, each named after its
// defect (tests/xls/make_malformed_fixtures.py).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <future>

#include "tests/xls/test_util.h"

namespace {

using namespace xls_test;
const std::filesystem::path kFixtures = XLS_FIXTURE_DIR;

xls::Workbook openFixture(const std::string& name) {
    return xls::Workbook::open(kFixtures / name);
}

size_t sheetIndex(const xls::Workbook& book, std::u16string_view name) {
    for (size_t i = 0; i < book.sheets().size(); ++i) {
        if (book.sheets()[i].name == name) {
            return i;
        }
    }
    ADD_FAILURE() << "no sheet " << utf8(name);
    return 0;
}

// The text in column `col` of the row whose first cell reads `label`.
std::optional<std::string> caseValue(const xls::Sheet& sheet, const std::string& label,
                                     uint16_t col = 1) {
    const auto used = sheet.usedRange();
    for (uint32_t r = used->firstRow; r <= used->lastRow; ++r) {
        if (cellText(sheet, r, 0) == label) {
            return cellText(sheet, r, col);
        }
    }
    ADD_FAILURE() << "no case " << label;
    return std::nullopt;
}

struct Expectation {
    const char* file;
    const char16_t* sheet;
    const char* label;
    const char* text;  // nullptr: an empty cell
};

class CaseValues : public testing::TestWithParam<Expectation> {};

TEST_P(CaseValues, ReadAsTheContractRenders) {
    const Expectation& e = GetParam();
    const xls::Workbook book = openFixture(e.file);
    const xls::Sheet sheet = book.sheet(sheetIndex(book, e.sheet));
    const auto got = caseValue(sheet, e.label);
    if (e.text) {
        EXPECT_EQ(got, std::optional<std::string>(e.text)) << e.file << " " << e.label;
    } else {
        EXPECT_EQ(got, std::nullopt) << e.file << " " << e.label;
    }
}

// Numbers with 15 significant digits, RK forms, booleans and error codes.
INSTANTIATE_TEST_SUITE_P(
    Numbers, CaseValues,
    testing::Values(Expectation{"xlwt_types.xls", u"types", "int_rk_max", "536870911"},
                    Expectation{"xlwt_types.xls", u"types", "int_rk_min", "-536870912"},
                    Expectation{"xlwt_types.xls", u"types", "int_over_rk", "536870912"},
                    Expectation{"xlwt_types.xls", u"types", "int_2p53", "9.00719925474099E+15"},
                    Expectation{"xlwt_types.xls", u"types", "float_rk100", "1.23"},
                    Expectation{"xlwt_types.xls", u"types", "float_third", "0.333333333333333"},
                    Expectation{"xlwt_types.xls", u"types", "float_tiny", "1E-300"},
                    Expectation{"xlwt_types.xls", u"types", "float_huge", "1.79769313486232E+308"},
                    Expectation{"xlwt_types.xls", u"types", "float_neg_zero", "0"},
                    Expectation{"xlwt_types.xls", u"types", "float_17_sig", "0.3"},
                    Expectation{"xlwt_types.xls", u"types", "bool_true", "TRUE"},
                    Expectation{"xlwt_types.xls", u"types", "error_const #DIV/0!", "#DIV/0!"},
                    Expectation{"xlwt_types.xls", u"types", "error_const #N/A", "#N/A"},
                    Expectation{"xlwt_types.xls", u"types", "styled_blank", nullptr}));

// Date and time kinds from built-in and custom formats, the 1900 quirks,
// values outside the calendar, and formats that only look like dates.
INSTANTIATE_TEST_SUITE_P(
    Dates, CaseValues,
    testing::Values(Expectation{"xlwt_types.xls", u"dates", "date_builtin14", "2024-02-29"},
                    Expectation{"xlwt_types.xls", u"dates", "date_custom_long", "2000-01-01"},
                    Expectation{"xlwt_types.xls", u"dates", "datetime_builtin22",
                                "2024-02-29 13:45:30"},
                    Expectation{"xlwt_types.xls", u"dates", "datetime_ms", "2024-02-29 13:45:30"},
                    Expectation{"xlwt_types.xls", u"dates", "time_builtin18", "13:45:30"},
                    Expectation{"xlwt_types.xls", u"dates", "time_builtin45", "00:45:30"},
                    Expectation{"xlwt_types.xls", u"dates", "time_literal_h", "08:05:00"},
                    Expectation{"xlwt_types.xls", u"dates", "duration_custom", "06:00:00"},
                    Expectation{"xlwt_types.xls", u"dates", "serial_0", "00:00:00"},
                    Expectation{"xlwt_types.xls", u"dates", "serial_59", "1900-02-28"},
                    Expectation{"xlwt_types.xls", u"dates", "serial_60_fake_leap", "1900-02-29"},
                    Expectation{"xlwt_types.xls", u"dates", "serial_61", "1900-03-01"},
                    Expectation{"xlwt_types.xls", u"dates", "serial_max", "9999-12-31"},
                    Expectation{"xlwt_types.xls", u"dates", "serial_neg", "-1"},
                    Expectation{"xlwt_types.xls", u"dates", "near_midnight", "2024-03-01 00:00:00"},
                    Expectation{"xlwt_types.xls", u"dates", "not_date_quoted_d", "7"},
                    Expectation{"xlwt_types.xls", u"dates", "not_date_color", "45351"},
                    Expectation{"xlwt_types.xls", u"dates", "not_date_euro", "1234.5"},
                    Expectation{"xlwt_types.xls", u"dates", "not_date_sci", "45351"},
                    Expectation{"lo_features.xls", u"Dates", "d_9999_12_31", "9999-12-31"},
                    Expectation{"lo_1904.xls", u"Dates", "date_iso", "2024-02-29"},
                    Expectation{"xlwt_1904.xls", u"dates1904", "date_builtin14", "2024-02-29"}));

// Formula results from their cached values: STRING records (also long
// ones continued, and non-BMP text), booleans, errors, an empty string.
INSTANTIATE_TEST_SUITE_P(
    Formulas, CaseValues,
    testing::Values(Expectation{"lo_features.xls", u"Formulas", "num", "3"},
                    Expectation{"lo_features.xls", u"Formulas", "str", "abcd"},
                    Expectation{"lo_features.xls", u"Formulas", "str_unicode", "日本😀"},
                    Expectation{"lo_features.xls", u"Formulas", "str_empty", nullptr},
                    Expectation{"lo_features.xls", u"Formulas", "bool_false", "FALSE"},
                    Expectation{"lo_features.xls", u"Formulas", "err_name", "#NAME?"},
                    Expectation{"lo_features.xls", u"Formulas", "datetime_result",
                                "2024-02-29 13:45:30"},
                    Expectation{"gnm_features.xls", u"Formulas", "str", "abcd"},
                    Expectation{"gnm_features.xls", u"Formulas", "err_null", "#NULL!"},
                    Expectation{"gnm_features_biff5.xls", u"Formulas", "str", "abcd"},
                    Expectation{"xlwt_types.xls", u"formulas_nocache", "1+2", nullptr}));

// Text as stored: line breaks, tabs, code pages, astral characters.
INSTANTIATE_TEST_SUITE_P(
    Text, CaseValues,
    testing::Values(
        Expectation{"xlwt_types.xls", u"types", "newline_crlf", "line1\r\nline2"},
        Expectation{"xlwt_types.xls", u"types", "lead_trail_space", "  padded  "},
        Expectation{"xlwt_types.xls", u"types", "cp1252_only", "€ „quotes“ – — … ™ Œ œ Ž"},
        Expectation{"xlwt_types.xls", u"types", "emoji_astral", "😀 👍🏽 𝐀 🇩🇪"},
        Expectation{"xlwt_types.xls", u"types", "rich_text", "plain bold plain"},
        Expectation{"lo_features.xls", u"Constants", "cjk", "日本語テキスト 中文 한국어"},
        Expectation{"gnm_features_biff5.xls", u"Constants", "latin1", "Ünïcödé äöüß ÿ £ ¥ ©"},
        Expectation{"gnm_features_biff5.xls", u"Constants", "cp1252_only",
                    "€ „quotes“ – — … ™ Œ œ Ž"}));

// Every cell of two workbooks, compared in text form.
void expectSameSheet(const xls::Sheet& sa, const xls::Sheet& sb) {
    ASSERT_EQ(sa.usedRange(), sb.usedRange());
    ASSERT_EQ(sa.cellCount(), sb.cellCount());
    if (!sa.usedRange()) {
        return;
    }
    std::u16string ta, tb;
    for (uint32_t r = sa.usedRange()->firstRow; r <= sa.usedRange()->lastRow; ++r) {
        const auto ra = sa.row(r), rb = sb.row(r);
        ASSERT_EQ(ra.size(), rb.size());
        for (size_t i = 0; i < ra.size(); ++i) {
            sa.text(ra[i], ta);
            sb.text(rb[i], tb);
            EXPECT_EQ(utf8(ta), utf8(tb)) << "row " << r;
        }
    }
}

void expectSameCells(const xls::Workbook& a, const xls::Workbook& b) {
    ASSERT_EQ(a.sheets().size(), b.sheets().size());
    for (size_t s = 0; s < a.sheets().size(); ++s) {
        expectSameSheet(a.sheet(s), b.sheet(s));
    }
}

TEST(Encryption, DefaultPasswordWorkbookReadsLikeItsPlainOriginal) {
    expectSameCells(openFixture("lo_features.xls"), openFixture("lo_encrypted_velvet.xls"));
}

TEST(Encryption, RealPasswordIsRefusedAsPasswordProtected) {
    try {
        (void)openFixture("lo_encrypted.xls");
        FAIL() << "opened";
    } catch (const xls::Error& e) {
        EXPECT_EQ(e.kind(), xls::ErrorKind::Encrypted);
        EXPECT_NE(std::string(e.what()).find("password-protected"), std::string::npos);
    }
}

TEST(Container, DualStreamWorkbookIsReadFromItsBiff8Stream) {
    const xls::Workbook dual = openFixture("gnm_dual_stream.xls");
    EXPECT_EQ(dual.biffVersion(), 8);
    expectSameCells(openFixture("gnm_features.xls"), dual);
}

TEST(Container, WorkbookStreamInTheMiniStreamIsRead) {
    const xls::Workbook book = openFixture("opx_via_lo.xls");
    const xls::Sheet sheet = book.sheet(0);
    EXPECT_EQ(caseValue(sheet, "datetime"), "2024-02-29 13:45:30");
    EXPECT_EQ(caseValue(sheet, "bool"), "TRUE");
}

TEST(Sheets, NamesTypesAndOffsetsComeFromTheWorkbook) {
    const xls::Workbook book = openFixture("xlwt_sheets.xls");
    std::vector<std::string> names;
    for (const auto& s : book.sheets()) {
        names.push_back(utf8(s.name));
        EXPECT_EQ(s.type, xls::SheetType::Worksheet);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Plain", "With Space", "O'Quote", "Dollar$Sign",
                                               "Unicode ☃ 名前", "Empty", "Offset", "Merged",
                                               std::string(31, 'x')}));
    EXPECT_FALSE(book.sheet(sheetIndex(book, u"Empty")).usedRange());
    const auto offset = book.sheet(sheetIndex(book, u"Offset")).usedRange();
    ASSERT_TRUE(offset);
    EXPECT_EQ(offset->firstRow, 5U);
    EXPECT_EQ(offset->firstCol, 3U);
}

TEST(Sheets, MergedAreaKeepsOnlyItsTopLeftValue) {
    const xls::Workbook book = openFixture("xlwt_sheets.xls");
    const xls::Sheet sheet = book.sheet(sheetIndex(book, u"Merged"));
    ASSERT_FALSE(sheet.mergedRanges().empty());
    for (const xls::Range& m : sheet.mergedRanges()) {
        EXPECT_TRUE(findCell(sheet, m.firstRow, m.firstCol)) << "top-left of a merged area";
        for (uint32_t r = m.firstRow; r <= m.lastRow; ++r) {
            for (uint32_t c = m.firstCol; c <= m.lastCol; ++c) {
                if (r != m.firstRow || c != m.firstCol) {
                    EXPECT_FALSE(findCell(sheet, r, static_cast<uint16_t>(c)));
                }
            }
        }
    }
}

TEST(Sheets, SparseSheetStoresTwoCellsNotTheWholeGrid) {
    const xls::Workbook book = openFixture("xlwt_sparse.xls");
    const xls::Sheet sheet = book.sheet(0);
    EXPECT_EQ(sheet.cellCount(), 2U);
    EXPECT_EQ(sheet.usedRange(), (xls::Range{0, 65535, 0, 255}));
    EXPECT_EQ(cellText(sheet, 65535, 255), "IV65536");
    EXPECT_TRUE(sheet.row(30000).empty());
}

// The process's virtual size, from /proc/self/statm: a reservation shows
// there even while none of its pages has been touched.
size_t virtualBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(Sheets, DimensionOfTheWholeGridReservesNoMoreThanTheBytesHold) {
    // xlwt's DIMENSION claims A1:IV65536 (16.7 million cells, 268 MB of
    // cells) for a sheet of two cells in a 4 KB stream.
    const xls::Workbook book = openFixture("xlwt_sparse.xls");
    const size_t before = virtualBytes();
    const xls::Sheet sheet = book.sheet(0);
    EXPECT_EQ(sheet.cellCount(), 2U);
    EXPECT_LT(virtualBytes() - before, size_t{4} << 20);
}

// All of a workbook's cells as text, sheet by sheet.
std::vector<std::string> allText(const xls::Workbook& book) {
    std::vector<std::string> out;
    std::u16string text;
    for (size_t i = 0; i < book.sheets().size(); ++i) {
        const xls::Sheet sheet = book.sheet(i);
        for (uint32_t r = 0; sheet.usedRange() && r <= sheet.usedRange()->lastRow; ++r) {
            for (const xls::Cell& c : sheet.row(r)) {
                sheet.text(c, text);
                out.push_back(utf8(text));
            }
        }
    }
    return out;
}

TEST(Sheets, ThreadsReadingOneWorkbookAtOnceSeeTheSameCells) {
    // Each read gives the file pages of its records back while the other
    // thread may be reading the same pages.
    const xls::Workbook book = openFixture("lo_features.xls");
    const std::vector<std::string> expected = allText(book);
    ASSERT_FALSE(expected.empty());
    auto readMany = [&book] {
        std::vector<std::string> last;
        for (int i = 0; i < 50; ++i) {
            last = allText(book);
        }
        return last;
    };
    auto other = std::async(std::launch::async, readMany);
    EXPECT_EQ(readMany(), expected);
    EXPECT_EQ(other.get(), expected);
}

TEST(SharedStrings, StringsSplitAcrossContinueRecordsReadWhole) {
    // xlwt_sst_long: strings of 20,000 8-bit, 9,000 CJK and 32,767 chars.
    const xls::Workbook book = openFixture("xlwt_sst_long.xls");
    const xls::Sheet sheet = book.sheet(0);
    size_t longest = 0;
    for (uint32_t r = 0; r <= sheet.usedRange()->lastRow; ++r) {
        for (const xls::Cell& c : sheet.row(r)) {
            longest = std::max(longest, sheet.string(c).size());
        }
    }
    EXPECT_EQ(longest, 32767U);
}

TEST(SharedStrings, PiecesThatSwitchBetween8BitAndUtf16JoinUp) {
    const xls::Workbook book = openFixture("xlwt_sst_mixedflag.xls");
    const xls::Sheet sheet = book.sheet(0);
    ASSERT_TRUE(sheet.usedRange());
    for (uint32_t r = 0; r <= sheet.usedRange()->lastRow; ++r) {
        for (const xls::Cell& c : sheet.row(r)) {
            const std::u16string_view s = sheet.string(c);
            // every piece's characters survive: no stray option bytes
            EXPECT_EQ(s.find(u'\x01'), std::u16string_view::npos) << "row " << r;
            EXPECT_EQ(s.find(u'\0'), std::u16string_view::npos) << "row " << r;
        }
    }
}

TEST(EmptyStrings, StoredEmptyStringIsAnEmptyCellThatDoesNotWidenTheRange) {
    // An empty SST string (xlwt) and an empty text (LibreOffice), each in a
    // column that holds nothing else.
    const xls::Sheet sst = openFixture("xlwt_sst_empty.xls").sheet(0);
    EXPECT_EQ(findCell(sst, 0, 1), nullptr);
    EXPECT_EQ(cellText(sst, 1, 1), "1");
    const xls::Sheet lo = openFixture("lo_empty_text.xls").sheet(0);
    EXPECT_EQ(findCell(lo, 0, 1), nullptr);
    EXPECT_EQ(cellText(lo, 0, 2), "1");
    // Excel: "" in A1 beside FALSE in B1 (from calamine's test files).
    const xls::Sheet excel = openFixture("excel_empty_string.xls").sheet(0);
    EXPECT_EQ(excel.usedRange(), (xls::Range{0, 0, 1, 1}));
}

TEST(SharedStrings, WriterCountingCodePointsIsRefusedAsDamagedNotMisread) {
    // Gnumeric counts a split string's characters in code points; the
    // strings after it fall out of step and a LABELSST points past the end.
    const xls::Workbook book = openFixture("gnm_astral_malformed.xls");
    try {
        (void)book.sheet(sheetIndex(book, u"Strings"));
        FAIL() << "read";
    } catch (const xls::Error& e) {
        EXPECT_EQ(e.kind(), xls::ErrorKind::Damaged);
        EXPECT_NE(std::string(e.what()).find("LABELSST"), std::string::npos);
    }
}

struct Refusal {
    const char* file;
    xls::ErrorKind kind;
    const char* place;  // part of the message: the layer and where
    bool atSheet;       // refused when the sheet is read, not at open
};

class Malformed : public testing::TestWithParam<Refusal> {};

TEST_P(Malformed, IsRefusedWithTheLayerAndPlace) {
    const Refusal& e = GetParam();
    try {
        const xls::Workbook book = openFixture(std::string("malformed/") + e.file);
        ASSERT_TRUE(e.atSheet) << "opened";
        for (size_t i = 0; i < book.sheets().size(); ++i) {
            (void)book.sheet(i);
        }
        FAIL() << "every sheet read";
    } catch (const xls::Error& err) {
        EXPECT_EQ(err.kind(), e.kind) << err.what();
        EXPECT_NE(std::string(err.what()).find(e.place), std::string::npos) << err.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, Malformed,
    testing::Values(
        Refusal{"fat_chain_loops.xls", xls::ErrorKind::Damaged,
                "container: FAT chain of stream 'Workbook' loops", false},
        Refusal{"sector_index_out_of_range.xls", xls::ErrorKind::Damaged,
                "beyond the end of the file", false},
        Refusal{"file_truncated_in_workbook_stream.xls", xls::ErrorKind::Damaged,
                "container: ", false},
        Refusal{"stream_chain_cut_short.xls", xls::ErrorKind::Damaged, "records: ", false},
        Refusal{"record_longer_than_its_stream.xls", xls::ErrorKind::Damaged,
                "records: record 0xa at offset 0x2b31 is longer than its stream", true},
        // A BOF that declares 6 bytes and is followed by 8.
        Refusal{"biff4_worksheet.xls", xls::ErrorKind::Damaged,
                "records: record 0x0 at offset 0xa is longer than its stream", false},
        Refusal{"zip_container.xls", xls::ErrorKind::LooksLikeXlsx, ".xlsx", false},
        // An OpenDocument spreadsheet (calamine's single-empty.ods) named .xls.
        Refusal{"ods_named_xls.xls", xls::ErrorKind::LooksLikeOds, "OpenDocument", false}));

TEST(Tolerance, SstCountLargerThanTheDataReadsLikeTheOriginal) {
    expectSameCells(openFixture("xlwt_types.xls"),
                    openFixture("malformed/sst_count_larger_than_data.xls"));
}

TEST(Tolerance, StreamSectorsOutOfOrderReadLikeTheOriginal) {
    // Records cross from one run of sectors into the next, read from a file
    // and from bytes in memory alike.
    const char* scrambled = "malformed/stream_sectors_out_of_order.xls";
    expectSameCells(openFixture("xlwt_types.xls"), openFixture(scrambled));
    expectSameCells(openFixture("xlwt_types.xls"),
                    xls::Workbook::fromBytes(readBytes(kFixtures / scrambled)));
}

TEST(Tolerance, DimensionClaimingFourBillionRowsReadsLikeTheOriginal) {
    expectSameCells(openFixture("xlwt_types.xls"),
                    openFixture("malformed/dimension_claims_4g_rows.xls"));
}

TEST(Tolerance, StreamNameInCapitalsIsFound) {
    expectSameCells(openFixture("xlwt_types.xls"),
                    openFixture("malformed/stream_name_in_capitals.xls"));
}

// Excel 2.x-4.0 files (from the public test files of ExcelDataReader and
// SheetJS): one worksheet each, named after the file.
TEST(OldVersions, OneFileSavedAsBiff2Biff3AndBiff4ReadsTheSameInEach) {
    const xls::Workbook b2 = openFixture("biff2-4/as3xls_BIFF2.xls");
    EXPECT_EQ(b2.biffVersion(), 2);
    ASSERT_EQ(b2.sheets().size(), 1U);
    EXPECT_EQ(b2.sheets()[0].name, u"as3xls_BIFF2");
    EXPECT_TRUE(b2.date1904());
    const xls::Sheet sheet = b2.sheet(0);
    EXPECT_EQ(cellText(sheet, 1, 2), "2007-02-22");  // a date format, in the 1904 system
    EXPECT_EQ(cellText(sheet, 9, 2), "1385729.234");
    EXPECT_EQ(cellText(sheet, 3, 1), "you doing");
    for (const int version : {3, 4}) {
        const xls::Workbook book =
            openFixture("biff2-4/as3xls_BIFF" + std::to_string(version) + ".xls");
        EXPECT_EQ(book.biffVersion(), version);
        expectSameCells(b2, book);
    }
}

TEST(OldVersions, Biff4WorkbookListsItsSheetsEachReadLikeItsWorksheetFile) {
    // Assembled by the fixture script from two Excel 4.0 worksheet files.
    const xls::Workbook book = openFixture("malformed/biff4w_assembled_from_two_worksheets.xls");
    EXPECT_EQ(book.biffVersion(), 4);
    ASSERT_EQ(book.sheets().size(), 2U);
    EXPECT_EQ(book.sheets()[0].name, u"First");
    EXPECT_EQ(book.sheets()[1].name, u"Second");
    const char* sources[] = {"biff2-4/as3xls_BIFF4.xls", "biff2-4/CRLFX5_4.XLS"};
    for (size_t i = 0; i < 2; ++i) {
        expectSameSheet(openFixture(sources[i]).sheet(0), book.sheet(i));
    }
    EXPECT_EQ(cellText(book.sheet(0), 1, 2), "2007-02-22");  // the sheet's own 1904 system
}

TEST(OldVersions, Biff2FormatsAreNumberedInOrderOfAppearance) {
    // 64 FORMAT records, the 22nd to the 64th '"0" 0.00' to '"42" 0.00',
    // used by the cells of A1:A43: by their built-in numbers 21, 22, 27 and
    // 45 would be times and dates.
    const xls::Sheet sheet = openFixture("biff2-4/biff2_formats_in_order.xls").sheet(0);
    for (uint32_t r = 0; r < 64; ++r) {
        const xls::Cell* c = findCell(sheet, r, 0);
        ASSERT_TRUE(c) << r;
        EXPECT_EQ(c->type, xls::CellType::Number) << r;
    }
}

TEST(OldVersions, Biff2FormulaStringResultFollowsInItsOwnStringRecord) {
    const xls::Workbook book = openFixture("biff2-4/CRLFX5_2.XLS");
    EXPECT_EQ(book.sheets()[0].name, u"CRLFX5_2");
    EXPECT_EQ(cellText(book.sheet(0), 1, 1), "abc\r\ndef");
    // Without a file name, the sheet gets the reader's default name.
    const auto bytes = readBytes(kFixtures / "biff2-4/CRLFX5_2.XLS");
    EXPECT_EQ(xls::Workbook::fromBytes(bytes).sheets()[0].name, u"Sheet1");
}

// The writer's locale: the code page of 8-bit text and the meaning of the
// built-in formats that differ between countries' versions of Excel.
TEST(Locale, Excel95WithoutCodePageTakesItFromItsFontsCharacterSet) {
    const xls::Workbook patched = openFixture("malformed/excel95_russian_no_codepage.xls");
    expectSameCells(openFixture("excel95_russian.xls"), patched);
    EXPECT_EQ(cellText(patched.sheet(0), 3, 1), "1 234 567,89 \u0440.");
}

TEST(Locale, BuiltInFormat56IsADateInJapaneseExcelAndATimeInChineseExcel) {
    const xls::Sheet japanese = openFixture("excel2000_japanese.xls").sheet(0);
    const xls::Sheet chinese =
        openFixture("malformed/excel2000_japanese_country_china.xls").sheet(0);
    ASSERT_TRUE(findCell(japanese, 5, 2) && findCell(chinese, 5, 2));
    EXPECT_EQ(findCell(japanese, 5, 2)->type, xls::CellType::Date);
    EXPECT_EQ(cellText(japanese, 5, 2), "2009-07-01");
    EXPECT_EQ(findCell(chinese, 5, 2)->type, xls::CellType::Time);
    // 57 is a date in both.
    EXPECT_EQ(cellText(chinese, 4, 2), cellText(japanese, 4, 2));
}

// Inputs that once broke the reader (found by fuzzing), kept as they were
// found; the sanitizer builds replay them.
TEST(FuzzFindings, NameBeforeFilePassIsResolvedAfterTheStreamIsDecrypted) {
    // A NAME record, resolved once the globals end, and a FILEPASS after it
    // that replaces the stream's bytes with their decrypted copy.
    const xls::Workbook book = openFixture("fuzz-findings/name-before-filepass.xls");
    EXPECT_EQ(book.biffVersion(), 5);
    EXPECT_TRUE(book.names().empty());
}

TEST(Open, MissingFileAndFolderAreIoErrorsWithTheReason) {
    for (const char* path : {"/nonexistent/book.xls", "/tmp"}) {
        try {
            (void)xls::Workbook::open(path);
            FAIL() << path;
        } catch (const xls::Error& e) {
            EXPECT_EQ(e.kind(), xls::ErrorKind::Io);
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
        }
    }
}

TEST(Open, FileCutShortAfterOpenStillReadsTheSnapshot) {
    // Sheets are read from the bytes taken at open time: a file cut short
    // meanwhile (a copy over it, say) neither faults nor changes the cells.
    const auto copy = std::filesystem::temp_directory_path() /
                      ("xls_cut_short_" + std::to_string(::getpid()) + ".xls");
    std::filesystem::copy_file(kFixtures / "xlwt_types.xls", copy,
                               std::filesystem::copy_options::overwrite_existing);
    const xls::Workbook book = xls::Workbook::open(copy);
    std::filesystem::resize_file(copy, 512);
    expectSameCells(openFixture("xlwt_types.xls"), book);
    std::filesystem::remove(copy);
}

TEST(Open, AFifoIsRefusedWithoutWaitingForAWriter) {
    const auto fifo = std::filesystem::temp_directory_path() /
                      ("xls_fifo_" + std::to_string(::getpid()) + ".xls");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    try {
        (void)xls::Workbook::open(fifo);
        ADD_FAILURE();
    } catch (const xls::Error& e) {
        EXPECT_EQ(e.kind(), xls::ErrorKind::Io);
        EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
    }
    std::filesystem::remove(fifo);
}

TEST(Open, TextFileIsNotAWorkbook) {
    try {
        (void)xls::Workbook::fromBytes({'a', ',', 'b', '\n', '1', ',', '2', '\n', '3', '4'});
        FAIL();
    } catch (const xls::Error& e) {
        EXPECT_EQ(e.kind(), xls::ErrorKind::NotWorkbook);
    }
}

// Gigabytes that are no workbook, or that follow a workbook's container,
// are never read: the head decides (a sparse file, so the test costs no
// disk). Reading them whole took seconds and their size in memory.
TEST(Open, OnlyTheBytesAContainerCanUseAreRead) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("xls_huge_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    constexpr std::uintmax_t kHuge = std::uintmax_t{3} << 30;
    std::ofstream(dir / "notes.xls") << "not a workbook, only its first line";
    std::filesystem::resize_file(dir / "notes.xls", kHuge);
    std::filesystem::copy_file(kFixtures / "xlwt_types.xls", dir / "tail.xls");
    std::filesystem::resize_file(dir / "tail.xls", kHuge);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    try {
        (void)xls::Workbook::open(dir / "notes.xls");
        ADD_FAILURE();
    } catch (const xls::Error& e) {
        EXPECT_EQ(e.kind(), xls::ErrorKind::NotWorkbook);
    }
    expectSameCells(openFixture("xlwt_types.xls"), xls::Workbook::open(dir / "tail.xls"));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024);  // kilobytes
    std::filesystem::remove_all(dir);
}

}  // namespace
