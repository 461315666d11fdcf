#include "update/installation.h"

#include "entry/exit_codes.h"
#include "entry/paths.h"
#include "update/download.h"
#include "update/installer.h"

namespace tamsel {

Settled settle_pending(const RunContext& context, Log& log, State& state, Platform& platform,
                       SessionBridge& bridge) {
    const Pending& pending = *state.pending;
    const std::uint64_t reading = platform.clock.filetime_now();
    const std::uint64_t now = unix_seconds_from_filetime(reading);
    // A `since` in the future (the clock was set back) counts as age 0; a
    // clock before 1970 cannot tell an age at all and never gives up.
    const std::uint64_t age = now > pending.since ? now - pending.since : 0;
    const bool clock_usable = reading >= filetime_unix_epoch;
    if (!clock_usable || age < install_deadline) {
        log.write("an installation is in flight", 0);
        return Settled::in_flight;
    }
    log.write("an installation did not finish", 0);
    bridge.raise_program(context.main_exe, pending.sessions, log);
    restore_rollback_copy(platform.files, context.update_dir, pending.rollback_copy);
    state.pending.reset();
    write_state(platform.files, state, join_path(context.update_dir, state_file_name));
    return Settled::given_up;
}

int start_installation(const RunContext& context, Log& log, State&, const Download& download,
                       const std::string&, Platform& platform, SessionBridge&) {
    const DownloadOutcome outcome =
        download_setup(download, join_path(context.update_dir, downloaded_setup_name),
                       join_path(context.update_dir, partial_setup_name), platform.files, platform.https,
                       platform.crypto);
    log.write(download_message(outcome), 0);
    // Setting the installed setup aside, the pending record, closing the
    // program and running the setup arrive with the installer run. Until then
    // the pass ends here: the verified setup waits in the update folder.
    return exit_code::done;
}

}  // namespace tamsel
