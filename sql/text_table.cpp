// The result table and the rendering of numbers.
#include "sql/text_table.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

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

void TextTable::addUnits(const void* text, size_t units) {
    const size_t end = m_chars.size();
    m_chars.resize(end + units);
    if (units != 0) {
        std::memcpy(m_chars.data() + end, text, units * sizeof(char16_t));
    }
    m_ends.push_back(m_chars.size());
    m_null.push_back(false);
}

void TextTable::addNull() {
    m_ends.push_back(m_chars.size());
    m_null.push_back(true);
}

size_t numberText(double value, char16_t* out) {
    if (value == 0) {
        out[0] = u'0';
        return 1;
    }
    if (std::isnan(value) || std::isinf(value)) {
        const char* text = std::isnan(value) ? "NaN" : (value > 0 ? "Infinity" : "-Infinity");
        size_t n = 0;
        for (; text[n] != 0; ++n) {
            out[n] = static_cast<char16_t>(text[n]);
        }
        return n;
    }
    char buffer[40] = {};
    // Whole numbers below 10^15 are their digits: the common case, without
    // the general formatting. Others take the shortest general form with 15
    // significant digits: exponent form below 1E-4 and from 1E+15 on,
    // trailing zeros dropped, as a spreadsheet's General format shows them.
    const bool whole = std::fabs(value) < 1e15 && value == std::trunc(value);
    const char* const end =
        whole ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<int64_t>(value)).ptr
              : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15)
                    .ptr;
    size_t n = 0;
    for (const char* p = buffer; p < end; ++p) {
        const char c = *p == 'e' ? 'E' : *p;
        out[n++] = static_cast<char16_t>(c);
        // A one-digit exponent has two: 1E+05 as %G writes it.
        if (c == 'E' && p + 2 < end && (p[1] == '+' || p[1] == '-') && p + 3 == end) {
            out[n++] = static_cast<char16_t>(p[1]);
            out[n++] = u'0';
            ++p;
        }
    }
    return n;
}

std::u16string numberText(double value) {
    char16_t buffer[40];
    return {buffer, numberText(value, buffer)};
}

}  // namespace sql
