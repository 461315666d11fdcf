#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "fakes/fake_platform.h"
#include "state/state.h"

namespace tamsel {
namespace {

using ::testing::ElementsAre;

const std::string folder = "C:\\ProgramData\\Tam_Sel\\update";
const std::string path = folder + "\\state.toml";
const std::string temporary = folder + "\\state.toml.tmp";

State full_state() {
    State state;
    state.working_key_revoked = true;
    state.stopped = {"2.0.1", "2.0.2"};
    state.failed = {"2.1.0"};
    state.last_try = CalendarDate{2026, 9, 2};
    Pending pending;
    pending.version = "2.2.0";
    pending.from = "2.0.3";
    pending.sessions = {1, 4294967295u};
    pending.rollback_copy = true;
    pending.since = 1788307200;
    state.pending = pending;
    return state;
}

const std::string full_text =
    "working_key_revoked = true\r\n"
    "stopped = [\"2.0.1\", \"2.0.2\"]\r\n"
    "failed = [\"2.1.0\"]\r\n"
    "last_try = 2026-09-02\r\n"
    "\r\n"
    "[pending]\r\n"
    "version = \"2.2.0\"\r\n"
    "from = \"2.0.3\"\r\n"
    "sessions = [1, 4294967295]\r\n"
    "rollback_copy = true\r\n"
    "rolling_back = false\r\n"
    "since = 1788307200\r\n";

class StateWrite : public ::testing::Test {
protected:
    StateWrite() { files.folders.insert(folder); }

    State read_back() {
        auto result = read_state(files, path);
        EXPECT_TRUE(result.ok());
        return result.ok() ? *result : State{};
    }

    fakes::FakeFiles files;
};

TEST(StateText, ExactForms) {
    struct Case {
        const char* name;
        State state;
        std::string text;
    };
    State example;  // one failed version, a last try, nothing in flight
    example.failed = {"2.1.0"};
    example.last_try = CalendarDate{2026, 9, 2};
    State no_sessions;
    no_sessions.pending = Pending{"2.2.0", "2.0.3", {}, false, true, 0};
    State odd_dates;
    odd_dates.last_try = CalendarDate{26, 1, 2};
    State deferred = example;  // written only by a machine that deferred
    deferred.deferred_at = 1796581133;
    deferred.pending = no_sessions.pending;
    deferred.pending->report_prefix = "https://h/r/";  // written only where the feed asked for reports

    const std::vector<Case> cases = {
        {"empty", State{}, "working_key_revoked = false\r\n"},
        {"example", example, "working_key_revoked = false\r\nfailed = [\"2.1.0\"]\r\nlast_try = 2026-09-02\r\n"},
        {"full", full_state(), full_text},
        {"no sessions", no_sessions,
         "working_key_revoked = false\r\n\r\n[pending]\r\nversion = \"2.2.0\"\r\nfrom = \"2.0.3\"\r\nsessions = []\r\n"
         "rollback_copy = false\r\nrolling_back = true\r\nsince = 0\r\n"},
        {"short year padded", odd_dates, "working_key_revoked = false\r\nlast_try = 0026-01-02\r\n"},
        {"deferred", deferred,
         "working_key_revoked = false\r\nfailed = [\"2.1.0\"]\r\nlast_try = 2026-09-02\r\ndeferred_at = 1796581133\r\n"
         "\r\n[pending]\r\nversion = \"2.2.0\"\r\nfrom = \"2.0.3\"\r\nsessions = []\r\n"
         "rollback_copy = false\r\nrolling_back = true\r\nsince = 0\r\nreport_prefix = \"https://h/r/\"\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(state_text(c.state), c.text) << c.name;
}

TEST(StateText, UnusualTextsAreQuotedByTheLibraryAndReadBackUnchanged) {
    const std::vector<std::string> texts = {
        "",          "it's",        "say \"1.0\"", "back\\slash",     "tab\there", "line\nbreak", "cr\rhere",
        "\x01\x1f",  "del\x7f",     "\xc2\x85",    "\xe2\x80\xa8",    "caf\xc3\xa9", "\xf0\x9f\x98\x80",
        "[1, 2]",    "# not a comment", "a = b",
    };
    State state;
    state.stopped = texts;
    state.pending = Pending{texts[2], texts[4], {}, false, false, 0};
    fakes::FakeFiles files;
    files.folders.insert(folder);
    ASSERT_TRUE(write_state(files, state, path));
    const auto result = read_state(files, path);
    ASSERT_TRUE(result.ok()) << result.error().reason;
    EXPECT_EQ(*result, state);
    // One line per key: the quoting never breaks a line.
    EXPECT_THAT(files.files[path], ::testing::StartsWith("working_key_revoked = false\r\nstopped = [\"\", "));
    EXPECT_EQ(std::count(files.files[path].begin(), files.files[path].end(), '\n'), 10);
}

TEST(StateText, RefusesWhatCannotBeWrittenFaithfully) {
    State big_since;
    big_since.pending = Pending{"2.2.0", "2.0.3", {}, false, false, 9223372036854775808u};
    EXPECT_EQ(state_text(big_since), std::nullopt);
    big_since.pending->since = 9223372036854775807u;
    EXPECT_NE(state_text(big_since), std::nullopt);

    for (const std::string bad : {"2.1\xff", "\xc0\xae", "\xed\xa0\x80", "\xe2\x82"}) {
        State in_list;
        in_list.failed = {"2.0", bad};
        EXPECT_EQ(state_text(in_list), std::nullopt);
        State in_stopped;
        in_stopped.stopped = {bad};
        EXPECT_EQ(state_text(in_stopped), std::nullopt);
        State in_pending;
        in_pending.pending = Pending{"2.2.0", bad, {}, false, false, 0};
        EXPECT_EQ(state_text(in_pending), std::nullopt);
    }
}

TEST_F(StateWrite, GoesThroughAFlushedTemporaryFile) {
    ASSERT_TRUE(write_state(files, full_state(), path));
    EXPECT_EQ(files.files[path], full_text);
    EXPECT_FALSE(files.exists(temporary));
    // The contents reach the disk before the move makes them state.toml.
    EXPECT_THAT(files.journal,
                ElementsAre("create " + temporary, "flush " + temporary, "replace " + temporary + " " + path));
}

TEST_F(StateWrite, RoundTripsByteForByte) {
    files.files[path] = full_text;
    const State state = read_back();
    EXPECT_EQ(state, full_state());
    ASSERT_TRUE(write_state(files, state, path));
    EXPECT_EQ(files.files[path], full_text);
}

TEST_F(StateWrite, FileWithLineFeedsAndStringDateIsRewrittenInTheFixedForm) {
    files.files[path] =
        "last_try = \"2026-09-02\"\nextra = 1\nworking_key_revoked = false\n[pending]\nfrom = \"2.0.3\"\n"
        "version = \"2.2.0\"\nunknown = true\n";
    ASSERT_TRUE(write_state(files, read_back(), path));
    EXPECT_EQ(files.files[path],
              "working_key_revoked = false\r\nlast_try = 2026-09-02\r\n\r\n[pending]\r\nversion = \"2.2.0\"\r\n"
              "from = \"2.0.3\"\r\nsessions = []\r\nrollback_copy = false\r\nrolling_back = false\r\nsince = 0\r\n");
}

TEST_F(StateWrite, PartialWritesAreContinued) {
    files.max_write_chunk = 7;
    ASSERT_TRUE(write_state(files, full_state(), path));
    EXPECT_EQ(files.files[path], full_text);
}

TEST_F(StateWrite, FailuresLeaveTheOldFileAlone) {
    const std::string old = "working_key_revoked = true\r\n";
    struct Case {
        const char* name;
        void (*inject)(fakes::FakeFiles&);
    };
    const std::vector<Case> cases = {
        {"create", [](fakes::FakeFiles& f) { f.fail_create = true; }},
        {"write", [](fakes::FakeFiles& f) { f.fail_write_after = 10; }},
        {"write accepts nothing", [](fakes::FakeFiles& f) { f.zero_write = true; }},
        {"flush", [](fakes::FakeFiles& f) { f.fail_flush = true; }},
        {"replace", [](fakes::FakeFiles& f) { f.fail_replace = true; }},
    };
    for (const auto& c : cases) {
        fakes::FakeFiles fresh;
        fresh.folders.insert(folder);
        fresh.files[path] = old;
        c.inject(fresh);
        EXPECT_FALSE(write_state(fresh, full_state(), path)) << c.name;
        EXPECT_EQ(fresh.files[path], old) << c.name;
        if (std::string(c.name) != "replace") {
            for (const auto& entry : fresh.journal) EXPECT_THAT(entry, ::testing::Not(::testing::StartsWith("replace")));
        }
    }
}

TEST_F(StateWrite, UnwritableStateTouchesNoFile) {
    files.files[path] = "working_key_revoked = true\r\n";
    State state = full_state();
    state.pending->since = 18446744073709551615u;
    EXPECT_FALSE(write_state(files, state, path));
    state.pending->since = 0;
    state.failed.push_back("\xff");
    EXPECT_FALSE(write_state(files, state, path));
    EXPECT_TRUE(files.journal.empty());
    EXPECT_EQ(files.files[path], "working_key_revoked = true\r\n");
    EXPECT_FALSE(files.exists(temporary));
}

TEST_F(StateWrite, LeftoverTemporaryFileIsReused) {
    files.files[temporary] = std::string(4096, 'x');
    ASSERT_TRUE(write_state(files, State{}, path));
    EXPECT_EQ(files.files[path], "working_key_revoked = false\r\n");
}

TEST_F(StateWrite, TemporaryNameReplacesTheExtension) {
    const std::string other = folder + "\\saved.state";
    ASSERT_TRUE(write_state(files, State{}, other));
    EXPECT_THAT(files.journal, ::testing::Contains("create " + folder + "\\saved.toml.tmp"));
}

}  // namespace
}  // namespace tamsel
