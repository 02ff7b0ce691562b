// The dialect's scalar functions and aggregates, and the case-insensitive
// collation. Functions take and give the engine's values: numbers REAL,
// texts UTF-16, dates and times ISO text (see dates.h). Functions that
// answer yes or no give -1 and 0, as the dialect's True and False.
#include "sql/functions.h"

#include "sql/dates.h"
#include "sql/text_table.h"

#include <sqlite3.h>
#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <string_view>

namespace sql {

namespace {

using Args = sqlite3_value**;

// ---- values --------------------------------------------------------------

bool isNull(sqlite3_value* v) {
    return sqlite3_value_type(v) == SQLITE_NULL;
}

std::u16string asciiText(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// A value as the dialect shows it as text: numbers by the 15-digit rule.
std::u16string textOf(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER:
            return asciiText(std::to_string(sqlite3_value_int64(v)));
        case SQLITE_FLOAT:
            return numberText(sqlite3_value_double(v));
        default: {
            const auto* p = static_cast<const char16_t*>(sqlite3_value_text16(v));
            const auto bytes = static_cast<size_t>(sqlite3_value_bytes16(v));
            return p != nullptr ? std::u16string(p, bytes / 2) : std::u16string();
        }
    }
}

void resultText(sqlite3_context* ctx, std::u16string_view text) {
    sqlite3_result_text16(ctx, text.data(), static_cast<int>(text.size() * 2), SQLITE_TRANSIENT);
}

void resultBool(sqlite3_context* ctx, bool value) {
    sqlite3_result_int(ctx, value ? -1 : 0);
}

void error(sqlite3_context* ctx, const std::string& message) {
    sqlite3_result_error(ctx, message.c_str(), static_cast<int>(message.size()));
}

// A number read from text the way the dialect reads one: optional spaces,
// sign, digits, point, exponent; the whole text must be used.
std::optional<double> parseNumber(std::u16string_view s, bool prefixOnly = false) {
    std::string ascii;
    size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) {
        ++i;
    }
    for (; i < s.size() && s[i] < 0x80; ++i) {
        ascii.push_back(static_cast<char>(s[i]));
    }
    if (!prefixOnly && i < s.size()) {
        return std::nullopt;
    }
    while (!prefixOnly && !ascii.empty() && (ascii.back() == ' ' || ascii.back() == '\t')) {
        ascii.pop_back();
    }
    if (ascii.empty()) {
        return std::nullopt;
    }
    const char* begin = ascii.c_str();
    char* end = nullptr;
    if (std::strpbrk(begin, "xXnNiI") != nullptr && !prefixOnly) {
        return std::nullopt;  // no hexadecimal, NaN or infinity
    }
    const double v = std::strtod(begin, &end);
    if (end == begin) {
        return std::nullopt;
    }
    if (!prefixOnly && *end != 0) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> numberOf(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
        case SQLITE_FLOAT:
            return sqlite3_value_double(v);
        case SQLITE_NULL:
            return std::nullopt;
        default:
            return parseNumber(textOf(v));
    }
}

// Rounds half to even, as the dialect's Round and integer conversions do.
double roundEven(double x) {
    return std::nearbyint(x);
}

std::optional<DateTime> dateOf(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
        case SQLITE_FLOAT:
            return fromSerial(sqlite3_value_double(v));
        case SQLITE_NULL:
            return std::nullopt;
        default:
            return parseDateTime(textOf(v));
    }
}

// ---- text ----------------------------------------------------------------

std::u16string caseMapped(std::u16string_view s, bool upper) {
    std::u16string out(s.size() + 8, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t n = (upper ? u_strToUpper : u_strToLower)(
            out.data(), static_cast<int32_t>(out.size()), s.data(), static_cast<int32_t>(s.size()),
            "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(static_cast<size_t>(n));
            continue;
        }
        out.resize(U_SUCCESS(status) ? static_cast<size_t>(n) : 0);
        return out;
    }
    return std::u16string(s);
}

int compareNoCase(std::u16string_view a, std::u16string_view b) {
    // ASCII first: most texts compare without ICU.
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = a[i];
        char16_t y = b[i];
        if (x >= 0x80 || y >= 0x80) {
            UErrorCode status = U_ZERO_ERROR;
            const int32_t r =
                u_strCaseCompare(a.data() + i, static_cast<int32_t>(a.size() - i), b.data() + i,
                                 static_cast<int32_t>(b.size() - i),
                                 U_FOLD_CASE_DEFAULT | U_COMPARE_CODE_POINT_ORDER, &status);
            return r;
        }
        if (x >= u'A' && x <= u'Z') {
            x = static_cast<char16_t>(x + 32);
        }
        if (y >= u'A' && y <= u'Z') {
            y = static_cast<char16_t>(y + 32);
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The collation's weight of a character below U+2000: its base letter
// (its first character after canonical decomposition), case folded, so
// that accented letters sort with their letter (Ä with A, É with E, and so
// in Greek and Cyrillic). Above that, the case-folded character.
class BaseLetters {
public:
    BaseLetters() {
        UErrorCode status = U_ZERO_ERROR;
        const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
        for (size_t c = 0; c < m_base.size(); ++c) {
            auto folded =
                static_cast<UChar32>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
            UChar decomposed[8];
            UErrorCode s = U_ZERO_ERROR;
            if (U_SUCCESS(status) && unorm2_getDecomposition(nfd, folded, decomposed, 8, &s) > 0 &&
                U_SUCCESS(s) && decomposed[0] < 0xD800) {
                folded = u_foldCase(decomposed[0], U_FOLD_CASE_DEFAULT);
            }
            m_base[c] = static_cast<char16_t>(folded > 0xFFFF ? c : static_cast<size_t>(folded));
        }
    }
    [[nodiscard]] char16_t base(char16_t c) const {
        return c < m_base.size()
                   ? m_base[c]
                   : static_cast<char16_t>(c >= 0xD800 && c <= 0xDFFF
                                               ? c
                                               : u_foldCase(c, U_FOLD_CASE_DEFAULT) & 0xFFFF);
    }
    [[nodiscard]] static char16_t folded(char16_t c) {
        return c >= 0xD800 && c <= 0xDFFF
                   ? c
                   : static_cast<char16_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT) & 0xFFFF);
    }

private:
    std::array<char16_t, 0x2000> m_base{};
};

const BaseLetters& baseLetters() {
    static const BaseLetters table;
    return table;
}

// Compares by base letters first, then by the case-folded characters:
// equal exactly when the texts are equal ignoring letter case; accented
// letters next to their letter.
// SQLite may hand a collation its texts at odd addresses: units are read
// byte by byte, never through a char16_t pointer.
char16_t unitAt(const void* text, size_t i) {
    char16_t unit = 0;
    std::memcpy(&unit, static_cast<const unsigned char*>(text) + 2 * i, sizeof unit);
    return unit;
}

int collate(void* /*unused*/, int lengthA, const void* a, int lengthB, const void* b) {
    const size_t sizeA = static_cast<size_t>(lengthA) / 2;
    const size_t sizeB = static_cast<size_t>(lengthB) / 2;
    const BaseLetters& letters = baseLetters();
    const size_t n = std::min(sizeA, sizeB);
    int tie = 0;
    for (size_t i = 0; i < n; ++i) {
        const char16_t p = unitAt(a, i);
        const char16_t q = unitAt(b, i);
        if (p == q) {
            continue;
        }
        const char16_t bp = letters.base(p);
        const char16_t bq = letters.base(q);
        if (bp != bq) {
            return bp < bq ? -1 : 1;
        }
        if (tie == 0) {
            const char16_t fp = BaseLetters::folded(p);
            const char16_t fq = BaseLetters::folded(q);
            if (fp != fq) {
                tie = fp < fq ? -1 : 1;
            }
        }
    }
    if (sizeA != sizeB) {
        return sizeA < sizeB ? -1 : 1;
    }
    return tie;
}

// LIKE with % and _, letter case ignored for every script; `escape`
// makes the next pattern character literal.
bool likeMatch(std::u16string_view text, std::u16string_view pattern, char16_t escape) {
    size_t t = 0, p = 0, starP = std::u16string_view::npos, starT = 0;
    auto fold = [](char16_t c) {
        return static_cast<char16_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT));
    };
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == u'%') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pattern.size()) {
            const bool escaped = escape != 0 && pattern[p] == escape && p + 1 < pattern.size();
            const char16_t want = escaped ? pattern[p + 1] : pattern[p];
            if ((!escaped && want == u'_') || fold(want) == fold(text[t])) {
                p += escaped ? 2 : 1;
                ++t;
                continue;
            }
        }
        if (starP == std::u16string_view::npos) {
            return false;
        }
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == u'%') {
        ++p;
    }
    return p == pattern.size();
}

void fnLike(sqlite3_context* ctx, int n, Args a) {
    // like(pattern, text[, escape])
    if (isNull(a[0]) || isNull(a[1]) || (n == 3 && isNull(a[2]))) {
        sqlite3_result_null(ctx);
        return;
    }
    char16_t escape = 0;
    if (n == 3) {
        const std::u16string e = textOf(a[2]);
        if (e.size() != 1) {
            error(ctx, "ESCAPE must be one character");
            return;
        }
        escape = e[0];
    }
    sqlite3_result_int(ctx, likeMatch(textOf(a[1]), textOf(a[0]), escape) ? 1 : 0);
}

// Position (1-based) of `needle` in `hay` from `start`, letter case
// ignored; 0 when absent.
int64_t findNoCase(std::u16string_view hay, std::u16string_view needle, int64_t start) {
    if (start < 1) {
        start = 1;
    }
    if (needle.empty()) {
        return start <= static_cast<int64_t>(hay.size()) + 1 ? start : 0;
    }
    const std::u16string h = caseMapped(hay, false);
    const std::u16string n = caseMapped(needle, false);
    if (h.size() != hay.size()) {
        // Folding changed the length: compare unfolded.
        const size_t at = hay.find(needle, static_cast<size_t>(start - 1));
        return at == std::u16string_view::npos ? 0 : static_cast<int64_t>(at) + 1;
    }
    const size_t at = h.find(n, static_cast<size_t>(start - 1));
    return at == std::u16string::npos ? 0 : static_cast<int64_t>(at) + 1;
}

std::optional<int64_t> intArg(sqlite3_context* ctx, sqlite3_value* v, const char* function) {
    const auto n = numberOf(v);
    if (!n) {
        if (!isNull(v)) {
            error(
                ctx, std::string(function) + ": \"" + [&] {
                    const std::u16string t = textOf(v);
                    return std::string(t.begin(), t.end());
                }() + "\" is not a number");
        } else {
            sqlite3_result_null(ctx);
        }
        return std::nullopt;
    }
    const double r = roundEven(*n);
    if (!(std::fabs(r) < 9.0e15)) {
        error(ctx, std::string(function) + ": the number is out of range");
        return std::nullopt;
    }
    return static_cast<int64_t>(r);
}

// A function of one text argument; NULL gives NULL.
template <typename F>
void textFunction(sqlite3_context* ctx, sqlite3_value* v, F f) {
    if (isNull(v)) {
        sqlite3_result_null(ctx);
        return;
    }
    resultText(ctx, f(textOf(v)));
}

void fnUpper(sqlite3_context* ctx, int /*n*/, Args a) {
    textFunction(ctx, a[0], [](const std::u16string& s) { return caseMapped(s, true); });
}

void fnLower(sqlite3_context* ctx, int /*n*/, Args a) {
    textFunction(ctx, a[0], [](const std::u16string& s) { return caseMapped(s, false); });
}

void fnLen(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_int64(ctx, static_cast<int64_t>(textOf(a[0]).size()));
}

void fnLeft(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto n = intArg(ctx, a[1], "Left");
    if (!n) {
        return;
    }
    if (*n < 0) {
        error(ctx, "Left: the length is negative");
        return;
    }
    const std::u16string s = textOf(a[0]);
    resultText(ctx, std::u16string_view(s).substr(0, static_cast<size_t>(*n)));
}

void fnRight(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto n = intArg(ctx, a[1], "Right");
    if (!n) {
        return;
    }
    if (*n < 0) {
        error(ctx, "Right: the length is negative");
        return;
    }
    const std::u16string s = textOf(a[0]);
    const size_t keep = std::min(s.size(), static_cast<size_t>(*n));
    resultText(ctx, std::u16string_view(s).substr(s.size() - keep));
}

// Mid(s, start[, length]) and SUBSTRING(s, start, length).
void fnMid(sqlite3_context* ctx, int n, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto start = intArg(ctx, a[1], "Mid");
    if (!start) {
        return;
    }
    if (*start < 1) {
        error(ctx, "Mid: the start must be 1 or more");
        return;
    }
    const std::u16string s = textOf(a[0]);
    size_t length = std::u16string::npos;
    if (n > 2) {
        const auto l = intArg(ctx, a[2], "Mid");
        if (!l) {
            return;
        }
        if (*l < 0) {
            error(ctx, "Mid: the length is negative");
            return;
        }
        length = static_cast<size_t>(*l);
    }
    const auto from = static_cast<size_t>(*start - 1);
    resultText(ctx, from >= s.size() ? std::u16string_view()
                                     : std::u16string_view(s).substr(from, length));
}

// InStr([start,] text, sought[, compare]).
void fnInStr(sqlite3_context* ctx, int n, Args a) {
    int64_t start = 1;
    int first = 0;
    if (n >= 3) {
        const auto s = intArg(ctx, a[0], "InStr");
        if (!s) {
            return;
        }
        start = *s;
        first = 1;
    }
    if (isNull(a[first]) || isNull(a[first + 1])) {
        sqlite3_result_null(ctx);
        return;
    }
    const bool binary = n == 4 && numberOf(a[3]).value_or(1) == 0;
    const std::u16string hay = textOf(a[first]);
    const std::u16string needle = textOf(a[first + 1]);
    if (binary) {
        const size_t at = start < 1 ? 0 : hay.find(needle, static_cast<size_t>(start - 1));
        sqlite3_result_int64(ctx, at == std::u16string::npos ? 0 : static_cast<int64_t>(at) + 1);
        return;
    }
    sqlite3_result_int64(ctx, findNoCase(hay, needle, start));
}

// LOCATE(sought, text[, start]).
void fnLocate(sqlite3_context* ctx, int n, Args a) {
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    int64_t start = 1;
    if (n == 3) {
        const auto s = intArg(ctx, a[2], "LOCATE");
        if (!s) {
            return;
        }
        start = *s;
    }
    sqlite3_result_int64(ctx, findNoCase(textOf(a[1]), textOf(a[0]), start));
}

void fnSpace(sqlite3_context* ctx, int /*n*/, Args a) {
    const auto n = intArg(ctx, a[0], "Space");
    if (!n) {
        return;
    }
    if (*n < 0 || *n > 1'000'000) {
        error(ctx, "Space: the length must be from 0 to 1000000");
        return;
    }
    resultText(ctx, std::u16string(static_cast<size_t>(*n), u' '));
}

// String(n, character or code) and REPEAT(text, n).
void fnString(sqlite3_context* ctx, int /*n*/, Args a) {
    const auto n = intArg(ctx, a[0], "String");
    if (!n || isNull(a[1])) {
        if (n) {
            sqlite3_result_null(ctx);
        }
        return;
    }
    if (*n < 0 || *n > 1'000'000) {
        error(ctx, "String: the length must be from 0 to 1000000");
        return;
    }
    char16_t c = u' ';
    if (sqlite3_value_type(a[1]) == SQLITE_TEXT) {
        const std::u16string t = textOf(a[1]);
        if (t.empty()) {
            error(ctx, "String: the character is empty");
            return;
        }
        c = t[0];
    } else {
        c = static_cast<char16_t>(static_cast<uint32_t>(numberOf(a[1]).value_or(32)) & 0xFFFF);
    }
    resultText(ctx, std::u16string(static_cast<size_t>(*n), c));
}

void fnRepeat(sqlite3_context* ctx, int /*n*/, Args a) {
    const auto n = intArg(ctx, a[1], "REPEAT");
    if (!n || isNull(a[0])) {
        if (n) {
            sqlite3_result_null(ctx);
        }
        return;
    }
    const std::u16string s = textOf(a[0]);
    if (*n < 0 || static_cast<uint64_t>(*n) * s.size() > 1'000'000) {
        error(ctx, "REPEAT: the result would be longer than 1000000 characters");
        return;
    }
    std::u16string out;
    for (int64_t i = 0; i < *n; ++i) {
        out += s;
    }
    resultText(ctx, out);
}

void fnAsc(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const std::u16string s = textOf(a[0]);
    if (s.empty()) {
        error(ctx, "Asc: the text is empty");
        return;
    }
    sqlite3_result_int(ctx, s[0]);
}

void fnChr(sqlite3_context* ctx, int /*n*/, Args a) {
    const auto n = intArg(ctx, a[0], "Chr");
    if (!n) {
        return;
    }
    if (*n < 0 || *n > 0xFFFF) {
        error(ctx, "Chr: the code must be from 0 to 65535");
        return;
    }
    resultText(ctx, std::u16string(1, static_cast<char16_t>(*n)));
}

void fnCStr(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    resultText(ctx, textOf(a[0]));
}

// Concatenation: numbers by the 15-digit rule, NULL as an empty text; NULL
// only when every operand is NULL.
void fnConcat(sqlite3_context* ctx, int n, Args a) {
    std::u16string out;
    bool any = false;
    for (int i = 0; i < n; ++i) {
        if (!isNull(a[i])) {
            any = true;
            out += textOf(a[i]);
        }
    }
    if (!any) {
        sqlite3_result_null(ctx);
        return;
    }
    resultText(ctx, out);
}

void fnCDbl(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto v = numberOf(a[0]);
    if (!v) {
        if (const auto d = dateOf(a[0])) {
            sqlite3_result_double(
                ctx, static_cast<double>(d->total() - daysFromCivil(1899, 12, 30) * 86400) / 86400);
            return;
        }
        const std::u16string t = textOf(a[0]);
        error(ctx, "CDbl: \"" + std::string(t.begin(), t.end()) + "\" is not a number");
        return;
    }
    sqlite3_result_double(ctx, *v);
}

void fnCInt(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (const auto v = intArg(ctx, a[0], "CInt")) {
        sqlite3_result_int64(ctx, *v);
    }
}

void fnVal(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT) {
        sqlite3_result_double(ctx, sqlite3_value_double(a[0]));
        return;
    }
    // Leading number, spaces inside ignored.
    std::u16string compact;
    for (const char16_t c : textOf(a[0])) {
        if (c != u' ' && c != u'\t') {
            compact.push_back(c);
        }
    }
    sqlite3_result_double(ctx, parseNumber(compact, true).value_or(0));
}

void fnIsNull(sqlite3_context* ctx, int /*n*/, Args a) {
    resultBool(ctx, isNull(a[0]));
}

void fnIsNumeric(sqlite3_context* ctx, int /*n*/, Args a) {
    resultBool(ctx, !isNull(a[0]) && numberOf(a[0]).has_value());
}

void fnIsDate(sqlite3_context* ctx, int /*n*/, Args a) {
    resultBool(ctx, sqlite3_value_type(a[0]) == SQLITE_TEXT && dateOf(a[0]).has_value());
}

// ---- numbers -------------------------------------------------------------

template <typename F>
void numberFunction(sqlite3_context* ctx, sqlite3_value* v, const char* name, F f) {
    if (isNull(v)) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto n = numberOf(v);
    if (!n) {
        const std::u16string t = textOf(v);
        error(ctx,
              std::string(name) + ": \"" + std::string(t.begin(), t.end()) + "\" is not a number");
        return;
    }
    sqlite3_result_double(ctx, f(*n));
}

void fnInt(sqlite3_context* ctx, int /*n*/, Args a) {
    numberFunction(ctx, a[0], "Int", [](double x) { return std::floor(x); });
}

void fnFix(sqlite3_context* ctx, int /*n*/, Args a) {
    numberFunction(ctx, a[0], "Fix", [](double x) { return std::trunc(x); });
}

void fnSgn(sqlite3_context* ctx, int /*n*/, Args a) {
    numberFunction(ctx, a[0], "Sgn", [](double x) { return x > 0 ? 1.0 : (x < 0 ? -1.0 : 0.0); });
}

void fnSqr(sqlite3_context* ctx, int /*n*/, Args a) {
    if (const auto v = numberOf(a[0]); v && *v < 0) {
        error(ctx, "Sqr: the number is negative");
        return;
    }
    numberFunction(ctx, a[0], "Sqr", [](double x) { return std::sqrt(x); });
}

// Round(x[, places]): half to even.
void fnRound(sqlite3_context* ctx, int n, Args a) {
    int64_t places = 0;
    if (n == 2) {
        const auto p = intArg(ctx, a[1], "Round");
        if (!p) {
            return;
        }
        places = std::clamp<int64_t>(*p, 0, 15);
    }
    numberFunction(ctx, a[0], "Round", [places](double x) {
        const double scale = std::pow(10.0, static_cast<double>(places));
        const double scaled = x * scale;
        if (!(std::fabs(scaled) < 1e15)) {
            return x;
        }
        return roundEven(scaled) / scale;
    });
}

// TRUNCATE(x, places).
void fnTruncate(sqlite3_context* ctx, int /*n*/, Args a) {
    const auto p = intArg(ctx, a[1], "TRUNCATE");
    if (!p) {
        return;
    }
    const double scale = std::pow(10.0, static_cast<double>(std::clamp<int64_t>(*p, -15, 15)));
    numberFunction(ctx, a[0], "TRUNCATE",
                   [scale](double x) { return std::trunc(x * scale) / scale; });
}

// Integer division and MOD: both operands rounded to whole numbers first.
void fnIntDiv(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto x = intArg(ctx, a[0], "\\");
    if (!x) {
        return;
    }
    const auto y = intArg(ctx, a[1], "\\");
    if (!y) {
        return;
    }
    if (*y == 0) {
        error(ctx, "Division by zero");
        return;
    }
    sqlite3_result_int64(ctx, *x / *y);
}

void fnMod(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto x = intArg(ctx, a[0], "MOD");
    if (!x) {
        return;
    }
    const auto y = intArg(ctx, a[1], "MOD");
    if (!y) {
        return;
    }
    if (*y == 0) {
        error(ctx, "Division by zero");
        return;
    }
    sqlite3_result_int64(ctx, *x % *y);
}

void fnPower(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto x = numberOf(a[0]);
    const auto y = numberOf(a[1]);
    if (!x || !y) {
        error(ctx, "^: the operands must be numbers");
        return;
    }
    const double r = std::pow(*x, *y);
    if (std::isnan(r) || std::isinf(r)) {
        error(ctx, "^: the result is not a number");
        return;
    }
    sqlite3_result_double(ctx, r);
}

// ---- dates ---------------------------------------------------------------

void resultDate(sqlite3_context* ctx, const DateTime& d) {
    int64_t y = 0, m = 0, day = 0;
    civilFromDays(d.days, y, m, day);
    if (y < 100 || y > 9999) {
        error(ctx, "The date is outside the years 100 to 9999");
        return;
    }
    resultText(ctx, formatDateTime(d));
}

template <typename F>
void datePartFunction(sqlite3_context* ctx, sqlite3_value* v, const char* name, F f) {
    if (isNull(v)) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto d = dateOf(v);
    if (!d) {
        const std::u16string t = textOf(v);
        error(ctx, std::string(name) + ": \"" + std::string(t.begin(), t.end()) +
                       "\" is not a date or time");
        return;
    }
    int64_t y = 0, m = 0, day = 0;
    civilFromDays(d->days, y, m, day);
    sqlite3_result_int64(ctx, f(*d, y, m, day));
}

void fnYear(sqlite3_context* ctx, int /*n*/, Args a) {
    datePartFunction(ctx, a[0], "Year",
                     [](const DateTime&, int64_t y, int64_t, int64_t) { return y; });
}
void fnMonth(sqlite3_context* ctx, int /*n*/, Args a) {
    datePartFunction(ctx, a[0], "Month",
                     [](const DateTime&, int64_t, int64_t m, int64_t) { return m; });
}
void fnDay(sqlite3_context* ctx, int /*n*/, Args a) {
    datePartFunction(ctx, a[0], "Day",
                     [](const DateTime&, int64_t, int64_t, int64_t d) { return d; });
}
void fnHour(sqlite3_context* ctx, int /*n*/, Args a) {
    datePartFunction(ctx, a[0], "Hour",
                     [](const DateTime& d, int64_t, int64_t, int64_t) { return d.seconds / 3600; });
}
void fnMinute(sqlite3_context* ctx, int /*n*/, Args a) {
    datePartFunction(ctx, a[0], "Minute", [](const DateTime& d, int64_t, int64_t, int64_t) {
        return d.seconds / 60 % 60;
    });
}
void fnSecond(sqlite3_context* ctx, int /*n*/, Args a) {
    datePartFunction(ctx, a[0], "Second",
                     [](const DateTime& d, int64_t, int64_t, int64_t) { return d.seconds % 60; });
}

// 1 for Sunday; `first` the day counted as 1 (1 = Sunday, 2 = Monday, ...).
int64_t weekday(const DateTime& d, int64_t first) {
    const int64_t sunday0 = ((d.days + 4) % 7 + 7) % 7;  // 1970-01-01 was a Thursday
    return ((sunday0 - (first - 1)) % 7 + 7) % 7 + 1;
}

void fnWeekday(sqlite3_context* ctx, int n, Args a) {
    int64_t first = 1;
    if (n == 2) {
        const auto f = intArg(ctx, a[1], "Weekday");
        if (!f) {
            return;
        }
        first = *f < 1 || *f > 7 ? 1 : *f;
    }
    datePartFunction(ctx, a[0], "Weekday", [first](const DateTime& d, int64_t, int64_t, int64_t) {
        return weekday(d, first);
    });
}

void fnDayOfYear(sqlite3_context* ctx, int /*n*/, Args a) {
    datePartFunction(ctx, a[0], "DAYOFYEAR", [](const DateTime& d, int64_t y, int64_t, int64_t) {
        return d.days - daysFromCivil(y, 1, 1) + 1;
    });
}

void fnQuarter(sqlite3_context* ctx, int /*n*/, Args a) {
    datePartFunction(ctx, a[0], "QUARTER",
                     [](const DateTime&, int64_t, int64_t m, int64_t) { return (m - 1) / 3 + 1; });
}

void fnWeek(sqlite3_context* ctx, int /*n*/, Args a) {
    datePartFunction(ctx, a[0], "WEEK", [](const DateTime& d, int64_t y, int64_t, int64_t) {
        const int64_t jan1 = daysFromCivil(y, 1, 1);
        const DateTime first{jan1, 0, true, false};
        return (d.days - jan1 + weekday(first, 1) - 1) / 7 + 1;
    });
}

constexpr std::array<const char16_t*, 12> kMonthNames{
    u"January", u"February", u"March",     u"April",   u"May",      u"June",
    u"July",    u"August",   u"September", u"October", u"November", u"December"};
constexpr std::array<const char16_t*, 7> kDayNames{u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                                   u"Thursday", u"Friday", u"Saturday"};

void fnMonthName(sqlite3_context* ctx, int /*n*/, Args a) {
    // MonthName(1..12) or MONTHNAME(date).
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    int64_t m = 0;
    if (sqlite3_value_type(a[0]) == SQLITE_TEXT) {
        const auto d = dateOf(a[0]);
        if (!d) {
            error(ctx, "MonthName: not a date or a month number");
            return;
        }
        int64_t y = 0, day = 0;
        civilFromDays(d->days, y, m, day);
    } else {
        m = static_cast<int64_t>(sqlite3_value_double(a[0]));
    }
    if (m < 1 || m > 12) {
        error(ctx, "MonthName: the month must be from 1 to 12");
        return;
    }
    resultText(ctx, kMonthNames[static_cast<size_t>(m - 1)]);
}

void fnDayName(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    int64_t w = 0;
    if (sqlite3_value_type(a[0]) == SQLITE_TEXT) {
        const auto d = dateOf(a[0]);
        if (!d) {
            error(ctx, "DAYNAME: not a date");
            return;
        }
        w = weekday(*d, 1);
    } else {
        w = static_cast<int64_t>(sqlite3_value_double(a[0]));
    }
    if (w < 1 || w > 7) {
        error(ctx, "WeekdayName: the day must be from 1 to 7");
        return;
    }
    resultText(ctx, kDayNames[static_cast<size_t>(w - 1)]);
}

DateTime localNow() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    DateTime d;
    d.days = daysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    d.seconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    d.hasTime = true;
    return d;
}

void fnNow(sqlite3_context* ctx, int /*n*/, Args /*a*/) {
    resultText(ctx, formatDateTime(localNow()));
}

void fnDate(sqlite3_context* ctx, int /*n*/, Args /*a*/) {
    DateTime d = localNow();
    d.hasTime = false;
    resultText(ctx, formatDateTime(d));
}

void fnTime(sqlite3_context* ctx, int /*n*/, Args /*a*/) {
    DateTime d = localNow();
    d.hasDate = false;
    resultText(ctx, formatDateTime(d));
}

// DateSerial(year, month, day): months and days past their range carry.
void fnDateSerial(sqlite3_context* ctx, int /*n*/, Args a) {
    std::array<int64_t, 3> v{};
    for (size_t i = 0; i < 3; ++i) {
        const auto x = intArg(ctx, a[i], "DateSerial");
        if (!x) {
            return;
        }
        v[i] = *x;
    }
    int64_t year = v[0] < 100 ? (v[0] < 30 ? 2000 + v[0] : 1900 + v[0]) : v[0];
    if (v[0] < 0 || year > 9999 || std::llabs(v[1]) > 120000 || std::llabs(v[2]) > 4000000) {
        error(ctx, "DateSerial: the date is out of range");
        return;
    }
    int64_t month0 = year * 12 + (v[1] - 1);
    year = month0 >= 0 ? month0 / 12 : -((-month0 + 11) / 12);
    const int64_t month = month0 - year * 12 + 1;
    DateTime d;
    d.days = daysFromCivil(year, month, 1) + v[2] - 1;
    resultDate(ctx, d);
}

void fnTimeSerial(sqlite3_context* ctx, int /*n*/, Args a) {
    std::array<int64_t, 3> v{};
    for (size_t i = 0; i < 3; ++i) {
        const auto x = intArg(ctx, a[i], "TimeSerial");
        if (!x) {
            return;
        }
        v[i] = *x;
    }
    const int64_t total = v[0] * 3600 + v[1] * 60 + v[2];
    if (total < 0 || total >= 86400) {
        error(ctx, "TimeSerial: the time is outside one day");
        return;
    }
    resultText(ctx, formatDateTime(DateTime{0, total, false, true}));
}

// CDate, DateValue, TimeValue.
void fnCDate(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto d = dateOf(a[0]);
    if (!d) {
        const std::u16string t = textOf(a[0]);
        error(ctx, "CDate: \"" + std::string(t.begin(), t.end()) + "\" is not a date or time");
        return;
    }
    resultDate(ctx, *d);
}

void fnDateValue(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    auto d = dateOf(a[0]);
    if (!d || !d->hasDate) {
        error(ctx, "DateValue: the value is not a date");
        return;
    }
    d->hasTime = false;
    resultDate(ctx, *d);
}

void fnTimeValue(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    auto d = dateOf(a[0]);
    if (!d) {
        error(ctx, "TimeValue: the value is not a time");
        return;
    }
    d->hasDate = false;
    d->hasTime = true;
    resultText(ctx, formatDateTime(*d));
}

// The interval names of DateAdd, DateDiff and DatePart.
enum class Interval : uint8_t {
    Year,
    Quarter,
    Month,
    DayOfYear,
    Day,
    Weekday,
    Week,
    Hour,
    Minute,
    Second
};

std::optional<Interval> intervalOf(sqlite3_value* v) {
    std::u16string s = caseMapped(textOf(v), false);
    static constexpr std::array<std::pair<std::u16string_view, Interval>, 10> kNames{{
        {u"yyyy", Interval::Year},
        {u"q", Interval::Quarter},
        {u"m", Interval::Month},
        {u"y", Interval::DayOfYear},
        {u"d", Interval::Day},
        {u"w", Interval::Weekday},
        {u"ww", Interval::Week},
        {u"h", Interval::Hour},
        {u"n", Interval::Minute},
        {u"s", Interval::Second},
    }};
    for (const auto& [name, interval] : kNames) {
        if (s == name) {
            return interval;
        }
    }
    return std::nullopt;
}

[[nodiscard]] bool badInterval(sqlite3_context* ctx, const std::optional<Interval>& i,
                               const char* function) {
    if (!i) {
        error(ctx, std::string(function) +
                       ": the interval must be one of yyyy, q, m, y, d, w, ww, h, n, s");
        return true;
    }
    return false;
}

DateTime addMonths(const DateTime& d, int64_t months) {
    int64_t y = 0, m = 0, day = 0;
    civilFromDays(d.days, y, m, day);
    const int64_t month0 = y * 12 + (m - 1) + months;
    const int64_t ny = month0 / 12;
    const int64_t nm = month0 % 12 + 1;
    const int64_t last =
        daysFromCivil(nm == 12 ? ny + 1 : ny, nm == 12 ? 1 : nm + 1, 1) - daysFromCivil(ny, nm, 1);
    DateTime out = d;
    out.days = daysFromCivil(ny, nm, std::min(day, last));
    return out;
}

void fnDateAdd(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[1]) || isNull(a[2])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto interval = intervalOf(a[0]);
    if (badInterval(ctx, interval, "DateAdd")) {
        return;
    }
    const auto count = intArg(ctx, a[1], "DateAdd");
    if (!count) {
        return;
    }
    const auto d = dateOf(a[2]);
    if (!d) {
        error(ctx, "DateAdd: the third argument is not a date");
        return;
    }
    if (std::llabs(*count) > 4'000'000'000LL) {
        error(ctx, "DateAdd: the date is out of range");
        return;
    }
    DateTime out = *d;
    switch (*interval) {
        case Interval::Year:
            out = addMonths(*d, *count * 12);
            break;
        case Interval::Quarter:
            out = addMonths(*d, *count * 3);
            break;
        case Interval::Month:
            out = addMonths(*d, *count);
            break;
        case Interval::Week:
            out.days += *count * 7;
            break;
        case Interval::DayOfYear:
        case Interval::Day:
        case Interval::Weekday:
            out.days += *count;
            break;
        case Interval::Hour:
        case Interval::Minute:
        case Interval::Second: {
            const int64_t unit =
                *interval == Interval::Hour ? 3600 : (*interval == Interval::Minute ? 60 : 1);
            out = DateTime::fromTotal(d->total() + *count * unit, true, true);
            break;
        }
    }
    resultDate(ctx, out);
}

void fnDateDiff(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[1]) || isNull(a[2])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto interval = intervalOf(a[0]);
    if (badInterval(ctx, interval, "DateDiff")) {
        return;
    }
    const auto d1 = dateOf(a[1]);
    const auto d2 = dateOf(a[2]);
    if (!d1 || !d2) {
        error(ctx, "DateDiff: the second and third arguments must be dates");
        return;
    }
    int64_t y1 = 0, m1 = 0, dd1 = 0, y2 = 0, m2 = 0, dd2 = 0;
    civilFromDays(d1->days, y1, m1, dd1);
    civilFromDays(d2->days, y2, m2, dd2);
    int64_t r = 0;
    switch (*interval) {
        case Interval::Year:
            r = y2 - y1;
            break;
        case Interval::Quarter:
            r = (y2 * 4 + (m2 - 1) / 3) - (y1 * 4 + (m1 - 1) / 3);
            break;
        case Interval::Month:
            r = (y2 * 12 + m2) - (y1 * 12 + m1);
            break;
        case Interval::DayOfYear:
        case Interval::Day:
            r = d2->days - d1->days;
            break;
        case Interval::Weekday:
            r = (d2->days - d1->days) / 7;
            break;
        case Interval::Week: {
            // Sundays crossed.
            auto weekStart = [](int64_t days) {
                const int64_t w = ((days + 4) % 7 + 7) % 7;
                return days - w;
            };
            r = (weekStart(d2->days) - weekStart(d1->days)) / 7;
            break;
        }
        case Interval::Hour:
            r = d2->total() / 3600 - d1->total() / 3600;
            break;
        case Interval::Minute:
            r = d2->total() / 60 - d1->total() / 60;
            break;
        case Interval::Second:
            r = d2->total() - d1->total();
            break;
    }
    sqlite3_result_int64(ctx, r);
}

void fnDatePart(sqlite3_context* ctx, int n, Args a) {
    if (isNull(a[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto interval = intervalOf(a[0]);
    if (badInterval(ctx, interval, "DatePart")) {
        return;
    }
    int64_t first = 1;
    if (n >= 3 && !isNull(a[2])) {
        first = std::clamp<int64_t>(static_cast<int64_t>(sqlite3_value_double(a[2])), 1, 7);
    }
    const Interval i = *interval;
    datePartFunction(
        ctx, a[1], "DatePart",
        [i, first](const DateTime& d, int64_t y, int64_t m, int64_t day) -> int64_t {
            switch (i) {
                case Interval::Year:
                    return y;
                case Interval::Quarter:
                    return (m - 1) / 3 + 1;
                case Interval::Month:
                    return m;
                case Interval::DayOfYear:
                    return d.days - daysFromCivil(y, 1, 1) + 1;
                case Interval::Day:
                    return day;
                case Interval::Weekday:
                    return weekday(d, first);
                case Interval::Week: {
                    const int64_t jan1 = daysFromCivil(y, 1, 1);
                    return (d.days - jan1 + weekday(DateTime{jan1, 0, true, false}, first) - 1) /
                               7 +
                           1;
                }
                case Interval::Hour:
                    return d.seconds / 3600;
                case Interval::Minute:
                    return d.seconds / 60 % 60;
                case Interval::Second:
                    return d.seconds % 60;
            }
            return 0;
        });
}

// ---- choices -------------------------------------------------------------

bool truthy(sqlite3_value* v) {
    if (isNull(v)) {
        return false;
    }
    if (sqlite3_value_type(v) == SQLITE_TEXT) {
        const std::u16string t = textOf(v);
        if (compareNoCase(t, u"TRUE") == 0) {
            return true;
        }
        if (compareNoCase(t, u"FALSE") == 0) {
            return false;
        }
        return numberOf(v).value_or(0) != 0;
    }
    return sqlite3_value_double(v) != 0;
}

void fnIIf(sqlite3_context* ctx, int /*n*/, Args a) {
    sqlite3_result_value(ctx, truthy(a[0]) ? a[1] : a[2]);
}

void fnSwitch(sqlite3_context* ctx, int n, Args a) {
    if (n % 2 != 0) {
        error(ctx, "Switch: the arguments must come in pairs of a condition and a value");
        return;
    }
    for (int i = 0; i + 1 < n; i += 2) {
        if (truthy(a[i])) {
            sqlite3_result_value(ctx, a[i + 1]);
            return;
        }
    }
    sqlite3_result_null(ctx);
}

void fnChoose(sqlite3_context* ctx, int n, Args a) {
    const auto i = numberOf(a[0]);
    if (!i) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto k = static_cast<int64_t>(std::trunc(*i));
    if (k < 1 || k >= n) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_value(ctx, a[k]);
}

void fnNz(sqlite3_context* ctx, int n, Args a) {
    if (!isNull(a[0])) {
        sqlite3_result_value(ctx, a[0]);
    } else if (n == 2) {
        sqlite3_result_value(ctx, a[1]);
    } else {
        resultText(ctx, u"");
    }
}

void fnTrueValue(sqlite3_context* ctx, int /*n*/, Args a) {
    // Comparing with True or False: booleans of a workbook are the texts
    // TRUE and FALSE, other values are true when not zero.
    resultBool(ctx, truthy(a[0]));
}

void fnUser(sqlite3_context* ctx, int /*n*/, Args /*a*/) {
    resultText(ctx, u"Admin");
}

// ---- aggregates ----------------------------------------------------------

struct FirstLast {
    sqlite3_value* value;
    bool seen;
};

void firstStep(sqlite3_context* ctx, int /*n*/, Args a) {
    auto* s = static_cast<FirstLast*>(sqlite3_aggregate_context(ctx, sizeof(FirstLast)));
    if (s != nullptr && !s->seen) {
        s->value = sqlite3_value_dup(a[0]);
        s->seen = true;
    }
}

void lastStep(sqlite3_context* ctx, int /*n*/, Args a) {
    auto* s = static_cast<FirstLast*>(sqlite3_aggregate_context(ctx, sizeof(FirstLast)));
    if (s != nullptr) {
        sqlite3_value_free(s->value);
        s->value = sqlite3_value_dup(a[0]);
        s->seen = true;
    }
}

void firstLastFinal(sqlite3_context* ctx) {
    auto* s = static_cast<FirstLast*>(sqlite3_aggregate_context(ctx, 0));
    if (s == nullptr || !s->seen || s->value == nullptr) {
        sqlite3_result_null(ctx);
    } else {
        sqlite3_result_value(ctx, s->value);
    }
    if (s != nullptr) {
        sqlite3_value_free(s->value);
        s->value = nullptr;
    }
}

// Welford's running mean and sum of squares.
struct Variance {
    int64_t n;
    double mean;
    double m2;
};

void varianceStep(sqlite3_context* ctx, int /*n*/, Args a) {
    if (isNull(a[0])) {
        return;
    }
    const auto x = numberOf(a[0]);
    if (!x) {
        return;  // text that is not a number does not count
    }
    auto* s = static_cast<Variance*>(sqlite3_aggregate_context(ctx, sizeof(Variance)));
    if (s == nullptr) {
        return;
    }
    ++s->n;
    const double delta = *x - s->mean;
    s->mean += delta / static_cast<double>(s->n);
    s->m2 += delta * (*x - s->mean);
}

template <bool Sample, bool Root>
void varianceFinal(sqlite3_context* ctx) {
    const auto* s = static_cast<Variance*>(sqlite3_aggregate_context(ctx, 0));
    const int64_t need = Sample ? 2 : 1;
    if (s == nullptr || s->n < need) {
        sqlite3_result_null(ctx);
        return;
    }
    const double v = s->m2 / static_cast<double>(Sample ? s->n - 1 : s->n);
    sqlite3_result_double(ctx, Root ? std::sqrt(v) : v);
}

// ---- registration --------------------------------------------------------

struct Scalar {
    const char* name;
    int args;  // -1: any number
    void (*function)(sqlite3_context*, int, Args);
    bool deterministic;
};

constexpr std::array kScalars{
    Scalar{"UCase", 1, fnUpper, true},
    Scalar{"UCASE", 1, fnUpper, true},
    Scalar{"upper", 1, fnUpper, true},
    Scalar{"LCase", 1, fnLower, true},
    Scalar{"lower", 1, fnLower, true},
    Scalar{"Len", 1, fnLen, true},
    Scalar{"CHAR_LENGTH", 1, fnLen, true},
    Scalar{"CHARACTER_LENGTH", 1, fnLen, true},
    Scalar{"dialect_left", 2, fnLeft, true},
    Scalar{"dialect_right", 2, fnRight, true},
    Scalar{"Mid", 2, fnMid, true},
    Scalar{"Mid", 3, fnMid, true},
    Scalar{"SUBSTRING", 3, fnMid, true},
    Scalar{"SUBSTRING", 2, fnMid, true},
    Scalar{"InStr", 2, fnInStr, true},
    Scalar{"InStr", 3, fnInStr, true},
    Scalar{"InStr", 4, fnInStr, true},
    Scalar{"LOCATE", 2, fnLocate, true},
    Scalar{"LOCATE", 3, fnLocate, true},
    Scalar{"Space", 1, fnSpace, true},
    Scalar{"String", 2, fnString, true},
    Scalar{"REPEAT", 2, fnRepeat, true},
    Scalar{"dialect_asc", 1, fnAsc, true},
    Scalar{"ASCII", 1, fnAsc, true},
    Scalar{"Chr", 1, fnChr, true},
    Scalar{"ChrW", 1, fnChr, true},
    Scalar{"CStr", 1, fnCStr, true},
    Scalar{"CONCAT", -1, fnConcat, true},
    Scalar{"dialect_concat", 2, fnConcat, true},
    Scalar{"CDbl", 1, fnCDbl, true},
    Scalar{"CSng", 1, fnCDbl, true},
    Scalar{"CCur", 1, fnCDbl, true},
    Scalar{"CInt", 1, fnCInt, true},
    Scalar{"CLng", 1, fnCInt, true},
    Scalar{"Val", 1, fnVal, true},
    Scalar{"dialect_isnull", 1, fnIsNull, true},
    Scalar{"IsNumeric", 1, fnIsNumeric, true},
    Scalar{"IsDate", 1, fnIsDate, true},
    Scalar{"Int", 1, fnInt, true},
    Scalar{"Fix", 1, fnFix, true},
    Scalar{"Sgn", 1, fnSgn, true},
    Scalar{"Sqr", 1, fnSqr, true},
    Scalar{"Round", 1, fnRound, true},
    Scalar{"Round", 2, fnRound, true},
    Scalar{"TRUNCATE", 2, fnTruncate, true},
    Scalar{"dialect_intdiv", 2, fnIntDiv, true},
    Scalar{"dialect_mod", 2, fnMod, true},
    Scalar{"dialect_power", 2, fnPower, true},
    Scalar{"dialect_true", 1, fnTrueValue, true},
    Scalar{"Year", 1, fnYear, true},
    Scalar{"Month", 1, fnMonth, true},
    Scalar{"Day", 1, fnDay, true},
    Scalar{"DAYOFMONTH", 1, fnDay, true},
    Scalar{"Hour", 1, fnHour, true},
    Scalar{"Minute", 1, fnMinute, true},
    Scalar{"Second", 1, fnSecond, true},
    Scalar{"Weekday", 1, fnWeekday, true},
    Scalar{"Weekday", 2, fnWeekday, true},
    Scalar{"DAYOFWEEK", 1, fnWeekday, true},
    Scalar{"DAYOFYEAR", 1, fnDayOfYear, true},
    Scalar{"QUARTER", 1, fnQuarter, true},
    Scalar{"WEEK", 1, fnWeek, true},
    Scalar{"MonthName", 1, fnMonthName, true},
    Scalar{"DAYNAME", 1, fnDayName, true},
    Scalar{"WeekdayName", 1, fnDayName, true},
    Scalar{"Now", 0, fnNow, false},
    Scalar{"Date", 0, fnDate, false},
    Scalar{"Time", 0, fnTime, false},
    Scalar{"CURDATE", 0, fnDate, false},
    Scalar{"CURTIME", 0, fnTime, false},
    Scalar{"CURRENT_TIMESTAMP", 0, fnNow, false},
    Scalar{"DateSerial", 3, fnDateSerial, true},
    Scalar{"TimeSerial", 3, fnTimeSerial, true},
    Scalar{"CDate", 1, fnCDate, true},
    Scalar{"CVDate", 1, fnCDate, true},
    Scalar{"DateValue", 1, fnDateValue, true},
    Scalar{"TimeValue", 1, fnTimeValue, true},
    Scalar{"DateAdd", 3, fnDateAdd, true},
    Scalar{"TIMESTAMPADD", 3, fnDateAdd, true},
    Scalar{"DateDiff", 3, fnDateDiff, true},
    Scalar{"DateDiff", 4, fnDateDiff, true},
    Scalar{"DatePart", 2, fnDatePart, true},
    Scalar{"DatePart", 3, fnDatePart, true},
    Scalar{"IIf", 3, fnIIf, true},
    Scalar{"Switch", -1, fnSwitch, true},
    Scalar{"Choose", -1, fnChoose, true},
    Scalar{"Nz", 1, fnNz, true},
    Scalar{"Nz", 2, fnNz, true},
    Scalar{"USER", 0, fnUser, true},
    Scalar{"CurrentUser", 0, fnUser, true},
};

struct Aggregate {
    const char* name;
    void (*step)(sqlite3_context*, int, Args);
    void (*final)(sqlite3_context*);
};

constexpr std::array kAggregates{
    Aggregate{"First", firstStep, firstLastFinal},
    Aggregate{"Last", lastStep, firstLastFinal},
    Aggregate{"StDev", varianceStep, varianceFinal<true, true>},
    Aggregate{"StDevP", varianceStep, varianceFinal<false, true>},
    Aggregate{"Var", varianceStep, varianceFinal<true, false>},
    Aggregate{"VarP", varianceStep, varianceFinal<false, false>},
};

}  // namespace

void registerFunctions(sqlite3* db) {
    sqlite3_create_collation_v2(db, "FOLDED", SQLITE_UTF16LE, nullptr, collate, nullptr);
    for (const int args : {2, 3}) {
        sqlite3_create_function_v2(db, "like", args, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr,
                                   fnLike, nullptr, nullptr, nullptr);
    }
    for (const Scalar& f : kScalars) {
        const int flags = SQLITE_UTF16 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        sqlite3_create_function_v2(db, f.name, f.args, flags, nullptr, f.function, nullptr, nullptr,
                                   nullptr);
    }
    for (const Aggregate& f : kAggregates) {
        sqlite3_create_function_v2(db, f.name, 1, SQLITE_UTF16, nullptr, nullptr, f.step, f.final,
                                   nullptr);
    }
}

int compareFolded(std::u16string_view a, std::u16string_view b) {
    return collate(nullptr, static_cast<int>(a.size() * 2), a.data(),
                   static_cast<int>(b.size() * 2), b.data());
}

bool isAllowedFunction(const char* name) {
    for (const char* refused : {"load_extension", "fts3_tokenizer", "sqlite_offset",
                                "sqlite_compileoption_get", "sqlite_compileoption_used"}) {
        if (sqlite3_stricmp(name, refused) == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace sql
