// Phase two: the updater started again with "/phase2" once the setup program
// has run. It judges the installation, starts the program again and rolls
// back when the new version does not come up.
#pragma once
#include <cstdint>

#include "entry/log.h"
#include "entry/run_context.h"
#include "platform/platform.h"
#include "session/session_bridge.h"

namespace tamsel {

inline constexpr std::uint64_t setup_wait_seconds = 180;
inline constexpr std::uint32_t setup_poll_ms = 500;

// Returns the process exit code, 0 or 5.
int phase_two(const RunContext& context, Log& log, Platform& platform, SessionBridge& bridge);

}  // namespace tamsel
