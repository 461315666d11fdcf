#include <gtest/gtest.h>

#include <set>

#include "common/client_limits.h"
#include "entry/entry.h"
#include "entry/exit_codes.h"
#include "entry/paths.h"
#include "fakes/fake_platform.h"

namespace tamsel {
namespace {

using fakes::FakeAccount;
using fakes::FakePlatform;
using Events = std::vector<fakes::FakeEventLog::Event>;

// The event an early exit leaves, `times` over.
Events early_events(std::uint32_t event_id, EventType type, std::size_t times) {
    return Events(times, {event_id, type, 0});
}

TEST(SelectMode, ComparesWholeArgumentsCaseSensitivelyAfterTheFirst) {
    struct Case {
        std::vector<std::string> arguments;
        Mode mode;
    };
    const Case cases[] = {
        {{"updater.exe"}, Mode::check_run},
        {{}, Mode::check_run},
        {{"updater.exe", "/close"}, Mode::close},
        {{"updater.exe", "/window"}, Mode::window},
        {{"updater.exe", "/phase2"}, Mode::phase_two},
        {{"updater.exe", "/window", "/close"}, Mode::close},
        {{"updater.exe", "/phase2", "/window"}, Mode::window},
        {{"updater.exe", "x", "y", "/phase2"}, Mode::phase_two},
        {{"updater.exe", "/status"}, Mode::status},
        {{"updater.exe", "/status", "/phase2"}, Mode::phase_two},
        {{"updater.exe", "/status", "/close"}, Mode::close},
        {{"updater.exe", "/prepare"}, Mode::prepare},
        {{"updater.exe", "/prepare", "/status"}, Mode::status},
        {{"updater.exe", "/selfcheck"}, Mode::self_check},
        {{"updater.exe", "/selfcheck", "/prepare"}, Mode::prepare},
        {{"updater.exe", "/selfcheck", "/phase2"}, Mode::phase_two},
        {{"updater.exe", "/Status"}, Mode::check_run},
        {{"updater.exe", "/Close"}, Mode::check_run},
        {{"updater.exe", "close"}, Mode::check_run},
        {{"updater.exe", "/close "}, Mode::check_run},
        {{"updater.exe", " /window"}, Mode::check_run},
        {{"updater.exe", "-phase2"}, Mode::check_run},
        {{"updater.exe", "/PHASE2"}, Mode::check_run},
        {{"updater.exe", "/phase2x"}, Mode::check_run},
        {{"updater.exe", "unknown", "--help"}, Mode::check_run},
        // The program's own path is never looked at.
        {{"/close"}, Mode::check_run},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& a : c.arguments) shown += "[" + a + "]";
        EXPECT_EQ(select_mode(c.arguments), c.mode) << shown;
    }
}

TEST(RunContext, BuildsFoldersAndAddressesFromTheBuildConstants) {
    BuildSettings settings;
    settings.update_host = "updates.example";
    settings.working_key[0] = 1;
    settings.reserve_key[63] = 2;
    const RunContext context = make_run_context("C:\\Program Files\\Tamsel", "C:\\ProgramData", settings);
    EXPECT_EQ(context.program_dir, "C:\\Program Files\\Tamsel");
    EXPECT_EQ(context.main_exe, "C:\\Program Files\\Tamsel\\Tamsel.exe");
    EXPECT_EQ(context.data_dir, "C:\\ProgramData\\Tam_Sel");
    EXPECT_EQ(context.update_dir, "C:\\ProgramData\\Tam_Sel\\update");
    EXPECT_EQ(context.feed_url, "https://updates.example/tamsel/news.toml");
    EXPECT_EQ(context.files_prefix, "https://updates.example/tamsel/files/");
    EXPECT_EQ(context.working_key[0], 1);
    EXPECT_EQ(context.reserve_key[63], 2);
}

TEST(Paths, JoinAndParent) {
    EXPECT_EQ(join_path("C:\\ProgramData", "Tam_Sel"), "C:\\ProgramData\\Tam_Sel");
    EXPECT_EQ(join_path("C:\\", "Tam_Sel"), "C:\\Tam_Sel");
    EXPECT_EQ(parent_folder("C:\\Program Files\\Tamsel\\tamsel-update.exe"), "C:\\Program Files\\Tamsel");
    EXPECT_EQ(parent_folder("C:\\tamsel-update.exe"), "C:\\");
    EXPECT_EQ(parent_folder("tamsel-update.exe"), std::nullopt);
    EXPECT_EQ(parent_folder("\\\\?\\C:\\x\\u.exe"), "\\\\?\\C:\\x");
}

class EntryTest : public ::testing::Test {
protected:
    FakePlatform fake;
    // Stand-ins for the modes: each records that it ran, with what it was given.
    std::vector<std::string> ran;
    std::string mode_update_dir;
    std::string mode_log_path;
    Modes modes{
        [this](const RunContext& context, Log& log) { return record("check run", context, log, 40); },
        [this](const RunContext& context, Log& log) { return record("phase two", context, log, 41); },
        [this] { return record("close", 42); },
        [this] { return record("window", 43); },
        [this] { return record("status", 44); },
    };
    int record(const char* mode, int code) {
        ran.push_back(mode);
        return code;
    }
    int record(const char* mode, const RunContext& context, Log& log, int code) {
        mode_update_dir = context.update_dir;
        mode_log_path = log.path();
        locked_in_mode = fake.files.locked;
        if (during_mode) during_mode();
        return record(mode, code);
    }
    std::set<std::string> locked_in_mode;
    std::function<void()> during_mode;  // what happens while the mode runs
    BuildSettings settings{"localhost", {}, {}};
    const std::string data_dir = "C:\\ProgramData\\Tam_Sel";
    const std::string update_dir = data_dir + "\\update";
    const std::string lock_path = update_dir + "\\update.lock";
    void SetUp() override {
        fake.add_guarded_folder(data_dir);
        fake.add_guarded_folder(update_dir);
    }
    int run(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), "tamsel-update.exe");
        return run_entry(arguments, fake.platform, settings, modes);
    }
};

TEST_F(EntryTest, EveryModeNeedsTheSystemAccount) {
    for (const std::optional<Sid>& user : {std::optional<Sid>(FakeAccount::admins_sid()),
                                           std::optional<Sid>(FakeAccount::user_sid()), std::optional<Sid>()}) {
        fake.account.user = user;
        for (const char* argument : {"", "/close", "/window", "/phase2"}) {
            EXPECT_EQ(run({argument}), exit_code::not_system_account) << argument;
        }
    }
    EXPECT_TRUE(fake.system.created_mutexes.empty());
    EXPECT_TRUE(fake.files.files.empty());
    EXPECT_TRUE(ran.empty());
    // No log, but an event for every refusal.
    EXPECT_EQ(fake.event_log.events, early_events(59, EventType::error, 3 * 4));
}

// The report is for administrators: no account check, no mutex, no folders
// asked about by the entry (the report guards its own reading).
TEST_F(EntryTest, TheStatusReportNeedsNoSystemAccountAndNoMutex) {
    fake.account.user = FakeAccount::admins_sid();
    fake.system.mutexes.insert(std::string(update_mutex_name));
    EXPECT_EQ(run({"/status"}), 44);
    EXPECT_EQ(ran, std::vector<std::string>{"status"});
    EXPECT_TRUE(fake.system.created_mutexes.empty());
    EXPECT_TRUE(fake.files.files.empty());
    EXPECT_TRUE(fake.event_log.events.empty()) << "the report writes nothing anywhere";
}

TEST_F(EntryTest, TheWindowHelperTakesNoMutexAndNeedsNoFolders) {
    fake.system.mutexes.insert(std::string(update_mutex_name));
    fake.system.exe_path.reset();
    fake.system.program_data.reset();
    for (const char* argument : {"/close", "/window"}) {
        const int code = run({argument});
        EXPECT_NE(code, exit_code::another_pass_runs) << argument;
        EXPECT_NE(code, exit_code::own_folder_missing) << argument;
    }
    EXPECT_TRUE(fake.system.created_mutexes.empty());
    EXPECT_TRUE(fake.files.files.empty()) << "no lock file";
}

TEST_F(EntryTest, MissingOwnFoldersEndWith6BeforeTheMutex) {
    fake.system.exe_path = "tamsel-update.exe";  // no folder part
    EXPECT_EQ(run(), exit_code::own_folder_missing);
    fake.system.exe_path.reset();
    EXPECT_EQ(run({"/phase2"}), exit_code::own_folder_missing);
    fake.system.exe_path = "C:\\Tamsel\\tamsel-update.exe";
    fake.system.program_data.reset();
    EXPECT_EQ(run(), exit_code::own_folder_missing);
    EXPECT_TRUE(fake.system.created_mutexes.empty());
    EXPECT_EQ(fake.event_log.events, early_events(62, EventType::error, 3));
}

// A second pass started while the first one's mode runs: a check run ends
// with 3 at once, phase two waits its ten minutes for the first and then ends
// with 3. The lock file alone excludes where the system has no private
// namespaces (Wine), and so does the private mutex alone.
TEST_F(EntryTest, ASecondPassWhileOneRunsEndsWith3) {
    struct Case {
        const char* name;
        bool private_namespaces;
        const char* second;
        std::uint64_t waited_ms;
        bool lock_file_left = false;  // the first pass holds only the private mutex
    };
    const Case cases[] = {
        {"check run", true, "", 0},
        {"check run, no private namespaces", false, "", 0},
        {"phase two", true, "/phase2", exclusion_wait_ms},
        {"phase two, only the private mutex held", true, "/phase2", exclusion_wait_ms, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.system.private_namespaces = c.private_namespaces;
        fake.system.mutexes.clear();
        ran.clear();
        fake.clock.sleeps.clear();
        fake.event_log.events.clear();
        int second_code = -1;
        std::uint64_t waited = 0;
        during_mode = [&] {
            if (c.lock_file_left) fake.files.locked.clear();
            const std::uint64_t began = fake.clock.monotonic;
            second_code = run({c.second});
            waited = fake.clock.monotonic - began;
        };
        EXPECT_EQ(run(), 40);
        during_mode = nullptr;
        EXPECT_EQ(second_code, exit_code::another_pass_runs);
        EXPECT_EQ(waited, c.waited_ms);
        for (const std::uint32_t pause : fake.clock.sleeps) EXPECT_EQ(pause, exclusion_pause_ms);
        EXPECT_EQ(ran, std::vector<std::string>{"check run"}) << "the second pass ran its mode";
        EXPECT_EQ(fake.event_log.events, early_events(60, EventType::warning, 1));
        EXPECT_TRUE(fake.files.locked.empty());
        EXPECT_TRUE(fake.system.private_mutexes.empty());
    }
}

// Phase two meets a pass that ends after 7 s: it runs then, whatever the wall
// clock does meanwhile; a pass that never ends makes it give up after ten
// minutes of the monotonic clock, not of the wall clock.
TEST_F(EntryTest, PhaseTwoWaitsForThePassThatRunsOnTheMonotonicClock) {
    struct Case {
        const char* name;
        std::optional<std::uint64_t> other_pass_ends_ms;
        std::int64_t wall_step_s;  // the wall clock's step at every look
        int code;
        std::uint64_t waited_ms;
    };
    const Case cases[] = {
        {"ends after 7 s", 7'000, 0, 41, 7'000},
        {"ends after 7 s, wall clock set back a day each look", 7'000, -86'400, 41, 7'000},
        {"ends after 7 s, wall clock before 1970", 7'000, -2'000'000'000, 41, 7'000},
        {"never ends", std::nullopt, 0, exit_code::another_pass_runs, exclusion_wait_ms},
        {"never ends, wall clock ahead an hour each look", std::nullopt, 3'600, exit_code::another_pass_runs,
         exclusion_wait_ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform local;
        local.add_guarded_folder(data_dir);
        local.add_guarded_folder(update_dir);
        const std::uint64_t began = local.clock.monotonic;
        std::int64_t wall = 1'790'000'000;
        local.files.held_elsewhere = [&](const std::string& path) {
            EXPECT_EQ(path, lock_path);
            wall += c.wall_step_s;
            local.clock.set_unix(wall);
            return !c.other_pass_ends_ms || local.clock.monotonic - began < *c.other_pass_ends_ms;
        };
        ran.clear();
        EXPECT_EQ(run_entry({"u.exe", "/phase2"}, local.platform, settings, modes), c.code);
        EXPECT_EQ(local.clock.monotonic - began, c.waited_ms);
        EXPECT_EQ(ran, c.code == 41 ? std::vector<std::string>{"phase two"} : std::vector<std::string>{});
    }
    // A check run never waits.
    fake.files.held_elsewhere = [](const std::string&) { return true; };
    EXPECT_EQ(run(), exit_code::another_pass_runs);
    EXPECT_TRUE(fake.clock.sleeps.empty());
}

TEST_F(EntryTest, ASquatterOnTheOldMutexNameStopsNothing) {
    fake.system.mutexes.insert(std::string(update_mutex_name));
    EXPECT_EQ(run(), 40);
    fake.system.private_namespaces = false;
    EXPECT_EQ(run({"/phase2"}), 41);
    EXPECT_TRUE(fake.clock.sleeps.empty());
    // Nor does a failure to create it.
    fake.system.mutexes.clear();
    fake.system.fail_mutex = true;
    EXPECT_EQ(run(), 40);
}

TEST_F(EntryTest, HoldsTheLockFileWhileTheModeRunsAndKeepsIt) {
    run();
    EXPECT_EQ(locked_in_mode, std::set<std::string>{lock_path});
    EXPECT_TRUE(fake.files.locked.empty()) << "let go when the pass ends";
    EXPECT_TRUE(fake.files.exists(lock_path));
    EXPECT_EQ(fake.files.journal, std::vector<std::string>{"create " + lock_path});
    // The old name is still created, by its exact spelling.
    ASSERT_EQ(fake.system.created_mutexes.size(), 1u);
    EXPECT_EQ(fake.system.created_mutexes[0], "Global\\Tam_Sel.Update");
    // A lock file that cannot be opened for another reason ends a check run with 3.
    fake.files.fail_open_exclusive = true;
    EXPECT_EQ(run(), exit_code::another_pass_runs);
}

TEST_F(EntryTest, ARefusedFolderEndsWith4AndWritesNothing) {
    struct Case {
        const char* name;
        void (*spoil)(FakePlatform&, const std::string& data, const std::string& update);
    };
    const Case cases[] = {
        {"update folder missing",
         [](FakePlatform& f, const std::string&, const std::string& u) {
             f.files.folders.erase(u);
             f.security.descriptors.erase(u);
         }},
        {"data folder missing",
         [](FakePlatform& f, const std::string& d, const std::string&) { f.files.folders.erase(d); }},
        {"everyone may write the update folder",
         [](FakePlatform& f, const std::string&, const std::string& u) {
             f.security.descriptors[u].entries.push_back({0, 0x2, FakeAccount::user_sid()});
         }},
        {"data folder owned by a user",
         [](FakePlatform& f, const std::string& d, const std::string&) {
             f.security.descriptors[d].owner = FakeAccount::user_sid();
         }},
    };
    for (const Case& c : cases) {
        FakePlatform local;
        local.add_guarded_folder(data_dir);
        local.add_guarded_folder(update_dir);
        c.spoil(local, data_dir, update_dir);
        const auto folders_before = local.files.folders;
        EXPECT_EQ(run_entry({"u.exe"}, local.platform, settings, modes), exit_code::folder_refused) << c.name;
        // The guard comes before the exclusion: a refused folder ends with 4
        // even while another pass runs, and phase two does not wait.
        local.files.locked.insert(lock_path);
        EXPECT_EQ(run_entry({"u.exe", "/phase2"}, local.platform, settings, modes), exit_code::folder_refused) << c.name;
        EXPECT_TRUE(local.clock.sleeps.empty()) << c.name;
        EXPECT_TRUE(local.files.files.empty()) << c.name;
        EXPECT_EQ(local.files.folders, folders_before) << "the guard creates no folder: " << c.name;
        EXPECT_EQ(local.event_log.events, early_events(61, EventType::error, 2)) << c.name;
    }
}

TEST_F(EntryTest, GuardedFoldersReachTheMode) {
    const int code = run();
    EXPECT_NE(code, exit_code::folder_refused);
    EXPECT_NE(code, exit_code::another_pass_runs);
    EXPECT_EQ(code, 40);
    EXPECT_EQ(ran, std::vector<std::string>{"check run"});
    EXPECT_EQ(mode_update_dir, update_dir);
    EXPECT_EQ(mode_log_path, update_dir + "\\updater.log");

    // The next pass, once the first has let go of the mutex.
    fake.system.mutexes.clear();
    ran.clear();
    EXPECT_EQ(run({"/phase2"}), 41);
    EXPECT_EQ(ran, std::vector<std::string>{"phase two"});
    EXPECT_EQ(mode_update_dir, update_dir);

    // The helper's modes are handed over before anything else is looked at.
    fake.system.mutexes.clear();
    ran.clear();
    EXPECT_EQ(run({"/close"}), 42);
    EXPECT_EQ(run({"/window"}), 43);
    EXPECT_EQ(ran, (std::vector<std::string>{"close", "window"}));
}

TEST_F(EntryTest, SelfCheckPassesOnlyWhenTheBuildFindsItsFoldersAndKeys) {
    struct Case {
        const char* name;
        std::function<void()> change;
        int exit_code;
    };
    const Case cases[] = {
        {"all there", [] {}, exit_code::done},
        {"not the system account", [this] { fake.account.user = FakeAccount::user_sid(); },
         exit_code::not_system_account},
        {"no program data", [this] { fake.system.program_data.reset(); }, exit_code::own_folder_missing},
        {"update folder missing", [this] { fake.files.folders.erase(update_dir); },
         exit_code::folder_refused},
        {"no working key", [this] { settings.working_key = {}; }, exit_code::self_check_failed},
        {"one key twice", [this] { settings.reserve_key = settings.working_key; },
         exit_code::self_check_failed},
        {"no cryptography", [this] { fake.crypto.fail_open_ecdsa = true; },
         exit_code::self_check_failed},
    };
    for (const Case& c : cases) {
        fake.files.folders = {data_dir, update_dir};
        fake.account.user = FakeAccount::system_sid();
        fake.system.program_data = "C:\\ProgramData";
        fake.crypto.fail_open_ecdsa = false;
        settings.working_key = {1};
        settings.reserve_key = {2};
        c.change();
        EXPECT_EQ(run({"/selfcheck"}), c.exit_code) << c.name;
        EXPECT_TRUE(ran.empty() && fake.files.locked.empty()) << c.name;
    }
    EXPECT_TRUE(fake.files.files.empty());  // nothing written
}

}  // namespace
}  // namespace tamsel
