// Fuzz target: the driver's connection-string parser and the settings drawn
// from it (DBQ, DefaultDir, FirstRowHasNames, a DSN's odbc.ini entries).
// The input's bytes are taken two at a time as UTF-16 units, so lone
// surrogates and every other unit reach the parser too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "xlsodbc/connection_string.h"
#include "xlsodbc/diagnostics.h"

namespace {

// A DSN entry that echoes its name, so DSN= values flow into the settings.
std::optional<std::u16string> echoProfile(const std::u16string& dsn, const char* /*key*/) {
    return dsn;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    try {
        const xlsodbc::Attributes attributes = xlsodbc::parseConnectionString(text);
        (void)xlsodbc::findAttribute(attributes, u"DBQ");
        (void)xlsodbc::resolveSettings(attributes, echoProfile);
    } catch (const xlsodbc::DriverError&) {
    }
    return 0;
}
