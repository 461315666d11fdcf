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

constexpr std::uint32_t reg_sz = 1;
constexpr std::uint32_t reg_dword = 4;

bool is_switch(std::string_view name) { return name == updates_disabled_policy || name == defer_while_running_policy; }

PolicyVerdict judge(std::string_view name, const PolicyValue& value) {
    if (value.type != (is_switch(name) ? reg_dword : reg_sz)) return PolicyVerdict::wrong_type;
    if (is_switch(name)) return value.number <= 1 ? PolicyVerdict::in_force : PolicyVerdict::out_of_range;
    if (!value.text) return PolicyVerdict::unreadable;
    if (value.text->empty()) return PolicyVerdict::empty;
    if (name == proxy_policy && !is_proxy_address(*value.text)) return PolicyVerdict::not_host_port;
    return PolicyVerdict::in_force;
}

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
    for (const std::string_view name :
         {updates_disabled_policy, max_version_policy, defer_while_running_policy, proxy_policy}) {
        auto value = system.policy_value(std::string(name));
        if (!value) continue;
        const PolicyVerdict verdict = judge(name, *value);
        PolicyReading& reading = policies.found.emplace_back(PolicyReading{name, verdict, std::move(*value)});
        if (verdict != PolicyVerdict::in_force) continue;
        if (name == updates_disabled_policy) policies.updates_disabled = reading.value.number == 1;
        if (name == defer_while_running_policy) policies.defer_while_running = reading.value.number == 1;
        if (name == max_version_policy) policies.max_version = reading.value.text;
        if (name == proxy_policy) policies.proxy = *reading.value.text;
    }
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
    return deferred_at && now > *deferred_at && now - *deferred_at >= deferred_retry_seconds;
}

}  // namespace tamsel
