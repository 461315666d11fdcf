#include <windows.h>

#include "platform/win32/implementations.h"

namespace tamsel::win32 {

std::uint64_t Win32Clock::filetime_now() {
    FILETIME ft{};
    GetSystemTimePreciseAsFileTime(&ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::uint64_t Win32Clock::monotonic_ms() { return GetTickCount64(); }

void Win32Clock::sleep_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace tamsel::win32
