// Rendering of cell values as text (see render.h).
#include "xls/render.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace xls::detail {
namespace {

// Replaces out's contents by ASCII text. Widening through resize keeps
// out's buffer; assign() from char iterators would build a temporary.
void assignAscii(const char* begin, const char* end, std::u16string& out) {
    out.resize(static_cast<size_t>(end - begin));
    char16_t* dst = out.data();
    for (const char* p = begin; p != end; ++p) {
        // The text is what std::to_chars wrote, which the analyzer cannot follow.
        *dst++ = static_cast<char16_t>(*p);  // NOLINT(clang-analyzer-core.uninitialized.Assign)
    }
}

// Significant digits of a number as to_chars writes it ("-0.00125",
// "1.5e-07", "1200.5"): the digits before any exponent, less leading zeros.
size_t significantDigits(const char* p, const char* end) {
    size_t n = 0;
    for (; p != end && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9' && (n > 0 || *p != '0')) {
            ++n;
        }
    }
    return n;
}

// A value from 1E-4 to below 1E+15 with a few decimals (most stored
// decimals: prices, measures), written without the general algorithm: the
// fewest decimals k whose decimal m / 10^k reads back as the value. With 15
// significant digits or fewer, that decimal is the shortest one (see
// renderNumber).
struct FewDecimals {
    int64_t m = 0;
    int k = 0;          // 0: no such decimal
    int intDigits = 0;  // of the value's whole part, 0 below 1
};

FewDecimals fewDecimals(double a) {
    static constexpr double kPow10[] = {1,    1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                        1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
    static constexpr double kTenths[] = {1e-1, 1e-2, 1e-3};
    // Decimals allowed: 15 less the integer digits, or more the zeros right
    // after the point. (At a power of ten the count errs low, which only
    // sends the value to the general path.)
    FewDecimals found;
    found.intDigits = a >= 1 ? 1 : 0;
    for (int i = 1; i <= 14 && a >= kPow10[i]; ++i) {
        ++found.intDigits;
    }
    int most = 15 - std::max(found.intDigits, 1) + (a >= 1 ? 0 : 1);
    for (const double tenth : kTenths) {
        most += a < tenth ? 1 : 0;
    }
    for (int k = 1; k <= most; ++k) {
        // m < 10^15 < 2^53 and 10^k are exact: m / 10^k rounds once, as
        // reading the decimal back does.
        // a is not negative, so adding a half rounds to nearest.
        const double scaled = a * kPow10[k];
        const auto m = static_cast<int64_t>(scaled + 0.5);  // NOLINT(bugprone-incorrect-roundings)
        // When m / 10^k reads back as a, a·10^k lies within two units in
        // the last place of m: a product farther away rules k out without
        // the division.
        const auto whole = static_cast<double>(m);
        if (std::fabs(scaled - whole) <= whole * 1e-14 && whole / kPow10[k] == a) {
            found.m = m;
            found.k = k;
            break;
        }
    }
    return found;
}

// The text of a value that fewDecimals found, at buf; returns its end.
char* writeDecimals(bool negative, const FewDecimals& d, char* buf) {
    char digits[24];
    const auto n =
        static_cast<int>(std::to_chars(digits, digits + sizeof digits, d.m).ptr - digits);
    char* p = buf;
    if (negative) {
        *p++ = '-';
    }
    if (n <= d.k) {
        *p++ = '0';
        *p++ = '.';
        p = std::fill_n(p, d.k - n, '0');
        return std::copy(digits, digits + n, p);
    }
    p = std::copy(digits, digits + (n - d.k), p);
    *p++ = '.';
    return std::copy(digits + (n - d.k), digits + n, p);
}

// Its length: the whole part's digits (or "0"), the point and k decimals.
size_t decimalsLength(bool negative, const FewDecimals& d) {
    return (negative ? 1U : 0U) + static_cast<size_t>(std::max(d.intDigits, 1) + 1 + d.k);
}

// Dates and times are composed in a small buffer, then copied in one go.
struct TextBuffer {
    char16_t chars[32];
    size_t size = 0;
    void push(char16_t c) { chars[size++] = c; }
    void push2(unsigned v) {
        push(static_cast<char16_t>(u'0' + v / 10));
        push(static_cast<char16_t>(u'0' + v % 10));
    }
};

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// Day numbers (since 1970-01-01) of the date systems' day zero.
constexpr int64_t kEpoch1900 = -25569;        // 1899-12-30, for serials from 61 on
constexpr int64_t kEpoch1904 = -24107;        // 1904-01-01
constexpr double kMaxSerial1900 = 2958466.0;  // 10000-01-01

void appendDate(int64_t serialDay, bool date1904, TextBuffer& out) {
    int y = 0;
    unsigned m = 0, d = 0;
    if (!date1904 && serialDay == 60) {
        y = 1900, m = 2, d = 29;  // the day Excel's 1900 system invents
    } else {
        int64_t days = date1904 ? kEpoch1904 + serialDay : kEpoch1900 + serialDay;
        if (!date1904 && serialDay < 60) {
            days += 1;  // before the invented day, serial 1 is 1900-01-01
        }
        civilFromDays(days, y, m, d);
    }
    // Years 0 to 9999: four digits.
    const auto year = static_cast<unsigned>(y);
    out.push2(year / 100);
    out.push2(year % 100);
    out.push(u'-');
    out.push2(m);
    out.push(u'-');
    out.push2(d);
}

void appendTime(int64_t seconds, TextBuffer& out) {
    out.push2(static_cast<unsigned>(seconds / 3600));
    out.push(u':');
    out.push2(static_cast<unsigned>(seconds / 60 % 60));
    out.push(u':');
    out.push2(static_cast<unsigned>(seconds % 60));
}

char16_t lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool startsWithNoCase(std::u16string_view s, size_t i, std::u16string_view prefix) {
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

}  // namespace

CellType builtinFormatKind(uint16_t id) {
    if ((id >= 14 && id <= 17) || (id >= 27 && id <= 31) || id == 36 || (id >= 50 && id <= 58)) {
        return CellType::Date;
    }
    if ((id >= 18 && id <= 21) || (id >= 32 && id <= 35) || (id >= 45 && id <= 47)) {
        return CellType::Time;
    }
    if (id == 22) {
        return CellType::DateTime;
    }
    return CellType::Number;
}

CellType classifyFormat(std::u16string_view f) {
    bool date = false, time = false, month = false;
    for (size_t i = 0; i < f.size(); ++i) {
        const char16_t c = lower(f[i]);
        if (c == u'"') {
            const size_t end = f.find(u'"', i + 1);
            i = end == std::u16string_view::npos ? f.size() : end;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i;  // an escaped character, a space the width of one, a fill
        } else if (c == u'[') {
            const size_t end = f.find(u']', i + 1);
            const std::u16string_view inner =
                f.substr(i + 1, (end == std::u16string_view::npos ? f.size() : end) - i - 1);
            // [h], [mm], [ss]: elapsed time; anything else is a colour,
            // a condition or a locale
            if (!inner.empty() && inner.find_first_not_of(u"hHmMsS") == std::u16string_view::npos) {
                time = true;
            }
            i = end == std::u16string_view::npos ? f.size() : end;
        } else if (startsWithNoCase(f, i, u"am/pm")) {
            time = true;
            i += 4;
        } else if (startsWithNoCase(f, i, u"a/p")) {
            time = true;
            i += 2;
        } else if (c == u'd' || c == u'y') {
            date = true;
        } else if (c == u'm') {
            month = true;
        } else if (c == u'h' || c == u's') {
            time = true;
        } else if (startsWithNoCase(f, i, u"general")) {
            i += 6;
        }
    }
    // "m" is a month among dates or alone, a minute next to hours/seconds.
    if (month && !time) {
        date = true;
    }
    if (date && time) {
        return CellType::DateTime;
    }
    return date ? CellType::Date : time ? CellType::Time : CellType::Number;
}

namespace {

// Room for any number's text: a sign, 17 digits, a point and an exponent.
constexpr size_t kNumberChars = 40;

// The number's text as renderNumber gives it, in ASCII at buf; returns its
// end.
char* numberText(double value, char* buf) {
    if (value == 0) {
        *buf = '0';  // also -0
        return buf + 1;
    }
    if (!std::isfinite(value)) {
        constexpr std::string_view kNum = "#NUM!";  // infinities and NaN
        return std::copy(kNum.begin(), kNum.end(), buf);
    }
    char* const end = buf + kNumberChars;
    // Integers below 10^15 print exactly; the rest like %.15g.
    if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
        return std::to_chars(buf, end, static_cast<int64_t>(value)).ptr;
    }
    // The shortest text that reads back as the value, when it has at most
    // 15 significant digits, is what 15 digits show: a double resolves
    // finer than a unit in the 15th digit, so the shortest decimal is also
    // the nearest 15-digit one. Laid out as %.15g would: with an exponent
    // below 1E-4 and from 1E+15 (smaller integers took the branch above).
    // Only longer ones pay for rounding to 15 digits, and subnormal
    // numbers, whose resolution is coarser.
    const double magnitude = std::fabs(value);
    const bool scientific = magnitude < 1e-4 || magnitude >= 1e15;
    if (!scientific) {
        const FewDecimals decimals = fewDecimals(magnitude);
        if (decimals.k > 0) {
            return writeDecimals(value < 0, decimals, buf);
        }
    }
    auto r = std::to_chars(buf, end, value,
                           scientific ? std::chars_format::scientific : std::chars_format::fixed);
    if (!std::isnormal(value) || significantDigits(buf, r.ptr) > 15) {
        r = std::to_chars(buf, end, value, std::chars_format::general, 15);
    }
    std::replace(buf, r.ptr, 'e', 'E');
    return r.ptr;
}

// How a date/time value shows: its kind (Number when it falls outside the
// calendar: negative, or past 9999-12-31), and its day and second of day.
struct Shown {
    CellType kind = CellType::Number;
    int64_t day = 0;
    int64_t seconds = 0;
};

Shown shownDateTime(double serial, CellType kind, bool date1904) {
    const double max = date1904 ? kMaxSerial1900 - 1462 : kMaxSerial1900;
    if (!(serial >= 0) || serial >= max) {
        return {};
    }
    // Round to the nearest second; 23:59:59.6 carries into the next day.
    const auto total = static_cast<int64_t>(std::floor(serial * 86400.0 + 0.5));
    Shown shown{kind, total / 86400, total % 86400};
    if (serial < 1 && shown.day == 0) {
        shown.kind = CellType::Time;  // a time of day whatever the format
    } else if (serial < 1) {
        shown.kind = CellType::DateTime;  // rounded up to midnight of day 1
    }
    if (shown.day >= static_cast<int64_t>(max)) {
        shown.kind = CellType::Number;
    }
    return shown;
}

}  // namespace

void renderNumber(double value, std::u16string& out) {
    char buf[kNumberChars];
    assignAscii(buf, numberText(value, buf), out);
}

size_t numberLength(double value) {
    if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
        // An integer's digits (and sign), without writing them.
        auto n = static_cast<int64_t>(value);
        size_t length = n <= 0 ? 1 : 0;
        for (; n != 0; n /= 10) {
            ++length;
        }
        return length;
    }
    const double magnitude = std::fabs(value);
    if (std::isfinite(value) && magnitude >= 1e-4 && magnitude < 1e15) {
        const FewDecimals decimals = fewDecimals(magnitude);
        if (decimals.k > 0) {
            return decimalsLength(value < 0, decimals);
        }
    }
    char buf[kNumberChars];
    return static_cast<size_t>(numberText(value, buf) - buf);
}

void renderDateTime(double serial, CellType kind, bool date1904, std::u16string& out) {
    const Shown shown = shownDateTime(serial, kind, date1904);
    if (shown.kind == CellType::Number) {
        renderNumber(serial, out);
        return;
    }
    TextBuffer text;
    if (shown.kind == CellType::Date || shown.kind == CellType::DateTime) {
        appendDate(shown.day, date1904, text);
    }
    if (shown.kind == CellType::DateTime) {
        text.push(u' ');
    }
    if (shown.kind == CellType::Time || shown.kind == CellType::DateTime) {
        appendTime(shown.seconds, text);
    }
    out.assign(text.chars, text.size);
}

size_t dateTimeLength(double serial, CellType kind, bool date1904) {
    switch (shownDateTime(serial, kind, date1904).kind) {
        case CellType::Date:
            return 10;  // YYYY-MM-DD
        case CellType::Time:
            return 8;  // HH:MM:SS
        case CellType::DateTime:
            return 19;
        default:
            return numberLength(serial);
    }
}

std::string_view errorText(uint8_t code) {
    switch (code) {
        case 0x00:
            return "#NULL!";
        case 0x07:
            return "#DIV/0!";
        case 0x0F:
            return "#VALUE!";
        case 0x17:
            return "#REF!";
        case 0x1D:
            return "#NAME?";
        case 0x24:
            return "#NUM!";
        case 0x2A:
            return "#N/A";
        case 0x2B:
            return "#GETTING_DATA";
        default:
            return "#N/A";
    }
}

}  // namespace xls::detail
