#include "session/raise_close.h"

#include "entry/entry.h"
#include "entry/exit_codes.h"
#include "entry/paths.h"
#include "session/census.h"
#include "session/window_helper.h"

namespace tamsel {
namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

bool program_runs_in(Processes& processes, const std::string& program_path, std::uint32_t session_id) {
    return runs_in_session(find_program_processes(processes, program_path), session_id);
}

enum class UserStart {
    started,  // the shell was started as the user: the helper will say whether the program came up
    nobody,   // nobody is logged on: the session is not verified
    refused,  // the start could not be made: nothing to verify, and no verdict on the program
};

// Starts the program as the session's user through the shell.
UserStart start_as_session_user(Platform& platform, std::uint32_t session_id, const std::string& program_path,
                                Log& log) {
    auto user = platform.processes.user_token(session_id);
    if (!user) {
        log.write("raise: nobody in the session", session_id);
        return UserStart::nobody;
    }
    const auto windows = platform.folders.known_folder_path(KnownFolder::windows);
    if (!windows) {
        log.write("raise: start refused", session_id);
        return UserStart::refused;
    }
    const std::string shell = join_path(*windows, "explorer.exe");
    // The user's own environment (profile folders, variables), not the system
    // account's; should it not be made, the program still starts, with ours.
    const auto environment = platform.processes.user_environment(*user);
    // The raise never waits for the shell: its handle closes right here.
    if (!platform.processes.start_as_user(*user, shell, quoted(shell) + " " + quoted(program_path),
                                          environment.get())) {
        log.write("raise: start refused", session_id);
        return UserStart::refused;
    }
    return UserStart::started;
}

}  // namespace

std::unique_ptr<ProcessHandle> start_window_helper(Processes& processes, std::uint32_t session_id,
                                                   const std::string& own_path, std::string_view argument) {
    auto token = processes.duplicate_own_token();
    if (!token) return nullptr;
    if (!processes.set_token_session(*token, session_id)) return nullptr;
    // The helper is the system account's own copy: it keeps our environment.
    return processes.start_as_user(*token, own_path, quoted(own_path) + " " + std::string(argument), nullptr);
}

RaiseOutcome raise_program(Platform& platform, const std::vector<std::uint32_t>& sessions,
                           const std::string& program_path, Log& log) {
    // A session whose start was refused is not watched: a helper there would
    // find an empty desktop and blame the version for what the updater could
    // not do.
    std::vector<std::uint32_t> kept;
    bool refused = false;
    for (const std::uint32_t session : sessions) {
        if (program_runs_in(platform.processes, program_path, session)) {
            kept.push_back(session);
            continue;
        }
        const UserStart start = start_as_session_user(platform, session, program_path, log);
        if (start == UserStart::started) kept.push_back(session);
        refused = refused || start == UserStart::refused;
    }

    // Every helper starts before the first wait, so the sessions' 60-second
    // looks run side by side rather than one after another.
    const auto own_path = platform.folders.own_executable_path();
    std::vector<std::unique_ptr<ProcessHandle>> helpers;
    for (const std::uint32_t session : kept) {
        helpers.push_back(own_path ? start_window_helper(platform.processes, session, *own_path, window_argument)
                                   : nullptr);
    }

    // Sessions whose users all left were not watched at all.
    bool not_up = false;
    bool unwatched = refused || (kept.empty() && !sessions.empty());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (!helpers[i]) {
            log.write("raise: the window helper did not start", kept[i]);
            unwatched = true;
            continue;
        }
        // A helper that times out is left running; only its handle closes.
        const WaitResult waited = helpers[i]->wait(helper_wait_ms);
        const auto code = waited == WaitResult::ended ? helpers[i]->exit_code() : std::nullopt;
        helpers[i].reset();
        if (code == std::optional<std::uint32_t>(0)) continue;
        // Only the helper's own verdict is one on the program. Any other end
        // (its user logged off, a time-out, a code it never gives) means the
        // window was not watched to the end.
        if (code == std::optional<std::uint32_t>(exit_code::window_failed)) {
            log.write("raise: the program's window did not appear or did not live", kept[i]);
            not_up = true;
        } else {
            log.write("raise: the window helper gave no verdict", kept[i]);
            unwatched = true;
        }
    }
    if (not_up) return RaiseOutcome::not_up;
    return unwatched ? RaiseOutcome::unwatched : RaiseOutcome::up;
}

bool close_program(Platform& platform, std::uint32_t session_id, const std::string& program_path, Log& log) {
    Processes& processes = platform.processes;
    if (!program_may_run_in(processes, program_path, session_id)) return true;

    const auto own_path = platform.folders.own_executable_path();
    const bool asked = own_path && start_window_helper(processes, session_id, *own_path, close_argument) != nullptr;
    if (!asked) {
        log.write("close: the helper did not start", session_id);
    } else {
        log.write("close: asked politely", session_id);
        // Measured on the monotonic clock: a wall clock set at boot (when the
        // task often runs) or reading before 1970 neither stretches nor cuts
        // it, and a census that keeps failing cannot hold the close for ever.
        const std::uint64_t began = platform.clock.monotonic_ms();
        while (platform.clock.monotonic_ms() - began < polite_wait_ms) {
            if (!program_may_run_in(processes, program_path, session_id)) {
                log.write("close: the program closed by itself", session_id);
                return true;
            }
            platform.clock.sleep_ms(close_poll_ms);
        }
    }

    // Only the instances in this session: other users keep theirs. Each is
    // opened once, checked and ended through that one handle: an id freed at
    // the deadline and reused meanwhile names a stranger's process, which an
    // end by id would kill as the system account.
    if (const auto listed = processes.enumerate()) {
        for (const ProcessEntry& entry : *listed) {
            if (entry.session_id != session_id || !has_program_name(entry)) continue;
            const auto process = processes.open_process(entry.process_id);
            if (!process) continue;
            const auto image = process->image();
            if (image && is_program_image(processes, *image, program_path)) process->terminate(terminated_exit_code);
        }
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
