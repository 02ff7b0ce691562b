// Values as text: numbers as Excel's General format shows them (15
// significant digits), dates and times in ISO 8601, error codes as Excel's
// texts; and the decision which number formats are dates or times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "xls/types.h"

namespace xls::detail {

// Number for a plain number format, else the date/time kind.
CellType classifyFormat(std::u16string_view format);
// The kind of a built-in format id that no FORMAT record defines.
CellType builtinFormatKind(uint16_t id);

void renderNumber(double value, std::u16string& out);
// Date, Time or DateTime kinds; falls back to the number for values
// outside the calendar (negative, or past 9999-12-31).
void renderDateTime(double serial, CellType kind, bool date1904, std::u16string& out);
// The lengths of those texts (all ASCII), without writing them.
size_t numberLength(double value);
size_t dateTimeLength(double serial, CellType kind, bool date1904);
std::string_view errorText(uint8_t code);

}  // namespace xls::detail
