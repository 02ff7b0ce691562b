// Number formats: parsing a code into sections and tokens, choosing the
// section for a value, and showing numbers, fractions, scientific numbers,
// dates, times and elapsed times (see numfmt.h).
#include "numfmt/numfmt.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace numfmt {

enum class Kind : uint8_t {
    Literal,
    Digit,    // '0', '#' or '?'
    Point,    // the decimal point
    Comma,    // a thousands separator or a scaling comma, decided after parsing
    Percent,  // '%': shown, and the value times 100
    Exp,      // 'E+' or 'E-'
    Slash,    // a fraction's bar
    Text,     // '@'
    General,
    Year,
    Month,
    Day,
    Hour,
    Minute,
    Second,
    SubSecond,  // ".0", ".00", ".000" after seconds or hours
    ElapsedHour,
    ElapsedMinute,
    ElapsedSecond,
    AmPm,  // "AM/PM" (width 2) or "A/P" (width 1)
};

struct Token {
    Kind kind = Kind::Literal;
    char16_t c = 0;  // Digit: the placeholder; Exp: its sign; Year: 'b' for the Buddhist era
    int n = 0;       // letters in a date or time token
    std::u16string text;
};

enum class Shape : uint8_t { Number, DateTime, Text, General };

struct Format::Section {
    std::vector<Token> tokens;
    Shape shape = Shape::Number;
    bool hasCondition = false;
    std::u16string op;  // "<", "<=", "=", ">=", ">", "<>"
    double threshold = 0;
    bool thousands = false;
    int scale = 0;     // trailing commas: the value divided by 1000 each
    int percents = 0;  // the value times 100 each
    bool twelveHour = false;
    int subSecond = 0;  // digits of the fraction of a second shown

    [[nodiscard]] bool matches(double v) const {
        if (op == u"<") {
            return v < threshold;
        }
        if (op == u"<=") {
            return v <= threshold;
        }
        if (op == u">") {
            return v > threshold;
        }
        if (op == u">=") {
            return v >= threshold;
        }
        if (op == u"<>") {
            return v != threshold;
        }
        return v == threshold;
    }
};

Format::~Format() = default;
Format::Format(const Format&) = default;
Format::Format(Format&&) noexcept = default;
Format& Format::operator=(const Format&) = default;
Format& Format::operator=(Format&&) noexcept = default;

namespace {

char16_t lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool startsNoCase(std::u16string_view s, size_t i, std::u16string_view prefix) {
    if (s.size() - i < prefix.size()) {
        return false;
    }
    for (size_t k = 0; k < prefix.size(); ++k) {
        if (lower(s[i + k]) != prefix[k]) {
            return false;
        }
    }
    return true;
}

bool isDateKind(Kind k) {
    return k >= Kind::Year;
}

void addLiteral(std::vector<Token>& tokens, std::u16string_view text) {
    if (!tokens.empty() && tokens.back().kind == Kind::Literal) {
        tokens.back().text.append(text);
        return;
    }
    Token t;
    t.text = text;
    tokens.push_back(std::move(t));
}

void addToken(std::vector<Token>& tokens, Kind kind, int n = 0, char16_t c = 0) {
    Token t;
    t.kind = kind;
    t.n = n;
    t.c = c;
    tokens.push_back(std::move(t));
}

// A bracketed part: a condition, an elapsed-time token, a locale or
// currency tag, or a colour (ignored).
void parseBracket(std::u16string_view inner, Format::Section& s) {
    if (inner.empty()) {
        return;
    }
    const char16_t first = lower(inner[0]);
    if (inner.find_first_not_of(u"hH") == std::u16string_view::npos) {
        addToken(s.tokens, Kind::ElapsedHour, static_cast<int>(inner.size()));
    } else if (inner.find_first_not_of(u"mM") == std::u16string_view::npos) {
        addToken(s.tokens, Kind::ElapsedMinute, static_cast<int>(inner.size()));
    } else if (inner.find_first_not_of(u"sS") == std::u16string_view::npos) {
        addToken(s.tokens, Kind::ElapsedSecond, static_cast<int>(inner.size()));
    } else if (first == u'$') {
        // [$€-407]: the symbol before the dash shows; [$-409] shows nothing.
        const size_t dash = inner.find(u'-');
        addLiteral(s.tokens, inner.substr(1, dash == std::u16string_view::npos ? inner.size() - 1
                                                                               : dash - 1));
    } else if (first == u'<' || first == u'>' || first == u'=') {
        size_t n = 1;
        if (inner.size() > 1 && (inner[1] == u'=' || (first == u'<' && inner[1] == u'>'))) {
            n = 2;
        }
        std::string number;
        for (const char16_t c : inner.substr(n)) {
            number.push_back(c < 128 ? static_cast<char>(c) : '?');
        }
        s.hasCondition = true;
        s.op = inner.substr(0, n);
        s.threshold = std::strtod(number.c_str(), nullptr);
    }
}

// Tokens of one section, from `i` up to the next unquoted ';' (returns
// where it stopped).
size_t parseSection(std::u16string_view f, size_t i, Format::Section& s) {
    auto& tokens = s.tokens;
    while (i < f.size() && f[i] != u';') {
        const char16_t c = f[i];
        const char16_t l = lower(c);
        if (c == u'"') {
            const size_t end = f.find(u'"', i + 1);
            const size_t stop = end == std::u16string_view::npos ? f.size() : end;
            addLiteral(tokens, f.substr(i + 1, stop - i - 1));
            i = stop + 1;
        } else if (c == u'\\') {
            if (i + 1 < f.size()) {
                addLiteral(tokens, f.substr(i + 1, 1));
            }
            i += 2;
        } else if (c == u'_') {
            addLiteral(tokens, u" ");  // a space the width of the next character
            i += 2;
        } else if (c == u'*') {
            i += 2;  // a fill, which text has no width for
        } else if (c == u'[') {
            const size_t end = f.find(u']', i + 1);
            const size_t stop = end == std::u16string_view::npos ? f.size() : end;
            parseBracket(f.substr(i + 1, stop - i - 1), s);
            i = stop + 1;
        } else if (startsNoCase(f, i, u"general")) {
            addToken(tokens, Kind::General);
            i += 7;
        } else if (startsNoCase(f, i, u"am/pm")) {
            addToken(tokens, Kind::AmPm, 2);
            s.twelveHour = true;
            i += 5;
        } else if (startsNoCase(f, i, u"a/p")) {
            addToken(tokens, Kind::AmPm, 1);
            s.twelveHour = true;
            i += 3;
        } else if (c == u'0' || c == u'#' || c == u'?') {
            addToken(tokens, Kind::Digit, 0, c);
            ++i;
        } else if (c == u'.') {
            // After a time ("ss.00", "hh.000", "[s].0"), ".00" is a fraction
            // of a second.
            size_t zeros = 0;
            while (i + 1 + zeros < f.size() && f[i + 1 + zeros] == u'0') {
                ++zeros;
            }
            const auto last = std::find_if(tokens.rbegin(), tokens.rend(),
                                           [](const Token& t) { return t.kind != Kind::Literal; });
            if (zeros > 0 && last != tokens.rend() &&
                (last->kind == Kind::Second || last->kind == Kind::Hour ||
                 last->kind == Kind::SubSecond || last->kind == Kind::ElapsedHour ||
                 last->kind == Kind::ElapsedMinute || last->kind == Kind::ElapsedSecond)) {
                addToken(tokens, Kind::SubSecond, static_cast<int>(std::min<size_t>(zeros, 3)));
                i += 1 + zeros;
            } else {
                addToken(tokens, Kind::Point);
                ++i;
            }
        } else if (c == u',') {
            addToken(tokens, Kind::Comma);
            ++i;
        } else if (c == u'%') {
            addToken(tokens, Kind::Percent);
            ++i;
        } else if (l == u'e' && i + 1 < f.size() && (f[i + 1] == u'+' || f[i + 1] == u'-')) {
            addToken(tokens, Kind::Exp, 0, f[i + 1]);
            i += 2;
        } else if (c == u'/') {
            addToken(tokens, Kind::Slash);
            ++i;
        } else if (c == u'@') {
            addToken(tokens, Kind::Text);
            ++i;
        } else if (l == u'y' || l == u'm' || l == u'd' || l == u'h' || l == u's' || l == u'e' ||
                   l == u'b') {
            size_t n = 1;
            while (i + n < f.size() && lower(f[i + n]) == l) {
                ++n;
            }
            const Kind kind = l == u'y' || l == u'e' || l == u'b' ? Kind::Year
                              : l == u'm'                         ? Kind::Month
                              : l == u'd'                         ? Kind::Day
                              : l == u'h'                         ? Kind::Hour
                                                                  : Kind::Second;
            // 'b': the year of the Buddhist era, 543 years ahead
            addToken(tokens, kind, l == u'e' ? 4 : static_cast<int>(n), l == u'b' ? u'b' : 0);
            i += n;
        } else {
            addLiteral(tokens, f.substr(i, 1));
            ++i;
        }
    }
    return i;
}

// "m" and "mm" are minutes right after hours or right before seconds.
void resolveMinutes(std::vector<Token>& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != Kind::Month || tokens[i].n > 2) {
            continue;
        }
        bool minute = false;
        for (size_t j = i; j-- > 0;) {
            if (isDateKind(tokens[j].kind)) {
                minute = tokens[j].kind == Kind::Hour || tokens[j].kind == Kind::ElapsedHour;
                break;
            }
        }
        for (size_t j = i + 1; !minute && j < tokens.size(); ++j) {
            if (isDateKind(tokens[j].kind)) {
                minute = tokens[j].kind == Kind::Second || tokens[j].kind == Kind::ElapsedSecond;
                break;
            }
        }
        if (minute) {
            tokens[i].kind = Kind::Minute;
        }
    }
}

// Commas between integer digits group thousands; commas right after the
// last digit before the point (or the end) divide by 1000 each; others
// are text.
void resolveCommas(Format::Section& s) {
    auto& t = s.tokens;
    bool seenDigit = false, afterPoint = false;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i].kind == Kind::Digit) {
            seenDigit = true;
        } else if (t[i].kind == Kind::Point || t[i].kind == Kind::Exp || t[i].kind == Kind::Slash) {
            afterPoint = true;
        }
        if (t[i].kind != Kind::Comma) {
            continue;
        }
        size_t j = i;
        while (j < t.size() && t[j].kind == Kind::Comma) {
            ++j;
        }
        const bool digitNext = j < t.size() && t[j].kind == Kind::Digit;
        if (seenDigit && digitNext && !afterPoint) {
            s.thousands = true;
            t[i].kind = Kind::Literal;  // dropped below
            t[i].text.clear();
        } else if (seenDigit && !digitNext) {
            s.scale += 1;
            t[i].kind = Kind::Literal;
            t[i].text.clear();
        } else {
            t[i].kind = Kind::Literal;
            t[i].text = u",";
        }
    }
    std::erase_if(t, [](const Token& k) { return k.kind == Kind::Literal && k.text.empty(); });
}

// An elapsed count after an hour of the day ("hh[m]") is no format a
// spreadsheet accepts: it shows such numbers in General.
bool elapsedAfterHour(const std::vector<Token>& tokens) {
    bool hour = false;
    for (const Token& t : tokens) {
        if (t.kind == Kind::Hour) {
            hour = true;
        } else if (hour && (t.kind == Kind::ElapsedMinute || t.kind == Kind::ElapsedSecond ||
                            t.kind == Kind::ElapsedHour)) {
            return true;
        }
    }
    return false;
}

void finishSection(Format::Section& s) {
    resolveMinutes(s.tokens);
    if (elapsedAfterHour(s.tokens)) {
        s.tokens.clear();
        addToken(s.tokens, Kind::General);
        s.shape = Shape::General;
        return;
    }
    bool digits = false, date = false, text = false, general = false;
    for (Token& t : s.tokens) {
        digits = digits || t.kind == Kind::Digit;
        date = date || isDateKind(t.kind);
        text = text || t.kind == Kind::Text;
        general = general || t.kind == Kind::General;
        s.percents += t.kind == Kind::Percent ? 1 : 0;
        if (t.kind == Kind::SubSecond) {
            s.subSecond = std::max(s.subSecond, t.n);
        }
    }
    if (date) {
        s.shape = Shape::DateTime;
        // Digits, points and commas among date tokens show as written.
        for (Token& t : s.tokens) {
            if (t.kind == Kind::Digit || t.kind == Kind::Point || t.kind == Kind::Comma ||
                t.kind == Kind::Percent || t.kind == Kind::Slash || t.kind == Kind::Exp) {
                const std::u16string shown = t.kind == Kind::Digit     ? std::u16string(1, t.c)
                                             : t.kind == Kind::Point   ? u"."
                                             : t.kind == Kind::Comma   ? u","
                                             : t.kind == Kind::Percent ? u"%"
                                             : t.kind == Kind::Slash
                                                 ? u"/"
                                                 : u"E" + std::u16string(1, t.c);
                t.kind = Kind::Literal;
                t.text = shown;
            }
        }
    } else if (general) {
        s.shape = Shape::General;
    } else if (text && !digits) {
        s.shape = Shape::Text;
    } else {
        resolveCommas(s);
    }
}

// Decimal digits of a value rounded to `decimals` places, first cut to the
// 15 significant digits a spreadsheet keeps: the integer part without
// leading zeros ("" for zero) and exactly `decimals` fraction digits.
void fixedDigits(double a, int decimals, std::string& whole, std::string& fraction) {
    decimals = std::clamp(decimals, 0, 60);
    whole.clear();
    fraction.assign(static_cast<size_t>(decimals), '0');
    if (!(a > 0) || !std::isfinite(a)) {
        return;
    }
    // 15 significant digits and the place of the point: the value is
    // 0.DDD... times 10^point.
    char buf[64];
    const char* end =
        std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 14).ptr;
    std::string digits;
    digits.push_back(buf[0]);
    digits.append(buf + 2, 14);
    int exponent = 0;
    std::from_chars(buf + 17 + (buf[17] == '+' ? 1 : 0), end, exponent);
    const int point = exponent + 1;  // from_chars took any minus sign
    // Keep the digits up to `decimals` places, rounding half away from
    // zero on the decimal digits (2.5 shows 3, as the spreadsheet does).
    const int keep = point + decimals;
    if (keep < 0) {
        return;
    }
    std::string kept = digits.substr(0, static_cast<size_t>(std::min(keep, 15)));
    if (keep < 15 && digits[static_cast<size_t>(keep)] >= '5') {
        size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9') {
            kept[--i] = '0';
        }
        if (i == 0) {
            kept.insert(kept.begin(), '1');  // 9.99 -> 10.0: one more whole digit
            if (keep >= 0) {
                // the point moves right by one, as the digits grew by one
                return fixedDigits(std::pow(10.0, point), decimals, whole, fraction);
            }
        } else {
            ++kept[i - 1];
        }
    }
    if (static_cast<int>(kept.size()) < keep) {
        kept.append(static_cast<size_t>(keep) - kept.size(), '0');
    }
    // kept holds `keep` digits; the last `decimals` are the fraction.
    if (point > 0) {
        whole = kept.substr(0, static_cast<size_t>(point));
        fraction = kept.substr(static_cast<size_t>(point));
    } else {
        fraction = std::string(static_cast<size_t>(-point), '0') + kept;
    }
    const size_t nonZero = whole.find_first_not_of('0');
    whole = nonZero == std::string::npos ? std::string() : whole.substr(nonZero);
}

void append(std::u16string& out, std::string_view ascii) {
    for (const char c : ascii) {
        out.push_back(static_cast<char16_t>(c));
    }
}

// The texts of the integer placeholders tokens[begin, end) show for the
// digits `whole`: each placeholder one digit from the right, the leftmost
// all that remain; placeholders without a digit show '0', a space ('?') or
// nothing ('#').
std::vector<std::u16string> placeInteger(const std::vector<Token>& tokens, size_t begin, size_t end,
                                         const std::string& whole, bool thousands) {
    std::vector<std::u16string> shown(end - begin);
    size_t remaining = 0;
    for (size_t i = begin; i < end; ++i) {
        remaining += tokens[i].kind == Kind::Digit ? 1U : 0U;
    }
    size_t next = whole.size();  // digits of `whole` not yet placed: [0, next)
    int position = 0;            // digits shown so far, from the right
    auto pushDigit = [&](std::u16string& reversed, char16_t d) {
        if (thousands && position > 0 && position % 3 == 0) {
            reversed.push_back(u',');
        }
        reversed.push_back(d);
        ++position;
    };
    for (size_t i = end; i-- > begin;) {
        if (tokens[i].kind != Kind::Digit) {
            continue;
        }
        --remaining;
        std::u16string reversed;
        if (next > 0) {
            const size_t take = remaining == 0 ? next : 1;
            for (size_t k = 0; k < take; ++k) {
                pushDigit(reversed, static_cast<char16_t>(whole[--next]));
            }
        } else if (tokens[i].c == u'0') {
            pushDigit(reversed, u'0');
        } else if (tokens[i].c == u'?') {
            reversed.push_back(u' ');
        }
        shown[i - begin].assign(reversed.rbegin(), reversed.rend());
    }
    return shown;
}

int countDigits(const std::vector<Token>& tokens, size_t begin, size_t end) {
    int n = 0;
    for (size_t i = begin; i < end; ++i) {
        n += tokens[i].kind == Kind::Digit ? 1 : 0;
    }
    return n;
}

// Shows tokens [begin, end) of a number with its integer digits `whole`
// and fraction digits `fraction` placed into them.
void showPlaced(const std::vector<Token>& tokens, size_t begin, size_t end,
                const std::string& whole, const std::string& fraction, bool thousands,
                std::u16string& out) {
    size_t point = end;
    for (size_t i = begin; i < end; ++i) {
        if (tokens[i].kind == Kind::Point) {
            point = i;
            break;
        }
    }
    const std::vector<std::u16string> integer =
        placeInteger(tokens, begin, point, whole, thousands);
    size_t f = 0;
    for (size_t i = begin; i < end; ++i) {
        const Token& t = tokens[i];
        switch (t.kind) {
            case Kind::Digit:
                if (i < point) {
                    out += integer[i - begin];
                } else {
                    const bool restZero = fraction.find_first_not_of('0', f) == std::string::npos;
                    const char d = f < fraction.size() ? fraction[f] : '0';
                    ++f;
                    if (t.c == u'0' || !restZero) {
                        out.push_back(static_cast<char16_t>(d));
                    } else if (t.c == u'?') {
                        out.push_back(u' ');
                    }
                }
                break;
            case Kind::Point:
                if (i == point) {
                    if (countDigits(tokens, begin, point) == 0) {
                        // No integer placeholders: the integer part still shows.
                        append(out, whole);
                    }
                    out.push_back(u'.');
                }
                break;
            case Kind::Percent:
                out.push_back(u'%');
                break;
            case Kind::Literal:
                out += t.text;
                break;
            default:
                break;
        }
    }
}

size_t findKind(const std::vector<Token>& tokens, Kind kind, size_t from = 0) {
    for (size_t i = from; i < tokens.size(); ++i) {
        if (tokens[i].kind == kind) {
            return i;
        }
    }
    return tokens.size();
}

void showScientific(const Format::Section& s, double a, size_t exp, std::u16string& out) {
    const auto& t = s.tokens;
    const size_t point = std::min(findKind(t, Kind::Point), exp);
    const int intDigits = countDigits(t, 0, point);
    const int decimals = countDigits(t, point, exp);
    const int step = std::max(intDigits, 1);
    int e = 0;
    std::string whole, fraction;
    if (a > 0) {
        e = static_cast<int>(std::floor(std::log10(a)));
        if (intDigits == 0) {
            e += 1;
        } else if (intDigits > 1) {
            e -= ((e % step) + step) % step;  // engineering: a multiple of the digits
        }
        for (int attempt = 0; attempt < 2; ++attempt) {
            fixedDigits(a / std::pow(10.0, e), decimals, whole, fraction);
            if (static_cast<int>(whole.size()) <= std::max(intDigits == 0 ? 0 : step, 1) ||
                (intDigits == 0 && whole.empty())) {
                break;
            }
            e += intDigits > 1 ? step : 1;
        }
    } else {
        fixedDigits(0, decimals, whole, fraction);
    }
    showPlaced(t, 0, exp, whole, fraction, s.thousands, out);
    out.push_back(u'E');
    if (e < 0) {
        out.push_back(u'-');
    } else if (t[exp].c == u'+') {
        out.push_back(u'+');
    }
    size_t after = exp + 1;
    while (after < t.size() && t[after].kind == Kind::Digit) {
        ++after;
    }
    const int width = static_cast<int>(after - exp - 1);
    std::string digits = std::to_string(std::abs(e));
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    }
    append(out, digits);
    for (size_t i = after; i < t.size(); ++i) {
        if (t[i].kind == Kind::Literal) {
            out += t[i].text;
        } else if (t[i].kind == Kind::Percent) {
            out.push_back(u'%');
        }
    }
}

// Digits padded to the placeholders tokens[begin, end): those the digits do
// not fill show '0' for '0', a space for '?' and nothing for '#'. The digits
// take the rightmost placeholders (`left`: padding before them) or the
// leftmost (padding after them).
std::u16string padded(const std::string& digits, const std::vector<Token>& t, size_t begin,
                      size_t end, bool left) {
    std::u16string pad;
    const size_t width = end - begin;
    const size_t free = digits.size() < width ? width - digits.size() : 0;
    const size_t from = left ? begin : end - free;
    for (size_t i = from; i < from + free; ++i) {
        if (t[i].c == u'0') {
            pad.push_back(u'0');
        } else if (t[i].c == u'?') {
            pad.push_back(u' ');
        }
    }
    std::u16string shown;
    append(shown, digits);
    return left ? pad + shown : shown + pad;
}

bool isSpaces(const Token& t) {
    return t.kind == Kind::Literal && !t.text.empty() &&
           t.text.find_first_not_of(u' ') == std::u16string::npos;
}

// Where a fraction's numerator digits end: right before the bar, or before
// spaces written before it ("?? / ??"); 0 when no digit is there.
size_t numeratorEnd(const std::vector<Token>& t, size_t slash) {
    size_t end = slash;
    if (end > 0 && isSpaces(t[end - 1])) {
        --end;
    }
    return end > 0 && t[end - 1].kind == Kind::Digit ? end : 0;
}

// The fraction nearest `x` whose denominator has at most `most`: the last
// continued-fraction convergent within it. Stops early once a convergent
// is closer than the value's own precision, so that noise in the last
// bits of a double does not make nine-digit denominators.
void nearestFraction(double x, double most, double& num, double& den) {
    double h0 = 0, h1 = 1, k0 = 1, k1 = 0;
    double y = x;
    num = std::round(x);
    den = 1;
    for (int i = 0; i < 64; ++i) {
        const double q = std::floor(y);
        const double h = q * h1 + h0;
        const double k = q * k1 + k0;
        if (k > most) {
            break;
        }
        num = h;
        den = k;
        if (std::fabs(x - h / k) < 1e-14 * std::max(1.0, x)) {
            break;
        }
        const double rest = y - q;
        if (!(rest > 0)) {
            break;
        }
        y = 1 / rest;
        h0 = h1, h1 = h;
        k0 = k1, k1 = k;
    }
}

void showFraction(const Format::Section& s, double a, size_t slash, std::u16string& out) {
    const auto& t = s.tokens;
    // The numerator: the digits before the bar; the integer part: any
    // digits before those, apart from them.
    const size_t numEnd = numeratorEnd(t, slash);
    size_t numBegin = numEnd;
    while (numBegin > 0 && t[numBegin - 1].kind == Kind::Digit) {
        --numBegin;
    }
    size_t intEnd = numBegin;
    while (intEnd > 0 && t[intEnd - 1].kind != Kind::Digit) {
        --intEnd;
    }
    const bool hasWhole = intEnd > 0;
    size_t denBegin = slash + 1;
    if (denBegin < t.size() && isSpaces(t[denBegin])) {
        ++denBegin;
    }
    // A denominator written as a number ("/8", "/16", "/100": its zeros are
    // read as placeholders) fixes it; placeholders give its most digits.
    double fixedDen = 0;
    size_t denEnd = denBegin;
    std::u16string afterDen;  // the rest of a literal the number ends in
    if (denBegin < t.size() && t[denBegin].kind == Kind::Literal && !t[denBegin].text.empty() &&
        t[denBegin].text[0] >= u'1' && t[denBegin].text[0] <= u'9') {
        auto addDigit = [&fixedDen](char16_t d) {
            if (fixedDen < 1e9) {
                fixedDen = fixedDen * 10 + (d - u'0');
            }
        };
        while (denEnd < t.size()) {
            const Token& k = t[denEnd];
            if (k.kind == Kind::Digit && k.c == u'0') {
                addDigit(u'0');
                ++denEnd;
                continue;
            }
            if (k.kind != Kind::Literal) {
                break;
            }
            size_t c = 0;
            while (c < k.text.size() && k.text[c] >= u'0' && k.text[c] <= u'9') {
                addDigit(k.text[c++]);
            }
            if (c == 0) {
                break;
            }
            ++denEnd;
            if (c < k.text.size()) {
                afterDen = k.text.substr(c);
                break;
            }
        }
    } else {
        while (denEnd < t.size() && t[denEnd].kind == Kind::Digit) {
            ++denEnd;
        }
    }
    double whole = hasWhole ? std::floor(a) : 0;
    const double part = a - whole;
    double num = 0, den = 1;
    if (fixedDen > 0) {
        den = fixedDen;
        num = std::round(part * den);
    } else {
        const int width = std::clamp(static_cast<int>(denEnd - denBegin), 1, 9);
        nearestFraction(part, std::pow(10.0, width) - 1, num, den);
    }
    if (hasWhole && num == den) {
        whole += 1;
        num = 0;
    }
    if (hasWhole && a == 0) {
        out.push_back(u'0');  // zero shows as its integer placeholder would
        return;
    }
    const bool fractionShown = !hasWhole || num != 0;
    std::string wholeDigits, unused;
    fixedDigits(whole, 0, wholeDigits, unused);
    if (hasWhole && wholeDigits.empty() && !fractionShown) {
        wholeDigits = "0";  // a value that rounds to no fraction still shows 0
    }
    // Numerator and denominator are whole numbers; past 15 digits (an
    // improper fraction of a huge value) the 15 significant ones show.
    auto digitsOf = [&unused](double n) {
        if (n < 1e15) {
            return std::to_string(static_cast<int64_t>(n));
        }
        std::string digits;
        fixedDigits(n, 0, digits, unused);
        return digits;
    };
    const std::string numDigits = digitsOf(num);
    const std::string denDigits = digitsOf(den);
    const std::vector<std::u16string> integer =
        placeInteger(t, 0, intEnd, wholeDigits, s.thousands);
    for (size_t i = 0; i < intEnd; ++i) {
        if (t[i].kind == Kind::Digit) {
            out += integer[i];
        } else if (t[i].kind == Kind::Literal) {
            out += t[i].text;
        }
    }
    for (size_t i = intEnd; i < numBegin; ++i) {
        if (t[i].kind == Kind::Literal) {
            // between a blank integer part and the numerator: spaces
            out += hasWhole && wholeDigits.empty() ? std::u16string(t[i].text.size(), u' ')
                                                   : t[i].text;
        }
    }
    std::u16string fraction = padded(numDigits, t, numBegin, numEnd, true);
    for (size_t i = numEnd; i < denBegin; ++i) {
        fraction += t[i].kind == Kind::Slash ? std::u16string(u"/") : t[i].text;
    }
    if (fixedDen > 0) {
        append(fraction, denDigits);
    } else {
        fraction += padded(denDigits, t, denBegin, denEnd, false);
    }
    out += fractionShown ? fraction : std::u16string(fraction.size(), u' ');
    out += afterDen;
    for (size_t i = denEnd; i < t.size(); ++i) {
        if (t[i].kind == Kind::Literal) {
            out += t[i].text;
        } else if (t[i].kind == Kind::Percent) {
            out.push_back(u'%');
        }
    }
}

void showNumber(const Format::Section& s, double a, std::u16string& out) {
    const auto& t = s.tokens;
    for (int i = 0; i < s.percents; ++i) {
        a *= 100;
    }
    for (int i = 0; i < s.scale; ++i) {
        a /= 1000;
    }
    const size_t exp = findKind(t, Kind::Exp);
    if (exp < t.size()) {
        showScientific(s, a, exp, out);
        return;
    }
    const size_t slash = findKind(t, Kind::Slash);
    if (slash < t.size() && numeratorEnd(t, slash) > 0) {
        showFraction(s, a, slash, out);
        return;
    }
    const size_t point = findKind(t, Kind::Point);
    const int decimals = point < t.size() ? countDigits(t, point, t.size()) : 0;
    std::string whole, fraction;
    fixedDigits(a, decimals, whole, fraction);
    showPlaced(t, 0, t.size(), whole, fraction, s.thousands, out);
}

// --- dates and times

constexpr std::array<const char16_t*, 12> kMonths = {
    u"January", u"February", u"March",     u"April",   u"May",      u"June",
    u"July",    u"August",   u"September", u"October", u"November", u"December"};
constexpr std::array<const char16_t*, 7> kDays = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                                  u"Thursday", u"Friday", u"Saturday"};

void civilFromDays(int64_t z, int64_t& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

struct DateParts {
    int64_t year = 1900;
    int month = 1, day = 0, weekday = 0;
};

DateParts dateOf(int64_t serialDay, bool date1904) {
    DateParts p;
    if (date1904) {
        civilFromDays(serialDay - 24107, p.year, p.month, p.day);
        p.weekday = static_cast<int>((serialDay + 5) % 7);
        return p;
    }
    p.weekday = static_cast<int>((serialDay + 6) % 7);
    if (serialDay == 0) {
        return p;  // 1900-01-00
    }
    if (serialDay == 60) {
        p.month = 2, p.day = 29;  // the day the 1900 system invents
        return p;
    }
    civilFromDays(serialDay - 25569 + (serialDay < 60 ? 1 : 0), p.year, p.month, p.day);
    return p;
}

void appendNumber(std::u16string& out, int64_t v, int width) {
    std::string digits = std::to_string(v < 0 ? -v : v);
    if (static_cast<int>(digits.size()) < width) {
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    }
    if (v < 0) {
        out.push_back(u'-');
    }
    append(out, digits);
}

constexpr double kMaxSerial1900 = 2958466.0;  // 10000-01-01

void showDateTime(const Format::Section& s, double v, bool date1904, bool negativeShown,
                  std::u16string& out) {
    bool elapsed = false;
    for (const Token& t : s.tokens) {
        elapsed = elapsed || t.kind == Kind::ElapsedHour || t.kind == Kind::ElapsedMinute ||
                  t.kind == Kind::ElapsedSecond;
    }
    const double max = date1904 ? kMaxSerial1900 - 1462 : kMaxSerial1900;
    if ((v < 0 && !elapsed) || std::fabs(v) >= max || !std::isfinite(v)) {
        out.assign(255, u'#');
        return;
    }
    const bool negative = v < 0;
    const double a = std::fabs(v);
    int64_t unitsPerSecond = 1;
    for (int i = 0; i < s.subSecond; ++i) {
        unitsPerSecond *= 10;
    }
    const int64_t total = std::llround(a * 86400.0 * static_cast<double>(unitsPerSecond));
    const int64_t seconds = total / unitsPerSecond;
    const int64_t sub = total % unitsPerSecond;
    const int64_t day = seconds / 86400;
    const int64_t secondOfDay = seconds % 86400;
    const DateParts date = dateOf(day, date1904);
    const int64_t hour = secondOfDay / 3600;
    if (negative && !negativeShown) {
        out.push_back(u'-');
    }
    for (const Token& t : s.tokens) {
        switch (t.kind) {
            case Kind::Literal:
                out += t.text;
                break;
            case Kind::Year: {
                const int64_t year = date.year + (t.c == u'b' ? 543 : 0);
                appendNumber(out, t.n <= 2 ? year % 100 : year, t.n <= 2 ? 2 : 4);
                break;
            }
            case Kind::Month:
                if (t.n <= 2) {
                    appendNumber(out, date.month, t.n);
                } else {
                    const std::u16string_view name = kMonths[static_cast<size_t>(date.month - 1)];
                    out += t.n == 3 ? name.substr(0, 3) : t.n == 5 ? name.substr(0, 1) : name;
                }
                break;
            case Kind::Day:
                if (t.n <= 2) {
                    appendNumber(out, date.day, t.n);
                } else {
                    const std::u16string_view name = kDays[static_cast<size_t>(date.weekday)];
                    out += t.n == 3 ? name.substr(0, 3) : name;
                }
                break;
            case Kind::Hour: {
                int64_t h = hour;
                if (s.twelveHour) {
                    h = h % 12 == 0 ? 12 : h % 12;
                }
                appendNumber(out, h, std::min(t.n, 2));
                break;
            }
            case Kind::Minute:
                appendNumber(out, secondOfDay / 60 % 60, std::min(t.n, 2));
                break;
            case Kind::Second:
                appendNumber(out, secondOfDay % 60, std::min(t.n, 2));
                break;
            case Kind::SubSecond: {
                out.push_back(u'.');
                std::string digits = std::to_string(sub);
                digits.insert(0, static_cast<size_t>(s.subSecond) - digits.size(), '0');
                append(out, std::string_view(digits).substr(0, static_cast<size_t>(t.n)));
                break;
            }
            case Kind::ElapsedHour:
                appendNumber(out, seconds / 3600, t.n);
                break;
            case Kind::ElapsedMinute:
                appendNumber(out, seconds / 60, t.n);
                break;
            case Kind::ElapsedSecond:
                appendNumber(out, seconds, t.n);
                break;
            case Kind::AmPm:
                out += hour < 12 ? (t.n == 2 ? u"AM" : u"A") : (t.n == 2 ? u"PM" : u"P");
                break;
            default:
                break;
        }
    }
}

void showLiterals(const Format::Section& s, std::u16string& out) {
    for (const Token& t : s.tokens) {
        if (t.kind == Kind::Literal) {
            out += t.text;
        }
    }
}

}  // namespace

Format::Format(std::u16string_view code) {
    size_t i = 0;
    while (m_sections.size() < 4) {
        Section s;
        i = parseSection(code, i, s);
        finishSection(s);
        m_sections.push_back(std::move(s));
        if (i >= code.size()) {
            break;
        }
        ++i;  // the ';'
    }
}

bool Format::isGeneral() const {
    return m_sections.size() == 1 && m_sections[0].shape == Shape::General &&
           m_sections[0].tokens.size() == 1;
}

bool Format::isDateTime() const {
    return !m_sections.empty() && m_sections[0].shape == Shape::DateTime;
}

void Format::apply(double value, bool date1904, std::u16string& out) const {
    out.clear();
    if (!std::isfinite(value)) {
        out = u"#NUM!";
        return;
    }
    // The sections numbers may use: all but a text-only fourth (or a
    // text-only one anywhere, for a format such as "@").
    size_t count = 0;
    while (count < m_sections.size() && count < 3 && m_sections[count].shape != Shape::Text) {
        ++count;
    }
    if (count == 0) {
        general(value, out);
        return;
    }
    size_t chosen = 0;
    bool absolute = false;  // the section shows the value without its sign
    const bool conditional =
        m_sections[0].hasCondition || (count > 1 && m_sections[1].hasCondition);
    if (conditional) {
        size_t k = 0;
        for (; k < count && k < 2 && m_sections[k].hasCondition; ++k) {
            if (m_sections[k].matches(value)) {
                break;
            }
        }
        if (k >= count) {
            out.assign(255, u'#');  // no section for this value
            return;
        }
        chosen = k;
        // The second section drops the sign as it does without conditions;
        // the third takes every other value and shows it as it is.
        absolute = value < 0 && chosen == 1;
    } else if (count == 1 || value > 0 || (count == 2 && value == 0)) {
        chosen = 0;
    } else if (value < 0) {
        chosen = 1;
        absolute = true;
    } else {
        chosen = 2;
    }
    const Section& s = m_sections[chosen];
    switch (s.shape) {
        case Shape::General: {
            std::u16string number;
            general(absolute ? std::fabs(value) : value, number);
            for (const Token& t : s.tokens) {
                out += t.kind == Kind::General ? number : t.text;
            }
            return;
        }
        case Shape::DateTime:
            showDateTime(s, value, date1904, absolute, out);
            return;
        case Shape::Text:
            showLiterals(s, out);
            return;
        case Shape::Number:
            break;
    }
    if (countDigits(s.tokens, 0, s.tokens.size()) == 0) {
        showLiterals(s, out);
        return;
    }
    if (value < 0 && !absolute) {
        out.push_back(u'-');
    }
    showNumber(s, std::fabs(value), out);
}

std::u16string Format::apply(double value, bool date1904) const {
    std::u16string out;
    apply(value, date1904, out);
    return out;
}

void general(double value, std::u16string& out) {
    out.clear();
    if (!std::isfinite(value)) {
        out = u"#NUM!";
        return;
    }
    if (value == 0) {
        out = u"0";
        return;
    }
    const double a = std::fabs(value);
    const auto exponent = static_cast<int>(std::floor(std::log10(a)));
    // Scientific: "1.23457E+22", five decimals (four past E+99).
    std::string scientific;
    {
        char buf[64];
        const int decimals = std::abs(exponent) >= 100 ? 4 : 5;
        std::snprintf(buf, sizeof buf, "%.*E", decimals, a);
        const std::string s = buf;
        const size_t e = s.find('E');
        std::string mantissa = s.substr(0, e);
        if (mantissa.find('.') != std::string::npos) {
            while (mantissa.back() == '0') {
                mantissa.pop_back();
            }
            if (mantissa.back() == '.') {
                mantissa.pop_back();
            }
        }
        const int exp = std::atoi(s.c_str() + e + 1);
        std::snprintf(buf, sizeof buf, "E%c%02d", exp < 0 ? '-' : '+', std::abs(exp));
        scientific = mantissa + buf;
    }
    std::string text;
    if (exponent >= -9 && exponent <= 10) {
        // Fixed: at most 11 characters, "0." counted below 1.
        const int decimals = exponent < 0 ? 9 : std::max(0, 9 - exponent);
        std::string whole, fraction;
        fixedDigits(a, decimals, whole, fraction);
        if (static_cast<int>(whole.size()) > std::max(exponent, 0) + 1 && decimals > 0) {
            fixedDigits(a, decimals - 1, whole, fraction);  // rounding added a digit
        }
        while (!fraction.empty() && fraction.back() == '0') {
            fraction.pop_back();
        }
        if (whole.size() <= 11 && (!whole.empty() || !fraction.empty())) {
            text = (whole.empty() ? std::string("0") : whole) +
                   (fraction.empty() ? std::string() : "." + fraction);
        }
        if (exponent < -4 && !text.empty()) {
            // Below 1E-04 the fixed form wins only while it shows as many
            // significant digits as the scientific one (0.000012345, but
            // 1.23457E-05 for 0.00001234567).
            const size_t fixedDigitsShown = fraction.size() - fraction.find_first_not_of('0');
            const size_t e = scientific.find('E');
            const size_t scientificShown = e - (scientific.find('.') < e ? 1 : 0);
            if (fixedDigitsShown < scientificShown) {
                text.clear();
            }
        }
    }
    if (text.empty()) {
        text = scientific;
    }
    if (value < 0) {
        out.push_back(u'-');
    }
    append(out, text);
}

std::u16string_view builtinCode(uint32_t id) {
    switch (id) {
        case 0:
            return u"General";
        case 1:
            return u"0";
        case 2:
            return u"0.00";
        case 3:
            return u"#,##0";
        case 4:
            return u"#,##0.00";
        case 5:
            return u"\"$\"#,##0_);(\"$\"#,##0)";
        case 6:
            return u"\"$\"#,##0_);[Red](\"$\"#,##0)";
        case 7:
            return u"\"$\"#,##0.00_);(\"$\"#,##0.00)";
        case 8:
            return u"\"$\"#,##0.00_);[Red](\"$\"#,##0.00)";
        case 9:
            return u"0%";
        case 10:
            return u"0.00%";
        case 11:
            return u"0.00E+00";
        case 12:
            return u"# ?/?";
        case 13:
            return u"# ?\?/??";
        case 14:
            return u"m/d/yy";
        case 15:
            return u"d-mmm-yy";
        case 16:
            return u"d-mmm";
        case 17:
            return u"mmm-yy";
        case 18:
            return u"h:mm AM/PM";
        case 19:
            return u"h:mm:ss AM/PM";
        case 20:
            return u"h:mm";
        case 21:
            return u"h:mm:ss";
        case 22:
            return u"m/d/yy h:mm";
        case 37:
            return u"#,##0_);(#,##0)";
        case 38:
            return u"#,##0_);[Red](#,##0)";
        case 39:
            return u"#,##0.00_);(#,##0.00)";
        case 40:
            return u"#,##0.00_);[Red](#,##0.00)";
        case 41:
            return u"_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)";
        case 42:
            return u"_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)";
        case 43:
            return u"_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)";
        case 44:
            return u"_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)";
        case 45:
            return u"mm:ss";
        case 46:
            return u"[h]:mm:ss";
        case 47:
            return u"mmss.0";
        case 48:
            return u"##0.0E+0";
        case 49:
            return u"@";
        default:
            return {};
    }
}

}  // namespace numfmt
