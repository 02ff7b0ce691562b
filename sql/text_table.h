// A compact table of texts: the result of a statement, every cell a text or
// NULL, stored end to end in one buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sql {

class TextTable {
public:
    TextTable() = default;
    TextTable(std::vector<std::u16string> columns) : m_columns(std::move(columns)) {}

    [[nodiscard]] const std::vector<std::u16string>& columns() const { return m_columns; }
    [[nodiscard]] uint32_t rowCount() const {
        return m_columns.empty() ? 0 : static_cast<uint32_t>(m_ends.size() / m_columns.size());
    }
    [[nodiscard]] std::optional<std::u16string_view> cell(uint32_t row, size_t col) const;

    // The memory the cells take, in bytes.
    [[nodiscard]] size_t bytes() const {
        return m_size * sizeof(char16_t) + m_ends.size() * (sizeof(size_t) + 1);
    }

    // Cells are added row by row, left to right.
    void add(std::u16string_view text);
    // A text given as `units` UTF-16 units at any address, even an odd one.
    void addUnits(const void* text, size_t units);
    void addNull();

private:
    // Room for `units` more units in the last block.
    char16_t* reserve(size_t units);

    std::vector<std::u16string> m_columns;
    // The texts end to end, in blocks that are never moved (a table grows
    // without copying what it holds); no text spans two blocks. Positions
    // count units as if the blocks were one: each block begins where the
    // texts before it end.
    struct Block {
        std::unique_ptr<char16_t[]> units;
        size_t start = 0;     // the position of its first unit
        size_t capacity = 0;  // units
    };
    std::vector<Block> m_blocks;
    size_t m_size = 0;           // units held
    std::vector<size_t> m_ends;  // the position where each cell's text ends
    std::vector<bool> m_null;
};

// A number as text with at most 15 significant digits: "3", "-12.5", "0.3"
// for 0.1+0.2, "1E+20", "1.23E-05"; scientific form when the decimal
// exponent is below -4 or at least 15; "-0" reads "0".
std::u16string numberText(double value);
// The same into `out` (at least 32 units); returns its length.
size_t numberText(double value, char16_t* out);

}  // namespace sql
