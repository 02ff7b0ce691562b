// The test client's handles and helpers.
#include "odbc_client.h"

#include <cstring>

namespace xlsodbc_test {

std::u16string u(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        char32_t cp = c;
        int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        if (extra > 0) {
            cp = c & (0x3F >> extra);
        }
        for (int k = 1; k <= extra; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + static_cast<size_t>(k)]) & 0x3F);
        }
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::vector<Diag> diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::vector<Diag> out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLWCHAR message[2048] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN rc =
            SQLGetDiagRecW(type, handle, i, state, &native, message, 2048, &length);
        if (!SQL_SUCCEEDED(rc)) {
            break;
        }
        out.push_back({utf8(std::u16string(reinterpret_cast<char16_t*>(state))),
                       utf8(std::u16string(reinterpret_cast<char16_t*>(message)))});
    }
    return out;
}

std::string describe(SQLSMALLINT type, SQLHANDLE handle) {
    std::string text;
    for (const Diag& d : diagnostics(type, handle)) {
        text += d.state + " " + d.message + "\n";
    }
    return text;
}

Env::Env(SQLINTEGER version) {
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle), SQL_SUCCESS);
    EXPECT_EQ(SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(version)), 0),
              SQL_SUCCESS);
}

Env::~Env() {
    SQLFreeHandle(SQL_HANDLE_ENV, handle);
}

Conn::Conn(Env& env) {
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env.handle, &handle), SQL_SUCCESS);
}

Conn::~Conn() {
    if (connected) {
        SQLDisconnect(handle);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, handle);
}

SQLRETURN Conn::connect(const std::string& connectionString) {
    std::u16string in = u(connectionString);
    SQLWCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(handle, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()),
                                           SQL_NTS, out, 1024, &outLength, SQL_DRIVER_NOPROMPT);
    connected = SQL_SUCCEEDED(rc);
    return rc;
}

SQLRETURN Conn::connectDsn(const std::string& dsn) {
    std::u16string name = u(dsn);
    const SQLRETURN rc = SQLConnectW(handle, reinterpret_cast<SQLWCHAR*>(name.data()), SQL_NTS,
                                     nullptr, 0, nullptr, 0);
    connected = SQL_SUCCEEDED(rc);
    return rc;
}

Stmt::Stmt(Conn& conn) {
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, conn.handle, &handle), SQL_SUCCESS);
}

Stmt::~Stmt() {
    SQLFreeHandle(SQL_HANDLE_STMT, handle);
}

SQLRETURN Stmt::exec(const std::string& statement) {
    std::u16string text = u(statement);
    return SQLExecDirectW(handle, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS);
}

std::vector<std::string> Stmt::columnNames() {
    SQLSMALLINT count = 0;
    EXPECT_EQ(SQLNumResultCols(handle, &count), SQL_SUCCESS);
    std::vector<std::string> names;
    for (SQLUSMALLINT i = 1; i <= count; ++i) {
        SQLWCHAR name[257] = {};
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        EXPECT_EQ(SQLDescribeColW(handle, i, name, 256, &length, &type, &size, &digits, &nullable),
                  SQL_SUCCESS);
        names.push_back(
            utf8(std::u16string(reinterpret_cast<char16_t*>(name), static_cast<size_t>(length))));
    }
    return names;
}

std::vector<std::vector<std::optional<std::string>>> Stmt::rows(SQLLEN piece) {
    SQLSMALLINT count = 0;
    EXPECT_EQ(SQLNumResultCols(handle, &count), SQL_SUCCESS);
    std::vector<std::vector<std::optional<std::string>>> out;
    std::vector<char> buffer(static_cast<size_t>(piece));
    SQLRETURN rc;
    while ((rc = SQLFetch(handle)) == SQL_SUCCESS) {
        auto& row = out.emplace_back();
        for (SQLUSMALLINT c = 1; c <= count; ++c) {
            std::u16string value;
            SQLLEN indicator = 0;
            bool null = false;
            SQLRETURN g;
            while ((g = SQLGetData(handle, c, SQL_C_WCHAR, buffer.data(), piece, &indicator)) !=
                   SQL_NO_DATA) {
                EXPECT_TRUE(SQL_SUCCEEDED(g)) << describe(SQL_HANDLE_STMT, handle);
                if (!SQL_SUCCEEDED(g)) {
                    break;
                }
                if (indicator == SQL_NULL_DATA) {
                    null = true;
                    break;
                }
                value += reinterpret_cast<const char16_t*>(buffer.data());
            }
            row.push_back(null ? std::nullopt : std::optional(utf8(value)));
        }
    }
    EXPECT_EQ(rc, SQL_NO_DATA) << describe(SQL_HANDLE_STMT, handle);
    return out;
}

std::string fixture(const std::string& name) {
    return std::string(XLSODBC_FIXTURES) + "/" + name;
}

std::string connectionString(const std::string& workbook, const std::string& extra) {
    return "DRIVER={Velkor Excel Driver (*.xls)};DSN='';DBQ=" + fixture(workbook) +
           (extra.empty() ? "" : ";" + extra);
}

}  // namespace xlsodbc_test

// LeakSanitizer asks the program for suppressions: unixODBC's driver manager
// keeps a few bytes of each environment and connection in caches it never
// frees; those leaks are its own, not the driver's. (Without a sanitizer
// this function is simply unused.)
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libodbc.so\nleak:libodbcinst.so\n";
}
