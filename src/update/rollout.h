// Staged rollout: each machine's wave for an offered version, and whether the
// offer has reached the machine today. The wave is stable for a machine and a
// version, and spread evenly over the rollout's days, so that a stop order
// given early catches most of the fleet before it installs.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "common/calendar_date.h"
#include "feed/feed.h"
#include "platform/crypto.h"
#include "platform/platform.h"

namespace tamsel {

// Where the administrators put the machine in every staged offer (the policy
// UpdateRing): its own wave, the first or the last.
enum class UpdateRing : std::uint8_t { own_wave, early, late };

// The text whose SHA-256 decides the wave: the lower-cased MachineGuid, "/",
// the offered version.
std::string rollout_wave_text(std::string_view machine_guid, std::string_view version);

// The first 8 bytes of the digest as a big-endian number, modulo `days`.
std::uint32_t rollout_wave(const Sha256Digest& digest, std::uint32_t days);

// The machine's wave through the platform, unless its ring names the first
// or the last. A machine whose MachineGuid (or the digest) cannot be had
// takes the last wave: it is never stranded, only late.
std::uint32_t machine_rollout_wave(Platform& platform, const Rollout& rollout, std::string_view version,
                                   UpdateRing ring);

// The first day on which the wave is due: the start plus the wave in days.
CalendarDate rollout_due_day(const Rollout& rollout, std::uint32_t wave);

// Whether today is on or after the wave's due day.
bool rollout_reached(const Rollout& rollout, std::uint32_t wave, const CalendarDate& today);

}  // namespace tamsel
