#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "fakes/fake_platform.h"
#include "state/state.h"

namespace tamsel {
namespace {

const std::string folder = "C:\\ProgramData\\Tam_Sel\\update";
const std::string path = folder + "\\state.toml";

class StateRead : public ::testing::Test {
protected:
    StateRead() { files.folders.insert(folder); }

    Result<State, StateUnreadable> read(const std::string& text) {
        files.files[path] = text;
        return read_state(files, path);
    }

    fakes::FakeFiles files;
};

State with_last_try(CalendarDate day) {
    State state;
    state.last_try = day;
    return state;
}

State with_pending(Pending pending) {
    State state;
    state.pending = std::move(pending);
    return state;
}

TEST_F(StateRead, MissingFileOrFolderIsTheEmptyStateAndCreatesNothing) {
    EXPECT_EQ(read_state(files, path), (Result<State, StateUnreadable>(State{})));
    EXPECT_EQ(read_state(files, "C:\\ProgramData\\Tam_Sel\\nowhere\\state.toml"),
              (Result<State, StateUnreadable>(State{})));
    EXPECT_TRUE(files.files.empty());
    EXPECT_TRUE(files.journal.empty());
}

TEST_F(StateRead, OpenOrReadFailuresAreFailures) {
    files.files[path] = "working_key_revoked = true\r\n";
    files.fail_open_read = true;
    EXPECT_FALSE(read_state(files, path).ok());
    files.fail_open_read = false;
    files.fail_read_after = 5;
    EXPECT_FALSE(read_state(files, path).ok());
}

TEST_F(StateRead, LongFileIsReadWhole) {
    std::string text = "failed = [";
    std::vector<std::string> versions;
    for (int i = 0; i < 5000; ++i) {
        versions.push_back("1.0." + std::to_string(i));
        text += (i == 0 ? "\"" : ", \"") + versions.back() + "\"";
    }
    text += "]\r\nworking_key_revoked = true\r\n";
    State expected;
    expected.working_key_revoked = true;
    expected.failed = versions;
    EXPECT_EQ(read(text), (Result<State, StateUnreadable>(expected)));
}

TEST_F(StateRead, InvalidUtf8IsUnreadable) {
    const auto result = read("failed = [\"2.1\xff\"]\r\n");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().reason, "stream did not contain valid UTF-8");
    // Overlong forms and encoded surrogates are not UTF-8 either, also in comments.
    EXPECT_FALSE(read("# \xc0\xaf\r\n").ok());
    EXPECT_FALSE(read("# \xed\xa0\x80\r\n").ok());
    EXPECT_FALSE(read("# \xf4\x90\x80\x80\r\n").ok());
    EXPECT_FALSE(read("# \xe2\x82\r\n").ok());
}

// Documents that read as a state.
TEST_F(StateRead, AcceptedDocuments) {
    const CalendarDate day{2026, 9, 2};
    Pending minimal;
    minimal.version = "2.1.0";
    minimal.from = "2.0.3";
    Pending full = minimal;
    full.sessions = {0, 1, 4294967295u};
    full.rollback_copy = true;
    full.rolling_back = true;
    full.since = 9223372036854775807u;

    Pending reporting = minimal;
    reporting.report_prefix = "https://h/r/";

    State lists;
    lists.working_key_revoked = true;
    lists.stopped = {"2.0.1", "2.0.2"};
    lists.failed = {"1.9", "", "01.02"};

    struct Case {
        const char* name;
        std::string text;
        State expected;
    };
    const std::vector<Case> cases = {
        {"empty file", "", State{}},
        {"comments only", "# nothing yet\r\n\r\n", State{}},
        {"lists", "working_key_revoked = true\nstopped = [\"2.0.1\", '2.0.2']\nfailed = [\"1.9\", \"\", \"01.02\"]\n",
         lists},
        {"crlf and lf read alike",
         "working_key_revoked = true\r\nstopped = [\"2.0.1\", '2.0.2']\r\nfailed = [\"1.9\", \"\", \"01.02\"]\r\n", lists},
        {"bare date", "last_try = 2026-09-02\r\n", with_last_try(day)},
        {"date as a string", "last_try = \"2026-09-02\"\r\n", with_last_try(day)},
        {"offset date-time", "last_try = 2026-09-02T08:00:00Z\r\n", with_last_try(day)},
        {"offset date-time west", "last_try = 2026-09-02T23:30:00-05:00\r\n", with_last_try(day)},
        {"local date-time", "last_try = 2026-09-02T23:59:59\r\n", with_last_try(day)},
        {"leap day", "last_try = \"2028-02-29\"\r\n", with_last_try(CalendarDate{2028, 2, 29})},
        {"pending with defaults", "[pending]\r\nversion = \"2.1.0\"\r\nfrom = \"2.0.3\"\r\n", with_pending(minimal)},
        {"pending in full",
         "[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nsessions = [0, 1, 4294967295]\nrollback_copy = true\n"
         "rolling_back = true\nsince = 9223372036854775807\n",
         with_pending(full)},
        {"pending as an inline table", "pending = { version = \"2.1.0\", from = \"2.0.3\" }\r\n", with_pending(minimal)},
        {"pending as two values", "pending = [\"2.1.0\", \"2.0.3\"]\r\n", with_pending(minimal)},
        {"pending as six values and more",
         "pending = [\"2.1.0\", \"2.0.3\", [0, 1, 4294967295], true, true, 9223372036854775807, \"extra\", 1.5]\r\n",
         with_pending(full)},
        {"unknown keys ignored",
         "colour = \"blue\"\r\nworking_key_revoked = false\r\n[pending]\r\nversion = \"2.1.0\"\r\nfrom = \"2.0.3\"\r\n"
         "note = 1.5\r\n[other]\r\nx = 1\r\n",
         with_pending(minimal)},
        {"keys in any order", "[pending]\nfrom = \"2.0.3\"\nversion = \"2.1.0\"\n", with_pending(minimal)},
        {"pending with a report prefix", "[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nreport_prefix = \"https://h/r/\"\n",
         with_pending(reporting)},
    };
    for (const auto& c : cases) {
        const auto result = read(c.text);
        ASSERT_TRUE(result.ok()) << c.name << ": " << result.error().reason;
        EXPECT_EQ(*result, c.expected) << c.name;
    }
}

// Documents that make the whole read fail, with the reason where it is ours.
TEST_F(StateRead, RefusedDocuments) {
    struct Case {
        std::string text;
        std::string reason;  // empty: any reason
    };
    const std::vector<Case> cases = {
        {"working_key_revoked = 1\r\n", "invalid type: integer, expected a boolean for key `working_key_revoked`"},
        {"working_key_revoked = \"true\"\r\n", "invalid type: string, expected a boolean for key `working_key_revoked`"},
        {"stopped = \"2.0\"\r\n", "invalid type: string, expected a sequence of strings for key `stopped`"},
        {"failed = [\"2.0\", 2.1]\r\n", "invalid type: float, expected a string for key `failed`"},
        {"failed = [[\"2.0\"]]\r\n", "invalid type: array, expected a string for key `failed`"},
        {"last_try = \"2026-9-02\"\r\n", "a date is written YYYY-MM-DD for key `last_try`"},
        {"last_try = \"2026-02-30\"\r\n", "a date is written YYYY-MM-DD for key `last_try`"},
        {"last_try = \"2026-02-29\"\r\n", "a date is written YYYY-MM-DD for key `last_try`"},
        {"last_try = 10:30:00\r\n", "a date, not a time of day for key `last_try`"},
        {"last_try = 20260902\r\n",
         "invalid type: integer, expected a date, written 2026-09-02 or \"2026-09-02\" for key `last_try`"},
        {"last_try = {}\r\n", "datetime key not found for key `last_try`"},
        {"[last_try]\r\nyear = 2026\r\n", "expected field with custom name for key `last_try`"},
        {"last_try = 2026-02-30\r\n", ""},  // the TOML parser refuses the day itself
        {"[pending]\r\nfrom = \"2.0.3\"\r\n", "missing field `version`"},
        {"[pending]\r\nversion = \"2.1.0\"\r\n", "missing field `from`"},
        {"[pending]\r\nversion = 2\r\nfrom = \"2.0.3\"\r\n", "invalid type: integer, expected a string for key `version`"},
        {"deferred_at = -1\r\n", "invalid value: integer -1, expected 0 to 9223372036854775807 for key `deferred_at`"},
        {"deferred_at = \"now\"\r\n", "invalid type: string, expected an integer for key `deferred_at`"},
        {"[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nsince = -1\n",
         "invalid value: integer -1, expected 0 to 9223372036854775807 for key `since`"},
        {"[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nsince = 25.0\n",
         "invalid type: float, expected an integer for key `since`"},
        {"[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nsessions = [-1]\n",
         "invalid value: integer -1, expected 0 to 4294967295 for key `sessions`"},
        {"[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nsessions = [1, 4294967296]\n",
         "invalid value: integer 4294967296, expected 0 to 4294967295 for key `sessions`"},
        {"[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nsessions = 1\n",
         "invalid type: integer, expected a sequence of session identifiers for key `sessions`"},
        {"[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nrollback_copy = 1\n",
         "invalid type: integer, expected a boolean for key `rollback_copy`"},
        {"[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nrolling_back = \"no\"\n",
         "invalid type: string, expected a boolean for key `rolling_back`"},
        {"pending = []\r\n", "invalid length 0, expected struct Pending with 6 elements"},
        {"pending = [\"2.1.0\"]\r\n", "invalid length 1, expected struct Pending with 6 elements"},
        {"pending = [\"2.1.0\", \"2.0.3\", [], 1]\r\n", "invalid type: integer, expected a boolean for key `rollback_copy`"},
        {"pending = \"2.1.0\"\r\n", "invalid type: string, expected struct Pending for key `pending`"},
        {"[pending]\nversion = \"2.1.0\"\nfrom = \"2.0.3\"\nsince = 18446744073709551615\n", ""},  // no TOML integer
        {"working_key_revoked = false\r\nworking_key_revoked = true\r\n", ""},
        {"working_key_revoked = ", ""},
        {"stopped = [\"2.0\"\r\n", ""},
    };
    for (const auto& c : cases) {
        const auto result = read(c.text);
        ASSERT_FALSE(result.ok()) << c.text;
        if (!c.reason.empty()) EXPECT_EQ(result.error().reason, c.reason) << c.text;
    }
}

TEST(AddFailed, AppendsOnlyTextsNotYetThere) {
    State state;
    state.failed = {"2.0", "2.1"};
    add_failed(state, "2.1");
    EXPECT_THAT(state.failed, ::testing::ElementsAre("2.0", "2.1"));
    add_failed(state, "2.1.0");  // a different text, though the same version
    add_failed(state, "2.1.0");
    add_failed(state, "1.0");
    EXPECT_THAT(state.failed, ::testing::ElementsAre("2.0", "2.1", "2.1.0", "1.0"));
}

}  // namespace
}  // namespace tamsel
