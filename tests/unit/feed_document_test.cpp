#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "feed/feed.h"

namespace tamsel {
namespace {

const std::string hex64 = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";

std::string item(const std::string& body) { return "[[item]]\n" + body + "\n"; }

std::string update_item(long long id, const std::string& version, const std::string& texts = "en = { title = \"t\", text = \"x\" }") {
    return item("id = " + std::to_string(id) + "\ntype = \"update\"\nversion = \"" + version + "\"\n" + texts);
}

std::string download(const std::string& sha256 = hex64, const std::string& size = "1000",
                     const std::string& version = "\"2.0\"", const std::string& url = "\"https://h/tamsel/files/s.exe\"") {
    return "[download]\nversion = " + version + "\nurl = " + url + "\nsha256 = \"" + sha256 + "\"\nsize = " + size + "\n";
}

enum class Result { document, schema, accepted };

struct Case {
    const char* name;
    std::string text;
    Result result = Result::accepted;
    std::optional<std::uint64_t> entry_id = std::nullopt;
    SectionState download = SectionState::absent;
    SectionState stop = SectionState::absent;
    SectionState report = SectionState::absent;
};

TEST(ParseFeed, DocumentTable) {
    const std::string one = "schema = 1\n";
    const Case cases[] = {
        // schema
        {"only schema 1", one},
        {"schema 0", "schema = 0\n", Result::schema},
        {"schema 2", "schema = 2\n", Result::schema},
        {"schema at the 32-bit top", "schema = 4294967295\n", Result::schema},
        {"schema past 32 bits", "schema = 4294967296\n", Result::document},
        {"schema -1", "schema = -1\n", Result::document},
        {"schema as a string", "schema = \"1\"\n", Result::document},
        {"schema as a float", "schema = 1.0\n", Result::document},
        {"schema as a boolean", "schema = true\n", Result::document},
        {"schema missing", "other = 1\n", Result::document},
        {"schema 2 and a broken item", "schema = 2\n" + item("id = -1\ntype = \"news\""), Result::document},
        {"syntax error", "schema = 1\nschema = 1\n", Result::document},
        {"other top-level keys", one + "x = [1, \"a\", { b = 2 }]\n[whatever]\nz = 1.5\n"},
        // item shape
        {"item as a single table", one + "[item]\nid = 1\ntype = \"news\"\n", Result::document},
        {"item as an empty array", one + "item = []\n"},
        {"item array holding a number", one + "item = [1]\n", Result::document},
        {"item as inline tables", one + "item = [{ id = 4, type = \"update\", version = \"2.0\", en = [\"t\", \"x\"] }]\n",
         Result::accepted, 4},
        {"item without id", one + item("type = \"news\""), Result::document},
        {"negative id", one + item("id = -1\ntype = \"news\""), Result::document},
        {"id as a float", one + item("id = 1.0\ntype = \"news\""), Result::document},
        {"id as a string", one + item("id = \"1\"\ntype = \"news\""), Result::document},
        {"item without type", one + item("id = 1"), Result::document},
        {"type as a number", one + item("id = 1\ntype = 1"), Result::document},
        {"version as a number", one + item("id = 1\ntype = \"update\"\nversion = 2"), Result::document},
        {"link as a boolean", one + item("id = 1\ntype = \"news\"\nlink = true"), Result::document},
        {"a string-valued extra key", one + item("id = 1\ntype = \"news\"\nde = \"Hallo\""), Result::document},
        {"text without title", one + item("id = 1\ntype = \"news\"\n[item.en]\ntext = \"x\""), Result::document},
        {"title as a number", one + item("id = 1\ntype = \"news\"\nen = { title = 1, text = \"x\" }"), Result::document},
        {"text as an array of three", one + item("id = 1\ntype = \"news\"\nen = [\"a\", \"b\", \"c\"]"), Result::document},
        {"text as an array of one", one + item("id = 1\ntype = \"news\"\nen = [\"a\"]"), Result::document},
        {"text array with a number", one + item("id = 1\ntype = \"news\"\nen = [\"a\", 1]"), Result::document},
        {"text with extra keys", one + update_item(3, "2.0", "en = { title = \"t\", text = \"x\", more = 1 }"),
         Result::accepted, 3},
        {"date as a string", one + update_item(3, "2.0") + "date = \"2026-09-02\"\n", Result::accepted, 3},
        {"date as a TOML date", one + update_item(3, "2.0") + "date = 2026-09-02\n", Result::accepted, 3},
        {"date as an offset date-time", one + update_item(3, "2.0") + "date = 2026-09-02T23:30:00-05:00\n",
         Result::accepted, 3},
        {"date that does not exist", one + update_item(3, "2.0") + "date = \"2026-02-29\"\n", Result::document},
        {"date as a time of day", one + update_item(3, "2.0") + "date = 12:00:00\n", Result::document},
        {"date as a number", one + update_item(3, "2.0") + "date = 20260902\n", Result::document},
        // the update entry
        {"only a de section", one + update_item(3, "2.0", "de = { title = \"t\", text = \"x\" }")},
        {"only a ru section", one + update_item(3, "2.0", "ru = [\"t\", \"x\"]"), Result::accepted, 3},
        {"type Update", one + item("id = 3\ntype = \"Update\"\nversion = \"2.0\"\nen = [\"t\", \"x\"]")},
        {"type neither news nor update", one + item("id = 3\ntype = \"promo\"\nversion = \"2.0\"\nen = [\"t\", \"x\"]")},
        {"update without version", one + item("id = 3\ntype = \"update\"\nen = [\"t\", \"x\"]")},
        {"news is no update entry", one + item("id = 3\ntype = \"news\"\nversion = \"2.0\"\nen = [\"t\", \"x\"]")},
        {"ids 7 then 9", one + update_item(7, "1.7") + update_item(9, "1.9"), Result::accepted, 9},
        {"ids 9 then 7", one + update_item(9, "1.9") + update_item(7, "1.7"), Result::accepted, 9},
        {"greatest id does not count", one + update_item(7, "1.7") + update_item(9, "1.9", "de = [\"t\", \"x\"]"),
         Result::accepted, 7},
        {"id at the 64-bit top", one + update_item(0, "0") + update_item(9223372036854775807, "max"),
         Result::accepted, 9223372036854775807ull},
        // download
        {"download present", one + download(), Result::accepted, std::nullopt, SectionState::present},
        {"download with upper-case digits", one + download("00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF"),
         Result::accepted, std::nullopt, SectionState::present},
        {"download with an extra key", one + download() + "note = 1\n", Result::accepted, std::nullopt, SectionState::present},
        {"sha256 of 63 digits", one + download(hex64.substr(1)), Result::accepted, std::nullopt, SectionState::malformed},
        {"sha256 of 65 digits", one + download(hex64 + "0"), Result::accepted, std::nullopt, SectionState::malformed},
        {"sha256 with g", one + download("g" + hex64.substr(1)), Result::accepted, std::nullopt, SectionState::malformed},
        {"sha256 with a space", one + download(" " + hex64.substr(1)), Result::accepted, std::nullopt, SectionState::malformed},
        {"size 0", one + download(hex64, "0"), Result::accepted, std::nullopt, SectionState::malformed},
        {"size -1", one + download(hex64, "-1"), Result::accepted, std::nullopt, SectionState::malformed},
        {"size 1.5", one + download(hex64, "1.5"), Result::accepted, std::nullopt, SectionState::malformed},
        {"size 1000.0", one + download(hex64, "1000.0"), Result::accepted, std::nullopt, SectionState::malformed},
        {"size as a string", one + download(hex64, "\"1000\""), Result::accepted, std::nullopt, SectionState::malformed},
        {"empty version", one + download(hex64, "1", "\"\""), Result::accepted, std::nullopt, SectionState::malformed},
        {"version as a number", one + download(hex64, "1", "2"), Result::accepted, std::nullopt, SectionState::malformed},
        {"empty url", one + download(hex64, "1", "\"2.0\"", "\"\""), Result::accepted, std::nullopt, SectionState::malformed},
        {"url missing", one + "[download]\nversion = \"2.0\"\nsha256 = \"" + hex64 + "\"\nsize = 1\n", Result::accepted,
         std::nullopt, SectionState::malformed},
        {"download as an array of tables", one + "[[download]]\nversion = \"2.0\"\nurl = \"u\"\nsha256 = \"" + hex64 + "\"\nsize = 1\n",
         Result::accepted, std::nullopt, SectionState::malformed},
        {"download as a string", one + "download = \"setup.exe\"\n", Result::accepted, std::nullopt, SectionState::malformed},
        // stop
        {"empty [stop]", one + "[stop]\n", Result::accepted, std::nullopt, SectionState::absent, SectionState::present},
        {"stop = true", one + "stop = true\n", Result::accepted, std::nullopt, SectionState::absent, SectionState::malformed},
        {"versions as a string", one + "[stop]\nversions = \"1.0\"\n", Result::accepted, std::nullopt, SectionState::absent,
         SectionState::malformed},
        {"versions with a number", one + "[stop]\nversions = [\"1.0\", 2]\n", Result::accepted, std::nullopt,
         SectionState::absent, SectionState::malformed},
        {"revoke_working as 1", one + "[stop]\nrevoke_working = 1\n", Result::accepted, std::nullopt, SectionState::absent,
         SectionState::malformed},
        {"revoke_working as a string", one + "[stop]\nrevoke_working = \"true\"\n", Result::accepted, std::nullopt,
         SectionState::absent, SectionState::malformed},
        {"stop with an extra key", one + "[stop]\nversions = []\nwhy = \"x\"\n", Result::accepted, std::nullopt,
         SectionState::absent, SectionState::present},
        // report
        {"[report] with a prefix", one + "[report]\nprefix = \"x\"\nmore = 1\n", Result::accepted, {}, {}, {},
         SectionState::present},
        {"[report] without a prefix", one + "[report]\n", Result::accepted, {}, {}, {}, SectionState::malformed},
        {"prefix as a number", one + "[report]\nprefix = 1\n", Result::accepted, {}, {}, {}, SectionState::malformed},
        {"report as a string", one + "report = \"https://h/r/\"\n", Result::accepted, {}, {}, {},
         SectionState::malformed},
        // a broken download or stop leaves the rest usable
        {"everything at once", one + "stop = 1\n" + update_item(5, "2.0") + download(hex64, "0"), Result::accepted, 5,
         SectionState::malformed, SectionState::malformed},
    };
    for (const Case& c : cases) {
        const auto result = parse_feed(c.text);
        if (c.result != Result::accepted) {
            ASSERT_TRUE(std::holds_alternative<FeedError>(result)) << c.name;
            EXPECT_EQ(std::get<FeedError>(result), c.result == Result::schema ? FeedError::schema : FeedError::document)
                << c.name;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<Feed>(result)) << c.name;
        const Feed& feed = std::get<Feed>(result);
        EXPECT_EQ(feed.update_entry.has_value(), c.entry_id.has_value()) << c.name;
        if (feed.update_entry && c.entry_id) EXPECT_EQ(feed.update_entry->id, *c.entry_id) << c.name;
        EXPECT_EQ(feed.download.state, c.download) << c.name;
        EXPECT_EQ(feed.stop.state, c.stop) << c.name;
        EXPECT_EQ(feed.report.state, c.report) << c.name;
    }
}

TEST(ReportPrefix, OnlyPlainFoldersOnTheUpdateHost) {
    const std::string plain = "a path part other than letters, digits, \"-\", \".\" and \"_\"";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"https://h/tamsel/report/", std::nullopt}, {"https://h/", std::nullopt},
        {"https://h/" + std::string(198, 'a') + "/", std::nullopt},
        {"https://h/" + std::string(199, 'a') + "/", "a path over 200 bytes"},
        {"https://h/report", "not ending in \"/\""}, {"https://other/report/", "not on the update host h"},
        {"https://h:8443/report/", "not an https:// address with a plain host"},
        {"https://h//", plain}, {"https://h/r?x=1/", plain},
    };
    for (const auto& [prefix, refusal] : cases) EXPECT_EQ(report_prefix_refusal(prefix, "h"), refusal) << prefix;
    const Feed feed = std::get<Feed>(parse_feed("schema = 1\n[report]\nprefix = \"https://h/r/\"\n"));
    EXPECT_EQ(report_prefix(feed, "h"), "https://h/r/");
    EXPECT_EQ(report_prefix(feed, "g"), std::nullopt);
}

TEST(ParseFeed, PresentSectionsCarryTheirValues) {
    const std::string text = "schema = 1\n" + update_item(9, "2.0.1") + update_item(9, "other") +
                             update_item(2, "1.0") + download(hex64, "16777216", "\"2.0.1\"") +
                             "[stop]\nversions = [\"1.9\", \"1.8\", \"1.9\"]\nrevoke_working = true\n";
    const auto result = parse_feed(text);
    ASSERT_TRUE(std::holds_alternative<Feed>(result));
    const Feed& feed = std::get<Feed>(result);
    ASSERT_TRUE(feed.update_entry);
    EXPECT_EQ(feed.update_entry->id, 9u);
    EXPECT_EQ(feed.update_entry->version, "2.0.1");  // the first of two equal ids

    ASSERT_TRUE(feed.download.present());
    EXPECT_EQ(feed.download.value.version, "2.0.1");
    EXPECT_EQ(feed.download.value.url, "https://h/tamsel/files/s.exe");
    EXPECT_EQ(feed.download.value.size, 16777216u);
    const std::array<std::uint8_t, 32> sha256 = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa,
                                                 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
                                                 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    EXPECT_EQ(feed.download.value.sha256, sha256);

    ASSERT_TRUE(feed.stop.present());
    EXPECT_EQ(feed.stop.value.versions, (std::vector<std::string>{"1.9", "1.8", "1.9"}));
    EXPECT_TRUE(feed.stop.value.revoke_working);

    const auto empty_stop = parse_feed("schema = 1\n[stop]\n");
    ASSERT_TRUE(std::holds_alternative<Feed>(empty_stop));
    EXPECT_TRUE(std::get<Feed>(empty_stop).stop.value.versions.empty());
    EXPECT_FALSE(std::get<Feed>(empty_stop).stop.value.revoke_working);
}

TEST(ParseFeed, BytesThatAreNoTomlText) {
    using namespace std::string_literals;
    for (const std::string text : {"schema = 1\n\0"s, "schema = 1\n# \xFF\n"s, "\xEF\xBB\xBFschema = 1\n"s,
                                   "schema = 1\r\nx = \"\xED\xA0\x80\"\r\n"s, ""s}) {
        const auto result = parse_feed(text);
        if (text.starts_with("\xEF\xBB\xBF")) {
            // TOML allows a byte order mark; the document is otherwise fine.
            EXPECT_TRUE(std::holds_alternative<Feed>(result));
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<FeedError>(result)) << text;
        EXPECT_EQ(std::get<FeedError>(result), FeedError::document);
    }
}

TEST(ParseFeed, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    for (const std::string opener : {"[", "{ a = ", "[{ a = "}) {
        std::string text = "schema = 1\nx = ";
        for (int i = 0; i < 60000; ++i) text += opener;
        const auto result = parse_feed(text);
        ASSERT_TRUE(std::holds_alternative<FeedError>(result)) << opener;
        EXPECT_EQ(std::get<FeedError>(result), FeedError::document);
    }
}

}  // namespace
}  // namespace tamsel
