// The simulation inside the fleet simulator, shared by its parts: the
// machines and the updater processes they run (machines.cpp), the days and
// the hourly task (schedule.cpp), the update server (server.h) and the
// fleet's figures and invariants (figures.cpp).
#pragma once
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "common/calendar_date.h"
#include "entry/entry.h"
#include "fakes/fake_platform.h"
#include "server.h"
#include "simulator.h"
#include "state/state.h"

namespace tamsel::fleet {

inline constexpr std::int64_t day_seconds = 86400;
inline const std::string host = "updates.example";
inline const std::string program_dir = "C:\\Program Files\\Tamsel";
inline const std::string program_data = "C:\\ProgramData";

// Replayable randomness: one stream per machine and day.
class Rng {
public:
    Rng(std::uint64_t seed, std::uint64_t machine, std::uint64_t day, std::uint64_t stream = 0)
        : state_(seed * 0x9E3779B97F4A7C15ull ^ (machine + 1) * 0xBF58476D1CE4E5B9ull ^
                 (day + 1) * 0x94D049BB133111EBull ^ stream * 0xD6E8FEB86659FD93ull) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    bool chance(double p) { return p > 0 && static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }

private:
    std::uint64_t state_;
};

// A user session on a machine, for one day. Session ids go to the users in
// the order they log on, so a user's id changes from day to day.
struct Session {
    std::uint32_t id = 1;
    std::uint32_t user = 1001;  // the relative id of its user's SID: the same every day
    bool logged_on = false;
    bool program_running = false;
    std::int64_t quits_at = INT64_MAX;  // true time its user ends the program
};

// A program the updater closed and nobody has started again. Its down time
// is counted twice: on the wall clock from the close, and only while its
// user is at the machine (a day the user is logged on, from the day's first
// hourly pass to an hour after its last), which is the time the updater can
// do anything about; the latter splits into time on a version that comes
// up and time on a bad one.
struct Closed {
    std::int64_t at = 0;                       // true time of the close
    std::size_t installation = 0;              // the installation it belongs to
    std::optional<std::int64_t> present_from;  // counting while the user is at the machine, from then
    std::int64_t present_good = 0;
    std::int64_t present_bad = 0;
};

// What one machine keeps from pass to pass: its update folder, its installed
// version and a few facts for the figures.
struct Machine {
    int index = 0;
    std::map<std::string, std::string> files;
    std::string installed;
    std::string guid;
    bool ignores_close = false;
    bool defers = false;           // DeferWhileRunning is set
    bool helpers_blocked = false;  // the updater's own copies never start
    bool never_restarts = false;   // a program the updater closed stays closed until it starts it
    bool slow_start_seen = false;  // a watched slow start was injected
    int off_until = 0;
    std::int64_t clock_offset = 0;  // seconds the wall clock is wrong by
    std::vector<Session> sessions;

    // The users whose program the updater closed and nobody started again.
    std::map<std::uint32_t, Closed> closed;      // by user
    std::int64_t day_end = 0;                    // true time the day's last hourly pass is an hour old
    std::optional<std::uint64_t> pending_since;  // the record's `since`, to tell records apart
    std::int64_t pending_seen = 0;               // true time the record was first seen
    bool revoked_seen = false;
    std::set<std::string> stopped_seen;
    std::set<std::string> started;  // versions whose setup was started
    bool stuck = false;
    bool wrongly_failed = false;
    bool ran_bad = false;
    int ran_bad_day = -1;
};

// A setup program the pass started, run after the pass ends.
struct Launch {
    std::string bytes;
    std::string version;
    bool rollback = false;
};

class Simulation {
public:
    Simulation(const Scenario& scenario, const RunOptions& options)
        : scenario_(scenario),
          options_(options),
          settings_(make_settings()),
          context_(make_run_context(program_dir, program_data, settings_)),
          vendor_(scenario, context_) {
        result_.machines = scenario.machines;
        result_.days = scenario.days;
        result_.per_day.resize(static_cast<std::size_t>(scenario.days));
    }

    FleetResult run();

private:
    static BuildSettings make_settings() {
        BuildSettings settings;
        settings.update_host = host;
        for (std::size_t i = 0; i < 64; ++i) {
            settings.working_key[i] = static_cast<std::uint8_t>(i + 1);
            settings.reserve_key[i] = static_cast<std::uint8_t>(255 - i);
        }
        return settings;
    }

    std::int64_t day_start(int day) const {
        return days_between(CalendarDate{1970, 1, 1}, add_days(scenario_.start, day)) * day_seconds;
    }

    void note_break(const Machine& machine, int day, const std::string& what);
    void note_stuck(Machine& machine, int day, const std::string& why);

    // One process of the updater on the machine, at true time `now`.
    struct World {
        fakes::FakeAccount account;
        fakes::FakeClock clock;
        fakes::FakeFiles files;
        fakes::FakeHttps https;
        fakes::FakeSecurity security;
        fakes::FakeSystem system;
        fakes::FakeProcesses processes{clock};
        fakes::FakeDesktop desktop{clock};
        fakes::FakeEventLog event_log;
        Platform platform;
        explicit World(Crypto& crypto)
            : platform{account,  clock,  crypto, files,  https,  processes, desktop,
                       security, system, system, system, system, system,    event_log} {}
    };

    std::unique_ptr<World> make_world(Machine& machine, int day, std::int64_t now, Rng& rng,
                                      std::vector<Launch>& launches);

    static std::optional<std::uint32_t> session_of(const std::string& token) {
        const auto colon = token.find(':');
        if (colon == std::string::npos) return std::nullopt;
        return static_cast<std::uint32_t>(std::stoul(token.substr(colon + 1)));
    }

    fakes::FakeProcess* program_in(World& w, std::uint32_t session);

    // What a started process does: the window helpers as the real ones would
    // answer for this machine's program, the shell starting the program, and
    // the setup programs, which run after the pass.
    fakes::FakeStartResult on_start(World& w, Machine& machine, std::vector<Launch>& launches, bool good, int day,
                                    const fakes::FakeLaunch& launch);

    void check_setup_start(World& w, Machine& machine, std::vector<Launch>& launches, int day,
                           const std::string& application);

    // The program the user had closed is up again (or the count ends) at `now`.
    void give_back(Machine& machine, const Closed& closed, std::int64_t now);
    // Adds the time since the closed program's count began (or went on).
    void count_present(const Machine& machine, Closed& closed, std::int64_t until);
    static const Session* session_by_id(const Machine& machine, std::uint32_t id) {
        for (const Session& s : machine.sessions)
            if (s.id == id) return &s;
        return nullptr;
    }
    static void set_running(Machine& machine, std::uint32_t session, bool running) {
        for (Session& s : machine.sessions)
            if (s.id == session) s.program_running = running;
    }

    // Runs one updater process (check run or phase two); false when the
    // power went out during it.
    bool run_process(Machine& machine, int day, std::int64_t now, Rng& rng, bool phase2, std::vector<Launch>& launches);

    void power_cut(Machine& machine);

    // The outcome reports the updater sent in one process, as the server's
    // access log receives them (a share is lost on the way).
    void send_reports(const Machine& machine, World& w, std::int64_t now);

    void check_after_process(Machine& machine, int day, std::int64_t now);

    Result<State, StateUnreadable> read_state_of(const Machine& machine);

    // A setup program runs (about a minute), installs its version unless it
    // fails, leaves itself as installed-setup.exe and starts phase two, which
    // may start a rollback setup in turn.
    void run_setups(Machine& machine, int day, std::int64_t now, Rng& rng, std::vector<Launch> launches);

    static std::string clock_text(std::int64_t now) {
        const std::int64_t s = ((now % day_seconds) + day_seconds) % day_seconds;
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                      static_cast<int>(s % 60));
        return text;
    }

    void start_day(Machine& machine, int day, Rng& rng);

    void end_day(Machine& machine, int day);

    void run_machine(int index);

    const Scenario& scenario_;
    const RunOptions& options_;
    BuildSettings settings_;
    RunContext context_;
    SimCrypto crypto_;
    Vendor vendor_;
    FleetResult result_;
    std::size_t current_install_ = SIZE_MAX;
    Rng* current_rng_ = nullptr;
    std::vector<char> install_closed_;  // by installation: whether it closed the program anywhere
};

}  // namespace tamsel::fleet
