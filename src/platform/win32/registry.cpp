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

namespace {

std::optional<std::uint32_t> policy_number(const wchar_t* key, const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<std::string> policy_text(const wchar_t* key, const wchar_t* name) {
    const DWORD flags = RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY;
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, flags, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (size == 0 || size > policy_text_limit) return std::nullopt;
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    // A value that grew between the two calls fails here.
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, flags, nullptr, buffer.data(), &got) != ERROR_SUCCESS)
        return std::nullopt;
    buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
    return to_utf8(buffer);
}

}  // namespace

PolicyValue Win32Registry::policy_value(const std::string& name) {
    using Kind = PolicyValue::Kind;
    const auto wide = to_wide(name);
    const auto key = to_wide(std::string(policy_key));
    if (!wide || !key) return {Kind::unreadable};
    // The type first; each type is then read with its own restriction.
    DWORD type = REG_NONE;
    DWORD size = 0;
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, key->c_str(), wide->c_str(),
                                        RRF_RT_ANY | RRF_SUBKEY_WOW6464KEY, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return {Kind::absent};
    if (status != ERROR_SUCCESS) return {Kind::unreadable};
    if (type == REG_DWORD) {
        const auto number = policy_number(key->c_str(), wide->c_str());
        return number ? PolicyValue{Kind::number, *number} : PolicyValue{Kind::unreadable};
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        // A REG_EXPAND_SZ reads as text only where the system expands it.
        if (auto text = policy_text(key->c_str(), wide->c_str())) return {Kind::text, 0, std::move(*text)};
        return {type == REG_SZ ? Kind::unreadable : Kind::other_type};
    }
    return {Kind::other_type};
}

}  // namespace tamsel::win32
