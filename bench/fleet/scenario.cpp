#include "scenario.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <set>

#include "common/toml.h"

namespace tamsel::fleet {
namespace {

// One table's keys, read strictly: each key once by its reader, and a key
// nobody reads is an error (a misspelt chance would silently be its default).
class TableReader {
public:
    TableReader(const toml::table& table, std::string where) : table_(table), where_(std::move(where)) {}

    void integer(const char* key, int& out, long long low, long long high) {
        at(key, [&](const toml::node& node) {
            const auto* value = node.as_integer();
            if (value == nullptr) return fail(key, "an integer");
            if (value->get() < low || value->get() > high)
                return fail(key, "from " + std::to_string(low) + " to " + std::to_string(high));
            out = static_cast<int>(value->get());
        });
    }
    void unsigned64(const char* key, std::uint64_t& out) {
        at(key, [&](const toml::node& node) {
            const auto* value = node.as_integer();
            if (value == nullptr || value->get() < 0) return fail(key, "an integer of 0 or more");
            out = static_cast<std::uint64_t>(value->get());
        });
    }
    void chance(const char* key, double& out) {
        at(key, [&](const toml::node& node) {
            double number = 0;
            if (const auto* f = node.as_floating_point()) {
                number = f->get();
            } else if (const auto* i = node.as_integer()) {
                number = static_cast<double>(i->get());
            } else {
                return fail(key, "a number");
            }
            if (!(number >= 0.0 && number <= 1.0)) return fail(key, "from 0 to 1");
            out = number;
        });
    }
    void boolean(const char* key, bool& out) {
        at(key, [&](const toml::node& node) {
            const auto* value = node.as_boolean();
            if (value == nullptr) return fail(key, "true or false");
            out = value->get();
        });
    }
    void version(const char* key, std::string& out, bool required) {
        if (required && table_.get(key) == nullptr) return fail(key, "given");
        at(key, [&](const toml::node& node) {
            const auto* value = node.as_string();
            if (value == nullptr || !is_simple_version(value->get())) return fail(key, "a version \"a.b.c\"");
            out = value->get();
        });
    }
    void versions(const char* key, std::vector<std::string>& out) {
        at(key, [&](const toml::node& node) {
            const auto* array = node.as_array();
            if (array == nullptr) return fail(key, "an array of versions");
            for (const toml::node& element : *array) {
                const auto* value = element.as_string();
                if (value == nullptr || !is_simple_version(value->get())) return fail(key, "an array of versions");
                out.push_back(value->get());
            }
        });
    }
    void date(const char* key, CalendarDate& out) {
        at(key, [&](const toml::node& node) {
            const auto* value = node.as_date();
            if (value == nullptr) return fail(key, "a date such as 2027-01-04");
            out = CalendarDate{value->get().year, value->get().month, value->get().day};
        });
    }
    // Each table of an array of tables under `key`.
    void tables(const char* key, const std::function<void(TableReader&)>& each) {
        at(key, [&](const toml::node& node) {
            const auto* array = node.as_array();
            if (array == nullptr || !array->is_array_of_tables()) return fail(key, "an array of tables [[...]]");
            std::size_t index = 0;
            for (const toml::node& element : *array) {
                TableReader inner(*element.as_table(), where_ + key + "[" + std::to_string(index++) + "].");
                each(inner);
                if (!inner.error.empty() && error.empty()) error = inner.error;
                inner.finish();
                if (!inner.error.empty() && error.empty()) error = inner.error;
            }
        });
    }
    void table(const char* key, const std::function<void(TableReader&)>& each) {
        at(key, [&](const toml::node& node) {
            const auto* inner_table = node.as_table();
            if (inner_table == nullptr) return fail(key, "a table");
            TableReader inner(*inner_table, where_ + key + ".");
            each(inner);
            inner.finish();
            if (!inner.error.empty() && error.empty()) error = inner.error;
        });
    }
    // Every key of the table must have been read.
    void finish() {
        for (const auto& [key, node] : table_) {
            if (!read_.count(std::string(key.str())) && error.empty())
                error = where_ + std::string(key.str()) + ": unknown key";
        }
    }

    std::string error;

private:
    void at(const char* key, const std::function<void(const toml::node&)>& read) {
        read_.insert(key);
        if (const toml::node* node = table_.get(key)) read(*node);
    }
    void fail(const char* key, const std::string& expected) {
        if (error.empty()) error = where_ + key + ": must be " + expected;
    }

    const toml::table& table_;
    std::string where_;
    std::set<std::string> read_;
};

}  // namespace

bool is_simple_version(std::string_view version) {
    int pieces = 0;
    while (true) {
        const std::size_t dot = version.find('.');
        const std::string_view piece = version.substr(0, dot);
        unsigned value = 0;
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (piece.empty() || error != std::errc{} || end != piece.data() + piece.size() || value > 65535 ||
            (piece.size() > 1 && piece[0] == '0'))
            return false;
        ++pieces;
        if (dot == std::string_view::npos) break;
        version.remove_prefix(dot + 1);
    }
    return pieces == 3;
}

std::variant<Scenario, std::string> read_scenario(std::string_view text) {
    toml::parse_result parsed = toml::parse(text, std::string_view{"scenario"});
    if (!parsed) {
        const auto& where = parsed.error().source().begin;
        return "line " + std::to_string(where.line) + ", column " + std::to_string(where.column) + ": " +
               std::string(parsed.error().description());
    }
    Scenario scenario;
    TableReader root(parsed.table(), "");
    root.unsigned64("seed", scenario.seed);
    root.integer("machines", scenario.machines, 1, 10'000'000);
    root.integer("days", scenario.days, 1, 3650);
    root.date("start", scenario.start);
    root.version("installed", scenario.installed, false);
    root.tables("release", [&](TableReader& table) {
        Release release;
        table.integer("day", release.day, 0, 3650);
        table.version("version", release.version, true);
        table.integer("rollout_days", release.rollout_days, 0, 30);
        table.boolean("bad", release.bad);
        scenario.releases.push_back(release);
    });
    root.tables("stop", [&](TableReader& table) {
        StopOrder stop;
        table.integer("day", stop.day, 0, 3650);
        table.versions("versions", stop.versions);
        table.boolean("revoke_working", stop.revoke_working);
        table.boolean("keep_offer", stop.keep_offer);
        scenario.stops.push_back(stop);
    });
    root.tables("outage", [&](TableReader& table) {
        Outage outage;
        table.integer("day", outage.day, 0, 3650);
        table.integer("days", outage.days, 1, 3650);
        scenario.outages.push_back(outage);
    });
    root.table("behaviour", [&](TableReader& table) {
        Behaviour& b = scenario.behaviour;
        table.chance("switched_off", b.switched_off);
        table.integer("off_days_max", b.off_days_max, 1, 365);
        table.integer("sessions_max", b.sessions_max, 1, 16);
        table.chance("logged_on", b.logged_on);
        table.chance("program_running", b.program_running);
        table.chance("ignores_close", b.ignores_close);
        table.chance("setup_fails", b.setup_fails);
        table.chance("network_failure", b.network_failure);
        table.chance("broken_download", b.broken_download);
        table.chance("power_cut", b.power_cut);
        table.chance("clock_step", b.clock_step);
        table.integer("clock_step_hours", b.clock_step_hours, 1, 24 * 365);
        table.chance("clock_fixed", b.clock_fixed);
        table.chance("clock_jump", b.clock_jump);
        table.chance("slow_start", b.slow_start);
        table.integer("passes_per_day", b.passes_per_day, 1, 24);
        table.chance("quits_program", b.quits_program);
        table.chance("defer_while_running", b.defer_while_running);
        table.chance("helpers_blocked", b.helpers_blocked);
        table.chance("raise_refused", b.raise_refused);
        table.chance("never_restarts", b.never_restarts);
        table.chance("report_lost", b.report_lost);
    });
    root.table("blast", [&](TableReader& table) {
        BlastCheck blast;
        table.integer("days", blast.days, 3, 365);
        table.integer("rollout_days", blast.rollout_days, 1, 30);
        table.version("version", blast.version, false);
        table.integer("halt_above", blast.halt_above, 0, 99);
        table.integer("min_reports", blast.min_reports, 1, 1'000'000);
        scenario.blast = blast;
    });
    root.finish();
    if (!root.error.empty()) return root.error;

    const auto by_day = [](const auto& a, const auto& b) { return a.day < b.day; };
    std::stable_sort(scenario.releases.begin(), scenario.releases.end(), by_day);
    std::stable_sort(scenario.stops.begin(), scenario.stops.end(), by_day);
    for (std::size_t i = 1; i < scenario.releases.size(); ++i) {
        if (scenario.releases[i].day == scenario.releases[i - 1].day)
            return "release: two releases on day " + std::to_string(scenario.releases[i].day);
    }
    return scenario;
}

}  // namespace tamsel::fleet
