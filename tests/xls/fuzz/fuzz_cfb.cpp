// Fuzz target: the compound-file container alone (header, FAT, DIFAT,
// directory, mini stream) and every stream it lists.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "xls/cfb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const xls::detail::CompoundFile cf(xls::detail::Bytes(data, size));
        (void)cf.findStream(u"Workbook");
        std::vector<uint8_t> storage;
        for (uint32_t i = 0; i < cf.entries().size(); ++i) {
            if (cf.entries()[i].type == 2) {
                (void)cf.readStream(i, storage);
            }
        }
    } catch (const xls::Error&) {
    }
    return 0;
}
