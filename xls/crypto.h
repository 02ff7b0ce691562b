// Decryption of workbooks protected with Excel's built-in default password
// (RC4, CryptoAPI RC4 and XOR obfuscation; AES for Office Open XML
// packages). Any other password is refused.
#pragma once

#include <cstdint>
#include <vector>

#include "xls/records.h"

namespace xls::detail {

// Decrypts, in place, every record of the stream after the FILEPASS record
// `filePass`. Throws Error(Encrypted) when the workbook needs a password
// other than the default one, or uses a scheme this reader does not know.
void decryptStream(std::vector<uint8_t>& stream, const Record& filePass, int biff);

// The package inside an encrypted Office Open XML file, from its compound
// file's EncryptionInfo and EncryptedPackage streams, decrypted with the
// default password (standard and agile encryption). Throws
// Error(Encrypted) when it needs another password or uses a scheme this
// reader does not know.
std::vector<uint8_t> decryptPackage(const std::vector<uint8_t>& info,
                                    const std::vector<uint8_t>& package);

}  // namespace xls::detail
