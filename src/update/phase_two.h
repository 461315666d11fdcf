// Phase two: the updater started again with "/phase2" once the setup program
// has run. It judges the installation, starts the program again and rolls
// back when the new version does not come up.
#pragma once
#include <cstdint>

#include "common/client_limits.h"
#include "entry/log.h"
#include "entry/run_context.h"
#include "platform/platform.h"
#include "session/session_bridge.h"

namespace tamsel {

// Returns the process exit code, 0 or 5.
int phase_two(const RunContext& context, Log& log, Platform& platform, SessionBridge& bridge);

}  // namespace tamsel
