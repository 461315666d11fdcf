// Desktop windows: what the window helper needs to find the main program's
// hidden window on its session's desktop, ask it to close and watch it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace tamsel {

using WindowId = std::uintptr_t;  // an HWND's value; never dereferenced

class Desktop {
public:
    virtual ~Desktop() = default;
    // FindWindowW by class only (no title) among top-level windows; nothing
    // when there is none or the call fails.
    virtual std::optional<WindowId> find_window(const std::string& class_name) = 0;
    // PostMessageW(WM_ENDSESSION, 1, ENDSESSION_CLOSEAPP); false when posting failed.
    virtual bool post_end_session(WindowId window) = 0;
    // IsWindow.
    virtual bool is_window(WindowId window) = 0;
};

}  // namespace tamsel
