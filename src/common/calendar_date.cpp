#include "common/calendar_date.h"

#include <cstdio>

namespace tamsel {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Three or four characters: four digits, or a sign followed by three digits.
std::optional<std::int32_t> parse_year(std::string_view field) {
    std::int32_t sign = 1;
    std::string_view digits = field;
    if (field[0] == '+' || field[0] == '-') {
        sign = field[0] == '-' ? -1 : 1;
        digits = field.substr(1);
    }
    std::int32_t value = 0;
    for (const char c : digits) {
        if (!is_digit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return sign * value;
}

// Two characters: two digits, or "+" followed by one digit.
std::optional<std::uint32_t> parse_two_digit_field(std::string_view field) {
    if (field[0] == '+') {
        if (!is_digit(field[1])) return std::nullopt;
        return static_cast<std::uint32_t>(field[1] - '0');
    }
    if (!is_digit(field[0]) || !is_digit(field[1])) return std::nullopt;
    return static_cast<std::uint32_t>((field[0] - '0') * 10 + (field[1] - '0'));
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil; eras of 400 years).
std::int64_t unix_days(const CalendarDate& date) {
    const std::int64_t m = date.month;
    const std::int64_t y = date.year - (m <= 2);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + date.day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

bool is_real_day(std::int64_t year, std::uint32_t month, std::uint32_t day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

bool is_leap_year(std::int64_t year) {
    // The remainders are only compared with zero, so the sign of C++'s
    // remainder for negative years does not matter.
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

std::uint32_t days_in_month(std::int64_t year, std::uint32_t month) {
    switch (month) {
    case 1: case 3: case 5: case 7: case 8: case 10: case 12: return 31;
    case 4: case 6: case 9: case 11: return 30;
    case 2: return is_leap_year(year) ? 29 : 28;
    default: return 0;
    }
}

std::optional<CalendarDate> parse_calendar_date(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    const auto year = parse_year(text.substr(0, 4));
    const auto month = parse_two_digit_field(text.substr(5, 2));
    const auto day = parse_two_digit_field(text.substr(8, 2));
    if (!year || !month || !day || !is_real_day(*year, *month, *day)) return std::nullopt;
    return CalendarDate{*year, *month, *day};
}

CalendarDate date_from_unix_days(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const auto day = static_cast<std::uint32_t>(doy - (153 * mp + 2) / 5 + 1);
    const auto month = static_cast<std::uint32_t>(mp < 10 ? mp + 3 : mp - 9);
    return CalendarDate{yoe + era * 400 + (month <= 2), month, day};
}

CalendarDate add_days(const CalendarDate& date, std::int64_t days) {
    return date_from_unix_days(unix_days(date) + days);
}

std::int64_t days_between(const CalendarDate& from, const CalendarDate& to) { return unix_days(to) - unix_days(from); }

std::string calendar_date_text(const CalendarDate& date) {
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(date.year),
                  static_cast<unsigned>(date.month), static_cast<unsigned>(date.day));
    return text;
}

}  // namespace tamsel
