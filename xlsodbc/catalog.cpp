// The catalogue: table names as the catalogue reports them, pattern
// matching, and the fixed-shape results of SQLTables, SQLColumns and
// SQLGetTypeInfo (with the ODBC 2 column names for ODBC 2 applications).
#include "xlsodbc/catalog.h"

#include "xlsodbc/diagnostics.h"
#include "xlsodbc/text.h"

#include <unicode/uchar.h>

namespace xlsodbc {
namespace {

using Row = TableGrid::Row;

bool plainName(std::u16string_view name) {
    for (const char16_t c : name) {
        if (!(c == u'_' || u_isalnum(c))) {
            return false;
        }
    }
    return !name.empty();
}

std::u16string number(long long n) {
    return u16(std::to_string(n));
}

// A column type's verbose type (SQL_DATETIME for dates and timestamps).
SQLSMALLINT verboseType(SQLSMALLINT type) {
    return type == SQL_TYPE_DATE || type == SQL_TYPE_TIMESTAMP ? SQL_DATETIME : type;
}

std::optional<std::u16string> dateTimeSub(SQLSMALLINT type) {
    if (type == SQL_TYPE_DATE) {
        return number(SQL_CODE_DATE);
    }
    if (type == SQL_TYPE_TIMESTAMP) {
        return number(SQL_CODE_TIMESTAMP);
    }
    return std::nullopt;
}

struct ColumnSpec {
    const char* odbc3;
    const char* odbc2;
    SQLSMALLINT type;
    SQLULEN size;
};

std::unique_ptr<ResultSet> fixedResult(const std::vector<ColumnSpec>& specs, std::vector<Row> rows,
                                       bool odbc2) {
    std::vector<ColumnInfo> columns;
    columns.reserve(specs.size());
    for (const ColumnSpec& s : specs) {
        columns.push_back({u16(odbc2 ? s.odbc2 : s.odbc3), s.type, s.size, s.size,
                           static_cast<SQLSMALLINT>(
                               s.type == SQL_WVARCHAR ? SQL_NULLABLE : SQL_NULLABLE_UNKNOWN)});
    }
    // Text columns are as wide as their longest value, not as wide as the
    // names they could hold: clients such as isql lay out their output by
    // the display size.
    auto grid = std::make_unique<TableGrid>(static_cast<uint16_t>(specs.size()), std::move(rows));
    return std::make_unique<ResultSet>(std::move(columns), std::move(grid), 0, false, u"");
}

bool matchesOptional(std::u16string_view value, const std::optional<std::u16string>& pattern) {
    return !pattern || matchesPattern(value, *pattern);
}

// SQL_ALL_CATALOGS, SQL_ALL_SCHEMAS and SQL_ALL_TABLE_TYPES: "%" alone in
// one argument with the others empty lists catalogues, schemas or types.
enum class Enumeration : unsigned char { None, Catalogs, Schemas, Types };

Enumeration enumeration(const TablesQuery& q) {
    auto empty = [](const std::optional<std::u16string>& s) { return s && s->empty(); };
    if (q.catalog == u"%" && empty(q.schema) && empty(q.table)) {
        return Enumeration::Catalogs;
    }
    if (q.schema == u"%" && empty(q.catalog) && empty(q.table)) {
        return Enumeration::Schemas;
    }
    if (q.type == u"%" && empty(q.catalog) && empty(q.schema) && empty(q.table)) {
        return Enumeration::Types;
    }
    return Enumeration::None;
}

// The table types argument: a list like "'TABLE','SYSTEM TABLE'" or
// "TABLE, VIEW"; nullopt or "%" or empty means every type.
bool typeWanted(const std::optional<std::u16string>& types, std::u16string_view type) {
    if (!types || types->empty() || *types == u"%") {
        return true;
    }
    std::u16string_view list = *types;
    while (!list.empty()) {
        const size_t comma = list.find(u',');
        std::u16string_view item = list.substr(0, comma);
        while (!item.empty() && (item.front() == u' ' || item.front() == u'\'')) {
            item.remove_prefix(1);
        }
        while (!item.empty() && (item.back() == u' ' || item.back() == u'\'')) {
            item.remove_suffix(1);
        }
        if (equalsNoCase(item, type)) {
            return true;
        }
        list = comma == std::u16string_view::npos ? std::u16string_view() : list.substr(comma + 1);
    }
    return false;
}

// Worksheets are "SYSTEM TABLE" unless the connection asked for "TABLE".
const char16_t* tableType(const CatalogSource& c, const TableInfo& t) {
    return t.kind == TableKind::Worksheet && !c.sheetsAsTables ? u"SYSTEM TABLE" : u"TABLE";
}

const std::vector<ColumnSpec> kTablesColumns{
    {"TABLE_CAT", "TABLE_QUALIFIER", SQL_WVARCHAR, 1024},
    {"TABLE_SCHEM", "TABLE_OWNER", SQL_WVARCHAR, 128},
    {"TABLE_NAME", "TABLE_NAME", SQL_WVARCHAR, 255},
    {"TABLE_TYPE", "TABLE_TYPE", SQL_WVARCHAR, 128},
    {"REMARKS", "REMARKS", SQL_WVARCHAR, 254},
};

std::vector<Row> enumerationRows(const CatalogSource& c, Enumeration e) {
    std::vector<Row> rows;
    switch (e) {
        case Enumeration::Catalogs:
            rows.push_back({utf8ToUtf16(c.path.string()), {}, {}, {}, {}});
            break;
        case Enumeration::Schemas:
            break;  // a workbook has no schemas
        case Enumeration::Types:
            if (!c.sheetsAsTables) {
                rows.push_back({{}, {}, {}, u"SYSTEM TABLE", {}});
            }
            rows.push_back({{}, {}, {}, u"TABLE", {}});
            break;
        case Enumeration::None:
            break;
    }
    return rows;
}

std::vector<ColumnSpec> columnsColumns() {
    return {
        {"TABLE_CAT", "TABLE_QUALIFIER", SQL_WVARCHAR, 1024},
        {"TABLE_SCHEM", "TABLE_OWNER", SQL_WVARCHAR, 128},
        {"TABLE_NAME", "TABLE_NAME", SQL_WVARCHAR, 255},
        {"COLUMN_NAME", "COLUMN_NAME", SQL_WVARCHAR, 255},
        {"DATA_TYPE", "DATA_TYPE", SQL_SMALLINT, 5},
        {"TYPE_NAME", "TYPE_NAME", SQL_WVARCHAR, 128},
        {"COLUMN_SIZE", "PRECISION", SQL_INTEGER, 10},
        {"BUFFER_LENGTH", "LENGTH", SQL_INTEGER, 10},
        {"DECIMAL_DIGITS", "SCALE", SQL_SMALLINT, 5},
        {"NUM_PREC_RADIX", "RADIX", SQL_SMALLINT, 5},
        {"NULLABLE", "NULLABLE", SQL_SMALLINT, 5},
        {"REMARKS", "REMARKS", SQL_WVARCHAR, 254},
        {"COLUMN_DEF", "COLUMN_DEF", SQL_WVARCHAR, 254},
        {"SQL_DATA_TYPE", "SQL_DATA_TYPE", SQL_SMALLINT, 5},
        {"SQL_DATETIME_SUB", "SQL_DATETIME_SUB", SQL_SMALLINT, 5},
        {"CHAR_OCTET_LENGTH", "CHAR_OCTET_LENGTH", SQL_INTEGER, 10},
        {"ORDINAL_POSITION", "ORDINAL_POSITION", SQL_INTEGER, 10},
        {"IS_NULLABLE", "IS_NULLABLE", SQL_WVARCHAR, 3},
    };
}

}  // namespace

namespace {

// 'text' with a quote inside doubled.
std::u16string quoted(std::u16string_view text, std::u16string_view suffix) {
    std::u16string out = u"'";
    for (const char16_t c : text) {
        out.push_back(c);
        if (c == u'\'') {
            out.push_back(u'\'');
        }
    }
    return out.append(suffix).append(u"'");
}

}  // namespace

std::u16string catalogName(const TableInfo& table) {
    if (table.kind == TableKind::DefinedName) {
        if (table.scope.empty()) {
            return table.name;
        }
        // A sheet's own name, qualified as spreadsheets write it: Sheet1!Name,
        // 'My Sheet'!Name.
        return (plainName(table.scope) ? table.scope : quoted(table.scope, u"")) + u"!" +
               table.name;
    }
    return plainName(table.name) ? table.name + u"$" : quoted(table.name, u"$");
}

bool matchesPattern(std::u16string_view value, std::u16string_view pattern, char16_t escape) {
    // Iterative wildcard matching with one backtracking point for "%".
    size_t v = 0, p = 0, starP = std::u16string_view::npos, starV = 0;
    while (v < value.size()) {
        if (p < pattern.size() && pattern[p] == u'%') {
            starP = ++p;
            starV = v;
            continue;
        }
        if (p < pattern.size()) {
            const bool escaped = pattern[p] == escape && p + 1 < pattern.size();
            const char16_t want = escaped ? pattern[p + 1] : pattern[p];
            if ((!escaped && want == u'_') || foldCase(want) == foldCase(value[v])) {
                p += escaped ? 2 : 1;
                ++v;
                continue;
            }
        }
        if (starP == std::u16string_view::npos) {
            return false;
        }
        p = starP;
        v = ++starV;
    }
    while (p < pattern.size() && pattern[p] == u'%') {
        ++p;
    }
    return p == pattern.size();
}

std::unique_ptr<ResultSet> tablesResult(const CatalogSource& c, const TablesQuery& query,
                                        bool odbc2) {
    if (const Enumeration e = enumeration(query); e != Enumeration::None) {
        return fixedResult(kTablesColumns, enumerationRows(c, e), odbc2);
    }
    const std::u16string path = utf8ToUtf16(c.path.string());
    std::vector<Row> rows;
    // A workbook has one catalogue (itself) and no schemas: a schema
    // pattern other than "%" or empty matches nothing.
    const bool schemaOk =
        !query.schema || query.schema->empty() || matchesPattern(u"", *query.schema);
    const bool catalogOk =
        !query.catalog || query.catalog->empty() || matchesPattern(path, *query.catalog);
    if (schemaOk && catalogOk) {
        for (const TableInfo& t : c.workbook.tables()) {
            const std::u16string name = catalogName(t);
            if (matchesOptional(name, query.table) && typeWanted(query.type, tableType(c, t))) {
                rows.push_back({path, {}, name, std::u16string(tableType(c, t)), {}});
            }
        }
    }
    return fixedResult(kTablesColumns, std::move(rows), odbc2);
}

std::unique_ptr<ResultSet> columnsResult(const CatalogSource& c, const ColumnsQuery& query,
                                         bool odbc2, Diagnostics& warnings) {
    const std::u16string path = utf8ToUtf16(c.path.string());
    std::vector<Row> rows;
    const auto& tables = c.workbook.tables();
    const bool schemaOk =
        !query.schema || query.schema->empty() || matchesPattern(u"", *query.schema);
    for (size_t i = 0; i < tables.size() && schemaOk; ++i) {
        const std::u16string name = catalogName(tables[i]);
        if (!matchesOptional(name, query.table)) {
            continue;
        }
        std::unique_ptr<ResultSet> result;
        try {
            result = sheetResult(c.workbook.open(i, std::nullopt), c.firstRowHasNames, name);
        } catch (const DriverError& e) {
            // One damaged sheet does not hide the columns of the others.
            warnings.add(State::GeneralWarning,
                         std::string(e.what()) + "; its columns are not listed");
            continue;
        }
        for (uint16_t k = 0; k < result->columnCount(); ++k) {
            const ColumnInfo& col = result->column(k);
            if (!matchesOptional(col.name, query.column)) {
                continue;
            }
            const auto size = static_cast<long long>(col.size);
            const bool text = col.sqlType == SQL_WVARCHAR;
            rows.push_back({path,
                            {},
                            name,
                            col.name,
                            number(odbc2 && col.sqlType == SQL_TYPE_DATE        ? SQL_DATE
                                   : odbc2 && col.sqlType == SQL_TYPE_TIMESTAMP ? SQL_TIMESTAMP
                                                                                : col.sqlType),
                            typeName(col.sqlType),
                            number(size),
                            number(octetLength(col)),
                            {},
                            {},
                            number(SQL_NULLABLE),
                            {},
                            {},
                            number(verboseType(col.sqlType)),
                            dateTimeSub(col.sqlType),
                            text ? number(size * 2) : std::optional<std::u16string>(),
                            number(k + 1),
                            u"YES"});
        }
    }
    std::vector<ColumnSpec> specs = columnsColumns();
    if (odbc2) {
        // ODBC 2 knows the first twelve columns only.
        specs.resize(12);
        for (Row& r : rows) {
            r.resize(12);
        }
    }
    return fixedResult(specs, std::move(rows), odbc2);
}

std::unique_ptr<ResultSet> typeInfoResult(SQLSMALLINT type, bool odbc2) {
    const std::vector<ColumnSpec> specs{
        {"TYPE_NAME", "TYPE_NAME", SQL_WVARCHAR, 128},
        {"DATA_TYPE", "DATA_TYPE", SQL_SMALLINT, 5},
        {"COLUMN_SIZE", "PRECISION", SQL_INTEGER, 10},
        {"LITERAL_PREFIX", "LITERAL_PREFIX", SQL_WVARCHAR, 128},
        {"LITERAL_SUFFIX", "LITERAL_SUFFIX", SQL_WVARCHAR, 128},
        {"CREATE_PARAMS", "CREATE_PARAMS", SQL_WVARCHAR, 128},
        {"NULLABLE", "NULLABLE", SQL_SMALLINT, 5},
        {"CASE_SENSITIVE", "CASE_SENSITIVE", SQL_SMALLINT, 5},
        {"SEARCHABLE", "SEARCHABLE", SQL_SMALLINT, 5},
        {"UNSIGNED_ATTRIBUTE", "UNSIGNED_ATTRIBUTE", SQL_SMALLINT, 5},
        {"FIXED_PREC_SCALE", "MONEY", SQL_SMALLINT, 5},
        {"AUTO_UNIQUE_VALUE", "AUTO_INCREMENT", SQL_SMALLINT, 5},
        {"LOCAL_TYPE_NAME", "LOCAL_TYPE_NAME", SQL_WVARCHAR, 128},
        {"MINIMUM_SCALE", "MINIMUM_SCALE", SQL_SMALLINT, 5},
        {"MAXIMUM_SCALE", "MAXIMUM_SCALE", SQL_SMALLINT, 5},
        {"SQL_DATA_TYPE", "SQL_DATA_TYPE", SQL_SMALLINT, 5},
        {"SQL_DATETIME_SUB", "SQL_DATETIME_SUB", SQL_SMALLINT, 5},
        {"NUM_PREC_RADIX", "NUM_PREC_RADIX", SQL_INTEGER, 10},
        {"INTERVAL_PRECISION", "INTERVAL_PRECISION", SQL_SMALLINT, 5},
    };
    std::vector<Row> rows;
    // Every column is text: the one type is a variable-length wide string
    // of up to 32,767 characters (the longest text a cell holds).
    if (type == SQL_ALL_TYPES || type == SQL_WVARCHAR) {
        rows.push_back({u"WVARCHAR",
                        number(SQL_WVARCHAR),
                        u"32767",
                        u"'",
                        u"'",
                        u"max length",
                        number(SQL_NULLABLE),
                        number(SQL_FALSE),
                        number(SQL_SEARCHABLE),  // WHERE compares and LIKE matches it
                        {},
                        number(SQL_FALSE),
                        {},
                        u"WVARCHAR",
                        {},
                        {},
                        number(SQL_WVARCHAR),
                        {},
                        {},
                        {}});
    }
    return fixedResult(specs, std::move(rows), odbc2);
}

namespace {

constexpr SQLSMALLINT kText = SQL_WVARCHAR;
constexpr SQLSMALLINT kSmall = SQL_SMALLINT;
constexpr SQLSMALLINT kInteger = SQL_INTEGER;

struct EmptyShape {
    std::vector<ColumnSpec> columns;
    size_t odbc2Columns;  // ODBC 2 knows the first ones only
};

EmptyShape emptyShape(EmptyCatalog which) {
    switch (which) {
        case EmptyCatalog::PrimaryKeys:
            return {{{"TABLE_CAT", "TABLE_QUALIFIER", kText, 128},
                     {"TABLE_SCHEM", "TABLE_OWNER", kText, 128},
                     {"TABLE_NAME", "TABLE_NAME", kText, 128},
                     {"COLUMN_NAME", "COLUMN_NAME", kText, 128},
                     {"KEY_SEQ", "KEY_SEQ", kSmall, 5},
                     {"PK_NAME", "PK_NAME", kText, 128}},
                    6};
        case EmptyCatalog::ForeignKeys:
            return {{{"PKTABLE_CAT", "PKTABLE_QUALIFIER", kText, 128},
                     {"PKTABLE_SCHEM", "PKTABLE_OWNER", kText, 128},
                     {"PKTABLE_NAME", "PKTABLE_NAME", kText, 128},
                     {"PKCOLUMN_NAME", "PKCOLUMN_NAME", kText, 128},
                     {"FKTABLE_CAT", "FKTABLE_QUALIFIER", kText, 128},
                     {"FKTABLE_SCHEM", "FKTABLE_OWNER", kText, 128},
                     {"FKTABLE_NAME", "FKTABLE_NAME", kText, 128},
                     {"FKCOLUMN_NAME", "FKCOLUMN_NAME", kText, 128},
                     {"KEY_SEQ", "KEY_SEQ", kSmall, 5},
                     {"UPDATE_RULE", "UPDATE_RULE", kSmall, 5},
                     {"DELETE_RULE", "DELETE_RULE", kSmall, 5},
                     {"FK_NAME", "FK_NAME", kText, 128},
                     {"PK_NAME", "PK_NAME", kText, 128},
                     {"DEFERRABILITY", "DEFERRABILITY", kSmall, 5}},
                    13};
        case EmptyCatalog::Statistics:
            return {{{"TABLE_CAT", "TABLE_QUALIFIER", kText, 128},
                     {"TABLE_SCHEM", "TABLE_OWNER", kText, 128},
                     {"TABLE_NAME", "TABLE_NAME", kText, 128},
                     {"NON_UNIQUE", "NON_UNIQUE", kSmall, 5},
                     {"INDEX_QUALIFIER", "INDEX_QUALIFIER", kText, 128},
                     {"INDEX_NAME", "INDEX_NAME", kText, 128},
                     {"TYPE", "TYPE", kSmall, 5},
                     {"ORDINAL_POSITION", "SEQ_IN_INDEX", kSmall, 5},
                     {"COLUMN_NAME", "COLUMN_NAME", kText, 128},
                     {"ASC_OR_DESC", "COLLATION", kText, 1},
                     {"CARDINALITY", "CARDINALITY", kInteger, 10},
                     {"PAGES", "PAGES", kInteger, 10},
                     {"FILTER_CONDITION", "FILTER_CONDITION", kText, 128}},
                    13};
        case EmptyCatalog::SpecialColumns:
            return {{{"SCOPE", "SCOPE", kSmall, 5},
                     {"COLUMN_NAME", "COLUMN_NAME", kText, 128},
                     {"DATA_TYPE", "DATA_TYPE", kSmall, 5},
                     {"TYPE_NAME", "TYPE_NAME", kText, 128},
                     {"COLUMN_SIZE", "PRECISION", kInteger, 10},
                     {"BUFFER_LENGTH", "LENGTH", kInteger, 10},
                     {"DECIMAL_DIGITS", "SCALE", kSmall, 5},
                     {"PSEUDO_COLUMN", "PSEUDO_COLUMN", kSmall, 5}},
                    8};
        case EmptyCatalog::Procedures:
            return {{{"PROCEDURE_CAT", "PROCEDURE_QUALIFIER", kText, 128},
                     {"PROCEDURE_SCHEM", "PROCEDURE_OWNER", kText, 128},
                     {"PROCEDURE_NAME", "PROCEDURE_NAME", kText, 128},
                     {"NUM_INPUT_PARAMS", "NUM_INPUT_PARAMS", kInteger, 10},
                     {"NUM_OUTPUT_PARAMS", "NUM_OUTPUT_PARAMS", kInteger, 10},
                     {"NUM_RESULT_SETS", "NUM_RESULT_SETS", kInteger, 10},
                     {"REMARKS", "REMARKS", kText, 254},
                     {"PROCEDURE_TYPE", "PROCEDURE_TYPE", kSmall, 5}},
                    8};
        case EmptyCatalog::ProcedureColumns:
            return {{{"PROCEDURE_CAT", "PROCEDURE_QUALIFIER", kText, 128},
                     {"PROCEDURE_SCHEM", "PROCEDURE_OWNER", kText, 128},
                     {"PROCEDURE_NAME", "PROCEDURE_NAME", kText, 128},
                     {"COLUMN_NAME", "COLUMN_NAME", kText, 128},
                     {"COLUMN_TYPE", "COLUMN_TYPE", kSmall, 5},
                     {"DATA_TYPE", "DATA_TYPE", kSmall, 5},
                     {"TYPE_NAME", "TYPE_NAME", kText, 128},
                     {"COLUMN_SIZE", "PRECISION", kInteger, 10},
                     {"BUFFER_LENGTH", "LENGTH", kInteger, 10},
                     {"DECIMAL_DIGITS", "SCALE", kSmall, 5},
                     {"NUM_PREC_RADIX", "RADIX", kSmall, 5},
                     {"NULLABLE", "NULLABLE", kSmall, 5},
                     {"REMARKS", "REMARKS", kText, 254},
                     {"COLUMN_DEF", "COLUMN_DEF", kText, 254},
                     {"SQL_DATA_TYPE", "SQL_DATA_TYPE", kSmall, 5},
                     {"SQL_DATETIME_SUB", "SQL_DATETIME_SUB", kSmall, 5},
                     {"CHAR_OCTET_LENGTH", "CHAR_OCTET_LENGTH", kInteger, 10},
                     {"ORDINAL_POSITION", "ORDINAL_POSITION", kInteger, 10},
                     {"IS_NULLABLE", "IS_NULLABLE", kText, 3}},
                    13};
        case EmptyCatalog::TablePrivileges:
            return {{{"TABLE_CAT", "TABLE_QUALIFIER", kText, 128},
                     {"TABLE_SCHEM", "TABLE_OWNER", kText, 128},
                     {"TABLE_NAME", "TABLE_NAME", kText, 128},
                     {"GRANTOR", "GRANTOR", kText, 128},
                     {"GRANTEE", "GRANTEE", kText, 128},
                     {"PRIVILEGE", "PRIVILEGE", kText, 128},
                     {"IS_GRANTABLE", "IS_GRANTABLE", kText, 3}},
                    7};
        case EmptyCatalog::ColumnPrivileges:
            break;
    }
    return {{{"TABLE_CAT", "TABLE_QUALIFIER", kText, 128},
             {"TABLE_SCHEM", "TABLE_OWNER", kText, 128},
             {"TABLE_NAME", "TABLE_NAME", kText, 128},
             {"COLUMN_NAME", "COLUMN_NAME", kText, 128},
             {"GRANTOR", "GRANTOR", kText, 128},
             {"GRANTEE", "GRANTEE", kText, 128},
             {"PRIVILEGE", "PRIVILEGE", kText, 128},
             {"IS_GRANTABLE", "IS_GRANTABLE", kText, 3}},
            8};
}

}  // namespace

std::unique_ptr<ResultSet> emptyCatalogResult(EmptyCatalog which, bool odbc2) {
    EmptyShape shape = emptyShape(which);
    if (odbc2) {
        shape.columns.resize(shape.odbc2Columns);
    }
    return fixedResult(shape.columns, {}, odbc2);
}

std::optional<size_t> findTable(const std::vector<TableInfo>& tables, const TableReference& ref) {
    const TableKind kind = ref.worksheet ? TableKind::Worksheet : TableKind::DefinedName;
    std::optional<size_t> sheetOwn;
    for (size_t i = 0; i < tables.size(); ++i) {
        const TableInfo& t = tables[i];
        if (t.kind != kind || !equalsNoCase(t.name, ref.name)) {
            continue;
        }
        if (kind == TableKind::Worksheet || equalsNoCase(t.scope, ref.scope)) {
            return i;
        }
        if (ref.scope.empty() && !sheetOwn) {
            sheetOwn = i;
        }
    }
    return sheetOwn;
}

std::unique_ptr<ResultSet> tableResult(const CatalogSource& c, const TableReference& ref) {
    const auto& tables = c.workbook.tables();
    if (const auto i = findTable(tables, ref)) {
        std::u16string name = catalogName(tables[*i]);
        return sheetResult(c.workbook.open(*i, ref.range), c.firstRowHasNames, std::move(name));
    }
    // The first names, and a count of the rest: a workbook of a thousand
    // sheets or names must not make a message no one can read (or one too
    // long for a client's 16-bit length). Each listed name is shortened
    // past kListedNameLimit, so that the list always leaves room for the rest.
    constexpr size_t kNamesListed = 20;
    constexpr size_t kListedNameLimit = 600;
    std::string list;
    for (size_t i = 0; i < tables.size() && i < kNamesListed; ++i) {
        list += (list.empty() ? "" : ", ") + echo(catalogName(tables[i]), kListedNameLimit);
    }
    if (tables.size() > kNamesListed) {
        list += " and " + std::to_string(tables.size() - kNamesListed) + " more";
    }
    throw DriverError(
        State::TableNotFound,
        "The table \"" + echo(ref.written) + "\" does not exist in the workbook \"" +
            echoUtf8(c.path.string()) + "\"; " +
            (list.empty() ? std::string("the workbook has no tables") : "its tables are: " + list));
}

}  // namespace xlsodbc
