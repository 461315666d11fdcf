// What the window helper looks for, and its timing.
#pragma once
#include <cstdint>
#include <string_view>

namespace tamsel {

// The class of the main program's hidden top-level window.
inline constexpr std::string_view program_window_class = "Tamsel.Hidden";
// The helper's two arguments.
inline constexpr std::string_view close_argument = "/close";
inline constexpr std::string_view window_argument = "/window";

inline constexpr std::uint64_t window_appear_ms = 60'000;  // to find the window
inline constexpr std::uint64_t window_live_ms = 10'000;    // it must stay alive this long
inline constexpr std::uint32_t window_poll_ms = 250;

}  // namespace tamsel
