#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "entry/log.h"
#include "fakes/fake_platform.h"
#include "session/census.h"
#include "session/raise_close.h"
#include "session/window_helper.h"

namespace tamsel {
namespace {

using Lines = std::vector<std::string>;
using Sessions = std::vector<std::uint32_t>;

const std::string program = "C:\\Program Files\\Tamsel\\Tamsel.exe";
const std::string updater = "C:\\Program Files\\Tamsel\\tamsel-update.exe";
const std::string update_dir = "C:\\ProgramData\\Tam_Sel\\update";

struct CensusCase {
    const char* what;
    std::string program_path;
    std::vector<fakes::FakeProcess> processes;
    std::vector<CensusEntry> census;
    Sessions sessions;
    std::map<std::string, std::string> final_paths = {};  // each openable spelling's final NT path
};

fakes::FakeProcess process(std::uint32_t id, std::uint32_t session, std::optional<std::string> path = program,
                           std::string name = "Tamsel.exe", std::optional<std::string> nt_path = std::nullopt) {
    fakes::FakeProcess p;
    p.process_id = id;
    p.session_id = session;
    p.path = std::move(path);
    p.name = std::move(name);
    p.nt_path = std::move(nt_path);
    return p;
}

TEST(Census, FindsTheInstalledProgramInEverySession) {
    const std::string nt_program = fakes::nt_form(program);
    const std::string long_path = "C:\\" + std::string(300, 'x') + "\\Tamsel.exe";
    const std::vector<CensusCase> cases = {
        {"nothing running", program, {}, {}, {}},
        {"name and path in capitals", program,
         {process(7, 1, "C:\\PROGRAM FILES\\TAMSEL\\TAMSEL.EXE", "TAMSEL.EXE")}, {{7, 1}}, {1}},
        {"the same name from another folder", program, {process(7, 1, "C:\\Temp\\Tamsel.exe")}, {}, {}},
        {"the right path under another name", program, {process(7, 1, program, "Tamsel2.exe")}, {}, {}},
        {"two in session 2, one in session 1", program,
         {process(4, 2), process(5, 1), process(6, 2)}, {{4, 2}, {5, 1}, {6, 2}}, {1, 2}},
        {"sessions reported as 5, 3, 5", program,
         {process(1, 5), process(2, 3), process(3, 5)}, {{1, 5}, {2, 3}, {3, 5}}, {3, 5}},
        {"a process that cannot be opened is skipped", program,
         {process(1, 1, std::nullopt), process(2, 4)}, {{2, 4}}, {4}},
        // Read whole however long, so a decoy beside the program is compared, not guessed at.
        {"an image path of 260 units or more", long_path, {process(1, 1, long_path)}, {{1, 1}}, {1}},
        {"a long decoy beside the program", program, {process(1, 1, long_path), process(2, 1)}, {{2, 1}}, {1}},
        // Full lower-casing: U+0130 becomes "i" and U+0307 on both sides.
        {"a folder name outside ASCII", "C:\\\xC4\xB0stanbul\\Tamsel.exe",
         {process(9, 3, "C:\\i\xCC\x87STANBUL\\TAMSEL.exe")}, {{9, 3}}, {3}},
        {"an invalid program path still compares", "C:\\\xFF\\Tamsel.exe",
         {process(9, 3, "C:\\\xEF\xBF\xBD\\Tamsel.exe")}, {{9, 3}}, {3}},
        // Another spelling of the same file: the updater started by an 8.3
        // name or through a junction, or the image's Win32 form read through
        // a drive letter of another mapping; its NT name is the file's.
        {"the program path with an 8.3 folder name", "C:\\PROGRA~1\\Tamsel\\Tamsel.exe",
         {process(7, 1)}, {{7, 1}}, {1}, {{"C:\\PROGRA~1\\Tamsel\\Tamsel.exe", nt_program}}},
        {"the program path through a junction", "C:\\Apps\\Tamsel\\Tamsel.exe",
         {process(7, 2)}, {{7, 2}}, {2}, {{"C:\\Apps\\Tamsel\\Tamsel.exe", nt_program}}},
        {"the image read through a subst drive", program,
         {process(7, 1, "Z:\\Tamsel\\Tamsel.exe", "Tamsel.exe", nt_program)}, {{7, 1}}, {1}, {{program, nt_program}}},
        {"another copy of the program elsewhere", program,
         {process(7, 1, "C:\\Temp\\Tamsel.exe")}, {}, {}, {{program, nt_program}}},
    };
    for (const CensusCase& c : cases) {
        fakes::FakePlatform fake;
        fake.processes.table = c.processes;
        fake.processes.final_paths = c.final_paths;
        fake.processes.table.push_back(process(99, 1, "C:\\Windows\\explorer.exe", "explorer.exe"));
        EXPECT_EQ(find_program_processes(fake.processes, c.program_path), c.census) << c.what;
        EXPECT_EQ(program_sessions(fake.processes, c.program_path), c.sessions) << c.what;
    }
}

TEST(Census, AFailedEnumerationFindsNothing) {
    fakes::FakePlatform fake;
    fake.processes.run_program(program, 1);
    fake.processes.fail_enumerate = true;
    EXPECT_TRUE(find_program_processes(fake.processes, program).empty());
    EXPECT_TRUE(program_sessions(fake.processes, program).empty());
}

class BridgeTest : public ::testing::Test {
protected:
    fakes::FakePlatform fake;
    Log log{fake.files, fake.clock, fake.event_log, update_dir};

    void SetUp() override {
        fake.system.exe_path = updater;
        fake.files.folders.insert(update_dir);
    }
    Lines lines() const { return fakes::log_messages(fake.files, update_dir + "\\updater.log"); }
    bool close(std::uint32_t session) { return close_program(fake.platform, session, program, log); }
    RaiseOutcome raise(const Sessions& sessions) { return raise_program(fake.platform, sessions, program, log); }
    // The program closes itself `after_ms` after a close helper is started.
    void program_obeys_after(std::uint32_t pid, std::uint64_t after_ms) {
        fake.processes.on_start = [this, pid, after_ms](const fakes::FakeLaunch& launch) {
            if (launch.command_line.ends_with(" /close")) fake.processes.find(pid)->ends_at = launch.at + after_ms;
            return fakes::FakeStartResult{};
        };
    }
};

TEST_F(BridgeTest, CloseWhereTheProgramDoesNotRunDoesNothing) {
    fake.processes.run_program(program, 2);
    EXPECT_TRUE(close(1));
    EXPECT_EQ(lines(), Lines{});
    EXPECT_TRUE(fake.processes.launches.empty());
}

TEST_F(BridgeTest, AProgramThatObeysClosesByItself) {
    const auto pid = fake.processes.run_program(program, 3);
    program_obeys_after(pid, 1'200);
    EXPECT_TRUE(close(3));
    EXPECT_EQ(lines(), (Lines{"close: asked politely 3", "close: the program closed by itself 3"}));
    ASSERT_EQ(fake.processes.launches.size(), 1u);
    const fakes::FakeLaunch& helper = fake.processes.launches[0];
    EXPECT_EQ(helper.token, "own:3");
    EXPECT_EQ(helper.application, updater);
    EXPECT_EQ(helper.command_line, "\"" + updater + "\" /close");
    EXPECT_EQ(fake.clock.slept_ms, 1'500u);
    EXPECT_TRUE(fake.processes.terminated.empty());
    EXPECT_EQ(fake.processes.open_handles, 0);
}

// The polite wait is ten seconds of the monotonic clock, whatever the wall
// clock does meanwhile, and however the censuses fare.
TEST_F(BridgeTest, ThePoliteWaitLastsTenSecondsOfTheMonotonicClock) {
    struct Case {
        const char* what;
        std::int64_t start_unix;
        std::uint64_t into_second_ms;
        std::int64_t step_seconds;  // the wall clock set this far at the third pause
        bool census_fails;
        Lines lines;
    };
    const Lines forced{"close: asked politely 1", "close: ended 1"};
    const std::vector<Case> cases = {
        {"a steady clock", 1'790'000'000, 0, 0, false, forced},
        {"half way into a second", 1'790'000'000, 500, 0, false, forced},
        {"set a day forward", 1'790'000'000, 0, 86'400, false, forced},
        {"set a day back", 1'790'000'000, 0, -86'400, false, forced},
        {"before 1970", -5'000, 0, 0, false, forced},
        {"set back before 1970", 1'790'000'000, 0, -1'790'000'100, false, forced},
        {"a census that keeps failing", 1'790'000'000, 0, 0, true, {"close: asked politely 1", "close: still running 1"}},
    };
    for (const Case& c : cases) {
        fakes::FakePlatform f;
        f.system.exe_path = updater;
        f.files.folders.insert(update_dir);
        Log fresh_log{f.files, f.clock, f.event_log, update_dir};
        f.clock.set_unix(c.start_unix);
        f.clock.advance_ms(c.into_second_ms);
        f.clock.after_sleep = [&c](fakes::FakeClock& clock) {
            if (clock.sleeps.size() == 3) clock.now += static_cast<std::uint64_t>(c.step_seconds * 10'000'000);
        };
        const auto pid = f.processes.run_program(program, 1);
        if (c.census_fails) {
            f.processes.on_start = [&f](const fakes::FakeLaunch&) {
                f.processes.fail_enumerate = true;
                return fakes::FakeStartResult{};
            };
        }
        EXPECT_EQ(close_program(f.platform, 1, program, fresh_log), !c.census_fails) << c.what;
        EXPECT_EQ(fakes::log_messages(f.files, update_dir + "\\updater.log"), c.lines) << c.what;
        EXPECT_EQ(f.clock.slept_ms, 10'000u + 2'000u) << c.what;
        EXPECT_EQ(f.clock.sleeps.back(), 2'000u) << c.what;
        if (!c.census_fails) EXPECT_EQ(f.processes.terminated, std::vector<std::uint32_t>{pid}) << c.what;
    }
}

// A Tamsel.exe whose path cannot be read may be the program: while closing
// it counts as running, though the census for counting and raising skips it.
TEST_F(BridgeTest, WhileClosingAProcessThatCannotBeReadMayStillRun) {
    struct Case {
        const char* what;
        std::uint32_t unreadable_session;
        std::optional<std::uint64_t> unreadable_ends_ms;
        bool result;
        Lines lines;
        std::uint64_t slept_ms;
    };
    const std::vector<Case> cases = {
        {"stays in the session", 1, std::nullopt, false, {"close: asked politely 1", "close: still running 1"}, 12'000},
        {"ends after 3 s", 1, 3'000, true, {"close: asked politely 1", "close: the program closed by itself 1"}, 3'000},
        {"in another session", 2, std::nullopt, true,
         {"close: asked politely 1", "close: the program closed by itself 1"}, 1'500},
    };
    for (const Case& c : cases) {
        fakes::FakePlatform f;
        f.system.exe_path = updater;
        f.files.folders.insert(update_dir);
        Log fresh_log{f.files, f.clock, f.event_log, update_dir};
        const auto pid = f.processes.run_program(program, 1);
        const auto unreadable = f.processes.run_program(program, c.unreadable_session);
        f.processes.find(unreadable)->path.reset();
        if (c.unreadable_ends_ms) f.processes.find(unreadable)->ends_at = f.clock.monotonic + *c.unreadable_ends_ms;
        f.processes.on_start = [&f, pid](const fakes::FakeLaunch& launch) {
            f.processes.find(pid)->ends_at = launch.at + 1'200;
            return fakes::FakeStartResult{};
        };
        EXPECT_EQ(close_program(f.platform, 1, program, fresh_log), c.result) << c.what;
        EXPECT_EQ(fakes::log_messages(f.files, update_dir + "\\updater.log"), c.lines) << c.what;
        EXPECT_EQ(f.clock.slept_ms, c.slept_ms) << c.what;
        EXPECT_TRUE(f.processes.terminated.empty()) << c.what;  // what cannot be checked is never ended
    }
    fakes::FakePlatform f;  // the census for counting and raising is unchanged
    f.processes.find(f.processes.run_program(program, 1))->path.reset();
    EXPECT_TRUE(program_sessions(f.processes, program).empty());
}

// Beside the program (which ignores the polite request), a Tamsel.exe that is
// not it: on a share, through the redirector, on a device path, on a path too
// long for MAX_PATH, or a copy elsewhere. None is counted, ended or watched,
// and nothing but the program's own path is opened (the fake throws on any
// other that is not on a local drive).
TEST_F(BridgeTest, DecoysAreNeverTheProgramAndNeverOpened) {
    for (const std::string& decoy :
         {std::string("\\\\host\\share\\Tamsel.exe"), std::string("\\\\?\\UNC\\host\\share\\Tamsel.exe"),
          std::string("\\\\localhost@8080\\x\\Tamsel.exe"), std::string("\\\\.\\GLOBALROOT\\Device\\Mup\\h\\Tamsel.exe"),
          "C:\\" + std::string(300, 'x') + "\\Tamsel.exe", std::string("C:\\Temp\\Tamsel.exe")}) {
        SCOPED_TRACE(decoy);
        fakes::FakePlatform f;
        f.system.exe_path = updater;
        f.files.folders.insert(update_dir);
        f.processes.final_paths = {{program, fakes::nt_form(program)}};
        Log fresh_log{f.files, f.clock, f.event_log, update_dir};
        const auto fake_pid = f.processes.run_program(decoy, 1);
        const auto real_pid = f.processes.run_program(program, 1);
        f.desktop.add_window(0, std::nullopt, "Tamsel.Hidden", fake_pid);
        const WindowId real_window = f.desktop.add_window(0, std::nullopt, "Tamsel.Hidden", real_pid);
        EXPECT_EQ(find_program_processes(f.processes, program), (std::vector<CensusEntry>{{real_pid, 1}}));
        EXPECT_EQ(find_program_window(f.platform, program), std::optional<WindowId>(real_window));
        EXPECT_TRUE(close_program(f.platform, 1, program, fresh_log));
        EXPECT_EQ(fakes::log_messages(f.files, update_dir + "\\updater.log"),
                  (Lines{"close: asked politely 1", "close: ended 1"}));
        EXPECT_EQ(f.processes.terminated, std::vector<std::uint32_t>{real_pid});
        for (const std::string& opened : f.processes.opened_paths) EXPECT_EQ(opened, program);
    }
}

TEST_F(BridgeTest, AProgramThatIgnoresTheRequestIsEndedInItsSessionOnly) {
    const auto first = fake.processes.run_program(program, 2);
    const auto elsewhere = fake.processes.run_program(program, 5);
    const auto second = fake.processes.run_program(program, 2);
    EXPECT_TRUE(close(2));
    EXPECT_EQ(lines(), (Lines{"close: asked politely 2", "close: ended 2"}));
    EXPECT_EQ(fake.processes.terminated, (std::vector<std::uint32_t>{first, second}));
    EXPECT_EQ(fake.processes.find(first)->exit_code, 1u);
    EXPECT_TRUE(fake.processes.alive(*fake.processes.find(elsewhere)));
}

// The program ends at the force step's deadline and its id goes to another
// process before the updater opens it: only a process checked through the
// handle it is ended with is ever ended.
TEST_F(BridgeTest, AnIdReusedBeforeTheForceStepEndsNoStranger) {
    struct Case {
        const char* what;
        std::optional<std::string> reused_by;  // image path of the newcomer; nothing: no reuse
        bool newcomer_ended;
    };
    const std::vector<Case> cases = {
        {"no reuse", std::nullopt, false},
        {"a stranger's process", "C:\\Windows\\System32\\notepad.exe", false},
        {"Tamsel.exe of another folder", "C:\\Temp\\Tamsel.exe", false},
        {"the program started again", program, true},
    };
    for (const Case& c : cases) {
        fakes::FakePlatform f;
        f.system.exe_path = updater;
        f.files.folders.insert(update_dir);
        Log fresh_log{f.files, f.clock, f.event_log, update_dir};
        const auto pid = f.processes.run_program(program, 1);
        f.processes.before_open = [&f, &c, pid](std::uint32_t opened) {
            if (!c.reused_by || opened != pid || f.processes.table.size() > 2) return;
            f.processes.find(pid)->ends_at = f.clock.monotonic;
            fakes::FakeProcess newcomer;
            newcomer.process_id = pid;
            newcomer.session_id = 1;
            newcomer.path = c.reused_by;
            newcomer.name = c.reused_by->substr(c.reused_by->rfind('\\') + 1);
            f.processes.table.push_back(newcomer);
        };
        close_program(f.platform, 1, program, fresh_log);
        const bool reused = c.reused_by.has_value();
        EXPECT_EQ(f.processes.terminated, reused && !c.newcomer_ended ? std::vector<std::uint32_t>{}
                                                                       : std::vector<std::uint32_t>{pid}) << c.what;
        if (reused) EXPECT_EQ(f.processes.alive(f.processes.table.back()), !c.newcomer_ended) << c.what;
        EXPECT_EQ(f.processes.open_handles, 0) << c.what;
    }
}

TEST_F(BridgeTest, AProgramThatSurvivesIsStillRunning) {
    const auto pid = fake.processes.run_program(program, 1);
    fake.processes.find(pid)->survives_terminate = true;
    EXPECT_FALSE(close(1));
    EXPECT_EQ(lines(), (Lines{"close: asked politely 1", "close: still running 1"}));
}

TEST_F(BridgeTest, WithoutAHelperTheProgramIsEndedAtOnce) {
    for (int failure = 0; failure < 4; ++failure) {
        fakes::FakePlatform fresh;
        fresh.system.exe_path = updater;
        fresh.files.folders.insert(update_dir);
        Log fresh_log{fresh.files, fresh.clock, fresh.event_log, update_dir};
        fresh.processes.run_program(program, 1);
        if (failure == 0) fresh.system.exe_path.reset();
        if (failure == 1) fresh.processes.fail_duplicate = true;
        if (failure == 2) fresh.processes.fail_set_session = true;
        if (failure == 3) fresh.processes.on_start = [](const fakes::FakeLaunch&) { return fakes::FakeStartResult{false}; };
        EXPECT_TRUE(close_program(fresh.platform, 1, program, fresh_log));
        EXPECT_EQ(fakes::log_messages(fresh.files, update_dir + "\\updater.log"),
                  (Lines{"close: the helper did not start 1", "close: ended 1"}));
        EXPECT_EQ(fresh.clock.sleeps, std::vector<std::uint32_t>{2'000}) << failure;
        EXPECT_EQ(fresh.processes.open_handles, 0);
    }
}

TEST_F(BridgeTest, RaiseOfNoSessionsIsTrueAndSilent) {
    EXPECT_EQ(raise({}), RaiseOutcome::up);
    EXPECT_EQ(lines(), Lines{});
    EXPECT_TRUE(fake.processes.launches.empty());
}

TEST_F(BridgeTest, RaiseStartsTheProgramAsTheUserThenConfirmsItsWindow) {
    fake.processes.logged_on = {1, 4};
    fake.processes.run_program(program, 4);  // already up there: nothing started
    EXPECT_EQ(raise({4, 1}), RaiseOutcome::up);
    EXPECT_EQ(lines(), Lines{});
    ASSERT_EQ(fake.processes.launches.size(), 3u);
    EXPECT_EQ(fake.processes.launches[0].token, "user:1");
    EXPECT_EQ(fake.processes.launches[0].application, "C:\\Windows\\explorer.exe");
    EXPECT_EQ(fake.processes.launches[0].command_line, "\"C:\\Windows\\explorer.exe\" \"" + program + "\"");
    EXPECT_EQ(fake.processes.launches[0].environment, "user:1");  // the user's own, freed after the start
    EXPECT_EQ(fake.processes.launches[1].environment, "");        // the helper keeps the updater's
    EXPECT_EQ(fake.processes.launches[1].token, "own:4");
    EXPECT_EQ(fake.processes.launches[1].command_line, "\"" + updater + "\" /window");
    EXPECT_EQ(fake.processes.launches[2].token, "own:1");
    EXPECT_EQ(fake.processes.open_handles, 0);
}

TEST_F(BridgeTest, EveryHelperStartsBeforeTheFirstWait) {
    fake.processes.logged_on = {1, 2, 3};
    fake.processes.on_start = [](const fakes::FakeLaunch& launch) {
        return fakes::FakeStartResult{true, launch.command_line.ends_with("/window") ? 70'000u : 0u, 0};
    };
    const std::uint64_t start = fake.clock.monotonic;
    EXPECT_EQ(raise({1, 2, 3}), RaiseOutcome::up);
    for (const auto& helper : fake.processes.launches_ending("/window")) EXPECT_EQ(helper.at, start);
    EXPECT_EQ(fake.clock.monotonic - start, 70'000u);  // side by side, not 210 s
}

TEST_F(BridgeTest, RaiseVerdictsPerSession) {
    struct Case {
        const char* what;
        std::function<void(fakes::FakePlatform&)> arrange;
        RaiseOutcome result;
        Lines lines;
        std::vector<std::uint32_t> waits;  // the helper's wait, when one was made
        bool helper_still_runs = false;
    };
    using enum RaiseOutcome;
    const auto helper_result = [](fakes::FakeStartResult helper) {
        return [helper](fakes::FakePlatform& f) {
            f.processes.on_start = [helper](const fakes::FakeLaunch& launch) {
                return launch.command_line.ends_with("/window") ? helper : fakes::FakeStartResult{};
            };
        };
    };
    const std::string no_verdict = "raise: the window helper gave no verdict 6";
    const std::vector<Case> cases = {
        // A helper started there anyway would fail: a session dropped from
        // the raise is not watched, and nothing else is.
        {"nobody logged on",
         [helper_result](fakes::FakePlatform& f) {
             f.processes.logged_on.clear();
             helper_result({true, 0, 8})(f);
         },
         unwatched, {"raise: nobody in the session 6"}, {}},
        // What the updater could not start is no verdict on the program: no
        // helper watches an empty desktop there.
        {"no Windows folder",
         [helper_result](fakes::FakePlatform& f) {
             f.system.windows_folder.reset();
             helper_result({true, 0, 8})(f);
         },
         unwatched, {"raise: start refused 6"}, {}},
        {"no environment block: the program starts with ours",
         [](fakes::FakePlatform& f) { f.processes.fail_environment = true; }, up, {}, {85'000}},
        {"the shell not started", [](fakes::FakePlatform& f) {
             f.processes.on_start = [](const fakes::FakeLaunch& launch) {
                 return fakes::FakeStartResult{launch.token != "user:6", 0, 8};
             };
         }, unwatched, {"raise: start refused 6"}, {}},
        {"own path unknown", [](fakes::FakePlatform& f) { f.system.exe_path.reset(); }, unwatched,
         {"raise: the window helper did not start 6"}, {}},
        {"helper not created", helper_result({false}), unwatched, {"raise: the window helper did not start 6"}, {}},
        // Only the helper's own report counts against the program.
        {"window never up", helper_result({true, 60'000, 8}), not_up,
         {"raise: the program's window did not appear or did not live 6"}, {85'000}},
        {"helper ended from outside", helper_result({true, 3'000, 0x40010004}), unwatched, {no_verdict}, {85'000}},
        {"helper not the system account", helper_result({true, 0, 2}), unwatched, {no_verdict}, {85'000}},
        {"helper hangs", helper_result({true, std::nullopt, 0}), unwatched, {no_verdict}, {85'000}, true},
        {"wait fails", [](fakes::FakePlatform& f) { f.processes.fail_wait = true; }, unwatched, {no_verdict},
         {85'000}},
        {"exit code unreadable", [](fakes::FakePlatform& f) { f.processes.fail_exit_code = true; }, unwatched,
         {no_verdict}, {85'000}},
    };
    for (const Case& c : cases) {
        fakes::FakePlatform f;
        f.system.exe_path = updater;
        f.files.folders.insert(update_dir);
        f.processes.logged_on = {6};
        c.arrange(f);
        Log fresh_log{f.files, f.clock, f.event_log, update_dir};
        EXPECT_EQ(raise_program(f.platform, {6}, program, fresh_log), c.result) << c.what;
        EXPECT_EQ(fakes::log_messages(f.files, update_dir + "\\updater.log"), c.lines) << c.what;
        EXPECT_EQ(f.processes.open_handles, 0) << c.what;  // every helper's handle closed
        EXPECT_TRUE(f.processes.terminated.empty()) << c.what;  // a hanging helper is left running
        std::size_t helpers_running = 0;
        for (const fakes::FakeProcess& p : f.processes.table)
            if (p.path == updater && f.processes.alive(p)) ++helpers_running;
        EXPECT_EQ(helpers_running, c.helper_still_runs ? 1u : 0u) << c.what;
        EXPECT_EQ(f.processes.waits_ms, c.waits) << c.what;
    }
}

// Over several sessions a watched failure anywhere outweighs what could not
// be watched elsewhere; a session left by its user leaves the others' verdict.
TEST_F(BridgeTest, RaiseVerdictOverSessions) {
    struct Case {
        const char* what;
        std::map<std::uint32_t, std::uint32_t> helper_codes;  // by session; absent: helper not created
        std::set<std::uint32_t> logged_on;
        RaiseOutcome result;
    };
    const std::vector<Case> cases = {
        {"all confirmed, one user gone", {{1, 0}, {2, 0}}, {1, 2}, RaiseOutcome::up},
        {"one not up, one unwatched", {{1, 8}}, {1, 2}, RaiseOutcome::not_up},
        {"one unwatched, one confirmed", {{2, 0}}, {1, 2}, RaiseOutcome::unwatched},
        {"every user gone", {}, {}, RaiseOutcome::unwatched},
    };
    for (const Case& c : cases) {
        fakes::FakePlatform f;
        f.system.exe_path = updater;
        f.files.folders.insert(update_dir);
        f.processes.logged_on = c.logged_on;
        f.processes.on_start = [&c](const fakes::FakeLaunch& launch) {
            if (!launch.command_line.ends_with("/window")) return fakes::FakeStartResult{};
            const auto code = c.helper_codes.find(static_cast<std::uint32_t>(std::stoul(launch.token.substr(4))));
            if (code == c.helper_codes.end()) return fakes::FakeStartResult{false};
            return fakes::FakeStartResult{true, 0, code->second};
        };
        Log fresh_log{f.files, f.clock, f.event_log, update_dir};
        EXPECT_EQ(raise_program(f.platform, {1, 2, 3}, program, fresh_log), c.result) << c.what;
    }
}

}  // namespace
}  // namespace tamsel
