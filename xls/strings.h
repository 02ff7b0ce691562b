// The string forms of BIFF records: BIFF8's XLUnicodeString family (with
// rich-text runs and phonetic blocks skipped) and BIFF5's byte strings in
// the workbook's code page.
#pragma once

#include <string>

#include "xls/codepage.h"
#include "xls/records.h"

namespace xls::detail {

// BIFF8: a character count of lenBytes (1 or 2) bytes, an option byte, the
// optional run count and phonetic size, the characters, then the runs and
// the phonetic block. False if the data ended inside it.
bool readUnicodeString(PieceReader& r, int lenBytes, PieceReader::Boundary boundary,
                       std::u16string& out);

// BIFF5: a count of lenBytes bytes and that many bytes. False if the bytes
// are not all there (what is there is decoded).
bool readByteString(Bytes data, size_t offset, int lenBytes, const CodePage& cp,
                    std::u16string& out);

}  // namespace xls::detail
