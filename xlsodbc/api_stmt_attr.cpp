// Statement attributes (SQLSetStmtAttr, SQLGetStmtAttr): one table says, for
// every attribute the driver knows, whether its value is a pointer, where
// the value lives and what setting it does, so that both directions read
// the same entry.
#include <cstring>
#include <string>
#include <type_traits>

#include "xlsodbc/api.h"

namespace xlsodbc {
namespace {

struct Attribute;
// The attribute's current value (a pointer travels as its bits).
using Reader = SQLULEN (*)(const Statement&, const Attribute&);
// Takes a value from the application, or throws DriverError.
using Writer = void (*)(Statement&, SQLULEN, const Attribute&);

struct Attribute {
    SQLINTEGER id;
    bool pointer;  // read back as a pointer rather than an SQLULEN
    Reader read;
    Writer write;                // null: the attribute can only be read
    SQLULEN value = 0;           // a fixed attribute's only value; a kept one's default
    const char* note = nullptr;  // why a fixed attribute keeps its value
};

template <class T>
SQLULEN toBits(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<SQLULEN>(value);
    } else {
        return static_cast<SQLULEN>(value);
    }
}

template <class T>
T fromBits(SQLULEN bits) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(bits);
    } else {
        return static_cast<T>(bits);
    }
}

// Attributes held in a member of the statement, which fetching reads.
template <auto Member>
SQLULEN readMember(const Statement& s, const Attribute& /*a*/) {
    return toBits(s.*Member);
}

template <auto Member>
void writeMember(Statement& s, SQLULEN value, const Attribute& /*a*/) {
    using T = std::remove_reference_t<decltype(s.*Member)>;
    s.*Member = fromBits<T>(value);
}

// Attributes fixed by what the driver is (a forward-only, read-only cursor
// without parameters): another value is answered with 01S02 and the fixed
// one stays.
SQLULEN readFixed(const Statement& /*s*/, const Attribute& a) {
    return a.value;
}

void writeFixed(Statement& s, SQLULEN value, const Attribute& a) {
    if (value != a.value) {
        s.diagnostics.add(State::OptionChanged, a.note);
    }
}

// Attributes kept only so that the application reads back what it set:
// the driver has no parameters, bookmarks or positioned updates for them
// to act on.
SQLULEN readKept(const Statement& s, const Attribute& a) {
    const auto it = s.keptAttributes.find(a.id);
    return it == s.keptAttributes.end() ? a.value : it->second;
}

void writeKept(Statement& s, SQLULEN value, const Attribute& a) {
    s.keptAttributes[a.id] = value;
}

void writeRowArraySize(Statement& s, SQLULEN value, const Attribute& /*a*/) {
    if (value == 0) {
        throw DriverError(State::InvalidAttributeValue, "The row array size must be at least 1");
    }
    s.rowArraySize = value;
}

void writeRetrieveData(Statement& s, SQLULEN value, const Attribute& /*a*/) {
    if (value != SQL_RD_ON && value != SQL_RD_OFF) {
        throw DriverError(State::InvalidAttributeValue,
                          "SQL_ATTR_RETRIEVE_DATA is SQL_RD_ON or SQL_RD_OFF");
    }
    s.retrieveData = value;
}

// Catalogue arguments are always patterns; the setting is accepted and
// changes nothing.
void writeIgnored(Statement& /*s*/, SQLULEN /*value*/, const Attribute& /*a*/) {}

SQLULEN readRowNumber(const Statement& s, const Attribute& /*a*/) {
    return s.currentRow ? *s.currentRow + 1 : 0;
}

constexpr Attribute kAttributes[] = {
    {SQL_ATTR_ROW_ARRAY_SIZE, false, readMember<&Statement::rowArraySize>, writeRowArraySize},
    {SQL_ROWSET_SIZE, false, readMember<&Statement::rowArraySize>, writeRowArraySize},
    {SQL_ATTR_ROWS_FETCHED_PTR, true, readMember<&Statement::rowsFetched>,
     writeMember<&Statement::rowsFetched>},
    {SQL_ATTR_ROW_STATUS_PTR, true, readMember<&Statement::rowStatus>,
     writeMember<&Statement::rowStatus>},
    {SQL_ATTR_ROW_BIND_TYPE, false, readMember<&Statement::bindType>,
     writeMember<&Statement::bindType>},
    {SQL_ATTR_ROW_BIND_OFFSET_PTR, true, readMember<&Statement::bindOffset>,
     writeMember<&Statement::bindOffset>},
    {SQL_ATTR_MAX_ROWS, false, readMember<&Statement::maxRows>, writeMember<&Statement::maxRows>},
    {SQL_ATTR_QUERY_TIMEOUT, false, readMember<&Statement::queryTimeout>,
     writeMember<&Statement::queryTimeout>},
    {SQL_ATTR_NOSCAN, false, readMember<&Statement::noScan>, writeMember<&Statement::noScan>},
    {SQL_ATTR_RETRIEVE_DATA, false, readMember<&Statement::retrieveData>, writeRetrieveData},
    {SQL_ATTR_METADATA_ID, false, readFixed, writeIgnored, SQL_FALSE},
    {SQL_ATTR_ROW_NUMBER, false, readRowNumber, nullptr},
    {SQL_ATTR_MAX_LENGTH, false, readFixed, writeFixed, 0,
     "Values are never cut to a maximum length"},
    {SQL_ATTR_PARAMSET_SIZE, false, readFixed, writeFixed, 1,
     "Statements take no parameters: the parameter set size is 1"},
    {SQL_ATTR_KEYSET_SIZE, false, readFixed, writeFixed, 0,
     "The cursor is forward-only: it has no keyset"},
    {SQL_ATTR_ENABLE_AUTO_IPD, false, readFixed, writeFixed, SQL_FALSE,
     "Statements take no parameters to describe"},
    {SQL_ATTR_CURSOR_TYPE, false, readFixed, writeFixed, SQL_CURSOR_FORWARD_ONLY,
     "The cursor is always forward-only"},
    {SQL_ATTR_CONCURRENCY, false, readFixed, writeFixed, SQL_CONCUR_READ_ONLY,
     "The cursor is always read-only"},
    {SQL_ATTR_CURSOR_SCROLLABLE, false, readFixed, writeFixed, SQL_NONSCROLLABLE,
     "The cursor is never scrollable"},
    {SQL_ATTR_CURSOR_SENSITIVITY, false, readFixed, writeFixed, SQL_INSENSITIVE,
     "The cursor is always insensitive"},
    {SQL_ATTR_USE_BOOKMARKS, false, readFixed, writeFixed, SQL_UB_OFF,
     "Bookmarks are not supported"},
    {SQL_ATTR_ASYNC_ENABLE, false, readFixed, writeFixed, SQL_ASYNC_ENABLE_OFF,
     "Every call completes synchronously"},
    {SQL_ATTR_PARAM_BIND_TYPE, false, readKept, writeKept, SQL_PARAM_BIND_BY_COLUMN},
    {SQL_ATTR_SIMULATE_CURSOR, false, readKept, writeKept, SQL_SC_UNIQUE},
    {SQL_ATTR_PARAM_BIND_OFFSET_PTR, true, readKept, writeKept},
    {SQL_ATTR_PARAM_OPERATION_PTR, true, readKept, writeKept},
    {SQL_ATTR_PARAM_STATUS_PTR, true, readKept, writeKept},
    {SQL_ATTR_PARAMS_PROCESSED_PTR, true, readKept, writeKept},
    {SQL_ATTR_ROW_OPERATION_PTR, true, readKept, writeKept},
    {SQL_ATTR_FETCH_BOOKMARK_PTR, true, readKept, writeKept},
};

// The table's entry, or null for an attribute the driver does not know.
const Attribute* attributeOf(SQLINTEGER id) {
    for (const Attribute& a : kAttributes) {
        if (a.id == id) {
            return &a;
        }
    }
    return nullptr;
}

}  // namespace

SQLRETURN setStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                      SQLINTEGER /*length*/) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        const Attribute* a = attributeOf(attribute);
        if (a == nullptr) {
            return refuseAttribute(s, "statement", attribute);
        }
        if (a->write == nullptr) {
            throw DriverError(
                State::InvalidAttribute,
                "The statement attribute " + std::to_string(attribute) + " can only be read");
        }
        a->write(s, toBits(value), *a);
        return SQL_SUCCESS;
    });
}

SQLRETURN getStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                      SQLINTEGER /*capacity*/, SQLINTEGER* length) noexcept {
    return guard<Statement>(stmt, [&](Statement& s) {
        const Attribute* a = attributeOf(attribute);
        if (a == nullptr) {
            return refuseAttribute(s, "statement", attribute);
        }
        const SQLULEN bits = a->read(s, *a);
        if (a->pointer) {
            const SQLPOINTER p = fromBits<SQLPOINTER>(bits);
            if (value != nullptr) {
                std::memcpy(value, &p, sizeof p);
            }
            storeLength(length, sizeof p);
        } else {
            if (value != nullptr) {
                std::memcpy(value, &bits, sizeof bits);
            }
            storeLength(length, sizeof bits);
        }
        return SQL_SUCCESS;
    });
}

}  // namespace xlsodbc
