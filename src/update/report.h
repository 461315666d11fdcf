// Outcome reports: when the feed asks for them, each installation's outcome
// goes to the update server as one GET of an address that says what happened
// and nothing else (no machine, no user, no cookie, no body), so the vendor
// counts outcomes in the server's own access log and can halt a bad release.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "entry/log.h"
#include "entry/run_context.h"
#include "feed/feed.h"
#include "platform/platform.h"
#include "state/state.h"
#include "update/policies.h"

namespace tamsel {

enum class ReportOutcome { updated, rolled_back, not_installed, not_started, download_refused };

// Short, so a server that does not answer costs the pass seconds at most.
inline constexpr std::uint32_t report_timeout_ms = 3000;

// prefix + "<outcome>/<from>/<to>"; nothing when a version is no plain path
// part (it would change the address's meaning).
std::optional<std::string> report_address(std::string_view prefix, ReportOutcome outcome, std::string_view from,
                                          std::string_view to);

// Where a check run reports: the feed's prefix on the update host, unless the
// policy turns reports off.
std::optional<std::string> check_run_reports_to(const Feed& feed, const RunContext& context, const Policies& policies);

// One try, the answer's status ignored; logs "report sent", or "report not
// sent" with its cause. Nothing at all without a prefix.
void send_report(Https& https, Log& log, const std::optional<std::string>& prefix, ReportOutcome outcome,
                 std::string_view from, std::string_view to);

// Phase two's report of the record's outcome, to the prefix the check run
// kept in it, through the policy's proxy; the policy is read again here.
void send_report_of(const Pending& pending, ReportOutcome outcome, const RunContext& context, Log& log,
                    Platform& platform);

}  // namespace tamsel
