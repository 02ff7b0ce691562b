// Fuzz target for the number-format engine: the first 8 bytes are the
// value (a double, any bit pattern), one byte chooses the date system, and
// the rest is the format code as UTF-16LE. Parsing and applying must never
// crash, hang or read out of bounds, whatever the code.
#include <cstdint>
#include <cstring>
#include <string>

#include "numfmt/numfmt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) {
        return 0;
    }
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    const bool date1904 = (data[8] & 1) != 0;
    std::u16string code;
    for (size_t i = 9; i + 1 < size; i += 2) {
        code.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    const numfmt::Format format(code);
    std::u16string out;
    format.apply(value, date1904, out);
    format.apply(-value, !date1904, out);
    numfmt::general(value, out);
    return 0;
}
