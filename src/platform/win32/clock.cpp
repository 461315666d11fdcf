#include <windows.h>

#include "platform/win32/implementations.h"
#include "platform/win32/last_error.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {

std::uint64_t Win32Clock::filetime_now() {
    FILETIME ft{};
    GetSystemTimePreciseAsFileTime(&ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::uint64_t Win32Clock::monotonic_ms() { return GetTickCount64(); }

void Win32Clock::sleep_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }

Result<std::string> Win32Clock::local_date_text(const std::string& picture) {
    const auto wide_picture = to_wide(picture);
    if (!wide_picture) return Failure{};
    wchar_t buffer[32] = {};
    const int n = GetDateFormatEx(L"", 0, nullptr, wide_picture->c_str(), buffer, 32, nullptr);
    if (n <= 0) return last_failure();
    // n counts the terminating zero.
    if (auto text = to_utf8(buffer, static_cast<std::size_t>(n - 1))) return std::move(*text);
    return Failure{};
}

std::uint32_t Win32Clock::local_minute_of_day() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return std::uint32_t{local.wHour} * 60 + local.wMinute;
}

}  // namespace tamsel::win32
