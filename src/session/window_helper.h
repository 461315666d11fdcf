// What the window helper looks for, and its timing.
#pragma once
#include <cstdint>
#include <string_view>

#include "common/client_limits.h"
#include "platform/platform.h"

namespace tamsel {

// The class of the main program's hidden top-level window.
inline constexpr std::string_view program_window_class = "Tamsel.Hidden";


// "/close": posts the end-session message to the program's window.
int close_mode(Platform& platform);
// "/window": waits for the program's window and checks that it stays alive.
int window_mode(Platform& platform);

}  // namespace tamsel
