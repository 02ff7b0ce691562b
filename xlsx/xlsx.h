// The Office Open XML workbook reader (.xlsx, .xlsm, .xltx): a zip package
// read into the same workbook, sheets and compact cells as an .xls, so that
// whatever sits on xls::Workbook reads both alike. No ODBC in here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "xls/workbook.h"

namespace xlsx {

// Reads the package in a zip file's bytes: its sheet list, date system,
// defined names, cell formats and shared strings now, each sheet's cells
// when it is asked for. Throws xls::Error: Damaged for a damaged or hostile
// package, LooksLikeXlsb / LooksLikeOds / NotWorkbook for packages that
// hold something else.
xls::Workbook readPackage(std::vector<uint8_t> bytes);

// Opens any workbook this reader knows: an .xls as xls::Workbook::open does,
// a zip file as a package.
xls::Workbook openWorkbook(const std::filesystem::path& path);

}  // namespace xlsx
