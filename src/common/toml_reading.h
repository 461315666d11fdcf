// The strict TOML readers that the feed and the state file share: values are
// read by their TOML type only (toml++'s value<T>() would turn 25.0 into 25
// and 1 into true), with the error texts for a value of the wrong type. The
// one place besides the parsers that knows toml++'s types.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "common/calendar_date.h"
#include "common/toml.h"

namespace tamsel {

// "integer", "float", "table", ... for error texts.
std::string_view toml_type_name(toml::node_type type);

// "invalid type: <type of value>, expected <expectation>".
std::string invalid_type_error(const toml::node& value, std::string_view expectation);

// The string, or nothing for any other type.
const std::string* string_of(const toml::node& node);
// A non-negative integer, or nothing for any other type or a negative one.
std::optional<std::uint64_t> unsigned_of(const toml::node& node);

// Reads a date from a TOML value (a string, or a date or date-time with a
// date part). On failure the error text says why.
std::variant<CalendarDate, std::string> calendar_date_from_toml(const toml::node& value);

// The bare TOML local date written for a CalendarDate.
toml::date calendar_date_to_toml(const CalendarDate& date);

}  // namespace tamsel
