// A Win32 handle that closes itself: the one owner of it, never copied. One
// template for every kind (kernel handles, WinHTTP handles, WTS memory ...),
// each named below by its traits: the value that means "no handle" and the
// function that releases it.
#pragma once
#include <windows.h>

#include <bcrypt.h>
#include <userenv.h>
#include <winhttp.h>
#include <wtsapi32.h>

namespace tamsel::win32 {

// The traits of a kind whose empty value is null (most of them).
template <typename H, auto release>
struct NullIsEmpty {
    using Handle = H;
    static Handle empty() { return Handle{}; }
    static void close(Handle handle) { release(handle); }
};

// CreateFileW's kind: INVALID_HANDLE_VALUE means none.
struct FileTraits {
    using Handle = HANDLE;
    static Handle empty() { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) { CloseHandle(handle); }
};

// FindFirstFileExW's kind: INVALID_HANDLE_VALUE means none, FindClose ends it.
struct FindTraits {
    using Handle = HANDLE;
    static Handle empty() { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) { FindClose(handle); }
};

template <typename Traits>
class Owned {
public:
    using Handle = typename Traits::Handle;
    explicit Owned(Handle handle = Traits::empty()) : handle_(handle) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Handle get() const { return handle_; }
    // Where a creating call writes the handle it makes (empty before).
    Handle* put() { return &handle_; }
    explicit operator bool() const { return handle_ != Traits::empty(); }
    // Closes the handle now (when there is one) and keeps nothing.
    void reset() {
        if (*this) Traits::close(handle_);
        handle_ = Traits::empty();
    }
    // Hands the handle to a new owner.
    Handle release() {
        const Handle handle = handle_;
        handle_ = Traits::empty();
        return handle;
    }

private:
    Handle handle_;
};

template <typename Handle, auto release>
using OwnedNullable = Owned<NullIsEmpty<Handle, release>>;

using OwnedHandle = OwnedNullable<HANDLE, &CloseHandle>;
using OwnedFile = Owned<FileTraits>;
using OwnedFind = Owned<FindTraits>;
// What the system hands out from its local heap (security descriptors made from SDDL).
using LocalMemory = OwnedNullable<HLOCAL, &LocalFree>;
using BoundaryHandle = OwnedNullable<HANDLE, &DeleteBoundaryDescriptor>;
inline void close_namespace(HANDLE space) { ClosePrivateNamespace(space, 0); }
using NamespaceHandle = OwnedNullable<HANDLE, &close_namespace>;
using InternetHandle = OwnedNullable<HINTERNET, &WinHttpCloseHandle>;
template <typename T>
using WtsMemory = OwnedNullable<T*, &WTSFreeMemory>;
using EnvironmentMemory = OwnedNullable<void*, &DestroyEnvironmentBlock>;
using EventSourceHandle = OwnedNullable<HANDLE, &DeregisterEventSource>;

inline void close_algorithm_provider(BCRYPT_ALG_HANDLE algorithm) { BCryptCloseAlgorithmProvider(algorithm, 0); }
using AlgorithmHandle = OwnedNullable<BCRYPT_ALG_HANDLE, &close_algorithm_provider>;
using HashHandle = OwnedNullable<BCRYPT_HASH_HANDLE, &BCryptDestroyHash>;
using KeyHandle = OwnedNullable<BCRYPT_KEY_HANDLE, &BCryptDestroyKey>;

}  // namespace tamsel::win32
