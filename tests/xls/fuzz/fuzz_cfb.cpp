// Fuzz target: the compound-file container alone (header, FAT, DIFAT,
// directory, mini stream) and every stream it lists, read both as a copy and
// as ranges of the file, which must hold the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "xls/cfb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const xls::detail::CompoundFile cf(xls::detail::Bytes(data, size));
        (void)cf.findStream(u"Workbook");
        for (uint32_t i = 0; i < cf.entries().size(); ++i) {
            if (cf.entries()[i].type != 2) {
                continue;
            }
            const std::vector<uint8_t> copy = cf.readStream(i);
            std::vector<uint8_t> joined;
            for (const auto& e : cf.streamExtents(i)) {
                joined.insert(joined.end(), data + e.offset, data + e.offset + e.size);
            }
            if (!joined.empty() && joined != copy) {
                __builtin_trap();
            }
        }
    } catch (const xls::Error&) {
    }
    return 0;
}
