// Fuzz target: the zip layer alone. Reads the central directory of any
// bytes, looks every member up by its name, and inflates each member whole
// (the inflate budgets and the CRC check run on every one).
#include <cstddef>
#include <cstdint>
#include <span>

#include "xls/types.h"
#include "xlsx/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const xlsx::ZipArchive zip(std::span<const uint8_t>(data, size));
        for (const xlsx::ZipEntry& e : zip.entries()) {
            if (zip.find(xlsx::foldName(e.name)) != &e) {
                __builtin_trap();  // every member is found by its name, letter case ignored
            }
            try {
                (void)xlsx::readWhole(zip, e);
            } catch (const xls::Error&) {
            }
        }
    } catch (const xls::Error&) {
    }
    return 0;
}
