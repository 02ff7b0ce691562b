// The result table and the rendering of numbers.
#include "sql/text_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace sql {

std::optional<std::u16string_view> TextTable::cell(uint32_t row, size_t col) const {
    const size_t i = static_cast<size_t>(row) * m_columns.size() + col;
    if (m_null[i]) {
        return std::nullopt;
    }
    const size_t begin = i == 0 ? 0 : m_ends[i - 1];
    const size_t length = m_ends[i] - begin;
    if (length == 0) {
        return std::u16string_view();
    }
    // The last block that begins at or before the text: a text that
    // begins a block begins where the one before it ended.
    const auto block =
        std::upper_bound(m_blocks.begin(), m_blocks.end(), begin,
                         [](size_t position, const Block& b) { return position < b.start; }) -
        1;
    return std::u16string_view(block->units.get() + (begin - block->start), length);
}

char16_t* TextTable::reserve(size_t units) {
    if (m_blocks.empty() || m_size + units > m_blocks.back().start + m_blocks.back().capacity) {
        constexpr size_t kBlockUnits = size_t{1} << 20;
        const size_t capacity = std::max(kBlockUnits, units);
        m_blocks.push_back(
            Block{std::make_unique_for_overwrite<char16_t[]>(capacity), m_size, capacity});
    }
    const Block& last = m_blocks.back();
    return last.units.get() + (m_size - last.start);
}

void TextTable::add(std::u16string_view text) {
    if (!text.empty()) {
        std::copy(text.begin(), text.end(), reserve(text.size()));
        m_size += text.size();
    }
    m_ends.push_back(m_size);
    m_null.push_back(false);
}

void TextTable::addUnits(const void* text, size_t units) {
    if (units != 0) {
        std::memcpy(reserve(units), text, units * sizeof(char16_t));
        m_size += units;
    }
    m_ends.push_back(m_size);
    m_null.push_back(false);
}

void TextTable::addNull() {
    m_ends.push_back(m_size);
    m_null.push_back(true);
}

namespace {

// The general form with 15 significant digits, written from the shortest
// digits that read back as `value` when there are at most 15 of them (then
// they are what rounding to 15 digits gives, and much cheaper to find);
// 0 when there are more.
size_t shortNumberText(double value, char16_t* out) {
    char buffer[40] = {};
    const char* const end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    // -d.ddde+XX: the sign, the digits, the exponent.
    const char* p = buffer;
    const bool negative = *p == '-';
    p += negative ? 1 : 0;
    char digits[20] = {};
    size_t count = 0;
    for (; p < end && *p != 'e'; ++p) {
        if (*p != '.') {
            if (count == 15) {
                return 0;
            }
            digits[count++] = *p;
        }
    }
    if (count == 0 || p + 1 >= end) {
        return 0;
    }
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
    size_t n = 0;
    if (negative) {
        out[n++] = u'-';
    }
    if (exponent < -4 || exponent >= 15) {
        out[n++] = static_cast<char16_t>(digits[0]);
        if (count > 1) {
            out[n++] = u'.';
            for (size_t i = 1; i < count; ++i) {
                out[n++] = static_cast<char16_t>(digits[i]);
            }
        }
        out[n++] = u'E';
        out[n++] = exponent < 0 ? u'-' : u'+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude >= 100) {
            out[n++] = static_cast<char16_t>(u'0' + magnitude / 100);
        }
        out[n++] = static_cast<char16_t>(u'0' + magnitude / 10 % 10);
        out[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
        return n;
    }
    if (exponent < 0) {
        out[n++] = u'0';
        out[n++] = u'.';
        for (int i = -1; i > exponent; --i) {
            out[n++] = u'0';
        }
        for (size_t i = 0; i < count; ++i) {
            out[n++] = static_cast<char16_t>(digits[i]);
        }
        return n;
    }
    const auto whole = static_cast<size_t>(exponent) + 1;
    for (size_t i = 0; i < whole; ++i) {
        out[n++] = static_cast<char16_t>(i < count ? digits[i] : '0');
    }
    if (count > whole) {
        out[n++] = u'.';
        for (size_t i = whole; i < count; ++i) {
            out[n++] = static_cast<char16_t>(digits[i]);
        }
    }
    return n;
}

}  // namespace

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
    // the general formatting.
    if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
        const char* const end =
            std::to_chars(buffer, buffer + sizeof buffer, static_cast<int64_t>(value)).ptr;
        size_t n = 0;
        for (const char* p = buffer; p < end; ++p) {
            out[n++] = static_cast<char16_t>(*p);
        }
        return n;
    }
    // (Not for subnormal numbers, whose shortest digits are too few.)
    if (const size_t n = std::fabs(value) >= std::numeric_limits<double>::min()
                             ? shortNumberText(value, out)
                             : 0) {
        return n;
    }
    // Others take the general form with 15 significant digits: exponent
    // form below 1E-4 and from 1E+15 on, trailing zeros dropped, as a
    // spreadsheet's General format shows them.
    const char* const end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
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
