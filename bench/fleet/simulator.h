// The fleet simulator: many machines over many days, each running the
// updater's own check run and phase two (the real logic, with the real
// session bridge over fake processes and sessions, on a virtual clock),
// against a vendor that publishes, stops and suffers outages as the scenario
// says. Invariants are checked at every step; the figures sum up what the
// fleet went through.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "scenario.h"

namespace tamsel::fleet {

// One day of the fleet, summed over its machines.
struct DayFigures {
    std::uint64_t switched_on = 0;
    std::uint64_t on_latest_good = 0;  // switched on, with the latest good version installed
    std::uint64_t feed_fetches = 0;
    std::uint64_t ever_ran_bad = 0;  // machines that had a bad version installed by this day
    std::uint64_t pending = 0;       // machines ending the day with an installation in flight
};

struct FleetResult {
    int machines = 0;
    int days = 0;
    std::vector<DayFigures> per_day;
    std::map<std::string, std::uint64_t> breaks;     // invariant -> count
    std::map<std::string, std::string> first_break;  // invariant -> "machine N, day D"
    std::uint64_t stuck_machines = 0;
    std::map<std::string, std::string> first_stuck;  // why -> "machine N, day D"
    std::uint64_t wrongly_failed_machines = 0;
    std::string first_wrongly_failed;
    std::uint64_t wrongly_failed_unwatched = 0;  // of those, machines where no watched slow start was injected
    std::string first_wrongly_failed_unwatched;
    std::uint64_t rollbacks_to_stopped = 0;  // rollbacks that put back a version under a stop order
    std::uint64_t ran_bad_machines = 0;
    std::uint64_t on_bad_at_end = 0;                  // machines whose installed version is a bad one after the last day
    std::uint64_t installations = 0;          // setups started for an update
    std::uint64_t retried_installations = 0;  // later starts of a version a machine started before
    std::uint64_t rollbacks = 0;
    std::uint64_t forced_closes = 0;
    std::uint64_t polite_closes = 0;
    std::vector<std::uint64_t> down_seconds;  // per installation that closed the program, wall clock
    // The same while the users were at the machine, on a version that comes up.
    std::vector<std::uint64_t> down_present_seconds;
    std::uint64_t down_on_bad = 0;              // programs that were down on a bad version nothing could roll back
    std::uint64_t down_on_bad_max_seconds = 0;  // the longest of those, while its user was at the machine
    std::uint64_t machine_days_on = 0;
    std::uint64_t feed_fetches = 0;
    std::map<std::string, std::uint64_t> log_lines;  // message -> count over the fleet
    // The update server's access log of the outcome reports that reached
    // it: (true time, the line in the combined format), in no order.
    std::vector<std::pair<std::int64_t, std::string>> report_log;
    std::uint64_t reports_lost = 0;

    std::uint64_t invariant_breaks() const;
};

struct RunOptions {
    std::optional<int> only_machine;  // replay one machine (with its seed) and trace it
    std::ostream* trace = nullptr;    // each pass's log lines and each day's state
};

FleetResult run_fleet(const Scenario& scenario, const RunOptions& options = {});

// The latest release on or before `day` that is not bad, if any.
std::optional<std::string> latest_good_version(const Scenario& scenario, int day);

// The scenario of the blast-radius check: the given fleet on its installed
// version, a bad release on day 1 (with `rollout_days`, 0 for none) and a
// stop order of it on day 2.
Scenario blast_scenario(const Scenario& base, const BlastCheck& blast, int rollout_days);

// The vendor's halt rule run hourly over a report log, with the counting
// code of tamsel-feed reports: each offer that became the newest and made
// the rule fire, with the hour (seconds after day 0 began) it first did.
std::vector<std::pair<std::string, std::int64_t>> halt_times(const Scenario& scenario,
                                                             std::vector<std::pair<std::int64_t, std::string>> log);

// A bad release in the blast check's waves: the share of machines that ever
// had it installed when it is never halted, withdrawn a day after its
// release, and withdrawn when the halt rule first fires.
struct HaltFigures {
    double no_halt = 0;
    double manual = 0;
    double by_reports = 0;
    std::optional<std::int64_t> halt_at;  // seconds after day 0 began
    std::uint64_t reports = 0;            // reached the server in the run never halted
    std::uint64_t lost = 0;
};
HaltFigures halt_figures(const Scenario& base, const BlastCheck& blast);

// Figures.
// The first day from `from_day` on whose share reaches `share`, as days after
// `from_day`; nothing when it never does.
std::optional<int> days_to_share(const std::vector<double>& share_by_day, int from_day, double share);
// Nearest-rank percentile (0 < p <= 100) of the values; 0 for none.
std::uint64_t percentile(std::vector<std::uint64_t> values, double p);
// Share of switched-on machines on the latest good version, by day (0 where
// none is published yet or no machine is on).
std::vector<double> adoption_by_day(const FleetResult& result, const Scenario& scenario);

// The printed table; its last line is the summary line.
void print_table(std::ostream& out, const Scenario& scenario, const FleetResult& result,
                 const std::optional<std::pair<double, double>>& blast_radius, const HaltFigures* halt = nullptr);
std::string summary_line(const FleetResult& result);
// One row a day, for the chart.
void write_csv(std::ostream& out, const Scenario& scenario, const FleetResult& result);

}  // namespace tamsel::fleet
