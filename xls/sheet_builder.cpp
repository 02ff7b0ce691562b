// Placing cells in the compact model, and finishing a sheet (see
// sheet_builder.h).
#include "xls/sheet_builder.h"

#include <algorithm>
#include <utility>

namespace xls::detail {

// Appends in order; a cell written twice in a row keeps its last value.
void SheetBuilder::placeElsewhere(uint32_t row, const Cell& c) {
    auto& cells = m_out.cells;
    auto& rows = m_out.rows;
    if (m_ordered) {
        if (!rows.empty() && row == rows.back().row) {
            const uint16_t last = cells.back().col;
            if (c.col > last) {
                cells.push_back(c);
                return;
            }
            if (c.col == last) {
                cells.back() = c;
                return;
            }
        } else if (rows.empty() || row > rows.back().row) {
            rows.push_back({row, static_cast<uint32_t>(cells.size())});
            cells.push_back(c);
            return;
        }
        gatherUnordered();
    }
    m_unordered.push_back({row, c});
}

// Out of order: the cells so far, with their rows, go where they will be
// sorted at the end.
void SheetBuilder::gatherUnordered() {
    auto& cells = m_out.cells;
    auto& rows = m_out.rows;
    m_unordered.reserve(cells.size() + 1);
    for (size_t i = 0; i < rows.size(); ++i) {
        const size_t end = i + 1 < rows.size() ? rows[i + 1].begin : cells.size();
        for (size_t k = rows[i].begin; k < end; ++k) {
            m_unordered.push_back({rows[i].row, cells[k]});
        }
    }
    cells.clear();
    rows.clear();
    m_ordered = false;
}

void SheetBuilder::sortUnordered() {
    auto less = [](const Placed& a, const Placed& b) {
        return a.row != b.row ? a.row < b.row : a.cell.col < b.cell.col;
    };
    std::stable_sort(m_unordered.begin(), m_unordered.end(), less);
    auto& cells = m_out.cells;
    auto& rows = m_out.rows;
    cells.reserve(m_unordered.size());
    for (const Placed& p : m_unordered) {
        // A cell written twice keeps its last value.
        if (!rows.empty() && rows.back().row == p.row && cells.back().col == p.cell.col) {
            cells.back() = p.cell;
            continue;
        }
        if (rows.empty() || rows.back().row != p.row) {
            rows.push_back({p.row, static_cast<uint32_t>(cells.size())});
        }
        cells.push_back(p.cell);
    }
    std::vector<Placed>().swap(m_unordered);
}

namespace {

// How many of a set of column ranges cover each column: a Fenwick tree of
// differences, so adding a range and reading a column each cost log(columns).
class ColumnCoverage {
public:
    void add(uint16_t first, uint16_t last, int32_t delta) {
        bump(first, delta);
        bump(static_cast<size_t>(last) + 1, -delta);
    }
    [[nodiscard]] int32_t at(uint16_t col) const {
        int32_t sum = 0;
        for (size_t i = static_cast<size_t>(col) + 1; i > 0; i &= i - 1) {
            sum += m_tree[i];
        }
        return sum;
    }

private:
    void bump(size_t col, int32_t delta) {
        for (size_t i = col + 1; i < m_tree.size(); i += i & (~i + 1)) {
            m_tree[i] += delta;
        }
    }
    std::vector<int32_t> m_tree = std::vector<int32_t>(size_t{UINT16_MAX} + 2, 0);
};

}  // namespace

// Only the top-left cell of a merged area keeps its value. Rows are walked
// in order; the areas that span the current row cover their columns in a
// ColumnCoverage, so the cost grows with the cells plus the areas (times
// a logarithm), not their product, however many areas overlap.
void SheetBuilder::dropMerged() {
    if (m_merged.empty()) {
        return;
    }
    std::vector<Range> starts = m_merged, ends = m_merged;
    std::sort(starts.begin(), starts.end(),
              [](const Range& a, const Range& b) { return a.firstRow < b.firstRow; });
    std::sort(ends.begin(), ends.end(),
              [](const Range& a, const Range& b) { return a.lastRow < b.lastRow; });
    std::vector<std::pair<uint32_t, uint16_t>> topLeft;
    topLeft.reserve(m_merged.size());
    for (const Range& m : m_merged) {
        topLeft.emplace_back(m.firstRow, m.firstCol);
    }
    std::sort(topLeft.begin(), topLeft.end());
    ColumnCoverage covered;
    size_t started = 0, ended = 0;
    auto& cells = m_out.cells;
    auto& rows = m_out.rows;
    size_t w = 0, kept = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const uint32_t row = rows[i].row;
        const size_t end = i + 1 < rows.size() ? rows[i + 1].begin : cells.size();
        for (; started < starts.size() && starts[started].firstRow <= row; ++started) {
            covered.add(starts[started].firstCol, starts[started].lastCol, 1);
        }
        for (; ended < ends.size() && ends[ended].lastRow < row; ++ended) {
            covered.add(ends[ended].firstCol, ends[ended].lastCol, -1);
        }
        const size_t begin = w;
        for (size_t k = rows[i].begin; k < end; ++k) {
            const uint16_t col = cells[k].col;
            int32_t cover = covered.at(col);
            if (cover > 0) {
                // The areas whose top-left cell this is do not hide it.
                const auto same = std::equal_range(topLeft.begin(), topLeft.end(),
                                                   std::pair<uint32_t, uint16_t>(row, col));
                cover -= static_cast<int32_t>(same.second - same.first);
            }
            if (cover <= 0) {
                cells[w++] = cells[k];
            }
        }
        if (w > begin) {
            rows[kept++] = {row, static_cast<uint32_t>(begin)};
        }
    }
    cells.resize(w);
    rows.resize(kept);
}

// Rows are sorted, and so are the cells within each row: the row index's
// ends and each row's first and last cells give the rectangle.
void SheetBuilder::setUsedRange() {
    const auto& cells = m_out.cells;
    const auto& rows = m_out.rows;
    if (cells.empty()) {
        return;
    }
    Range used{rows.front().row, rows.back().row, UINT16_MAX, 0};
    for (size_t i = 0; i < rows.size(); ++i) {
        const size_t end = i + 1 < rows.size() ? rows[i + 1].begin : cells.size();
        used.firstCol = std::min(used.firstCol, cells[rows[i].begin].col);
        used.lastCol = std::max(used.lastCol, cells[end - 1].col);
    }
    m_out.used = used;
}

void SheetBuilder::finish() {
    if (!m_ordered) {
        sortUnordered();
    }
    dropMerged();
    setUsedRange();
    auto& cells = m_out.cells;
    auto& rows = m_out.rows;
    rows.push_back({UINT32_MAX, static_cast<uint32_t>(cells.size())});
    // A DIMENSION that claimed more than the sheet holds: give back the
    // excess (more than growth by doubling leaves) rather than keep it for
    // the sheet's lifetime.
    if (cells.capacity() > 2 * cells.size() + 64) {
        cells.shrink_to_fit();
    }
    if (rows.capacity() > 2 * rows.size() + 64) {
        rows.shrink_to_fit();
    }
    m_out.merged = std::move(m_merged);
}

}  // namespace xls::detail

namespace xls::detail {

uint8_t formatSlot(Sheet::Data& out, uint32_t id, std::u16string_view code) {
    for (size_t i = 0; i < out.formats.size(); ++i) {
        if (out.formats[i].id == id && out.formats[i].code == code) {
            return static_cast<uint8_t>(i);
        }
    }
    if (out.formats.size() > UINT8_MAX) {
        return 0;
    }
    out.formats.push_back(NumberFormat{id, std::u16string(code)});
    return static_cast<uint8_t>(out.formats.size() - 1);
}

}  // namespace xls::detail
