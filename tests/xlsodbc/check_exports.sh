#!/bin/sh
# The driver library exports exactly the ODBC entry points it implements:
# nothing else leaks out to clash with a client's symbols.
# usage: check_exports.sh <library>
set -eu
lib="$1"
expected="SQLAllocHandle SQLBindCol SQLCancel SQLCloseCursor SQLColAttribute SQLColAttributeW SQLColumns
SQLColumnsW SQLConnect SQLConnectW SQLDescribeCol SQLDescribeColW SQLDisconnect SQLDriverConnect
SQLDriverConnectW SQLEndTran SQLExecDirect SQLExecDirectW SQLExecute SQLFetch SQLFetchScroll SQLFreeHandle
SQLFreeStmt SQLGetConnectAttr SQLGetConnectAttrW SQLGetData SQLGetDiagField SQLGetDiagFieldW SQLGetDiagRec
SQLGetDiagRecW SQLGetEnvAttr SQLGetFunctions SQLGetInfo SQLGetInfoW SQLGetStmtAttr SQLGetStmtAttrW
SQLGetTypeInfo SQLGetTypeInfoW SQLMoreResults SQLNativeSql SQLNativeSqlW SQLNumResultCols SQLPrepare
SQLPrepareW SQLRowCount SQLSetConnectAttr SQLSetConnectAttrW SQLSetEnvAttr SQLSetStmtAttr SQLSetStmtAttrW
SQLTables SQLTablesW SQLNumParams SQLBindParameter SQLDescribeParam SQLParamData SQLPutData
SQLPrimaryKeys SQLPrimaryKeysW SQLForeignKeys SQLForeignKeysW SQLStatistics SQLStatisticsW SQLSpecialColumns
SQLSpecialColumnsW SQLProcedures SQLProceduresW SQLProcedureColumns SQLProcedureColumnsW SQLTablePrivileges
SQLTablePrivilegesW SQLColumnPrivileges SQLColumnPrivilegesW"
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWi]$/ {print $3}' | sort)
want=$(echo $expected | tr ' ' '\n' | sort)
if [ "$actual" != "$want" ]; then
    echo "exported symbols differ from the expected ODBC entry points:"
    diff -u "$(printf '%s' "$want" > /tmp/xlsodbc_want.$$; echo /tmp/xlsodbc_want.$$)" \
            "$(printf '%s' "$actual" > /tmp/xlsodbc_have.$$; echo /tmp/xlsodbc_have.$$)" || true
    rm -f /tmp/xlsodbc_want.$$ /tmp/xlsodbc_have.$$
    exit 1
fi
# Nothing but functions: no data symbols (the C++ runtime's included).
others=$(nm -D --defined-only "$lib" | awk '$2 !~ /^[TtWi]$/ {print $3}')
if [ -n "$others" ]; then
    echo "unexpected exported symbols: $others"
    exit 1
fi
# The driver manager is never linked in: its copies of SQL* would capture
# the driver's own calls inside a client.
if readelf -d "$lib" | grep -q 'libodbc\.so'; then
    echo "the driver is linked against libodbc"
    exit 1
fi
echo "exports ok"
