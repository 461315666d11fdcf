#include "common/calendar_date.h"
#include "common/toml_reading.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace tamsel {
namespace {

TEST(CalendarDate, LeapYearsFollowTheGregorianRuleAlsoForNegativeYears) {
    struct Case {
        std::int32_t year;
        bool leap;
    };
    const std::vector<Case> cases = {
        {2024, true}, {2026, false}, {1900, false}, {2000, true}, {2100, false}, {2400, true},
        {0, true},    {-4, true},    {-1, false},   {-100, false}, {-400, true}, {-2000, true},
    };
    for (const auto& c : cases) EXPECT_EQ(is_leap_year(c.year), c.leap) << c.year;
}

TEST(CalendarDate, TextParser) {
    struct Case {
        const char* text;
        std::optional<CalendarDate> expected;
    };
    const std::vector<Case> cases = {
        {"2026-09-02", CalendarDate{2026, 9, 2}},
        {"2028-02-29", CalendarDate{2028, 2, 29}},
        {"0000-01-01", CalendarDate{0, 1, 1}},
        {"9999-12-31", CalendarDate{9999, 12, 31}},
        {"+026-+9-+2", CalendarDate{26, 9, 2}},
        {"-100-03-01", CalendarDate{-100, 3, 1}},
        {"-004-02-29", CalendarDate{-4, 2, 29}},
        {"2026-02-29", std::nullopt},
        {"2026-02-30", std::nullopt},
        {"2026-04-31", std::nullopt},
        {"2026-00-10", std::nullopt},
        {"2026-13-10", std::nullopt},
        {"2026-01-00", std::nullopt},
        {"2026-9-02", std::nullopt},
        {"2026-09-2", std::nullopt},
        {"2026-09-002", std::nullopt},
        {"20260-09-02", std::nullopt},
        {"2026/09/02", std::nullopt},
        {"2026-09-02 ", std::nullopt},
        {" 2026-09-02", std::nullopt},
        {"2026-0a-02", std::nullopt},
        {"2026--9-02", std::nullopt},
        {"2026-9+-02", std::nullopt},
        {"20+6-09-02", std::nullopt},
        {"--26-09-02", std::nullopt},
        {"+-26-09-02", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_calendar_date(c.text), c.expected) << c.text;
        if (c.expected) EXPECT_EQ(parse_calendar_date(calendar_date_text(*c.expected)), c.expected) << c.text;
    }
}

// Parses `d = <value>` and reads the value as a date.
std::variant<CalendarDate, std::string> date_from_document(const std::string& value) {
    const std::string document = "d = " + value + "\n";
    auto parsed = toml::parse(document, std::string_view{"test"});
    if (!parsed) return std::string("document did not parse");
    const toml::node* node = parsed.table().get("d");
    if (node == nullptr) return std::string("no d");
    return calendar_date_from_toml(*node);
}

TEST(CalendarDate, FromToml) {
    const CalendarDate day{2026, 9, 2};
    struct Case {
        const char* value;
        std::variant<CalendarDate, std::string> expected;
    };
    const std::string expectation = "a date, written 2026-09-02 or \"2026-09-02\"";
    const std::vector<Case> cases = {
        {"2026-09-02", day},
        {"\"2026-09-02\"", day},
        {"'2026-09-02'", day},
        {"2026-09-02T08:00:00Z", day},
        {"2026-09-02T23:30:00-05:00", day},
        {"2026-09-02T23:30:00", day},
        {"2026-09-02 10:00:00", day},
        {"\"2026-9-02\"", std::string("a date is written YYYY-MM-DD")},
        {"\"2026-02-30\"", std::string("a date is written YYYY-MM-DD")},
        {"\"2026-09-02T08:00:00Z\"", std::string("a date is written YYYY-MM-DD")},
        {"10:30:00", std::string("a date, not a time of day")},
        {"{}", std::string("datetime key not found")},
        {"{ year = 2026 }", std::string("expected field with custom name")},
        {"20260902", "invalid type: integer, expected " + expectation},
        {"2026.0", "invalid type: float, expected " + expectation},
        {"true", "invalid type: boolean, expected " + expectation},
        {"[2026, 9, 2]", "invalid type: array, expected " + expectation},
    };
    for (const auto& c : cases) EXPECT_EQ(date_from_document(c.value), c.expected) << c.value;
}

TEST(CalendarDate, FromTomlRefusesADayTheDateValueCannotHave) {
    // The parser refuses such dates itself; a value built in code can hold one.
    EXPECT_EQ(calendar_date_from_toml(toml::value<toml::date>(toml::date{2026, 2, 29})),
              (std::variant<CalendarDate, std::string>(std::string("no such day in that month"))));
    EXPECT_EQ(calendar_date_from_toml(toml::value<toml::date>(toml::date{2026, 13, 1})),
              (std::variant<CalendarDate, std::string>(std::string("no such day in that month"))));
    EXPECT_EQ(calendar_date_from_toml(toml::value<toml::date>(toml::date{2028, 2, 29})),
              (std::variant<CalendarDate, std::string>(CalendarDate{2028, 2, 29})));
}

TEST(CalendarDate, ToToml) {
    struct Case {
        CalendarDate date;
        toml::date expected;
    };
    const std::vector<Case> cases = {
        {{2026, 9, 2}, {2026, 9, 2}},
        {{65535, 12, 31}, {65535, 12, 31}},
        {{65536, 1, 1}, {0, 1, 1}},
        {{-1, 1, 1}, {0, 1, 1}},
        {{2026, 256, 300}, {2026, 1, 1}},
        {{2026, 255, 255}, {2026, 255, 255}},
    };
    for (const auto& c : cases) EXPECT_EQ(calendar_date_to_toml(c.date), c.expected) << c.date.year;
}

}  // namespace
}  // namespace tamsel
