#include "session/raise_close.h"

#include "entry/entry.h"
#include "entry/paths.h"
#include "session/census.h"
#include "session/window_helper.h"

namespace tamsel {
namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

bool program_runs_in(Processes& processes, const std::string& program_path, std::uint32_t session_id) {
    return runs_in_session(find_program_processes(processes, program_path), session_id);
}

// For closing: a census that could not be taken does not show the program gone.
bool program_may_run_in(Processes& processes, const std::string& program_path, std::uint32_t session_id) {
    const auto census = take_census(processes, program_path);
    return !census || runs_in_session(*census, session_id);
}

// Starts the program as the session's user through the shell. Whether it
// comes up is for the window helper to say; false only when nobody is
// logged on to the session (it is then not verified).
bool start_as_session_user(Platform& platform, std::uint32_t session_id, const std::string& program_path, Log& log) {
    auto user = platform.processes.user_token(session_id);
    if (!user) {
        log.write("raise: nobody in the session", session_id);
        return false;
    }
    const auto windows = platform.system.known_folder_path(KnownFolder::windows);
    if (!windows) {
        log.write("raise: start refused", session_id);
        return true;
    }
    const std::string shell = join_path(*windows, "explorer.exe");
    // The raise never waits for the shell: its handle closes right here.
    const bool started = platform.processes.start_as_user(*user, shell, quoted(shell) + " " + quoted(program_path)) != nullptr;
    if (!started) log.write("raise: start refused", session_id);
    return true;
}

}  // namespace

std::unique_ptr<ProcessHandle> start_window_helper(Processes& processes, std::uint32_t session_id,
                                                   const std::string& own_path, std::string_view argument) {
    auto token = processes.duplicate_own_token();
    if (!token) return nullptr;
    if (!processes.set_token_session(*token, session_id)) return nullptr;
    return processes.start_as_user(*token, own_path, quoted(own_path) + " " + std::string(argument));
}

bool raise_program(Platform& platform, const std::vector<std::uint32_t>& sessions, const std::string& program_path,
                   Log& log) {
    std::vector<std::uint32_t> kept;
    for (const std::uint32_t session : sessions) {
        if (program_runs_in(platform.processes, program_path, session) ||
            start_as_session_user(platform, session, program_path, log))
            kept.push_back(session);
    }

    // Every helper starts before the first wait, so the sessions' 60-second
    // looks run side by side rather than one after another.
    const auto own_path = platform.system.own_executable_path();
    std::vector<std::unique_ptr<ProcessHandle>> helpers;
    for (const std::uint32_t session : kept) {
        helpers.push_back(own_path ? start_window_helper(platform.processes, session, *own_path, window_argument)
                                   : nullptr);
    }

    bool all_up = true;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (!helpers[i]) {
            log.write("raise: the window helper did not start", kept[i]);
            all_up = false;
            continue;
        }
        // A helper that times out is left running; only its handle closes.
        const bool confirmed = helpers[i]->wait(helper_wait_ms) == WaitResult::ended &&
                               helpers[i]->exit_code() == std::optional<std::uint32_t>(0);
        helpers[i].reset();
        if (!confirmed) {
            log.write("raise: the program's window did not appear or did not live", kept[i]);
            all_up = false;
        }
    }
    return all_up;
}

bool close_program(Platform& platform, std::uint32_t session_id, const std::string& program_path, Log& log) {
    Processes& processes = platform.processes;
    if (!program_may_run_in(processes, program_path, session_id)) return true;

    const auto own_path = platform.system.own_executable_path();
    const bool asked = own_path && start_window_helper(processes, session_id, *own_path, close_argument) != nullptr;
    if (!asked) {
        log.write("close: the helper did not start", session_id);
    } else {
        log.write("close: asked politely", session_id);
        // Whole seconds, tested every half second: the wait lasts 9 to 10.5 s
        // depending on where in the second it began.
        const std::uint64_t deadline = unix_now(platform.clock) + polite_wait_seconds;
        for (;;) {
            // Before 1970 no deadline can be told; the wait ends when the program does.
            if (wall_clock_reached(platform.clock, deadline)) break;
            if (!program_may_run_in(processes, program_path, session_id)) {
                log.write("close: the program closed by itself", session_id);
                return true;
            }
            platform.clock.sleep_ms(close_poll_ms);
        }
    }

    // Only the instances in this session: other users keep theirs.
    for (const CensusEntry& entry : find_program_processes(processes, program_path)) {
        if (entry.session_id == session_id) processes.terminate(entry.process_id, terminated_exit_code);
    }
    platform.clock.sleep_ms(after_terminate_ms);
    if (program_may_run_in(processes, program_path, session_id)) {
        log.write("close: still running", session_id);
        return false;
    }
    log.write("close: ended", session_id);
    return true;
}

}  // namespace tamsel
