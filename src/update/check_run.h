// The check run: the default mode, from the state file to at most a started
// installation, once a day.
#pragma once
#include "entry/log.h"
#include "entry/run_context.h"
#include "platform/platform.h"
#include "session/session_bridge.h"

namespace tamsel {

// The feed, the signature, the stop order and the update decision; the
// session bridge comes from the composition root. Returns the exit code.
int check_run(const RunContext& context, Log& log, Platform& platform, SessionBridge& bridge);

}  // namespace tamsel
