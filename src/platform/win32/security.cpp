#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {
namespace {

constexpr DWORD largest_descriptor = 65536;

Sid copy_sid(PSID sid) {
    const auto* bytes = static_cast<const std::uint8_t*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

}  // namespace

std::optional<OwnerAndDacl> read_owner_and_dacl(const void* descriptor) {
    auto* sd = const_cast<void*>(descriptor);
    OwnerAndDacl result;

    PSID owner = nullptr;
    BOOL owner_defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(sd, &owner, &owner_defaulted)) return std::nullopt;
    if (owner != nullptr) result.owner = copy_sid(owner);

    BOOL present = FALSE;
    PACL dacl = nullptr;
    BOOL dacl_defaulted = FALSE;
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &dacl_defaulted)) return std::nullopt;
    // No DACL, or a null one, grants everything to everybody.
    if (!present || dacl == nullptr) return std::nullopt;

    ACL_SIZE_INFORMATION info{};
    if (!GetAclInformation(dacl, &info, sizeof info, AclSizeInformation)) return std::nullopt;

    for (DWORD i = 0; i < info.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return std::nullopt;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        AceEntry entry;
        entry.type = header->AceType;
        std::memcpy(&entry.mask, static_cast<const std::uint8_t*>(ace) + sizeof(ACE_HEADER), sizeof entry.mask);
        if (entry.type == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            entry.trustee = copy_sid(&allowed->SidStart);
        }
        result.entries.push_back(std::move(entry));
    }
    return result;
}

std::optional<OwnerAndDacl> Win32Security::owner_and_dacl(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return std::nullopt;
    constexpr SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    // The first call only learns the size; its own result does not matter.
    DWORD needed = 0;
    GetFileSecurityW(wide->c_str(), wanted, nullptr, 0, &needed);
    if (needed == 0 || needed > largest_descriptor) return std::nullopt;
    // Pointer-aligned so the descriptor's structures may be read in place.
    std::vector<void*> buffer((needed + sizeof(void*) - 1) / sizeof(void*), nullptr);
    if (!GetFileSecurityW(wide->c_str(), wanted, buffer.data(), needed, &needed)) return std::nullopt;
    return read_owner_and_dacl(buffer.data());
}

}  // namespace tamsel::win32
