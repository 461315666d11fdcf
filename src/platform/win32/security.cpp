#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <vector>

#include "platform/win32/implementations.h"
#include "platform/win32/last_error.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {
namespace {

constexpr DWORD largest_descriptor = 65536;

Sid copy_sid(PSID sid) {
    const auto* bytes = static_cast<const std::uint8_t*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

bool kit_descriptor(LocalMemory& descriptor) {
    const auto wide = to_wide(kit_descriptor_sddl);
    return wide && ConvertStringSecurityDescriptorToSecurityDescriptorW(wide->c_str(), SDDL_REVISION_1,
                                                                        descriptor.put(), nullptr);
}

class Win32SecuredEntry final : public SecuredEntry {
public:
    explicit Win32SecuredEntry(HANDLE handle) : handle_(handle) {}

    std::uint32_t attributes() override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(handle_.get(), &info)) return invalid_file_attributes;
        return info.dwFileAttributes;
    }
    std::optional<OwnerAndDacl> owner_and_dacl() override {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const DWORD status = GetSecurityInfo(handle_.get(), SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                             nullptr, nullptr, &descriptor);
        if (status != ERROR_SUCCESS) return std::nullopt;
        const LocalMemory held(descriptor);
        return read_owner_and_dacl(descriptor);
    }
    Result<void> protect() override {
        LocalMemory descriptor;
        if (!kit_descriptor(descriptor)) return last_failure();
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL defaulted = FALSE;
        BOOL present = FALSE;
        if (!GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) ||
            !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted))
            return last_failure();
        // One call: owner and DACL change together, and the protected flag
        // drops whatever the entry inherited from above.
        const DWORD status = SetSecurityInfo(
                handle_.get(), SE_FILE_OBJECT,
                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner,
                nullptr, dacl, nullptr);
        if (status != ERROR_SUCCESS) return Failure{status};
        return {};
    }

private:
    OwnedFile handle_;
};

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

Result<OwnerAndDacl> Win32Security::owner_and_dacl(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return Failure{};
    constexpr SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    // The first call only learns the size; its error is the cause when no
    // size comes of it (5 from a prompt that is not elevated).
    DWORD needed = 0;
    Failure first{};
    if (!GetFileSecurityW(wide->c_str(), wanted, nullptr, 0, &needed)) first = last_failure();
    if (needed == 0 || needed > largest_descriptor) return first;
    // Pointer-aligned so the descriptor's structures may be read in place.
    std::vector<void*> buffer((needed + sizeof(void*) - 1) / sizeof(void*), nullptr);
    if (!GetFileSecurityW(wide->c_str(), wanted, buffer.data(), needed, &needed)) return last_failure();
    if (auto read = read_owner_and_dacl(buffer.data())) return std::move(*read);
    return first;
}

Result<FolderCreation> Win32Security::create_protected_folder(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return Failure{};
    LocalMemory descriptor;
    if (!kit_descriptor(descriptor)) return last_failure();
    // Given at creation: there is no moment in which the folder inherits
    // ProgramData's entries, which let every user create inside.
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    if (CreateDirectoryW(wide->c_str(), &attributes)) return FolderCreation::created;
    const Failure failure = last_failure();
    if (failure.cause == ERROR_ALREADY_EXISTS) return FolderCreation::exists;
    return failure;
}

Result<std::unique_ptr<SecuredEntry>> Win32Security::open_entry(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return Failure{};
    // No data access: the handle meets no sharing violation, and a file held
    // open by another process can still be judged.
    HANDLE h = CreateFileW(wide->c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_failure();
    return std::unique_ptr<SecuredEntry>(std::make_unique<Win32SecuredEntry>(h));
}

}  // namespace tamsel::win32
