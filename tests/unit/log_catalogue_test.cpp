// The operator's guide lists every log line with what an administrator does
// about it. This keeps the list and the code's table of messages the same
// set of texts.
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

TEST(LogCatalogue, TheTableHoldsEachMessageOnce) {
    const std::set<std::string> code(log_messages.begin(), log_messages.end());
    EXPECT_EQ(code.size(), log_messages.size());
}

TEST(LogCatalogue, EveryLogTextOfTheCodeIsInTheOperatorsGuide) {
    const std::set<std::string> catalogue = texts_in_catalogue();
    for (const std::string_view text : log_messages) {
        EXPECT_TRUE(catalogue.count(std::string(text))) << "not in the guide: " << text;
    }
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
