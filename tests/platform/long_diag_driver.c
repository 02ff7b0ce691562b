/* A test-only ODBC driver: it connects, and every statement run on the
 * connection fails with one diagnostic record of a chosen length, the
 * connection string's LEN=<n> characters ("x" repeated, ending in "!"). It
 * reports the true length through SQLSMALLINT as ODBC defines it, so
 * lengths past 32,767 come out wrapped, as they do from any driver. */
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <stdlib.h>
#include <string.h>

static long g_length = 0;
static int g_pending = 0;

static int g_env;
static int g_dbc;
static int g_stmt;

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    (void)input;
    *output = type == SQL_HANDLE_ENV   ? (SQLHANDLE)&g_env
              : type == SQL_HANDLE_DBC ? (SQLHANDLE)&g_dbc
                                       : (SQLHANDLE)&g_stmt;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    (void)type;
    (void)handle;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER length) {
    (void)env;
    (void)attribute;
    (void)value;
    (void)length;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER length) {
    (void)dbc;
    (void)attribute;
    (void)value;
    (void)length;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC dbc, SQLHWND window, SQLWCHAR* in, SQLSMALLINT inLength,
                                    SQLWCHAR* out, SQLSMALLINT outMax, SQLSMALLINT* outLength,
                                    SQLUSMALLINT completion) {
    char narrow[256] = {0};
    const char* found;
    int i;
    (void)dbc;
    (void)window;
    (void)out;
    (void)outMax;
    (void)outLength;
    (void)completion;
    for (i = 0; i < 255 && (inLength == SQL_NTS ? in[i] != 0 : i < inLength); ++i)
        narrow[i] = (char)in[i];
    found = strstr(narrow, "LEN=");
    g_length = found ? atol(found + 4) : 10;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER length) {
    (void)stmt;
    (void)attribute;
    (void)value;
    (void)length;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
    (void)stmt;
    (void)option;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT stmt, SQLWCHAR* text, SQLINTEGER length) {
    (void)stmt;
    (void)text;
    (void)length;
    g_pending = 1;
    return SQL_ERROR;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
    (void)dbc;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                 SQLWCHAR* state, SQLINTEGER* native, SQLWCHAR* message,
                                 SQLSMALLINT bufferLength, SQLSMALLINT* textLength) {
    long n;
    long copy;
    (void)handle;
    if (record != 1 || !g_pending || type != SQL_HANDLE_STMT)
        return SQL_NO_DATA;
    if (state) {
        static const char kState[] = "HY000";
        for (n = 0; n < 6; ++n) state[n] = (SQLWCHAR)kState[n];
    }
    if (native)
        *native = 0;
    copy = bufferLength > 0 ? (g_length < bufferLength ? g_length : bufferLength - 1) : 0;
    if (message && bufferLength > 0) {
        for (n = 0; n < copy; ++n) message[n] = (SQLWCHAR)(n + 1 == g_length ? '!' : 'x');
        message[copy] = 0;
    }
    if (textLength)
        *textLength = (SQLSMALLINT)g_length;
    return copy < g_length ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                   SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT bufferLength,
                                   SQLSMALLINT* textLength) {
    (void)handle;
    (void)bufferLength;
    (void)textLength;
    if (record == 0 && field == SQL_DIAG_NUMBER) {
        if (value)
            *(SQLINTEGER*)value = g_pending && type == SQL_HANDLE_STMT ? 1 : 0;
        return SQL_SUCCESS;
    }
    if (record == 0 && field == SQL_DIAG_RETURNCODE) {
        if (value)
            *(SQLRETURN*)value = SQL_ERROR;
        return SQL_SUCCESS;
    }
    return SQL_NO_DATA;
}
