// Helpers shared by the readers' walks over the corpora of real workbooks:
// the manifest's rows, a file's text, a cell's A1 name and shown text, the
// tally, and the report of differences from the independent reader.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/xls/test_util.h"
#include "xls/types.h"
#include "xls/workbook.h"

namespace xls_test {

// One line of a manifest: field by the column name on the manifest's first
// line (a line shorter than the header has only its first columns).
using ManifestRow = std::map<std::string, std::string>;

// The rows of a tab-separated manifest.
inline std::vector<ManifestRow> readManifestRows(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> header;
    std::stringstream hs(line);
    for (std::string f; std::getline(hs, f, '\t');) {
        header.push_back(f);
    }
    std::vector<ManifestRow> rows;
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        ManifestRow row;
        size_t i = 0;
        for (std::string f; std::getline(ss, f, '\t') && i < header.size(); ++i) {
            row[header[i]] = f;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// The whole file as bytes in a string; empty when it cannot be read.
inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A cell's A1 name from its zero-based row and column.
inline std::string cellName(uint32_t r, uint32_t c) {
    std::string col;
    for (uint32_t n = c + 1; n > 0; n = (n - 1) / 26) {
        col.insert(col.begin(), static_cast<char>('A' + (n - 1) % 26));
    }
    return col + std::to_string(r + 1);
}

// Our cell's text as the driver shows it, or "<empty>" for no cell; checks
// that the length columns are sized by (measured without rendering) is the
// text's.
inline std::string shownText(const xls::Sheet& sheet, const xls::Cell* cell) {
    if (cell == nullptr) {
        return "<empty>";
    }
    std::u16string text;
    sheet.text(*cell, text);
    EXPECT_EQ(sheet.textLength(*cell), text.size()) << utf8(text);
    return utf8(text);
}

inline bool isDateKind(xls::CellType t) {
    return t == xls::CellType::Date || t == xls::CellType::Time || t == xls::CellType::DateTime;
}

// Differences from the independent reader: category -> the places seen.
using Differences = std::map<std::string, std::vector<std::string>>;

// What a walk over a corpus counts, and what it found wrong.
struct CorpusTally {
    size_t oracleCells = 0;
    size_t matched = 0;
    size_t filesCompared = 0;
    size_t sheetsCompared = 0;
    size_t sheetsMatching = 0;
    Differences differences;
    std::vector<std::string> outcomeErrors;
};

inline size_t countDifferences(const Differences& differences) {
    size_t n = 0;
    for (const auto& [category, places] : differences) {
        n += places.size();
    }
    return n;
}

// Prints each category, its count and its note (when `notes` has one), then
// its first `shown` places, or every place when the environment variable
// `verbose` is set.
inline void printDifferences(const Differences& differences, const char* verbose, size_t shown,
                             const std::map<std::string, std::string>& notes = {}) {
    const bool all = std::getenv(verbose) != nullptr;
    for (const auto& [category, places] : differences) {
        std::cout << "  " << category << ": " << places.size();
        if (const auto note = notes.find(category); note != notes.end()) {
            std::cout << " (" << note->second << ")";
        }
        std::cout << "\n";
        for (size_t i = 0; i < std::min(places.size(), all ? places.size() : shown); ++i) {
            std::cout << "    " << places[i] << "\n";
        }
    }
}

}  // namespace xls_test
