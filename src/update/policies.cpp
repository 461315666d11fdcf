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

std::string type_name(std::uint32_t type) {
    static constexpr std::string_view names[] = {"REG_NONE",
                                                 "REG_SZ",
                                                 "REG_EXPAND_SZ",
                                                 "REG_BINARY",
                                                 "REG_DWORD",
                                                 "REG_DWORD_BIG_ENDIAN",
                                                 "REG_LINK",
                                                 "REG_MULTI_SZ",
                                                 "REG_RESOURCE_LIST",
                                                 "REG_FULL_RESOURCE_DESCRIPTOR",
                                                 "REG_RESOURCE_REQUIREMENTS_LIST",
                                                 "REG_QWORD"};
    return type < std::size(names) ? std::string(names[type]) : "registry type " + std::to_string(type);
}

bool is_switch(std::string_view name) {
    return name == updates_disabled_policy || name == defer_while_running_policy || name == disable_reports_policy;
}

PolicyVerdict judge(std::string_view name, const PolicyValue& value) {
    if (value.type != (is_switch(name) ? reg_dword : reg_sz)) return PolicyVerdict::wrong_type;
    if (is_switch(name)) return value.number <= 1 ? PolicyVerdict::in_force : PolicyVerdict::out_of_range;
    if (!value.text) return PolicyVerdict::unreadable;
    if (value.text->empty()) return PolicyVerdict::empty;
    if (name == proxy_policy && !is_proxy_address(*value.text)) return PolicyVerdict::not_host_port;
    return PolicyVerdict::in_force;
}

// Digits joined by single dots: anything else still reads as a version, with
// each odd piece as 0.
bool is_plain_version(std::string_view text) {
    return !text.empty() && text.front() != '.' && text.back() != '.' && text.find("..") == std::string_view::npos &&
           std::all_of(text.begin(), text.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// MaxVersion read as the check run reads it: only the first three pieces count.
std::string max_version_effect(const std::string& text) {
    VersionNumber max = read_version_number(text);
    max[3] = 0;
    const std::string head = "MaxVersion '" + text + "'" + (is_plain_version(text) ? "" : " is no version");
    if (max == VersionNumber{}) return head + ": every update is held";
    const std::string number = std::to_string(max[0]) + "." + std::to_string(max[1]) + "." + std::to_string(max[2]);
    if (!is_plain_version(text)) return head + ": read as " + number + ", updates above it are held";
    return head + ": updates above " + number + " are held";
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

Policies read_policies(Registry& registry) {
    Policies policies;
    for (const std::string_view name : {updates_disabled_policy, max_version_policy, defer_while_running_policy,
                                        proxy_policy, disable_reports_policy}) {
        auto value = registry.policy_value(std::string(name));
        if (!value) continue;
        const PolicyVerdict verdict = judge(name, *value);
        PolicyReading& reading = policies.found.emplace_back(PolicyReading{name, verdict, std::move(*value)});
        if (verdict != PolicyVerdict::in_force) continue;
        if (name == updates_disabled_policy) policies.updates_disabled = reading.value.number == 1;
        if (name == defer_while_running_policy) policies.defer_while_running = reading.value.number == 1;
        if (name == max_version_policy) policies.max_version = reading.value.text;
        if (name == proxy_policy) policies.proxy = *reading.value.text;
        if (name == disable_reports_policy) policies.reports_disabled = reading.value.number == 1;
    }
    return policies;
}

std::string policy_effect(const PolicyReading& reading) {
    const std::string name(reading.name);
    const PolicyValue& value = reading.value;
    const std::string quoted = value.text ? " '" + *value.text + "'" : "";
    switch (reading.verdict) {
    case PolicyVerdict::absent: return name + " is not set";
    case PolicyVerdict::wrong_type:
        return name + " is " + type_name(value.type) + ", not " + type_name(is_switch(name) ? reg_dword : reg_sz) +
               ": ignored";
    case PolicyVerdict::out_of_range: return name + " is " + std::to_string(value.number) + ", not 0 or 1: ignored";
    case PolicyVerdict::empty: return name + " is empty: ignored";
    case PolicyVerdict::unreadable: return name + " is no text of at most 4096 bytes: ignored";
    case PolicyVerdict::not_host_port:
        return name + quoted + " is not host:port: ignored, the automatic proxy choice applies";
    case PolicyVerdict::in_force: break;
    }
    if (name == updates_disabled_policy)
        return value.number == 1 ? name + " is 1: nothing is installed; the feed is still read for stop orders"
                                 : name + " is 0: updates are on";
    if (name == defer_while_running_policy)
        return value.number == 1 ? name + " is 1: nothing is installed while Tamsel.exe runs; tried again hourly"
                                 : name + " is 0: a running Tamsel.exe is closed for an update";
    if (name == proxy_policy) return name + quoted + ": the feed and the download go through this proxy";
    if (name == disable_reports_policy)
        return value.number == 1 ? name + " is 1: no installation outcome is reported to the update server"
                                 : name + " is 0: outcomes are reported where the feed asks for it";
    return max_version_effect(*value.text);
}

void log_policies(Log& log, const Policies& policies) {
    if (policies.updates_disabled) log.write("policy: updates disabled", 0);
    if (policies.max_version) log.write("policy: maximum version", 0);
    if (policies.defer_while_running) log.write("policy: deferred while the program runs", 0);
    if (!policies.proxy.empty()) log.write("policy: proxy", 0);
    if (policies.reports_disabled) log.write("policy: reports disabled", 0);
}

bool held_by_policy(const Policies& policies, std::string_view offered) {
    return policies.max_version && is_newer_than_installed(offered, *policies.max_version);
}

bool deferred_retry_due(const std::optional<std::uint64_t>& deferred_at, std::uint64_t now) {
    return deferred_at && now > *deferred_at &&
           now - *deferred_at + deferred_retry_margin_seconds >= deferred_retry_seconds;
}

}  // namespace tamsel
