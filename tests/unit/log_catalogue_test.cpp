// The operator's guide lists every log line with its event and what an
// administrator does about it, and the message file gives the Event Viewer
// the texts of the events. This keeps both the same as the code's table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "common/log_messages.h"

namespace tamsel {
namespace {

// A text one letter off is no message, so `log.write` would not accept it.
static_assert(is_log_message("feed request"));
static_assert(!is_log_message("feed requests"));
static_assert(!is_log_message(""));
static_assert(LogMessage("close: ended").text() == "close: ended");
// An event-only text is reported, never written as a line.
static_assert(!is_log_message("did not run: another pass runs"));
static_assert(event_only_message("did not run: another pass runs").event_id == 60);

std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The first cells of the tables under the guide's "Log lines" heading.
std::set<std::string> texts_in_catalogue() {
    const std::string guide = read_text(std::string(TAMSEL_SOURCE_DIR) + "/docs/operator-guide.md");
    const std::size_t start = guide.find("\n### Log lines\n");
    const std::size_t end = guide.find("\n## ", start);
    std::set<std::string> texts;
    if (start == std::string::npos) return texts;
    const std::string section = guide.substr(start, end - start);
    static const std::regex row(R"re(\n\| `([^`]+)` \|)re");
    for (std::sregex_iterator it(section.begin(), section.end(), row), last; it != last; ++it) texts.insert((*it)[1]);
    return texts;
}

const char* type_name(EventType type) {
    switch (type) {
    case EventType::error: return "error";
    case EventType::warning: return "warning";
    case EventType::information: break;
    }
    return "information";
}

TEST(LogCatalogue, TheTableHoldsEachMessageAndEachEventIdOnce) {
    std::set<std::string_view> texts;
    std::set<std::uint32_t> ids;
    for (const LogMessageEntry& message : log_messages) {
        EXPECT_TRUE(texts.insert(message.text).second) << message.text;
        EXPECT_TRUE(ids.insert(message.event_id).second) << message.event_id;
        // 0 is no event; the id must stay a bare message id below the
        // severity and facility bits of the message table.
        EXPECT_GE(message.event_id, 1u);
        EXPECT_LT(message.event_id, 0x10000u);
    }
}

// The message file as it must read for the table: one message per entry.
std::string expected_message_file() {
    std::string text;
    for (const LogMessageEntry& message : log_messages) {
        text += "\nMessageId=" + std::to_string(message.event_id) + "\nSeverity=Success\nLanguage=English\n";
        text += std::string(message.text) + "\n.\n";
    }
    return text;
}

TEST(LogCatalogue, TheMessageFileGivesEveryEventItsTextOnce) {
    const std::string file = read_text(std::string(TAMSEL_SOURCE_DIR) + "/src/app/tamsel-update.mc");
    ASSERT_FALSE(file.empty());
    // Each message: "MessageId=N", its other keywords, "Language=English",
    // the text and a line holding only ".".
    static const std::regex message(
            R"re(\nMessageId=(\d+)\n(?:[A-Za-z]+=[^\n]*\n)*?Language=English\n([^\n]*)\n\.\n)re");
    std::multimap<std::uint32_t, std::string> in_file;
    for (std::sregex_iterator it(file.begin(), file.end(), message), last; it != last; ++it)
        in_file.emplace(static_cast<std::uint32_t>(std::stoul((*it)[1])), (*it)[2]);
    std::multimap<std::uint32_t, std::string> expected;
    for (const LogMessageEntry& entry : log_messages) expected.emplace(entry.event_id, entry.text);
    // Every "MessageId=" must have been read as a whole message.
    std::size_t ids = 0;
    for (std::size_t at = file.find("\nMessageId="); at != std::string::npos; at = file.find("\nMessageId=", at + 1))
        ++ids;
    EXPECT_EQ(ids, in_file.size()) << "a message the test could not read";
    EXPECT_EQ(in_file, expected) << "src/app/tamsel-update.mc should hold these messages:\n" << expected_message_file();
}

TEST(LogCatalogue, EveryLogTextOfTheCodeIsInTheOperatorsGuide) {
    const std::set<std::string> catalogue = texts_in_catalogue();
    for (const LogMessageEntry& message : log_messages) {
        if (message.event_only) continue;
        EXPECT_TRUE(catalogue.count(std::string(message.text))) << "not in the guide: " << message.text;
    }
}

// Wherever the guide gives a message's event ("| `text` | 4, information |"),
// it is the code's; and every event, the early exits' included, is given.
TEST(LogCatalogue, TheOperatorsGuideGivesEachMessageItsEvent) {
    const std::string guide = read_text(std::string(TAMSEL_SOURCE_DIR) + "/docs/operator-guide.md");
    static const std::regex row(R"re(\n\| `([^`]+)` \| (\d+), (\w+) \|)re");
    std::map<std::string, std::string> events;
    for (std::sregex_iterator it(guide.begin(), guide.end(), row), last; it != last; ++it)
        events[(*it)[1]] = std::string((*it)[2]) + ", " + std::string((*it)[3]);
    for (const LogMessageEntry& message : log_messages) {
        const std::string expected = std::to_string(message.event_id) + ", " + type_name(message.type);
        const auto found = events.find(std::string(message.text));
        EXPECT_TRUE(found != events.end() && found->second == expected)
                << "the guide should give `" << message.text << "` the event " << expected;
    }
    EXPECT_EQ(events.size(), log_messages.size()) << "the guide gives events to texts the code lacks";
}

TEST(LogCatalogue, TheOperatorsGuideHoldsNoTextTheCodeLacks) {
    const std::set<std::string> catalogue = texts_in_catalogue();
    ASSERT_GT(catalogue.size(), 20u) << "the guide's log tables were not found";
    for (const std::string& text : catalogue) EXPECT_TRUE(is_log_message(text)) << "not in the code: " << text;
}

// The guide's table of causes names each number; a wrong number there would
// send an administrator after the wrong fault. The values are the Windows
// SDK's (winerror.h, winhttp.h) and HTTP's.
TEST(LogCatalogue, TheCauseTableNamesEachNumberRightAndCoversTheCommonFaults) {
    const std::map<std::string, std::string> known = {
        {"ERROR_WINHTTP_NAME_NOT_RESOLVED", "12007"}, {"ERROR_WINHTTP_CANNOT_CONNECT", "12029"},
        {"ERROR_WINHTTP_TIMEOUT", "12002"},           {"ERROR_WINHTTP_SECURE_FAILURE", "12175"},
        {"ERROR_WINHTTP_SECURE_CHANNEL_ERROR", "12157"}, {"Proxy Authentication Required", "407"},
        {"Not Found", "404"},                         {"Internal Server Error", "500"},
        {"ERROR_ACCESS_DENIED", "5"},                 {"ERROR_SHARING_VIOLATION", "32"},
        {"ERROR_DISK_FULL", "112"},                   {"ERROR_BAD_EXE_FORMAT", "193"},
        {"ERROR_NO_SYSTEM_RESOURCES", "1450"},
    };
    const std::string guide = read_text(std::string(TAMSEL_SOURCE_DIR) + "/docs/operator-guide.md");
    const std::size_t start = guide.find("\n### Causes in the number field\n");
    ASSERT_NE(start, std::string::npos);
    const std::string section = guide.substr(start, guide.find("\n## ", start) - start);
    static const std::regex row(R"re(\n\| (\d+) \| ([^|]+) \|)re");
    std::map<std::string, std::string> listed;
    for (std::sregex_iterator it(section.begin(), section.end(), row), last; it != last; ++it) {
        const std::string name = (*it)[2];
        ASSERT_TRUE(known.count(name)) << "a name the test does not know: " << name;
        EXPECT_EQ((*it)[1], known.at(name)) << name;
        listed[name] = (*it)[1];
    }
    EXPECT_EQ(listed.size(), known.size()) << "every common cause has its row";
}

}  // namespace
}  // namespace tamsel
