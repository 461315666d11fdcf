// The two rules between a verified feed and an installation: taking in the
// reserve key's stop order, and deciding whether the offered version is due on
// this machine, the administrators' policies and the rollout included.
// Pure: no file, no log.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "common/client_limits.h"
#include "common/log_messages.h"
#include "feed/feed.h"
#include "feed/signature.h"
#include "state/state.h"
#include "update/policies.h"

namespace tamsel {

// The verdicts that refuse an offer, in the order of their codes; the
// machine's own gates come last.
enum class Verdict : std::uint8_t {
    working_key_revoked = 0,
    no_download = 1,
    download_malformed = 2,
    stop_malformed = 3,
    no_update_entry = 4,
    not_newer = 5,
    version_stopped = 6,
    version_failed_before = 7,
    foreign_address = 8,
    over_size_limit = 9,
    disabled_by_policy = 10,
    held_by_policy = 11,
    not_yet_in_rollout = 12,
    deferred_while_running = 13,
    within_quiet_hours = 14,
};

LogMessage verdict_message(Verdict verdict);

inline constexpr std::size_t address_tail_limit = 200;

// Applies a stop order of a reserve-key feed to the state; true when the
// state changed.
bool take_in_stop_order(State& state, const Feed& feed, KeyUsed key_used);

// Whether `url` names a file under the files prefix: the prefix byte for
// byte, then 1 to 200 bytes of plain path parts.
bool is_under_files_prefix(std::string_view url, std::string_view files_prefix);

// What the check run reads from this machine before it decides.
struct Machine {
    std::string installed_version;  // empty when it could not be read
    std::string files_prefix;
    Policies policies{};
    CalendarDate today{};
    std::uint32_t rollout_wave = 0;  // this machine's wave, for an offer rolled out in waves
    bool program_running = false;    // asked only under the deferral policy; a failed census counts as running
    std::uint32_t local_minute = 0;  // of the day, asked only under quiet hours
};

// Whether the feed alone earns `verdict`, the same on every machine: no
// update entry, a [stop] of the reserve key that is malformed or names the
// offer, a foreign address, the size. The rules of the offer take a present
// [download] for granted. The vendor's tool asks these before publishing.
bool feed_earns(Verdict verdict, const Feed& feed, KeyUsed key_used, std::string_view files_prefix);

// The offer is due (the Download) or refused (the first Verdict in the
// decision's order: the revoked key, updates disabled, the feed's and the
// state's rules, then the maximum version, the rollout, quiet hours and the
// deferral).
std::variant<Download, Verdict> decide_update(KeyUsed key_used, const Feed& feed, const State& state,
                                              const Machine& machine);

}  // namespace tamsel
