#include <gtest/gtest.h>

#include "entry/entry.h"
#include "entry/exit_codes.h"
#include "entry/folder_guard.h"
#include "entry/prepare.h"
#include "fakes/fake_platform.h"

namespace tamsel {
namespace {

using fakes::FakeAccount;
using fakes::FakePlatform;
using fakes::FakeSecurity;

constexpr std::uint32_t full_control = 0x1F01FF;
constexpr std::uint32_t read_execute = 0x1200A9;
constexpr std::uint32_t modify = 0x1301BF;
const std::string program_dir = "C:\\Program Files\\Tamsel";
const std::string data_dir = "C:\\ProgramData\\Tam_Sel";
const std::string update_dir = data_dir + "\\update";
const std::string stamp = "20261208T100000Z";  // the fake clock below
// S-1-5-11 as Windows lays it out.
const Sid authenticated_users{1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0};

OwnerAndDacl descriptor(Sid owner, std::vector<AceEntry> entries) { return {std::move(owner), std::move(entries)}; }

// Program Files as Windows ships it: owned by TrustedInstaller, CREATOR OWNER
// full control on what is made inside, users read and execute.
OwnerAndDacl program_files() {
    return descriptor(FakeAccount::trusted_installer_sid(), {{0, full_control, FakeAccount::trusted_installer_sid()},
                                                             {0, full_control, FakeAccount::system_sid()},
                                                             {0, full_control, FakeAccount::admins_sid()},
                                                             {0, 0x10000000, FakeAccount::creator_owner_sid()},
                                                             {0, read_execute, authenticated_users}});
}

struct Machine : FakePlatform {
    Machine() {
        clock.set_unix(1796724000);  // 2026-12-08T10:00:00Z
        files.folders.insert("C:\\ProgramData");
        files.folders.insert(program_dir);
        security.descriptors[program_dir] = program_files();
        security.descriptors[program_dir + "\\tamsel-update.exe"] = program_files();
    }
    int run() { return run_entry({"tamsel-update.exe", "/prepare"}, platform, BuildSettings{}, Modes{}); }
    bool guarded(const std::string& path) { return folder_is_guarded(path, files, security, account); }
};

TEST(ProgramEntryVerdict, TypicalAcls) {
    struct Case {
        const char* name;
        OwnerAndDacl acl;
        Refusal refusal;
    };
    const Case cases[] = {
            {"Program Files", program_files(), Refusal::none},
            {"a folder under C:\\ with the inherited Authenticated Users modify entry",
             descriptor(FakeAccount::admins_sid(),
                        {{0, full_control, FakeAccount::system_sid()}, {0, modify, authenticated_users}}),
             Refusal::grant},
            {"creator owner alone beside the trusted",
             descriptor(FakeAccount::system_sid(), {{0, 0x10000000, FakeAccount::creator_owner_sid()}}), Refusal::none},
            {"owned by a user", descriptor(FakeAccount::user_sid(), {}), Refusal::owner},
            {"users may only read", descriptor(FakeAccount::admins_sid(), {{0, read_execute, FakeAccount::user_sid()}}),
             Refusal::none},
    };
    for (const Case& c : cases) {
        FakePlatform fake;
        fake.security.descriptors["p"] = c.acl;
        EXPECT_EQ(judge_program_entry("p", fake.security, fake.account).refusal, c.refusal) << c.name;
    }
    FakePlatform fake;
    fake.security.error = 5;
    EXPECT_EQ(judge_program_entry("p", fake.security, fake.account).refusal, Refusal::unreadable);
}

TEST(VerdictText, SaysWhichAndWhy) {
    struct Case {
        FolderVerdict verdict;
        const char* text;
    };
    const Case cases[] = {
            {{}, "accepted"},
            {{Refusal::missing, {}, 2}, "refused: missing"},
            {{Refusal::not_a_folder, {}, 0}, "refused: a file, not a folder"},
            {{Refusal::link, {}, 0}, "refused: a link or junction, not a real folder"},
            {{Refusal::owner, {1, 2, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xE9, 3, 0, 0}, 0},
             "refused: owned by S-1-5-21-1001, not by SYSTEM or Administrators"},
            {{Refusal::grant, authenticated_users, 0},
             "refused: an entry lets S-1-5-11 (Authenticated Users) change it"},
            {{Refusal::grant, {}, 0}, "refused: an entry of an unexpected kind gives a right to change it"},
            {{Refusal::unreadable, {}, 5},
             "its permissions cannot be read from this prompt: run it again from an elevated prompt"},
            {{Refusal::unreadable, {}, 1307}, "refused: its permissions cannot be read (error 1307)"},
    };
    for (const Case& c : cases) EXPECT_EQ(verdict_text(c.verdict), c.text);
}

TEST(Prepare, MakesTheFoldersSafeWhateverItFinds) {
    struct Case {
        const char* name;
        std::function<void(Machine&)> before;
        int exit_code;
        std::vector<std::string> folders_after;  // besides ProgramData, the program folder and the two
        std::vector<std::string> files_after;
    };
    const auto loose = [](Machine& m, const std::string& path, Sid owner) {
        m.files.folders.insert(path);
        m.security.descriptors[path] = descriptor(
                std::move(owner), {{0, full_control, FakeAccount::system_sid()}, {0, modify, authenticated_users}});
    };
    const Case cases[] = {
            {"a fresh machine", [](Machine&) {}, 0, {}, {}},
            {"good folders keep the state, the log and the lock",
             [](Machine& m) {
                 m.add_guarded_folder(data_dir);
                 m.add_guarded_folder(update_dir);
                 for (const char* name : {"state.toml", "updater.log", "update.lock"})
                     m.files.files[update_dir + "\\" + name] = "x";
             },
             0,
             {},
             {update_dir + "\\state.toml", update_dir + "\\update.lock", update_dir + "\\updater.log"}},
            {"loose folders owned by the Administrators are protected in place",
             [&](Machine& m) {
                 loose(m, data_dir, FakeAccount::admins_sid());
                 loose(m, update_dir, FakeAccount::admins_sid());
                 m.files.files[update_dir + "\\state.toml"] = "x";
             },
             0,
             {},
             {update_dir + "\\state.toml"}},
            {"a data folder that is a junction is moved aside",
             [](Machine& m) { m.files.folder_links.insert(data_dir); },
             0,
             {},
             {}},
            {"an update folder of a foreign owner is moved aside with what it holds",
             [&](Machine& m) {
                 m.add_guarded_folder(data_dir);
                 loose(m, update_dir, FakeAccount::user_sid());
                 m.files.files[update_dir + "\\installed-setup.exe"] = "planted";
             },
             0,
             {data_dir + "\\update.set-aside-" + stamp},
             {data_dir + "\\update.set-aside-" + stamp + "\\installed-setup.exe"}},
            {"a planted folder named like a file and a foreign file go, a readable one of ours is protected",
             [&](Machine& m) {
                 m.add_guarded_folder(data_dir);
                 m.add_guarded_folder(update_dir);
                 m.files.folders.insert(update_dir + "\\state.toml.tmp");
                 m.files.files[update_dir + "\\state.toml"] = "x";
                 m.files.files[update_dir + "\\installed-setup.exe"] = "planted";
                 m.security.descriptors[update_dir + "\\installed-setup.exe"] = descriptor(
                         FakeAccount::user_sid(), {{0, full_control, FakeAccount::user_sid()}});
                 m.files.files[update_dir + "\\updater.log"] = "readable by all";
                 m.security.descriptors[update_dir + "\\updater.log"] = descriptor(
                         FakeAccount::system_sid(), {{0, read_execute, authenticated_users}});
             },
             0,
             {data_dir + "\\state.toml.tmp.set-aside-" + stamp},
             {update_dir + "\\state.toml", update_dir + "\\updater.log"}},
            {"a foreign file held open stops it",
             [&](Machine& m) {
                 m.add_guarded_folder(data_dir);
                 m.add_guarded_folder(update_dir);
                 m.files.files[update_dir + "\\update.lock"] = "";
                 m.security.descriptors[update_dir + "\\update.lock"] = descriptor(FakeAccount::user_sid(), {});
                 m.files.fail_remove_paths.insert(update_dir + "\\update.lock");
             },
             exit_code::folder_refused,
             {},
             {update_dir + "\\update.lock"}},
            {"a foreign folder that cannot be moved stops it",
             [&](Machine& m) {
                 loose(m, data_dir, FakeAccount::user_sid());
                 m.files.fail_move_paths.insert(data_dir);
             },
             exit_code::folder_refused,
             {},
             {}},
            {"a lock file held by whoever keeps every pass out",
             [](Machine& m) {
                 m.files.held_elsewhere = [](const std::string& path) { return path == update_dir + "\\update.lock"; };
             },
             exit_code::another_pass_runs,
             {},
             {}},
            {"a program folder open to users stops it before anything is made",
             [&](Machine& m) { loose(m, program_dir, FakeAccount::admins_sid()); },
             exit_code::program_folder_open,
             {},
             {}},
    };
    for (const Case& c : cases) {
        Machine m;
        c.before(m);
        EXPECT_EQ(m.run(), c.exit_code) << c.name << "\n" << m.system.standard_output;
        std::set<std::string> folders = {"C:\\ProgramData", program_dir};
        if (c.exit_code != exit_code::program_folder_open && !m.files.fail_move_paths.count(data_dir))
            folders.insert({data_dir, update_dir});
        if (c.exit_code == exit_code::program_folder_open) EXPECT_TRUE(m.security.journal.empty()) << c.name;
        folders.insert(c.folders_after.begin(), c.folders_after.end());
        if (m.files.folder_links.empty() && !m.files.fail_move_paths.count(data_dir))
            EXPECT_EQ(m.files.folders, folders) << c.name;
        std::set<std::string> files, expected(c.files_after.begin(), c.files_after.end());
        for (const auto& [path, content] : m.files.files) files.insert(path);
        if (c.exit_code == exit_code::done) expected.insert(update_dir + "\\update.lock");  // the exclusion's
        EXPECT_EQ(files, expected) << c.name;
        if (c.exit_code == exit_code::done) {
            EXPECT_TRUE(m.guarded(data_dir) && m.guarded(update_dir)) << c.name;
            EXPECT_EQ(m.security.descriptors[data_dir].owner, FakeAccount::admins_sid()) << c.name;
            for (const auto& [path, written] : m.security.descriptors)  // nobody else is left any entry
                if (path.starts_with(update_dir + "\\") && m.files.exists(path))
                    EXPECT_EQ(written.entries.size(), 2u) << c.name << " " << path;
            EXPECT_TRUE(m.system.standard_output.ends_with("prepared\r\n")) << c.name;
        } else {
            EXPECT_EQ(m.event_log.events.size(), 1u) << c.name;
        }
    }
}

TEST(Prepare, ALinkIsMovedAsideToADatedNameAndTheFolderMadeWithItsDescriptor) {
    Machine m;
    m.files.folder_links.insert(data_dir);
    ASSERT_EQ(m.run(), exit_code::done);
    EXPECT_EQ(m.files.folder_links, std::set<std::string>{data_dir + ".set-aside-" + stamp});
    EXPECT_EQ(m.security.journal,
              (std::vector<std::string>{"create-folder " + data_dir, "create-folder " + update_dir}));
    EXPECT_EQ(m.run(), exit_code::done);  // again: the folders are only protected anew
    EXPECT_EQ(m.security.journal.back(), "protect " + update_dir);
}

}  // namespace
}  // namespace tamsel
