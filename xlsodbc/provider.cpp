// Grid helpers shared by every provider: the generic longest-text scan and
// the in-memory grid of catalogue results.
#include "xlsodbc/provider.h"

#include <algorithm>

namespace xlsodbc {

namespace {

// UTF-8 length of UTF-16 text: a surrogate pair (4 bytes) counts 2 per unit.
size_t utf8Length(std::u16string_view text) {
    size_t n = 0;
    for (const char16_t c : text) {
        n += c < 0x80 ? 1 : (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) ? 2 : 3;
    }
    return n;
}

}  // namespace

std::vector<Grid::Extent> Grid::longestTexts(uint32_t fromRow) {
    std::vector<Extent> longest(columnCount());
    for (uint32_t r = fromRow; r < rowCount(); ++r) {
        seek(r);
        for (uint16_t c = 0; c < columnCount(); ++c) {
            if (const auto text = field(c)) {
                measure(longest[c], *text);
            }
        }
    }
    return longest;
}

void Grid::measure(Extent& longest, std::u16string_view text) {
    longest.units = std::max(longest.units, text.size());
    // A text whose every unit took 3 bytes could not pass the longest.
    if (3 * text.size() > longest.utf8) {
        longest.utf8 = std::max(longest.utf8, utf8Length(text));
    }
}

void Grid::measureAscii(Extent& longest, size_t length) {
    longest.units = std::max(longest.units, length);
    longest.utf8 = std::max(longest.utf8, length);
}

std::optional<std::u16string_view> TableGrid::field(uint16_t col) {
    const auto& value = m_rows[m_current][col];
    if (!value) {
        return std::nullopt;
    }
    return std::u16string_view(*value);
}

}  // namespace xlsodbc
