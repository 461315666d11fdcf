#include <gtest/gtest.h>

#include "feed/https_address.h"

namespace tamsel {
namespace {

TEST(SplitHttpsAddress, AcceptedAddresses) {
    struct Case {
        const char* address;
        const char* host;
        const char* path;
    };
    const Case cases[] = {
        {"https://updates.example.com/tamsel/news.toml", "updates.example.com", "/tamsel/news.toml"},
        {"https://localhost", "localhost", "/"},
        {"https://localhost/", "localhost", "/"},
        {"https://h", "h", "/"},
        // Query, fragment, escapes, dots and doubled slashes stay as written.
        {"https://localhost/a/b.exe?x=1&y=%20#frag", "localhost", "/a/b.exe?x=1&y=%20#frag"},
        {"https://localhost//a/../b", "localhost", "//a/../b"},
        // Only the host is checked for ":" and "@".
        {"https://localhost/a:b@c", "localhost", "/a:b@c"},
        {"https://localhost?q", "localhost?q", "/"},
        {"https://b\xC3\xBC" "cher.example/x", "b\xC3\xBC" "cher.example", "/x"},
    };
    for (const Case& c : cases) {
        const auto split = split_https_address(c.address);
        ASSERT_TRUE(split.has_value()) << c.address;
        EXPECT_EQ(split->host, c.host) << c.address;
        EXPECT_EQ(split->path, c.path) << c.address;
    }
}

TEST(SplitHttpsAddress, RefusedAddresses) {
    const char* const cases[] = {
        "",
        "https://",         // nothing after the scheme
        "https:///a",       // empty host
        "https:///",
        "https://localhost:443/a",  // a port, even the default one
        "https://localhost:/a",
        "https://user@localhost/a",  // user information
        "https://user:pw@localhost/a",
        "https://[::1]/a",
        "HTTPS://localhost/a",  // the scheme in exactly these letters
        "Https://localhost/a",
        "http://localhost/a",  // plain HTTP
        "ftp://localhost/a",
        "https:/localhost/a",
        " https://localhost/a",
        "localhost/a",
    };
    for (const char* address : cases) {
        EXPECT_FALSE(split_https_address(address).has_value()) << address;
    }
}

}  // namespace
}  // namespace tamsel
