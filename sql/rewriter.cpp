// The rewriter: the statement is cut into tokens (literals, quoted names
// and comments are single tokens, so nothing inside them is touched),
// ODBC escapes are resolved on the flat list, then the tokens are grouped
// by parentheses and each level is rewritten from the inside out.
#include "sql/rewriter.h"

#include "sql/dates.h"
#include "sql/engine.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace sql {

namespace {

enum class Kind : uint8_t {
    Space,
    Word,    // a keyword or a bare name (may hold $ ! : for ranges)
    Name,    // a quoted name, text without its quotes
    String,  // a text literal, text with its quotes
    Number,
    Punct,  // an operator or punctuation
    Param,  // ?
    Group,  // ( children )
};

struct Node {
    Kind kind = Kind::Space;
    std::u16string text;
    std::vector<Node> children;
    // A name written in double quotes: the engine reads it as a text when
    // no column has that name, as the dialect reads "..." as a text. Names
    // in brackets or back quotes are names only (a misspelt one is an
    // error, not a constant).
    bool doubleQuoted = false;
};

constexpr size_t kMaxDepth = 200;

std::string utf8(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// A part of the statement for a message: long ones are cut in the middle.
std::string excerpt(std::u16string_view text) {
    constexpr size_t kLimit = 120;
    if (text.size() <= kLimit) {
        return utf8(text);
    }
    return utf8(text.substr(0, kLimit / 2)) + "..." + utf8(text.substr(text.size() - kLimit / 2));
}

[[noreturn]] void syntax(const std::string& problem) {
    throw Error(ErrorKind::Syntax, problem);
}

char16_t upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

bool is(const Node& n, std::u16string_view word) {
    if (n.kind != Kind::Word || n.text.size() != word.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        if (upper(n.text[i]) != word[i]) {
            return false;
        }
    }
    return true;
}

bool isPunct(const Node& n, std::u16string_view p) {
    return n.kind == Kind::Punct && n.text == p;
}

bool isWordStart(char16_t c) {
    return c == u'_' || (c >= 0x80 && c != 0xA0 && !u_isspace(c)) || (c >= u'a' && c <= u'z') ||
           (c >= u'A' && c <= u'Z');
}

bool isWordChar(char16_t c) {
    return isWordStart(c) || (c >= u'0' && c <= u'9') || c == u'$';
}

bool isSpaceChar(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v' ||
           c == 0xA0;
}

// A cell reference or range after "$" or "!": letters then digits,
// optionally ":" and another; returns its length, 0 when none.
size_t cellRangeLength(std::u16string_view s, size_t at) {
    auto cell = [&](size_t i) -> size_t {
        const size_t start = i;
        while (i < s.size() && ((s[i] >= u'A' && s[i] <= u'Z') || (s[i] >= u'a' && s[i] <= u'z'))) {
            ++i;
        }
        const size_t letters = i - start;
        const size_t digitsAt = i;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
            ++i;
        }
        return letters >= 1 && letters <= 3 && i > digitsAt ? i - start : 0;
    };
    const size_t first = cell(at);
    if (first == 0) {
        return 0;
    }
    if (at + first < s.size() && s[at + first] == u':') {
        const size_t second = cell(at + first + 1);
        if (second > 0) {
            return first + 1 + second;
        }
    }
    return first;
}

// ---- tokens --------------------------------------------------------------

std::vector<Node> tokenize(std::u16string_view s) {
    std::vector<Node> out;
    size_t i = 0;
    size_t markers = 0;
    auto closing = [&](char16_t close, const char* what) {
        // Returns the text up to `close` (a doubled one stands for itself).
        std::u16string text;
        size_t k = i + 1;
        for (;; ++k) {
            if (k >= s.size()) {
                syntax(std::string(what) + " that begins at \"" +
                       excerpt(s.substr(i, std::min<size_t>(40, s.size() - i))) +
                       "\" is not closed");
            }
            if (s[k] == close) {
                if (k + 1 < s.size() && s[k + 1] == close) {
                    text.push_back(close);
                    ++k;
                    continue;
                }
                break;
            }
            text.push_back(s[k]);
        }
        i = k + 1;
        return text;
    };
    while (i < s.size()) {
        const char16_t c = s[i];
        if (isSpaceChar(c)) {
            while (i < s.size() && isSpaceChar(s[i])) {
                ++i;
            }
            out.push_back({Kind::Space, u" ", {}});
        } else if (c == u'-' && i + 1 < s.size() && s[i + 1] == u'-') {
            while (i < s.size() && s[i] != u'\n') {
                ++i;
            }
            out.push_back({Kind::Space, u" ", {}});
        } else if (c == u'/' && i + 1 < s.size() && s[i + 1] == u'*') {
            const size_t end = s.find(u"*/", i + 2);
            if (end == std::u16string_view::npos) {
                syntax("a comment /* is not closed");
            }
            i = end + 2;
            out.push_back({Kind::Space, u" ", {}});
        } else if (c == u'\'') {
            const size_t start = i;
            closing(u'\'', "A text in quotes");
            out.push_back({Kind::String, std::u16string(s.substr(start, i - start)), {}});
        } else if (c == u'"') {
            out.push_back({Kind::Name, closing(u'"', "A name in double quotes"), {}, true});
        } else if (c == u'`') {
            out.push_back({Kind::Name, closing(u'`', "A name in back quotes"), {}});
        } else if (c == u'[') {
            out.push_back({Kind::Name, closing(u']', "A name in brackets"), {}});
        } else if (c == u'#') {
            const size_t end = s.find(u'#', i + 1);
            if (end == std::u16string_view::npos) {
                syntax("a date literal that begins with # is not closed with #");
            }
            const std::u16string_view inside = s.substr(i + 1, end - i - 1);
            const auto date = parseDateTime(inside);
            if (!date) {
                syntax("#" + excerpt(inside) +
                       "# is not a date or time (write #1/15/2024#, #2024-01-15# or #13:45:00#)");
            }
            std::u16string literal = u"'" + formatDateTime(*date) + u"'";
            out.push_back({Kind::String, std::move(literal), {}});
            i = end + 1;
        } else if ((c >= u'0' && c <= u'9') ||
                   (c == u'.' && i + 1 < s.size() && s[i + 1] >= u'0' && s[i + 1] <= u'9')) {
            const size_t start = i;
            while (i < s.size() && ((s[i] >= u'0' && s[i] <= u'9') || s[i] == u'.')) {
                ++i;
            }
            if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
                size_t k = i + 1;
                if (k < s.size() && (s[k] == u'+' || s[k] == u'-')) {
                    ++k;
                }
                if (k < s.size() && s[k] >= u'0' && s[k] <= u'9') {
                    i = k;
                    if (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
                        ++i;
                    }
                }
            }
            // "1Sheet$" is a name that begins with digits.
            if (i < s.size() && isWordChar(s[i])) {
                while (i < s.size() && isWordChar(s[i])) {
                    ++i;
                }
                out.push_back({Kind::Word, std::u16string(s.substr(start, i - start)), {}});
            } else {
                out.push_back({Kind::Number, std::u16string(s.substr(start, i - start)), {}});
            }
        } else if (isWordStart(c)) {
            const size_t start = i;
            while (i < s.size() && isWordChar(s[i])) {
                ++i;
            }
            // Sheet1$A1:C10 and Sheet1!Name, Sheet1!A1:C10: one name.
            const std::u16string_view word = s.substr(start, i - start);
            if (word.find(u'$') != std::u16string_view::npos && i < s.size() && s[i] == u':' &&
                cellRangeLength(s, i + 1) > 0) {
                i += 1 + cellRangeLength(s, i + 1);
            } else if (i + 1 < s.size() && s[i] == u'!' && isWordStart(s[i + 1])) {
                ++i;
                while (i < s.size() && isWordChar(s[i])) {
                    ++i;
                }
                if (i < s.size() && s[i] == u':' && cellRangeLength(s, i + 1) > 0) {
                    i += 1 + cellRangeLength(s, i + 1);
                }
            }
            out.push_back({Kind::Word, std::u16string(s.substr(start, i - start)), {}});
        } else if (c == u'?') {
            // Numbered, so that moving a marker (TOP ?) or repeating one
            // (TOP n PERCENT) keeps the values bound in the order written.
            const std::string number = std::to_string(++markers);
            out.push_back({Kind::Param, u"?" + std::u16string(number.begin(), number.end()), {}});
            ++i;
            if (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
                syntax("numbered parameter markers (?1) are not supported; write ?");
            }
        } else {
            static constexpr std::array<std::u16string_view, 9> kTwo{
                u"<>", u"<=", u">=", u"!=", u"==", u"||", u"<<", u">>", u"->"};
            std::u16string op(1, c);
            if (i + 1 < s.size()) {
                const std::u16string two{c, s[i + 1]};
                if (std::find(kTwo.begin(), kTwo.end(), two) != kTwo.end()) {
                    op = two;
                }
            }
            i += op.size();
            out.push_back({Kind::Punct, std::move(op), {}});
        }
    }
    // 'My Sheet'!Name: a quoted sheet name qualifying a defined name.
    for (size_t k = 0; k + 2 < out.size(); ++k) {
        if (out[k].kind == Kind::String && isPunct(out[k + 1], u"!") &&
            out[k + 2].kind == Kind::Word) {
            out[k] = {Kind::Name, out[k].text + u"!" + out[k + 2].text, {}};
            out.erase(out.begin() + static_cast<std::ptrdiff_t>(k) + 1,
                      out.begin() + static_cast<std::ptrdiff_t>(k) + 3);
        }
    }
    return out;
}

size_t nextSignificant(const std::vector<Node>& v, size_t i) {
    while (i < v.size() && v[i].kind == Kind::Space) {
        ++i;
    }
    return i;
}

// ODBC escapes on the flat token list.
std::vector<Node> resolveEscapes(std::vector<Node> in) {
    std::vector<Node> out;
    std::vector<bool> dropClose;  // for each open brace: drop its "}"
    for (size_t i = 0; i < in.size(); ++i) {
        Node& n = in[i];
        if (isPunct(n, u"{")) {
            const size_t k = nextSignificant(in, i + 1);
            if (k >= in.size() || in[k].kind != Kind::Word) {
                syntax(
                    "an ODBC escape { is not followed by its keyword (d, t, ts, fn, oj, escape)");
            }
            const Node& key = in[k];
            if (is(key, u"D") || is(key, u"T") || is(key, u"TS")) {
                const size_t v = nextSignificant(in, k + 1);
                const size_t close = nextSignificant(in, v + 1);
                if (v >= in.size() || in[v].kind != Kind::String || close >= in.size() ||
                    !isPunct(in[close], u"}")) {
                    syntax("the ODBC escape {" + utf8(key.text) +
                           " ...} must hold one quoted value, as in {d '2024-01-15'}");
                }
                const std::u16string& quoted = in[v].text;
                const auto value = parseDateTime(quoted.substr(1, quoted.size() - 2));
                const bool wantDate = !is(key, u"T");
                if (!value || value->hasDate != wantDate) {
                    syntax("{" + utf8(key.text) + " " + utf8(quoted) + "} is not a valid " +
                           (is(key, u"D") ? "date" : (is(key, u"T") ? "time" : "timestamp")));
                }
                DateTime d = *value;
                if (is(key, u"D")) {
                    d.hasTime = false;
                }
                out.push_back({Kind::String, u"'" + formatDateTime(d) + u"'", {}});
                i = close;
            } else if (is(key, u"FN") || is(key, u"OJ")) {
                dropClose.push_back(true);
                i = k;
            } else if (is(key, u"ESCAPE")) {
                dropClose.push_back(true);
                out.push_back({Kind::Word, u"ESCAPE", {}});
                i = k;
            } else {
                syntax("the ODBC escape {" + utf8(key.text) +
                       " ...} is not supported (only d, t, ts, fn, oj and escape)");
            }
        } else if (isPunct(n, u"}")) {
            if (dropClose.empty()) {
                syntax("a } closes no ODBC escape");
            }
            dropClose.pop_back();
        } else {
            out.push_back(std::move(n));
        }
    }
    if (!dropClose.empty()) {
        syntax("an ODBC escape { is not closed with }");
    }
    return out;
}

std::vector<Node> group(const std::vector<Node>& flat, size_t& i, size_t depth) {
    if (depth > kMaxDepth) {
        syntax("the statement is nested more than " + std::to_string(kMaxDepth) +
               " parentheses deep");
    }
    std::vector<Node> seq;
    while (i < flat.size()) {
        const Node& n = flat[i];
        if (isPunct(n, u"(")) {
            ++i;
            Node g{Kind::Group, {}, group(flat, i, depth + 1)};
            if (i >= flat.size()) {
                syntax("a ( is not closed with )");
            }
            ++i;  // ")"
            seq.push_back(std::move(g));
        } else if (isPunct(n, u")")) {
            if (depth == 0) {
                syntax("a ) closes nothing");
            }
            return seq;
        } else {
            seq.push_back(n);
            ++i;
        }
    }
    return seq;
}

// ---- operands ------------------------------------------------------------

// Words that end an operand: clauses, logic and the like.
bool isKeyword(const Node& n) {
    static constexpr std::array<std::u16string_view, 52> kWords{
        u"SELECT", u"FROM",    u"WHERE",     u"GROUP",    u"BY",     u"ORDER",   u"HAVING",
        u"AND",    u"OR",      u"NOT",       u"LIKE",     u"GLOB",   u"REGEXP",  u"MATCH",
        u"IS",     u"IN",      u"BETWEEN",   u"AS",       u"ON",     u"JOIN",    u"LEFT",
        u"RIGHT",  u"INNER",   u"OUTER",     u"CROSS",    u"FULL",   u"NATURAL", u"UNION",
        u"ALL",    u"EXCEPT",  u"INTERSECT", u"DISTINCT", u"CASE",   u"WHEN",    u"THEN",
        u"ELSE",   u"END",     u"ESCAPE",    u"ASC",      u"DESC",   u"LIMIT",   u"OFFSET",
        u"EXISTS", u"COLLATE", u"USING",     u"WITH",     u"VALUES", u"TOP",     u"PERCENT",
        u"ISNULL", u"NOTNULL", u"MOD"};
    return n.kind == Kind::Word && std::any_of(kWords.begin(), kWords.end(),
                                               [&](std::u16string_view w) { return is(n, w); });
}

bool isAtom(const Node& n) {
    return (n.kind == Kind::Word && !isKeyword(n)) || n.kind == Kind::Name ||
           n.kind == Kind::String || n.kind == Kind::Number || n.kind == Kind::Param ||
           n.kind == Kind::Group;
}

size_t prevSignificant(const std::vector<Node>& v, size_t i) {
    // The significant node before index i; npos when none.
    while (i > 0) {
        --i;
        if (v[i].kind != Kind::Space) {
            return i;
        }
    }
    return std::u16string::npos;
}

constexpr size_t npos = std::u16string::npos;

// The start of the primary that ends at `end`: a name (t.col), a literal, a
// parenthesis, or a call name(...); npos when v[end] is none of these.
size_t primaryStart(const std::vector<Node>& v, size_t end) {
    if (end == npos || !isAtom(v[end])) {
        // LEFT(...) and RIGHT(...) are calls too.
        if (end != npos && end > 0 && v[end].kind == Kind::Group &&
            (is(v[end - 1], u"LEFT") || is(v[end - 1], u"RIGHT"))) {
            return end - 1;
        }
        return npos;
    }
    size_t start = end;
    if (v[end].kind == Kind::Group && end > 0) {
        const Node& before = v[end - 1];
        if ((before.kind == Kind::Word && !isKeyword(before)) || is(before, u"LEFT") ||
            is(before, u"RIGHT") || is(before, u"EXISTS")) {
            start = end - 1;
        }
    }
    // Qualified names: a.b.c
    while (start >= 2 && isPunct(v[start - 1], u".") &&
           (v[start - 2].kind == Kind::Word || v[start - 2].kind == Kind::Name)) {
        start -= 2;
    }
    return start;
}

// The end (inclusive) of the primary that starts at `start`, unary signs
// included; npos when none starts there.
size_t primaryEnd(const std::vector<Node>& v, size_t start) {
    size_t i = start;
    while (i < v.size() && (isPunct(v[i], u"-") || isPunct(v[i], u"+"))) {
        i = nextSignificant(v, i + 1);
    }
    if (i >= v.size()) {
        return npos;
    }
    if (!isAtom(v[i]) && !((is(v[i], u"LEFT") || is(v[i], u"RIGHT")) && i + 1 < v.size() &&
                           v[i + 1].kind == Kind::Group)) {
        return npos;
    }
    size_t end = i;
    if ((v[i].kind == Kind::Word) && i + 1 < v.size() && v[i + 1].kind == Kind::Group) {
        end = i + 1;
    }
    while (end + 2 < v.size() && isPunct(v[end + 1], u".") &&
           (v[end + 2].kind == Kind::Word || v[end + 2].kind == Kind::Name)) {
        end += 2;
        if (end + 1 < v.size() && v[end + 1].kind == Kind::Group) {
            ++end;
        }
    }
    return end;
}

bool inSet(const Node& n, std::initializer_list<std::u16string_view> ops) {
    return n.kind == Kind::Punct && std::find(ops.begin(), ops.end(), n.text) != ops.end();
}

// The run of primaries joined by `ops` that ends at `end`; its start.
size_t runStart(const std::vector<Node>& v, size_t end,
                std::initializer_list<std::u16string_view> ops) {
    size_t start = primaryStart(v, end);
    if (start == npos) {
        return npos;
    }
    for (;;) {
        const size_t op = prevSignificant(v, start);
        if (op == npos || !inSet(v[op], ops)) {
            break;
        }
        const size_t before = prevSignificant(v, op);
        const size_t s = before == npos ? npos : primaryStart(v, before);
        if (s == npos) {
            // A sign before the run: "-a & b".
            if (isPunct(v[op], u"-") || isPunct(v[op], u"+")) {
                start = op;
            }
            break;
        }
        start = s;
    }
    return start;
}

size_t runEnd(const std::vector<Node>& v, size_t start,
              std::initializer_list<std::u16string_view> ops) {
    size_t end = primaryEnd(v, start);
    if (end == npos) {
        return npos;
    }
    for (;;) {
        const size_t op = nextSignificant(v, end + 1);
        if (op >= v.size() || !inSet(v[op], ops)) {
            break;
        }
        const size_t e = primaryEnd(v, nextSignificant(v, op + 1));
        if (e == npos) {
            break;
        }
        end = e;
    }
    return end;
}

std::vector<Node> slice(const std::vector<Node>& v, size_t from, size_t to) {
    return {v.begin() + static_cast<std::ptrdiff_t>(from),
            v.begin() + static_cast<std::ptrdiff_t>(to) + 1};
}

// Replaces v[from..to] by fn(left, right).
void replaceByCall(std::vector<Node>& v, size_t from, size_t op, size_t to,
                   std::u16string_view fn) {
    std::vector<Node> args = slice(v, from, op - 1);
    args.push_back({Kind::Punct, u",", {}});
    std::vector<Node> right = slice(v, op + 1, to);
    args.insert(args.end(), right.begin(), right.end());
    Node call{Kind::Word, std::u16string(fn), {}};
    Node g{Kind::Group, {}, std::move(args)};
    v.erase(v.begin() + static_cast<std::ptrdiff_t>(from),
            v.begin() + static_cast<std::ptrdiff_t>(to) + 1);
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(from), {std::move(call), std::move(g)});
}

// Rewrites each binary `op` (left to right) whose operands are runs joined
// by `ops` into fn(left, right).
void binaryToCall(std::vector<Node>& v, const std::function<bool(const Node&)>& isOp,
                  std::initializer_list<std::u16string_view> ops, std::u16string_view fn,
                  const char* shown) {
    for (size_t k = 0; k < v.size(); ++k) {
        if (!isOp(v[k])) {
            continue;
        }
        const size_t leftEnd = prevSignificant(v, k);
        const size_t from = leftEnd == npos ? npos : runStart(v, leftEnd, ops);
        const size_t rightStart = nextSignificant(v, k + 1);
        const size_t to = rightStart >= v.size() ? npos : runEnd(v, rightStart, ops);
        if (from == npos || to == npos) {
            syntax(std::string("the operator ") + shown +
                   " needs an operand on each side (put a longer operand in parentheses)");
        }
        replaceByCall(v, from, k, to, fn);
        k = from;
    }
}

// ---- the levels ----------------------------------------------------------

struct Context {
    std::u16string_view catalog;
};

void rewriteLevel(std::vector<Node>& v, const Context& ctx);

std::u16string flatten(const std::vector<Node>& v);

bool isQualifierCandidate(const Node& n) {
    return n.kind == Kind::Name || n.kind == Kind::Word || n.kind == Kind::String;
}

std::u16string nameText(const Node& n) {
    if (n.kind == Kind::String) {
        std::u16string out;
        for (size_t i = 1; i + 1 < n.text.size(); ++i) {
            out.push_back(n.text[i]);
            if (n.text[i] == u'\'') {
                ++i;
            }
        }
        return out;
    }
    return n.text;
}

// CONVERT(value, SQL_type) of the ODBC escapes.
void rewriteConvert(std::vector<Node>& v, size_t k) {
    std::vector<Node>& args = v[k + 1].children;
    size_t comma = npos;
    for (size_t i = 0; i < args.size(); ++i) {
        if (isPunct(args[i], u",")) {
            comma = i;
        }
    }
    const size_t t = comma == npos ? npos : nextSignificant(args, comma + 1);
    if (t == npos || t >= args.size() || args[t].kind != Kind::Word) {
        syntax("CONVERT needs a value and an ODBC type, as in CONVERT(x, SQL_VARCHAR)");
    }
    std::u16string type;
    for (const char16_t c : args[t].text) {
        type.push_back(upper(c));
    }
    std::u16string fn;
    if (type.find(u"CHAR") != std::u16string::npos) {
        fn = u"CStr";
    } else if (type == u"SQL_INTEGER" || type == u"SQL_SMALLINT" || type == u"SQL_BIGINT" ||
               type == u"SQL_TINYINT" || type == u"SQL_BIT") {
        fn = u"CInt";
    } else if (type == u"SQL_DOUBLE" || type == u"SQL_FLOAT" || type == u"SQL_REAL" ||
               type == u"SQL_NUMERIC" || type == u"SQL_DECIMAL") {
        fn = u"CDbl";
    } else if (type == u"SQL_DATE" || type == u"SQL_TYPE_DATE") {
        fn = u"DateValue";
    } else if (type == u"SQL_TIME" || type == u"SQL_TYPE_TIME") {
        fn = u"TimeValue";
    } else if (type == u"SQL_TIMESTAMP" || type == u"SQL_TYPE_TIMESTAMP") {
        fn = u"CDate";
    } else {
        syntax("CONVERT to " + utf8(args[t].text) + " is not supported");
    }
    v[k].text = fn;
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(comma), args.end());
}

// TOP n [PERCENT] after SELECT [DISTINCT|ALL].
void rewriteTop(std::vector<Node>& v) {
    for (size_t s = 0; s < v.size(); ++s) {
        if (!is(v[s], u"SELECT")) {
            continue;
        }
        size_t t = nextSignificant(v, s + 1);
        if (t < v.size() && (is(v[t], u"DISTINCT") || is(v[t], u"ALL"))) {
            t = nextSignificant(v, t + 1);
        }
        if (t >= v.size() || !is(v[t], u"TOP")) {
            continue;
        }
        const size_t n = nextSignificant(v, t + 1);
        if (n >= v.size() || (v[n].kind != Kind::Number && v[n].kind != Kind::Param)) {
            syntax("TOP must be followed by a number");
        }
        const Node count = v[n];
        size_t last = n;
        const size_t p = nextSignificant(v, n + 1);
        const bool percent = p < v.size() && is(v[p], u"PERCENT");
        if (percent) {
            last = p;
        }
        v.erase(v.begin() + static_cast<std::ptrdiff_t>(t),
                v.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        if (t < v.size() && t > 0 && v[t].kind == Kind::Space && v[t - 1].kind == Kind::Space) {
            v.erase(v.begin() + static_cast<std::ptrdiff_t>(t));
        }
        // The select ends at the end of its level or at a compound operator.
        bool compound = false;
        for (size_t k = 0; k < s; ++k) {
            compound =
                compound || is(v[k], u"UNION") || is(v[k], u"EXCEPT") || is(v[k], u"INTERSECT");
        }
        size_t end = s;
        while (end < v.size() && !is(v[end], u"UNION") && !is(v[end], u"EXCEPT") &&
               !is(v[end], u"INTERSECT")) {
            ++end;
        }
        compound = compound || end < v.size();
        std::vector<Node> select = slice(v, s, end - 1);
        std::vector<Node> limit{
            {Kind::Space, u" ", {}}, {Kind::Word, u"LIMIT", {}}, {Kind::Space, u" ", {}}};
        if (percent) {
            // The rows the select gives, times n%, rounded up.
            std::vector<Node> counted{{Kind::Word, u"SELECT", {}},
                                      {Kind::Space, u" ", {}},
                                      {Kind::Word, u"CAST", {}},
                                      {Kind::Group,
                                       {},
                                       {{Kind::Word, u"ceil", {}},
                                        {Kind::Group,
                                         {},
                                         {{Kind::Word, u"COUNT", {}},
                                          {Kind::Group, {}, {{Kind::Punct, u"*", {}}}},
                                          {Kind::Punct, u"*", {}},
                                          count,
                                          {Kind::Punct, u"/", {}},
                                          {Kind::Number, u"100.0", {}}}},
                                        {Kind::Space, u" ", {}},
                                        {Kind::Word, u"AS", {}},
                                        {Kind::Space, u" ", {}},
                                        {Kind::Word, u"INTEGER", {}}}},
                                      {Kind::Space, u" ", {}},
                                      {Kind::Word, u"FROM", {}},
                                      {Kind::Space, u" ", {}},
                                      {Kind::Group, {}, select}};
            limit.push_back({Kind::Group, {}, std::move(counted)});
        } else {
            limit.push_back(count);
        }
        select.insert(select.end(), limit.begin(), limit.end());
        std::vector<Node> replacement;
        if (compound) {
            replacement = {{Kind::Word, u"SELECT", {}},
                           {Kind::Space, u" ", {}},
                           {Kind::Punct, u"*", {}},
                           {Kind::Space, u" ", {}},
                           {Kind::Word, u"FROM", {}},
                           {Kind::Space, u" ", {}},
                           {Kind::Group, {}, std::move(select)}};
            if (end < v.size()) {
                replacement.push_back({Kind::Space, u" ", {}});
            }
        } else {
            replacement = std::move(select);
        }
        v.erase(v.begin() + static_cast<std::ptrdiff_t>(s),
                v.begin() + static_cast<std::ptrdiff_t>(end));
        v.insert(v.begin() + static_cast<std::ptrdiff_t>(s), replacement.begin(),
                 replacement.end());
        s += replacement.size() - 1;
    }
}

// x = True, True <> x, ...: the truth of x compared with -1 or 0.
void rewriteTruth(std::vector<Node>& v) {
    for (size_t k = 0; k < v.size(); ++k) {
        if (!is(v[k], u"TRUE") && !is(v[k], u"FALSE")) {
            continue;
        }
        const bool truth = is(v[k], u"TRUE");
        const Node literal{Kind::Number, truth ? u"-1" : u"0", {}};
        const size_t before = prevSignificant(v, k);
        const size_t after = nextSignificant(v, k + 1);
        auto isComparison = [](const Node& n) { return inSet(n, {u"=", u"==", u"<>", u"!="}); };
        const std::initializer_list<std::u16string_view> arithmetic{u"*", u"/", u"+",
                                                                    u"-", u"%", u"||"};
        if (before != npos && isComparison(v[before])) {
            const size_t otherEnd = prevSignificant(v, before);
            const size_t from = otherEnd == npos ? npos : runStart(v, otherEnd, arithmetic);
            if (from != npos) {
                std::vector<Node> operand = slice(v, from, otherEnd);
                v[k] = literal;
                v.erase(v.begin() + static_cast<std::ptrdiff_t>(from),
                        v.begin() + static_cast<std::ptrdiff_t>(otherEnd) + 1);
                v.insert(v.begin() + static_cast<std::ptrdiff_t>(from),
                         {Node{Kind::Word, u"dialect_true", {}}, Node{Kind::Group, {}, operand}});
                k = from + 1;
                continue;
            }
        } else if (after < v.size() && isComparison(v[after])) {
            const size_t otherStart = nextSignificant(v, after + 1);
            const size_t to = otherStart >= v.size() ? npos : runEnd(v, otherStart, arithmetic);
            if (to != npos) {
                std::vector<Node> operand = slice(v, otherStart, to);
                v.erase(v.begin() + static_cast<std::ptrdiff_t>(otherStart),
                        v.begin() + static_cast<std::ptrdiff_t>(to) + 1);
                v.insert(v.begin() + static_cast<std::ptrdiff_t>(otherStart),
                         {Node{Kind::Word, u"dialect_true", {}}, Node{Kind::Group, {}, operand}});
            }
        }
        // IS TRUE keeps the engine's meaning.
        if (before == npos || !is(v[before], u"IS")) {
            v[k] = literal;
        }
    }
}

void rewriteLevel(std::vector<Node>& v, const Context& ctx) {
    for (Node& n : v) {
        if (n.kind == Kind::Group) {
            rewriteLevel(n.children, ctx);
        }
    }
    // Words.
    for (size_t k = 0; k < v.size(); ++k) {
        Node& n = v[k];
        const bool call = k + 1 < v.size() && v[k + 1].kind == Kind::Group;
        if (call && (is(n, u"ASC") || is(n, u"ISNULL"))) {
            // Functions of the dialect whose names the engine reads as words.
            n.text = is(n, u"ASC") ? u"dialect_asc" : u"dialect_isnull";
        } else if (is(n, u"ALIKE")) {
            n.text = u"LIKE";
        } else if (is(n, u"DISTINCTROW")) {
            n = {Kind::Space, u" ", {}};
        } else if (is(n, u"MOD") && k + 1 < v.size() && v[k + 1].kind == Kind::Group &&
                   (k == 0 || prevSignificant(v, k) == npos ||
                    primaryStart(v, prevSignificant(v, k)) == npos)) {
            n.text = u"dialect_mod";  // MOD(a, b), the function
        } else if (is(n, u"CONVERT") && k + 1 < v.size() && v[k + 1].kind == Kind::Group) {
            rewriteConvert(v, k);
        } else if ((is(n, u"LEFT") || is(n, u"RIGHT")) && k + 1 < v.size() &&
                   v[k + 1].kind == Kind::Group) {
            n.text = is(n, u"LEFT") ? u"dialect_left" : u"dialect_right";
        } else if (is(n, u"CURRENT_DATE") || is(n, u"CURRENT_TIME") ||
                   is(n, u"CURRENT_TIMESTAMP")) {
            // The local date and time, not the engine's UTC.
            n.text = is(n, u"CURRENT_DATE") ? u"Date" : (is(n, u"CURRENT_TIME") ? u"Time" : u"Now");
            if (!call) {
                v.insert(v.begin() + static_cast<std::ptrdiff_t>(k) + 1, Node{Kind::Group, {}, {}});
            }
        } else if (is(n, u"INTO") &&
                   std::any_of(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k),
                               [](const Node& m) { return is(m, u"SELECT"); })) {
            throw Error(ErrorKind::ReadOnly,
                        "The workbook is read-only: SELECT ... INTO would create a table");
        }
    }
    // A catalogue qualifier naming the workbook: `/data/book.xls`.`Sheet1$`.
    for (size_t k = 0; k + 2 < v.size(); ++k) {
        if (isQualifierCandidate(v[k]) && isPunct(v[k + 1], u".") &&
            (v[k + 2].kind == Kind::Name || v[k + 2].kind == Kind::Word) &&
            (k == 0 || !isPunct(v[k - 1], u".")) && !ctx.catalog.empty() &&
            nameText(v[k]) == ctx.catalog) {
            v.erase(v.begin() + static_cast<std::ptrdiff_t>(k),
                    v.begin() + static_cast<std::ptrdiff_t>(k) + 2);
        }
    }
    // [Sheet1$]![Name]: "!" between names is ".".
    for (size_t k = 1; k + 1 < v.size(); ++k) {
        if (isPunct(v[k], u"!") && (v[k - 1].kind == Kind::Name || v[k - 1].kind == Kind::Word) &&
            (v[k + 1].kind == Kind::Name || v[k + 1].kind == Kind::Word)) {
            v[k].text = u".";
        }
    }
    rewriteTop(v);
    binaryToCall(
        v, [](const Node& n) { return isPunct(n, u"^"); }, {}, u"dialect_power", "^");
    binaryToCall(
        v, [](const Node& n) { return isPunct(n, u"\\"); }, {u"*", u"/"}, u"dialect_intdiv", "\\");
    binaryToCall(
        v, [](const Node& n) { return is(n, u"MOD"); }, {u"*", u"/"}, u"dialect_mod", "MOD");
    binaryToCall(
        v, [](const Node& n) { return isPunct(n, u"&"); }, {u"*", u"/", u"+", u"-", u"%", u"||"},
        u"dialect_concat", "&");
    rewriteTruth(v);
    for (const Node& n : v) {
        if (n.kind == Kind::Punct && (n.text == u"|" || n.text == u"~" || n.text == u"<<" ||
                                      n.text == u">>" || n.text == u"->")) {
            syntax("the operator " + utf8(n.text) + " is not supported");
        }
    }
}

// Unnamed expressions of the first select list are named Expr1000,
// Expr1001, ... (a plain column keeps its name, an alias is kept).
void nameExpressions(std::vector<Node>& v) {
    const size_t select = nextSignificant(v, 0);
    if (select >= v.size() || !is(v[select], u"SELECT")) {
        return;
    }
    size_t i = nextSignificant(v, select + 1);
    if (i < v.size() && (is(v[i], u"DISTINCT") || is(v[i], u"ALL"))) {
        i = nextSignificant(v, i + 1);
    }
    int number = 1000;
    while (i < v.size()) {
        size_t end = i;
        while (end < v.size() && !isPunct(v[end], u",") && !is(v[end], u"FROM")) {
            ++end;
        }
        std::vector<size_t> sig;
        for (size_t k = i; k < end; ++k) {
            if (v[k].kind != Kind::Space) {
                sig.push_back(k);
            }
        }
        bool named = sig.empty();
        if (!named) {
            const Node& last = v[sig.back()];
            const bool plain = std::all_of(sig.begin(), sig.end(), [&](size_t k) {
                return v[k].kind == Kind::Word || v[k].kind == Kind::Name || isPunct(v[k], u".") ||
                       isPunct(v[k], u"*");
            });
            const bool aliased =
                sig.size() >= 2 &&
                (last.kind == Kind::Word || last.kind == Kind::Name || last.kind == Kind::String) &&
                !isKeyword(last) &&
                (v[sig[sig.size() - 2]].kind != Kind::Punct || is(v[sig[sig.size() - 2]], u"AS"));
            named = plain || aliased;
        }
        if (!named) {
            const std::string n = "Expr" + std::to_string(number++);
            const std::vector<Node> alias{{Kind::Space, u" ", {}},
                                          {Kind::Word, u"AS", {}},
                                          {Kind::Space, u" ", {}},
                                          {Kind::Name, std::u16string(n.begin(), n.end()), {}}};
            v.insert(v.begin() + static_cast<std::ptrdiff_t>(sig.back()) + 1, alias.begin(),
                     alias.end());
            end += alias.size();
        }
        if (end >= v.size() || is(v[end], u"FROM")) {
            break;
        }
        i = end + 1;
    }
}

bool needsQuotes(std::u16string_view word) {
    return word.find_first_of(u"$!:") != std::u16string_view::npos ||
           (!word.empty() && word[0] >= u'0' && word[0] <= u'9');
}

void appendQuoted(std::u16string& out, std::u16string_view name, char16_t quote) {
    out.push_back(quote);
    for (const char16_t c : name) {
        out.push_back(c);
        if (c == quote) {
            out.push_back(quote);
        }
    }
    out.push_back(quote);
}

void flattenInto(std::u16string& out, const std::vector<Node>& v) {
    for (const Node& n : v) {
        switch (n.kind) {
            case Kind::Group:
                out.push_back(u'(');
                flattenInto(out, n.children);
                out.push_back(u')');
                break;
            case Kind::Name:
                appendQuoted(out, n.text, n.doubleQuoted ? u'"' : u'`');
                break;
            case Kind::Word:
                if (needsQuotes(n.text)) {
                    appendQuoted(out, n.text, u'`');
                } else {
                    out += n.text;
                }
                break;
            default:
                // Keep words apart from what follows them.
                if (n.kind == Kind::Number && !out.empty() && isWordChar(out.back())) {
                    out.push_back(u' ');
                }
                out += n.text;
                break;
        }
    }
}

std::u16string flatten(const std::vector<Node>& v) {
    std::u16string out;
    flattenInto(out, v);
    return out;
}

void checkStatementKind(const std::vector<Node>& v) {
    const size_t first = nextSignificant(v, 0);
    if (first >= v.size()) {
        syntax("the statement is empty");
    }
    const Node& n = v[first];
    for (const std::u16string_view w :
         {u"INSERT",   u"UPDATE", u"DELETE", u"CREATE",   u"DROP",      u"ALTER",   u"REPLACE",
          u"TRUNCATE", u"MERGE",  u"GRANT",  u"REVOKE",   u"UPSERT",    u"REINDEX", u"VACUUM",
          u"ANALYZE",  u"BEGIN",  u"COMMIT", u"ROLLBACK", u"SAVEPOINT", u"RELEASE"}) {
        if (is(n, w)) {
            throw Error(ErrorKind::ReadOnly, "The workbook is read-only: " + utf8(w) +
                                                 " is not allowed, a statement may only read it "
                                                 "(SELECT)");
        }
    }
    if (is(n, u"ATTACH") || is(n, u"DETACH")) {
        throw Error(ErrorKind::ReadOnly,
                    "ATTACH and DETACH are not allowed: a statement reads the connected workbook "
                    "only");
    }
    if (is(n, u"PRAGMA")) {
        throw Error(ErrorKind::ReadOnly, "PRAGMA is not allowed: the engine's settings are fixed");
    }
    if (is(n, u"TRANSFORM") || is(n, u"PARAMETERS") || is(n, u"PROCEDURE")) {
        std::u16string word;
        for (const char16_t c : n.text) {
            word.push_back(upper(c));
        }
        syntax(utf8(word) + " is not supported: write the query as a SELECT");
    }
    if (is(n, u"EXPLAIN")) {
        syntax("EXPLAIN is not supported");
    }
}

}  // namespace

std::u16string rewrite(std::u16string_view statement, std::u16string_view catalog) {
    if (statement.size() > kMaxStatementLength) {
        syntax("the statement is " + std::to_string(statement.size()) +
               " characters long; the longest accepted is " + std::to_string(kMaxStatementLength));
    }
    std::vector<Node> flat = resolveEscapes(tokenize(statement));
    // The trailing semicolons.
    while (!flat.empty() && (flat.back().kind == Kind::Space || isPunct(flat.back(), u";"))) {
        flat.pop_back();
    }
    for (const Node& n : flat) {
        if (isPunct(n, u";")) {
            syntax("only one statement may be run at a time; a ; divides this one");
        }
    }
    checkStatementKind(flat);
    size_t i = 0;
    std::vector<Node> tree = group(flat, i, 0);
    rewriteLevel(tree, Context{catalog});
    nameExpressions(tree);
    return flatten(tree);
}

}  // namespace sql
