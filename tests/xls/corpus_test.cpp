// The reader against the shared corpus of real workbooks: each file opens
// or is refused with the kind of error its manifest expects, and for the
// files the independent reader (xlrd) read, every cell it saw is compared
// with ours after rendering both by the same rules. Prints the match rate
// and every difference by category.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "tests/xls/mini_json.h"
#include "tests/xls/test_util.h"
#include "xls/render.h"

#ifndef TABROOK_CORPUS_DIR
#define TABROOK_CORPUS_DIR ""
#endif

namespace {

using namespace xls_test;
namespace fs = std::filesystem;

const fs::path kCorpus = TABROOK_CORPUS_DIR;

std::map<std::string, std::string> readManifest() {
    std::map<std::string, std::string> expected;
    std::ifstream in(kCorpus / "MANIFEST.tsv");
    std::string line;
    std::getline(in, line);
    std::vector<std::string> header;
    {
        std::stringstream ss(line);
        std::string f;
        while (std::getline(ss, f, '\t')) {
            header.push_back(f);
        }
    }
    const auto col =
        static_cast<size_t>(std::find(header.begin(), header.end(), "expected") - header.begin());
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string f;
        while (std::getline(ss, f, '\t')) {
            fields.push_back(f);
        }
        if (fields.size() > col && fields[0].rfind("xls/", 0) == 0) {
            expected[fields[0].substr(4)] = fields[col];
        }
    }
    return expected;
}

Json readOracle(const std::string& name) {
    std::ifstream in(kCorpus / "oracle" / (name + ".json"), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return JsonParser(ss.str()).parse();
}

// strtod, not stod: denormal values are valid here.
double toDouble(const std::string& s) {
    return std::strtod(s.c_str(), nullptr);
}

std::string render(double v) {
    std::u16string s;
    xls::detail::renderNumber(v, s);
    return utf8(s);
}

std::string cellName(uint32_t r, uint32_t c) {
    std::string col;
    for (uint32_t n = c + 1; n > 0; n = (n - 1) / 26) {
        col.insert(col.begin(), static_cast<char>('A' + (n - 1) % 26));
    }
    return col + std::to_string(r + 1);
}

struct Tally {
    size_t oracleCells = 0;
    size_t matched = 0;
    size_t filesCompared = 0;
    size_t filesMatching = 0;
    std::map<std::string, std::vector<std::string>> differences;  // category -> places
    std::vector<std::string> outcomeErrors;
};

// Compares one oracle cell with ours; returns the difference category or "".
std::string compareCell(const xls::Sheet& sheet, bool date1904, const Json& cell,
                        std::string& detail) {
    const auto row = static_cast<uint32_t>(cell.items[0].number);
    const auto col = static_cast<uint16_t>(cell.items[1].number);
    const std::string& type = cell.items[2].text;
    const Json& value = cell.items[3];
    const xls::Cell* ours = findCell(sheet, row, col);
    std::u16string text;
    if (ours) {
        sheet.text(*ours, text);
    }
    const std::string got = ours ? utf8(text) : "<empty>";
    std::string want;
    if (type == "text") {
        want = value.text;
        if (!ours && want.empty()) {
            return "";  // an empty-string formula result reads as an empty cell
        }
        if (ours && ours->type != xls::CellType::Text) {
            detail = "ours " + got + " (not text), oracle '" + want + "'";
            return "text-type";
        }
    } else if (type == "number") {
        want = render(toDouble(value.text));
        if (ours && ours->type != xls::CellType::Number && ours->type != xls::CellType::Text) {
            const bool dateKind = ours->type == xls::CellType::Date ||
                                  ours->type == xls::CellType::Time ||
                                  ours->type == xls::CellType::DateTime;
            if (dateKind && ours->number == toDouble(value.text)) {
                detail = "ours " + got + ", oracle number " + want;
                return "date-format-judged-differently";
            }
        }
    } else if (type == "date") {
        const double serial = toDouble(cell.items[4].text);
        if (ours && (ours->type == xls::CellType::Date || ours->type == xls::CellType::Time ||
                     ours->type == xls::CellType::DateTime)) {
            std::u16string w;
            xls::detail::renderDateTime(serial, ours->type, date1904, w);
            want = utf8(w);
        } else if (ours && ours->type == xls::CellType::Number && ours->number == serial) {
            detail = "ours number " + got + ", oracle date " +
                     (value.kind == Json::Kind::String ? value.text : "null");
            return "date-format-judged-differently";
        } else {
            want = value.kind == Json::Kind::String ? value.text : "null";
        }
    } else if (type == "bool") {
        want = value.boolean ? "TRUE" : "FALSE";
    } else if (type == "error") {
        want = value.text;
    }
    if (got == want) {
        return "";
    }
    detail = "ours '" + got.substr(0, 60) + "', oracle '" + want.substr(0, 60) + "'";
    if (!ours) {
        for (const xls::Range& m : sheet.mergedRanges()) {
            if (row >= m.firstRow && row <= m.lastRow && col >= m.firstCol && col <= m.lastCol) {
                return "hidden-by-merge";  // only the top-left cell of a merged area has a value
            }
        }
    }
    return ours ? "value-" + type : "missing-" + type;
}

void compareSheets(const std::string& name, const xls::Workbook& book, const Json& oracle,
                   Tally& t) {
    std::vector<size_t> worksheets;
    for (size_t i = 0; i < book.sheets().size(); ++i) {
        if (book.sheets()[i].type == xls::SheetType::Worksheet) {
            worksheets.push_back(i);
        }
    }
    const Json* sheets = oracle.find("sheets");
    const bool date1904 = oracle.find("datemode")->number == 1;
    bool allMatch = true;
    for (const Json& s : sheets->items) {
        const auto index = static_cast<size_t>(s.find("index")->number);
        const Json& cells = *s.find("cells");
        t.oracleCells += cells.items.size();
        if (index >= worksheets.size() ||
            utf8(book.sheets()[worksheets[index]].name) != s.find("name")->text) {
            t.differences["sheet-list"].push_back(name + " sheet " + s.find("name")->text);
            allMatch = false;
            continue;
        }
        try {
            const xls::Sheet sheet = book.sheet(worksheets[index]);
            for (const Json& c : cells.items) {
                std::string detail;
                const std::string category = compareCell(sheet, date1904, c, detail);
                if (category.empty()) {
                    ++t.matched;
                } else {
                    allMatch = false;
                    t.differences[category].push_back(
                        name + " " + s.find("name")->text + "!" +
                        cellName(static_cast<uint32_t>(c.items[0].number),
                                 static_cast<uint32_t>(c.items[1].number)) +
                        ": " + detail);
                }
            }
        } catch (const xls::Error& e) {
            t.differences["sheet-refused"].push_back(name + " " + s.find("name")->text + ": " +
                                                     e.what());
            allMatch = false;
        }
    }
    ++t.filesCompared;
    t.filesMatching += allMatch ? 1 : 0;
}

// Reads every sheet, as a robustness check on files the oracle did not read.
void readAllSheets(const xls::Workbook& book) {
    for (size_t i = 0; i < book.sheets().size(); ++i) {
        try {
            const xls::Sheet s = book.sheet(i);
            (void)s.cellCount();
        } catch (const xls::Error& e) {
            EXPECT_EQ(e.kind(), xls::ErrorKind::Damaged);
        }
    }
}

// What the manifest's expectation allows: "" (must open) or an error kind.
std::vector<xls::ErrorKind> allowedErrors(const std::string& expected, int biff) {
    using K = xls::ErrorKind;
    if (biff >= 2 && biff <= 4) {
        return {K::UnsupportedVersion};
    }
    if (expected == "reject:encrypted") {
        return {K::Encrypted};
    }
    if (expected == "reject:not_biff") {
        return {K::NotWorkbook, K::LooksLikeXlsx};
    }
    if (expected == "reject:corrupt") {
        return {K::Damaged, K::NotWorkbook};
    }
    return {};
}

void printReport(const Tally& t) {
    std::cout << "corpus: " << t.matched << " of " << t.oracleCells << " oracle cells match ("
              << (t.oracleCells
                      ? 100.0 * static_cast<double>(t.matched) / static_cast<double>(t.oracleCells)
                      : 0)
              << "%); " << t.filesMatching << " of " << t.filesCompared
              << " workbooks match in every cell\n";
    for (const auto& [category, places] : t.differences) {
        std::cout << "  " << category << ": " << places.size() << "\n";
        const size_t shown = std::getenv("XLS_CORPUS_VERBOSE") ? places.size() : 8;
        for (size_t i = 0; i < std::min<size_t>(places.size(), shown); ++i) {
            std::cout << "    " << places[i] << "\n";
        }
    }
}

TEST(Corpus, EveryWorkbookOpensOrIsRefusedAndMatchesTheOracle) {
    if (!fs::is_directory(kCorpus / "xls")) {
        GTEST_SKIP() << "corpus folder " << kCorpus << " is absent (set TABROOK_CORPUS_DIR)";
    }
    const auto expected = readManifest();
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(kCorpus / "xls")) {
        files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    Tally t;
    for (const fs::path& p : files) {
        const std::string name = p.filename().string();
        Json oracle;
        try {
            oracle = readOracle(name);
        } catch (const std::exception& e) {
            ADD_FAILURE() << name << ": oracle unreadable: " << e.what();
            continue;
        }
        const auto it = expected.find(name);
        const std::string exp = it == expected.end() ? "read" : it->second;
        const bool oracleOk = oracle.find("ok")->boolean;
        const int biff = oracleOk ? static_cast<int>(oracle.find("biff_version")->number) / 10 : 0;
        const auto allowed = allowedErrors(exp, biff);
        try {
            const xls::Workbook book = xls::Workbook::open(p);
            if (!allowed.empty()) {
                t.outcomeErrors.push_back(name + ": opened, expected " + exp);
            }
            if (oracleOk) {
                try {
                    compareSheets(name, book, oracle, t);
                } catch (const std::invalid_argument& e) {
                    ADD_FAILURE() << name << ": oracle value unreadable: " << e.what();
                }
            } else {
                readAllSheets(book);
            }
        } catch (const xls::Error& e) {
            if (std::find(allowed.begin(), allowed.end(), e.kind()) == allowed.end()) {
                t.outcomeErrors.push_back(name + ": refused (" + e.what() + "), expected " + exp);
            }
        }
    }
    printReport(t);
    for (const std::string& e : t.outcomeErrors) {
        ADD_FAILURE() << e;
    }
    // The differences that remain are the contract's choices, not faults:
    // an elapsed-time format such as [HH] makes a time (xlrd ignores
    // bracketed codes), and a merged area shows only its top-left value.
    for (const auto& [category, places] : t.differences) {
        if (category != "date-format-judged-differently" && category != "hidden-by-merge") {
            ADD_FAILURE() << places.size() << " differences of kind " << category
                          << ", first: " << places[0];
        }
    }
    EXPECT_GT(t.filesCompared, 400U);
}

}  // namespace
