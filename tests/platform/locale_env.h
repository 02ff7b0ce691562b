// Sets LC_ALL, LC_CTYPE and LANG for one test (null unsets) and restores
// the previous values afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

class ScopedLocaleEnv {
public:
    ScopedLocaleEnv(const char* lcAll, const char* lcCtype, const char* lang) {
        Set(0, lcAll);
        Set(1, lcCtype);
        Set(2, lang);
    }
    ScopedLocaleEnv(const ScopedLocaleEnv&) = delete;
    ScopedLocaleEnv& operator=(const ScopedLocaleEnv&) = delete;
    ~ScopedLocaleEnv() {
        for (int i = 0; i < 3; ++i) {
            if (m_saved[i]) {
                ::setenv(kNames[i], m_saved[i]->c_str(), 1);
            } else {
                ::unsetenv(kNames[i]);
            }
        }
    }

private:
    static constexpr const char* kNames[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    void Set(int i, const char* value) {
        if (const char* old = std::getenv(kNames[i]))
            m_saved[i] = old;
        if (value) {
            ::setenv(kNames[i], value, 1);
        } else {
            ::unsetenv(kNames[i]);
        }
    }
    std::optional<std::string> m_saved[3];
};
