// The installation's two halves on fakes: steps 2 to 5 of a check run that
// starts one, and phase two with its rollback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entry/exit_codes.h"
#include "entry/log.h"
#include "fakes/fake_platform.h"
#include "fakes/scripted_bridge.h"
#include "support/test_bytes.h"
#include "state/state.h"
#include "update/installation.h"
#include "update/installer.h"
#include "update/phase_two.h"

namespace tamsel {
namespace {

using Lines = std::vector<std::string>;
using Sessions = std::vector<std::uint32_t>;
constexpr std::uint64_t now_unix = 1'796'581'133;

class InstallationTest : public ::testing::Test {
public:  // the case tables arrange the fixture through lambdas
    fakes::FakePlatform fake;
    fakes::ScriptedBridge bridge;
    RunContext context;
    const std::string dir = "C:\\ProgramData\\Tam_Sel\\update";
    const std::string state_path = dir + "\\state.toml";
    const std::string url = "https://localhost/tamsel/files/setup-2.0.0.exe";
    const std::string body = "MZ setup 2.0.0";

    void SetUp() override {
        context.main_exe = "C:\\Program Files\\Tamsel\\Tamsel.exe";
        context.update_dir = dir;
        fake.files.folders.insert(dir);
        fake.clock.set_unix(static_cast<std::int64_t>(now_unix));
        fake.https.serve(url, fakes::FakeHttpsResponse::body(body));
        fake.files.files[dir + "\\installed-setup.exe"] = "setup 1.0.0";
    }
    std::string file(const char* name) const {
        const auto it = fake.files.files.find(dir + "\\" + name);
        return it == fake.files.files.end() ? "<none>" : it->second;
    }
    Lines lines() const { return fakes::log_messages(fake.files, dir + "\\updater.log"); }
    State state() {
        auto read = read_state(fake.files, state_path);
        return read.ok() ? *read : State{};
    }
    int start() {
        Download offer;
        offer.version = "2.0.0";
        offer.url = url;
        offer.size = body.size();
        offer.sha256 = fakes::FakeCrypto::digest_of(body);
        State s;
        s.last_try = CalendarDate{2026, 12, 6};
        Log log(fake.files, fake.clock, fake.event_log, dir);
        return start_installation(context, log, s, offer, "1.0.0", fake.platform, bridge, "https://localhost/r/");
    }
    std::vector<std::string> setup_launches() const {
        std::vector<std::string> out;
        for (const auto& launch : fake.processes.launches) out.push_back(launch.command_line);
        return out;
    }
};

const std::string setup_run = "\"C:\\ProgramData\\Tam_Sel\\update\\downloaded-setup.exe\" "
                              "/VERYSILENT /SUPPRESSMSGBOXES /NORESTART /UPDATE "
                              "\"/LOG=C:\\ProgramData\\Tam_Sel\\update\\setup.log\"";

TEST(SetupCommandLine, QuotesThePathAndTheWholeLogSwitch) {
    EXPECT_EQ(setup_command_line("C:\\Pro gram\\set up.exe", "C:\\a b\\setup.log"),
              "\"C:\\Pro gram\\set up.exe\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /UPDATE \"/LOG=C:\\a b\\setup.log\"");
}

TEST_F(InstallationTest, StartRecordsClosesAndRunsTheSetup) {
    bridge.sessions = {1, 3};
    EXPECT_EQ(start(), exit_code::done);
    EXPECT_EQ(lines(), (Lines{"download verified 0", "setup started 0"}));
    EXPECT_EQ(bridge.closed, (Sessions{1, 3}));
    EXPECT_EQ(setup_launches(), std::vector<std::string>{setup_run});
    EXPECT_EQ(fake.processes.launches[0].application, dir + "\\downloaded-setup.exe");
    EXPECT_EQ(fake.processes.open_handles, 0);
    EXPECT_EQ(file("rollback-setup.exe"), "setup 1.0.0");
    EXPECT_EQ(file("installed-setup.exe"), "<none>");
    EXPECT_EQ(state().pending, (Pending{"2.0.0", "1.0.0", {1, 3}, true, false, now_unix, "https://localhost/r/"}));
}

// The pass that starts a setup keeps the run lock until the setup has made
// its mutex, has ended, or has had a minute: a phase two waiting for the
// lock then finds the mutex and waits for the setup, never judging it unbegun.
TEST_F(InstallationTest, ThePassEndsOnlyOnceTheSetupHasShownItself) {
    struct Case {
        const char* what;
        std::optional<std::uint64_t> mutex_after_ms;  // from the setup's start
        std::optional<std::uint64_t> runs_ms;         // nothing: for ever
        bool wait_fails;
        std::uint64_t held_ms;  // from the setup's start to the pass's end
    };
    const std::vector<Case> cases = {
        {"the mutex at once", 0, std::nullopt, false, 0},
        {"the mutex after 3.2 s", 3'200, std::nullopt, false, 3'500},
        {"ended after 2 s without one", std::nullopt, 2'000, false, 2'000},
        {"neither, for ever", std::nullopt, std::nullopt, false, 60'000},
        {"the setup cannot be waited on", std::nullopt, std::nullopt, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.processes.fail_wait = c.wait_fails;
        std::uint64_t setup_at = 0;
        fake.processes.on_start = [&](const fakes::FakeLaunch& launch) {
            setup_at = launch.at;
            return fakes::FakeStartResult{true, c.runs_ms, 0};
        };
        fake.system.mutex_exists_hook = [&](const std::string& name) {
            EXPECT_EQ(name, "Global\\Tam_Sel.Setup");
            return c.mutex_after_ms && fake.clock.monotonic - setup_at >= *c.mutex_after_ms;
        };
        EXPECT_EQ(start(), exit_code::done);
        EXPECT_EQ(lines().back(), "setup started 0");
        EXPECT_EQ(fake.clock.monotonic - setup_at, c.held_ms);
        EXPECT_EQ(fake.processes.open_handles, 0);
    }
}

TEST_F(InstallationTest, AnInstallationThatDoesNotGoAheadPutsEverythingBack) {
    struct Case {
        const char* what;
        std::function<void(InstallationTest&)> arrange;
        Lines lines;
        std::vector<Sessions> raised;
        Sessions closed;  // asked to close, in order
    };
    const std::vector<Case> cases = {
        // Closing stops at the first session that stays: session 5 is never asked.
        {"the program could not be closed",
         [](InstallationTest& t) {
             t.bridge.sessions = {1, 3, 5};
             t.bridge.unclosable = {3};
         },
         {"download verified 0", "the program could not be closed: nothing installed 0"}, {{1, 3, 5}}, {1, 3}},
        {"the setup does not start",
         [](InstallationTest& t) {
             t.bridge.sessions = {2, 4};
             t.fake.processes.on_start = [](const fakes::FakeLaunch&) { return fakes::FakeStartResult{false}; };
         },
         {"download verified 0", "setup not started 0", "report sent 0"}, {{2, 4}}, {2, 4}},
    };
    for (const Case& c : cases) {
        InstallationTest& t = *this;
        t.fake.files.files.erase(dir + "\\updater.log");
        t.fake.files.files.erase(state_path);
        t.fake.files.files[dir + "\\installed-setup.exe"] = "setup 1.0.0";
        t.bridge = fakes::ScriptedBridge{};
        c.arrange(t);
        EXPECT_EQ(start(), exit_code::done) << c.what;
        EXPECT_EQ(lines(), c.lines) << c.what;
        EXPECT_EQ(bridge.raised, c.raised) << c.what;
        EXPECT_EQ(bridge.closed, c.closed) << c.what;
        EXPECT_EQ(file("installed-setup.exe"), "setup 1.0.0") << c.what;
        EXPECT_EQ(file("rollback-setup.exe"), "<none>") << c.what;
        EXPECT_EQ(state(), (State{false, {}, {}, CalendarDate{2026, 12, 6}, std::nullopt})) << c.what;
    }
}

TEST_F(InstallationTest, SettingTheInstalledSetupAside) {
    struct Case {
        const char* what;
        std::size_t moves_allowed;    // moves of installed-setup.exe that succeed
        std::size_t records_allowed;  // state files that can be written
        std::size_t deletes_allowed;  // deletes of rollback-setup.exe that succeed
        int exit_code;
        Lines lines;
        std::string installed_left, rollback_left;
        std::optional<bool> recorded_copy;  // the record's rollback_copy on disk
    };
    const std::string move = "files.replace " + dir + "\\installed-setup.exe -> " + dir + "\\rollback-setup.exe";
    const std::string record = "files.create " + state_path + ".tmp";
    const std::string leftover = "files.remove " + dir + "\\rollback-setup.exe";
    const Lines started{"download verified 0", "setup started 0"};
    const Lines not_written{"download verified 0", "state not written 112"};
    // A rollback-setup.exe of an older installation lies about in every case:
    // it goes before the record claims a copy, or no copy is claimed.
    const std::vector<Case> cases = {
        {"moved", 1, 9, 1, exit_code::done, started, "<none>", "setup 1.0.0", true},
        {"the leftover cannot be deleted", 1, 9, 0, exit_code::done, started, "setup 1.0.0", "setup 0.9.0", false},
        {"not moved: the record claims no copy", 0, 9, 1, exit_code::done, started, "setup 1.0.0", "<none>", false},
        {"not moved, and that not recorded", 0, 1, 1, exit_code::state_unusable, not_written, "setup 1.0.0", "<none>",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake.files.files = {{dir + "\\installed-setup.exe", "setup 1.0.0"}, {dir + "\\rollback-setup.exe", "setup 0.9.0"}};
        fake.processes.launches.clear();
        fake.faults.fail_label_after = {{move, c.moves_allowed}, {record, c.records_allowed}, {leftover, c.deletes_allowed}};
        EXPECT_EQ(start(), c.exit_code);
        fake.faults.fail_label_after.clear();
        EXPECT_EQ(lines(), c.lines);
        EXPECT_EQ(file("installed-setup.exe"), c.installed_left);
        EXPECT_EQ(file("rollback-setup.exe"), c.rollback_left);
        const auto pending = state().pending;
        EXPECT_EQ(pending ? std::optional<bool>(pending->rollback_copy) : std::nullopt, c.recorded_copy);
        EXPECT_EQ(fake.processes.launches.size(), c.exit_code == exit_code::done ? 1u : 0u);
    }
}

TEST_F(InstallationTest, TheRollbackCopyReturnsOnlyWhenOwnedAndNothingTookItsPlace) {
    struct Case {
        const char* what;
        bool owned;                               // the record's rollback_copy
        std::optional<std::string> installed;     // installed-setup.exe before
        std::string installed_left, rollback_left;
    };
    const Case cases[] = {
        {"owned, place free", true, std::nullopt, "setup 1.0.0", "<none>"},
        {"not owned", false, std::nullopt, "<none>", "setup 1.0.0"},
        {"owned, a newer one in place", true, "setup 2.0.0", "setup 2.0.0", "setup 1.0.0"},
    };
    for (const Case& c : cases) {
        fake.files.files.erase(dir + "\\installed-setup.exe");
        if (c.installed) fake.files.files[dir + "\\installed-setup.exe"] = *c.installed;
        fake.files.files[dir + "\\rollback-setup.exe"] = "setup 1.0.0";
        restore_rollback_copy(fake.files, dir, c.owned);
        EXPECT_EQ(file("installed-setup.exe"), c.installed_left) << c.what;
        EXPECT_EQ(file("rollback-setup.exe"), c.rollback_left) << c.what;
    }
}

TEST_F(InstallationTest, ARecordThatCannotBeWrittenMovesNothing) {
    bridge.sessions = {2};
    fake.files.fail_create_paths = {state_path + ".tmp"};
    EXPECT_EQ(start(), exit_code::state_unusable);
    EXPECT_EQ(lines(), (Lines{"download verified 0", "state not written 0"}));
    EXPECT_EQ(file("installed-setup.exe"), "setup 1.0.0");
    EXPECT_EQ(file("rollback-setup.exe"), "<none>");
    EXPECT_TRUE(bridge.closed.empty());
    EXPECT_TRUE(fake.processes.launches.empty());
}

// ---------------------------------------------------------------- phase two

class PhaseTwoTest : public InstallationTest {
public:
    void SetUp() override {
        InstallationTest::SetUp();
        fake.files.files[dir + "\\downloaded-setup.exe"] = "setup 2.0.0";
        fake.files.files[dir + "\\rollback-setup.exe"] = "setup 1.0.0";
        fake.files.files.erase(dir + "\\installed-setup.exe");
        installed(2, 0, 0);
    }
    void installed(std::uint16_t a, std::uint16_t b, std::uint16_t c) {
        fake.system.version_infos[context.main_exe] = test_support::version_info(a, b, c);
    }
    void record(Pending pending, std::vector<std::string> failed = {}) {
        State s;
        s.failed = std::move(failed);
        s.pending = std::move(pending);
        ASSERT_TRUE(write_state(fake.files, s, state_path));
    }
    int run() {
        Log log(fake.files, fake.clock, fake.event_log, dir);
        return phase_two(context, log, fake.platform, bridge);
    }
};

const Pending update_in_flight{"2.0.0", "1.0.0", {1, 4}, true, false, now_unix - 60};

TEST_F(PhaseTwoTest, Verdicts) {
    struct Case {
        const char* what;
        Pending pending;
        std::array<std::uint16_t, 3> installed;
        RaiseOutcome raise_result;
        Lines lines;
        std::string rollback_left;   // rollback-setup.exe afterwards
        std::string installed_left;  // installed-setup.exe afterwards
        std::vector<std::string> failed;
    };
    Pending rolling = update_in_flight;
    rolling.rolling_back = true;
    Pending four_pieces = update_in_flight;
    four_pieces.version = "2.0.0.0";
    Pending no_copy = update_in_flight;
    no_copy.rollback_copy = false;
    using enum RaiseOutcome;
    const std::vector<Case> cases = {
        {"updated", update_in_flight, {2, 0, 0}, up, {"updated 0"}, "<none>", "<none>", {}},
        // The raise's own lines say what could not be watched; the version is not blamed.
        {"updated, the program not watched", update_in_flight, {2, 0, 0}, unwatched, {"updated 0"}, "<none>",
         "<none>", {}},
        {"updated, offered with a fourth piece", four_pieces, {2, 0, 0}, up, {"updated 0"}, "<none>", "<none>", {}},
        {"setup did not install", update_in_flight, {1, 0, 0}, up, {"setup did not install 0"}, "<none>",
         "setup 1.0.0", {}},
        {"not up, no copy", no_copy, {2, 0, 0}, not_up, {"did not start, and there is no copy to roll back to 0"},
         "setup 1.0.0", "<none>", {"2.0.0"}},
        {"rolled back", rolling, {1, 0, 0}, not_up, {"rolled back 0"}, "<none>", "<none>", {}},
        {"rollback did not restore", rolling, {2, 0, 0}, up, {"rollback did not restore the version 0"},
         "setup 1.0.0", "<none>", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.files.files.erase(dir + "\\updater.log");
        bridge = fakes::ScriptedBridge{};
        bridge.raise_result = c.raise_result;
        installed(c.installed[0], c.installed[1], c.installed[2]);
        record(c.pending);
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(lines(), c.lines);
        EXPECT_EQ(bridge.raised, std::vector<Sessions>{c.pending.sessions});
        EXPECT_TRUE(bridge.closed.empty());
        EXPECT_EQ(file("downloaded-setup.exe"), "<none>");
        EXPECT_EQ(file("rollback-setup.exe"), c.rollback_left);
        EXPECT_EQ(file("installed-setup.exe"), c.installed_left);
        EXPECT_EQ(state(), (State{false, {}, c.failed, std::nullopt, std::nullopt}));
        EXPECT_TRUE(fake.processes.launches.empty());
    }
}

// Phase two reports to the prefix its record kept, after the state is
// written; a report that fails leaves everything as without it.
TEST_F(PhaseTwoTest, OutcomesAreReportedToTheRecordsPrefix) {
    const std::string here = "https://localhost/r/";
    struct Case {
        const char* what;
        std::uint16_t major;  // of the installed version
        RaiseOutcome raise_result;
        std::string prefix;   // kept in the record
        bool copy, disabled, unreachable;
        Lines lines;
        std::string reported;  // the report's path, "" for none
    };
    using enum RaiseOutcome;
    const std::vector<Case> cases = {
        // The server holds no such file: its 404 is an answer.
        {"updated", 2, up, here, true, false, false, {"updated 0", "report sent 0"}, "/r/updated/1.0.0/2.0.0"},
        {"not installed", 1, up, here, true, false, false, {"setup did not install 0", "report sent 0"},
         "/r/not-installed/1.0.0/2.0.0"},
        {"rolled back", 2, not_up, here, true, false, false,
         {"did not start: rollback started 0", "report sent 0"}, "/r/rolled-back/1.0.0/2.0.0"},
        {"no copy to roll back to", 2, not_up, here, false, false, false,
         {"did not start, and there is no copy to roll back to 0"}, ""},
        {"a kept prefix off the update host", 2, up, "https://elsewhere/r/", true, false, false,
         {"updated 0"}, ""},
        {"disabled since", 2, up, here, true, true, false, {"updated 0", "policy: reports disabled 0"}, ""},
        {"no answer", 2, up, here, true, false, true, {"updated 0", "report not sent 12029"},
         "/r/updated/1.0.0/2.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.files.files.erase(dir + "\\updater.log");
        fake.https.requests.clear();
        if (c.unreachable) fake.https.serve("https://localhost" + c.reported, fakes::FakeHttpsResponse{true});
        fake.system.policy_numbers = {{"DisableReports", c.disabled ? 1 : 0}};
        context.feed_url = "https://localhost/tamsel/news.toml";
        bridge = fakes::ScriptedBridge{};
        bridge.raise_result = c.raise_result;
        installed(c.major, 0, 0);
        record(Pending{"2.0.0", "1.0.0", {1}, c.copy, false, now_unix - 60, c.prefix});
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(lines(), c.lines);
        std::vector<std::string> paths;
        for (const HttpsRequest& request : fake.https.requests) paths.push_back(request.path);
        EXPECT_EQ(paths, c.reported.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.reported});
        EXPECT_EQ(state().pending.has_value(), c.lines[0] == "did not start: rollback started 0");
    }
}

TEST_F(PhaseTwoTest, ANewVersionThatDoesNotComeUpIsRolledBack) {
    record(update_in_flight, {"2.0.0", "1.5.0"});  // failed before: not listed twice
    fake.clock.advance_ms(30'000);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), Lines{"did not start: rollback started 0"});
    EXPECT_EQ(bridge.closed, (Sessions{1, 4}));
    ASSERT_EQ(fake.processes.launches.size(), 1u);
    EXPECT_EQ(fake.processes.launches[0].application, dir + "\\rollback-setup.exe");
    EXPECT_EQ(fake.processes.launches[0].command_line,
              "\"" + dir + "\\rollback-setup.exe\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /UPDATE \"/LOG=" + dir +
                  "\\setup.log\"");
    const State s = state();
    EXPECT_EQ(s.failed, (std::vector<std::string>{"2.0.0", "1.5.0"}));
    EXPECT_EQ(s.pending, (Pending{"2.0.0", "1.0.0", {1, 4}, true, true, now_unix + 30}));
}

TEST_F(PhaseTwoTest, RollbackFailures) {
    struct Case {
        const char* what;
        std::function<void(PhaseTwoTest&)> arrange;
        int exit_code;
        Lines lines;
        bool record_kept;
        Sessions closed;
        std::size_t setup_starts;  // tried, made or not
        std::vector<Sessions> raised;  // closed for the rollback, then started again where it did not go ahead
    };
    const std::vector<Case> cases = {
        // Nothing to roll back to: the program is left running where it runs.
        {"copy gone meanwhile", [](PhaseTwoTest& t) { t.fake.files.files.erase(t.dir + "\\rollback-setup.exe"); },
         exit_code::done, {"did not start, and there is no copy to roll back to 0"}, false, {}, 0, {{1, 4}}},
        {"rollback does not start",
         [](PhaseTwoTest& t) {
             t.fake.processes.on_start = [](const fakes::FakeLaunch&) { return fakes::FakeStartResult{false}; };
         },
         exit_code::done, {"did not start: rollback not started 0"}, false, {1, 4}, 1, {{1, 4}, {1, 4}}},
        // Without its record a rollback would run unseen by the next phase two.
        {"its record cannot be written", [](PhaseTwoTest& t) { t.fake.files.fail_replace = true; },
         exit_code::state_unusable, {"state not written 0"}, true, {1, 4}, 0, {{1, 4}, {1, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.files.files.erase(dir + "\\updater.log");
        fake.files.fail_replace = false;
        fake.processes.on_start = nullptr;
        fake.processes.launches.clear();
        bridge = fakes::ScriptedBridge{};
        record(update_in_flight);
        c.arrange(*this);
        bridge = fakes::ScriptedBridge{};
        EXPECT_EQ(run(), c.exit_code);
        EXPECT_EQ(lines(), c.lines);
        EXPECT_EQ(bridge.raised, c.raised);
        EXPECT_EQ(bridge.closed, c.closed);
        EXPECT_EQ(fake.processes.launches.size(), c.setup_starts);
        fake.files.fail_replace = false;
        EXPECT_EQ(state().failed, c.record_kept ? std::vector<std::string>{} : std::vector<std::string>{"2.0.0"});
        EXPECT_EQ(state().pending, c.record_kept ? std::optional<Pending>(update_in_flight) : std::nullopt);
    }
}

TEST_F(PhaseTwoTest, NothingInFlightOrAnUnreadableStateTouchesNothing) {
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), Lines{"phase two: nothing in flight 0"});
    EXPECT_EQ(file("downloaded-setup.exe"), "setup 2.0.0");
    fake.files.files[state_path] = "pending = 3\r\n";
    EXPECT_EQ(run(), exit_code::state_unusable);
    EXPECT_EQ(lines(), (Lines{"phase two: nothing in flight 0", "state unreadable 0"}));
    EXPECT_EQ(file("downloaded-setup.exe"), "setup 2.0.0");
    EXPECT_TRUE(bridge.raised.empty());
}

TEST_F(PhaseTwoTest, TheWaitForTheSetupMutex) {
    struct Case {
        const char* what;
        std::int64_t clock;
        std::optional<std::uint64_t> gone_after_ms;  // nothing: never
        std::int64_t wall_step_s;                    // the wall clock set by this much at the first look
        std::uint64_t slept_ms;
        bool did_not_end;
    };
    const auto now = static_cast<std::int64_t>(now_unix);
    // Only time that passed counts, whatever the wall clock does.
    const std::vector<Case> cases = {
        {"no mutex", now, 0, 0, 0, false},
        {"gone at 179.5 s", now, 179'500, 0, 179'500, false},
        {"never gone", now, std::nullopt, 0, 180'000, true},
        {"never gone, clock before 1970", -1'000, std::nullopt, 0, 180'000, true},
        {"never gone, clock set an hour forward", now, std::nullopt, 3'600, 180'000, true},
        {"never gone, clock set a day back", now, std::nullopt, -86'400, 180'000, true},
        {"gone at 100 s, clock set forward", now, 100'000, 3'600, 100'000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.files.files.erase(dir + "\\updater.log");
        fake.clock.set_unix(c.clock);
        fake.clock.slept_ms = 0;
        const std::uint64_t start = fake.clock.monotonic;
        bool stepped = false;
        fake.system.mutex_exists_hook = [this, start, c, &stepped](const std::string& name) {
            EXPECT_EQ(name, "Global\\Tam_Sel.Setup");
            if (!stepped) fake.clock.set_unix(c.clock + c.wall_step_s);
            stepped = true;
            return !c.gone_after_ms || fake.clock.monotonic - start < *c.gone_after_ms;
        };
        fake.clock.sleeps.clear();
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(fake.clock.slept_ms, c.slept_ms);
        EXPECT_EQ(fake.clock.sleeps, std::vector<std::uint32_t>(c.slept_ms / 500, 500));  // polled every 500 ms
        const Lines expected = c.did_not_end ? Lines{"phase two: the installer did not end 0", "phase two: nothing in flight 0"}
                                             : Lines{"phase two: nothing in flight 0"};
        EXPECT_EQ(lines(), expected);
    }
}

}  // namespace
}  // namespace tamsel

namespace tamsel {
namespace {

// Clean-up writes are not checked: the verdict and exit code stay, and the
// file keeps the record for a later check run to give up.
TEST_F(PhaseTwoTest, AFailedCleanUpWriteKeepsTheVerdictAndTheRecord) {
    for (const bool installed_it : {true, false}) {
        SetUp();
        fake.files.files.erase(dir + "\\updater.log");
        bridge.raise_result = RaiseOutcome::up;
        installed(installed_it ? 2 : 1, 0, 0);
        record(update_in_flight);
        fake.files.fail_create_paths = {state_path + ".tmp"};
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(lines(), Lines{installed_it ? "updated 0" : "setup did not install 0"});
        EXPECT_EQ(state().pending, update_in_flight);
        fake.files.fail_create_paths.clear();
    }
}

TEST_F(InstallationTest, AFailedCleanUpWriteStillPutsTheRollbackCopyBack) {
    fake.processes.on_start = [this](const fakes::FakeLaunch&) {
        fake.files.fail_create_paths = {state_path + ".tmp"};  // the record was written; the clean-up fails
        return fakes::FakeStartResult{false};
    };
    EXPECT_EQ(start(), exit_code::done);
    EXPECT_EQ(lines(), (Lines{"download verified 0", "setup not started 0", "report sent 0"}));
    EXPECT_EQ(fake.https.requests.back().path, "/r/not-started/1.0.0/2.0.0");
    EXPECT_EQ(file("installed-setup.exe"), "setup 1.0.0");
    EXPECT_TRUE(state().pending.has_value());  // given up by a later check run after an hour
}

}  // namespace
}  // namespace tamsel

namespace tamsel {
namespace {

// Day after day the offer's setup leaves itself as installed-setup.exe and
// installs nothing: the installed version's setup must stay in place for
// the day an update does install and then fails to start.
TEST_F(PhaseTwoTest, ASetupThatNeverInstallsNeverCostsTheGoodCopy) {
    fake.files.files = {{dir + "\\installed-setup.exe", "setup 1.0.0"}};
    installed(1, 0, 0);
    bridge.sessions = {1};
    bridge.raise_result = RaiseOutcome::up;
    fake.processes.on_start = [this](const fakes::FakeLaunch& launch) {
        fake.files.files[dir + "\\installed-setup.exe"] = fake.files.files[launch.application];
        return fakes::FakeStartResult{};
    };
    for (int day = 0; day < 2; ++day) {
        SCOPED_TRACE("day " + std::to_string(day + 1));
        fake.files.files.erase(dir + "\\updater.log");
        EXPECT_EQ(start(), exit_code::done);
        EXPECT_EQ(file("installed-setup.exe"), "MZ setup 2.0.0");
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(lines(), (Lines{"download verified 0", "setup started 0", "setup did not install 0"}));
        EXPECT_EQ(file("installed-setup.exe"), "setup 1.0.0");
        EXPECT_EQ(file("rollback-setup.exe"), "<none>");
    }
}

}  // namespace
}  // namespace tamsel
