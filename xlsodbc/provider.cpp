// Grid helpers shared by every provider: the generic longest-text scan and
// the in-memory grid of catalogue results.
#include "xlsodbc/provider.h"

#include <algorithm>

namespace xlsodbc {

std::vector<size_t> Grid::longestTexts(uint32_t fromRow) {
    std::vector<size_t> longest(columnCount(), 0);
    for (uint32_t r = fromRow; r < rowCount(); ++r) {
        seek(r);
        for (uint16_t c = 0; c < columnCount(); ++c) {
            if (const auto text = field(c)) {
                longest[c] = std::max(longest[c], text->size());
            }
        }
    }
    return longest;
}

std::optional<std::u16string_view> TableGrid::field(uint16_t col) {
    const auto& value = m_rows[m_current][col];
    if (!value) {
        return std::nullopt;
    }
    return std::u16string_view(*value);
}

}  // namespace xlsodbc
