#include "update/installation.h"

#include "entry/exit_codes.h"
#include "entry/paths.h"
#include "update/download.h"
#include "update/installer.h"
#include "update/report.h"
#include "update/version.h"

namespace tamsel {
namespace {

// Ends an installation that will not go ahead: the record goes, the
// previous setup program returns to its place. The write is not checked:
// the next pass reads whatever the file then holds.
void abandon(const RunContext& context, State& state, Files& files, bool rollback_copy) {
    state.pending.reset();
    restore_rollback_copy(files, context.update_dir, rollback_copy);
    write_state(files, state, UpdateFolder{context.update_dir}.state());
}

}  // namespace

Settled settle_pending(const RunContext& context, Log& log, State& state, Platform& platform,
                       SessionBridge& bridge) {
    Pending& pending = *state.pending;
    const std::uint64_t reading = platform.clock.filetime_now();
    const std::uint64_t now = unix_seconds_from_filetime(reading);
    // A `since` in the future (the clock was set back) counts as age 0; a
    // clock before 1970 cannot tell an age at all and never gives up.
    const std::uint64_t age = now > pending.since ? now - pending.since : 0;
    const bool clock_usable = reading >= filetime_unix_epoch;
    if (!clock_usable || age < install_deadline) {
        log.write("an installation is in flight", 0);
        // A `since` further ahead than one deadline is not a clock set back a
        // little but a clock that ran fast or a damaged record: counted from
        // now, it is given up within the hour instead of blocking every
        // update until the clock catches up.
        if (clock_usable && pending.since > now + install_deadline) {
            pending.since = now;
            write_state(platform.files, state, UpdateFolder{context.update_dir}.state());
        }
        return Settled::in_flight;
    }
    log.write("an installation did not finish", 0);
    bridge.raise_program(context.main_exe, pending.sessions, log);
    // A setup that left itself behind and never reached phase two must not
    // cost the installed version its setup, as in phase two.
    const std::string installed = installed_version_text(platform.version_info, context.main_exe).value_or("");
    keep_setup_of_installed_version(platform.files, context.update_dir, pending, installed);
    state.pending.reset();
    write_state(platform.files, state, UpdateFolder{context.update_dir}.state());
    return Settled::given_up;
}

int start_installation(const RunContext& context, Log& log, State& state, const Download& download,
                       const std::string& installed_version, Platform& platform, SessionBridge& bridge,
                       const std::optional<std::string>& report_prefix) {
    Files& files = platform.files;
    const std::string setup_path = UpdateFolder{context.update_dir}.downloaded_setup();
    const DownloadResult downloaded = download_setup(download, setup_path,
                                                     UpdateFolder{context.update_dir}.partial_setup(), files,
                                                     platform.https, platform.crypto);
    log.write(download_message(outcome_of(downloaded)), downloaded.cause());
    if (!downloaded) {
        // Only what the release itself got wrong: the network and the disk are this machine's.
        const DownloadOutcome outcome = outcome_of(downloaded);
        if (outcome == DownloadOutcome::size_differs || outcome == DownloadOutcome::sha256_differs)
            send_report(platform.https, log, report_prefix, ReportOutcome::download_refused, installed_version,
                        download.version);
        return exit_code::done;
    }

    Pending pending;
    pending.version = download.version;
    pending.from = installed_version;
    const auto sessions = bridge.program_sessions(context.main_exe);
    if (!sessions) {
        // Where the program runs is unknown. Closing it nowhere would let the
        // setup run over a running program, which it cannot replace. The
        // number is why the process list could not be read.
        log.write("the program could not be closed: nothing installed", sessions.cause());
        return exit_code::done;
    }
    pending.sessions = *sessions;
    // The record claims the copy before installed-setup.exe is moved aside:
    // cut short in between, the record still owns the file wherever it lies,
    // and a rollback-setup.exe this pass did not move is never taken for one.
    pending.rollback_copy = installed_setup_can_be_set_aside(files, context.update_dir);
    pending.rolling_back = false;
    pending.since = unix_now(platform.clock);
    pending.report_prefix = report_prefix;
    state.pending = pending;
    const std::string state_path = UpdateFolder{context.update_dir}.state();
    if (const auto written = write_state(files, state, state_path); !written) {
        log.write("state not written", written.cause());
        return exit_code::state_unusable;
    }
    if (pending.rollback_copy && !set_aside_installed_setup(files, context.update_dir)) {
        // Not moved: whatever lies as rollback-setup.exe is not this installation's.
        pending.rollback_copy = false;
        state.pending = pending;
        if (const auto written = write_state(files, state, state_path); !written) {
            log.write("state not written", written.cause());
            return exit_code::state_unusable;
        }
    }
    const bool rollback_copy = pending.rollback_copy;

    for (const std::uint32_t session : pending.sessions) {
        if (bridge.close_program(context.main_exe, session, log)) continue;
        log.write("the program could not be closed: nothing installed", 0);
        state.pending.reset();
        bridge.raise_program(context.main_exe, pending.sessions, log);
        abandon(context, state, files, rollback_copy);
        return exit_code::done;
    }

    if (const auto started = run_setup(platform, setup_path, UpdateFolder{context.update_dir}.setup_log()); !started) {
        log.write("setup not started", started.cause());
        // The program was closed for a setup that never ran: the users get it back.
        bridge.raise_program(context.main_exe, pending.sessions, log);
        abandon(context, state, files, rollback_copy);
        send_report(platform.https, log, report_prefix, ReportOutcome::not_started, installed_version,
                    download.version);
        return exit_code::done;
    }
    log.write("setup started", 0);
    return exit_code::done;
}

}  // namespace tamsel
