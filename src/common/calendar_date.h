// A day of the proleptic Gregorian calendar, its "YYYY-MM-DD" text form and
// the day arithmetic that the log, the rollout and the tools share.
#pragma once
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamsel {

struct CalendarDate {
    // Wide enough for any day a 64-bit count of seconds reaches.
    std::int64_t year = 0;
    std::uint32_t month = 1;
    std::uint32_t day = 1;
    // Earlier days compare less: year, then month, then day.
    friend auto operator<=>(const CalendarDate&, const CalendarDate&) = default;
};

bool is_leap_year(std::int64_t year);
std::uint32_t days_in_month(std::int64_t year, std::uint32_t month);
// Whether the day exists in that month of that year.
bool is_real_day(std::int64_t year, std::uint32_t month, std::uint32_t day);

// The day `days` after 1970-01-01 (before it, for a negative count).
CalendarDate date_from_unix_days(std::int64_t days);

// The day `days` after `date` (or before, for a negative count).
CalendarDate add_days(const CalendarDate& date, std::int64_t days);

// Days from `from` to `to` (negative when `to` is earlier).
std::int64_t days_between(const CalendarDate& from, const CalendarDate& to);

// "YYYY-MM-DD" (at least four year digits, "-" before a negative year), as
// the state file, the status report, the log and the tools write it.
std::string calendar_date_text(const CalendarDate& date);

// The text parser: exactly "YYYY-MM-DD" with the sign rules of the state file;
// nothing for any other text or for a day that does not exist.
std::optional<CalendarDate> parse_calendar_date(std::string_view text);

}  // namespace tamsel
