// The connection string ("DRIVER={...};DSN='';DBQ=/data/sales.xls") and the
// settings of a connection drawn from it and from the data source's entry
// in odbc.ini.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "xlsodbc/provider.h"

namespace xlsodbc {

// key=value pairs separated by ";"; keys case-insensitive (kept as
// written, compared folded), values optionally wrapped in braces with "}}"
// standing for "}". Throws DriverError (08001) for an unclosed brace.
using Attributes = std::vector<std::pair<std::u16string, std::u16string>>;
Attributes parseConnectionString(std::u16string_view text);
std::optional<std::u16string> findAttribute(const Attributes& attributes, std::u16string_view key);

// Reads a data source's key from odbc.ini (user then system), as the
// installer library finds it; nullopt when absent.
using ProfileReader = std::optional<std::u16string> (*)(const std::u16string& dsn, const char* key);
std::optional<std::u16string> readDataSourceKey(const std::u16string& dsn, const char* key);

struct ConnectSettings {
    std::filesystem::path workbook;
    bool firstRowHasNames = true;
    // SheetsAsTables=1: the catalogue reports worksheets as "TABLE" rather
    // than "SYSTEM TABLE", for clients that list only tables of type TABLE.
    bool sheetsAsTables = false;
    // Values=Displayed: numbers read as their number format shows them.
    Values values = Values::Contract;
    // Types=Detected: columns of one type are described as that type.
    bool detectTypes = false;
};

// Settings from the connection string; DBQ, FirstRowHasNames and
// SheetsAsTables that the string lacks come from the named DSN ("DSN=''" names none). Throws
// DriverError (08001) when no workbook is named.
ConnectSettings resolveSettings(const Attributes& attributes,
                                ProfileReader reader = readDataSourceKey);

}  // namespace xlsodbc
