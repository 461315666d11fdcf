#include "update/report.h"

#include "feed/https_address.h"

namespace tamsel {
namespace {

std::string_view outcome_name(ReportOutcome outcome) {
    switch (outcome) {
    case ReportOutcome::updated: return "updated";
    case ReportOutcome::rolled_back: return "rolled-back";
    case ReportOutcome::not_installed: return "not-installed";
    case ReportOutcome::not_started: return "not-started";
    case ReportOutcome::download_refused: break;
    }
    return "download-refused";
}

std::string update_host(const RunContext& context) {
    const auto address = split_https_address(context.feed_url);
    return address ? address->host : std::string();
}

}  // namespace

std::optional<std::string> report_address(std::string_view prefix, ReportOutcome outcome, std::string_view from,
                                          std::string_view to) {
    if (!is_plain_path_part(from) || !is_plain_path_part(to)) return std::nullopt;
    std::string address(prefix);
    ((address += outcome_name(outcome)) += '/') += from;
    (address += '/') += to;
    return address;
}

std::optional<std::string> check_run_reports_to(const Feed& feed, const RunContext& context, const Policies& policies) {
    if (policies.reports_disabled) return std::nullopt;
    return report_prefix(feed, update_host(context));
}

void send_report(Https& https, Log& log, const std::optional<std::string>& prefix, ReportOutcome outcome,
                 std::string_view from, std::string_view to) {
    if (!prefix) return;
    const auto address = report_address(*prefix, outcome, from, to);
    const auto split = address ? split_https_address(*address) : std::nullopt;
    if (!split) {
        log.write("report not sent", 0);
        return;
    }
    HttpsRequest request;
    request.host = split->host;
    request.path = split->path;
    request.resolve_timeout_ms = request.connect_timeout_ms = report_timeout_ms;
    request.send_timeout_ms = request.receive_timeout_ms = report_timeout_ms;
    // Any answer means the request reached the server's log, a 404 included.
    const auto answered = https.https_get_status(request);
    if (answered)
        log.write("report sent", 0);
    else
        log.write("report not sent", answered.cause());
}

void send_report_of(const Pending& pending, ReportOutcome outcome, const RunContext& context, Log& log,
                    Platform& platform) {
    // The record lies in the guarded update folder; its prefix is still held
    // to the rule the feed's was, like everything the updater sends to.
    if (!pending.report_prefix || report_prefix_refusal(*pending.report_prefix, update_host(context))) return;
    const Policies policies = read_policies(platform.registry);
    if (policies.reports_disabled) {
        log.write("policy: reports disabled", 0);
        return;
    }
    PolicyHttps https(platform.https, policies.proxy);
    send_report(https, log, pending.report_prefix, outcome, pending.from, pending.version);
}

}  // namespace tamsel
