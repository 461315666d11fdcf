#include "common/calendar_date.h"


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


}  // namespace

bool is_real_day(std::int32_t year, std::uint32_t month, std::uint32_t day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

bool is_leap_year(std::int32_t year) {
    // The remainders are only compared with zero, so the sign of C++'s
    // remainder for negative years does not matter.
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

std::uint32_t days_in_month(std::int32_t year, std::uint32_t month) {
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

}  // namespace tamsel
