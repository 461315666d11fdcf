// The client's fixed values: how much it takes, how long it waits, and where
// on the update host it looks. The product and the vendor's tools read them
// from here, so that what the tools check is what a client does.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tamsel {

// The feed answer is held in memory whole; nothing larger is ever parsed.
inline constexpr std::size_t feed_answer_limit = 262144;
// The largest setup program a client takes, whatever the offer says (16 MiB).
inline constexpr std::uint64_t download_size_limit = 16777216;
// updater.log is rotated before a line would take it past this size.
inline constexpr std::uint64_t log_size_limit = 65536;

// Where a client built for a host looks: https://HOST + these paths.
inline constexpr std::string_view feed_path = "/tamsel/news.toml";
inline constexpr std::string_view files_path = "/tamsel/files/";

// Time-outs of every HTTPS request.
inline constexpr std::uint32_t resolve_timeout_ms = 10000;
inline constexpr std::uint32_t connect_timeout_ms = 10000;
inline constexpr std::uint32_t send_timeout_ms = 20000;
inline constexpr std::uint32_t receive_timeout_ms = 20000;

// Phase two meeting a pass that still runs waits this long at most for it
// (monotonic clock), looking again after each pause.
inline constexpr std::uint64_t exclusion_wait_ms = 600'000;
inline constexpr std::uint32_t exclusion_pause_ms = 500;

// A pass that started a setup keeps the run lock until the setup mutex exists
// or the setup has ended, at most this long (monotonic clock).
inline constexpr std::uint64_t setup_start_wait_ms = 60'000;

// Phase two: how long the setup program may run, and how often it is looked for.
inline constexpr std::uint64_t setup_wait_seconds = 180;
inline constexpr std::uint32_t setup_poll_ms = 500;

// Closing and raising the program in users' sessions.
inline constexpr std::uint32_t helper_wait_ms = 85'000;   // longest wait for one raise helper
inline constexpr std::uint64_t polite_wait_ms = 10'000;    // on the monotonic clock
inline constexpr std::uint32_t close_poll_ms = 500;
inline constexpr std::uint32_t after_terminate_ms = 2'000;

// The window helper.
inline constexpr std::uint64_t window_appear_ms = 60'000;  // to find the window
inline constexpr std::uint64_t window_live_ms = 10'000;    // it must stay alive this long
inline constexpr std::uint32_t window_poll_ms = 250;

}  // namespace tamsel
