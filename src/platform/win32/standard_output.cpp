#include <windows.h>

#include <algorithm>

#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {

bool Win32StandardOutput::write_standard_output(const std::string& text) {
    // A GUI-subsystem process has a standard output only when its starter
    // redirected one (a pipe or a file); otherwise it borrows the console of
    // the shell that started it.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
        out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (out == nullptr || out == INVALID_HANDLE_VALUE) {
            out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
            if (out == INVALID_HANDLE_VALUE) return false;
        }
    }
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        // A console takes UTF-16 whatever its code page.
        const auto wide = to_wide(text);
        if (!wide) return false;
        std::size_t done = 0;
        while (done < wide->size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide->size() - done, 8192));
            if (!WriteConsoleW(out, wide->data() + done, chunk, &written, nullptr) || written == 0) return false;
            done += written;
        }
        return true;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 65536));
        if (!WriteFile(out, text.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

}  // namespace tamsel::win32
