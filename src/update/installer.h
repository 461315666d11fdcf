// The setup programs kept in the update folder around an installation.
#pragma once
#include <string>

#include "common/product_names.h"
#include "entry/update_folder.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "state/state.h"

namespace tamsel {

// Whether installed-setup.exe is there to be set aside, with nothing in the
// way: a rollback-setup.exe left from an earlier installation is deleted
// first, so that a record claiming the copy can only mean this one.
bool installed_setup_can_be_set_aside(Files& files, const std::string& update_dir);

// Moves installed-setup.exe to rollback-setup.exe (an older one is
// replaced); true when it moved. A rollback-setup.exe is never taken as a
// copy by itself: it may be left over from an installation long settled.
bool set_aside_installed_setup(Files& files, const std::string& update_dir);

inline constexpr const char* setup_flags = "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART /UPDATE";

// The setup program's command line: its path quoted, the flags, and the log
// switch with its path as one quoted argument ("/LOG=C:\x y\setup.log").
std::string setup_command_line(const std::string& setup_path, const std::string& log_path);

// Starts a setup program silently beside the updater (same account and
// session); a failure carries the start's error. It does not wait for the
// setup to end, only until the setup has shown itself: its mutex exists, or
// it has ended already, or setup_start_wait_ms of the monotonic clock have
// passed. The caller holds the run lock until then, so a phase two waiting
// for the lock never finds the mutex missing because the setup has not
// made it yet, and never judges an installation that has not begun.
Result<void> run_setup(Platform& platform, const std::string& setup_path, const std::string& log_path);

// Puts the rollback copy back as installed-setup.exe when this installation
// made one and nothing has taken its place since.
void restore_rollback_copy(Files& files, const std::string& update_dir, bool rollback_copy);

// Ends the files of an installation that did not change the installed
// version: when that is still `from`, the copy is its setup and goes back as
// installed-setup.exe over whatever a setup that did not install left there
// (the next update would set that aside in the copy's place); otherwise as
// restore_rollback_copy.
void keep_setup_of_installed_version(Files& files, const std::string& update_dir, const Pending& pending,
                                     const std::string& installed_version);

}  // namespace tamsel
