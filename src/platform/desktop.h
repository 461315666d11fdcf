// Desktop windows: what the window helper needs to find the main program's
// hidden window on its session's desktop, ask it to close and watch it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamsel {

using WindowId = std::uintptr_t;  // an HWND's value; never dereferenced

class Desktop {
public:
    virtual ~Desktop() = default;
    // The top-level windows of the class (any title), in the order
    // FindWindowExW gives them from the desktop, each search starting after
    // the window found before; empty when there is none or the call fails.
    virtual std::vector<WindowId> find_windows(const std::string& class_name) = 0;
    // GetWindowThreadProcessId: the id of the process that made the window;
    // nothing when the window is gone.
    virtual std::optional<std::uint32_t> window_process(WindowId window) = 0;
    // PostMessageW(WM_ENDSESSION, 1, ENDSESSION_CLOSEAPP); false when posting failed.
    virtual bool post_end_session(WindowId window) = 0;
    // IsWindow.
    virtual bool is_window(WindowId window) = 0;
};

}  // namespace tamsel
