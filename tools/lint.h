// Linting a feed document or answer before it is published: TOML errors with
// their place, then the verdicts of the updater's own feed code, then the
// hazards that code lets through.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/calendar_date.h"
#include "tools/feed_tool.h"

namespace tamsel::tool {

enum class Severity { warning, error };

struct Finding {
    Severity severity = Severity::error;
    std::uint32_t line = 0;    // in the linted file; 0 when the finding has no place
    std::uint32_t column = 0;
    std::string message;
    // Shown as a warning but leaves the exit code alone: a hazard the release
    // may knowingly carry, such as a stop order carried on in a feed the
    // working key signs.
    bool advisory = false;
};

struct LintOptions {
    PublicKey working_key{};  // to tell which key signed an answer
    PublicKey reserve_key{};
    std::string host;         // the update server the clients are built for
};

std::vector<Finding> lint(std::string_view file, const LintOptions& options);

// For an offer rolled out in waves: how many waves are due on `today` of
// how many; nothing otherwise.
struct RolloutProgress {
    std::string version;
    CalendarDate start;
    std::int64_t waves = 0;
    std::int64_t due = 0;  // waves due on `today`; each is an even share of the machines
    CalendarDate last;     // the day the last wave is due
};
std::optional<RolloutProgress> rollout_progress(std::string_view file, const CalendarDate& today);
// The same as a line of text: the share of machines due and the waves that remain.
std::optional<std::string> rollout_status(std::string_view file, const CalendarDate& today);

// The prefix clients of `host` send their outcome reports to, when the
// file's [report] asks for them and they would.
std::optional<std::string> report_prefix_of(std::string_view file, std::string_view host);

// exit_done clean (or advisory warnings only), exit_findings warnings,
// exit_refused errors.
int lint_exit_code(const std::vector<Finding>& findings);

}  // namespace tamsel::tool
