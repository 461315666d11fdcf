// Giving the program back: the users whose main program the updater closed
// are owed it until it runs again in one of their sessions. A raise that
// could not start it (the start as the user refused, its user logged off)
// is tried again by every later check run, so a program closed for an
// update is never left closed for good.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "entry/log.h"
#include "entry/run_context.h"
#include "platform/platform.h"
#include "session/session_bridge.h"
#include "state/state.h"

namespace tamsel {

// How long a user is owed the program: a month covers a user's holiday and a
// bad release's replacement arriving, and a user who has left the machine is
// not waited for longer. A retry while the user is not logged on costs one
// listing of the sessions and writes nothing.
inline constexpr std::uint64_t raise_owed_seconds = 30 * 86400;
// After a retried raise, how long the process list is watched for the
// program to appear (a start through the shell takes a moment).
inline constexpr std::uint64_t owed_look_ms = 30'000;
inline constexpr std::uint32_t owed_poll_ms = 500;

// Before the program is closed in `sessions`: their users are owed it from
// `now`. A session whose user cannot be told is left out.
void owe_raises(State& state, SessionBridge& bridge, const std::vector<std::uint32_t>& sessions, std::uint64_t now);

// After a raise: the users in one of whose sessions the program runs are
// owed nothing any more. Nothing changes when the processes cannot be listed.
void settle_owed_raises(State& state, SessionBridge& bridge, const std::string& main_exe);

// Early in each check run, with no installation in flight: for each user
// owed the program and logged on, the program is started again in one of
// their sessions (unless it runs there already); a debt a month old is
// given up. Never a verdict on the version: a program that does not come up
// is simply tried again later. Writes the state when it changed (the write
// is not checked: a debt kept by mistake only costs one more look).
void retry_owed_raises(const RunContext& context, Log& log, State& state, Platform& platform, SessionBridge& bridge);

}  // namespace tamsel
