// Calendar dates as the state file and the feed's items carry them: the text
// parser, and a date read from any TOML value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "common/calendar_date.h"
#include "common/toml.h"
#include "common/toml_reading.h"
#include "common/utf8.h"
#include "fuzz_check.h"

using namespace tamsel;

namespace {

bool leap(std::int64_t year) {
    const std::int64_t y = (year % 400 + 400) % 400;  // the rule on the non-negative remainder
    return y % 4 == 0 && (y % 100 != 0 || y == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto date = parse_calendar_date(text)) {
        FUZZ_REQUIRE(date->year >= -999 && date->year <= 9999);
        FUZZ_REQUIRE(date->month >= 1 && date->month <= 12);
        FUZZ_REQUIRE(date->day >= 1 && date->day <= days_in_month(date->year, date->month));
        FUZZ_REQUIRE(is_leap_year(date->year) == leap(date->year));
        FUZZ_REQUIRE(days_in_month(date->year, 2) == (leap(date->year) ? 29u : 28u));
        // Each date has one plain spelling, the one written, which reads
        // back to it; a text without "+" signs (and not "-000") is that spelling.
        const std::string plain = calendar_date_text(*date);
        FUZZ_REQUIRE(parse_calendar_date(plain) == date);
        if (text.find('+') == std::string_view::npos && !text.starts_with("-000")) FUZZ_REQUIRE(plain == text);
    }

    // The same bytes as a TOML value, as `last_try = <value>` in the state.
    if (!is_valid_utf8(text)) return 0;
    const std::string document = "last_try = " + std::string(text);
    toml::parse_result parsed = toml::parse(document, std::string_view{"date.toml"});
    if (!parsed) return 0;
    const toml::node* value = parsed.table().get("last_try");
    if (value == nullptr) return 0;
    const auto read = calendar_date_from_toml(*value);
    if (const auto* string = value->as_string()) {
        const auto direct = parse_calendar_date(string->get());
        FUZZ_REQUIRE(std::holds_alternative<CalendarDate>(read) == direct.has_value());
        if (direct) FUZZ_REQUIRE(std::get<CalendarDate>(read) == *direct);
    }
    if (const auto* date = std::get_if<CalendarDate>(&read)) {
        FUZZ_REQUIRE(date->month >= 1 && date->month <= 12);
        FUZZ_REQUIRE(date->day >= 1 && date->day <= days_in_month(date->year, date->month));
        // A bare TOML date of a year the file can hold is written as read.
        if (date->year >= 0) {
            const toml::date written = calendar_date_to_toml(*date);
            FUZZ_REQUIRE(written.year == date->year && written.month == date->month && written.day == date->day);
        }
    } else {
        FUZZ_REQUIRE(!std::get<std::string>(read).empty());
    }
    return 0;
}
