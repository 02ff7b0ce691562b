// The result table and the rendering of numbers.
#include "sql/text_table.h"

#include <cmath>
#include <cstdio>

namespace sql {

std::optional<std::u16string_view> TextTable::cell(uint32_t row, size_t col) const {
    const size_t i = static_cast<size_t>(row) * m_columns.size() + col;
    if (m_null[i]) {
        return std::nullopt;
    }
    const size_t begin = i == 0 ? 0 : m_ends[i - 1];
    return std::u16string_view(m_chars).substr(begin, m_ends[i] - begin);
}

void TextTable::add(std::u16string_view text) {
    m_chars.append(text);
    m_ends.push_back(m_chars.size());
    m_null.push_back(false);
}

void TextTable::addNull() {
    m_ends.push_back(m_chars.size());
    m_null.push_back(true);
}

std::u16string numberText(double value) {
    if (value == 0) {
        return u"0";
    }
    if (std::isnan(value)) {
        return u"NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? u"Infinity" : u"-Infinity";
    }
    // %G switches to the exponent form below 1E-4 and from 1E+15 on, and
    // drops trailing zeros: the rule of a spreadsheet's General format.
    char buffer[40];
    const int n = std::snprintf(buffer, sizeof buffer, "%.15G", value);
    std::u16string out;
    for (int i = 0; i < n; ++i) {
        out.push_back(static_cast<char16_t>(buffer[i]));
    }
    return out;
}

}  // namespace sql
