// Fuzz target: the whole .xlsx reader. Opens a package from bytes, reads
// every sheet and renders every cell as the driver does; the length it
// measures a cell's text by must be the rendered text's, and every cell
// lies in the used range, in row and column order.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "xlsx/xlsx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const xls::Workbook book = xlsx::readPackage(std::vector<uint8_t>(data, data + size));
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
                        if (sheet.textLength(c) != text.size() || c.col <= last ||
                            c.col < used->firstCol || c.col > used->lastCol) {
                            __builtin_trap();
                        }
                        last = c.col;
                    }
                }
            } catch (const xls::Error&) {
            }
        }
    } catch (const xls::Error&) {
    }
    return 0;
}
