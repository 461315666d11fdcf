// Every document that TOML 1.0 calls invalid must end as "feed document
// refused", without a crash or an assert on the way. The files come from the
// toml-test suite.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "feed/feed.h"

namespace tamsel {
namespace {

const std::string suite = std::string(TAMSEL_VECTORS_DIR) + "/toml-test/tests/";

std::vector<std::string> invalid_files() {
    std::ifstream list(suite + "files-toml-1.0.0");
    std::vector<std::string> files;
    for (std::string line; std::getline(list, line);) {
        if (line.starts_with("invalid/") && line.ends_with(".toml")) files.push_back(line);
    }
    return files;
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(FeedTomlConformance, EveryInvalidDocumentIsRefused) {
    const std::vector<std::string> files = invalid_files();
    ASSERT_EQ(files.size(), 499u) << "the suite's list was not found or changed";
    std::size_t refused = 0;
    for (const std::string& name : files) {
        const std::string text = read_bytes(suite + name);
        // A leading valid schema line makes sure the refusal comes from the
        // broken syntax, not from a missing schema.
        for (const std::string& document : {text, "schema = 1\n" + text}) {
            const auto result = parse_feed(document);
            const bool is_document_error =
                std::holds_alternative<FeedError>(result) && std::get<FeedError>(result) == FeedError::document;
            EXPECT_TRUE(is_document_error) << name;
            refused += is_document_error ? 1 : 0;
        }
    }
    EXPECT_EQ(refused, 2 * files.size());
}

}  // namespace
}  // namespace tamsel
