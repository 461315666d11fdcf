#include "update/rollout.h"

#include <cstdio>
#include <tuple>

#include "common/unicode_lower.h"
#include "feed/sha256_hasher.h"

namespace tamsel {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil), and back.
std::int64_t days_from_civil(std::int64_t y, std::uint32_t m, std::uint32_t d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CalendarDate civil_from_days(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const auto day = static_cast<std::uint32_t>(doy - (153 * mp + 2) / 5 + 1);
    const auto month = static_cast<std::uint32_t>(mp < 10 ? mp + 3 : mp - 9);
    return CalendarDate{static_cast<std::int32_t>(yoe + era * 400 + (month <= 2)), month, day};
}

}  // namespace

std::string rollout_wave_text(std::string_view machine_guid, std::string_view version) {
    return lower_case_full(machine_guid) + "/" + std::string(version);
}

std::uint32_t rollout_wave(const Sha256Digest& digest, std::uint32_t days) {
    if (days == 0) return 0;
    std::uint64_t number = 0;
    for (std::size_t i = 0; i < 8; ++i) number = number << 8 | digest[i];
    return static_cast<std::uint32_t>(number % days);
}

std::uint32_t machine_rollout_wave(Platform& platform, const Rollout& rollout, std::string_view version) {
    const std::uint32_t last = rollout.days - 1;
    const auto guid = platform.registry.machine_guid();
    if (!guid || guid->empty()) return last;
    const std::string text = rollout_wave_text(*guid, version);
    Sha256Hasher hasher(platform.crypto);
    if (!hasher.begin() || !hasher.add(text.data(), text.size())) return last;
    const auto digest = hasher.finish();
    return digest ? rollout_wave(*digest, rollout.days) : last;
}

CalendarDate add_days(const CalendarDate& date, std::int64_t days) {
    return civil_from_days(days_from_civil(date.year, date.month, date.day) + days);
}

std::int64_t days_between(const CalendarDate& from, const CalendarDate& to) {
    return days_from_civil(to.year, to.month, to.day) - days_from_civil(from.year, from.month, from.day);
}

std::string calendar_date_text(const CalendarDate& date) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year), static_cast<unsigned>(date.month),
                  static_cast<unsigned>(date.day));
    return text;
}

CalendarDate rollout_due_day(const Rollout& rollout, std::uint32_t wave) { return add_days(rollout.start, wave); }

bool rollout_reached(const Rollout& rollout, std::uint32_t wave, const CalendarDate& today) {
    const CalendarDate due = rollout_due_day(rollout, wave);
    return std::tie(today.year, today.month, today.day) >= std::tie(due.year, due.month, due.day);
}

}  // namespace tamsel
