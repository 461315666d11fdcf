// What the machine's administrators decided through group policy: values under
// HKLM\SOFTWARE\Policies\Tam_Sel\Update, read afresh at every pass. A machine
// without them behaves as if this file did not exist.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/product_names.h"
#include "entry/log.h"
#include "platform/http.h"
#include "platform/registry.h"

namespace tamsel {

// A deferred pass leaves the day open; later passes of that day fetch the
// feed again at most this often. The mark is stamped after the fetch while
// the hourly task starts on the hour, so the next start finds a little less
// than an hour gone: the margin keeps the retry hourly rather than every
// second hour.
inline constexpr std::uint64_t deferred_retry_seconds = 3600;
inline constexpr std::uint64_t deferred_retry_margin_seconds = 300;

// What became of one policy value: in force (a switch at 0 or 1, a text
// of the right form), absent, or ignored and why.
enum class PolicyVerdict : std::uint8_t {
    absent,
    in_force,
    wrong_type,
    out_of_range,   // a switch other than 0 or 1
    empty,          // an empty text
    unreadable,     // a text that does not convert or is over 4096 bytes
    not_host_port,  // a proxy of another form
};

struct PolicyReading {
    std::string_view name;
    PolicyVerdict verdict = PolicyVerdict::absent;
    PolicyValue value;  // as found, unless absent
    friend bool operator==(const PolicyReading&, const PolicyReading&) = default;
};

// One reading of the policy key per pass: what is in force, and every value
// found with its verdict, for the status report.
struct Policies {
    bool updates_disabled = false;           // UpdatesDisabled = 1
    std::optional<std::string> max_version;  // MaxVersion, not empty
    bool defer_while_running = false;        // DeferWhileRunning = 1
    std::string proxy;                       // Proxy when it reads as host:port; else empty
    bool reports_disabled = false;           // DisableReports = 1
    std::vector<PolicyReading> found;        // the values present, in the order of the names above
    friend bool operator==(const Policies&, const Policies&) = default;
};

// A switch is on only at 1; a value of the wrong type, an empty text and a
// proxy that is not host:port count as not set.
Policies read_policies(Registry& registry);

// A reading's effect in words, for an administrator: "MaxVersion '2,3' is no
// version: every update is held".
std::string policy_effect(const PolicyReading& reading);

// "host:port": a host name or IPv4 address (letters, digits, "-", "." and
// "_") or a bracketed IPv6 address, then a port of 1 to 65535.
bool is_proxy_address(std::string_view text);

// One log line for each policy in force, in a fixed order.
void log_policies(Log& log, const Policies& policies);

// Whether the maximum version holds back an offer: the offer is newer than it
// by the same reading as the test against the installed version.
bool held_by_policy(const Policies& policies, std::string_view offered);

// Whether a pass on a day already tried may go on: only when the last pass
// deferred and about an hour (less the margin) has passed since (a clock set
// back counts as no time).
bool deferred_retry_due(const std::optional<std::uint64_t>& deferred_at, std::uint64_t now);

// The HTTPS client with the policy's proxy put into every request.
class PolicyHttps final : public Https {
public:
    PolicyHttps(Https& inner, std::string proxy) : inner_(inner), proxy_(std::move(proxy)) {}
    Result<std::uint64_t> https_get(const HttpsRequest& request, const BodySink& sink) override {
        HttpsRequest routed = request;
        routed.proxy = proxy_;
        return inner_.https_get(routed, sink);
    }
    Result<std::uint32_t> https_get_status(const HttpsRequest& request) override {
        HttpsRequest routed = request;
        routed.proxy = proxy_;
        return inner_.https_get_status(routed);
    }

private:
    Https& inner_;
    std::string proxy_;
};

}  // namespace tamsel
