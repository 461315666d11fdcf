// "/status": a read-only report for an administrator on standard output. It
// needs no system account, takes no mutex and writes no file.
#pragma once
#include <string>

#include "entry/run_context.h"
#include "platform/platform.h"

namespace tamsel {

// How many of the log's last lines the report shows.
inline constexpr std::size_t status_log_lines = 20;

// The report's text for the folders of `context`, read as they are now.
std::string status_report(const RunContext& context, Platform& platform);

// The mode: the folders as a pass would find them (6 when they cannot be
// found), the folder guard over both (4, and nothing is read), then the
// report on standard output; 0.
int status_mode(Platform& platform);

}  // namespace tamsel
