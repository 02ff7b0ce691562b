// The SQL engine of one connection: a private in-memory SQLite database
// (UTF-16) in which each table a statement names is declared on first
// reference, under exactly the name the statement uses, as a virtual table
// that reads its source where it lies. Values keep one
// type each (numbers REAL, everything else TEXT, empty cells NULL); text
// compares case-insensitively (Unicode case folding). Statements may only
// read: an authorizer refuses writes, ATTACH, PRAGMA and extension loading.
#pragma once

#include "sql/text_table.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sql {

enum class ErrorKind : uint8_t {
    Syntax,      // the statement cannot be read or translated
    ReadOnly,    // it would write, attach or change a setting
    Parameters,  // the parameters given do not match its markers
    Timeout,     // the query timeout ran out
    Cancelled,   // another thread cancelled it
    Limit,       // a limit of the engine was reached
    Failed,      // it failed while running
};

// The message is UTF-8 English, in words a user understands.
class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), m_kind(kind) {}
    [[nodiscard]] ErrorKind kind() const noexcept { return m_kind; }

private:
    ErrorKind m_kind;
};

// One value of a source table or of a parameter.
struct Value {
    enum class Kind : uint8_t { Null, Number, Integer, Text };
    Kind kind = Kind::Null;
    double number = 0;
    int64_t integer = 0;
    std::u16string_view text;
};

// A table the engine reads: its column names and its rows of values.
class SourceTable {
public:
    virtual ~SourceTable() = default;
    [[nodiscard]] virtual const std::vector<std::u16string>& columns() const = 0;
    [[nodiscard]] virtual uint32_t rowCount() const = 0;
    // Fills `values` (one per column) with row `row`, the columns
    // `wanted` says only (the others are left as they are); texts stay
    // valid until the next call.
    virtual void readRow(uint32_t row, std::vector<Value>& values,
                         const std::vector<bool>& wanted) = 0;
};

// Finds the tables statements name.
class TableResolver {
public:
    virtual ~TableResolver() = default;
    // The table a statement calls `name` (its quotes removed); nullptr when
    // there is none.
    virtual std::unique_ptr<SourceTable> open(std::u16string_view name) = 0;
    // Throws the error that reports a table that does not exist.
    [[noreturn]] virtual void missing(std::u16string_view name) = 0;
};

// What stops a running statement: a deadline, and a cancel request that
// any thread may make while the statement runs.
class Control {
public:
    void cancel() noexcept { m_cancelled.store(true); }
    // Clears an earlier cancel request; `timeout` 0 means none.
    void start(std::chrono::milliseconds timeout) noexcept;
    // True (and the reason recorded) once the statement must stop.
    bool shouldStop() noexcept;
    [[nodiscard]] ErrorKind reason() const noexcept { return m_reason; }

private:
    std::atomic<bool> m_cancelled{false};
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
    ErrorKind m_reason = ErrorKind::Cancelled;
};

// A result column that passes one table's column through unchanged.
struct ColumnOrigin {
    std::u16string table;  // the table's name as the statement wrote it
    std::u16string column;
};

class Query;

class Engine {
public:
    explicit Engine(TableResolver& tables);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Compiles one statement in the engine's own dialect (see rewriter.h),
    // declaring the tables it names first. Throws Error, or what the
    // resolver throws for an unknown table.
    std::unique_ptr<Query> prepare(std::u16string_view text, Control& control);

    struct Impl;

private:
    std::unique_ptr<Impl> m;
};

// A compiled statement. It belongs to its engine, which must outlive it.
class Query {
public:
    Query(Engine::Impl& engine, void* statement);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    [[nodiscard]] int parameterCount() const;
    [[nodiscard]] const std::vector<std::u16string>& columnNames() const { return m_names; }
    // For each result column, the table column it passes through; nullopt
    // for a computed one (an expression, an aggregate, a literal).
    [[nodiscard]] const std::vector<std::optional<ColumnOrigin>>& columnOrigins() const {
        return m_origins;
    }
    // Runs the statement with its parameters bound, every row read into a
    // table of texts: numbers with at most 15 significant digits, whole
    // numbers (counts) as integers. `maxRows` 0 reads every row.
    TextTable run(const std::vector<Value>& parameters, Control& control, uint64_t maxRows = 0);

private:
    Engine::Impl& m_engine;
    void* m_statement;
    std::vector<std::u16string> m_names;
    std::vector<std::optional<ColumnOrigin>> m_origins;
};

}  // namespace sql
