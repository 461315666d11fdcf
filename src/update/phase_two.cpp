#include "update/phase_two.h"

#include "entry/exit_codes.h"
#include "entry/paths.h"
#include "state/state.h"
#include "update/installer.h"
#include "update/report.h"
#include "update/version.h"

namespace tamsel {
namespace {

// Waits until the setup mutex is gone, at most 180 s; the mutex is only
// tested for existence, never held or waited on. Measured on the monotonic
// clock: phase two often runs at boot, when the wall clock may be set.
void wait_for_setup(Platform& platform, Log& log) {
    const std::uint64_t started = platform.clock.monotonic_ms();
    while (platform.mutexes.mutex_exists(setup_mutex_name)) {
        if (platform.clock.monotonic_ms() - started >= setup_wait_seconds * 1000) {
            log.write("phase two: the installer did not end", 0);
            return;
        }
        platform.clock.sleep_ms(setup_poll_ms);
    }
}

}  // namespace

int phase_two(const RunContext& context, Log& log, Platform& platform, SessionBridge& bridge) {
    Files& files = platform.files;
    const UpdateFolder folder{context.update_dir};
    wait_for_setup(platform, log);

    const std::string state_path = folder.state();
    auto read = read_state(files, state_path);
    if (!read) {
        log.write("state unreadable", read.cause());
        return exit_code::state_unusable;
    }
    State state = std::move(*read);
    if (!state.pending) {
        log.write("phase two: nothing in flight", 0);
        return exit_code::done;
    }
    const Pending pending = *state.pending;
    const std::string installed = installed_version_text(platform.version_info, context.main_exe).value_or("");
    files.remove(folder.downloaded_setup());  // a failure is ignored

    // Every way out below but the rollback's start ends the installation:
    // the record goes, and the write is not checked (a record left behind
    // is given up by a later check run).
    const auto settle = [&] {
        state.pending.reset();
        write_state(files, state, state_path);
        return exit_code::done;
    };
    // After the state is written: a report never holds up the installation.
    const auto settle_and_report = [&](ReportOutcome outcome) {
        settle();
        send_report_of(pending, outcome, context, log, platform);
        return exit_code::done;
    };

    if (pending.rolling_back) {
        bridge.raise_program(context.main_exe, pending.sessions, log);
        if (is_installed_version(pending.from, installed)) {
            log.write("rolled back", 0);
            files.remove(folder.rollback_setup());
        } else {
            log.write("rollback did not restore the version", 0);
        }
        return settle();
    }

    if (!is_installed_version(pending.version, installed)) {
        log.write("setup did not install", 0);
        bridge.raise_program(context.main_exe, pending.sessions, log);
        keep_setup_of_installed_version(files, context.update_dir, pending, installed);
        return settle_and_report(ReportOutcome::not_installed);
    }

    // A raise that could not watch the program is no verdict against the
    // version: only a helper's report of a missing or dying window is.
    if (bridge.raise_program(context.main_exe, pending.sessions, log) != RaiseOutcome::not_up) {
        log.write("updated", 0);
        files.remove(folder.rollback_setup());
        return settle_and_report(ReportOutcome::updated);
    }

    // Installed but not up: never install this version here again.
    add_failed(state, pending.version);
    const std::string rollback_path = folder.rollback_setup();
    if (!pending.rollback_copy || !files.size(rollback_path)) {
        log.write("did not start, and there is no copy to roll back to", 0);
        return settle();
    }
    for (const std::uint32_t session : pending.sessions) bridge.close_program(context.main_exe, session, log);
    Pending rollback = pending;
    rollback.since = unix_now(platform.clock);
    rollback.rollback_copy = true;
    rollback.rolling_back = true;
    state.pending = rollback;
    if (const auto written = write_state(files, state, state_path); !written) {
        log.write("state not written", written.cause());
        // No rollback follows: the new version, failing or not, is what the
        // users have, and it was closed just above.
        bridge.raise_program(context.main_exe, pending.sessions, log);
        return exit_code::state_unusable;
    }
    const auto started = run_setup(platform, rollback_path, folder.setup_log());
    if (started) {
        log.write("did not start: rollback started", 0);
        send_report_of(pending, ReportOutcome::rolled_back, context, log, platform);
        return exit_code::done;
    }
    log.write("did not start: rollback not started", started.cause());
    bridge.raise_program(context.main_exe, pending.sessions, log);
    return settle();
}

}  // namespace tamsel
