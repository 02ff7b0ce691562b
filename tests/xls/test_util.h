// Helpers shared by the reader's tests: UTF-16 to UTF-8, file bytes, and
// the text of a cell by position.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "xls/workbook.h"

namespace xls_test {

// Appends code point cp as UTF-8.
inline void appendUtf8(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

inline std::string utf8(std::u16string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(cp, out);
    }
    return out;
}

inline std::vector<uint8_t> readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline const xls::Cell* findCell(const xls::Sheet& sheet, uint32_t row, uint16_t col) {
    for (const xls::Cell& c : sheet.row(row)) {
        if (c.col == col) {
            return &c;
        }
    }
    return nullptr;
}

// The cell's text, or nullopt for an empty cell.
inline std::optional<std::string> cellText(const xls::Sheet& sheet, uint32_t row, uint16_t col) {
    const xls::Cell* c = findCell(sheet, row, col);
    if (!c) {
        return std::nullopt;
    }
    std::u16string s;
    sheet.text(*c, s);
    return utf8(s);
}

}  // namespace xls_test
