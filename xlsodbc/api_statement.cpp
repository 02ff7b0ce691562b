// Preparing and executing the statement and describing its result.
// Preparing resolves the table and reads the sheet, so a bad statement
// fails at SQLPrepare and the result can be described before SQLExecute
// (isql and pyodbc both ask).
#include "xlsodbc/api.h"
#include "xlsodbc/catalog.h"
#include "xlsodbc/engine_bridge.h"

#include "sql/rewriter.h"

#include <chrono>

namespace xlsodbc {
namespace {

void requireNoCursor(const Statement& s) {
    if (s.executed) {
        throw DriverError(State::InvalidCursorState,
                          "A result is still open on this statement; close it first");
    }
}

// The statement's result when it is run by the engine: its rows, or (for
// a statement with parameters that is not executed yet) only its columns.
std::unique_ptr<ResultSet> runQuery(Statement& s, const std::vector<sql::Value>& values) {
    struct Running {
        explicit Running(Statement& st) : s(st) {
            s.control.start(std::chrono::seconds(s.queryTimeout));
            s.running.store(true);
        }
        ~Running() { s.running.store(false); }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
        Statement& s;
    } running(s);
    return s.connection.tables->result(s.query->run(values, s.control, s.maxRows),
                                       s.query->columnOrigins());
}

std::unique_ptr<ResultSet> describedOnly(const sql::Query& query) {
    return unexecutedResult(query.columnNames());
}

// Prepares the statement's text. SELECT * FROM <table> naming a table of
// the workbook reads it directly; every other statement goes through the
// engine. A failure leaves the statement with neither a cursor nor a
// prepared result, also when the failure is the cursor left open: the
// driver manager moves the statement back to its allocated state after any
// failed prepare or execute, so a cursor kept open here could never be
// closed again through it.
void prepareText(Statement& s, const TextArg& text) {
    try {
        requireNoCursor(s);
        s.result.reset();
        s.query.reset();
        const std::u16string statement = text.str();
        std::optional<TableReference> table;
        try {
            table = parseSelect(statement);
        } catch (const DriverError& e) {
            if (e.state() != State::SyntaxError) {
                throw;
            }
        }
        const CatalogSource catalog = catalogOf(s.connection);
        if (table && findTable(catalog.workbook.tables(), *table)) {
            s.result = tableResult(catalog, *table);
            if (const std::string note = s.result->note(); !note.empty()) {
                s.diagnostics.add(State::GeneralWarning, note);
            }
            return;
        }
        try {
            const std::u16string native =
                sql::rewrite(statement, utf8ToUtf16(s.connection.path.string()));
            s.control.start(std::chrono::seconds(s.queryTimeout));
            s.running.store(true);
            struct Done {
                Statement& st;
                ~Done() { st.running.store(false); }
            } done{s};
            s.query = s.connection.engine().prepare(native, s.control);
            if (s.query->parameterCount() == 0) {
                s.result = runQuery(s, {});
            } else {
                s.result = describedOnly(*s.query);
            }
        } catch (const sql::Error& e) {
            // SELECT * FROM <name> that the engine cannot read either: the
            // name is what is wrong ([a]b$] needs no escape for its "]").
            if (table && e.kind() == sql::ErrorKind::Syntax) {
                s.result = tableResult(catalog, *table);
            }
            rethrowEngineError(e, statement);
        }
    } catch (...) {
        s.closeCursor();
        s.result.reset();
        s.query.reset();
        throw;
    }
}

// Runs a prepared engine statement that has parameters with the values
// bound now.
void executeWithParameters(Statement& s) {
    try {
        std::vector<std::u16string> texts;
        const std::vector<sql::Value> values =
            parameterValues(s, static_cast<size_t>(s.query->parameterCount()), texts);
        s.result = runQuery(s, values);
    } catch (const sql::Error& e) {
        s.result = describedOnly(*s.query);
        rethrowEngineError(e, u"");
    }
}

ResultSet& describedResult(Statement& s) {
    if (!s.result) {
        throw DriverError(State::SequenceError, "No statement has been prepared or executed");
    }
    return *s.result;
}

const ColumnInfo& describedColumn(Statement& s, SQLUSMALLINT column) {
    ResultSet& r = describedResult(s);
    if (column < 1 || column > r.columnCount()) {
        throw DriverError(State::InvalidColumnNumber,
                          "Column " + std::to_string(column) + " does not exist; the result has " +
                              std::to_string(r.columnCount()) + " columns");
    }
    return r.column(static_cast<uint16_t>(column - 1));
}

std::optional<SQLLEN> numericAttribute(Statement& s, SQLUSMALLINT column, SQLUSMALLINT field) {
    if (field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT) {
        return describedResult(s).columnCount();
    }
    const ColumnInfo& c = describedColumn(s, column);
    const auto size = static_cast<SQLLEN>(c.size);
    switch (field) {
        case SQL_DESC_TYPE:
        case SQL_DESC_CONCISE_TYPE:
            return c.sqlType;  // also ODBC 2's SQL_COLUMN_TYPE
        case SQL_DESC_LENGTH:
        case SQL_DESC_PRECISION:
        case SQL_COLUMN_PRECISION:
            return size;
        case SQL_DESC_DISPLAY_SIZE:
            return c.sqlType == SQL_WVARCHAR || c.sqlType == SQL_DOUBLE ||
                           c.sqlType == SQL_TYPE_DATE || c.sqlType == SQL_TYPE_TIMESTAMP ||
                           c.sqlType == SQL_BIT
                       ? static_cast<SQLLEN>(c.displaySize)
                       : (c.sqlType == SQL_SMALLINT ? 6 : 11);
        case SQL_DESC_OCTET_LENGTH:
        case SQL_COLUMN_LENGTH:
            return octetLength(c);
        case SQL_DESC_SCALE:
        case SQL_COLUMN_SCALE:
            return 0;
        case SQL_DESC_NULLABLE:
        case SQL_COLUMN_NULLABLE:
            return c.nullable;
        case SQL_DESC_UNSIGNED:
            return c.sqlType == SQL_WVARCHAR ? SQL_TRUE : SQL_FALSE;
        case SQL_DESC_SEARCHABLE:
            return SQL_PRED_SEARCHABLE;
        case SQL_DESC_UPDATABLE:
            return SQL_ATTR_READONLY;
        case SQL_DESC_AUTO_UNIQUE_VALUE:
        case SQL_DESC_CASE_SENSITIVE:
        case SQL_DESC_FIXED_PREC_SCALE:
            return SQL_FALSE;
        case SQL_DESC_NUM_PREC_RADIX:
            return c.sqlType == SQL_WVARCHAR ? 0 : 10;
        case SQL_DESC_UNNAMED:
            return SQL_NAMED;
        default:
            return std::nullopt;
    }
}

std::optional<std::u16string> textAttribute(Statement& s, SQLUSMALLINT column, SQLUSMALLINT field) {
    const ColumnInfo& c = describedColumn(s, column);
    switch (field) {
        case SQL_DESC_NAME:
        case SQL_COLUMN_NAME:
        case SQL_DESC_LABEL:
        case SQL_DESC_BASE_COLUMN_NAME:
            return c.name;
        case SQL_DESC_TYPE_NAME:
        case SQL_DESC_LOCAL_TYPE_NAME:
            return typeName(c.sqlType);
        case SQL_DESC_TABLE_NAME:
        case SQL_DESC_BASE_TABLE_NAME:
            return s.result->table();
        case SQL_DESC_CATALOG_NAME:
            return utf8ToUtf16(s.connection.path.string());
        case SQL_DESC_SCHEMA_NAME:
            return u"";
        case SQL_DESC_LITERAL_PREFIX:
        case SQL_DESC_LITERAL_SUFFIX:
            return c.sqlType == SQL_WVARCHAR ? u"'" : u"";
        default:
            return std::nullopt;
    }
}

}  // namespace

SQLRETURN prepare(SQLHSTMT stmt, const TextArg& text) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        prepareText(s, text);
        return SQL_SUCCESS;
    });
}

SQLRETURN execute(SQLHSTMT stmt) noexcept {
    return guard<Statement>(stmt, [](Statement& s) {
        describedResult(s);
        requireNoCursor(s);
        s.closeCursor();
        if (s.query && s.query->parameterCount() > 0) {
            executeWithParameters(s);
        }
        s.executed = true;
        return SQL_SUCCESS;
    });
}

SQLRETURN execDirect(SQLHSTMT stmt, const TextArg& text) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        prepareText(s, text);
        s.closeCursor();
        if (s.query && s.query->parameterCount() > 0) {
            executeWithParameters(s);
        }
        s.executed = true;
        return SQL_SUCCESS;
    });
}

SQLRETURN numResultCols(SQLHSTMT stmt, SQLSMALLINT* count) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        storeLength(count, describedResult(s).columnCount());
        return SQL_SUCCESS;
    });
}

SQLRETURN describeCol(SQLHSTMT stmt, SQLUSMALLINT column, const TextBuffer& name,
                      SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLULEN* size,
                      SQLSMALLINT* digits, SQLSMALLINT* nullable) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        const ColumnInfo& c = describedColumn(s, column);
        const Written w = writeText(c.name, name);
        const bool lengthFits = storeLength(nameLength, w.length);
        storeLength(type, c.sqlType);
        storeLength(size, static_cast<SQLLEN>(c.size));
        storeLength(digits, 0);
        storeLength(nullable, c.nullable);
        if (w.truncated || !lengthFits) {
            s.diagnostics.add(State::Truncated, "The column name was cut to fit its buffer");
        }
        return SQL_SUCCESS;
    });
}

SQLRETURN colAttribute(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                       const TextBuffer& text, SQLSMALLINT* textLength, SQLLEN* number) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        if (const auto n = numericAttribute(s, column, field)) {
            storeLength(number, *n);
            return SQL_SUCCESS;
        }
        if (const auto t = textAttribute(s, column, field)) {
            const Written w = writeText(*t, text);
            if (!storeLength(textLength, w.length) || w.truncated) {
                s.diagnostics.add(State::Truncated,
                                  "The attribute's text was cut to fit its buffer");
            }
            return SQL_SUCCESS;
        }
        throw DriverError(State::InvalidDescriptorField,
                          "The column attribute " + std::to_string(field) + " is not known");
    });
}

SQLRETURN rowCount(SQLHSTMT stmt, SQLLEN* count) noexcept {
    // The number of rows of the result, known as soon as it is executed.
    return guard<Statement>(stmt, [&](Statement& s) {
        SQLLEN rows = s.result ? static_cast<SQLLEN>(s.result->rowCount()) : -1;
        if (s.maxRows != 0 && rows > static_cast<SQLLEN>(s.maxRows)) {
            rows = static_cast<SQLLEN>(s.maxRows);
        }
        storeLength(count, rows);
        return SQL_SUCCESS;
    });
}

SQLRETURN moreResults(SQLHSTMT stmt) noexcept {
    return guard<Statement>(stmt, [](Statement& s) -> SQLRETURN {
        s.closeCursor();
        return SQL_NO_DATA;
    });
}

SQLRETURN closeCursor(SQLHSTMT stmt) noexcept {
    return guard<Statement>(stmt, [](Statement& s) {
        if (!s.executed) {
            throw DriverError(State::InvalidCursorState, "No result is open on this statement");
        }
        s.closeCursor();
        return SQL_SUCCESS;
    });
}

SQLRETURN cancel(SQLHSTMT stmt) noexcept {
    // A statement the engine is running on another thread is asked to stop
    // (without the handle's lock, which that thread holds); it then fails
    // with HY008. Otherwise there is no call in progress to stop: ODBC then
    // makes SQLCancel close the cursor, as SQLFreeStmt(SQL_CLOSE) does, and
    // the driver manager counts on it.
    if (const std::shared_ptr<Statement> running = asStatement(stmt);
        running != nullptr && running->running.load()) {
        running->control.cancel();
        return SQL_SUCCESS;
    }
    return guard<Statement>(stmt, [](Statement& s) {
        s.closeCursor();
        return SQL_SUCCESS;
    });
}

}  // namespace xlsodbc
