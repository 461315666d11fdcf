// The window helper: a copy of the updater started inside a user's session,
// where it can see the main program's hidden window. It reports only through
// its exit code: no log, no mutex, no state, no folder check.
#include "entry/exit_codes.h"
#include "session/window_helper.h"

namespace tamsel {

int close_mode(Platform& platform) {
    const auto window = platform.desktop.find_window(std::string(program_window_class));
    if (!window) return exit_code::close_failed;
    // Posted, not sent: the helper must not hang on a program that is busy.
    return platform.desktop.post_end_session(*window) ? exit_code::done : exit_code::close_failed;
}

int window_mode(Platform& platform) {
    Clock& clock = platform.clock;
    Desktop& desktop = platform.desktop;
    const std::uint64_t started = clock.monotonic_ms();
    std::optional<WindowId> window;
    for (;;) {
        window = desktop.find_window(std::string(program_window_class));
        if (window) break;
        if (clock.monotonic_ms() - started >= window_appear_ms) return exit_code::window_failed;
        clock.sleep_ms(window_poll_ms);
    }
    // The same handle is watched throughout: a program that replaces its
    // window has not kept one alive.
    const std::uint64_t watching = clock.monotonic_ms();
    if (!desktop.is_window(*window)) return exit_code::window_failed;
    for (;;) {
        if (clock.monotonic_ms() - watching >= window_live_ms) return exit_code::done;
        clock.sleep_ms(window_poll_ms);
        if (!desktop.is_window(*window)) return exit_code::window_failed;
    }
}

}  // namespace tamsel
