// Fuzz target: open a workbook from bytes, read every sheet and render
// every cell as text, as the driver does; the length it measures a cell's
// text by (for column sizes) must be the rendered text's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "xls/workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const xls::Workbook book =
            xls::Workbook::fromBytes(std::vector<uint8_t>(data, data + size));
        std::u16string text;
        for (size_t i = 0; i < book.sheets().size(); ++i) {
            try {
                const xls::Sheet sheet = book.sheet(i);
                const auto used = sheet.usedRange();
                if (!used) {
                    continue;
                }
                for (uint32_t r = used->firstRow; r <= used->lastRow; ++r) {
                    for (const xls::Cell& c : sheet.row(r)) {
                        sheet.text(c, text);
                        if (sheet.textLength(c) != text.size()) {
                            __builtin_trap();
                        }
                    }
                }
            } catch (const xls::Error&) {
            }
        }
    } catch (const xls::Error&) {
    }
    return 0;
}
