#include <gtest/gtest.h>

#include "entry/log.h"
#include "fakes/fake_platform.h"

namespace tamsel {
namespace {

using fakes::FakeClock;
using fakes::FakeEventLog;
using fakes::FakeFiles;
using fakes::filetime_from_unix;

TEST(LogLine, TimestampsByteForByte) {
    struct Case {
        std::int64_t unix_seconds;
        const char* expected;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {1796581133, "2026-12-06T18:18:53Z"},
        {1830297599, "2027-12-31T23:59:59Z"},
        {1830297600, "2028-01-01T00:00:00Z"},
        {1835395200, "2028-02-29T00:00:00Z"},
        {4107542399, "2100-02-28T23:59:59Z"},
        {4107542400, "2100-03-01T00:00:00Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {253402300799, "9999-12-31T23:59:59Z"},
        {253402300800, "10000-01-01T00:00:00Z"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utc_timestamp(static_cast<std::uint64_t>(c.unix_seconds)), c.expected) << c.unix_seconds;
    }
}

TEST(LogLine, FractionsOfASecondAreDroppedAndEarlyClocksReadAs1970) {
    EXPECT_EQ(unix_seconds_from_filetime(filetime_from_unix(1796581133) + 9'999'999), 1796581133u);
    EXPECT_EQ(unix_seconds_from_filetime(filetime_from_unix(-1)), 0u);
    EXPECT_EQ(unix_seconds_from_filetime(0), 0u);
    FakeClock clock;
    clock.set_unix(-86400 * 365);
    EXPECT_EQ(unix_now(clock), 0u);
}

TEST(LogLine, FieldsAndLineEnd) {
    EXPECT_EQ(log_line(1796581133, "feed request", 0), "2026-12-06T18:18:53Z feed request 0\r\n");
    EXPECT_EQ(log_line(1796581133, "raise: window appeared", 3), "2026-12-06T18:18:53Z raise: window appeared 3\r\n");
    EXPECT_EQ(log_line(0, "x", 4294967295u), "1970-01-01T00:00:00Z x 4294967295\r\n");
}

class LogTest : public ::testing::Test {
protected:
    FakeFiles files;
    FakeClock clock;
    FakeEventLog events;
    const std::string dir = "C:\\ProgramData\\Tam_Sel\\update";
    const std::string path = dir + "\\updater.log";
    const std::string previous = dir + "\\updater.log.1";
    void SetUp() override {
        files.folders.insert(dir);
        clock.set_unix(1796581133);
    }
};

TEST_F(LogTest, CreatesTheFileWithTheFirstLineAndNoPreviousGeneration) {
    Log log(files, clock, events, dir);
    EXPECT_TRUE(files.files.empty()) << "creating a Log touches no file";
    log.write("feed request", 0);
    log.write("close: ended", 3);
    EXPECT_EQ(files.files.at(path),
              "2026-12-06T18:18:53Z feed request 0\r\n2026-12-06T18:18:53Z close: ended 3\r\n");
    EXPECT_FALSE(files.exists(previous));
    // Each line is its message's event as well, with the number as data.
    EXPECT_EQ(events.events,
              (std::vector<FakeEventLog::Event>{{4, EventType::information, 0}, {52, EventType::warning, 3}}));
}

TEST_F(LogTest, RotatesOnlyWhenTheLineWouldPassTheLimit) {
    // "feed request" makes a 37-byte line: it fills a file of 65,499 bytes to
    // exactly 65,536, and would take one of 65,500 past the limit.
    for (const std::size_t existing : {65499u, 65500u}) {
        SCOPED_TRACE(existing);
        files.files.clear();
        files.files[path] = std::string(existing, 'a');
        files.files[previous] = "older generation";
        Log log(files, clock, events, dir);
        log.write("feed request", 0);
        if (existing == 65499) {
            EXPECT_EQ(files.files.at(path).size(), 65536u);
            EXPECT_EQ(files.files.at(previous), "older generation");
        } else {
            EXPECT_EQ(files.files.at(previous), std::string(65500, 'a'));
            EXPECT_EQ(files.files.at(path), "2026-12-06T18:18:53Z feed request 0\r\n");
        }
    }
}

TEST_F(LogTest, AFailedRotationStillAppends) {
    files.files[path] = std::string(65530, 'a');
    files.fail_replace = true;
    Log log(files, clock, events, dir);
    log.write("feed request", 0);
    EXPECT_EQ(files.files.at(path).size(), 65530u + 37u);
    EXPECT_FALSE(files.exists(previous));
}

TEST_F(LogTest, AFailedSizeQueryCountsAsEmpty) {
    files.files[path] = std::string(65530, 'a');
    files.fail_size = true;
    Log log(files, clock, events, dir);
    log.write("feed request", 0);
    EXPECT_FALSE(files.exists(previous));
    EXPECT_EQ(files.files.at(path).size(), 65530u + 37u);
}

TEST_F(LogTest, PartialWritesAreRepeatedAndFailuresLoseTheLineQuietly) {
    files.max_write_chunk = 5;
    Log log(files, clock, events, dir);
    log.write("feed request", 0);
    EXPECT_EQ(files.files.at(path), "2026-12-06T18:18:53Z feed request 0\r\n");

    files.max_write_chunk = SIZE_MAX;
    files.zero_write = true;
    log.write("setup started", 0);  // a write that accepts nothing ends the attempt
    files.zero_write = false;
    files.fail_open_append = true;
    log.write("updated", 0);
    EXPECT_EQ(files.files.at(path), "2026-12-06T18:18:53Z feed request 0\r\n");
    // A lost line still reaches the event log; a failing event log costs nothing.
    EXPECT_EQ(events.events.size(), 3u);
    events.fail = true;
    files.fail_open_append = false;
    log.write("updated", 0);
    EXPECT_EQ(events.events.size(), 3u);
    EXPECT_TRUE(files.files.at(path).ends_with("updated 0\r\n"));
}

TEST_F(LogTest, AMissingFolderLosesLinesWithoutCreatingAnything) {
    Log log(files, clock, events, dir + "\\missing");
    log.write("feed request", 0);
    EXPECT_TRUE(files.files.empty());
    EXPECT_EQ(events.events.size(), 1u);
}

}  // namespace
}  // namespace tamsel
