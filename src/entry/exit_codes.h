#pragma once

namespace tamsel::exit_code {
inline constexpr int done = 0;
// 1 is never used: it is what a crash or the C runtime may leave behind.
inline constexpr int not_system_account = 2;
inline constexpr int another_pass_runs = 3;
inline constexpr int folder_refused = 4;
inline constexpr int state_unusable = 5;
inline constexpr int own_folder_missing = 6;
inline constexpr int close_failed = 7;
inline constexpr int window_failed = 8;
// "/prepare" only: the program folder or the updater in it lets others change them.
inline constexpr int program_folder_open = 9;
// "/selfcheck" only: the build's keys or the system's cryptography are unusable.
inline constexpr int self_check_failed = 10;
}  // namespace tamsel::exit_code
