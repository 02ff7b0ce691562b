// The exported ODBC entry points. Each one only forwards to the driver's
// implementation (api.h); a narrow function and its wide twin reach the same
// implementation, differing in how their texts are read and written
// (UTF-8 bytes or UTF-16 SQLWCHARs). The version script exports exactly
// these names. unixODBC's headers declare them without noexcept, so the
// definitions cannot add it; every
// implementation they call is noexcept and does its work inside the
// boundary of api.h, so no exception ever reaches the C caller.
#include "xlsodbc/api.h"

using namespace xlsodbc;

namespace {

TextArg narrowArg16(SQLCHAR* text, SQLSMALLINT length) noexcept {
    return narrowArg(text, length);
}
TextArg wideArg16(SQLWCHAR* text, SQLSMALLINT length) noexcept {
    return wideArg(text, length);
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    return allocHandle(type, input, output);
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    return freeHandle(type, handle);
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
    return freeStmt(stmt, option);
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER length) {
    return setEnvAttr(env, attribute, value, length);
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER capacity, SQLINTEGER* length) {
    return getEnvAttr(env, attribute, value, capacity, length);
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND /*window*/, SQLCHAR* in,
                                   SQLSMALLINT inLength, SQLCHAR* out, SQLSMALLINT outCapacity,
                                   SQLSMALLINT* outLength, SQLUSMALLINT completion) {
    return driverConnect(dbc, narrowArg16(in, inLength), narrowChars(out, outCapacity), outLength,
                         completion);
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC dbc, SQLHWND /*window*/, SQLWCHAR* in,
                                    SQLSMALLINT inLength, SQLWCHAR* out, SQLSMALLINT outCapacity,
                                    SQLSMALLINT* outLength, SQLUSMALLINT completion) {
    return driverConnect(dbc, wideArg16(in, inLength), wideChars(out, outCapacity), outLength,
                         completion);
}

SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* /*user*/,
                             SQLSMALLINT /*userLength*/, SQLCHAR* /*password*/,
                             SQLSMALLINT /*passwordLength*/) {
    return connect(dbc, narrowArg16(dsn, dsnLength));
}

SQLRETURN SQL_API SQLConnectW(SQLHDBC dbc, SQLWCHAR* dsn, SQLSMALLINT dsnLength, SQLWCHAR* /*user*/,
                              SQLSMALLINT /*userLength*/, SQLWCHAR* /*password*/,
                              SQLSMALLINT /*passwordLength*/) {
    return connect(dbc, wideArg16(dsn, dsnLength));
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
    return disconnect(dbc);
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity,
                             SQLSMALLINT* length) {
    return getInfo(dbc, type, value, capacity, length, Encoding::Utf8);
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value,
                              SQLSMALLINT capacity, SQLSMALLINT* length) {
    return getInfo(dbc, type, value, capacity, length, Encoding::Utf16);
}

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC dbc, SQLUSMALLINT function, SQLUSMALLINT* supported) {
    return getFunctions(dbc, function, supported);
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER length) {
    return setConnectAttr(dbc, attribute, value, length, Encoding::Utf8);
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER length) {
    return setConnectAttr(dbc, attribute, value, length, Encoding::Utf16);
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER capacity, SQLINTEGER* length) {
    return getConnectAttr(dbc, attribute, value, capacity, length, Encoding::Utf8);
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER capacity, SQLINTEGER* length) {
    return getConnectAttr(dbc, attribute, value, capacity, length, Encoding::Utf16);
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER length) {
    return setStmtAttr(stmt, attribute, value, length);
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER length) {
    return setStmtAttr(stmt, attribute, value, length);
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER capacity, SQLINTEGER* length) {
    return getStmtAttr(stmt, attribute, value, capacity, length);
}

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER capacity, SQLINTEGER* length) {
    return getStmtAttr(stmt, attribute, value, capacity, length);
}

SQLRETURN SQL_API SQLTables(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                            SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                            SQLSMALLINT tableLength, SQLCHAR* type, SQLSMALLINT typeLength) {
    return tables(stmt, narrowArg16(catalog, catalogLength), narrowArg16(schema, schemaLength),
                  narrowArg16(table, tableLength), narrowArg16(type, typeLength));
}

SQLRETURN SQL_API SQLTablesW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                             SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                             SQLSMALLINT tableLength, SQLWCHAR* type, SQLSMALLINT typeLength) {
    return tables(stmt, wideArg16(catalog, catalogLength), wideArg16(schema, schemaLength),
                  wideArg16(table, tableLength), wideArg16(type, typeLength));
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                             SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                             SQLSMALLINT tableLength, SQLCHAR* column, SQLSMALLINT columnLength) {
    return columns(stmt, narrowArg16(catalog, catalogLength), narrowArg16(schema, schemaLength),
                   narrowArg16(table, tableLength), narrowArg16(column, columnLength));
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                              SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                              SQLSMALLINT tableLength, SQLWCHAR* column, SQLSMALLINT columnLength) {
    return columns(stmt, wideArg16(catalog, catalogLength), wideArg16(schema, schemaLength),
                   wideArg16(table, tableLength), wideArg16(column, columnLength));
}

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                 SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                                 SQLSMALLINT tableLength) {
    return emptyCatalog(stmt, EmptyCatalog::PrimaryKeys,
                        {narrowArg16(catalog, catalogLength), narrowArg16(schema, schemaLength),
                         narrowArg16(table, tableLength)});
}

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                  SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                                  SQLSMALLINT tableLength) {
    return emptyCatalog(stmt, EmptyCatalog::PrimaryKeys,
                        {wideArg16(catalog, catalogLength), wideArg16(schema, schemaLength),
                         wideArg16(table, tableLength)});
}

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT stmt, SQLCHAR* pkCatalog, SQLSMALLINT pkCatalogLength,
                                 SQLCHAR* pkSchema, SQLSMALLINT pkSchemaLength, SQLCHAR* pkTable,
                                 SQLSMALLINT pkTableLength, SQLCHAR* fkCatalog,
                                 SQLSMALLINT fkCatalogLength, SQLCHAR* fkSchema,
                                 SQLSMALLINT fkSchemaLength, SQLCHAR* fkTable,
                                 SQLSMALLINT fkTableLength) {
    return emptyCatalog(
        stmt, EmptyCatalog::ForeignKeys,
        {narrowArg16(pkCatalog, pkCatalogLength), narrowArg16(pkSchema, pkSchemaLength),
         narrowArg16(pkTable, pkTableLength), narrowArg16(fkCatalog, fkCatalogLength),
         narrowArg16(fkSchema, fkSchemaLength), narrowArg16(fkTable, fkTableLength)});
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT stmt, SQLWCHAR* pkCatalog, SQLSMALLINT pkCatalogLength,
                                  SQLWCHAR* pkSchema, SQLSMALLINT pkSchemaLength, SQLWCHAR* pkTable,
                                  SQLSMALLINT pkTableLength, SQLWCHAR* fkCatalog,
                                  SQLSMALLINT fkCatalogLength, SQLWCHAR* fkSchema,
                                  SQLSMALLINT fkSchemaLength, SQLWCHAR* fkTable,
                                  SQLSMALLINT fkTableLength) {
    return emptyCatalog(stmt, EmptyCatalog::ForeignKeys,
                        {wideArg16(pkCatalog, pkCatalogLength), wideArg16(pkSchema, pkSchemaLength),
                         wideArg16(pkTable, pkTableLength), wideArg16(fkCatalog, fkCatalogLength),
                         wideArg16(fkSchema, fkSchemaLength), wideArg16(fkTable, fkTableLength)});
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                                SQLSMALLINT tableLength, SQLUSMALLINT unique,
                                SQLUSMALLINT accuracy) {
    return emptyCatalog(stmt, EmptyCatalog::Statistics,
                        {narrowArg16(catalog, catalogLength), narrowArg16(schema, schemaLength),
                         narrowArg16(table, tableLength)},
                        {unique, accuracy, 0});
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                 SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                                 SQLSMALLINT tableLength, SQLUSMALLINT unique,
                                 SQLUSMALLINT accuracy) {
    return emptyCatalog(stmt, EmptyCatalog::Statistics,
                        {wideArg16(catalog, catalogLength), wideArg16(schema, schemaLength),
                         wideArg16(table, tableLength)},
                        {unique, accuracy, 0});
}

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT stmt, SQLUSMALLINT identifierType, SQLCHAR* catalog,
                                    SQLSMALLINT catalogLength, SQLCHAR* schema,
                                    SQLSMALLINT schemaLength, SQLCHAR* table,
                                    SQLSMALLINT tableLength, SQLUSMALLINT scope,
                                    SQLUSMALLINT nullable) {
    return emptyCatalog(stmt, EmptyCatalog::SpecialColumns,
                        {narrowArg16(catalog, catalogLength), narrowArg16(schema, schemaLength),
                         narrowArg16(table, tableLength)},
                        {identifierType, scope, nullable});
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT stmt, SQLUSMALLINT identifierType, SQLWCHAR* catalog,
                                     SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                     SQLSMALLINT schemaLength, SQLWCHAR* table,
                                     SQLSMALLINT tableLength, SQLUSMALLINT scope,
                                     SQLUSMALLINT nullable) {
    return emptyCatalog(stmt, EmptyCatalog::SpecialColumns,
                        {wideArg16(catalog, catalogLength), wideArg16(schema, schemaLength),
                         wideArg16(table, tableLength)},
                        {identifierType, scope, nullable});
}

SQLRETURN SQL_API SQLProcedures(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* procedure,
                                SQLSMALLINT procedureLength) {
    return emptyCatalog(stmt, EmptyCatalog::Procedures,
                        {narrowArg16(catalog, catalogLength), narrowArg16(schema, schemaLength),
                         narrowArg16(procedure, procedureLength)});
}

SQLRETURN SQL_API SQLProceduresW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                 SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* procedure,
                                 SQLSMALLINT procedureLength) {
    return emptyCatalog(stmt, EmptyCatalog::Procedures,
                        {wideArg16(catalog, catalogLength), wideArg16(schema, schemaLength),
                         wideArg16(procedure, procedureLength)});
}

SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                      SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* procedure,
                                      SQLSMALLINT procedureLength, SQLCHAR* column,
                                      SQLSMALLINT columnLength) {
    return emptyCatalog(
        stmt, EmptyCatalog::ProcedureColumns,
        {narrowArg16(catalog, catalogLength), narrowArg16(schema, schemaLength),
         narrowArg16(procedure, procedureLength), narrowArg16(column, columnLength)});
}

SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                       SQLWCHAR* schema, SQLSMALLINT schemaLength,
                                       SQLWCHAR* procedure, SQLSMALLINT procedureLength,
                                       SQLWCHAR* column, SQLSMALLINT columnLength) {
    return emptyCatalog(stmt, EmptyCatalog::ProcedureColumns,
                        {wideArg16(catalog, catalogLength), wideArg16(schema, schemaLength),
                         wideArg16(procedure, procedureLength), wideArg16(column, columnLength)});
}

SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                     SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                                     SQLSMALLINT tableLength) {
    return emptyCatalog(stmt, EmptyCatalog::TablePrivileges,
                        {narrowArg16(catalog, catalogLength), narrowArg16(schema, schemaLength),
                         narrowArg16(table, tableLength)});
}

SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                      SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                                      SQLSMALLINT tableLength) {
    return emptyCatalog(stmt, EmptyCatalog::TablePrivileges,
                        {wideArg16(catalog, catalogLength), wideArg16(schema, schemaLength),
                         wideArg16(table, tableLength)});
}

SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                      SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                                      SQLSMALLINT tableLength, SQLCHAR* column,
                                      SQLSMALLINT columnLength) {
    return emptyCatalog(stmt, EmptyCatalog::ColumnPrivileges,
                        {narrowArg16(catalog, catalogLength), narrowArg16(schema, schemaLength),
                         narrowArg16(table, tableLength), narrowArg16(column, columnLength)});
}

SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                       SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                                       SQLSMALLINT tableLength, SQLWCHAR* column,
                                       SQLSMALLINT columnLength) {
    return emptyCatalog(stmt, EmptyCatalog::ColumnPrivileges,
                        {wideArg16(catalog, catalogLength), wideArg16(schema, schemaLength),
                         wideArg16(table, tableLength), wideArg16(column, columnLength)});
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT stmt, SQLSMALLINT type) {
    return getTypeInfo(stmt, type);
}

SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT stmt, SQLSMALLINT type) {
    return getTypeInfo(stmt, type);
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
    return execDirect(stmt, narrowArg(text, length));
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT stmt, SQLWCHAR* text, SQLINTEGER length) {
    return execDirect(stmt, wideArg(text, length));
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
    return prepare(stmt, narrowArg(text, length));
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT stmt, SQLWCHAR* text, SQLINTEGER length) {
    return prepare(stmt, wideArg(text, length));
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT stmt) {
    return execute(stmt);
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT stmt, SQLSMALLINT* count) {
    return numResultCols(stmt, count);
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name,
                                 SQLSMALLINT capacity, SQLSMALLINT* nameLength, SQLSMALLINT* type,
                                 SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    return describeCol(stmt, column, narrowChars(name, capacity), nameLength, type, size, digits,
                       nullable);
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT stmt, SQLUSMALLINT column, SQLWCHAR* name,
                                  SQLSMALLINT capacity, SQLSMALLINT* nameLength, SQLSMALLINT* type,
                                  SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    return describeCol(stmt, column, wideChars(name, capacity), nameLength, type, size, digits,
                       nullable);
}

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                                  SQLPOINTER text, SQLSMALLINT capacity, SQLSMALLINT* textLength,
                                  SQLLEN* number) {
    return colAttribute(stmt, column, field, narrowBytes(text, capacity), textLength, number);
}

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                                   SQLPOINTER text, SQLSMALLINT capacity, SQLSMALLINT* textLength,
                                   SQLLEN* number) {
    return colAttribute(stmt, column, field, wideBytes(text, capacity), textLength, number);
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER data,
                             SQLLEN capacity, SQLLEN* indicator) {
    return bindCol(stmt, column, cType, data, capacity, indicator);
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT stmt, SQLSMALLINT* count) {
    return numParams(stmt, count);
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT ioType,
                                   SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN /*size*/,
                                   SQLSMALLINT /*digits*/, SQLPOINTER value, SQLLEN capacity,
                                   SQLLEN* indicator) {
    return bindParameter(stmt, number, ioType, cType, sqlType, value, capacity, indicator);
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT* type,
                                   SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    return describeParam(stmt, number, type, size, digits, nullable);
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT stmt, SQLPOINTER* value) {
    return paramData(stmt, value);
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT stmt, SQLPOINTER data, SQLLEN length) {
    return putData(stmt, data, length);
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt) {
    return fetch(stmt);
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT stmt, SQLSMALLINT orientation, SQLLEN offset) {
    return fetchScroll(stmt, orientation, offset);
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER data,
                             SQLLEN capacity, SQLLEN* indicator) {
    return getData(stmt, column, cType, data, capacity, indicator);
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT stmt, SQLLEN* count) {
    return rowCount(stmt, count);
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT stmt) {
    return moreResults(stmt);
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT stmt) {
    return closeCursor(stmt);
}

SQLRETURN SQL_API SQLCancel(SQLHSTMT stmt) {
    return cancel(stmt);
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
    return endTran(type, handle, completion);
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC dbc, SQLCHAR* in, SQLINTEGER inLength, SQLCHAR* out,
                               SQLINTEGER outCapacity, SQLINTEGER* outLength) {
    return nativeSql(dbc, narrowArg(in, inLength), narrowChars(out, outCapacity), outLength);
}

SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC dbc, SQLWCHAR* in, SQLINTEGER inLength, SQLWCHAR* out,
                                SQLINTEGER outCapacity, SQLINTEGER* outLength) {
    return nativeSql(dbc, wideArg(in, inLength), wideChars(out, outCapacity), outLength);
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT capacity, SQLSMALLINT* length) {
    return getDiagRec(type, handle, record, narrowChars(state, 6), native,
                      narrowChars(message, capacity), length);
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                 SQLWCHAR* state, SQLINTEGER* native, SQLWCHAR* message,
                                 SQLSMALLINT capacity, SQLSMALLINT* length) {
    return getDiagRec(type, handle, record, wideChars(state, 6), native,
                      wideChars(message, capacity), length);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                  SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT capacity,
                                  SQLSMALLINT* length) {
    return getDiagField(type, handle, record, field, value, capacity, length, Encoding::Utf8);
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                   SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT capacity,
                                   SQLSMALLINT* length) {
    return getDiagField(type, handle, record, field, value, capacity, length, Encoding::Utf16);
}

}  // extern "C"
