// A Win32 handle that closes itself: the one owner of it, never copied. One
// template for every kind (kernel handles, WinHTTP handles, WTS memory ...),
// each named below with the function that releases it.
#pragma once
#include <windows.h>

#include <bcrypt.h>
#include <userenv.h>
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
    // Closes the handle now (when there is one) and keeps nothing.
    void reset() {
        if (handle_ != Handle{}) close(handle_);
        handle_ = Handle{};
    }
    // Hands the handle to a new owner.
    Handle release() {
        const Handle handle = handle_;
        handle_ = Handle{};
        return handle;
    }

private:
    Handle handle_;
};

using OwnedHandle = Owned<HANDLE, &CloseHandle>;
// What the system hands out from its local heap (security descriptors made from SDDL).
using LocalMemory = Owned<HLOCAL, &LocalFree>;
using BoundaryHandle = Owned<HANDLE, &DeleteBoundaryDescriptor>;
inline void close_namespace(HANDLE space) { ClosePrivateNamespace(space, 0); }
using NamespaceHandle = Owned<HANDLE, &close_namespace>;
using InternetHandle = Owned<HINTERNET, &WinHttpCloseHandle>;
template <typename T>
using WtsMemory = Owned<T*, &WTSFreeMemory>;
using EnvironmentMemory = Owned<void*, &DestroyEnvironmentBlock>;
using EventSourceHandle = Owned<HANDLE, &DeregisterEventSource>;

inline void close_algorithm_provider(BCRYPT_ALG_HANDLE algorithm) { BCryptCloseAlgorithmProvider(algorithm, 0); }
using AlgorithmHandle = Owned<BCRYPT_ALG_HANDLE, &close_algorithm_provider>;
using HashHandle = Owned<BCRYPT_HASH_HANDLE, &BCryptDestroyHash>;
using KeyHandle = Owned<BCRYPT_KEY_HANDLE, &BCryptDestroyKey>;

}  // namespace tamsel::win32
