#include "common/toml_reading.h"

#include <limits>

namespace tamsel {
namespace {

constexpr std::string_view date_spelling_error = "a date is written YYYY-MM-DD";
constexpr std::string_view time_only_error = "a date, not a time of day";
constexpr std::string_view no_such_day_error = "no such day in that month";
constexpr std::string_view date_expectation = "a date, written 2026-09-02 or \"2026-09-02\"";

std::variant<CalendarDate, std::string> from_toml_date(const toml::date& date) {
    const std::int32_t year = date.year;
    if (!is_real_day(year, date.month, date.day)) return std::string(no_such_day_error);
    return CalendarDate{year, date.month, date.day};
}

}  // namespace


std::string_view toml_type_name(toml::node_type type) {
    switch (type) {
    case toml::node_type::none: return "nothing";
    case toml::node_type::table: return "table";
    case toml::node_type::array: return "array";
    case toml::node_type::string: return "string";
    case toml::node_type::integer: return "integer";
    case toml::node_type::floating_point: return "float";
    case toml::node_type::boolean: return "boolean";
    case toml::node_type::date: return "date";
    case toml::node_type::time: return "time";
    case toml::node_type::date_time: return "date-time";
    }
    return "value";
}

std::string invalid_type_error(const toml::node& value, std::string_view expectation) {
    std::string error = "invalid type: ";
    error += toml_type_name(value.type());
    error += ", expected ";
    error += expectation;
    return error;
}

const std::string* string_of(const toml::node& node) {
    const auto* value = node.as_string();
    return value != nullptr ? &value->get() : nullptr;
}

std::optional<std::uint64_t> unsigned_of(const toml::node& node) {
    const auto* value = node.as_integer();
    if (value == nullptr || value->get() < 0) return std::nullopt;
    return static_cast<std::uint64_t>(value->get());
}

std::variant<CalendarDate, std::string> calendar_date_from_toml(const toml::node& value) {
    if (const auto* text = value.as_string()) {
        if (const auto date = parse_calendar_date(text->get())) return *date;
        return std::string(date_spelling_error);
    }
    if (const auto* date = value.as_date()) return from_toml_date(date->get());
    if (const auto* date_time = value.as_date_time()) {
        // The time of day and any offset say nothing about the day meant.
        return from_toml_date(date_time->get().date);
    }
    if (value.is_time()) return std::string(time_only_error);
    if (const auto* table = value.as_table()) {
        if (table->empty()) return std::string("datetime key not found");
        return std::string("expected field with custom name");
    }
    return invalid_type_error(value, date_expectation);
}

toml::date calendar_date_to_toml(const CalendarDate& date) {
    constexpr auto max_year = std::numeric_limits<std::uint16_t>::max();
    constexpr auto max_small = std::numeric_limits<std::uint8_t>::max();
    toml::date result;
    result.year = date.year >= 0 && date.year <= max_year ? static_cast<std::uint16_t>(date.year) : std::uint16_t{0};
    result.month = date.month <= max_small ? static_cast<std::uint8_t>(date.month) : std::uint8_t{1};
    result.day = date.day <= max_small ? static_cast<std::uint8_t>(date.day) : std::uint8_t{1};
    return result;
}

}  // namespace tamsel
