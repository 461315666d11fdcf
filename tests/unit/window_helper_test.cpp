#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "app/product_modes.h"
#include "entry/entry.h"
#include "entry/exit_codes.h"
#include "session/window_helper.h"
#include "fakes/fake_platform.h"

namespace tamsel {
namespace {

// The program beside the fake's updater, as the helper derives it.
const std::string program = "C:\\Program Files\\Tamsel\\Tamsel.exe";

// A window of the program's class made by a process running `path`; an
// empty path: a window whose process is not known.
WindowId add_window_of(fakes::FakePlatform& fake, std::uint64_t appears, std::optional<std::uint64_t> dies = std::nullopt,
                       const std::string& path = program) {
    const std::uint32_t pid = path.empty() ? 0 : fake.processes.run_program(path, 1, path.substr(path.rfind('\\') + 1));
    return fake.desktop.add_window(appears, dies, "Tamsel.Hidden", pid);
}

struct WindowCase {
    const char* what;
    std::vector<std::pair<std::uint64_t, std::optional<std::uint64_t>>> windows;  // appears, dies (ms from start)
    int exit_code;
    std::uint64_t elapsed_ms;
};

TEST(WindowMode, TimingOfTheLookAndTheWatch) {
    const std::vector<WindowCase> cases = {
        {"present from the start and staying", {{0, std::nullopt}}, exit_code::done, 10'000},
        {"appearing after 30 s", {{30'000, std::nullopt}}, exit_code::done, 40'000},
        {"never appearing", {}, exit_code::window_failed, 60'000},
        {"appearing at the last look", {{60'000, std::nullopt}}, exit_code::done, 70'000},
        {"appearing just after the last look", {{60'001, std::nullopt}}, exit_code::window_failed, 60'000},
        {"closed 5 s after it was found", {{0, 5'000}}, exit_code::window_failed, 5'000},
        {"closed at 9.9 s of the watch", {{0, 9'900}}, exit_code::window_failed, 10'000},
        {"closed at 10.1 s of the watch", {{0, 10'100}}, exit_code::done, 10'000},
        {"replaced by a new window after 3 s", {{0, 3'000}, {3'000, std::nullopt}}, exit_code::window_failed, 3'000},
        {"found in its last moment", {{0, 1}}, exit_code::window_failed, 250},
    };
    // The same timings whether the wall clock runs steadily or is set an
    // hour ahead and back after every pause (a time sync, a user, a bad
    // battery): the look and the watch measure monotonic time.
    for (const bool wall_jumps : {false, true}) {
        for (const WindowCase& c : cases) {
            SCOPED_TRACE(wall_jumps ? "wall clock jumping" : "wall clock steady");
            fakes::FakePlatform fake;
            if (wall_jumps)
                fake.clock.after_sleep = [](fakes::FakeClock& clock) {
                    clock.now = clock.sleeps.size() % 2 ? clock.now + 36'000'000'000 : clock.now - 72'000'000'000;
                };
            for (const auto& [appears, dies] : c.windows) add_window_of(fake, appears, dies);
            fake.desktop.add_window(0, std::nullopt, "Tamsel.Other");  // another class never counts
            const std::uint64_t start = fake.clock.monotonic;
            EXPECT_EQ(window_mode(fake.platform), c.exit_code) << c.what;
            EXPECT_EQ(fake.clock.monotonic - start, c.elapsed_ms) << c.what;
            for (const std::uint32_t pause : fake.clock.sleeps) EXPECT_EQ(pause, 250u) << c.what;
        }
    }
}

TEST(WindowMode, MeasuresOnTheMonotonicClockNotTheWallClock) {
    fakes::FakePlatform fake;
    add_window_of(fake, 0);
    fake.clock.set_unix(-100);  // a wall clock before 1970 changes nothing
    EXPECT_EQ(window_mode(fake.platform), exit_code::done);
    EXPECT_EQ(fake.clock.slept_ms, 10'000u);
}

TEST(CloseMode, PostsTheCloseMessageToTheWindowFound) {
    struct Case {
        bool window;
        bool post_fails;
        int exit_code;
    };
    for (const Case c : {Case{true, false, exit_code::done}, Case{false, false, exit_code::close_failed},
                         Case{true, true, exit_code::close_failed}}) {
        fakes::FakePlatform fake;
        const WindowId window = c.window ? add_window_of(fake, 0) : 0;
        fake.desktop.fail_post = c.post_fails;
        EXPECT_EQ(close_mode(fake.platform), c.exit_code);
        EXPECT_EQ(fake.desktop.posted, c.window && !c.post_fails ? std::vector<WindowId>{window} : std::vector<WindowId>{});
        EXPECT_EQ(fake.clock.slept_ms, 0u);  // it never waits
    }
}

// Other windows of the class: another program's (an impostor), a copy of
// Tamsel.exe from another folder, one whose process is gone. Both modes act
// only on the first window whose process image is the program.
TEST(WindowHelper, ChoosesTheProgramsWindowAmongSeveralOfTheClass) {
    struct Window {
        std::string owner;  // image path; empty: process unknown
        std::optional<std::uint64_t> dies;
    };
    struct Case {
        const char* what;
        std::vector<Window> windows;
        std::optional<std::size_t> chosen;  // index of the window both modes act on
        int window_exit;
        std::uint64_t window_ms;
    };
    const std::string impostor = "C:\\Users\\u\\AppData\\Local\\impostor.exe";
    const std::string other_copy = "C:\\Temp\\Tamsel.exe";
    const std::vector<Case> cases = {
        {"an impostor's window first", {{impostor, {}}, {program, {}}}, 1, exit_code::done, 10'000},
        {"an impostor's window that dies", {{impostor, 3'000}, {program, {}}}, 1, exit_code::done, 10'000},
        {"a copy from another folder", {{other_copy, {}}, {program, {}}, {other_copy, {}}}, 1, exit_code::done, 10'000},
        {"a window whose process is unknown", {{"", {}}, {program, {}}}, 1, exit_code::done, 10'000},
        {"only others", {{impostor, {}}, {other_copy, {}}}, std::nullopt, exit_code::window_failed, 60'000},
    };
    for (const Case& c : cases) {
        for (const bool close : {true, false}) {
            fakes::FakePlatform fake;
            fake.processes.final_paths = {{program, fakes::nt_form(program)}};
            std::vector<WindowId> ids;
            for (const Window& w : c.windows) ids.push_back(add_window_of(fake, 0, w.dies, w.owner));
            const std::uint64_t start = fake.clock.monotonic;
            if (close) {
                EXPECT_EQ(close_mode(fake.platform), c.chosen ? exit_code::done : exit_code::close_failed) << c.what;
                EXPECT_EQ(fake.desktop.posted, c.chosen ? std::vector<WindowId>{ids[*c.chosen]} : std::vector<WindowId>{})
                    << c.what;
            } else {
                EXPECT_EQ(window_mode(fake.platform), c.window_exit) << c.what;
                EXPECT_EQ(fake.clock.monotonic - start, c.window_ms) << c.what;
            }
        }
    }
    // Without its own path the helper cannot tell the program: it fails at once.
    fakes::FakePlatform fake;
    add_window_of(fake, 0);
    fake.system.exe_path.reset();
    EXPECT_EQ(close_mode(fake.platform), exit_code::close_failed);
    EXPECT_EQ(window_mode(fake.platform), exit_code::window_failed);
    EXPECT_TRUE(fake.desktop.posted.empty());
    EXPECT_EQ(fake.clock.slept_ms, 0u);
}

TEST(WindowHelperEntry, ReportsOnlyThroughItsExitCode) {
    fakes::FakePlatform fake;
    fake.system.mutexes.insert("Global\\Tam_Sel.Update");  // a pass is running
    BuildSettings settings;
    const auto bridge = make_session_bridge(fake.platform);
    const Modes modes = app::product_modes(fake.platform, *bridge);
    EXPECT_EQ(run_entry({"tamsel-update.exe", "/close"}, fake.platform, settings, modes), exit_code::close_failed);
    EXPECT_EQ(run_entry({"tamsel-update.exe", "/window"}, fake.platform, settings, modes), exit_code::window_failed);
    add_window_of(fake, 0);
    EXPECT_EQ(run_entry({"tamsel-update.exe", "/window", "/close"}, fake.platform, settings, modes), exit_code::done);
    EXPECT_EQ(fake.desktop.posted.size(), 1u);  // "/close" wins
    EXPECT_TRUE(fake.files.files.empty());
    EXPECT_TRUE(fake.files.journal.empty());
    EXPECT_TRUE(fake.system.created_mutexes.empty());
}

}  // namespace
}  // namespace tamsel
