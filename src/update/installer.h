// The setup programs kept in the update folder around an installation.
#pragma once
#include <string>

#include "entry/update_folder.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace tamsel {

// Moves installed-setup.exe (when there is one) to rollback-setup.exe; true
// when a rollback copy now exists for this installation. Without an
// installed-setup.exe, a rollback-setup.exe left by an interrupted pass is
// kept as the copy.
bool set_aside_installed_setup(Files& files, const std::string& update_dir);

// Whose existence means that a setup program still runs.
inline constexpr const char* setup_mutex_name = "Global\\Tam_Sel.Setup";
inline constexpr const char* setup_flags = "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART /UPDATE";

// The setup program's command line: its path quoted, the flags, and the log
// switch with its path as one quoted argument ("/LOG=C:\x y\setup.log").
std::string setup_command_line(const std::string& setup_path, const std::string& log_path);

// Starts a setup program silently beside the updater (same account and
// session) and does not wait for it; false when it could not be started.
bool run_setup(Processes& processes, const std::string& setup_path, const std::string& log_path);

// Puts the rollback copy back as installed-setup.exe when this installation
// made one and nothing has taken its place since.
void restore_rollback_copy(Files& files, const std::string& update_dir, bool rollback_copy);

}  // namespace tamsel
