// Fuzz target: the driver's statement parser (SELECT * FROM <table>, the
// table's delimiters and quoting, ranges of a worksheet). The input's bytes
// are taken two at a time as UTF-16 units.
#include <cstddef>
#include <cstdint>
#include <string>

#include "xlsodbc/diagnostics.h"
#include "xlsodbc/statement_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    try {
        const xlsodbc::TableReference t = xlsodbc::parseSelect(text);
        if (t.range && (t.range->firstRow > t.range->lastRow || t.range->lastRow > 65535 ||
                        t.range->firstCol > t.range->lastCol || t.range->lastCol > 255)) {
            __builtin_trap();  // a range the parser should have refused
        }
    } catch (const xlsodbc::DriverError&) {
    }
    (void)xlsodbc::parseCellRange(text);
    return 0;
}
