// The four modes the entry hands over to. Each returns the process exit code.
#pragma once
#include "entry/log.h"
#include "entry/run_context.h"
#include "platform/platform.h"

namespace tamsel {

int check_run(const RunContext& context, Log& log, Platform& platform);
int phase_two(const RunContext& context, Log& log, Platform& platform);
int close_mode(Platform& platform);
int window_mode(Platform& platform);

}  // namespace tamsel
