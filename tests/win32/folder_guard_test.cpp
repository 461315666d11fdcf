// The folder guard's walk over real security descriptors, built from SDDL
// with the platform's own converter, and over real folders.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "entry/folder_guard.h"
#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel {
namespace {

struct SddlCase {
    const char* name;
    const wchar_t* sddl;
    bool accepted;
};

// Builds the descriptor, reads it back through the same accessors the
// product uses, and judges it with the Win32 SID tests.
std::optional<bool> verdict_for(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        return std::nullopt;
    win32::Win32Account account;
    const auto read = win32::read_owner_and_dacl(sd);
    LocalFree(sd);
    if (!read) return false;
    const bool owner_trusted =
        read->owner && (account.is_well_known(*read->owner, WellKnownSid::local_system) ||
                        account.is_well_known(*read->owner, WellKnownSid::administrators));
    return guard_verdict(owner_trusted, grants_of(read->entries, account));
}

class GuardOnSddl : public ::testing::TestWithParam<SddlCase> {};

TEST_P(GuardOnSddl, GivesTheExpectedVerdict) {
    const auto verdict = verdict_for(GetParam().sddl);
    ASSERT_TRUE(verdict.has_value()) << "SDDL did not convert";
    EXPECT_EQ(*verdict, GetParam().accepted);
}

// SY = SYSTEM, BA = Administrators, BU = Users, WD = Everyone, CO = CREATOR
// OWNER; FA = full control, 0x1200a9 = read and execute.
INSTANTIATE_TEST_SUITE_P(
    Descriptors, GuardOnSddl,
    ::testing::Values(
        SddlCase{"AdminsOwnUsersReadExecute", L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", true},
        SddlCase{"OrdinaryOwner", L"O:BUD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", false},
        SddlCase{"UsersMayAddSubfolders", L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200ad;;;BU)", false},
        SddlCase{"InheritOnlyGenericWriteForUsers", L"O:BAD:(A;;FA;;;SY)(A;OICIIO;GW;;;BU)", false},
        SddlCase{"CreatorOwnerFullControl", L"O:SYD:(A;;FA;;;SY)(A;OICIIO;GA;;;CO)", true},
        SddlCase{"EveryoneDeniedAmongTrustedGrants", L"O:SYD:(D;;FA;;;WD)(A;;FA;;;SY)(A;;FA;;;BA)", true},
        SddlCase{"ProtectedEmptyDaclOwnedBySystem", L"O:SYD:P", true},
        SddlCase{"UsersMayOnlyReadAttributes", L"O:SYD:(A;;FA;;;SY)(A;;0x100080;;;BU)", true},
        SddlCase{"UsersMayWriteTheDacl", L"O:SYD:(A;;FA;;;SY)(A;;WD;;;BU)", false},
        SddlCase{"AuditEntryInTheDaclCountsAsAGrant", L"O:SYD:(A;;FA;;;SY)(AU;SA;FA;;;WD)", false}),
    [](const auto& info) { return std::string(info.param.name); });

// A null DACL grants everything to everybody. Built with the API, since
// Wine's SDDL converter turns NO_ACCESS_CONTROL into an empty DACL instead.
TEST(GuardOnDescriptors, RefusesANullDaclAndAcceptsAnEmptyOne) {
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    alignas(SID) unsigned char system_sid[SECURITY_MAX_SID_SIZE];
    DWORD sid_size = sizeof system_sid;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system_sid, &sid_size));
    ASSERT_TRUE(SetSecurityDescriptorOwner(&sd, system_sid, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));
    EXPECT_FALSE(win32::read_owner_and_dacl(&sd).has_value());

    alignas(ACL) unsigned char acl_buffer[64];
    auto* acl = reinterpret_cast<PACL>(acl_buffer);
    ASSERT_TRUE(InitializeAcl(acl, sizeof acl_buffer, ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
    const auto read = win32::read_owner_and_dacl(&sd);
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(read->entries.empty());
    win32::Win32Account account;
    EXPECT_TRUE(account.is_well_known(*read->owner, WellKnownSid::local_system));
}

// The descriptor /prepare gives the data and update folders.
std::wstring deployment_sddl() {
    const std::string sddl = kit_descriptor_sddl;
    return std::wstring(sddl.begin(), sddl.end());  // SDDL is ASCII
}

TEST(DeploymentDescriptor, IsAcceptedProtectedAndGrantsNobodyElseAnything) {
    const std::wstring sddl = deployment_sddl();
    EXPECT_EQ(verdict_for(sddl.c_str()), std::optional<bool>(true));

    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
    // Unprotected, the folder would inherit ProgramData's grant to Users.
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "inheritance is not broken";
    win32::Win32Account account;
    const auto read = win32::read_owner_and_dacl(sd);
    LocalFree(sd);
    ASSERT_TRUE(read.has_value());
    // Even a read grant to Users would let a user hold state.toml open.
    for (const Grant& grant : grants_of(read->entries, account))
        EXPECT_TRUE(grant.trusted) << "a grant to somebody else, mask " << grant.mask;
}

struct AddedEntry {
    const char* name;
    const wchar_t* entry;
};

class DeploymentDescriptorWithAGrant : public ::testing::TestWithParam<AddedEntry> {};

TEST_P(DeploymentDescriptorWithAGrant, IsRefused) {
    const std::wstring sddl = deployment_sddl();
    ASSERT_EQ(sddl.back(), L')') << "the DACL must come last so entries can be added";
    EXPECT_EQ(verdict_for((sddl + GetParam().entry).c_str()), std::optional<bool>(false));
}

INSTANTIATE_TEST_SUITE_P(
    UsersWrite, DeploymentDescriptorWithAGrant,
    ::testing::Values(
        AddedEntry{"UsersModify", L"(A;OICI;0x1301bf;;;BU)"},
        // What ProgramData hands down when inheritance is left on.
        AddedEntry{"InheritedFromProgramData", L"(A;CIID;0x116;;;BU)"},
        AddedEntry{"UsersGenericWriteInheritOnly", L"(A;OICIIO;GW;;;BU)"}),
    [](const auto& info) { return std::string(info.param.name); });

class GuardOnFolders : public ::testing::Test {
protected:
    std::wstring base;
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        base = std::wstring(temp) + L"tamsel-guard-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(base.c_str(), nullptr);
    }
    void TearDown() override {
        RemoveDirectoryW((base + L"\\link").c_str());
        RemoveDirectoryW((base + L"\\real").c_str());
        RemoveDirectoryW((base + L"\\made").c_str());
        RemoveDirectoryW((base + L"\\made.aside").c_str());
        RemoveDirectoryW(base.c_str());
    }
    std::string utf8(const std::wstring& w) { return win32::to_utf8(w).value(); }
};

TEST_F(GuardOnFolders, RefusesWhatIsMissingOrNotAFolderOrALink) {
    win32::Win32Files files;
    win32::Win32Security security;
    win32::Win32Account account;
    EXPECT_FALSE(folder_is_guarded(utf8(base + L"\\missing"), files, security, account));
    EXPECT_EQ(files.attributes(utf8(base + L"\\missing")), invalid_file_attributes);

    ASSERT_TRUE(CreateDirectoryW((base + L"\\real").c_str(), nullptr));
    const std::wstring link = base + L"\\link";
    ASSERT_TRUE(CreateSymbolicLinkW(link.c_str(), (base + L"\\real").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY));
    // Windows reports the link with the reparse-point bit; Wine 8 cannot read
    // the attributes of such a link at all. The guard refuses it either way.
    const std::uint32_t attributes = files.attributes(utf8(link));
    if (attributes != invalid_file_attributes) EXPECT_NE(attributes & 0x400u, 0u);
    EXPECT_FALSE(folder_is_guarded(utf8(link), files, security, account));
}

TEST_F(GuardOnFolders, MakesAFolderWithTheKitsDescriptorProtectsItAgainAndMovesItAside) {
    win32::Win32Files files;
    win32::Win32Security security;
    win32::Win32Account account;
    const std::string made = utf8(base + L"\\made");
    ASSERT_EQ(security.create_protected_folder(made), FolderCreation::created);
    EXPECT_EQ(security.create_protected_folder(made), FolderCreation::exists);
    const auto opened = security.open_entry(made);
    ASSERT_TRUE(opened);
    SecuredEntry* const entry = opened->get();
    EXPECT_EQ(entry->attributes() & 0x410u, 0x10u);
    const auto read = entry->owner_and_dacl();
    ASSERT_TRUE(read && read->owner);
    // Windows keeps the descriptor given at creation, so the folder is
    // accepted before anybody changed it; Wine keeps none and makes the
    // caller the owner (the Windows check list looks at the real one).
    if (read->owner != account.process_user()) {
        EXPECT_TRUE(account.is_well_known(*read->owner, WellKnownSid::administrators));
        EXPECT_TRUE(folder_is_guarded(made, files, security, account));
    }
    EXPECT_TRUE(entry->protect().ok());

    EXPECT_TRUE(files.move(made, made + ".aside").ok());
    EXPECT_EQ(files.attributes(made), invalid_file_attributes);
    EXPECT_EQ(files.list(utf8(base)), (Result<std::vector<std::string>>(std::vector<std::string>{"made.aside"})));
    ASSERT_TRUE(CreateDirectoryW((base + L"\\real").c_str(), nullptr));
    EXPECT_FALSE(files.move(made + ".aside", utf8(base + L"\\real")).ok());  // never replaces
}

TEST_F(GuardOnFolders, ReadsTheOwnerAndDaclOfARealFolder) {
    win32::Win32Security security;
    const auto descriptor = security.owner_and_dacl(utf8(base));
    ASSERT_TRUE(descriptor.ok());
    EXPECT_TRUE(descriptor->owner.has_value());
    EXPECT_FALSE(descriptor->entries.empty());
}

}  // namespace
}  // namespace tamsel
