#include <gtest/gtest.h>

#include "update/policies.h"

namespace tamsel {
namespace {

TEST(PoliciesTest, ProxyAddressForm) {
    struct Case {
        const char* text;
        bool accepted;
    };
    for (const Case c : {Case{"proxy:3128", true},       Case{"proxy.corp.example:8080", true},
                         Case{"10.0.0.1:1", true},       Case{"my_proxy-2:65535", true},
                         Case{"[fe80::1]:3128", true},   Case{"", false},
                         Case{"proxy", false},           Case{"proxy:", false},
                         Case{":3128", false},           Case{"proxy:0", false},
                         Case{"proxy:65536", false},     Case{"proxy:99999999", false},
                         Case{"proxy:+80", false},       Case{"http://proxy:3128", false},
                         Case{"user@proxy:3128", false}, Case{"proxy:3128;other:80", false},
                         Case{"pro xy:3128", false},     Case{"[]:3128", false},
                         Case{"fe80::1:3128", false},    Case{"pröxy:3128", false}}) {
        EXPECT_EQ(is_proxy_address(c.text), c.accepted) << c.text;
    }
}

// The next hourly start comes a little less than an hour after the mark,
// which the deferring pass stamped after its fetch.
TEST(PoliciesTest, DeferredRetryOpensAfterAnHour) {
    EXPECT_FALSE(deferred_retry_due(std::nullopt, 1'000'000));
    EXPECT_FALSE(deferred_retry_due(1'000'000, 1'003'299));
    EXPECT_TRUE(deferred_retry_due(1'000'000, 1'003'590));
    EXPECT_TRUE(deferred_retry_due(1'000'000, 1'003'610));
    EXPECT_FALSE(deferred_retry_due(1'000'000, 999'000));  // the clock went back
}

}  // namespace
}  // namespace tamsel
