// Fuzz target: the whole .xlsx reader. Opens a package from bytes, reads
// every sheet and renders every cell as the driver does; the length it
// measures a cell's text by must be the rendered text's, and every cell
// lies in the used range, in row and column order.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/xls/fuzz/read_every_cell.h"
#include "xlsx/xlsx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        fuzz::readEveryCell(xlsx::readPackage(std::vector<uint8_t>(data, data + size)), true);
    } catch (const xls::Error&) {
    }
    return 0;
}
