// The parts of an open package that its sheets are read from later: the
// file's bytes and their zip directory, each sheet's part, and the shared
// strings and cell formats every sheet refers to.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "xls/data.h"
#include "xlsx/zip.h"

namespace xlsx::detail {

struct Package {
    std::vector<uint8_t> bytes;
    std::unique_ptr<ZipArchive> zip;
    std::vector<std::string> sheetParts;  // per sheet; empty for a sheet without one
    std::shared_ptr<const xls::detail::StringTable> sst;
    std::vector<xls::CellType> xfKinds;
    std::vector<uint32_t> xfFormats;                 // number format id per cell format
    std::map<uint32_t, std::u16string> formatCodes;  // the workbook's own formats by id
    bool date1904 = false;
};

// The longest string a cell holds, in UTF-16 units.
inline constexpr size_t kMaxString = 32767;
// The grid of a worksheet.
inline constexpr uint32_t kRows = 1048576;
inline constexpr uint32_t kColumns = 16384;

// Reads the cells of sheet `index` into `out`. Throws xls::Error(Damaged).
void readWorksheet(const Package& package, size_t index, xls::Sheet::Data& out);

// A cell reference ("B12", "$B$12") as 0-based row and column; false when
// the text is not one or lies outside the grid. Either part may be absent
// when `partial` allows it (whole rows "$3", whole columns "$C"), and is
// then UINT32_MAX.
bool parseCellRef(std::string_view ref, uint32_t& row, uint32_t& col, bool partial = false);

}  // namespace xlsx::detail
