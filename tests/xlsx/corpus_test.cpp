// The .xlsx reader against the shared corpus of real packages: every file
// opens, or is refused with the kind of error its bytes call for, and for
// the files the independent reader (openpyxl) read, the sheet list and
// every cell it saw are compared with ours, both rendered by the same
// rules; cells we hold that it does not are differences too. Prints the
// match and every difference by category.
//
// The differences that remain are the reader's deliberate choices, listed
// with their reasons in kExplained below; any other kind fails the test.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>
#include <set>

#include "tests/xls/corpus_util.h"
#include "tests/xls/mini_json.h"
#include "tests/xls/test_util.h"
#include "xls/render.h"
#include "xlsx/xlsx.h"

#ifndef TABROOK_XLSX_CORPUS_DIR
#define TABROOK_XLSX_CORPUS_DIR ""
#endif

namespace {

using namespace xls_test;
namespace fs = std::filesystem;

// The build's corpus folder, or the one TABROOK_XLSX_CORPUS names.
const fs::path kCorpus = std::getenv("TABROOK_XLSX_CORPUS") != nullptr
                             ? fs::path(std::getenv("TABROOK_XLSX_CORPUS"))
                             : fs::path(TABROOK_XLSX_CORPUS_DIR);

// Each kind of difference from openpyxl that the contract makes on purpose.
const std::map<std::string, std::string> kExplained = {
    {"date-format-judged-differently",
     "a number whose format openpyxl and we classify differently: [h]:mm:ss elapsed times read "
     "as times here, formats with literal text or locale prefixes"},
    {"escape-decoded",
     "_xHHHH_ escapes decoded as Excel shows them (_x000D_ is a carriage return); openpyxl "
     "keeps them in inline strings and decodes only _x005F_ in shared strings"},
    {"macro-sheet",
     "an Excel 4 macro sheet, which openpyxl lists as a worksheet; it is no table here"},
    {"inline-string-in-v",
     "a t=\"inlineStr\" cell whose text the writer (LibreOffice) put in <v> rather than <is>: "
     "openpyxl drops it, we show it"},
    {"excel-2007-beta",
     "a workbook in the namespace of Excel 2007's beta (<sstItem> for <si>): openpyxl sees no "
     "cells, we read them"},
    {"refused-by-design",
     "two members of one name (letter case ignored): openpyxl takes one of them, we refuse the "
     "package as damaged"},
    {"date-outside-calendar",
     "a date-formatted number outside 1900-9999: openpyxl makes it #VALUE!, we show the number"},
};

// The files behind some of those kinds.
// Cells only we see, by file.
const std::map<std::string, std::string> kOnlyOurs = {
    {"poi__52575_main.xlsx", "inline-string-in-v"},
    {"poi__sample-beta.xlsx", "excel-2007-beta"},
};
const std::set<std::string> kRefusedByDesign = {"poi__duplicate-filename.xlsx",
                                                "poi__duplicate-filename-case-insensitive.xlsx"};

// The manifest's rows by file name.
std::map<std::string, ManifestRow> readManifest() {
    std::map<std::string, ManifestRow> rows;
    for (ManifestRow& row : readManifestRows(kCorpus / "MANIFEST.tsv")) {
        const std::string file = row["file"];
        rows[file] = std::move(row);
    }
    return rows;
}

std::string readGzip(const fs::path& p) {
    gzFile f = gzopen(p.c_str(), "rb");
    std::string out;
    if (f == nullptr) {
        return out;
    }
    char buf[65536];
    for (int n; (n = gzread(f, buf, sizeof buf)) > 0;) {
        out.append(buf, static_cast<size_t>(n));
    }
    gzclose(f);
    return out;
}

Json readOracle(const std::string& name) {
    const fs::path plain = kCorpus / "oracle" / (name + ".json");
    return JsonParser(fs::exists(plain) ? readText(plain)
                                        : readGzip(kCorpus / "oracle" / (name + ".json.gz")))
        .parse();
}

// The _xHHHH_ escapes of a string decoded, as the reader does.
std::string unescaped(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && s[i + 6] == '_' &&
            std::all_of(s.begin() + static_cast<ptrdiff_t>(i) + 2,
                        s.begin() + static_cast<ptrdiff_t>(i) + 6,
                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
            appendUtf8(static_cast<uint32_t>(std::stoul(s.substr(i + 2, 4), nullptr, 16)), out);
            i += 6;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

struct Tally : CorpusTally {
    size_t extraCells = 0;
    size_t filesRead = 0;
    std::map<std::string, size_t> refusals;  // error kind -> files
};

// One oracle cell against ours: the category of their difference, or "".
std::string compareCell(const xls::Sheet& sheet, bool date1904, const Json& cell,
                        std::string& detail) {
    const auto row = static_cast<uint32_t>(cell.items[0].number);
    const auto col = static_cast<uint16_t>(cell.items[1].number);
    const std::string& type = cell.items[2].text;
    const Json& value = cell.items[3];
    const xls::Cell* ours = findCell(sheet, row, col);
    const std::string got = shownText(sheet, ours);
    std::string want;
    if (type == "s") {
        want = value.text;
        if (want.empty() && ours == nullptr) {
            return "";  // a stored empty string is an empty cell
        }
        if (got != want && (got == unescaped(want) || want.find("_x") != std::string::npos ||
                            got.find("_x") != std::string::npos)) {
            detail = "ours '" + got.substr(0, 40) + "', oracle '" + want.substr(0, 40) + "'";
            return "escape-decoded";
        }
    } else if (type == "n") {
        std::u16string w;
        xls::detail::renderNumber(std::strtod(value.text.c_str(), nullptr), w);
        want = utf8(w);
        if (ours != nullptr && isDateKind(ours->type) &&
            ours->number == std::strtod(value.text.c_str(), nullptr)) {
            detail =
                "ours " + got + ", oracle number " + want + " format '" + cell.items[4].text + "'";
            return "date-format-judged-differently";
        }
    } else if (type == "d") {
        const double serial = std::strtod(value.items[0].text.c_str(), nullptr);
        const std::string& iso = value.items[1].text;
        if (ours != nullptr && isDateKind(ours->type)) {
            std::u16string w;
            xls::detail::renderDateTime(serial, ours->type, date1904, w);
            want = utf8(w);
            if (got == want && (serial < 1 || iso.starts_with("P")) &&
                ours->type != xls::CellType::Time) {
                return "";
            }
            if (got != want && std::fabs(ours->number - serial) < 1e-6) {
                want = got;  // a t="d" cell: the same instant, converted by each side
            }
        } else if (ours != nullptr && ours->number == serial) {
            detail =
                "ours " + got + ", oracle date " + iso + " format '" + cell.items[4].text + "'";
            return ours->type == xls::CellType::Number && (serial < 0 || serial >= 2958466)
                       ? "date-outside-calendar"
                       : "date-format-judged-differently";
        } else {
            want = iso;
        }
    } else if (type == "b") {
        want = value.boolean ? "TRUE" : "FALSE";
    } else if (type == "e") {
        want = value.text;
    }
    if (got == want) {
        return "";
    }
    detail = "ours '" + got.substr(0, 60) + "', oracle '" + want.substr(0, 60) + "'";
    return ours != nullptr ? "value-" + type : "missing-" + type;
}

void compareSheet(const std::string& name, const std::string& where, const xls::Sheet& sheet,
                  bool date1904, const Json& cells, Tally& t) {
    std::set<std::pair<uint32_t, uint32_t>> seen;
    for (const Json& c : cells.items) {
        std::string detail;
        const std::string category = compareCell(sheet, date1904, c, detail);
        const auto r = static_cast<uint32_t>(c.items[0].number);
        const auto col = static_cast<uint32_t>(c.items[1].number);
        seen.emplace(r, col);
        if (category.empty()) {
            ++t.matched;
        } else {
            t.differences[category].push_back(where + "!" + cellName(r, col) + ": " + detail);
        }
    }
    // Cells we hold that openpyxl does not.
    if (const auto used = sheet.usedRange()) {
        for (uint32_t r = used->firstRow; r <= used->lastRow; ++r) {
            for (const xls::Cell& c : sheet.row(r)) {
                if (!seen.contains({r, c.col})) {
                    ++t.extraCells;
                    std::u16string text;
                    sheet.text(c, text);
                    t.differences[kOnlyOurs.contains(name) ? kOnlyOurs.at(name) : "extra-in-ours"]
                        .push_back(where + "!" + cellName(r, c.col) + ": '" +
                                   utf8(text).substr(0, 40) + "'");
                }
            }
        }
    }
}

void compareBook(const std::string& name, const xls::Workbook& book, const Json& oracle, Tally& t) {
    ++t.filesCompared;
    const bool date1904 = oracle.at("date1904").boolean;
    if (date1904 != book.date1904()) {
        t.differences["date-system"].push_back(name);
    }
    std::set<std::string> dropped;
    for (const Json& d : oracle.at("dropped_sheets").items) {
        dropped.insert(d.text);
    }
    // openpyxl lists worksheets and chart sheets, not macro or dialog sheets.
    std::vector<size_t> ours;
    for (size_t i = 0; i < book.sheets().size(); ++i) {
        const xls::SheetInfo& s = book.sheets()[i];
        if ((s.type == xls::SheetType::Worksheet || s.type == xls::SheetType::Chart ||
             s.type == xls::SheetType::Macro) &&
            !dropped.contains(utf8(s.name))) {
            ours.push_back(i);
        }
    }
    const Json& sheets = oracle.at("sheets");
    if (ours.size() != sheets.items.size()) {
        t.differences["sheet-list"].push_back(name + ": " + std::to_string(ours.size()) +
                                              " sheets, oracle " +
                                              std::to_string(sheets.items.size()));
        return;
    }
    for (size_t k = 0; k < ours.size(); ++k) {
        const Json& s = sheets.items[k];
        const xls::SheetInfo& info = book.sheets()[ours[k]];
        const std::string where = name + " " + s.at("name").text;
        const bool hidden = s.at("state").text != "visible";
        const bool chart = s.at("type").text == "chartsheet";
        // openpyxl reads no chart sheet's state.
        if (utf8(info.name) != s.at("name").text || (info.hidden != hidden && !chart) ||
            (info.type == xls::SheetType::Chart) != chart) {
            t.differences["sheet-list"].push_back(where + ": ours '" + utf8(info.name) + "'");
            continue;
        }
        if (info.type == xls::SheetType::Macro) {
            t.differences["macro-sheet"].push_back(where);
            continue;
        }
        if (chart) {
            continue;
        }
        ++t.sheetsCompared;
        const size_t differencesBefore = countDifferences(t.differences);
        const Json& cells = s.at("cells");
        t.oracleCells += cells.items.size();
        try {
            compareSheet(name, where, book.sheet(ours[k]), date1904, cells, t);
        } catch (const xls::Error& e) {
            t.differences["sheet-refused"].push_back(where + ": " + e.what());
        }
        t.sheetsMatching += countDifferences(t.differences) == differencesBefore ? 1U : 0U;
    }
}

const char* kindName(xls::ErrorKind k) {
    switch (k) {
        case xls::ErrorKind::Io:
            return "io";
        case xls::ErrorKind::NotWorkbook:
            return "not-a-workbook";
        case xls::ErrorKind::LooksLikeXlsx:
            return "xlsx";
        case xls::ErrorKind::LooksLikeOds:
            return "ods";
        case xls::ErrorKind::LooksLikeXlsb:
            return "xlsb";
        case xls::ErrorKind::Encrypted:
            return "encrypted";
        case xls::ErrorKind::UnsupportedVersion:
            return "version";
        case xls::ErrorKind::Damaged:
            return "damaged";
    }
    return "?";
}

// The refusals a file's kind calls for; empty when it must open. A file
// openpyxl could not read may open here (it refuses small damage) or be
// refused as damaged.
std::set<xls::ErrorKind> allowedErrors(const ManifestRow& row) {
    using K = xls::ErrorKind;
    const std::string kind = row.at("kind");
    const std::string oracle = row.at("oracle");
    const std::string features = row.at("features");
    if (kind == "xlsb") {
        return {K::LooksLikeXlsb};
    }
    if (kind == "encrypted") {
        // Opened when the default password decrypts it; a damaged compound
        // file is damaged before it is anything else.
        return {K::Encrypted, K::Damaged, K::NotWorkbook};
    }
    if (kind == "bad-zip" || kind == "not-zip") {
        return {K::Damaged, K::NotWorkbook};
    }
    if (features.find("HOSTILE_xml_dtd") != std::string::npos) {
        return {K::Damaged};
    }
    if (oracle.starts_with("fail")) {
        return {K::Damaged, K::NotWorkbook, K::Io};  // Io: never; kept apart below
    }
    return {};
}

void printReport(const Tally& t) {
    std::cout << "xlsx corpus: " << t.matched << " of " << t.oracleCells << " oracle cells match, "
              << t.extraCells << " cells only ours; " << t.sheetsMatching << " of "
              << t.sheetsCompared << " worksheets of " << t.filesCompared
              << " workbooks match in every cell\n";
    for (const auto& [kind, n] : t.refusals) {
        std::cout << "  refused as " << kind << ": " << n << "\n";
    }
    printDifferences(t.differences, "XLSX_CORPUS_VERBOSE", 6, kExplained);
}

TEST(XlsxCorpus, EveryPackageOpensOrIsRefusedAndMatchesTheOracle) {
    if (!fs::is_directory(kCorpus / "oracle")) {
        GTEST_SKIP() << "corpus folder " << kCorpus << " is absent";
    }
    const auto manifest = readManifest();
    Tally t;
    for (const auto& [name, row] : manifest) {
        const fs::path path = kCorpus / name;
        if (!fs::exists(path)) {
            continue;
        }
        const auto allowed = allowedErrors(row);
        const bool mustOpen = allowed.empty();
        try {
            const xls::Workbook book = xlsx::openWorkbook(path);
            ++t.filesRead;
            if (!mustOpen && !allowed.contains(xls::ErrorKind::NotWorkbook) &&
                row.at("kind") != "encrypted") {
                t.outcomeErrors.push_back(name + ": opened, expected a refusal");
            }
            const Json oracle = readOracle(name);
            if (oracle.at("ok").boolean) {
                compareBook(name, book, oracle, t);
            } else {
                for (size_t i = 0; i < book.sheets().size(); ++i) {
                    try {
                        (void)book.sheet(i).cellCount();
                    } catch (const xls::Error& e) {
                        EXPECT_EQ(e.kind(), xls::ErrorKind::Damaged) << name;
                    }
                }
            }
        } catch (const xls::Error& e) {
            ++t.refusals[kindName(e.kind())];
            if (kRefusedByDesign.contains(name) && e.kind() == xls::ErrorKind::Damaged) {
                t.differences["refused-by-design"].push_back(name + ": " + e.what());
                continue;
            }
            if (!allowed.contains(e.kind()) || e.kind() == xls::ErrorKind::Io) {
                t.outcomeErrors.push_back(name + ": refused (" + e.what() + ")");
            }
        }
    }
    printReport(t);
    for (const std::string& e : t.outcomeErrors) {
        ADD_FAILURE() << e;
    }
    for (const auto& [category, places] : t.differences) {
        if (!kExplained.contains(category)) {
            ADD_FAILURE() << places.size() << " differences of kind " << category
                          << ", first: " << places[0];
        }
    }
    EXPECT_GT(t.filesCompared * 2, manifest.size());
}

}  // namespace
