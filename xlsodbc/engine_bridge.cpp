// Workbook tables for the engine, and its results and errors for the driver.
#include "xlsodbc/engine_bridge.h"

#include "xlsodbc/diagnostics.h"
#include "xlsodbc/text.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace xlsodbc {
namespace {

// What one column of a result shows under Values=Displayed: its distinct
// texts that may be a number's or a date's contract text (views into the
// result), each with what its table shows for it once seen, and for each
// row which of them it holds. The texts are kept in an open-addressing
// table of hashes, so that a lookup reads only the text it compares: a
// result's texts lie all over its memory.
class ShownTexts {
public:
    struct Shown {
        bool seen = false;
        std::optional<std::u16string> text;
    };

    ShownTexts() = default;
    explicit ShownTexts(uint32_t rows) : m_rowEntry(rows, 0) {
        size_t slots = 16;
        while (slots < 2 * static_cast<size_t>(rows)) {
            slots *= 2;
        }
        m_slots.assign(slots, Slot{});
    }
    // Notes that row `row` holds `text`.
    void add(uint32_t row, std::u16string_view text) {
        if (!maybeNumber(text)) {
            return;
        }
        const size_t h = hash(text);
        Slot& slot = probe(h, text);
        if (slot.entry == 0) {
            m_entries.push_back({text, {}});
            slot = Slot{static_cast<uint32_t>(h), static_cast<uint32_t>(m_entries.size())};
        }
        m_rowEntry[row] = slot.entry;
    }
    [[nodiscard]] size_t size() const { return m_entries.size(); }
    // The entry of `text`; nullptr when no row holds it.
    Shown* find(std::u16string_view text) {
        const Slot& slot = probe(hash(text), text);
        return slot.entry == 0 ? nullptr : &m_entries[slot.entry - 1].shown;
    }
    // What row `row` shows, once its text was seen in the table.
    [[nodiscard]] const Shown* atRow(uint32_t row) const {
        const uint32_t entry = row < m_rowEntry.size() ? m_rowEntry[row] : 0;
        const Shown* shown = entry == 0 ? nullptr : &m_entries[entry - 1].shown;
        return shown != nullptr && shown->seen ? shown : nullptr;
    }

private:
    struct Slot {
        uint32_t hash = 0;   // the low half of the text's hash
        uint32_t entry = 0;  // its entry's number + 1; 0: empty
    };
    struct Entry {
        std::u16string_view text;
        Shown shown;
    };
    static size_t hash(std::u16string_view text) { return std::hash<std::u16string_view>{}(text); }
    // Contract texts of numbers, dates and times are made of these only.
    static bool maybeNumber(std::u16string_view text) {
        return std::all_of(text.begin(), text.end(), [](char16_t c) {
            return (c >= u'0' && c <= u'9') || c == u'-' || c == u'+' || c == u'.' || c == u'E' ||
                   c == u':' || c == u' ';
        });
    }
    // The slot of `text`, or the empty one where it would go.
    Slot& probe(size_t h, std::u16string_view text) {
        const size_t mask = m_slots.size() - 1;
        const auto low = static_cast<uint32_t>(h);
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (slot.entry == 0 || (slot.hash == low && m_entries[slot.entry - 1].text == text)) {
                return slot;
            }
        }
    }

    std::vector<Slot> m_slots;  // at most half full
    std::vector<Entry> m_entries;
    std::vector<uint32_t> m_rowEntry;
};

// A worksheet, range or defined name as rows of typed values: plain numbers
// as numbers, every other value as its contract text (also where the
// connection shows numbers as their formats do: the engine compares, sorts
// and computes on values, never on what a format makes of them).
class GridTable final : public sql::SourceTable {
public:
    GridTable(std::unique_ptr<Grid> grid, bool firstRowHasNames) : m_grid(std::move(grid)) {
        // The same column names as the table's result set.
        std::vector<std::optional<std::u16string>> headers(m_grid->columnCount());
        if (firstRowHasNames && m_grid->rowCount() > 0) {
            m_grid->seek(0);
            for (uint16_t c = 0; c < m_grid->columnCount(); ++c) {
                if (const auto text = m_grid->field(c)) {
                    headers[c] = std::u16string(*text);
                }
            }
            m_firstDataRow = 1;
        }
        m_columns = columnNames(headers);
        m_texts.resize(m_columns.size());
    }

    [[nodiscard]] const std::vector<std::u16string>& columns() const override { return m_columns; }
    [[nodiscard]] uint32_t rowCount() const override { return m_grid->rowCount() - m_firstDataRow; }
    void readRow(uint32_t row, std::vector<sql::Value>& values,
                 const std::vector<bool>& wanted) override {
        m_grid->seek(row + m_firstDataRow);
        const auto columns = static_cast<uint16_t>(values.size());
        for (uint16_t c = 0; c < columns; ++c) {
            if (!wanted[c]) {
                continue;
            }
            sql::Value& v = values[c];
            if (const auto number = m_grid->plainNumber(c)) {
                v.kind = sql::Value::Kind::Number;
                v.number = *number;
            } else if (const auto text = m_grid->contractField(c)) {
                // The grid may reuse its buffer: keep this row's texts apart.
                m_texts[c].assign(*text);
                v.kind = sql::Value::Kind::Text;
                v.text = m_texts[c];
            } else {
                v.kind = sql::Value::Kind::Null;
            }
        }
    }

    // What every value of each column is (a pass over the table).
    std::vector<Grid::Kind> kinds() {
        std::vector<Grid::Kind> kinds;
        for (const Grid::Extent& extent : m_grid->longestTexts(m_firstDataRow)) {
            kinds.push_back(extent.kind);
        }
        return kinds;
    }

    // The column named `name`; nullopt when there is none.
    [[nodiscard]] std::optional<uint16_t> columnIndex(std::u16string_view name) const {
        const auto found = std::find(m_columns.begin(), m_columns.end(), name);
        if (found == m_columns.end()) {
            return std::nullopt;
        }
        return static_cast<uint16_t>(found - m_columns.begin());
    }

    // For each column and each contract text of its map not yet seen,
    // what the grid shows for the first cell of that column that holds a
    // number or date with that text (nullopt when its format shows
    // nothing). One pass over the rows for
    // all the columns.
    void showAsGrid(const std::vector<std::pair<uint16_t, ShownTexts*>>& columns) {
        size_t unseen = 0;
        for (const auto& [column, shown] : columns) {
            unseen += shown->size();
        }
        for (uint32_t row = m_firstDataRow; row < m_grid->rowCount() && unseen > 0; ++row) {
            m_grid->seek(row);
            for (const auto& [column, shown] : columns) {
                if (!m_grid->formatted(column)) {
                    continue;
                }
                const auto key = m_grid->contractField(column);
                ShownTexts::Shown* entry = key ? shown->find(*key) : nullptr;
                if (entry == nullptr || entry->seen) {
                    continue;
                }
                entry->seen = true;
                --unseen;
                if (const auto text = m_grid->field(column)) {
                    entry->text = std::u16string(*text);
                }
            }
        }
    }

private:
    std::unique_ptr<Grid> m_grid;
    std::vector<std::u16string> m_columns;
    std::vector<std::u16string> m_texts;
    uint32_t m_firstDataRow = 0;
};

// An engine result as a grid.
class EngineGrid final : public Grid {
public:
    // `kinds`: what every value of each column is (empty: all text).
    explicit EngineGrid(sql::TextTable table, std::vector<Kind> kinds = {})
        : m_table(std::move(table)), m_kinds(std::move(kinds)) {}
    [[nodiscard]] uint32_t rowCount() const override { return m_table.rowCount(); }
    [[nodiscard]] uint16_t columnCount() const override {
        return static_cast<uint16_t>(m_table.columns().size());
    }
    void seek(uint32_t row) override { m_row = row; }
    std::optional<std::u16string_view> field(uint16_t col) override {
        return m_table.cell(m_row, col);
    }
    std::vector<Extent> longestTexts(uint32_t fromRow) override {
        std::vector<Extent> longest = Grid::longestTexts(fromRow);
        for (size_t c = 0; c < longest.size() && c < m_kinds.size(); ++c) {
            longest[c].kind = m_kinds[c];
        }
        return longest;
    }

private:
    sql::TextTable m_table;
    std::vector<Kind> m_kinds;
    uint32_t m_row = 0;
};

// True when `text` is a value of that kind as the contract writes it, so
// that a typed column's texts convert to its type.
bool isOfKind(std::u16string_view text, Grid::Kind kind) {
    const auto digits = [&](size_t from, size_t count) {
        return text.size() >= from + count &&
               std::all_of(text.begin() + static_cast<ptrdiff_t>(from),
                           text.begin() + static_cast<ptrdiff_t>(from + count),
                           [](char16_t c) { return c >= u'0' && c <= u'9'; });
    };
    const auto isDate = [&] {
        return digits(0, 4) && text[4] == u'-' && digits(5, 2) && text[7] == u'-' && digits(8, 2);
    };
    switch (kind) {
        case Grid::Kind::Number: {
            std::string ascii;
            for (const char16_t c : text) {
                if (c > 0x7F) {
                    return false;
                }
                ascii += static_cast<char>(c);
            }
            double value = 0;
            const auto [end, error] =
                std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
            return error == std::errc() && end == ascii.data() + ascii.size();
        }
        case Grid::Kind::Date:
            return text.size() == 10 && isDate();
        case Grid::Kind::DateTime:
            return (text.size() == 10 && isDate()) ||
                   (text.size() == 19 && isDate() && text[10] == u' ' && digits(11, 2) &&
                    text[13] == u':' && digits(14, 2) && text[16] == u':' && digits(17, 2));
        case Grid::Kind::Boolean:
            return text == u"TRUE" || text == u"FALSE";
        case Grid::Kind::Text:
            return true;
    }
    return false;
}

// A statement as a message quotes it: escaped, and its middle left out
// past 200 bytes.
std::string shortened(std::u16string_view text) {
    constexpr size_t kLimit = 200;
    return echo(text, kLimit);
}

}  // namespace

std::unique_ptr<sql::SourceTable> WorkbookTables::open(std::u16string_view name) {
    if (name.empty()) {
        return nullptr;
    }
    TableReference ref;
    try {
        ref = parseTableName(name);
    } catch (const DriverError&) {
        return nullptr;
    }
    // Sheet1!A1:C10: a range of a sheet written with "!".
    if (!ref.worksheet && !ref.scope.empty()) {
        if (const auto range = parseCellRange(ref.name)) {
            ref.worksheet = true;
            ref.name = ref.scope;
            ref.range = range;
            ref.scope.clear();
        }
    }
    const auto index = findTable(m_source.workbook.tables(), ref);
    if (!index) {
        return nullptr;
    }
    return std::make_unique<GridTable>(m_source.workbook.open(*index, ref.range),
                                       m_source.firstRowHasNames);
}

std::unique_ptr<ResultSet> WorkbookTables::result(
    sql::TextTable table, const std::vector<std::optional<sql::ColumnOrigin>>& origins) {
    const ReadOptions options = m_source.workbook.options();
    if (options.values != Values::Displayed && !options.detectTypes) {
        return engineResult(std::move(table));
    }
    const uint32_t rows = table.rowCount();
    const size_t columnCount = std::min(origins.size(), table.columns().size());
    // The keys are views into `table`, which stays unchanged meanwhile.
    std::vector<ShownTexts> shownTexts(columnCount);
    std::vector<Grid::Kind> kinds(columnCount, Grid::Kind::Text);
    // The result columns each table passes through, so that a table is
    // opened and read once.
    std::map<std::u16string_view, std::vector<size_t>> byTable;
    for (size_t c = 0; c < columnCount; ++c) {
        if (origins[c]) {
            byTable[origins[c]->table].push_back(c);
        }
    }
    bool shown = false;
    for (const auto& [name, resultColumns] : byTable) {
        const std::unique_ptr<sql::SourceTable> source = open(name);
        auto* grid = dynamic_cast<GridTable*>(source.get());
        if (grid == nullptr) {
            continue;
        }
        // Types first: a typed column reads its contract texts.
        const std::vector<Grid::Kind> sourceKinds =
            options.detectTypes ? grid->kinds() : std::vector<Grid::Kind>();
        std::vector<std::pair<uint16_t, ShownTexts*>> columns;
        for (const size_t c : resultColumns) {
            const auto column = grid->columnIndex(origins[c]->column);
            if (!column) {
                continue;
            }
            if (*column < sourceKinds.size()) {
                kinds[c] = sourceKinds[*column];
            }
            if (options.values == Values::Displayed) {
                shownTexts[c] = ShownTexts(rows);
                for (uint32_t row = 0; row < rows; ++row) {
                    if (const auto text = table.cell(row, c)) {
                        shownTexts[c].add(row, *text);
                    }
                }
                columns.emplace_back(*column, &shownTexts[c]);
            }
        }
        grid->showAsGrid(columns);
        shown = shown || !columns.empty();
    }
    // A column keeps its source's type only when each of its values has it
    // (the later selects of a UNION may bring others).
    for (size_t c = 0; c < columnCount; ++c) {
        for (uint32_t row = 0; row < rows && kinds[c] != Grid::Kind::Text; ++row) {
            if (const auto text = table.cell(row, c); text && !isOfKind(*text, kinds[c])) {
                kinds[c] = Grid::Kind::Text;
            }
        }
    }
    if (!shown) {
        return engineResult(std::move(table), std::move(kinds));
    }
    sql::TextTable out(table.columns());
    for (uint32_t row = 0; row < rows; ++row) {
        for (size_t c = 0; c < table.columns().size(); ++c) {
            const auto text = table.cell(row, c);
            const ShownTexts::Shown* entry = c < columnCount ? shownTexts[c].atRow(row) : nullptr;
            const auto& cell = entry != nullptr ? entry->text : text;
            if (cell) {
                out.add(*cell);
            } else {
                out.addNull();
            }
        }
    }
    return engineResult(std::move(out), std::move(kinds));
}

void WorkbookTables::missing(std::u16string_view name) {
    // A malformed range is reported as such (42000); anything else as a
    // table that does not exist, with the list of those that do (42S02).
    TableReference ref = parseTableName(name);
    ref.written = std::u16string(name);
    if (!ref.worksheet || !findTable(m_source.workbook.tables(), ref)) {
        ref.worksheet = false;
        ref.name = std::u16string(name);
        ref.scope.clear();
    }
    tableResult(m_source, ref);
    throw DriverError(State::TableNotFound,
                      "The table \"" + echo(name) + "\" does not exist in the workbook");
}

void rethrowEngineError(const sql::Error& e, std::u16string_view statement) {
    const std::string where = " (in \"" + shortened(statement) + "\")";
    switch (e.kind()) {
        case sql::ErrorKind::Syntax:
            throw DriverError(State::SyntaxError, std::string("Syntax error: ") + e.what() + where);
        case sql::ErrorKind::ReadOnly:
            throw DriverError(State::SyntaxError, std::string(e.what()) + where);
        case sql::ErrorKind::Parameters:
            throw DriverError(State::WrongParameterCount, e.what());
        case sql::ErrorKind::Timeout:
            throw DriverError(State::Timeout, e.what());
        case sql::ErrorKind::Cancelled:
            throw DriverError(State::Cancelled, e.what());
        case sql::ErrorKind::Limit:
            throw DriverError(State::SyntaxError, std::string(e.what()) + where);
        case sql::ErrorKind::Failed:
            break;
    }
    throw DriverError(State::GeneralError,
                      std::string("The statement failed: ") + e.what() + where);
}

std::unique_ptr<ResultSet> engineResult(sql::TextTable table, std::vector<Grid::Kind> kinds) {
    std::vector<ColumnInfo> columns;
    for (const std::u16string& name : table.columns()) {
        columns.push_back(ColumnInfo{name, SQL_WVARCHAR, 1, 1, SQL_NULLABLE});
    }
    return std::make_unique<ResultSet>(
        std::move(columns), std::make_unique<EngineGrid>(std::move(table), std::move(kinds)), 0,
        false, u"");
}

std::unique_ptr<ResultSet> unexecutedResult(const std::vector<std::u16string>& names) {
    // Before its parameters are known a statement's values are not: each
    // column is described as wide as a cell's text may be, so that a
    // client that sizes its buffers now (PHP) loses nothing.
    constexpr SQLULEN kLongestCell = 32767;
    std::vector<ColumnInfo> columns;
    columns.reserve(names.size());
    for (const std::u16string& name : names) {
        columns.push_back(ColumnInfo{name, SQL_WVARCHAR, kLongestCell, kLongestCell, SQL_NULLABLE});
    }
    return std::make_unique<ResultSet>(
        std::move(columns), std::make_unique<EngineGrid>(sql::TextTable(names)), 0, true, u"");
}

}  // namespace xlsodbc
