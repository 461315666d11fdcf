#include <gtest/gtest.h>

#include "update/decision.h"

namespace tamsel {
namespace {

constexpr const char* prefix = "https://localhost/tamsel/files/";

Feed offer_of(const std::string& version, const std::string& url = std::string(prefix) + "setup.exe",
              std::uint64_t size = 1000) {
    Feed feed;
    feed.update_entry = UpdateEntry{7, version};
    feed.download.state = SectionState::present;
    feed.download.value.version = version;
    feed.download.value.url = url;
    feed.download.value.size = size;
    return feed;
}

void add_stop(Feed& feed, std::vector<std::string> versions, bool revoke = false) {
    feed.stop.state = SectionState::present;
    feed.stop.value.versions = std::move(versions);
    feed.stop.value.revoke_working = revoke;
}

TEST(DecideUpdate, VerdictsInTheirOrder) {
    struct Case {
        const char* name;
        KeyUsed key;
        Feed feed;
        State state;
        std::string installed;
        const char* logged;  // the refusal's log line, as an administrator reads it; nothing: due
        Policies policies = {};
        std::uint32_t wave = 0;  // of an offer rolled out over 7 days from today
        bool running = false;
        std::uint32_t minute = 0;  // local, of the day
    };
    // Tied to the situations, not to the verdicts' names: a verdict given for
    // the wrong situation, or logged with another's text, shows.
    const char* revoked_text = "refused: the working key is revoked";
    const char* no_download_text = "nothing to install: no [download]";
    const char* malformed = "refused: [download] malformed";
    const char* stop_malformed = "refused: [stop] malformed";
    const char* no_entry_text = "refused: no update entry of the version";
    const char* not_newer = "nothing to install: not newer";
    const char* stopped = "refused: the version is stopped";
    const char* failed = "refused: the version failed here before";
    const char* foreign = "refused: foreign address";
    const char* over_size = "refused: over 16 MB";
    const char* disabled_text = "nothing to install: disabled by policy";
    const char* held_text = "nothing to install: held by policy";
    const char* not_yet = "nothing to install: not yet in the rollout";
    const char* deferred = "nothing to install: deferred while the program runs";
    const char* quiet_text = "nothing to install: within quiet hours";
    State revoked;
    revoked.working_key_revoked = true;
    State stopped_here;
    stopped_here.stopped = {"2.0.0"};
    State failed_here;
    failed_here.failed = {"2.0.0"};
    State failed_other_text;
    failed_other_text.failed = {"2.0"};

    Feed no_download = offer_of("2.0.0");
    no_download.download = {};
    Feed malformed_download = offer_of("2.0.0");
    malformed_download.download.state = SectionState::malformed;
    Feed no_entry = offer_of("2.0.0");
    no_entry.update_entry.reset();
    Feed other_entry = offer_of("2.0.0");
    other_entry.update_entry->version = "2.0";
    Feed malformed_stop = offer_of("2.0.0");
    malformed_stop.stop.state = SectionState::malformed;
    Feed stop_names_it = offer_of("2.0.0");
    add_stop(stop_names_it, {"1.0", "2.0.0"});
    Feed stop_names_other_text = offer_of("2.0.0");
    add_stop(stop_names_other_text, {"2.0"});
    Feed revoked_with_stop = offer_of("2.0.0");
    add_stop(revoked_with_stop, {"2.0.0"});
    Feed in_waves = offer_of("2.0.0");
    in_waves.download.value.rollout = Rollout{{2026, 12, 6}, 7};
    Policies disabled, held, no_version, deferring, quiet;
    disabled.updates_disabled = true;
    deferring.defer_while_running = true;
    held.max_version = "1.5";
    no_version.max_version = "2,3";  // reads as 0.0.0
    quiet.quiet_hours = QuietHours{540, 480};  // 09:00 to 17:00
    quiet.defer_while_running = true;

    const std::vector<Case> cases = {
        {"due", KeyUsed::working, offer_of("2.0.0"), {}, "1.0.0", nullptr},
        {"due with the reserve key", KeyUsed::reserve, offer_of("2.0.0"), revoked, "1.0.0", nullptr},
        {"working key revoked", KeyUsed::working, offer_of("2.0.0"), revoked, "1.0.0", revoked_text},
        {"revoked wins over a stop section", KeyUsed::working, revoked_with_stop, revoked, "1.0.0",
         revoked_text},
        {"no download", KeyUsed::working, no_download, {}, "1.0.0", no_download_text},
        {"download malformed", KeyUsed::working, malformed_download, {}, "1.0.0", malformed},
        {"no update entry", KeyUsed::working, no_entry, {}, "1.0.0", no_entry_text},
        {"entry of another text", KeyUsed::working, other_entry, {}, "1.0.0", no_entry_text},
        {"nothing installed", KeyUsed::working, offer_of("2.0.0"), {}, "", not_newer},
        {"same version", KeyUsed::working, offer_of("2.0.0"), {}, "2.0.0", not_newer},
        {"older", KeyUsed::working, offer_of("1.9"), {}, "2.0.0", not_newer},
        {"newer only in a fourth piece", KeyUsed::working, offer_of("2.0.0.1"), {}, "2.0.0", not_newer},
        {"reserve key, stop malformed", KeyUsed::reserve, malformed_stop, {}, "1.0.0", stop_malformed},
        {"reserve key, stop malformed, not newer", KeyUsed::reserve, malformed_stop, {}, "2.0.0",
         not_newer},
        {"working key, stop malformed is ignored", KeyUsed::working, malformed_stop, {}, "1.0.0", nullptr},
        {"reserve key, stop names it", KeyUsed::reserve, stop_names_it, {}, "1.0.0", stopped},
        {"working key, its stop is ignored", KeyUsed::working, stop_names_it, {}, "1.0.0", nullptr},
        {"stop list is byte for byte", KeyUsed::reserve, stop_names_other_text, {}, "1.0.0", nullptr},
        {"stopped here", KeyUsed::working, offer_of("2.0.0"), stopped_here, "1.0.0", stopped},
        {"failed here", KeyUsed::working, offer_of("2.0.0"), failed_here, "1.0.0", failed},
        {"failed list is byte for byte", KeyUsed::working, offer_of("2.0.0"), failed_other_text, "1.0.0",
         nullptr},
        {"foreign address", KeyUsed::working, offer_of("2.0.0", "https://elsewhere/tamsel/files/s.exe"), {},
         "1.0.0", foreign},
        {"exactly 16 MiB", KeyUsed::working, offer_of("2.0.0", std::string(prefix) + "s.exe", 16777216), {},
         "1.0.0", nullptr},
        {"one byte over 16 MiB", KeyUsed::working, offer_of("2.0.0", std::string(prefix) + "s.exe", 16777217), {},
         "1.0.0", over_size},
        {"foreign address before size", KeyUsed::working, offer_of("2.0.0", "https://x/", 16777217), {}, "1.0.0",
         foreign},
        // The machine's gates: updates off right after the revoked key, the
        // rest after every rule of the feed and the state.
        {"revoked before disabled", KeyUsed::working, offer_of("2.0.0"), revoked, "1.0.0", revoked_text, disabled},
        {"disabled before no download", KeyUsed::working, no_download, {}, "", disabled_text, disabled},
        {"over size before held", KeyUsed::working, offer_of("2.0.0", std::string(prefix) + "s.exe", 16777217), {},
         "1.0.0", over_size, held},
        {"held above the maximum", KeyUsed::working, offer_of("2.0.0"), {}, "1.0.0", held_text, held},
        {"a maximum that is no version holds all", KeyUsed::working, offer_of("0.0.1"), {}, "0.0.0", held_text,
         no_version},
        {"held before the rollout", KeyUsed::working, in_waves, {}, "1.0.0", held_text, held, 3},
        {"wave due today", KeyUsed::working, in_waves, {}, "1.0.0", nullptr, {}, 0},
        {"wave due tomorrow", KeyUsed::working, in_waves, {}, "1.0.0", not_yet, {}, 1},
        {"rollout before the deferral", KeyUsed::working, in_waves, {}, "1.0.0", not_yet, deferring, 1, true},
        {"deferred while running", KeyUsed::working, offer_of("2.0.0"), {}, "1.0.0", deferred, deferring, 0, true},
        {"running without the policy", KeyUsed::working, offer_of("2.0.0"), {}, "1.0.0", nullptr, {}, 0, true},
        {"rollout before quiet hours", KeyUsed::working, in_waves, {}, "1.0.0", not_yet, quiet, 1, true, 600},
        {"quiet hours before the deferral", KeyUsed::working, offer_of("2.0.0"), {}, "1.0.0", quiet_text, quiet, 0,
         true, 600},
        {"after quiet hours", KeyUsed::working, offer_of("2.0.0"), {}, "1.0.0", deferred, quiet, 0, true, 1020},
    };
    for (const Case& c : cases) {
        const auto result = decide_update(c.key, c.feed, c.state,
                                          Machine{c.installed, prefix, c.policies, {2026, 12, 6}, c.wave, c.running,
                                                  c.minute});
        if (c.logged) {
            ASSERT_TRUE(std::holds_alternative<Verdict>(result)) << c.name;
            EXPECT_EQ(verdict_message(std::get<Verdict>(result)), c.logged) << c.name;
        } else {
            ASSERT_TRUE(std::holds_alternative<Download>(result)) << c.name;
            EXPECT_EQ(std::get<Download>(result).url, c.feed.download.value.url) << c.name;
        }
    }
}

TEST(FilesPrefix, TheAddressRule) {
    const std::string p = prefix;
    struct Case {
        std::string url;
        bool under;
    };
    const Case cases[] = {
        {p + "setup.exe", true},
        {p + "v2.0.1/tamsel-setup_2.0.1.exe", true},
        {p + std::string(200, 'a'), true},
        {p + std::string(201, 'a'), false},
        {p, false},
        {p + "a/../b.exe", false},
        {p + "../b.exe", false},
        {p + "./b.exe", false},
        {p + "a//b.exe", false},
        {p + "a/", false},
        {p + "/a", false},
        {p + "a?b=1", false},
        {p + "a%2Fb", false},
        {p + "a:b", false},
        {p + "a\\b", false},
        {p + "a b", false},
        {p + "caf\xc3\xa9.exe", false},
        {p + "...", true},  // only "." and ".." are special
        {"https://LOCALHOST/tamsel/files/setup.exe", false},
        {"https://localhost/tamsel/Files/setup.exe", false},
        {"https://localhost/tamsel/files", false},
        {"http://localhost/tamsel/files/setup.exe", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(is_under_files_prefix(c.url, prefix), c.under) << c.url;
}

TEST(TakeInStopOrder, OnlyAPresentStopOfTheReserveKeyChangesTheState) {
    Feed feed = offer_of("2.0.0");
    add_stop(feed, {"1.5", "2.0.0", "1.5"}, true);

    State state;
    EXPECT_FALSE(take_in_stop_order(state, feed, KeyUsed::working));
    EXPECT_EQ(state, State{});

    EXPECT_TRUE(take_in_stop_order(state, feed, KeyUsed::reserve));
    EXPECT_TRUE(state.working_key_revoked);
    EXPECT_EQ(state.stopped, (std::vector<std::string>{"1.5", "2.0.0"}));

    // Taking the same order in again changes nothing.
    EXPECT_FALSE(take_in_stop_order(state, feed, KeyUsed::reserve));

    // The flag is never set back; a new text is appended at the end.
    add_stop(feed, {"3.0"}, false);
    EXPECT_TRUE(take_in_stop_order(state, feed, KeyUsed::reserve));
    EXPECT_TRUE(state.working_key_revoked);
    EXPECT_EQ(state.stopped, (std::vector<std::string>{"1.5", "2.0.0", "3.0"}));

    feed.stop.state = SectionState::malformed;
    feed.stop.value.versions = {"4.0"};
    EXPECT_FALSE(take_in_stop_order(state, feed, KeyUsed::reserve));
    EXPECT_EQ(state.stopped.size(), 3u);
}

TEST(TakeInStopOrder, RevokingAloneCountsAsAChange) {
    Feed feed = offer_of("2.0.0");
    add_stop(feed, {}, true);
    State state;
    EXPECT_TRUE(take_in_stop_order(state, feed, KeyUsed::reserve));
    EXPECT_TRUE(state.stopped.empty());
}

}  // namespace
}  // namespace tamsel
