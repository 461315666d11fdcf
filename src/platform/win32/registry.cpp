#include <windows.h>

#include <cwchar>

#include "common/product_names.h"
#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {

std::optional<std::string> Win32Registry::machine_guid() {
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

std::optional<PolicyValue> Win32Registry::policy_value(const std::string& name) {
    const auto wide = to_wide(name);
    const auto key = to_wide(std::string(policy_key));
    if (!wide || !key) return std::nullopt;
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

}  // namespace tamsel::win32
