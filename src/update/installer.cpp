#include "update/installer.h"

#include "common/client_limits.h"
#include "entry/paths.h"
#include "update/version.h"

namespace tamsel {

bool installed_setup_can_be_set_aside(Files& files, const std::string& update_dir) {
    if (!files.size(UpdateFolder{update_dir}.installed_setup())) return false;
    const std::string rollback = UpdateFolder{update_dir}.rollback_setup();
    return !files.size(rollback) || files.remove(rollback).ok();
}

bool set_aside_installed_setup(Files& files, const std::string& update_dir) {
    return files.replace_file(UpdateFolder{update_dir}.installed_setup(), UpdateFolder{update_dir}.rollback_setup())
            .ok();
}

std::string setup_command_line(const std::string& setup_path, const std::string& log_path) {
    // Paths go in as they are: Windows paths cannot hold a double quote.
    return "\"" + setup_path + "\" " + setup_flags + " \"/LOG=" + log_path + "\"";
}

Result<void> run_setup(Platform& platform, const std::string& setup_path, const std::string& log_path) {
    const auto setup = platform.processes.start(setup_path, setup_command_line(setup_path, log_path));
    if (!setup) return setup.error();
    // The wait for the process doubles as the pause between two looks; one
    // that cannot be waited on is not waited for.
    const std::uint64_t began = platform.clock.monotonic_ms();
    while (!platform.mutexes.mutex_exists(setup_mutex_name) &&
           platform.clock.monotonic_ms() - began < setup_start_wait_ms &&
           (*setup)->wait(setup_poll_ms) == WaitResult::timed_out) {}
    return {};
}

void restore_rollback_copy(Files& files, const std::string& update_dir, bool rollback_copy) {
    if (!rollback_copy) return;
    const std::string rollback = UpdateFolder{update_dir}.rollback_setup();
    const std::string installed = UpdateFolder{update_dir}.installed_setup();
    if (!files.size(rollback)) return;
    if (files.size(installed)) return;  // something newer is in place: keep the copy aside
    files.replace_file(rollback, installed);
}

void keep_setup_of_installed_version(Files& files, const std::string& update_dir, const Pending& pending,
                                     const std::string& installed_version) {
    if (!pending.rollback_copy || !is_installed_version(pending.from, installed_version)) {
        restore_rollback_copy(files, update_dir, pending.rollback_copy);
        return;
    }
    // A copy that is gone fails the move, which leaves everything as it is.
    files.replace_file(UpdateFolder{update_dir}.rollback_setup(), UpdateFolder{update_dir}.installed_setup());
}

}  // namespace tamsel
