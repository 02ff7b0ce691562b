// The .xlsx reader on workbooks that real writers made for one trap each
// (tests/xlsx/make_fixtures.py), on copies of them damaged or made hostile
// on purpose, and on the zip and package layers by themselves.
#include <gtest/gtest.h>

#include <string>

#include "tests/xls/test_util.h"
#include "xlsx/opc.h"
#include "xlsx/package.h"
#include "xlsx/xlsx.h"
#include "xlsx/zip.h"

namespace {

using xls_test::findCell;
using xls_test::utf8;
namespace fs = std::filesystem;

const fs::path kFixtures = XLSX_FIXTURE_DIR;

xls::Workbook openFixture(const std::string& name) {
    return xlsx::openWorkbook(kFixtures / name);
}

// The text of a cell by its A1 name; "<empty>" for none.
std::string at(const xls::Sheet& sheet, const std::string& ref) {
    uint32_t row = 0, col = 0;
    EXPECT_TRUE(xlsx::detail::parseCellRef(ref, row, col)) << ref;
    const xls::Cell* c = findCell(sheet, row, static_cast<uint16_t>(col));
    if (c == nullptr) {
        return "<empty>";
    }
    std::u16string text;
    sheet.text(*c, text);
    EXPECT_EQ(sheet.textLength(*c), text.size()) << ref;
    return utf8(text);
}

TEST(XlsxFixtures, EveryKindOfValueFromARealWriter) {
    const xls::Workbook book = openFixture("xlw_traps.xlsx");
    ASSERT_EQ(book.sheets().size(), 4U);
    EXPECT_EQ(utf8(book.sheets()[1].name), "Hidden");
    EXPECT_TRUE(book.sheets()[1].hidden);
    // A chart sheet between worksheets keeps its place and is no worksheet.
    EXPECT_EQ(book.sheets()[2].type, xls::SheetType::Chart);
    EXPECT_EQ(book.sheets()[3].type, xls::SheetType::Worksheet);
    const xls::Sheet data = book.sheet(0);
    EXPECT_EQ(at(data, "A2"), "plain bold tail");  // rich text: runs joined
    EXPECT_EQ(at(data, "B2"), "1900-02-15");       // before the invented 1900-02-29
    EXPECT_EQ(at(data, "C2"), "13:45:30");         // a time-only format
    EXPECT_EQ(at(data, "D2"), "TRUE");
    EXPECT_EQ(at(data, "E2"), "#DIV/0!");       // a formula's cached error
    EXPECT_EQ(at(data, "E3"), "5");             // a formula's cached number
    EXPECT_EQ(at(data, "A3"), "two\r\nlines");  // _x000D_ decoded
    EXPECT_EQ(at(data, "B3"), "2024-01-15");
    // A merged area keeps its top-left value only.
    EXPECT_EQ(at(data, "A4"), "merged");
    ASSERT_EQ(data.mergedRanges().size(), 1U);
    EXPECT_EQ(data.mergedRanges()[0], (xls::Range{3, 4, 0, 1}));
    // The last column of the grid.
    EXPECT_EQ(at(data, "XFD1"), "last column");
    EXPECT_EQ(data.usedRange(), (xls::Range{0, 3, 0, 16383}));
}

TEST(XlsxFixtures, DefinedNamesOfTheWorkbookAndOfOneSheet) {
    const xls::Workbook book = openFixture("xlw_traps.xlsx");
    ASSERT_EQ(book.names().size(), 2U);
    const xls::DefinedName& block = book.names()[0];
    EXPECT_EQ(utf8(block.name), "Block");
    EXPECT_EQ(block.scope, 0U);
    EXPECT_EQ(block.sheet, 0U);
    EXPECT_EQ(block.range, (xls::Range{0, 2, 0, 2}));
    const xls::DefinedName& local = book.names()[1];
    EXPECT_EQ(utf8(local.name), "Local");
    EXPECT_EQ(local.sheet, 3U);
    EXPECT_EQ(local.scope, 4U);  // 1 + the index of the sheet it belongs to
}

TEST(XlsxFixtures, InlineStringsWithoutASharedStringPartIn1904) {
    const xls::Workbook book = openFixture("xlw_inline_1904.xlsx");
    EXPECT_TRUE(book.date1904());
    const xls::Sheet sheet = book.sheet(0);
    EXPECT_EQ(at(sheet, "A2"), "inline");
    EXPECT_EQ(at(sheet, "B2"), "2024-01-15 13:45:00");
    EXPECT_EQ(at(sheet, "A3"), "<empty>");  // an empty inline string
    EXPECT_EQ(at(sheet, "B3"), "0.5");
}

TEST(XlsxFixtures, IsoDateCells) {
    const xls::Sheet sheet = openFixture("opx_iso_dates.xlsx").sheet(0);
    EXPECT_EQ(at(sheet, "A2"), "2024-01-15 13:45:00");
    EXPECT_EQ(at(sheet, "A3"), "1999-12-31");
    EXPECT_EQ(at(sheet, "B3"), "2");
}

// Each damaged or hostile package is refused as damaged, at open or when
// its sheet is read, with a message that says what and where.
TEST(XlsxFixtures, DamagedAndHostilePackagesAreRefusedSayingWhere) {
    const struct {
        const char* file;
        const char* phrase;
    } cases[] = {
        {"truncated_zip.xlsx", "end of central directory"},
        {"lying_compressed_size.xlsx", "runs past the end of the file"},
        {"deflate_bomb.xlsx", "zip bomb"},
        {"many_sheets_bomb.xlsx", "the package inflates to more than"},
        {"overlapping_members.xlsx", "overlap"},
        {"dtd_entities.xlsx", "document type declaration"},
        {"duplicate_parts.xlsx", "two members are named"},
        {"duplicate_parts_case.xlsx", "two members are named"},
        {"shared_string_index_past_table.xlsx", "cell A1 refers to shared string"},
        {"cell_past_last_column.xlsx", "\"XFE1\""},
        {"sheet_not_well_formed.xlsx", "XML error at line"},
        {"crc_mismatch.xlsx", "CRC"},
    };
    for (const auto& c : cases) {
        std::string message;
        try {
            const xls::Workbook book = openFixture(std::string("malformed/") + c.file);
            for (size_t i = 0; i < book.sheets().size(); ++i) {
                (void)book.sheet(i).cellCount();
            }
        } catch (const xls::Error& e) {
            EXPECT_EQ(e.kind(), xls::ErrorKind::Damaged) << c.file;
            message = e.what();
        }
        EXPECT_NE(message.find(c.phrase), std::string::npos) << c.file << ": " << message;
    }
}

// Damage that loses nothing is read: sizes in the headers are only hints,
// a style index past the table is a plain number, and relationships that
// lead in a circle give a sheet without cells rather than a hang.
TEST(XlsxFixtures, ToleratedDamageReadsWhatIsThere) {
    const xls::Sheet hinted = openFixture("malformed/understated_sizes.xlsx").sheet(0);
    EXPECT_EQ(at(hinted, "A2"), "plain bold tail");
    EXPECT_EQ(at(hinted, "XFD1"), "last column");

    const xls::Sheet styled = openFixture("malformed/style_index_past_table.xlsx").sheet(0);
    EXPECT_EQ(at(styled, "B2"), "46");
    EXPECT_EQ(at(styled, "C2"), "13:45:30");

    const xls::Workbook cycle = openFixture("malformed/relationship_cycle.xlsx");
    EXPECT_FALSE(cycle.sheet(0).usedRange().has_value());
    EXPECT_EQ(at(cycle.sheet(3), "A2"), "a");
}

// An encrypted package opens when Excel's default password decrypts it
// (standard encryption, from Apache POI's test files); one that needs
// another password (agile encryption, from calamine's) is refused.
TEST(XlsxFixtures, EncryptedPackagesOpenWithTheDefaultPasswordOnly) {
    const xls::Workbook book = openFixture("poi_58616_default_password.xlsx");
    ASSERT_EQ(book.sheets().size(), 6U);
    EXPECT_EQ(at(book.sheet(0), "A1"), "EPQ Manual Template v2.3.19 Daika");
    EXPECT_EQ(book.sheet(1).cellCount(), 1850U);
    try {
        (void)openFixture("calamine_pass_protected.xlsx");
        ADD_FAILURE() << "a package that needs a password opened";
    } catch (const xls::Error& e) {
        EXPECT_EQ(e.kind(), xls::ErrorKind::Encrypted) << e.what();
        EXPECT_NE(std::string(e.what()).find("needs a password"), std::string::npos) << e.what();
    }
}

TEST(XlsxFixtures, OtherFormatsAreToldApart) {
    try {
        (void)openFixture("calamine_date.xlsb");
        ADD_FAILURE() << "an .xlsb opened";
    } catch (const xls::Error& e) {
        EXPECT_EQ(e.kind(), xls::ErrorKind::LooksLikeXlsb) << e.what();
    }
    // An .xls reached through the same entry reads as one.
    const xls::Workbook xls = xlsx::openWorkbook(fs::path(XLSX_FIXTURE_DIR) / ".." / ".." /
                                                 "xlsodbc" / "fixtures" / "lo_driver.xls");
    EXPECT_EQ(xls.biffVersion(), 8);
}

TEST(XlsxParts, TargetsResolveAgainstTheirSourcePart) {
    EXPECT_EQ(xlsx::resolvePart("xl/workbook.xml", "worksheets/sheet1.xml"),
              "xl/worksheets/sheet1.xml");
    EXPECT_EQ(xlsx::resolvePart("xl/workbook.xml", "/xl/worksheets/sheet1.xml"),
              "xl/worksheets/sheet1.xml");
    EXPECT_EQ(xlsx::resolvePart("xl/workbook.xml", "../customXml/item1.xml"),
              "customXml/item1.xml");
    EXPECT_EQ(xlsx::resolvePart("", "xl/work%20book.xml"), "xl/work book.xml");
    EXPECT_EQ(xlsx::resolvePart("xl/workbook.xml", "..\\..\\..\\x.xml"), "x.xml");
}

TEST(XlsxParts, CellReferencesStayInsideTheGrid) {
    uint32_t row = 0, col = 0;
    EXPECT_TRUE(xlsx::detail::parseCellRef("XFD1048576", row, col));
    EXPECT_EQ(row, 1048575U);
    EXPECT_EQ(col, 16383U);
    EXPECT_TRUE(xlsx::detail::parseCellRef("$b$12", row, col));
    EXPECT_EQ(row, 11U);
    EXPECT_EQ(col, 1U);
    for (const char* bad : {"XFE1", "A1048577", "A0", "A", "1", "AAAA1", "A1B", ""}) {
        EXPECT_FALSE(xlsx::detail::parseCellRef(bad, row, col)) << bad;
    }
    EXPECT_TRUE(xlsx::detail::parseCellRef("$C", row, col, true));
    EXPECT_EQ(row, UINT32_MAX);
    EXPECT_EQ(col, 2U);
}

}  // namespace
