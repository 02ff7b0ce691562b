// The one statement the driver runs: SELECT * FROM <table>, keywords in any
// case, any white space, an optional trailing ";". The table is written
// [...], `...`, "..." or bare; inside, Name$ or 'Name$' is a worksheet,
// Name$A1:D20 a range of one, Sheet1!Name or 'My Sheet'!Name a defined
// name of one sheet, anything else a defined name.
#pragma once

#include "xlsodbc/provider.h"

#include <optional>
#include <string>
#include <string_view>

namespace xlsodbc {

struct TableReference {
    std::u16string written;  // the table as the statement writes it, delimiters removed
    std::u16string name;     // the worksheet's name (without "$") or the defined name
    bool worksheet = false;
    std::optional<CellRange> range;  // a range of the worksheet
    std::u16string scope;            // Sheet1!Name: the sheet a defined name belongs to
};

// Throws DriverError (42000) naming what is accepted.
TableReference parseSelect(std::u16string_view statement);

// The table text between delimiters (or bare) read as a worksheet, range
// or defined name. Throws DriverError (42000) for a malformed range.
TableReference parseTableName(std::u16string_view table);

// "A1:D20" or "A1" (letters in any case); nullopt when malformed or past
// the limits of a worksheet (65,536 rows, 256 columns).
std::optional<CellRange> parseCellRange(std::u16string_view text);

}  // namespace xlsodbc
