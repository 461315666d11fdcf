// A Win32 handle that closes itself: the one owner of it, never copied. One
// template for every kind (kernel handles, WinHTTP handles, WTS memory ...),
// each named below with the function that releases it.
#pragma once
#include <windows.h>
#include <winhttp.h>
#include <wtsapi32.h>

namespace tamsel::win32 {

template <typename Handle, auto close>
class Owned {
public:
    explicit Owned(Handle handle = Handle{}) : handle_(handle) {}
    ~Owned() {
        if (handle_ != Handle{}) close(handle_);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Handle get() const { return handle_; }
    // Where a creating call writes the handle it makes (empty before).
    Handle* put() { return &handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }

private:
    Handle handle_;
};

using OwnedHandle = Owned<HANDLE, &CloseHandle>;
using InternetHandle = Owned<HINTERNET, &WinHttpCloseHandle>;
template <typename T>
using WtsMemory = Owned<T*, &WTSFreeMemory>;

}  // namespace tamsel::win32
