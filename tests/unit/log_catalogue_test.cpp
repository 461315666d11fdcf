// The operator's guide lists every log line with what an administrator does
// about it. This keeps the list and the code the same set of texts.
//
// A log text lives in the code in one of two places: as the literal handed
// to a `write(...)` call, or as a literal returned by a function whose name
// ends in `_message` (the tables of verdicts, download outcomes and feed
// errors). A text kept anywhere else would not be seen here, and the guide's
// entry for it would then be reported as missing from the code.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The end of the brace-delimited body that opens at or after `from`.
std::size_t body_end(const std::string& text, std::size_t from) {
    int depth = 0;
    for (std::size_t i = text.find('{', from); i < text.size(); ++i) {
        if (text[i] == '{') ++depth;
        if (text[i] == '}' && --depth == 0) return i;
    }
    return text.size();
}

std::set<std::string> texts_in_code() {
    static const std::regex written(R"re(\bwrite\(\s*"([^"\\]*)")re");
    static const std::regex message_function(R"re(\b\w+_message\([^()]*\)\s*\{)re");
    static const std::regex returned(R"re(return\s+"([^"\\]*)"\s*;)re");
    std::set<std::string> texts;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::string(TAMSEL_SOURCE_DIR) + "/src")) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".cpp" && extension != ".h") continue;
        const std::string code = read_text(entry.path());
        for (std::sregex_iterator it(code.begin(), code.end(), written), end; it != end; ++it) texts.insert((*it)[1]);
        for (std::sregex_iterator it(code.begin(), code.end(), message_function), end; it != end; ++it) {
            const auto start = static_cast<std::size_t>(it->position());
            const std::string body = code.substr(start, body_end(code, start) - start);
            for (std::sregex_iterator r(body.begin(), body.end(), returned); r != end; ++r) texts.insert((*r)[1]);
        }
    }
    return texts;
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

TEST(LogCatalogue, EveryLogTextOfTheCodeIsInTheOperatorsGuide) {
    const std::set<std::string> catalogue = texts_in_catalogue();
    const std::set<std::string> code = texts_in_code();
    ASSERT_GT(code.size(), 20u) << "the extraction from src/ found too little to be working";
    for (const std::string& text : code) EXPECT_TRUE(catalogue.count(text)) << "not in the guide: " << text;
}

TEST(LogCatalogue, TheOperatorsGuideHoldsNoTextTheCodeLacks) {
    const std::set<std::string> catalogue = texts_in_catalogue();
    const std::set<std::string> code = texts_in_code();
    ASSERT_GT(catalogue.size(), 20u) << "the guide's log tables were not found";
    for (const std::string& text : catalogue) EXPECT_TRUE(code.count(text)) << "not in the code: " << text;
}

}  // namespace
