// The product's modes, wired over one platform and the one session bridge
// that the check run and phase two share. Portable: the unit tier drives the
// same wiring over its fakes.
#pragma once
#include "entry/entry.h"
#include "platform/platform.h"
#include "session/session_bridge.h"
#include "session/window_helper.h"
#include "update/check_run.h"
#include "update/phase_two.h"
#include "update/status.h"

namespace tamsel::app {

inline Modes product_modes(Platform& platform, SessionBridge& bridge) {
    return Modes{
        [&platform, &bridge](const RunContext& context, Log& log) { return check_run(context, log, platform, bridge); },
        [&platform, &bridge](const RunContext& context, Log& log) { return phase_two(context, log, platform, bridge); },
        [&platform] { return close_mode(platform); },
        [&platform] { return window_mode(platform); },
        [&platform] { return status_mode(platform); },
    };
}

}  // namespace tamsel::app
