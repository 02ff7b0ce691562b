// Decryption of workbooks protected with Excel's built-in default password
// (RC4, CryptoAPI RC4 and XOR obfuscation). Any other password is refused.
#pragma once

#include <cstdint>
#include <vector>

#include "xls/records.h"

namespace xls::detail {

// Decrypts, in place, every record of the stream after the FILEPASS record
// `filePass`. Throws Error(Encrypted) when the workbook needs a password
// other than the default one, or uses a scheme this reader does not know.
void decryptStream(std::vector<uint8_t>& stream, const Record& filePass, int biff);

}  // namespace xls::detail
