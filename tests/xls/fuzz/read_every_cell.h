// The body the whole-reader fuzz targets share: a workbook, however it was
// opened, read sheet by sheet with every cell rendered as the driver does.
#pragma once

#include <cstdint>
#include <string>

#include "xls/workbook.h"

namespace fuzz {

// Renders every cell of every sheet `book` lets us read. Traps when the
// length a cell's text is measured by (for column sizes) is not the
// rendered text's, and, with `checkPlacement`, when a cell lies outside the
// used range or out of column order within its row. A sheet refused with
// an error is passed over.
inline void readEveryCell(const xls::Workbook& book, bool checkPlacement) {
    std::u16string text;
    for (size_t i = 0; i < book.sheets().size(); ++i) {
        try {
            const xls::Sheet sheet = book.sheet(i);
            const auto used = sheet.usedRange();
            if (!used) {
                continue;
            }
            for (uint32_t r = used->firstRow; r <= used->lastRow; ++r) {
                int last = -1;
                for (const xls::Cell& c : sheet.row(r)) {
                    sheet.text(c, text);
                    if (sheet.textLength(c) != text.size()) {
                        __builtin_trap();
                    }
                    if (checkPlacement &&
                        (c.col <= last || c.col < used->firstCol || c.col > used->lastCol)) {
                        __builtin_trap();
                    }
                    last = c.col;
                }
            }
        } catch (const xls::Error&) {
        }
    }
}

}  // namespace fuzz
