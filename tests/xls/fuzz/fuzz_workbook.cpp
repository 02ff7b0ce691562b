// Fuzz target: open a workbook from bytes, read every sheet and render
// every cell as text, as the driver does; the length it measures a cell's
// text by (for column sizes) must be the rendered text's.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/xls/fuzz/read_every_cell.h"
#include "xls/workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        fuzz::readEveryCell(xls::Workbook::fromBytes(std::vector<uint8_t>(data, data + size)),
                            false);
    } catch (const xls::Error&) {
    }
    return 0;
}
