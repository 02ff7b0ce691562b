// Translation of the statements users and their tools write (ODBC escapes
// and the dialect of spreadsheet queries) into the engine's dialect, token
// by token, never inside a literal: {d '...'} {t} {ts} {fn ...} {oj ...}
// {escape '...'}, #1/15/2024# dates (month first), TOP n [PERCENT],
// & concatenation, MOD, \ and ^, [..] and `..` quoting, bare ranges
// (Sheet1$A1:C10, Sheet1!Name), a catalogue qualifier equal to the
// workbook's path, True and False, ALIKE, DISTINCTROW.
#pragma once

#include <string>
#include <string_view>

namespace sql {

// The statement in the engine's dialect. `catalog` is the name that a
// qualifier before a table may give the workbook (its path). Throws Error:
// Syntax naming what cannot be translated, ReadOnly for a statement that
// would write.
std::u16string rewrite(std::u16string_view statement, std::u16string_view catalog);

// The longest statement accepted, in UTF-16 units.
constexpr size_t kMaxStatementLength = 1'000'000;

}  // namespace sql
