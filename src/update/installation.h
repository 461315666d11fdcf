// The installation side of a check run: settling an installation left by an
// earlier pass, and starting a new one when an update is due.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "entry/log.h"
#include "entry/run_context.h"
#include "feed/feed.h"
#include "platform/platform.h"
#include "session/session_bridge.h"
#include "state/state.h"

namespace tamsel {

// A pending record at least this old is given up.
inline constexpr std::uint64_t install_deadline = 3600;

enum class Settled {
    given_up,   // the record is gone (state written); the pass goes on
    in_flight,  // the pass ends with exit code 0
};

// Called when the state holds a pending record.
Settled settle_pending(const RunContext& context, Log& log, State& state, Platform& platform,
                       SessionBridge& bridge);

// Called when the update is due; returns the pass's exit code (0 or 5).
// With a report prefix, a refused download or setup is reported, and the
// prefix goes into the pending record for phase two.
int start_installation(const RunContext& context, Log& log, State& state, const Download& download,
                       const std::string& installed_version, Platform& platform, SessionBridge& bridge,
                       const std::optional<std::string>& report_prefix = std::nullopt);

}  // namespace tamsel
