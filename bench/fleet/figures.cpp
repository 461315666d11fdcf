// The fleet's figures: the invariants and counts kept while it runs, then
// adoption, blast radius, users' cost, stuck machines, the printed table and
// the chart's CSV.
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "common/calendar_date.h"
#include "entry/paths.h"
#include "entry/update_folder.h"
#include "simulation.h"
#include "tools/reports.h"
#include "update/installer.h"

namespace tamsel::fleet {

std::optional<std::string> latest_good_version(const Scenario& scenario, int day) {
    std::optional<std::string> latest;
    for (const Release& release : scenario.releases)
        if (release.day <= day && !release.bad) latest = release.version;
    return latest;
}

Scenario blast_scenario(const Scenario& base, const BlastCheck& blast, int rollout_days) {
    Scenario scenario = base;
    scenario.days = blast.days;
    scenario.releases = {Release{1, blast.version, rollout_days, true}};
    scenario.stops = {StopOrder{2, {blast.version}, false, false}};
    scenario.outages.clear();
    scenario.blast.reset();
    return scenario;
}

std::vector<std::pair<std::string, std::int64_t>> halt_times(const Scenario& scenario,
                                                             std::vector<std::pair<std::int64_t, std::string>> log) {
    const BlastCheck rule = scenario.blast.value_or(BlastCheck{});
    const std::int64_t day0 = days_between(CalendarDate{1970, 1, 1}, scenario.start) * day_seconds;
    std::sort(log.begin(), log.end());
    std::vector<std::pair<std::string, std::int64_t>> fired;
    tool::ReportTally tally;
    std::size_t next = 0;
    for (std::int64_t hour = 0; hour <= scenario.days * day_seconds; hour += 3600) {
        while (next < log.size() && log[next].first < day0 + hour) tool::count_log_line(tally, log[next++].second, {});
        const auto newest = tool::newest_offer(tally);
        if (newest && (fired.empty() || fired.back().first != newest->first) &&
            tool::halt_fires(newest->second,
                             {static_cast<double>(rule.halt_above), static_cast<std::uint64_t>(rule.min_reports)}))
            fired.emplace_back(newest->first, hour);
    }
    return fired;
}

HaltFigures halt_figures(const Scenario& base, const BlastCheck& blast) {
    Scenario scenario = blast_scenario(base, blast, blast.rollout_days);
    scenario.stops.clear();
    scenario.blast = blast;
    const auto share = [](const FleetResult& r) { return static_cast<double>(r.ran_bad_machines) / r.machines; };
    const FleetResult unhalted = run_fleet(scenario);
    HaltFigures figures;
    figures.no_halt = share(unhalted);
    figures.reports = unhalted.report_log.size();
    figures.lost = unhalted.reports_lost;
    // The runs agree up to the withdrawal: answers before it are the same
    // and every chance is drawn per machine and day, so the reports the
    // rule saw by then are the ones the unhalted run logged.
    const auto fired = halt_times(scenario, unhalted.report_log);
    if (!fired.empty()) figures.halt_at = fired.front().second;
    scenario.withdraw_at = (scenario.releases.front().day + 1) * day_seconds;
    figures.manual = share(run_fleet(scenario));
    scenario.withdraw_at = figures.halt_at;
    figures.by_reports = figures.halt_at ? share(run_fleet(scenario)) : figures.no_halt;
    return figures;
}

std::optional<int> days_to_share(const std::vector<double>& share_by_day, int from_day, double share) {
    for (std::size_t day = static_cast<std::size_t>(std::max(from_day, 0)); day < share_by_day.size(); ++day)
        if (share_by_day[day] >= share) return static_cast<int>(day) - from_day;
    return std::nullopt;
}

std::uint64_t percentile(std::vector<std::uint64_t> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

std::vector<double> adoption_by_day(const FleetResult& result, const Scenario& scenario) {
    std::vector<double> shares;
    for (std::size_t day = 0; day < result.per_day.size(); ++day) {
        const DayFigures& figures = result.per_day[day];
        const bool published = latest_good_version(scenario, static_cast<int>(day)).has_value();
        shares.push_back(published && figures.switched_on != 0 ? static_cast<double>(figures.on_latest_good) /
                                                                         static_cast<double>(figures.switched_on)
                                                               : 0.0);
    }
    return shares;
}

std::string summary_line(const FleetResult& result) {
    return "fleet: " + std::to_string(result.machines) + " machines, " + std::to_string(result.days) +
           " days: invariant breaks " + std::to_string(result.invariant_breaks()) + ", stuck " +
           std::to_string(result.stuck_machines) + ", wrongly failed " + std::to_string(result.wrongly_failed_machines);
}

namespace {

std::string percent(double share) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << 100.0 * share << "%";
    return text.str();
}

// "day D HH:00" of an hour counted from day 0's start.
std::string hour_text(std::int64_t since_start) {
    char text[32];
    std::snprintf(text, sizeof text, "day %lld %02lld:00", static_cast<long long>(since_start / day_seconds),
                  static_cast<long long>(since_start % day_seconds / 3600));
    return text;
}

std::string days_text(const std::optional<int>& days) {
    return days ? std::to_string(*days) + (*days == 1 ? " day" : " days") : "not reached";
}

}  // namespace

void print_table(std::ostream& out, const Scenario& scenario, const FleetResult& result,
                 const std::optional<std::pair<double, double>>& blast_radius, const HaltFigures* halt) {
    const auto row = [&out](const std::string& name, const std::string& value) {
        out << "  " << std::left << std::setw(52) << name << value << "\n";
    };
    out << "fleet simulation: " << result.machines << " machines, " << result.days << " days from "
        << calendar_date_text(scenario.start) << ", seed " << scenario.seed << "\n";

    out << "adoption (share of switched-on machines on the latest good version)\n";
    const std::vector<double> adoption = adoption_by_day(result, scenario);
    const Release* last_good = nullptr;
    for (const Release& release : scenario.releases)
        if (!release.bad && release.day < result.days) last_good = &release;
    if (last_good != nullptr) {
        const std::string name = last_good->version + " (day " + std::to_string(last_good->day) +
                                 (last_good->rollout_days ? ", " + std::to_string(last_good->rollout_days) + " waves"
                                                          : "") +
                                 ")";
        row("days to 50% / 90% / 99% of " + name, days_text(days_to_share(adoption, last_good->day, 0.5)) + " / " +
                                                          days_text(days_to_share(adoption, last_good->day, 0.9)) +
                                                          " / " +
                                                          days_text(days_to_share(adoption, last_good->day, 0.99)));
        row("on it at the end", percent(adoption.empty() ? 0.0 : adoption.back()));
    }
    out << "blast radius (machines that ever had a bad version installed)\n";
    row("this scenario", std::to_string(result.ran_bad_machines) + " (" +
                                 percent(static_cast<double>(result.ran_bad_machines) / result.machines) + ")");
    if (blast_radius && scenario.blast) {
        row("bad release stopped a day later, no rollout", percent(blast_radius->first));
        row("the same with rollout_days = " + std::to_string(scenario.blast->rollout_days),
            percent(blast_radius->second));
    }
    if (halt && scenario.blast) {
        const BlastCheck& b = *scenario.blast;
        const std::string waves = std::to_string(b.rollout_days) + " waves, ";
        row(waves + "never halted", percent(halt->no_halt));
        row(waves + "withdrawn a day later", percent(halt->manual));
        const std::string when = halt->halt_at ? hour_text(*halt->halt_at) : "never";
        row(waves + "withdrawn by the hourly halt rule",
            percent(halt->by_reports) + " (over " + std::to_string(b.halt_above) + "% of at least " +
                    std::to_string(b.min_reports) + " reports: " + when + "; " + std::to_string(halt->lost) + " of " +
                    std::to_string(halt->reports + halt->lost) + " reports lost)");
    }
    out << "outcome reports (the vendor's hourly halt rule over this scenario's)\n";
    row("reached the server / lost",
        std::to_string(result.report_log.size()) + " / " + std::to_string(result.reports_lost));
    std::string fired;
    for (const auto& [version, hour] : halt_times(scenario, result.report_log))
        fired += (fired.empty() ? "" : ", ") + version + " (" + hour_text(hour) + ")";
    row("halt rule fired for", fired.empty() ? "none" : fired);
    out << "users' cost per installation\n";
    row("installations (setups started)", std::to_string(result.installations));
    row("program-down seconds median / p99 / max", std::to_string(percentile(result.down_seconds, 50)) + " / " +
                                                           std::to_string(percentile(result.down_seconds, 99)) + " / " +
                                                           std::to_string(percentile(result.down_seconds, 100)) +
                                                           " (over " + std::to_string(result.down_seconds.size()) +
                                                           " that closed it)");
    row("  while its user was at the machine", std::to_string(percentile(result.down_present_seconds, 50)) + " / " +
                                                       std::to_string(percentile(result.down_present_seconds, 99)) +
                                                       " / " +
                                                       std::to_string(percentile(result.down_present_seconds, 100)));
    row("programs down on a bad version / longest there",
        std::to_string(result.down_on_bad) + " / " + std::to_string(result.down_on_bad_max_seconds) + " s");
    row("closes: polite / forced", std::to_string(result.polite_closes) + " / " + std::to_string(result.forced_closes));
    row("installations retried", std::to_string(result.retried_installations));
    row("rollbacks started", std::to_string(result.rollbacks));
    row("  of them back to a stopped version", std::to_string(result.rollbacks_to_stopped));
    out << "health\n";
    row("stuck machines", std::to_string(result.stuck_machines));
    row("machines left on a bad version at the end", std::to_string(result.on_bad_at_end));
    for (const auto& [why, where] : result.first_stuck) row("  " + why, "first: " + where);
    row("machines with a good version in failed",
        std::to_string(result.wrongly_failed_machines) +
                (result.first_wrongly_failed.empty() ? "" : " (first: " + result.first_wrongly_failed + ")"));
    row("  of them without a watched slow start",
        std::to_string(result.wrongly_failed_unwatched) +
                (result.first_wrongly_failed_unwatched.empty()
                         ? ""
                         : " (first: " + result.first_wrongly_failed_unwatched + ")"));
    const auto count = [&result](const char* message) {
        const auto it = result.log_lines.find(message);
        return std::to_string(it == result.log_lines.end() ? 0 : it->second);
    };
    row("raises refused / helpers that did not start",
        count("raise: start refused") + " / " +
                std::to_string(std::stoull(count("raise: the window helper did not start")) +
                               std::stoull(count("close: the helper did not start"))));
    row("owed programs given back later / given up",
        count("raise owed: the program runs again") + " / " + count("raise owed: given up"));
    row("passes deferred while the program ran", count("nothing to install: deferred while the program runs"));
    row("feed fetches per machine per day", [&] {
        std::ostringstream text;
        text << std::fixed << std::setprecision(3)
             << (result.machine_days_on ? static_cast<double>(result.feed_fetches) / result.machine_days_on : 0.0);
        return text.str();
    }());
    out << "invariants\n";
    if (result.breaks.empty()) row("all held", "0 breaks");
    for (const auto& [what, count] : result.breaks)
        row(what, std::to_string(count) + " (first: " + result.first_break.at(what) + ")");
    out << summary_line(result) << "\n";
}

void write_csv(std::ostream& out, const Scenario& scenario, const FleetResult& result) {
    out << "day,date,switched_on,on_latest_good_share,ever_ran_bad_share,feed_fetches_per_machine,pending_share\n";
    const std::vector<double> adoption = adoption_by_day(result, scenario);
    for (std::size_t day = 0; day < result.per_day.size(); ++day) {
        const DayFigures& f = result.per_day[day];
        const double on = f.switched_on ? static_cast<double>(f.switched_on) : 1.0;
        out << day << "," << calendar_date_text(add_days(scenario.start, static_cast<std::int64_t>(day))) << ","
            << f.switched_on << "," << adoption[day] << "," << static_cast<double>(f.ever_ran_bad) / result.machines
            << "," << f.feed_fetches / on << "," << f.pending / on << "\n";
    }
}

std::uint64_t FleetResult::invariant_breaks() const {
    std::uint64_t total = 0;
    for (const auto& [what, count] : breaks) total += count;
    return total;
}

void Simulation::note_break(const Machine& machine, int day, const std::string& what) {
    ++result_.breaks[what];
    result_.first_break.try_emplace(what, "machine " + std::to_string(machine.index) + ", day " + std::to_string(day));
    if (options_.trace) *options_.trace << "  ! invariant broken: " << what << "\n";
}

void Simulation::note_stuck(Machine& machine, int day, const std::string& why) {
    if (!machine.stuck) ++result_.stuck_machines;
    machine.stuck = true;
    result_.first_stuck.try_emplace(why, "machine " + std::to_string(machine.index) + ", day " + std::to_string(day));
    if (options_.trace) *options_.trace << "  ! stuck: " << why << "\n";
}

void Simulation::count_present(const Machine& machine, Closed& closed, std::int64_t until) {
    if (!closed.present_from) return;
    const std::int64_t seconds = std::max<std::int64_t>(until - *closed.present_from, 0);
    (vendor_.is_bad(machine.installed) ? closed.present_bad : closed.present_good) += seconds;
    closed.present_from = until;
}

void Simulation::give_back(Machine& machine, const Closed& closed, std::int64_t now) {
    Closed counted = closed;
    count_present(machine, counted, now);
    if (closed.installation < result_.down_seconds.size()) {
        result_.down_seconds[closed.installation] += static_cast<std::uint64_t>(
                std::max<std::int64_t>(now - closed.at, 0));
        result_.down_present_seconds[closed.installation] += static_cast<std::uint64_t>(counted.present_good);
    }
    if (counted.present_bad > 0) {
        ++result_.down_on_bad;
        result_.down_on_bad_max_seconds = std::max(result_.down_on_bad_max_seconds,
                                                   static_cast<std::uint64_t>(counted.present_bad));
    }
}

void Simulation::check_after_process(Machine& machine, int day, std::int64_t now) {
    const auto read = read_state_of(machine);
    const State* state = read ? &*read : nullptr;
    if (state == nullptr) {
        note_break(machine, day, "state.toml did not read");
        return;
    }
    if (machine.revoked_seen && !state->working_key_revoked) note_break(machine, day, "a revocation was undone");
    machine.revoked_seen = machine.revoked_seen || state->working_key_revoked;
    for (const std::string& version : machine.stopped_seen) {
        if (std::find(state->stopped.begin(), state->stopped.end(), version) == state->stopped.end()) {
            note_break(machine, day, "a stopped version was forgotten");
            break;
        }
    }
    machine.stopped_seen.insert(state->stopped.begin(), state->stopped.end());
    for (const std::string& version : state->failed) {
        if (!vendor_.is_bad(version) && !machine.wrongly_failed) {
            machine.wrongly_failed = true;
            ++result_.wrongly_failed_machines;
            const std::string where = version + ": machine " + std::to_string(machine.index) + ", day " +
                                      std::to_string(day);
            if (result_.first_wrongly_failed.empty()) result_.first_wrongly_failed = where;
            // Only a slow start a helper watched may cost a good version.
            if (!machine.slow_start_seen) {
                ++result_.wrongly_failed_unwatched;
                if (result_.first_wrongly_failed_unwatched.empty()) result_.first_wrongly_failed_unwatched = where;
            }
        }
    }
    if (!state->pending) {
        machine.pending_since.reset();
    } else if (machine.pending_since != state->pending->since) {
        machine.pending_since = state->pending->since;
        machine.pending_seen = now;
    }
}

void Simulation::end_day(Machine& machine, int day) {
    // The users leave the machine; a program closed for a whole day of its
    // user's time there, on a version that comes up, is stuck.
    for (auto& [user, closed] : machine.closed) {
        count_present(machine, closed, machine.day_end);
        closed.present_from.reset();
        if (closed.present_good >= static_cast<std::int64_t>(scenario_.behaviour.passes_per_day) * 3600)
            note_stuck(machine, day, "program closed for a whole day of its user's time at the machine");
    }
    DayFigures& figures = result_.per_day[static_cast<std::size_t>(day)];
    ++figures.switched_on;
    ++result_.machine_days_on;
    const auto latest = latest_good_version(scenario_, day);
    if (latest && machine.installed == *latest) ++figures.on_latest_good;

    const auto read = read_state_of(machine);
    const State* state = read ? &*read : nullptr;
    const auto has = [&](const char* name) { return machine.files.count(join_path(context_.update_dir, name)) != 0; };
    if (state != nullptr) {
        if (state->pending) ++figures.pending;
        // A way back: what the next installation would set aside, asked
        // of the updater's own set-aside on a copy of the folder, must be
        // the installed version's setup. While an installation is in
        // flight, its rollback copy is.
        if (!state->pending) {
            fakes::FakeFiles files;
            files.files = machine.files;
            files.folders = {context_.data_dir, context_.update_dir};
            const bool copy = set_aside_installed_setup(files, context_.update_dir);
            const auto kept = files.files.find(UpdateFolder{context_.update_dir}.rollback_setup());
            const std::string* version = kept == files.files.end() ? nullptr : vendor_.version_of(kept->second);
            if (!copy || version == nullptr)
                note_break(machine, day, "a day ended without a way back");
            else if (*version != machine.installed)
                note_break(machine, day, "a day ended with a way back to another version");
        } else if (!has(installed_setup_name) && !(state->pending->rollback_copy && has(rollback_setup_name))) {
            note_break(machine, day, "a day ended without a way back");
        }
        if (state->pending && day_start(day + 1) - machine.pending_seen > 2 * day_seconds)
            note_stuck(machine, day, "installation in flight for more than two days");
    }
    if (options_.trace) {
        *options_.trace << "  end of day: " << machine.installed << " installed; files:";
        for (const auto& [path, bytes] : machine.files)
            *options_.trace << " " << path.substr(context_.update_dir.size() + 1);
        *options_.trace << "\n";
        if (const auto it = machine.files.find(UpdateFolder{context_.update_dir}.state()); it != machine.files.end())
            *options_.trace << "  state.toml: " << it->second << "\n";
    }
}

}  // namespace tamsel::fleet
