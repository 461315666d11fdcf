#include <gtest/gtest.h>

#include "entry/folder_guard.h"
#include "fakes/fake_platform.h"

namespace tamsel {
namespace {

using fakes::FakeAccount;

constexpr std::uint32_t full_control = 0x1F01FF;
constexpr std::uint32_t read_execute = 0x1200A9;

TEST(GuardVerdict, OwnerAndGrants) {
    struct Case {
        const char* name;
        bool owner_trusted;
        std::vector<Grant> grants;
        bool accepted;
    };
    const Case cases[] = {
        {"no entries, trusted owner", true, {}, true},
        {"no entries, untrusted owner", false, {}, false},
        {"trusted full control, untrusted read", true, {{full_control, true}, {read_execute, false}}, true},
        {"untrusted owner", false, {{full_control, true}}, false},
        {"untrusted generic all", true, {{0x10000000, false}}, false},
        {"untrusted generic write", true, {{0x40000000, false}}, false},
        {"untrusted write owner", true, {{0x00080000, false}}, false},
        {"untrusted write dac", true, {{0x00040000, false}}, false},
        {"untrusted delete", true, {{0x00010000, false}}, false},
        {"untrusted write attributes", true, {{0x0100, false}}, false},
        {"untrusted delete child", true, {{0x0040, false}}, false},
        {"untrusted write ea", true, {{0x0010, false}}, false},
        {"untrusted add subdirectory", true, {{0x0004, false}}, false},
        {"untrusted add file", true, {{0x0002, false}}, false},
        {"untrusted generic read and execute", true, {{0xA0000000u, false}}, true},
        {"untrusted synchronize and read control", true, {{0x00120000, false}}, true},
        {"untrusted maximum allowed, system security", true, {{0x03000000, false}}, true},
    };
    for (const Case& c : cases) EXPECT_EQ(guard_verdict(c.owner_trusted, c.grants), c.accepted) << c.name;
}

TEST(GrantsOf, TrustsOnlyAllowedEntriesOfTheThreeWellKnownTrustees) {
    FakeAccount account;
    const std::vector<AceEntry> entries = {
        {0, 1, FakeAccount::system_sid()},  {0, 2, FakeAccount::admins_sid()},
        {0, 3, FakeAccount::creator_owner_sid()}, {0, 4, FakeAccount::user_sid()},
        // A foreign type naming a trusted SID is still untrusted: only type 0
        // is read for its trustee.
        {5, 5, FakeAccount::system_sid()},
    };
    const auto grants = grants_of(entries, account);
    ASSERT_EQ(grants.size(), 5u);
    EXPECT_TRUE(grants[0].trusted);
    EXPECT_TRUE(grants[1].trusted);
    EXPECT_TRUE(grants[2].trusted);
    EXPECT_FALSE(grants[3].trusted);
    EXPECT_FALSE(grants[4].trusted);
    EXPECT_EQ(grants[4].mask, 5u);
}

TEST(GrantsOf, SkipsDenialsAndCountsEveryOtherTypeAsUntrusted) {
    FakeAccount account;
    for (int type = 0; type <= 20; ++type) {
        const bool denial = type == 1 || type == 6 || type == 10 || type == 12;
        const auto grants = grants_of({{static_cast<std::uint8_t>(type), 0x2, FakeAccount::user_sid()}}, account);
        EXPECT_EQ(grants.size(), denial ? 0u : 1u) << "type " << type;
    }
}

TEST(FolderIsGuarded, NeedsARealDirectoryAndAReadableDescriptor) {
    fakes::FakePlatform fake;
    fake.add_guarded_folder("C:\\d");
    EXPECT_TRUE(folder_is_guarded("C:\\d", fake.files, fake.security, fake.account));
    EXPECT_FALSE(folder_is_guarded("C:\\missing", fake.files, fake.security, fake.account));

    fake.files.files["C:\\file"] = "x";  // not a directory
    fake.security.descriptors["C:\\file"] = fake.security.descriptors["C:\\d"];
    EXPECT_FALSE(folder_is_guarded("C:\\file", fake.files, fake.security, fake.account));

    fake.files.folder_links.insert("C:\\d");  // a link to a well-protected folder
    EXPECT_FALSE(folder_is_guarded("C:\\d", fake.files, fake.security, fake.account));
    fake.files.folder_links.clear();

    fake.files.folders.insert("C:\\unreadable");  // no descriptor: the read failed
    EXPECT_FALSE(folder_is_guarded("C:\\unreadable", fake.files, fake.security, fake.account));

    fake.security.descriptors["C:\\d"].owner.reset();  // no owner is no trusted owner
    EXPECT_FALSE(folder_is_guarded("C:\\d", fake.files, fake.security, fake.account));
}

}  // namespace
}  // namespace tamsel
