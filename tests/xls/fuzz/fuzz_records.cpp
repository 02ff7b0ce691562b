// Fuzz target: the BIFF record layer on a bare record stream (the bytes are
// the workbook stream itself): globals, shared strings, names, decryption,
// and every sheet's cell records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "xls/data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const auto book = xls::detail::parseGlobals(std::vector<uint8_t>(data, data + size));
        for (size_t i = 0; i < book->sheets.size(); ++i) {
            try {
                (void)xls::detail::parseSheet(*book, i);
            } catch (const xls::Error&) {
            }
        }
    } catch (const xls::Error&) {
    }
    return 0;
}
