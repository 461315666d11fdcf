// The setup programs kept in the update folder around an installation.
#pragma once
#include <string>

#include "platform/files.h"

namespace tamsel {

inline constexpr const char* installed_setup_name = "installed-setup.exe";
inline constexpr const char* rollback_setup_name = "rollback-setup.exe";
inline constexpr const char* downloaded_setup_name = "downloaded-setup.exe";
inline constexpr const char* partial_setup_name = "downloaded-setup.part";
inline constexpr const char* setup_log_name = "setup.log";
inline constexpr const char* state_file_name = "state.toml";

// Moves installed-setup.exe (when there is one) to rollback-setup.exe; true
// when a rollback copy now exists for this installation.
bool set_aside_installed_setup(Files& files, const std::string& update_dir);

// Puts the rollback copy back as installed-setup.exe when this installation
// made one and nothing has taken its place since.
void restore_rollback_copy(Files& files, const std::string& update_dir, bool rollback_copy);

}  // namespace tamsel
