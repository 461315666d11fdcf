#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
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

// One value at a time: its effect in words, and whether the pass takes it.
TEST(PoliciesTest, EachValueWithItsVerdict) {
    struct Case {
        std::string name;
        PolicyValue value;
        const char* effect;
        bool taken;
    };
    const Case cases[] = {
        {"UpdatesDisabled", {4, 1}, "UpdatesDisabled is 1: nothing is installed; the feed is still read for stop orders",
         true},
        {"UpdatesDisabled", {4, 0}, "UpdatesDisabled is 0: updates are on", false},
        {"UpdatesDisabled", {4, 2}, "UpdatesDisabled is 2, not 0 or 1: ignored", false},
        {"UpdatesDisabled", {1, 0, "1"}, "UpdatesDisabled is REG_SZ, not REG_DWORD: ignored", false},
        {"DeferWhileRunning", {11}, "DeferWhileRunning is REG_QWORD, not REG_DWORD: ignored", false},
        {"DeferWhileRunning", {99}, "DeferWhileRunning is registry type 99, not REG_DWORD: ignored", false},
        {"MaxVersion", {1, 0, "2,3"}, "MaxVersion '2,3' is no version: every update is held", true},
        {"MaxVersion", {1, 0, "2.x"}, "MaxVersion '2.x' is no version: read as 2.0.0, updates above it are held",
         true},
        {"MaxVersion", {1, 0, "1.99.99999.7"}, "MaxVersion '1.99.99999.7': updates above 1.99.99999 are held", true},
        {"MaxVersion", {1, 0, "0.0"}, "MaxVersion '0.0': every update is held", true},
        {"MaxVersion", {1, 0, ""}, "MaxVersion is empty: ignored", false},
        {"MaxVersion", {1}, "MaxVersion is no text of at most 4096 bytes: ignored", false},
        {"MaxVersion", {2, 0, std::nullopt}, "MaxVersion is REG_EXPAND_SZ, not REG_SZ: ignored", false},
        {"Proxy", {1, 0, "proxy"}, "Proxy 'proxy' is not host:port: ignored, the automatic proxy choice applies", false},
        {"Proxy", {1, 0, "p:1"}, "Proxy 'p:1': the feed and the download go through this proxy", true},
        {"DisableReports", {4, 1}, "DisableReports is 1: no installation outcome is reported to the update server",
         true},
    };
    for (const Case& c : cases) {
        fakes::FakeSystem system;
        system.policy_values[c.name] = c.value;
        const Policies policies = read_policies(system);
        ASSERT_EQ(policies.found.size(), 1u) << c.effect;
        EXPECT_EQ(policy_effect(policies.found[0]), c.effect);
        const bool taken = policies.updates_disabled || policies.max_version || policies.defer_while_running ||
                           !policies.proxy.empty() || policies.reports_disabled;
        EXPECT_EQ(taken, c.taken) << c.effect;
    }
    fakes::FakeSystem none;
    EXPECT_EQ(read_policies(none), Policies{});
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
