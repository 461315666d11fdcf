// Keeping the Windows error of a failed call for the log's number field.
#pragma once
#include <windows.h>

#include <cstdint>

namespace tamsel::win32 {

// Returns a failed call's result, with GetLastError kept in `last_error`.
// Called right where the call failed, before anything can overwrite it.
template <class Result>
Result noted(Result result, std::uint32_t& last_error) {
    last_error = GetLastError();
    return result;
}

}  // namespace tamsel::win32
