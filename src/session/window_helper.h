// What the window helper looks for, and its timing.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/client_limits.h"
#include "platform/platform.h"

namespace tamsel {

// The class of the main program's hidden top-level window.
inline constexpr std::string_view program_window_class = "Tamsel.Hidden";


// The first top-level window of the program's class whose process image is
// the program (the census's test); nothing when there is none. Another
// program's window of that class, or one of a Tamsel.exe from another
// folder, is passed over.
std::optional<WindowId> find_program_window(Platform& platform, const std::string& program_path);

// "/close": posts the end-session message to the program's window.
int close_mode(Platform& platform);
// "/window": waits for the program's window and checks that it stays alive.
int window_mode(Platform& platform);

}  // namespace tamsel
