#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/toml_whitespace_sweep.h"

namespace tamsel {
namespace {

// toml++ 3.3's white-space check has undefined paths for 3,019 non-ASCII code
// points; this checks what this compiler made of them, for every code point.
TEST(TomlWhitespace, EveryCodePointIsJudgedAsTheLibraryIntends) {
    EXPECT_THAT(testing::toml_whitespace_mismatches(), ::testing::IsEmpty());
}

}  // namespace
}  // namespace tamsel
