// Test support for the database tests: points unixODBC at the test-only
// driver configuration of the build tree, and gives a test a scratch SQLite
// database file that is removed afterwards.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>

#include "platform/cstring.h"

// GoogleTest shows a CString as its UTF-8 text.
inline void PrintTo(const CString& text, std::ostream* os) {
    *os << '"' << text.ToUtf8() << '"';
}

// Must run before the first ODBC call of the process: unixODBC reads
// ODBCSYSINI when it looks a driver up.
inline void UseTestDrivers() {
    static const bool once = [] {
        setenv("ODBCSYSINI", TABROOK_TEST_ODBCSYSINI, 1);
        return true;
    }();
    (void)once;
}

class ScratchSqlite {
public:
    ScratchSqlite() {
        static std::atomic<int> counter{0};
        UseTestDrivers();
        m_path =
            std::filesystem::temp_directory_path() / ("tabrook-db-" + std::to_string(getpid()) +
                                                      "-" + std::to_string(++counter) + ".sqlite");
        std::filesystem::remove(m_path);
    }
    ScratchSqlite(const ScratchSqlite&) = delete;
    ScratchSqlite& operator=(const ScratchSqlite&) = delete;
    ~ScratchSqlite() {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }

    [[nodiscard]] CString Connect() const {
        return CString::FromUtf8("ODBC;DRIVER={SQLite3};Database=" + m_path.string());
    }

private:
    std::filesystem::path m_path;
};
