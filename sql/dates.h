// Dates and times as the engine holds them: ISO 8601 text, "2024-01-15",
// "13:45:00" or "2024-01-15 13:45:00", read from that form or from the
// month/day/year form that date literals use, and computed on as seconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sql {

struct DateTime {
    int64_t days = 0;     // days since 1970-01-01
    int64_t seconds = 0;  // seconds into the day, 0 to 86,399
    bool hasDate = true;
    bool hasTime = false;

    [[nodiscard]] int64_t total() const { return days * 86400 + seconds; }
    static DateTime fromTotal(int64_t total, bool hasDate, bool hasTime);
};

int64_t daysFromCivil(int64_t year, int64_t month, int64_t day);
void civilFromDays(int64_t days, int64_t& year, int64_t& month, int64_t& day);

// "2024-01-15", "2024-01-15 13:45[:00[.5]]", "2024-01-15T13:45:00",
// "1/15/2024", "1/15/24 1:45 PM", "13:45", "1:45:10 PM", "15-Jan-2024",
// "January 15, 2024"; nullopt for anything else or a day that does not
// exist.
std::optional<DateTime> parseDateTime(std::u16string_view text);

// The ISO text: date, time or both, as the value has them.
std::u16string formatDateTime(const DateTime& value);

// An Excel serial number (days since 1899-12-30, the fraction the time).
DateTime fromSerial(double serial);

}  // namespace sql
