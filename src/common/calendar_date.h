// A day of the proleptic Gregorian calendar and its "YYYY-MM-DD" text form.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamsel {

struct CalendarDate {
    std::int32_t year = 0;
    std::uint32_t month = 1;
    std::uint32_t day = 1;
    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

bool is_leap_year(std::int32_t year);
std::uint32_t days_in_month(std::int32_t year, std::uint32_t month);
// Whether the day exists in that month of that year.
bool is_real_day(std::int32_t year, std::uint32_t month, std::uint32_t day);

// The text parser: exactly "YYYY-MM-DD" with the sign rules of the state file;
// nothing for any other text or for a day that does not exist.
std::optional<CalendarDate> parse_calendar_date(std::string_view text);

}  // namespace tamsel
