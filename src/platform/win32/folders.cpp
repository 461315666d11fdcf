#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>

#include <cwchar>

#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {

std::optional<std::string> Win32Folders::own_executable_path() {
    // Long paths are allowed for, up to the longest NT path (32,767 units).
    for (const DWORD capacity : {DWORD{MAX_PATH}, DWORD{4096}, DWORD{32768}}) {
        std::wstring buffer(capacity, L'\0');
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        if (n == 0) return std::nullopt;
        if (n < capacity) return to_utf8(buffer.data(), n);
    }
    return std::nullopt;
}

std::optional<std::string> Win32Folders::known_folder_path(KnownFolder folder) {
    const KNOWNFOLDERID& id = folder == KnownFolder::program_data ? FOLDERID_ProgramData : FOLDERID_Windows;
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, 0, nullptr, &path);
    std::optional<std::string> result;
    if (SUCCEEDED(hr) && path != nullptr) result = to_utf8(path, wcslen(path));
    CoTaskMemFree(path);  // freed in every case, as the call's contract asks
    return result;
}

}  // namespace tamsel::win32
