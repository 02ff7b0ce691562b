// SQLGetInfo and SQLGetFunctions: what the driver is and supports, as isql,
// iusql, pyodbc and the program's database classes ask it.
#include "xlsodbc/api.h"
#include "xlsodbc/functions.h"

#include <algorithm>
#include <variant>

// The build gives the project's version in ODBC's ##.##.#### form.
#ifndef XLSODBC_DRIVER_VER
#error "XLSODBC_DRIVER_VER is not defined (see xlsodbc/CMakeLists.txt)"
#endif

namespace xlsodbc {
namespace {

using InfoValue = std::variant<const char*, SQLUSMALLINT, SQLUINTEGER>;

struct InfoRow {
    SQLUSMALLINT type;
    InfoValue value;
};

constexpr SQLUSMALLINT u16v(unsigned v) {
    return static_cast<SQLUSMALLINT>(v);
}
constexpr SQLUINTEGER u32v(unsigned long v) {
    return static_cast<SQLUINTEGER>(v);
}

// Answers that do not depend on the connection. A forward-only, read-only
// source whose statements are read-only queries of the engine's dialect:
// joins, grouping, subqueries, unions, the functions listed.
const InfoRow kInfo[] = {
    {SQL_DRIVER_NAME, "libvelkorxls.so"},
    {SQL_DRIVER_VER, XLSODBC_DRIVER_VER},
    {SQL_DRIVER_ODBC_VER, "03.52"},
    {SQL_DBMS_NAME, "EXCEL"},
    {SQL_DBMS_VER, "08.00.0000"},
    {SQL_SERVER_NAME, "EXCEL"},
    {SQL_USER_NAME, ""},
    {SQL_DATA_SOURCE_READ_ONLY, "Y"},
    {SQL_IDENTIFIER_QUOTE_CHAR, "`"},
    {SQL_CATALOG_NAME_SEPARATOR, ""},
    {SQL_CATALOG_NAME, "N"},
    {SQL_CATALOG_TERM, "workbook"},
    {SQL_SCHEMA_TERM, ""},
    {SQL_TABLE_TERM, "table"},
    {SQL_PROCEDURE_TERM, ""},
    {SQL_SEARCH_PATTERN_ESCAPE, "\\"},
    {SQL_SPECIAL_CHARACTERS, ""},
    {SQL_KEYWORDS, "ALIKE,DISTINCTROW,PERCENT,TOP"},
    {SQL_LIKE_ESCAPE_CLAUSE, "Y"},
    {SQL_ORDER_BY_COLUMNS_IN_SELECT, "N"},
    {SQL_EXPRESSIONS_IN_ORDERBY, "Y"},
    {SQL_MULT_RESULT_SETS, "N"},
    {SQL_MULTIPLE_ACTIVE_TXN, "Y"},
    {SQL_NEED_LONG_DATA_LEN, "N"},
    {SQL_OUTER_JOINS, "Y"},
    {SQL_PROCEDURES, "N"},
    {SQL_ROW_UPDATES, "N"},
    {SQL_ACCESSIBLE_TABLES, "Y"},
    {SQL_ACCESSIBLE_PROCEDURES, "N"},
    {SQL_COLUMN_ALIAS, "Y"},
    {SQL_INTEGRITY, "N"},
    {SQL_DESCRIBE_PARAMETER, "Y"},
    {SQL_MAX_ROW_SIZE_INCLUDES_LONG, "N"},
    {SQL_XOPEN_CLI_YEAR, "1995"},
    {SQL_COLLATION_SEQ, ""},
    {SQL_MAX_DRIVER_CONNECTIONS, u16v(0)},
    {SQL_MAX_CONCURRENT_ACTIVITIES, u16v(0)},
    {SQL_TXN_CAPABLE, u16v(SQL_TC_NONE)},
    {SQL_CURSOR_COMMIT_BEHAVIOR, u16v(SQL_CB_PRESERVE)},
    {SQL_CURSOR_ROLLBACK_BEHAVIOR, u16v(SQL_CB_PRESERVE)},
    {SQL_IDENTIFIER_CASE, u16v(SQL_IC_MIXED)},
    {SQL_QUOTED_IDENTIFIER_CASE, u16v(SQL_IC_MIXED)},
    {SQL_MAX_COLUMN_NAME_LEN, u16v(0)},
    {SQL_MAX_TABLE_NAME_LEN, u16v(0)},
    {SQL_MAX_CATALOG_NAME_LEN, u16v(0)},
    {SQL_MAX_SCHEMA_NAME_LEN, u16v(0)},
    {SQL_MAX_CURSOR_NAME_LEN, u16v(0)},
    {SQL_MAX_PROCEDURE_NAME_LEN, u16v(0)},
    {SQL_MAX_USER_NAME_LEN, u16v(0)},
    {SQL_MAX_IDENTIFIER_LEN, u16v(0)},
    {SQL_MAX_COLUMNS_IN_SELECT, u16v(256)},
    {SQL_MAX_COLUMNS_IN_TABLE, u16v(256)},
    {SQL_MAX_TABLES_IN_SELECT, u16v(64)},
    {SQL_MAX_COLUMNS_IN_GROUP_BY, u16v(0)},
    {SQL_MAX_COLUMNS_IN_ORDER_BY, u16v(0)},
    {SQL_MAX_COLUMNS_IN_INDEX, u16v(0)},
    {SQL_NULL_COLLATION, u16v(SQL_NC_LOW)},
    {SQL_CORRELATION_NAME, u16v(SQL_CN_ANY)},
    {SQL_CONCAT_NULL_BEHAVIOR, u16v(SQL_CB_NON_NULL)},
    {SQL_FILE_USAGE, u16v(SQL_FILE_CATALOG)},
    {SQL_GROUP_BY, u16v(SQL_GB_NO_RELATION)},
    {SQL_NON_NULLABLE_COLUMNS, u16v(SQL_NNC_NULL)},
    {SQL_ODBC_API_CONFORMANCE, u16v(SQL_OAC_LEVEL1)},
    {SQL_ODBC_SQL_CONFORMANCE, u16v(SQL_OSC_CORE)},
    {SQL_ODBC_SAG_CLI_CONFORMANCE, u16v(SQL_OSCC_NOT_COMPLIANT)},
    {SQL_CATALOG_LOCATION, u16v(0)},
    {SQL_ACTIVE_ENVIRONMENTS, u16v(0)},
    {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, u32v(0)},
    {SQL_GETDATA_EXTENSIONS, u32v(SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND)},
    {SQL_SCROLL_OPTIONS, u32v(SQL_SO_FORWARD_ONLY)},
    {SQL_FETCH_DIRECTION, u32v(SQL_FD_FETCH_NEXT)},
    {SQL_CURSOR_SENSITIVITY, u32v(SQL_INSENSITIVE)},
    {SQL_SCROLL_CONCURRENCY, u32v(SQL_SCCO_READ_ONLY)},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, u32v(SQL_CA1_NEXT)},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2,
     u32v(SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT)},
    {SQL_STATIC_CURSOR_ATTRIBUTES1, u32v(0)},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, u32v(0)},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, u32v(0)},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, u32v(0)},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, u32v(0)},
    {SQL_KEYSET_CURSOR_ATTRIBUTES2, u32v(0)},
    {SQL_STATIC_SENSITIVITY, u32v(0)},
    {SQL_POS_OPERATIONS, u32v(0)},
    {SQL_POSITIONED_STATEMENTS, u32v(0)},
    {SQL_LOCK_TYPES, u32v(0)},
    {SQL_BOOKMARK_PERSISTENCE, u32v(0)},
    {SQL_TXN_ISOLATION_OPTION, u32v(0)},
    {SQL_DEFAULT_TXN_ISOLATION, u32v(0)},
    {SQL_ALTER_TABLE, u32v(0)},
    {SQL_STRING_FUNCTIONS,
     u32v(SQL_FN_STR_ASCII | SQL_FN_STR_CHAR | SQL_FN_STR_CONCAT | SQL_FN_STR_LCASE |
          SQL_FN_STR_LEFT | SQL_FN_STR_LENGTH | SQL_FN_STR_LOCATE | SQL_FN_STR_LOCATE_2 |
          SQL_FN_STR_LTRIM | SQL_FN_STR_REPEAT | SQL_FN_STR_REPLACE | SQL_FN_STR_RIGHT |
          SQL_FN_STR_RTRIM | SQL_FN_STR_SPACE | SQL_FN_STR_SUBSTRING | SQL_FN_STR_UCASE |
          SQL_FN_STR_CHAR_LENGTH | SQL_FN_STR_CHARACTER_LENGTH)},
    {SQL_NUMERIC_FUNCTIONS,
     u32v(SQL_FN_NUM_ABS | SQL_FN_NUM_ACOS | SQL_FN_NUM_ASIN | SQL_FN_NUM_ATAN | SQL_FN_NUM_ATAN2 |
          SQL_FN_NUM_CEILING | SQL_FN_NUM_COS | SQL_FN_NUM_DEGREES | SQL_FN_NUM_EXP |
          SQL_FN_NUM_FLOOR | SQL_FN_NUM_LOG10 | SQL_FN_NUM_MOD | SQL_FN_NUM_PI | SQL_FN_NUM_POWER |
          SQL_FN_NUM_RADIANS | SQL_FN_NUM_ROUND | SQL_FN_NUM_SIGN | SQL_FN_NUM_SIN |
          SQL_FN_NUM_SQRT | SQL_FN_NUM_TAN | SQL_FN_NUM_TRUNCATE)},
    {SQL_SYSTEM_FUNCTIONS, u32v(SQL_FN_SYS_IFNULL | SQL_FN_SYS_USERNAME)},
    {SQL_TIMEDATE_FUNCTIONS,
     u32v(SQL_FN_TD_CURDATE | SQL_FN_TD_CURTIME | SQL_FN_TD_NOW | SQL_FN_TD_DAYOFMONTH |
          SQL_FN_TD_DAYOFWEEK | SQL_FN_TD_DAYOFYEAR | SQL_FN_TD_MONTH | SQL_FN_TD_YEAR |
          SQL_FN_TD_HOUR | SQL_FN_TD_MINUTE | SQL_FN_TD_SECOND | SQL_FN_TD_QUARTER |
          SQL_FN_TD_WEEK | SQL_FN_TD_MONTHNAME | SQL_FN_TD_DAYNAME)},
    {SQL_CONVERT_FUNCTIONS, u32v(SQL_FN_CVT_CONVERT | SQL_FN_CVT_CAST)},
    {SQL_OJ_CAPABILITIES, u32v(SQL_OJ_LEFT | SQL_OJ_RIGHT | SQL_OJ_FULL | SQL_OJ_NESTED |
                               SQL_OJ_NOT_ORDERED | SQL_OJ_INNER | SQL_OJ_ALL_COMPARISON_OPS)},
    {SQL_SUBQUERIES,
     u32v(SQL_SQ_CORRELATED_SUBQUERIES | SQL_SQ_COMPARISON | SQL_SQ_EXISTS | SQL_SQ_IN)},
    {SQL_UNION, u32v(SQL_U_UNION | SQL_U_UNION_ALL)},
    {SQL_SCHEMA_USAGE, u32v(0)},
    {SQL_CATALOG_USAGE, u32v(0)},
    {SQL_SQL_CONFORMANCE, u32v(SQL_SC_SQL92_ENTRY)},
    {SQL_ODBC_INTERFACE_CONFORMANCE, u32v(SQL_OIC_CORE)},
    {SQL_BATCH_SUPPORT, u32v(0)},
    {SQL_BATCH_ROW_COUNT, u32v(0)},
    {SQL_PARAM_ARRAY_ROW_COUNTS, u32v(SQL_PARC_NO_BATCH)},
    {SQL_PARAM_ARRAY_SELECTS, u32v(SQL_PAS_NO_SELECT)},
    {SQL_ASYNC_MODE, u32v(SQL_AM_NONE)},
    {SQL_DATETIME_LITERALS, u32v(0)},
    {SQL_AGGREGATE_FUNCTIONS, u32v(SQL_AF_ALL | SQL_AF_AVG | SQL_AF_COUNT | SQL_AF_DISTINCT |
                                   SQL_AF_MAX | SQL_AF_MIN | SQL_AF_SUM)},
    {SQL_INFO_SCHEMA_VIEWS, u32v(0)},
    {SQL_SQL92_DATETIME_FUNCTIONS, u32v(0)},
    {SQL_SQL92_FOREIGN_KEY_DELETE_RULE, u32v(0)},
    {SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, u32v(0)},
    {SQL_SQL92_GRANT, u32v(0)},
    {SQL_SQL92_NUMERIC_VALUE_FUNCTIONS, u32v(0)},
    {SQL_SQL92_PREDICATES, u32v(SQL_SP_BETWEEN | SQL_SP_COMPARISON | SQL_SP_EXISTS | SQL_SP_IN |
                                SQL_SP_ISNOTNULL | SQL_SP_ISNULL | SQL_SP_LIKE)},
    {SQL_SQL92_RELATIONAL_JOIN_OPERATORS,
     u32v(SQL_SRJO_CROSS_JOIN | SQL_SRJO_INNER_JOIN | SQL_SRJO_LEFT_OUTER_JOIN |
          SQL_SRJO_RIGHT_OUTER_JOIN | SQL_SRJO_FULL_OUTER_JOIN | SQL_SRJO_NATURAL_JOIN)},
    {SQL_SQL92_REVOKE, u32v(0)},
    {SQL_SQL92_ROW_VALUE_CONSTRUCTOR, u32v(0)},
    {SQL_SQL92_STRING_FUNCTIONS, u32v(SQL_SSF_LOWER | SQL_SSF_UPPER)},
    {SQL_SQL92_VALUE_EXPRESSIONS,
     u32v(SQL_SVE_CASE | SQL_SVE_CAST | SQL_SVE_COALESCE | SQL_SVE_NULLIF)},
    {SQL_DDL_INDEX, u32v(0)},
    {SQL_DROP_TABLE, u32v(0)},
    {SQL_DROP_VIEW, u32v(0)},
    {SQL_CREATE_TABLE, u32v(0)},
    {SQL_CREATE_VIEW, u32v(0)},
    {SQL_INSERT_STATEMENT, u32v(0)},
    {SQL_INDEX_KEYWORDS, u32v(SQL_IK_NONE)},
    {SQL_MAX_ROW_SIZE, u32v(0)},
    {SQL_MAX_STATEMENT_LEN, u32v(1000000)},
    {SQL_MAX_CHAR_LITERAL_LEN, u32v(0)},
    {SQL_MAX_BINARY_LITERAL_LEN, u32v(0)},
    {SQL_MAX_INDEX_SIZE, u32v(0)},
    {SQL_STANDARD_CLI_CONFORMANCE, u32v(0)},
    {SQL_TIMEDATE_ADD_INTERVALS, u32v(0)},
    {SQL_TIMEDATE_DIFF_INTERVALS, u32v(0)},
    {SQL_ASYNC_DBC_FUNCTIONS, u32v(SQL_ASYNC_DBC_NOT_CAPABLE)},
    {SQL_CONVERT_BIGINT, u32v(0)},
    {SQL_CONVERT_BINARY, u32v(0)},
    {SQL_CONVERT_BIT, u32v(0)},
    {SQL_CONVERT_CHAR, u32v(0)},
    {SQL_CONVERT_DATE, u32v(0)},
    {SQL_CONVERT_DECIMAL, u32v(0)},
    {SQL_CONVERT_DOUBLE, u32v(0)},
    {SQL_CONVERT_FLOAT, u32v(0)},
    {SQL_CONVERT_INTEGER, u32v(0)},
    {SQL_CONVERT_LONGVARCHAR, u32v(0)},
    {SQL_CONVERT_NUMERIC, u32v(0)},
    {SQL_CONVERT_REAL, u32v(0)},
    {SQL_CONVERT_SMALLINT, u32v(0)},
    {SQL_CONVERT_TIME, u32v(0)},
    {SQL_CONVERT_TIMESTAMP, u32v(0)},
    {SQL_CONVERT_TINYINT, u32v(0)},
    {SQL_CONVERT_VARBINARY, u32v(0)},
    {SQL_CONVERT_VARCHAR, u32v(0)},
    {SQL_CONVERT_LONGVARBINARY, u32v(0)},
    {SQL_CONVERT_WCHAR, u32v(0)},
    {SQL_CONVERT_WLONGVARCHAR, u32v(0)},
    {SQL_CONVERT_WVARCHAR, u32v(0)},
    {SQL_CONVERT_GUID, u32v(0)},
};

// Answers that name this connection's source.
std::optional<std::u16string> connectionText(const Connection& c, SQLUSMALLINT type) {
    switch (type) {
        case SQL_DATABASE_NAME:
            return utf8ToUtf16(c.path.string());
        case SQL_DATA_SOURCE_NAME:
            return c.dataSource;
        default:
            return std::nullopt;
    }
}

SQLRETURN answerText(Connection& c, std::u16string_view text, SQLPOINTER value,
                     SQLSMALLINT capacity, SQLSMALLINT* length, Encoding enc) {
    const Written w = writeText(text, TextBuffer{value, capacity, enc, true});
    if (!storeLength(length, w.length) || w.truncated) {
        c.diagnostics.add(State::Truncated, "The answer was cut to fit its buffer");
    }
    return SQL_SUCCESS;
}

}  // namespace

SQLRETURN getInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity,
                  SQLSMALLINT* length, Encoding enc) noexcept {
    return guard<Connection>(dbc, [&](Connection& c) -> SQLRETURN {
        if (const auto text = connectionText(c, type)) {
            return answerText(c, *text, value, capacity, length, enc);
        }
        const auto* row = std::find_if(std::begin(kInfo), std::end(kInfo),
                                       [&](const InfoRow& r) { return r.type == type; });
        if (row == std::end(kInfo)) {
            throw DriverError(State::InvalidInfoType,
                              "The information type " + std::to_string(type) + " is not known");
        }
        if (const auto* text = std::get_if<const char*>(&row->value)) {
            return answerText(c, u16(*text), value, capacity, length, enc);
        }
        if (const auto* small = std::get_if<SQLUSMALLINT>(&row->value)) {
            storeScalar(value, length, *small);
        } else {
            storeScalar(value, length, std::get<SQLUINTEGER>(row->value));
        }
        return SQL_SUCCESS;
    });
}

SQLRETURN getFunctions(SQLHDBC dbc, SQLUSMALLINT function, SQLUSMALLINT* supported) noexcept {
    return guard<Connection>(dbc, [&](Connection&) {
        if (supported == nullptr) {
            throw DriverError(State::InvalidNullPointer, "No place for the answer was given");
        }
        auto exported = [](unsigned id) {
            return std::find(kExportedFunctions.begin(), kExportedFunctions.end(), id) !=
                   kExportedFunctions.end();
        };
        if (function == SQL_API_ODBC3_ALL_FUNCTIONS) {
            std::fill_n(supported, SQL_API_ODBC3_ALL_FUNCTIONS_SIZE, 0);
            for (const SQLUSMALLINT id : kExportedFunctions) {
                supported[id >> 4] =
                    static_cast<SQLUSMALLINT>(supported[id >> 4] | (1U << (id & 0xF)));
            }
        } else if (function == SQL_API_ALL_FUNCTIONS) {
            for (unsigned id = 0; id < 100; ++id) {
                supported[id] = exported(id) ? SQL_TRUE : SQL_FALSE;
            }
        } else {
            *supported = exported(function) ? SQL_TRUE : SQL_FALSE;
        }
        return SQL_SUCCESS;
    });
}

}  // namespace xlsodbc
