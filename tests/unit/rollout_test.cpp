// Staged rollout: the wave of a machine for a version and the day it falls
// due, the keys read from [download], and the check run's verdict.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "feed/feed.h"
#include "support/test_bytes.h"
#include "update/rollout.h"

namespace tamsel {
namespace {

Sha256Digest digest_of_hex(std::string_view hex) {
    Sha256Digest digest{};
    const auto bytes = test_support::unhex(hex);
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    return digest;
}

// Digests are real SHA-256 of the wave texts (computed outside the product),
// so the table also fixes the formula: first 8 bytes, big-endian, modulo.
TEST(Rollout, WavesOfRealDigests) {
    struct Case {
        const char* guid;
        const char* version;
        const char* sha256;
        std::uint32_t days;
        std::uint32_t wave;
    };
    const Case cases[] = {
            {"6B29FC40-CA47-1067-B31D-00DD010662DA", "2.0.0",
             "1d1eaeec5379dfc498636dc65f9a13fbda2dcad308f849b86a7d60e1639bd0fb", 7, 2},
            {"6b29fc40-ca47-1067-b31d-00dd010662da", "2.0.0",
             "1d1eaeec5379dfc498636dc65f9a13fbda2dcad308f849b86a7d60e1639bd0fb", 30, 12},
            {"0f8fad5b-d9cb-469f-a165-70867728950e", "2.0.0",
             "a44aca6b5b8b3ab206fe6f9a6623ea27838a6dc7cc9cfbf963b0e33f997ece38", 7, 3},
            {"0F8FAD5B-D9CB-469F-A165-70867728950E", "2.1.0",
             "4386e9c09158d293fb6336a832949fdc2a3b540123b307539fe7ef71d9d8c947", 7, 4},
            {"7c9e6679-7425-40de-944b-e07fc1f90ae7", "2.0.0",
             "e3182888e93a804b63b01847f90fc48598c43bf3511e4d9614f9b05e0f41e802", 30, 21},
            {"7c9e6679-7425-40de-944b-e07fc1f90ae7", "2.0.0",
             "e3182888e93a804b63b01847f90fc48598c43bf3511e4d9614f9b05e0f41e802", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.guid) + "/" + c.version);
        std::string lower = c.guid;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_EQ(rollout_wave_text(c.guid, c.version), lower + "/" + c.version);
        EXPECT_EQ(rollout_wave(digest_of_hex(c.sha256), c.days), c.wave);
    }
    // All eight bytes count, the ninth does not.
    Sha256Digest top{};
    top.fill(0);
    top[0] = 0x80;  // 2^63
    EXPECT_EQ(rollout_wave(top, 7), static_cast<std::uint32_t>((1ull << 63) % 7));
    top[8] = 0xff;
    EXPECT_EQ(rollout_wave(top, 7), static_cast<std::uint32_t>((1ull << 63) % 7));
}

TEST(Rollout, DueDays) {
    struct Case {
        CalendarDate start;
        std::uint32_t wave;
        CalendarDate due;
    };
    const Case cases[] = {
            {{2026, 12, 8}, 0, {2026, 12, 8}}, {{2026, 12, 28}, 6, {2027, 1, 3}},  // over the year's end
            {{2028, 2, 27}, 2, {2028, 2, 29}},                                     // a leap day
            {{2027, 2, 27}, 2, {2027, 3, 1}},                                      // no leap day
            {{2100, 2, 28}, 1, {2100, 3, 1}},                                      // a century without one
            {{2000, 2, 28}, 1, {2000, 2, 29}},                                     // and one with it
            {{2026, 1, 31}, 29, {2026, 3, 1}},
    };
    for (const Case& c : cases) {
        const Rollout rollout{c.start, 30};
        EXPECT_EQ(rollout_due_day(rollout, c.wave), c.due) << calendar_date_text(c.start) << " + " << c.wave;
        EXPECT_EQ(days_between(c.start, c.due), c.wave);
        EXPECT_EQ(days_between(c.due, c.start), -static_cast<std::int64_t>(c.wave));
        EXPECT_TRUE(rollout_reached(rollout, c.wave, c.due));
        EXPECT_TRUE(rollout_reached(rollout, c.wave, add_days(c.due, 400)));
        EXPECT_FALSE(rollout_reached(rollout, c.wave, add_days(c.due, -1)));
        EXPECT_FALSE(rollout_reached(rollout, c.wave, add_days(c.due, -366)));
    }
}

TEST(Rollout, KeysReadFromDownload) {
    const std::string head =
            "schema = 1\n[download]\nversion = \"2.0\"\nurl = \"https://h/tamsel/files/s.exe\"\n"
            "sha256 = \"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\"\nsize = 1\n";
    struct Case {
        const char* keys;
        std::optional<Rollout> rollout;
    };
    const Case cases[] = {
            {"", std::nullopt},
            {"rollout_start = 2026-12-08\nrollout_days = 7\n", Rollout{{2026, 12, 8}, 7}},
            {"rollout_start = 2026-12-08\nrollout_days = 1\n", Rollout{{2026, 12, 8}, 1}},
            {"rollout_start = 2026-12-08\nrollout_days = 30\n", Rollout{{2026, 12, 8}, 30}},
            // Anything else installs at once: a typo never strands a client.
            {"rollout_start = 2026-12-08\nrollout_days = 0\n", std::nullopt},
            {"rollout_start = 2026-12-08\nrollout_days = 31\n", std::nullopt},
            {"rollout_start = 2026-12-08\nrollout_days = -7\n", std::nullopt},
            {"rollout_start = 2026-12-08\nrollout_days = 7.0\n", std::nullopt},
            {"rollout_start = 2026-12-08\nrollout_days = \"7\"\n", std::nullopt},
            {"rollout_start = \"2026-12-08\"\nrollout_days = 7\n", std::nullopt},
            {"rollout_start = 2026-12-08T10:00:00Z\nrollout_days = 7\n", std::nullopt},
            {"rollout_start = 10:00:00\nrollout_days = 7\n", std::nullopt},
            {"rollout_days = 7\n", std::nullopt},
            {"rollout_start = 2026-12-08\n", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        const auto parsed = parse_feed(head + c.keys);
        ASSERT_TRUE(std::holds_alternative<Feed>(parsed));
        const Feed& feed = std::get<Feed>(parsed);
        ASSERT_TRUE(feed.download.present());  // the offer stands either way
        ASSERT_EQ(feed.download.value.rollout.has_value(), c.rollout.has_value());
        if (c.rollout) {
            EXPECT_EQ(feed.download.value.rollout->start, c.rollout->start);
            EXPECT_EQ(feed.download.value.rollout->days, c.rollout->days);
        }
    }
}

TEST(Rollout, MachineWithoutGuidOrDigestTakesTheLastWave) {
    fakes::FakePlatform fake;
    const Rollout rollout{{2026, 12, 8}, 7};
    EXPECT_EQ(machine_rollout_wave(fake.platform, rollout, "2.0.0", UpdateRing::early), 0u);
    EXPECT_EQ(machine_rollout_wave(fake.platform, rollout, "2.0.0", UpdateRing::late), 6u);
    EXPECT_EQ(fake.crypto.hashed, "");
    const std::uint32_t wave = machine_rollout_wave(fake.platform, rollout, "2.0.0", UpdateRing::own_wave);
    EXPECT_LT(wave, 7u);
    EXPECT_EQ(fake.crypto.hashed, "6b29fc40-ca47-1067-b31d-00dd010662da/2.0.0");  // lower-cased, then the version
    fake.system.guid.reset();
    EXPECT_EQ(machine_rollout_wave(fake.platform, rollout, "2.0.0", UpdateRing::own_wave), 6u);
    fake.system.guid = "";
    EXPECT_EQ(machine_rollout_wave(fake.platform, rollout, "2.0.0", UpdateRing::own_wave), 6u);
    fake.system.guid = "x";
    fake.crypto.fail_finish = true;
    EXPECT_EQ(machine_rollout_wave(fake.platform, rollout, "2.0.0", UpdateRing::own_wave), 6u);
}

}  // namespace
}  // namespace tamsel
