#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "entry/exit_codes.h"
#include "entry/log.h"
#include "fakes/fake_platform.h"
#include "fakes/scripted_bridge.h"
#include "support/test_bytes.h"
#include "state/state.h"
#include "update/check_run.h"
#include "update/installation.h"
#include "update/rollout.h"

namespace tamsel {
namespace {

using fakes::FakeCrypto;
using fakes::FakeHttpsResponse;

using test_support::version_info;

constexpr std::int64_t now_unix = 1796581133;  // 2026-12-06T18:18:53Z

class CheckRunTest : public ::testing::Test {
protected:
    fakes::FakePlatform fake;
    fakes::ScriptedBridge bridge;
    RunContext context;
    const std::string update_dir = "C:\\ProgramData\\Tam_Sel\\update";
    const std::string state_path = update_dir + "\\state.toml";
    const std::string log_path = update_dir + "\\updater.log";
    const std::string feed_url = "https://localhost/tamsel/news.toml";
    const std::string setup_url = "https://localhost/tamsel/files/setup-2.0.0.exe";
    const std::string setup_body = "MZ setup program 2.0.0";
    const std::string report = "[report]\nprefix = \"https://localhost/tamsel/report/\"\n";

    void SetUp() override {
        context.program_dir = "C:\\Program Files\\Tamsel";
        context.main_exe = context.program_dir + "\\Tamsel.exe";
        context.data_dir = "C:\\ProgramData\\Tam_Sel";
        context.update_dir = update_dir;
        context.feed_url = feed_url;
        context.files_prefix = "https://localhost/tamsel/files/";
        for (std::size_t i = 0; i < 64; ++i) {
            context.working_key[i] = static_cast<std::uint8_t>(i);
            context.reserve_key[i] = static_cast<std::uint8_t>(200 - i);
        }
        fake.files.folders.insert(update_dir);
        fake.clock.set_unix(now_unix);
        fake.clock.today = "2026-12-06";
        fake.system.version_infos[context.main_exe] = version_info(1, 0, 0);
        fake.https.serve(setup_url, FakeHttpsResponse::body(setup_body));
    }

    std::string document(const std::string& version = "2.0.0", const std::string& extra = "") {
        const std::string sha = test_support::hex(FakeCrypto::digest_of(setup_body));
        return "schema = 1\n[[item]]\nid = 7\ntype = \"update\"\nversion = \"" + version +
               "\"\nen = { title = \"New\", text = \"Better\" }\n[download]\nversion = \"" + version +
               "\"\nurl = \"" + setup_url + "\"\nsha256 = \"" + sha + "\"\nsize = " +
               std::to_string(setup_body.size()) + "\n" + extra;
    }
    void serve_feed(const std::string& doc, const PublicKey& key) {
        fake.https.serve(feed_url, FakeHttpsResponse::body(fakes::signed_answer(fake.crypto, key, doc)));
    }
    int run() {
        Log log(fake.files, fake.clock, fake.event_log, update_dir);
        return check_run(context, log, fake.platform, bridge);
    }
    // The log's messages, each with its number, without timestamps.
    std::vector<std::string> lines() const { return fakes::log_messages(fake.files, log_path); }
    State state() {
        auto read = read_state(fake.files, state_path);
        EXPECT_TRUE(read.ok());
        return read.ok() ? *read : State{};
    }
    void put_state(const State& s) { ASSERT_TRUE(write_state(fake.files, s, state_path)); }
};

using Lines = std::vector<std::string>;

TEST_F(CheckRunTest, WithoutAStateFileItFetchesAndWritesTodayAsTried) {
    fake.system.version_infos[context.main_exe] = version_info(2, 0, 0);
    serve_feed(document("2.0.0"), context.working_key);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), (Lines{"feed request 0", "nothing to install: not newer 0"}));
    EXPECT_EQ(fake.files.files.at(state_path), "working_key_revoked = false\r\nlast_try = 2026-12-06\r\n");

    // The request is the feed's, with the fetch's fixed settings.
    ASSERT_EQ(fake.https.requests.size(), 1u);
    EXPECT_EQ(fake.https.requests[0].host, "localhost");
    EXPECT_EQ(fake.https.requests[0].path, "/tamsel/news.toml");
    EXPECT_EQ(fake.https.requests[0].receive_timeout_ms, 20000u);
}

TEST_F(CheckRunTest, ASecondStartOnTheSameDayIsSilent) {
    serve_feed(document(), context.working_key);
    State tried;
    tried.last_try = CalendarDate{2026, 12, 6};
    put_state(tried);
    const std::string before = fake.files.files.at(state_path);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), Lines{});
    EXPECT_TRUE(fake.https.requests.empty());
    EXPECT_EQ(fake.files.files.at(state_path), before);
}

TEST_F(CheckRunTest, AnUnreadableStateEndsWith5AndIsLeftAlone) {
    fake.files.files[state_path] = "working_key_revoked = 1\r\n";
    EXPECT_EQ(run(), exit_code::state_unusable);
    EXPECT_EQ(lines(), Lines{"state unreadable 0"});
    EXPECT_EQ(fake.files.files.at(state_path), "working_key_revoked = 1\r\n");
    EXPECT_TRUE(fake.https.requests.empty());
}

TEST_F(CheckRunTest, AFailedWriteOfTheTryEndsWith5BeforeAnyFetch) {
    fake.files.fail_replace = true;
    EXPECT_EQ(run(), exit_code::state_unusable);
    EXPECT_EQ(lines(), Lines{"state not written 0"});
    EXPECT_TRUE(fake.https.requests.empty());
}

TEST_F(CheckRunTest, NoUsableDateEndsQuietlyWithoutWriting) {
    for (const std::optional<std::string>& today :
         {std::optional<std::string>(), std::optional<std::string>("2026-13-01"),
          std::optional<std::string>("6.12.2026")}) {
        fake.files.files.erase(log_path);
        fake.clock.today = today;
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(lines(), Lines{"no date 0"});
        EXPECT_FALSE(fake.files.exists(state_path));
    }
}

TEST_F(CheckRunTest, FeedFailuresAreLoggedAndTodayStaysTried) {
    const std::string doc = document();
    const std::string good_line = fakes::signature_line(fake.crypto, context.working_key, doc);
    const std::string foreign_line = fakes::signature_line(fake.crypto, PublicKey{}, doc);
    struct Case {
        const char* name;
        std::optional<std::string> answer;  // nothing: the server is down
        std::uint32_t status;
        std::string line;
    };
    const Case cases[] = {
        // The number is the cause: WinHTTP's error, else the status.
        {"server down", std::nullopt, 200, "feed: no answer 12029"},
        {"not found", good_line + doc, 404, "feed: no answer 404"},
        {"server busy", good_line + doc, 503, "feed: no answer 503"},
        {"not UTF-8", good_line + doc + "# \xff\n", 200, "feed: no answer 0"},
        {"over the answer limit", good_line + doc + "#" + std::string(262144, 'x') + "\n", 200,
         "feed: no answer 0"},
        {"no line break", "signature = \"x\"", 200, "feed signature line refused 0"},
        {"bad signature line", "sig = \"AAAA\"\n" + doc, 200, "feed signature line refused 0"},
        {"tampered document", good_line + doc + "# tampered\n", 200, "feed signature did not verify 0"},
        {"unknown key", foreign_line + doc, 200, "feed signature did not verify 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.files.files.clear();
        fake.https.requests.clear();
        if (c.answer) {
            auto response = FakeHttpsResponse::body(*c.answer);
            response.status = c.status;
            fake.https.serve(feed_url, response);
        } else {
            FakeHttpsResponse down;
            down.no_connection = true;
            fake.https.serve(feed_url, down);
        }
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(lines(), (Lines{"feed request 0", c.line}));
        EXPECT_EQ(state().last_try, (CalendarDate{2026, 12, 6}));
    }
}

TEST_F(CheckRunTest, DocumentRefusals) {
    const std::pair<std::string, std::string> cases[] = {
        {"schema = 2\n", "feed from a newer schema 0"},
        {"schema = 1\nschema = 1\n", "feed document refused 0"},
        {"schema = \"1\"\n", "feed document refused 0"},
    };
    for (const auto& [doc, line] : cases) {
        fake.files.files.clear();
        serve_feed(doc, context.working_key);
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(lines(), (Lines{"feed request 0", line})) << doc;
    }
}

TEST_F(CheckRunTest, AWorkingKeyFeedAfterRevocationIsRefused) {
    State revoked;
    revoked.working_key_revoked = true;
    put_state(revoked);
    serve_feed(document("2.0.0", "[stop]\nversions = [\"9.9\"]\nrevoke_working = false\n"), context.working_key);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), (Lines{"feed request 0", "refused: the working key is revoked 0"}));
    EXPECT_TRUE(state().stopped.empty()) << "a working-key stop order is never taken in";
}

TEST_F(CheckRunTest, TheReserveKeysStopOrderIsTakenInAndCountsAtOnce) {
    serve_feed(document("2.0.0", "[stop]\nversions = [\"2.0.0\"]\nrevoke_working = true\n"), context.reserve_key);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), (Lines{"feed request 0", "the reserve key spoke: [stop] taken in 0",
                              "refused: the version is stopped 0"}));
    EXPECT_EQ(fake.files.files.at(state_path),
              "working_key_revoked = true\r\nstopped = [\"2.0.0\"]\r\nlast_try = 2026-12-06\r\n");
}

TEST_F(CheckRunTest, WithoutAReadableInstalledVersionNothingIsNewer) {
    fake.system.version_infos.clear();
    serve_feed(document("2.0.0"), context.working_key);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), (Lines{"feed request 0", "nothing to install: not newer 0"}));
}

TEST_F(CheckRunTest, ADueUpdateIsDownloadedAndVerified) {
    serve_feed(document("2.0.0", report), context.working_key);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), (Lines{"feed request 0", "download verified 0", "setup started 0"}));
    EXPECT_EQ(fake.files.files.at(update_dir + "\\downloaded-setup.exe"), setup_body);
    // Phase two reports to the feed's prefix.
    EXPECT_EQ(state().pending, (Pending{"2.0.0", "1.0.0", {}, false, false, now_unix, "https://localhost/tamsel/report/"}));
}

TEST_F(CheckRunTest, AStagedOfferWaitsForTheMachinesWave) {
    const Rollout probe{{2026, 12, 6}, 7};
    const std::uint32_t wave = machine_rollout_wave(fake.platform, probe, "2.0.0");
    struct Case {
        std::int64_t start_after_due;  // the rollout's start, in days from the start that makes today due
        bool installs;
    };
    const Case cases[] = {{0, true}, {-5, true}, {1, false}, {30, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start_after_due);
        fake.files.files.clear();
        const CalendarDate start = add_days({2026, 12, 6}, c.start_after_due - wave);
        serve_feed(document("2.0.0", "rollout_start = " + calendar_date_text(start) + "\nrollout_days = 7\n"),
                   context.working_key);
        EXPECT_EQ(run(), exit_code::done);
        const Lines expected = c.installs ? Lines{"feed request 0", "download verified 0", "setup started 0"}
                                          : Lines{"feed request 0", "nothing to install: not yet in the rollout 0"};
        EXPECT_EQ(lines(), expected);
        EXPECT_EQ(state().last_try, (CalendarDate{2026, 12, 6}));  // the day counts as tried either way
    }
    // Without a MachineGuid: the last wave, six days after the start.
    fake.system.guid.reset();
    for (const auto& [start, installs] :
         {std::pair{CalendarDate{2026, 11, 30}, true}, {CalendarDate{2026, 12, 1}, false}}) {
        fake.files.files.clear();
        serve_feed(document("2.0.0", "rollout_start = " + calendar_date_text(start) + "\nrollout_days = 7\n"),
                   context.working_key);
        run();
        EXPECT_EQ(lines().back(), installs ? "setup started 0" : "nothing to install: not yet in the rollout 0");
    }
}

TEST_F(CheckRunTest, ARefusedDownloadIsLoggedAndReported) {
    serve_feed(document("2.0.0", report), context.working_key);
    fake.https.serve(setup_url, FakeHttpsResponse::body(setup_body.substr(1)));
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), (Lines{"feed request 0", "download refused: size differs 0", "report sent 0"}));
    EXPECT_EQ(fake.https.requests.back().path, "/tamsel/report/download-refused/1.0.0/2.0.0");
    EXPECT_EQ(fake.https.requests.back().receive_timeout_ms, 3000u);
    EXPECT_FALSE(fake.files.exists(update_dir + "\\downloaded-setup.exe"));
}

TEST_F(CheckRunTest, APendingRecordIsInFlightForAnHour) {
    serve_feed(document("1.0.0"), context.working_key);  // nothing new: the restored copy stays
    struct Case {
        const char* name;
        std::int64_t clock;
        std::uint64_t since;
        bool in_flight;
        std::optional<std::uint64_t> since_written = std::nullopt;  // in flight, record rewritten
    };
    const Case cases[] = {
        {"a minute old", now_unix, now_unix - 60, true},
        {"3599 seconds", now_unix, now_unix - 3599, true},
        {"3600 seconds", now_unix, now_unix - 3600, false},
        {"two hours", now_unix, now_unix - 7200, false},
        {"since up to an hour in the future", now_unix, now_unix + 3600, true},
        {"since further in the future", now_unix, now_unix + 3601, true, now_unix},
        {"since years in the future", now_unix, now_unix + 100'000'000, true, now_unix},
        {"clock before 1970", -100, 0, true},
        {"clock at the 1970 epoch, record from then", 3600, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.files.files.clear();
        fake.https.requests.clear();
        bridge.raised.clear();
        fake.clock.set_unix(c.clock);
        State pending_state;
        pending_state.pending = Pending{"2.0.0", "1.0.0", {2, 5}, true, false, c.since};
        put_state(pending_state);
        fake.files.files[update_dir + "\\rollback-setup.exe"] = "previous setup";
        const std::string before = fake.files.files.at(state_path);

        EXPECT_EQ(run(), exit_code::done);
        if (c.in_flight) {
            EXPECT_EQ(lines(), Lines{"an installation is in flight 0"});
            if (c.since_written) {
                EXPECT_EQ(state().pending->since, *c.since_written);
            } else {
                EXPECT_EQ(fake.files.files.at(state_path), before);
            }
            EXPECT_TRUE(fake.https.requests.empty());
            EXPECT_TRUE(bridge.raised.empty());
        } else {
            ASSERT_GE(lines().size(), 2u);
            EXPECT_EQ(lines()[0], "an installation did not finish 0");
            EXPECT_EQ(lines()[1], "feed request 0");
            EXPECT_EQ(bridge.raised, (std::vector<std::vector<std::uint32_t>>{{2, 5}}));
            EXPECT_EQ(fake.files.files.at(update_dir + "\\installed-setup.exe"), "previous setup");
            EXPECT_FALSE(state().pending.has_value());
        }
    }
}

// A setup that left itself as installed-setup.exe and never reached phase
// two: the give-up keeps the setup of whatever version is installed.
TEST_F(CheckRunTest, AGivenUpInstallationKeepsTheInstalledVersionsSetup) {
    struct Case {
        const char* what;
        std::uint16_t installed_minor_of_2;  // installed 1.0.0 (0) or 2.0.0 (1)
        const char* left_by_setup;           // installed-setup.exe found; nullptr: none
        std::string installed_left, rollback_left;
    };
    const Case cases[] = {
        {"left itself, installed nothing", 0, "setup 2.0.0", "previous setup", "<none>"},
        {"left itself and installed", 1, "setup 2.0.0", "setup 2.0.0", "previous setup"},
        {"left nothing", 0, nullptr, "previous setup", "<none>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake.files.files.clear();
        fake.system.version_infos[context.main_exe] = version_info(c.installed_minor_of_2 ? 2 : 1, 0, 0);
        State s;
        s.last_try = CalendarDate{2026, 12, 6};
        s.pending = Pending{"2.0.0", "1.0.0", {}, true, false, static_cast<std::uint64_t>(now_unix - 3600)};
        put_state(s);
        fake.files.files[update_dir + "\\rollback-setup.exe"] = "previous setup";
        if (c.left_by_setup) fake.files.files[update_dir + "\\installed-setup.exe"] = c.left_by_setup;
        EXPECT_EQ(run(), exit_code::done);
        const auto file = [&](const char* name) {
            const auto it = fake.files.files.find(update_dir + "\\" + name);
            return it == fake.files.files.end() ? std::string("<none>") : it->second;
        };
        EXPECT_EQ(file("installed-setup.exe"), c.installed_left);
        EXPECT_EQ(file("rollback-setup.exe"), c.rollback_left);
    }
}

TEST_F(CheckRunTest, AGivenUpRecordAlreadyTriedTodayEndsAfterSettling) {
    State s;
    s.last_try = CalendarDate{2026, 12, 6};
    s.pending = Pending{"2.0.0", "1.0.0", {}, false, false, static_cast<std::uint64_t>(now_unix - 3600)};
    put_state(s);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), Lines{"an installation did not finish 0"});
    EXPECT_EQ(fake.files.files.at(state_path), "working_key_revoked = false\r\nlast_try = 2026-12-06\r\n");
    EXPECT_TRUE(fake.https.requests.empty());
}

}  // namespace
}  // namespace tamsel

namespace tamsel {
namespace {

// Each administrator's policy against a due update: the lines it leaves, and
// whether the pass went on to install.
TEST_F(CheckRunTest, PoliciesAgainstADueUpdate) {
    struct Case {
        const char* name;
        std::map<std::string, std::uint32_t> numbers;
        std::map<std::string, std::string> texts;
        bool program_runs = false;
        bool census_fails = false;
        Lines expected;
        std::string proxy;  // what each request carried
    };
    const Lines installs{"feed request 0", "download verified 0", "setup started 0"};
    auto with = [](std::string first, Lines rest) {
        rest.insert(rest.begin(), std::move(first));
        return rest;
    };
    const std::vector<Case> cases = {
        {"none", {}, {}, false, false, installs, ""},
        {"disabled", {{"UpdatesDisabled", 1}}, {}, false, false,
         {"policy: updates disabled 0", "feed request 0", "nothing to install: disabled by policy 0"}, ""},
        {"disabled switched off", {{"UpdatesDisabled", 0}}, {}, false, false, installs, ""},
        {"disabled only at 1", {{"UpdatesDisabled", 2}}, {}, false, false, installs, ""},
        {"disabled as a text", {}, {{"UpdatesDisabled", "1"}}, false, false, installs, ""},
        {"held above the maximum", {}, {{"MaxVersion", "1.5"}}, false, false,
         {"policy: maximum version 0", "feed request 0", "nothing to install: held by policy 0"}, ""},
        {"the maximum itself", {}, {{"MaxVersion", "2.0"}}, false, false,
         with("policy: maximum version 0", installs), ""},
        {"a fourth piece is not read", {}, {{"MaxVersion", "1.99.99999.7"}}, false, false,
         {"policy: maximum version 0", "feed request 0", "nothing to install: held by policy 0"}, ""},
        {"an empty maximum", {}, {{"MaxVersion", ""}}, false, false, installs, ""},
        {"maximum as a number", {{"MaxVersion", 1}}, {}, false, false, installs, ""},
        {"deferred while running", {{"DeferWhileRunning", 1}}, {}, true, false,
         {"policy: deferred while the program runs 0", "feed request 0",
          "nothing to install: deferred while the program runs 0"},
         ""},
        {"deferred when the census fails", {{"DeferWhileRunning", 1}}, {}, false, true,
         {"policy: deferred while the program runs 0", "feed request 0",
          "nothing to install: deferred while the program runs 0"},
         ""},
        {"not deferred when closed", {{"DeferWhileRunning", 1}}, {}, false, false,
         with("policy: deferred while the program runs 0", installs), ""},
        {"proxy", {}, {{"Proxy", "proxy.corp.example:3128"}}, false, false, with("policy: proxy 0", installs),
         "proxy.corp.example:3128"},
        {"malformed proxy", {}, {{"Proxy", "proxy.corp.example"}}, false, false, installs, ""},
        {"all four", {{"UpdatesDisabled", 1}, {"DeferWhileRunning", 1}},
         {{"MaxVersion", "1.5"}, {"Proxy", "[::1]:8080"}}, true, false,
         {"policy: updates disabled 0", "policy: maximum version 0", "policy: deferred while the program runs 0",
          "policy: proxy 0", "feed request 0", "nothing to install: disabled by policy 0"},
         "[::1]:8080"},
    };
    serve_feed(document("2.0.0"), context.working_key);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.files.files.erase(log_path);
        fake.files.files.erase(state_path);
        fake.files.files.erase(update_dir + "\\downloaded-setup.exe");
        fake.https.requests.clear();
        fake.processes.table.clear();
        fake.system.policy_numbers = c.numbers;
        fake.system.policy_texts = c.texts;
        fake.processes.fail_enumerate = c.census_fails;
        if (c.program_runs) fake.processes.run_program(context.main_exe, 1);
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(lines(), c.expected);
        const bool installed = c.expected == installs || c.expected.back() == "setup started 0";
        EXPECT_EQ(state().pending.has_value(), installed);
        for (const auto& request : fake.https.requests) EXPECT_EQ(request.proxy, c.proxy);
        const bool deferred = c.expected.back() == "nothing to install: deferred while the program runs 0";
        EXPECT_EQ(state().deferred_at, deferred ? std::optional<std::uint64_t>(now_unix) : std::nullopt);
    }
}

// A deferred pass leaves the day open: later passes that day stay silent for
// an hour, then fetch again, and the first that finds the program closed installs.
TEST_F(CheckRunTest, ADeferredDayIsRetriedHourly) {
    serve_feed(document("2.0.0"), context.working_key);
    fake.system.policy_numbers["DeferWhileRunning"] = 1;
    const std::uint32_t program = fake.processes.run_program(context.main_exe, 1);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(state().deferred_at, std::optional<std::uint64_t>(now_unix));

    struct Step {
        std::int64_t after;  // seconds after the deferral
        bool fetches;
    };
    for (const Step step : {Step{-60, false}, Step{3299, false}, Step{3590, true}}) {
        SCOPED_TRACE(step.after);
        fake.https.requests.clear();
        fake.clock.set_unix(now_unix + step.after);
        EXPECT_EQ(run(), exit_code::done);
        EXPECT_EQ(fake.https.requests.size(), step.fetches ? 1u : 0u);
    }
    // Deferred again at +3590; the program ends, and the next hour installs.
    EXPECT_EQ(state().deferred_at, std::optional<std::uint64_t>(now_unix + 3590));
    fake.processes.find(program)->ends_at = 0;
    fake.clock.set_unix(now_unix + 3590 + 3610);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_TRUE(state().pending.has_value());
    EXPECT_EQ(state().deferred_at, std::nullopt);
    EXPECT_EQ(lines().back(), "setup started 0");

    // Once a pass was not deferred, the day is used up as before.
    fake.files.files.erase(log_path);
    State after = state();
    after.pending.reset();
    put_state(after);
    fake.clock.set_unix(now_unix + 20000);
    EXPECT_EQ(run(), exit_code::done);
    EXPECT_EQ(lines(), Lines{});
}

}  // namespace
}  // namespace tamsel
