// Number formats and cell formats (XF) of every BIFF version, gathered into
// the per-XF cell kinds that decide whether a number reads as a date or a
// time. Excel 2.x-4.0 number their FORMAT records in order of appearance;
// Excel 5 and later give each its index. The built-in formats that no
// FORMAT record defines depend, for the locale-dependent ones, on the
// country of the Excel version that wrote the file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "xls/codepage.h"
#include "xls/records.h"
#include "xls/types.h"

namespace xls::detail {

class FormatTable {
public:
    explicit FormatTable(int biff) : m_biff(biff) {}
    // FORMAT (any version's record number); the code page decodes 8-bit text.
    void onFormat(const Record& r, const CodePage& cp);
    // XF of any version: its number format index.
    void onXf(const Record& r);
    [[nodiscard]] bool hasXfs() const { return !m_xfFormats.empty(); }
    // The kind of a number shown with format `index`.
    [[nodiscard]] CellType formatKind(uint16_t index, uint16_t country) const;
    // The kind of each XF, in order.
    [[nodiscard]] std::vector<CellType> xfKinds(uint16_t country) const;
    // The number format id of each XF, in order.
    [[nodiscard]] const std::vector<uint16_t>& xfFormats() const { return m_xfFormats; }
    // The codes of the formats FORMAT records defined, by id.
    [[nodiscard]] const std::map<uint16_t, std::u16string>& codes() const { return m_codes; }

private:
    int m_biff;
    uint16_t m_count = 0;  // FORMAT records seen, for the versions that number them so
    std::map<uint16_t, CellType> m_formats;
    std::map<uint16_t, std::u16string> m_codes;
    std::vector<uint16_t> m_xfFormats;
};

// The Excel version's country from the COUNTRY record (its first field, the
// user interface's country code), or from the code page where it is
// missing; 0 when neither tells.
uint16_t countryFromCodePage(uint16_t codePage);

// The Windows code page of a FONT record's character set; 0 for the
// character sets that name none (ANSI, default, symbol, OEM).
uint16_t codePageFromCharset(uint8_t charset);

}  // namespace xls::detail
