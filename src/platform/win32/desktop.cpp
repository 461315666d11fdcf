#include <windows.h>

#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {

std::optional<WindowId> Win32Desktop::find_window(const std::string& class_name) {
    const auto wide = to_wide(class_name);
    if (!wide) return std::nullopt;
    HWND window = FindWindowW(wide->c_str(), nullptr);
    if (window == nullptr) return std::nullopt;
    return reinterpret_cast<WindowId>(window);
}

bool Win32Desktop::post_end_session(WindowId window) {
    return PostMessageW(reinterpret_cast<HWND>(window), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP) != 0;
}

bool Win32Desktop::is_window(WindowId window) { return IsWindow(reinterpret_cast<HWND>(window)) != 0; }

}  // namespace tamsel::win32
