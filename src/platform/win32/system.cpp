#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>

#include "common/product_names.h"
#include "platform/win32/implementations.h"
#include "platform/win32/last_error.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {

std::optional<std::string> Win32System::own_executable_path() {
    // Long paths are allowed for, up to the longest NT path (32,767 units).
    for (const DWORD capacity : {DWORD{MAX_PATH}, DWORD{4096}, DWORD{32768}}) {
        std::wstring buffer(capacity, L'\0');
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        if (n == 0) return std::nullopt;
        if (n < capacity) return to_utf8(buffer.data(), n);
    }
    return std::nullopt;
}

std::optional<std::string> Win32System::known_folder_path(KnownFolder folder) {
    const KNOWNFOLDERID& id = folder == KnownFolder::program_data ? FOLDERID_ProgramData : FOLDERID_Windows;
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, 0, nullptr, &path);
    std::optional<std::string> result;
    if (SUCCEEDED(hr) && path != nullptr) result = to_utf8(path, wcslen(path));
    CoTaskMemFree(path);  // freed in every case, as the call's contract asks
    return result;
}

MutexCreation Win32System::create_owned_mutex(const std::string& name) {
    const auto wide = to_wide(name);
    if (!wide) return MutexCreation::failed;
    HANDLE h = CreateMutexW(nullptr, TRUE, wide->c_str());
    const DWORD error = GetLastError();
    if (h == nullptr) return MutexCreation::failed;
    if (error == ERROR_ALREADY_EXISTS) {
        const OwnedHandle theirs(h);
        return MutexCreation::already_exists;
    }
    // The handle is kept on purpose: the system frees the mutex when the
    // process ends, so a crashed pass never blocks the next one.
    return MutexCreation::created;
}

namespace {

class HeldPrivateMutex final : public HeldObject {
public:
    HeldPrivateMutex(NamespaceHandle& space, OwnedHandle& mutex) : space_(space.release()), mutex_(mutex.release()) {}

private:
    // Members end in reverse order: the mutex before the namespace it lives in.
    NamespaceHandle space_;
    OwnedHandle mutex_;
};

// The namespace whose boundary only a process of the system account at the
// system integrity level can satisfy; opened when another pass made it first.
HANDLE system_namespace(const std::wstring& name) {
    BoundaryHandle boundary(CreateBoundaryDescriptorW(name.c_str(), 0));
    if (!boundary) return nullptr;  // Wine has no private namespaces
    BYTE system_sid[SECURITY_MAX_SID_SIZE] = {};
    BYTE system_label[SECURITY_MAX_SID_SIZE] = {};
    DWORD sid_size = sizeof system_sid;
    DWORD label_size = sizeof system_label;
    LocalMemory descriptor;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_sid, &sid_size) ||
        !AddSIDToBoundaryDescriptor(boundary.put(), system_sid) ||
        !CreateWellKnownSid(WinSystemLabelSid, nullptr, system_label, &label_size) ||
        !AddIntegrityLabelToBoundaryDescriptor(boundary.put(), system_label) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)", SDDL_REVISION_1, descriptor.put(),
                                                              nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    HANDLE space = CreatePrivateNamespaceW(&attributes, boundary.get(), name.c_str());
    if (space == nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        space = OpenPrivateNamespaceW(boundary.get(), name.c_str());
    return space;
}

}  // namespace

PrivateMutex Win32System::take_private_mutex(const std::string& namespace_name, const std::string& mutex_name,
                                             std::unique_ptr<HeldObject>& held) {
    held.reset();
    const auto wide_space = to_wide(namespace_name);
    const auto wide_mutex = to_wide(namespace_name + "\\" + mutex_name);
    if (!wide_space || !wide_mutex) return PrivateMutex::unavailable;
    NamespaceHandle space(system_namespace(*wide_space));
    if (!space) return PrivateMutex::unavailable;
    OwnedHandle mutex(CreateMutexW(nullptr, TRUE, wide_mutex->c_str()));
    const DWORD error = GetLastError();
    if (!mutex) return PrivateMutex::unavailable;
    if (error == ERROR_ALREADY_EXISTS) return PrivateMutex::busy;
    held = std::make_unique<HeldPrivateMutex>(space, mutex);
    return PrivateMutex::taken;
}

bool Win32System::mutex_exists(const std::string& name) {
    const auto wide = to_wide(name);
    if (!wide) return false;
    const OwnedHandle h(OpenMutexW(SYNCHRONIZE, FALSE, wide->c_str()));
    return static_cast<bool>(h);
}

std::optional<std::string> Win32System::local_date_text(const std::string& picture) {
    const auto wide_picture = to_wide(picture);
    if (!wide_picture) return std::nullopt;
    wchar_t buffer[32] = {};
    const int n = GetDateFormatEx(L"", 0, nullptr, wide_picture->c_str(), buffer, 32, nullptr);
    if (n <= 0) return noted(std::nullopt, last_error_);
    return to_utf8(buffer, static_cast<std::size_t>(n - 1));  // n counts the terminating zero
}

std::optional<std::vector<std::uint8_t>> Win32System::file_version_info(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return std::nullopt;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(wide->c_str(), &ignored);
    // No version resource, or one too large to be a real one.
    if (size == 0 || size > 0x100000) return std::nullopt;
    std::vector<std::uint8_t> data(size, 0);
    if (!GetFileVersionInfoW(wide->c_str(), 0, size, data.data())) return std::nullopt;
    return data;
}

std::optional<std::string> Win32System::machine_guid() {
    // A GUID is 36 characters; the room is generous, a longer value is refused.
    wchar_t buffer[128] = {};
    DWORD size = sizeof(buffer);
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                                        RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, buffer, &size);
    if (status != ERROR_SUCCESS || size < sizeof(wchar_t)) return std::nullopt;
    // size counts bytes with the terminating zero, which RegGetValueW ensures.
    const std::size_t length = size / sizeof(wchar_t) - 1;
    if (length == 0) return std::nullopt;
    return to_utf8(buffer, length);
}

namespace {

#ifndef RRF_SUBKEY_WOW6464KEY
#define RRF_SUBKEY_WOW6464KEY 0x00010000
#endif

// Longer texts are no host:port and no version; refusing them bounds the read.
constexpr DWORD policy_text_limit = 4096;

}  // namespace

std::optional<PolicyValue> Win32System::policy_value(const std::string& name) {
    const auto wide = to_wide(name);
    const auto key = to_wide(std::string(policy_key));
    if (!wide || !key) return std::nullopt;
    // The 64-bit view whatever the build: administrators' tools write there.
    // The type as stored: an expandable text stays REG_EXPAND_SZ.
    DWORD type = 0;
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key->c_str(), wide->c_str(), RRF_RT_ANY | RRF_NOEXPAND | RRF_SUBKEY_WOW6464KEY,
                     &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    PolicyValue value;
    value.type = type;
    if (type == REG_DWORD) {
        DWORD number = 0;
        DWORD got = sizeof number;
        // Gone or changed in between: as if absent.
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key->c_str(), wide->c_str(), RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY,
                         nullptr, &number, &got) != ERROR_SUCCESS)
            return std::nullopt;
        value.number = number;
    }
    if (type != REG_SZ || size == 0 || size > policy_text_limit) return value;
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    // A value that grew between the two calls fails here and has no text.
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key->c_str(), wide->c_str(), RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr,
                     buffer.data(), &got) != ERROR_SUCCESS)
        return value;
    buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
    value.text = to_utf8(buffer);
    return value;
}

bool Win32System::write_standard_output(const std::string& text) {
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
