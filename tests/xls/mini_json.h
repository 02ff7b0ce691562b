// A small JSON reader for the test harness: enough for the oracle dumps
// (objects, arrays, strings with \u escapes, numbers, literals).
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/xls/test_util.h"

namespace xls_test {

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // UTF-8
    std::vector<Json> items;
    // An object's members as two parallel lists: a pair holding Json would
    // need Json complete here.
    std::vector<std::string> keys;
    std::vector<Json> values;

    [[nodiscard]] const Json* find(std::string_view key) const {
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == key) {
                return &values[i];
            }
        }
        return nullptr;
    }
    // A member the oracle always writes: its absence is a broken dump.
    [[nodiscard]] const Json& at(std::string_view key) const {
        const Json* member = find(key);
        if (member == nullptr) {
            throw std::runtime_error("oracle dump without \"" + std::string(key) + "\"");
        }
        return *member;
    }
};

class JsonParser {
public:
    explicit JsonParser(std::string_view s) : m_s(s) {}
    Json parse() {
        Json v = value();
        space();
        if (m_i != m_s.size()) {
            fail("trailing data");
        }
        return v;
    }

private:
    [[noreturn]] void fail(const char* what) const {
        throw std::runtime_error(std::string("json: ") + what + " at " + std::to_string(m_i));
    }
    void space() {
        while (m_i < m_s.size() &&
               (m_s[m_i] == ' ' || m_s[m_i] == '\n' || m_s[m_i] == '\r' || m_s[m_i] == '\t')) {
            ++m_i;
        }
    }
    char peek() {
        space();
        if (m_i >= m_s.size()) {
            fail("unexpected end");
        }
        return m_s[m_i];
    }
    void expect(char c) {
        if (peek() != c) {
            fail("unexpected character");
        }
        ++m_i;
    }
    bool literal(std::string_view word) {
        if (m_s.substr(m_i, word.size()) == word) {
            m_i += word.size();
            return true;
        }
        return false;
    }
    unsigned hex4() {
        if (m_i + 4 > m_s.size()) {
            fail("short \\u escape");
        }
        const unsigned v =
            static_cast<unsigned>(std::stoul(std::string(m_s.substr(m_i, 4)), nullptr, 16));
        m_i += 4;
        return v;
    }
    std::string string() {
        expect('"');
        std::string out;
        while (true) {
            if (m_i >= m_s.size()) {
                fail("unterminated string");
            }
            const char c = m_s[m_i++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = m_s[m_i++];
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    unsigned cp = hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && m_s.substr(m_i, 2) == "\\u") {
                        m_i += 2;
                        const unsigned lo = hex4();
                        if (lo >= 0xDC00 && lo < 0xE000) {
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                        } else {
                            appendUtf8(cp, out);
                            cp = lo;
                        }
                    }
                    appendUtf8(cp, out);
                    break;
                }
                default:
                    out += e;
                    break;
            }
        }
    }
    Json value() {
        Json v;
        const char c = peek();
        if (c == '{') {
            v.kind = Json::Kind::Object;
            ++m_i;
            if (peek() == '}') {
                ++m_i;
                return v;
            }
            while (true) {
                std::string key = string();
                expect(':');
                v.values.push_back(value());
                v.keys.push_back(std::move(key));
                if (peek() == ',') {
                    ++m_i;
                    continue;
                }
                expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.kind = Json::Kind::Array;
            ++m_i;
            if (peek() == ']') {
                ++m_i;
                return v;
            }
            while (true) {
                v.items.push_back(value());
                if (peek() == ',') {
                    ++m_i;
                    continue;
                }
                expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.kind = Json::Kind::String;
            v.text = string();
            return v;
        }
        if (literal("true") || literal("false")) {
            v.kind = Json::Kind::Bool;
            v.boolean = m_s[m_i - 1] == 'e' && m_s[m_i - 2] == 'u';
            return v;
        }
        if (literal("null")) {
            return v;
        }
        const std::string digits(m_s.substr(m_i, 40));
        char* end = nullptr;
        v.kind = Json::Kind::Number;
        v.number = std::strtod(digits.c_str(), &end);
        if (end == digits.c_str()) {
            fail("bad value");
        }
        m_i += static_cast<size_t>(end - digits.c_str());
        return v;
    }

    std::string_view m_s;
    size_t m_i = 0;
};

}  // namespace xls_test
