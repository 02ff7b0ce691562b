// The compact cell model that every reader fills: cells appended as a
// reader finds them (row by row and left to right, the usual order, straight
// into the final vector; any other order gathered and sorted at the end),
// then merged areas applied (only their top-left cells keep a value), the
// used range taken from the cells that hold a value, and the row index
// closed.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "xls/data.h"

namespace xls::detail {

class SheetBuilder {
public:
    explicit SheetBuilder(Sheet::Data& out) : m_out(out) {}
    // A cell written twice keeps its last value.
    void place(uint32_t row, const Cell& c);
    void addMerged(const Range& r) { m_merged.push_back(r); }
    // Sorts what came out of order, drops the cells that merged areas hide,
    // sets the used range and closes the row index.
    void finish();
    [[nodiscard]] size_t cellCount() const { return m_out.cells.size() + m_unordered.size(); }

private:
    struct Placed {
        uint32_t row;
        Cell cell;
    };
    void placeElsewhere(uint32_t row, const Cell& c);
    void gatherUnordered();
    void sortUnordered();
    void dropMerged();
    void setUsedRange();

    Sheet::Data& m_out;
    // Cells once one came out of row/column order; empty until then.
    bool m_ordered = true;
    std::vector<Placed> m_unordered;
    std::vector<Range> m_merged;
};

// The place of a number format in out.formats (Cell::code of a number),
// added on first use; 0 (General) once the table is full.
uint8_t formatSlot(Sheet::Data& out, uint32_t id, std::u16string_view code);

// The common case, kept small enough to inline: the next cell to the right
// in the current row, with room reserved for it.
inline void SheetBuilder::place(uint32_t row, const Cell& c) {
    auto& cells = m_out.cells;
    if (m_ordered && !cells.empty() && row == m_out.rows.back().row && c.col > cells.back().col &&
        cells.size() < cells.capacity()) {
        cells.push_back(c);
        return;
    }
    placeElsewhere(row, c);
}

}  // namespace xls::detail
