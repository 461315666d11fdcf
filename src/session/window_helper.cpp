// The window helper: a copy of the updater started inside a user's session,
// where it can see the main program's hidden window. It reports only through
// its exit code: no log, no mutex, no state, no folder check.
#include "entry/exit_codes.h"
#include "entry/paths.h"
#include "entry/update_folder.h"
#include "session/census.h"
#include "session/window_helper.h"

namespace tamsel {
namespace {

// The helper is the updater's own executable, so the program lies beside
// it, as the entry derives main_exe for a pass.
std::optional<std::string> own_program_path(Folders& folders) {
    const auto own_path = folders.own_executable_path();
    const auto folder = own_path ? parent_folder(*own_path) : std::nullopt;
    if (!folder) return std::nullopt;
    return join_path(*folder, main_exe_name);
}

}  // namespace

std::optional<WindowId> find_program_window(Platform& platform, const std::string& program_path) {
    for (const WindowId window : platform.desktop.find_windows(std::string(program_window_class))) {
        const auto process_id = platform.desktop.window_process(window);
        if (!process_id) continue;  // gone meanwhile
        const auto image = platform.processes.image(*process_id);
        if (image && is_program_image(platform.processes, *image, program_path)) return window;
    }
    return std::nullopt;
}

int close_mode(Platform& platform) {
    const auto program_path = own_program_path(platform.folders);
    if (!program_path) return exit_code::close_failed;
    const auto window = find_program_window(platform, *program_path);
    if (!window) return exit_code::close_failed;
    // Posted, not sent: the helper must not hang on a program that is busy.
    return platform.desktop.post_end_session(*window) ? exit_code::done : exit_code::close_failed;
}

int window_mode(Platform& platform) {
    Clock& clock = platform.clock;
    Desktop& desktop = platform.desktop;
    const std::uint64_t started = clock.monotonic_ms();
    const auto program_path = own_program_path(platform.folders);
    if (!program_path) return exit_code::window_failed;
    std::optional<WindowId> window;
    for (;;) {
        window = find_program_window(platform, *program_path);
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
