#include "update/rollout.h"

#include "common/unicode_lower.h"
#include "feed/sha256_hasher.h"

namespace tamsel {

std::string rollout_wave_text(std::string_view machine_guid, std::string_view version) {
    return lower_case_full(machine_guid) + "/" + std::string(version);
}

std::uint32_t rollout_wave(const Sha256Digest& digest, std::uint32_t days) {
    if (days == 0) return 0;
    std::uint64_t number = 0;
    for (std::size_t i = 0; i < 8; ++i) number = number << 8 | digest[i];
    return static_cast<std::uint32_t>(number % days);
}

std::uint32_t machine_rollout_wave(Platform& platform, const Rollout& rollout, std::string_view version,
                                   UpdateRing ring) {
    const std::uint32_t last = rollout.days - 1;
    if (ring != UpdateRing::own_wave) return ring == UpdateRing::early ? 0 : last;
    const auto guid = platform.registry.machine_guid();
    if (!guid || guid->empty()) return last;
    const std::string text = rollout_wave_text(*guid, version);
    Sha256Hasher hasher(platform.crypto);
    if (!hasher.begin() || !hasher.add(text.data(), text.size())) return last;
    const auto digest = hasher.finish();
    return digest ? rollout_wave(*digest, rollout.days) : last;
}

CalendarDate rollout_due_day(const Rollout& rollout, std::uint32_t wave) { return add_days(rollout.start, wave); }

bool rollout_reached(const Rollout& rollout, std::uint32_t wave, const CalendarDate& today) {
    return today >= rollout_due_day(rollout, wave);
}

}  // namespace tamsel
