// Hooks of the delay-load helper, for the DLLs the product loads on first
// use (cmake/delay-load.cmake).
//
// They are loaded from the system folder only, never from the program's or
// the current folder. And a DLL or function that cannot be had must not end
// the process with the helper's exception in the middle of a step: the call
// fails instead, as the API itself fails (nothing, FALSE or NULL, with
// ERROR_MOD_NOT_FOUND; an error status from bcrypt), and the step handles it
// like any other failure of that call.
#include <windows.h>
#include <delayimp.h>

namespace {

constexpr LONG status_dll_not_found = static_cast<LONG>(0xC0000135L);

// Neither takes arguments: on x64 the caller owns the argument space, so
// either stands in for any signature.
INT_PTR WINAPI unavailable_api() {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

INT_PTR WINAPI unavailable_bcrypt_api() {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return status_dll_not_found;
}

FARPROC WINAPI notify_hook(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary) return nullptr;
    HMODULE module = LoadLibraryExA(info->szDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Not in the system folder: hand the helper a module that exports none
    // of the functions (this program), so every one of them ends in the
    // failure hook below instead of a search elsewhere.
    if (module == nullptr) module = GetModuleHandleW(nullptr);
    return reinterpret_cast<FARPROC>(module);
}

FARPROC WINAPI failure_hook(unsigned notification, PDelayLoadInfo info) {
    if (notification == dliFailLoadLib) return reinterpret_cast<FARPROC>(GetModuleHandleW(nullptr));
    if (notification != dliFailGetProc) return nullptr;
    const bool is_bcrypt = lstrcmpiA(info->szDll, "bcrypt.dll") == 0;
    return reinterpret_cast<FARPROC>(is_bcrypt ? unavailable_bcrypt_api : unavailable_api);
}

}  // namespace

// Read by the helper by name; MSVC's header declares them const.
#if defined(_MSC_VER)
#define TAMSEL_DELAY_HOOK const
#else
#define TAMSEL_DELAY_HOOK
#endif
extern "C" {
TAMSEL_DELAY_HOOK PfnDliHook __pfnDliNotifyHook2 = notify_hook;
TAMSEL_DELAY_HOOK PfnDliHook __pfnDliFailureHook2 = failure_hook;
}
