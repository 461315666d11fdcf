#include "update/owed_raises.h"

#include <algorithm>
#include <map>
#include <set>

#include "entry/update_folder.h"

namespace tamsel {
namespace {

// The session of `where` in which the program runs, if any.
std::optional<std::uint32_t> running_in(const Result<std::vector<std::uint32_t>>& running,
                                        const std::vector<std::uint32_t>& where) {
    if (!running) return std::nullopt;
    for (const std::uint32_t session : where)
        if (std::find(running->begin(), running->end(), session) != running->end()) return session;
    return std::nullopt;
}

}  // namespace

void owe_raises(State& state, SessionBridge& bridge, const std::vector<std::uint32_t>& sessions, std::uint64_t now) {
    for (const std::uint32_t session : sessions) {
        const auto user = bridge.session_user(session);
        if (!user) continue;
        const auto owed = std::find_if(state.raise_owed.begin(), state.raise_owed.end(),
                                       [&](const OwedRaise& o) { return o.user == *user; });
        if (owed != state.raise_owed.end())
            owed->since = now;
        else
            state.raise_owed.push_back(OwedRaise{*user, now});
    }
}

void settle_owed_raises(State& state, SessionBridge& bridge, const std::string& main_exe) {
    if (state.raise_owed.empty()) return;
    const auto running = bridge.program_sessions(main_exe);
    if (!running) return;
    std::set<std::string> users;
    for (const std::uint32_t session : *running)
        if (const auto user = bridge.session_user(session)) users.insert(*user);
    std::erase_if(state.raise_owed, [&](const OwedRaise& owed) { return users.count(owed.user) != 0; });
}

void retry_owed_raises(const RunContext& context, Log& log, State& state, Platform& platform, SessionBridge& bridge) {
    if (state.raise_owed.empty()) return;
    const std::vector<OwedRaise> before = state.raise_owed;
    const std::uint64_t now = unix_now(platform.clock);
    // A `since` in the future (the clock was set back) counts as age 0.
    std::erase_if(state.raise_owed, [&](const OwedRaise& owed) {
        if (now <= owed.since || now - owed.since < raise_owed_seconds) return false;
        log.write("raise owed: given up", 0);
        return true;
    });

    // Where each owed user is logged on now. A census that fails starts
    // nothing: a second instance for a user who has the program is worse
    // than an hour's wait.
    const auto sessions = state.raise_owed.empty() ? Result<std::vector<std::uint32_t>>(Failure{}) : bridge.sessions();
    const auto running = sessions ? bridge.program_sessions(context.main_exe)
                                  : Result<std::vector<std::uint32_t>>(Failure{});
    std::map<std::string, std::vector<std::uint32_t>> logged_on;
    if (running) {
        for (const std::uint32_t session : *sessions)
            if (session != 0)
                if (const auto user = bridge.session_user(session)) logged_on[*user].push_back(session);
    }
    std::erase_if(state.raise_owed, [&](const OwedRaise& owed) {
        const auto where = logged_on.find(owed.user);
        if (where == logged_on.end()) return false;
        auto back = running_in(running, where->second);
        if (!back) {
            // One session is enough: a user logged on twice wants one program.
            bridge.raise_program(context.main_exe, {where->second.front()}, log);
            const std::uint64_t began = platform.clock.monotonic_ms();
            for (;;) {
                back = running_in(bridge.program_sessions(context.main_exe), where->second);
                if (back || platform.clock.monotonic_ms() - began >= owed_look_ms) break;
                platform.clock.sleep_ms(owed_poll_ms);
            }
        }
        if (back) log.write("raise owed: the program runs again", *back);
        return back.has_value();
    });
    if (state.raise_owed != before) write_state(platform.files, state, UpdateFolder{context.update_dir}.state());
}

}  // namespace tamsel
