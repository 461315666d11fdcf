#include "update/installer.h"

#include "entry/paths.h"

namespace tamsel {

bool set_aside_installed_setup(Files& files, const std::string& update_dir) {
    const std::string installed = UpdateFolder{update_dir}.installed_setup();
    const std::string rollback = UpdateFolder{update_dir}.rollback_setup();
    // No installed-setup.exe but a rollback copy: an earlier pass set it aside
    // and was cut short before its record was written, or could not put it
    // back. It is the installed version's setup; left unowned it would be lost
    // to the very installation that may need it.
    if (!files.size(installed)) return files.size(rollback).has_value();
    return files.replace_file(installed, rollback);
}

std::string setup_command_line(const std::string& setup_path, const std::string& log_path) {
    // Paths go in as they are: Windows paths cannot hold a double quote.
    return "\"" + setup_path + "\" " + setup_flags + " \"/LOG=" + log_path + "\"";
}

bool run_setup(Processes& processes, const std::string& setup_path, const std::string& log_path) {
    // Both handles close at once: the updater never waits for the setup.
    return processes.start(setup_path, setup_command_line(setup_path, log_path)) != nullptr;
}

void restore_rollback_copy(Files& files, const std::string& update_dir, bool rollback_copy) {
    if (!rollback_copy) return;
    const std::string rollback = UpdateFolder{update_dir}.rollback_setup();
    const std::string installed = UpdateFolder{update_dir}.installed_setup();
    if (!files.size(rollback)) return;
    if (files.size(installed)) return;  // something newer is in place: keep the copy aside
    files.replace_file(rollback, installed);
}

}  // namespace tamsel
