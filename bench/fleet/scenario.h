// The fleet simulator's scenario: the vendor's timeline and how the machines
// of the fleet behave, read from a TOML file.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/calendar_date.h"

namespace tamsel::fleet {

// A version the vendor publishes on a day (0 is the first day simulated).
struct Release {
    int day = 0;
    std::string version;   // "major.minor.build"
    int rollout_days = 0;  // 0: no staged rollout
    bool bad = false;      // its program does not start
};

// A stop order signed with the reserve key; from its day on, the feed is
// signed with the reserve key and carries [stop].
struct StopOrder {
    int day = 0;
    std::vector<std::string> versions;
    bool revoke_working = false;
    bool keep_offer = false;  // [download] stays in the stop feed (clients refuse it as stopped)
};

// The update server answers nothing for `days` days from `day` on.
struct Outage {
    int day = 0;
    int days = 1;
};

// Chances per machine (traits), per day or per pass.
struct Behaviour {
    double switched_off = 0.03;  // per day: the machine goes off for 1 to off_days_max days
    int off_days_max = 7;
    int sessions_max = 2;           // user sessions a machine can have (1..)
    double logged_on = 0.8;         // per session and day: a user is logged on
    double program_running = 0.7;   // per logged-on session and day: the user runs the program
    double ignores_close = 0.05;    // trait: the program ignores the close message
    double setup_fails = 0.02;      // per installation: the setup installs nothing
    double network_failure = 0.03;  // per request: no connection
    double broken_download = 0.01;  // per download: the bytes arrive damaged or cut short
    double power_cut = 0.005;       // per pass and per setup run: the power goes at a random file operation
    double clock_step = 0.01;       // per day: the wall clock is set wrong by up to clock_step_hours
    int clock_step_hours = 48;
    double clock_fixed = 0.3;   // per day: a wrong clock is set right again
    double clock_jump = 0.002;  // per process: the wall clock is set by up to clock_step_hours during a wait
    double slow_start = 0.01;   // per start of the program by the updater: its window takes over a minute
    int passes_per_day = 12;    // the hourly task's passes on a switched-on day, 3600 s apart from about 07:00
    double quits_program = 0.5;        // per running program and day: its user ends it in the afternoon
    double defer_while_running = 0.1;  // trait: the administrators set DeferWhileRunning
    double helpers_blocked = 0.02;     // trait: endpoint protection stops the updater's own copies starting
    double raise_refused = 0.01;       // per start of the program by the updater: the start as the user fails
    double never_restarts = 0.05;      // trait: users leave a program the updater closed to the updater
    double report_lost = 0.05;         // per outcome report: it never reaches the server's log
};

// The blast-radius comparison: a bad release on day 1 of a fresh fleet,
// stopped the next day, with and without a staged rollout.
struct BlastCheck {
    int days = 10;
    int rollout_days = 7;
    std::string version = "1.0.1";
    // The vendor's halt rule, run hourly over the reports (tamsel-feed
    // reports --halt-above H --min-reports N), then withdraw.
    int halt_above = 10;
    int min_reports = 30;
};

struct Scenario {
    std::uint64_t seed = 1;
    int machines = 300;
    int days = 60;
    CalendarDate start{2027, 1, 4};
    std::string installed = "1.0.0";  // every machine's version on day 0
    std::vector<Release> releases;    // by day
    std::vector<StopOrder> stops;     // by day
    std::vector<Outage> outages;
    Behaviour behaviour;
    std::optional<BlastCheck> blast;
    // Seconds after day 0 began at which the vendor withdraws its newest
    // release (tamsel-feed withdraw): machines see it at their next fetch.
    std::optional<std::int64_t> withdraw_at;
};

// Reads a scenario; the error names the key and what was wrong with it.
std::variant<Scenario, std::string> read_scenario(std::string_view text);

// Whether a version text is "a.b.c" with numbers of 0 to 65535, as a
// simulated program can carry it.
bool is_simple_version(std::string_view version);

}  // namespace tamsel::fleet
