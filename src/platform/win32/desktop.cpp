#include <windows.h>

#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {

std::vector<WindowId> Win32Desktop::find_windows(const std::string& class_name) {
    std::vector<WindowId> found;
    const auto wide = to_wide(class_name);
    if (!wide) return found;
    // Bounded: windows made and destroyed while the list is walked must not
    // keep the walk going for ever.
    constexpr std::size_t most = 256;
    HWND window = nullptr;
    while (found.size() < most && (window = FindWindowExW(nullptr, window, wide->c_str(), nullptr)) != nullptr)
        found.push_back(reinterpret_cast<WindowId>(window));
    return found;
}

std::optional<std::uint32_t> Win32Desktop::window_process(WindowId window) {
    DWORD process_id = 0;
    if (GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &process_id) == 0 || process_id == 0)
        return std::nullopt;
    return process_id;
}

bool Win32Desktop::post_end_session(WindowId window) {
    return PostMessageW(reinterpret_cast<HWND>(window), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP) != 0;
}

bool Win32Desktop::is_window(WindowId window) { return IsWindow(reinterpret_cast<HWND>(window)) != 0; }

}  // namespace tamsel::win32
