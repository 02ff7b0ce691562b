// Statement attributes (SQLSetStmtAttr, SQLGetStmtAttr): the statement's
// table of attributes (see attributes.h).
#include "xlsodbc/api.h"
#include "xlsodbc/attributes.h"

namespace xlsodbc {
namespace {

constexpr AttributeType kLength = AttributeType::Length;
constexpr AttributeType kPointer = AttributeType::Pointer;

// Attributes kept only so that the application reads back what it set:
// the driver has no parameters, bookmarks or positioned updates for them
// to act on.
SQLULEN readKept(const Statement& s, const Attribute<Statement>& a) {
    const auto it = s.keptAttributes.find(a.id);
    return it == s.keptAttributes.end() ? a.value : it->second;
}

void writeKept(Statement& s, SQLULEN value, const Attribute<Statement>& a) {
    s.keptAttributes[a.id] = value;
}

constexpr Attribute<Statement> kept(SQLINTEGER id, AttributeType type, SQLULEN initial = 0) {
    return {.read = readKept, .write = writeKept, .value = initial, .id = id, .type = type};
}

void writeRowArraySize(Statement& s, SQLULEN value, const Attribute<Statement>& /*a*/) {
    if (value == 0) {
        throw DriverError(State::InvalidAttributeValue, "The row array size must be at least 1");
    }
    s.rowArraySize = value;
}

void writeRetrieveData(Statement& s, SQLULEN value, const Attribute<Statement>& /*a*/) {
    if (value != SQL_RD_ON && value != SQL_RD_OFF) {
        throw DriverError(State::InvalidAttributeValue,
                          "SQL_ATTR_RETRIEVE_DATA is SQL_RD_ON or SQL_RD_OFF");
    }
    s.retrieveData = value;
}

SQLULEN readRowNumber(const Statement& s, const Attribute<Statement>& /*a*/) {
    return s.currentRow ? *s.currentRow + 1 : 0;
}

// Fixed attributes say what the driver is: a forward-only, read-only cursor
// without parameters. Catalogue arguments are always patterns, whatever
// SQL_ATTR_METADATA_ID says.
constexpr Attribute<Statement> kEntries[] = {
    stored<&Statement::rowArraySize>(SQL_ATTR_ROW_ARRAY_SIZE, kLength, writeRowArraySize),
    stored<&Statement::rowArraySize>(SQL_ROWSET_SIZE, kLength, writeRowArraySize),
    stored<&Statement::rowsFetched>(SQL_ATTR_ROWS_FETCHED_PTR, kPointer),
    stored<&Statement::rowStatus>(SQL_ATTR_ROW_STATUS_PTR, kPointer),
    stored<&Statement::bindType>(SQL_ATTR_ROW_BIND_TYPE, kLength),
    stored<&Statement::bindOffset>(SQL_ATTR_ROW_BIND_OFFSET_PTR, kPointer),
    stored<&Statement::maxRows>(SQL_ATTR_MAX_ROWS, kLength),
    stored<&Statement::queryTimeout>(SQL_ATTR_QUERY_TIMEOUT, kLength),
    stored<&Statement::noScan>(SQL_ATTR_NOSCAN, kLength),
    stored<&Statement::retrieveData>(SQL_ATTR_RETRIEVE_DATA, kLength, writeRetrieveData),
    accepted<Statement>(SQL_ATTR_METADATA_ID, kLength, SQL_FALSE),
    computed<Statement>(SQL_ATTR_ROW_NUMBER, kLength, readRowNumber),
    fixed<Statement>(SQL_ATTR_MAX_LENGTH, kLength, 0, "Values are never cut to a maximum length"),
    fixed<Statement>(SQL_ATTR_PARAMSET_SIZE, kLength, 1,
                     "Statements take no parameters: the parameter set size is 1"),
    fixed<Statement>(SQL_ATTR_KEYSET_SIZE, kLength, 0,
                     "The cursor is forward-only: it has no keyset"),
    fixed<Statement>(SQL_ATTR_ENABLE_AUTO_IPD, kLength, SQL_FALSE,
                     "Statements take no parameters to describe"),
    fixed<Statement>(SQL_ATTR_CURSOR_TYPE, kLength, SQL_CURSOR_FORWARD_ONLY,
                     "The cursor is always forward-only"),
    fixed<Statement>(SQL_ATTR_CONCURRENCY, kLength, SQL_CONCUR_READ_ONLY,
                     "The cursor is always read-only"),
    fixed<Statement>(SQL_ATTR_CURSOR_SCROLLABLE, kLength, SQL_NONSCROLLABLE,
                     "The cursor is never scrollable"),
    fixed<Statement>(SQL_ATTR_CURSOR_SENSITIVITY, kLength, SQL_INSENSITIVE,
                     "The cursor is always insensitive"),
    fixed<Statement>(SQL_ATTR_USE_BOOKMARKS, kLength, SQL_UB_OFF, "Bookmarks are not supported"),
    fixed<Statement>(SQL_ATTR_ASYNC_ENABLE, kLength, SQL_ASYNC_ENABLE_OFF,
                     "Every call completes synchronously"),
    kept(SQL_ATTR_PARAM_BIND_TYPE, kLength, SQL_PARAM_BIND_BY_COLUMN),
    kept(SQL_ATTR_SIMULATE_CURSOR, kLength, SQL_SC_UNIQUE),
    kept(SQL_ATTR_PARAM_BIND_OFFSET_PTR, kPointer),
    kept(SQL_ATTR_PARAM_OPERATION_PTR, kPointer),
    kept(SQL_ATTR_PARAM_STATUS_PTR, kPointer),
    kept(SQL_ATTR_PARAMS_PROCESSED_PTR, kPointer),
    kept(SQL_ATTR_ROW_OPERATION_PTR, kPointer),
    kept(SQL_ATTR_FETCH_BOOKMARK_PTR, kPointer),
    // Descriptors are the driver manager's business for this driver.
    unsupported<Statement>(SQL_ATTR_APP_ROW_DESC, kPointer),
    unsupported<Statement>(SQL_ATTR_APP_PARAM_DESC, kPointer),
    unsupported<Statement>(SQL_ATTR_IMP_ROW_DESC, kPointer, true),
    unsupported<Statement>(SQL_ATTR_IMP_PARAM_DESC, kPointer, true),
    unsupported<Statement>(SQL_GET_BOOKMARK, kLength, true),
    unsupported<Statement>(SQL_ATTR_ASYNC_STMT_EVENT, kPointer),
};

constexpr AttributeTable<Statement> kStatementAttributes{"statement", kEntries};

}  // namespace

bool isStatementAttribute(SQLINTEGER id) {
    return kStatementAttributes.find(id) != nullptr;
}

SQLRETURN setStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                      SQLINTEGER /*length*/) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        return setAttribute(s, kStatementAttributes, attribute, value);
    });
}

SQLRETURN getStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                      SQLINTEGER* length) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        return getAttribute(s, kStatementAttributes, attribute, value, capacity, length);
    });
}

}  // namespace xlsodbc
