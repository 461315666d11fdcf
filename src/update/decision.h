// The two rules between a verified feed and an installation: taking in the
// reserve key's stop order, and deciding whether the offered version is due.
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

namespace tamsel {

// The verdicts that refuse an offer, in the order of their codes.
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
};

LogMessage verdict_message(Verdict verdict);

inline constexpr std::size_t address_tail_limit = 200;

// Applies a stop order of a reserve-key feed to the state; true when the
// state changed.
bool take_in_stop_order(State& state, const Feed& feed, KeyUsed key_used);

// Whether `url` names a file under the files prefix: the prefix byte for
// byte, then 1 to 200 bytes of plain path parts.
bool is_under_files_prefix(std::string_view url, std::string_view files_prefix);

// The offer is due (the Download) or refused (a Verdict).
std::variant<Download, Verdict> decide_update(KeyUsed key_used, const Feed& feed, const State& state,
                                              std::string_view installed_version, std::string_view files_prefix);

}  // namespace tamsel
