#include "update/policies.h"

#include <algorithm>

#include "update/version.h"

namespace tamsel {
namespace {

bool is_host_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

bool is_ipv6_char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

bool switched_on(System& system, std::string_view name) { return system.policy_number(std::string(name)) == 1u; }

}  // namespace

bool is_proxy_address(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const unsigned long number = std::stoul(std::string(port));
    if (number == 0 || number > 65535) return false;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        const std::string_view inner = host.substr(1, host.size() - 2);
        return std::all_of(inner.begin(), inner.end(), is_ipv6_char);
    }
    return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), is_host_char);
}

Policies read_policies(System& system) {
    Policies policies;
    policies.updates_disabled = switched_on(system, updates_disabled_policy);
    policies.defer_while_running = switched_on(system, defer_while_running_policy);
    if (auto max = system.policy_text(std::string(max_version_policy)); max && !max->empty())
        policies.max_version = std::move(*max);
    if (auto proxy = system.policy_text(std::string(proxy_policy)); proxy && is_proxy_address(*proxy))
        policies.proxy = std::move(*proxy);
    return policies;
}

void log_policies(Log& log, const Policies& policies) {
    if (policies.updates_disabled) log.write("policy: updates disabled", 0);
    if (policies.max_version) log.write("policy: maximum version", 0);
    if (policies.defer_while_running) log.write("policy: deferred while the program runs", 0);
    if (!policies.proxy.empty()) log.write("policy: proxy", 0);
}

bool held_by_policy(const Policies& policies, std::string_view offered) {
    return policies.max_version && is_newer_than_installed(offered, *policies.max_version);
}

bool deferred_retry_due(const std::optional<std::uint64_t>& deferred_at, std::uint64_t now) {
    return deferred_at && now > *deferred_at &&
           now - *deferred_at + deferred_retry_margin_seconds >= deferred_retry_seconds;
}

}  // namespace tamsel
