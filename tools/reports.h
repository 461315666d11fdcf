// Counting the clients' outcome reports from the update server's own access
// logs: every report is a GET of PREFIX<outcome>/<from>/<to>, so the web
// server (or a CDN's log export) already holds them. The tool's `reports`
// command and the fleet simulator's vendor both count with this code.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "common/calendar_date.h"

namespace tamsel::tool {

// The outcomes a client reports, as they stand in the address; all but
// `updated` are failures.
inline constexpr std::array<std::string_view, 5> report_outcomes = {"updated", "rolled-back", "not-installed",
                                                                    "not-started", "download-refused"};

struct OutcomeCounts {
    std::array<std::uint64_t, report_outcomes.size()> by_outcome{};
    std::uint64_t reports() const;
    std::uint64_t failures() const { return reports() - by_outcome[0]; }
    // Failures per 100 reports; 0 without reports.
    double failure_percent() const;
    void add(const OutcomeCounts& other);
};

struct ReportTally {
    std::map<std::pair<std::string, std::string>, OutcomeCounts> offers;  // (from, to) -> counts
    std::uint64_t lines = 0;                                              // lines read, blank ones left out
    std::uint64_t reports = 0;                                            // counted into `offers`
    std::uint64_t other_requests = 0;                                     // well-formed lines that are no report
    std::uint64_t malformed = 0;     // neither a log line of the common formats nor a request path
    std::string first_malformed;     // "FILE:LINE" of the first one
    std::uint64_t undated = 0;       // plain paths (no date): counted whatever the day
    std::uint64_t before_since = 0;  // dated before --since: left out
};

// Reads one line of an access log into the tally: the common or combined
// format (the date, then the request in quotes), or a request path (or a
// full https address) alone. A line dated before `since` (the day as the log
// writes it, in the server's time zone) is left out; `where` names the line
// for the first malformed one.
void count_log_line(ReportTally& tally, std::string_view line, const std::optional<CalendarDate>& since,
                    std::string_view where = {});

// The report a request path holds: (outcome index, from, to); nothing for
// any other path.
std::optional<std::tuple<std::size_t, std::string, std::string>> report_of_path(std::string_view path);

// The newest offer reported on: the highest `to` by the updater's own
// version comparison (equal versions written apart: the greater text), and
// its counts over every `from`.
std::optional<std::pair<std::string, OutcomeCounts>> newest_offer(const ReportTally& tally);

// Whether the halt rule fires: the newest offer's failure rate above
// `above_percent` with at least `min_reports` reports.
struct HaltRule {
    double above_percent = 0;
    std::uint64_t min_reports = 1;
};
bool halt_fires(const OutcomeCounts& newest, const HaltRule& rule);

}  // namespace tamsel::tool
