// Where the updater keeps its files: the names of the files in the update
// folder (the folders' names are in common/product_names.h), and the paths
// built from them.
// The product and the vendor's tools (the dry run) both read them from here.
#pragma once
#include <string>

#include "common/product_names.h"
#include "entry/paths.h"

namespace tamsel {

inline constexpr const char* main_exe_name = "Tamsel.exe";
inline constexpr const char* state_file_name = "state.toml";
inline constexpr const char* log_file_name = "updater.log";
inline constexpr const char* previous_log_file_name = "updater.log.1";
inline constexpr const char* installed_setup_name = "installed-setup.exe";
inline constexpr const char* rollback_setup_name = "rollback-setup.exe";
inline constexpr const char* downloaded_setup_name = "downloaded-setup.exe";
inline constexpr const char* partial_setup_name = "downloaded-setup.part";
inline constexpr const char* setup_log_name = "setup.log";
// Held open without sharing by the pass that runs; kept between passes.
inline constexpr const char* lock_file_name = "update.lock";

// The paths of the update folder's files.
struct UpdateFolder {
    const std::string& dir;

    std::string state() const { return join_path(dir, state_file_name); }
    std::string log() const { return join_path(dir, log_file_name); }
    std::string previous_log() const { return join_path(dir, previous_log_file_name); }
    std::string installed_setup() const { return join_path(dir, installed_setup_name); }
    std::string rollback_setup() const { return join_path(dir, rollback_setup_name); }
    std::string downloaded_setup() const { return join_path(dir, downloaded_setup_name); }
    std::string partial_setup() const { return join_path(dir, partial_setup_name); }
    std::string setup_log() const { return join_path(dir, setup_log_name); }
    std::string lock_file() const { return join_path(dir, lock_file_name); }
};

}  // namespace tamsel
