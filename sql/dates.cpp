// Reading and writing dates and times.
#include "sql/dates.h"

#include <array>
#include <cmath>

namespace sql {

namespace {

char16_t lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

int daysInMonth(int64_t year, int64_t month) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) {
        return 29;
    }
    return kDays[static_cast<size_t>(month - 1)];
}

constexpr std::array<std::u16string_view, 12> kMonths{
    u"january", u"february", u"march",     u"april",   u"may",      u"june",
    u"july",    u"august",   u"september", u"october", u"november", u"december"};

// A simple scanner over the text.
struct Scanner {
    std::u16string_view s;
    size_t i = 0;

    void spaces() {
        while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) {
            ++i;
        }
    }
    [[nodiscard]] bool done() const { return i >= s.size(); }
    bool take(char16_t c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    // Up to `maxDigits` digits; nullopt when none.
    std::optional<int64_t> number(size_t maxDigits) {
        size_t n = 0;
        int64_t v = 0;
        while (i < s.size() && isDigit(s[i]) && n < maxDigits) {
            v = v * 10 + (s[i] - u'0');
            ++i;
            ++n;
        }
        return n == 0 ? std::nullopt : std::optional(v);
    }
    // A month's name or its first three letters.
    std::optional<int64_t> monthName() {
        size_t end = i;
        while (end < s.size() &&
               ((s[end] >= u'a' && s[end] <= u'z') || (s[end] >= u'A' && s[end] <= u'Z'))) {
            ++end;
        }
        const size_t length = end - i;
        if (length < 3) {
            return std::nullopt;
        }
        for (size_t m = 0; m < kMonths.size(); ++m) {
            const std::u16string_view name = kMonths[m];
            if (length > name.size()) {
                continue;
            }
            bool same = true;
            for (size_t k = 0; k < length && same; ++k) {
                same = lower(s[i + k]) == name[k];
            }
            if (same && (length == 3 || length == name.size())) {
                i = end;
                return static_cast<int64_t>(m + 1);
            }
        }
        return std::nullopt;
    }
};

bool validDate(int64_t y, int64_t m, int64_t d) {
    return y >= 100 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m);
}

// A two-digit year: 00-29 are 2000-2029, 30-99 are 1930-1999.
int64_t fullYear(int64_t year, size_t digits) {
    if (digits <= 2) {
        return year < 30 ? 2000 + year : 1900 + year;
    }
    return year;
}

// h:mm[:ss[.fff]] [AM|PM]; the seconds into the day.
std::optional<int64_t> parseTime(Scanner& sc) {
    const auto h = sc.number(2);
    if (!h || !sc.take(u':')) {
        return std::nullopt;
    }
    const auto m = sc.number(2);
    if (!m) {
        return std::nullopt;
    }
    int64_t sec = 0;
    double fraction = 0;
    if (sc.take(u':')) {
        const auto s = sc.number(2);
        if (!s) {
            return std::nullopt;
        }
        sec = *s;
        if (sc.take(u'.')) {
            double scale = 0.1;
            while (!sc.done() && isDigit(sc.s[sc.i])) {
                fraction += (sc.s[sc.i] - u'0') * scale;
                scale /= 10;
                ++sc.i;
            }
        }
    }
    int64_t hour = *h;
    sc.spaces();
    if (sc.i + 1 < sc.s.size() && lower(sc.s[sc.i + 1]) == u'm' &&
        (lower(sc.s[sc.i]) == u'a' || lower(sc.s[sc.i]) == u'p')) {
        const bool pm = lower(sc.s[sc.i]) == u'p';
        sc.i += 2;
        if (hour < 1 || hour > 12) {
            return std::nullopt;
        }
        hour = hour % 12 + (pm ? 12 : 0);
    }
    if (hour > 23 || *m > 59 || sec > 59) {
        return std::nullopt;
    }
    return hour * 3600 + *m * 60 + sec + (fraction >= 0.5 ? 1 : 0);
}

}  // namespace

int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t& year, int64_t& month, int64_t& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

DateTime DateTime::fromTotal(int64_t total, bool hasDate, bool hasTime) {
    DateTime v;
    v.days = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
    v.seconds = total - v.days * 86400;
    v.hasDate = hasDate;
    v.hasTime = hasTime;
    return v;
}

std::optional<DateTime> parseDateTime(std::u16string_view text) {
    Scanner sc{text};
    sc.spaces();
    DateTime v;
    const size_t start = sc.i;
    // A time alone.
    if (auto t = parseTime(sc)) {
        sc.spaces();
        if (sc.done()) {
            v.hasDate = false;
            v.hasTime = true;
            v.seconds = *t;
            return v;
        }
        return std::nullopt;
    }
    sc.i = start;
    int64_t y = 0, m = 0, d = 0;
    // A year of up to four digits, two-digit years widened as written.
    const auto year = [&sc]() -> std::optional<int64_t> {
        const size_t at = sc.i;
        const auto digits = sc.number(4);
        return digits ? std::optional(fullYear(*digits, sc.i - at)) : std::nullopt;
    };
    if (const auto month = sc.monthName()) {
        // January 15, 2024
        sc.spaces();
        const auto day = sc.number(2);
        sc.take(u',');
        sc.spaces();
        const auto full = year();
        if (!day || !full) {
            return std::nullopt;
        }
        y = *full;
        m = *month;
        d = *day;
    } else {
        const size_t at = sc.i;
        const auto first = sc.number(4);
        if (!first) {
            return std::nullopt;
        }
        const size_t firstDigits = sc.i - at;
        if (firstDigits == 4 && (sc.take(u'-') || sc.take(u'/'))) {
            // 2024-01-15
            const auto mm = sc.number(2);
            if (!mm || !(sc.take(u'-') || sc.take(u'/'))) {
                return std::nullopt;
            }
            const auto dd = sc.number(2);
            if (!dd) {
                return std::nullopt;
            }
            y = *first;
            m = *mm;
            d = *dd;
        } else if (firstDigits <= 2 && sc.take(u'-')) {
            // 15-Jan-2024
            const auto named = sc.monthName();
            if (!named || !sc.take(u'-')) {
                return std::nullopt;
            }
            const auto full = year();
            if (!full) {
                return std::nullopt;
            }
            y = *full;
            m = *named;
            d = *first;
        } else if (firstDigits <= 2 && sc.take(u'/')) {
            // 1/15/2024: month first
            const auto day = sc.number(2);
            if (!day || !sc.take(u'/')) {
                return std::nullopt;
            }
            const auto full = year();
            if (!full) {
                return std::nullopt;
            }
            y = *full;
            m = *first;
            d = *day;
        } else {
            return std::nullopt;
        }
    }
    if (!validDate(y, m, d)) {
        return std::nullopt;
    }
    v.days = daysFromCivil(y, m, d);
    if (!sc.take(u'T')) {
        sc.spaces();
    }
    if (!sc.done()) {
        const auto t = parseTime(sc);
        sc.spaces();
        if (!t || !sc.done()) {
            return std::nullopt;
        }
        v.seconds = *t;
        if (v.seconds >= 86400) {
            v.days += 1;
            v.seconds -= 86400;
        }
        v.hasTime = true;
    }
    return v;
}

std::u16string formatDateTime(const DateTime& value) {
    char buffer[40];
    std::string out;
    if (value.hasDate || !value.hasTime) {
        int64_t y = 0, m = 0, d = 0;
        civilFromDays(value.days, y, m, d);
        std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", static_cast<long long>(y),
                      static_cast<long long>(m), static_cast<long long>(d));
        out = buffer;
    }
    if (value.hasTime) {
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld",
                      static_cast<long long>(value.seconds / 3600),
                      static_cast<long long>(value.seconds / 60 % 60),
                      static_cast<long long>(value.seconds % 60));
        out += (out.empty() ? "" : " ") + std::string(buffer);
    }
    return std::u16string(out.begin(), out.end());
}

DateTime fromSerial(double serial) {
    const double rounded = std::round(serial * 86400.0);
    const auto total = static_cast<int64_t>(rounded);
    const int64_t epoch = daysFromCivil(1899, 12, 30) * 86400;
    const bool hasTime = total % 86400 != 0;
    return DateTime::fromTotal(total + epoch, serial >= 1 || !hasTime, hasTime);
}

}  // namespace sql
