#include "update/installer.h"

#include "entry/paths.h"

namespace tamsel {

bool set_aside_installed_setup(Files& files, const std::string& update_dir) {
    const std::string installed = join_path(update_dir, installed_setup_name);
    if (!files.size(installed)) return false;
    return files.replace_file(installed, join_path(update_dir, rollback_setup_name));
}

void restore_rollback_copy(Files& files, const std::string& update_dir, bool rollback_copy) {
    if (!rollback_copy) return;
    const std::string rollback = join_path(update_dir, rollback_setup_name);
    const std::string installed = join_path(update_dir, installed_setup_name);
    if (!files.size(rollback)) return;
    if (files.size(installed)) return;  // something newer is in place: keep the copy aside
    files.replace_file(rollback, installed);
}

}  // namespace tamsel
