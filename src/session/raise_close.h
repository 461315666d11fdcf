// Reaching into users' sessions: starting the window helper there, closing
// the main program in one session and starting it again in a list of them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/client_limits.h"
#include "entry/log.h"
#include "platform/platform.h"
#include "session/session_bridge.h"

namespace tamsel {

inline constexpr std::uint32_t terminated_exit_code = 1;

// A copy of the updater, still the system account, moved into the session
// and started with the argument ("/window" or "/close"). nullptr when the
// token work or the process creation failed.
std::unique_ptr<ProcessHandle> start_window_helper(Processes& processes, std::uint32_t session_id,
                                                   const std::string& own_path, std::string_view argument);

// Starts the program as the user of each session where it does not run yet,
// then has a window helper confirm its window in every session kept: up when
// every kept session confirmed (also for an empty list), not up when a
// helper reported the window missing or dying, unwatched when a session
// could not be watched (no helper, a helper ended from outside, the start as
// the user refused, nobody left in any session).
RaiseOutcome raise_program(Platform& platform, const std::vector<std::uint32_t>& sessions,
                           const std::string& program_path, Log& log);

// Closes the program in one session: asked politely, then ended by force.
// True when it no longer runs there.
bool close_program(Platform& platform, std::uint32_t session_id, const std::string& program_path, Log& log);

}  // namespace tamsel
