// The driver's side of the SQL engine: the workbook's tables as the
// engine's source tables, the engine's errors as diagnostics, and an
// engine result as a result set.
#pragma once

#include "xlsodbc/catalog.h"
#include "xlsodbc/result_set.h"

#include "sql/engine.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xlsodbc {

// Finds a statement's tables in a connection's workbook: every form the
// fast path accepts (Sheet1$, 'My Sheet$', Sheet1$A1:C10, a defined name,
// Sheet1!Name, Sheet1!A1:C10).
class WorkbookTables final : public sql::TableResolver {
public:
    explicit WorkbookTables(CatalogSource source) : m_source(source) {}
    std::unique_ptr<sql::SourceTable> open(std::u16string_view name) override;
    [[noreturn]] void missing(std::u16string_view name) override;
    // An engine result as a result set, as the workbook's options say.
    // Values=Displayed: each value that a column of the result passes
    // through from a table's column is written as the first number or date
    // cell of that column with that value shows it; computed values keep
    // the engine's texts. Types=Detected: such a column is described as its
    // table's column is, when each of its values has that type.
    std::unique_ptr<ResultSet> result(sql::TextTable table,
                                      const std::vector<std::optional<sql::ColumnOrigin>>& origins);

private:
    CatalogSource m_source;
};

// Runs `body`, turning the engine's errors into DriverError.
[[noreturn]] void rethrowEngineError(const sql::Error& e, std::u16string_view statement);

// A result set over an engine result: every column nullable, text unless
// `kinds` says what every value of it is.
std::unique_ptr<ResultSet> engineResult(sql::TextTable table, std::vector<Grid::Kind> kinds = {});

// The description of a statement with parameters before it is executed:
// its columns, each as wide as a cell's longest text.
std::unique_ptr<ResultSet> unexecutedResult(const std::vector<std::u16string>& names);

}  // namespace xlsodbc
