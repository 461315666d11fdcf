#include "simulator.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <set>
#include <sstream>

#include "common/calendar_date.h"
#include "entry/entry.h"
#include "entry/log.h"
#include "entry/paths.h"
#include "entry/update_folder.h"
#include "fakes/fake_platform.h"
#include "session/session_bridge.h"
#include "state/state.h"
#include "support/test_bytes.h"
#include "update/check_run.h"
#include "update/installer.h"
#include "update/phase_two.h"
#include "update/version.h"

namespace tamsel::fleet {
namespace {

using fakes::FakeHttpsResponse;

constexpr std::int64_t day_seconds = 86400;
const std::string host = "updates.example";
const std::string program_dir = "C:\\Program Files\\Tamsel";
const std::string program_data = "C:\\ProgramData";

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

// Real SHA-256 (so waves fall as on real machines); signatures are tags of
// key and digest, which only this simulated vendor makes. Verification cost
// is not what is measured here.
class SimCrypto final : public Crypto {
public:
    static Sha256Digest sha256(std::string_view bytes) {
        Sha256Digest digest{};
        unsigned int size = 0;
        EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr);
        return digest;
    }
    static EcdsaSignature tag(const EcPublicKeyBytes& key, const Sha256Digest& digest) {
        std::string both(reinterpret_cast<const char*>(key.data()), key.size());
        both.append(reinterpret_cast<const char*>(digest.data()), digest.size());
        const Sha256Digest a = sha256(both);
        const Sha256Digest b = sha256(both + "second half");
        EcdsaSignature signature{};
        std::copy(a.begin(), a.end(), signature.begin());
        std::copy(b.begin(), b.end(), signature.begin() + 32);
        return signature;
    }

    std::unique_ptr<Sha256Digester> begin_sha256() override { return std::make_unique<Digester>(); }
    std::unique_ptr<EcdsaP256Verifier> open_ecdsa_p256() override { return std::make_unique<Verifier>(); }

private:
    struct Digester final : Sha256Digester {
        std::string bytes;
        bool add(const void* data, std::size_t size) override {
            bytes.append(static_cast<const char*>(data), size);
            return true;
        }
        std::optional<Sha256Digest> finish() override { return sha256(bytes); }
    };
    struct Verifier final : EcdsaP256Verifier {
        bool verify(const EcPublicKeyBytes& key, const Sha256Digest& digest, const EcdsaSignature& signature) override {
            return tag(key, digest) == signature;
        }
    };
};

std::array<std::uint16_t, 3> version_numbers(const std::string& version) {
    std::array<std::uint16_t, 3> n{};
    std::istringstream in(version);
    char dot = 0;
    in >> n[0] >> dot >> n[1] >> dot >> n[2];
    return n;
}

std::string setup_bytes(const std::string& version) {
    std::string bytes = "MZ simulated Tamsel setup " + version + "\n";
    for (int i = 0; bytes.size() < 256; ++i) bytes += static_cast<char>('a' + (i * 7 + version.size()) % 26);
    return bytes;
}

// The vendor: the feed answer it serves each day and the setups it published.
class Vendor {
public:
    Vendor(const Scenario& scenario, const RunContext& context) : scenario_(scenario), context_(context) {
        for (const Release& release : scenario.releases) {
            const std::string bytes = setup_bytes(release.version);
            version_of_setup_[bytes] = release.version;
            setups_[setup_url(release.version)] = bytes;
        }
        version_of_setup_[setup_bytes(scenario.installed)] = scenario.installed;
        for (int day = 0; day < scenario.days; ++day) answers_.push_back(make_answer(day));
    }

    // Nothing during an outage.
    const std::optional<std::string>& answer(int day) const { return answers_.at(static_cast<std::size_t>(day)); }
    const std::map<std::string, std::string>& setups() const { return setups_; }
    // The version a setup program's bytes install, when the vendor made it.
    const std::string* version_of(const std::string& bytes) const {
        const auto it = version_of_setup_.find(bytes);
        return it == version_of_setup_.end() ? nullptr : &it->second;
    }
    bool is_bad(const std::string& version) const {
        return std::any_of(scenario_.releases.begin(), scenario_.releases.end(),
                           [&](const Release& r) { return r.version == version && r.bad; });
    }
    std::string setup_url(const std::string& version) const {
        return context_.files_prefix + "Tamsel-" + version + "-setup.exe";
    }

private:
    std::optional<std::string> make_answer(int day) const {
        for (const Outage& outage : scenario_.outages)
            if (day >= outage.day && day < outage.day + outage.days) return std::nullopt;
        std::set<std::string> stopped;
        const StopOrder* last_stop = nullptr;
        bool revoked = false;
        for (const StopOrder& stop : scenario_.stops) {
            if (stop.day > day) break;
            stopped.insert(stop.versions.begin(), stop.versions.end());
            revoked = revoked || stop.revoke_working;
            last_stop = &stop;
        }
        const Release* latest = nullptr;
        for (const Release& release : scenario_.releases)
            if (release.day <= day) latest = &release;
        const bool reserve = revoked || (last_stop != nullptr && (latest == nullptr || last_stop->day >= latest->day));

        // The newest release that is not stopped is on offer; a stop order
        // that keeps the offer leaves the stopped one there.
        const Release* offer = nullptr;
        for (const Release& release : scenario_.releases) {
            if (release.day > day) break;
            if (!stopped.count(release.version) || (reserve && last_stop->keep_offer && &release == latest))
                offer = &release;
        }
        std::ostringstream doc;
        doc << "schema = 1\n";
        if (offer != nullptr) {
            doc << "\n[[item]]\nid = " << (offer - scenario_.releases.data()) + 1 << "\ntype = \"update\"\nversion = \""
                << offer->version << "\"\nen = { title = \"Tamsel " << offer->version
                << "\", text = \"A newer Tamsel.\" }\n\n[download]\nversion = \"" << offer->version << "\"\nurl = \""
                << setup_url(offer->version) << "\"\nsha256 = \""
                << test_support::hex(SimCrypto::sha256(setup_bytes(offer->version)))
                << "\"\nsize = " << setup_bytes(offer->version).size() << "\n";
            if (offer->rollout_days > 0) {
                doc << "rollout_start = " << calendar_date_text(add_days(scenario_.start, offer->day))
                    << "\nrollout_days = " << offer->rollout_days << "\n";
            }
        }
        if (reserve) {
            doc << "\n[stop]\nversions = [";
            const char* separator = "";
            for (const std::string& version : stopped) {
                doc << separator << '"' << version << '"';
                separator = ", ";
            }
            doc << "]\nrevoke_working = " << (revoked ? "true" : "false") << "\n";
        }
        const std::string document = doc.str();
        const PublicKey& key = reserve ? context_.reserve_key : context_.working_key;
        return "signature = \"" + test_support::base64(SimCrypto::tag(key, SimCrypto::sha256(document))) + "\"\n" +
               document;
    }

    const Scenario& scenario_;
    const RunContext& context_;
    std::vector<std::optional<std::string>> answers_;
    std::map<std::string, std::string> setups_;
    std::map<std::string, std::string> version_of_setup_;
};

// A user session on a machine, for one day.
struct Session {
    std::uint32_t id = 1;
    bool logged_on = false;
    bool program_running = false;
};

// What one machine keeps from pass to pass: its update folder, its installed
// version and a few facts for the figures.
struct Machine {
    int index = 0;
    std::map<std::string, std::string> files;
    std::string installed;
    std::string guid;
    bool ignores_close = false;
    int off_until = 0;
    std::int64_t clock_offset = 0;  // seconds the wall clock is wrong by
    std::vector<Session> sessions;

    // The sessions whose program the updater closed and nobody started
    // again: session -> (true time of the close, installation it belongs to).
    std::map<std::uint32_t, std::pair<std::int64_t, std::size_t>> closed;
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
        : scenario_(scenario), options_(options), context_(make_context()), vendor_(scenario, context_) {
        result_.machines = scenario.machines;
        result_.days = scenario.days;
        result_.per_day.resize(static_cast<std::size_t>(scenario.days));
    }

    FleetResult run() {
        for (int index = 0; index < scenario_.machines; ++index) {
            if (options_.only_machine && *options_.only_machine != index) continue;
            run_machine(index);
        }
        // Users' cost counts the installations that closed the program.
        std::vector<std::uint64_t> down;
        for (std::size_t i = 0; i < result_.down_seconds.size(); ++i)
            if (install_closed_[i]) down.push_back(result_.down_seconds[i]);
        result_.down_seconds = std::move(down);
        return std::move(result_);
    }

private:
    static RunContext make_context() {
        BuildSettings settings;
        settings.update_host = host;
        for (std::size_t i = 0; i < 64; ++i) {
            settings.working_key[i] = static_cast<std::uint8_t>(i + 1);
            settings.reserve_key[i] = static_cast<std::uint8_t>(255 - i);
        }
        return make_run_context(program_dir, program_data, settings);
    }

    std::int64_t day_start(int day) const {
        return days_between(CalendarDate{1970, 1, 1}, add_days(scenario_.start, day)) * day_seconds;
    }

    void note_break(const Machine& machine, int day, const std::string& what) {
        ++result_.breaks[what];
        result_.first_break.try_emplace(what,
                                        "machine " + std::to_string(machine.index) + ", day " + std::to_string(day));
        if (options_.trace) *options_.trace << "  ! invariant broken: " << what << "\n";
    }
    void note_stuck(Machine& machine, int day, const std::string& why) {
        if (!machine.stuck) ++result_.stuck_machines;
        machine.stuck = true;
        result_.first_stuck.try_emplace(why,
                                        "machine " + std::to_string(machine.index) + ", day " + std::to_string(day));
        if (options_.trace) *options_.trace << "  ! stuck: " << why << "\n";
    }

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
            : platform{account, clock, crypto, files, https, processes, desktop, security, system, event_log} {}
    };

    std::unique_ptr<World> make_world(Machine& machine, int day, std::int64_t now, Rng& rng,
                                      std::vector<Launch>& launches) {
        auto world = std::make_unique<World>(crypto_);
        World& w = *world;
        w.clock.set_unix(now + machine.clock_offset);
        w.clock.monotonic = static_cast<std::uint64_t>(now) * 1000;
        const std::int64_t wall = now + machine.clock_offset;
        const std::int64_t wall_day = (wall >= 0 ? wall : wall - day_seconds + 1) / day_seconds;
        w.system.today = calendar_date_text(add_days(scenario_.start, wall_day - day_start(0) / day_seconds));
        w.system.guid = machine.guid;
        const auto n = version_numbers(machine.installed);
        w.system.version_infos[context_.main_exe] = test_support::version_info(n[0], n[1], n[2]);
        w.files.files = std::move(machine.files);
        w.files.folders = {context_.data_dir, context_.update_dir};
        w.files.lose_unflushed_on_crash = true;
        if (rng.chance(scenario_.behaviour.power_cut)) w.files.crash_after = rng.below(24);
        if (rng.chance(scenario_.behaviour.clock_jump)) {
            // Someone (or a time service) sets the clock during the first wait.
            const std::int64_t range = static_cast<std::int64_t>(scenario_.behaviour.clock_step_hours) * 3600;
            const std::int64_t jump = static_cast<std::int64_t>(rng.below(static_cast<std::uint64_t>(2 * range))) -
                                      range;
            w.clock.after_sleep = [jump, done = false](fakes::FakeClock& clock) mutable {
                if (done) return;
                done = true;
                clock.set_unix(static_cast<std::int64_t>(unix_seconds_from_filetime(clock.now)) + jump);
            };
        }
        current_rng_ = &rng;

        // The server, as this machine reaches it today.
        const auto& answer = vendor_.answer(day);
        if (answer && !rng.chance(scenario_.behaviour.network_failure)) {
            w.https.serve(context_.feed_url, FakeHttpsResponse::body(*answer));
            for (const auto& [url, bytes] : vendor_.setups()) {
                FakeHttpsResponse response = FakeHttpsResponse::body(bytes, 64);
                if (rng.chance(scenario_.behaviour.network_failure)) {
                    response.no_connection = true;
                } else if (rng.chance(scenario_.behaviour.broken_download)) {
                    if (rng.chance(0.5))
                        response.chunks[1][7] ^= 0x20;  // damaged on the way
                    else
                        response.fail_after_chunks = 2;  // cut short
                }
                w.https.serve(url, std::move(response));
            }
        }

        for (const Session& session : machine.sessions) {
            if (session.logged_on) w.processes.logged_on.insert(session.id);
            if (session.program_running) w.processes.run_program(context_.main_exe, session.id);
        }
        const bool good = !vendor_.is_bad(machine.installed);
        World* raw = world.get();
        w.processes.on_start = [this, raw, &machine, &launches, good, day](const fakes::FakeLaunch& launch) {
            return on_start(*raw, machine, launches, good, day, launch);
        };
        return world;
    }

    static std::optional<std::uint32_t> session_of(const std::string& token) {
        const auto colon = token.find(':');
        if (colon == std::string::npos) return std::nullopt;
        return static_cast<std::uint32_t>(std::stoul(token.substr(colon + 1)));
    }

    fakes::FakeProcess* program_in(World& w, std::uint32_t session) {
        for (fakes::FakeProcess& process : w.processes.table)
            if (process.path == context_.main_exe && process.session_id == session && w.processes.alive(process))
                return &process;
        return nullptr;
    }

    // What a started process does: the window helpers as the real ones would
    // answer for this machine's program, the shell starting the program, and
    // the setup programs, which run after the pass.
    fakes::FakeStartResult on_start(World& w, Machine& machine, std::vector<Launch>& launches, bool good, int day,
                                    const fakes::FakeLaunch& launch) {
        const auto ends_with = [&](std::string_view tail) { return launch.command_line.ends_with(tail); };
        const auto session = session_of(launch.token);
        if (ends_with(" /close") && session) {
            fakes::FakeProcess* program = program_in(w, *session);
            if (program == nullptr) return {true, 200, 7};
            if (!machine.ignores_close) program->ends_at = w.clock.monotonic + 1500;
            return {true, 200, 0};
        }
        if (ends_with(" /window") && session) {
            if (program_in(w, *session) != nullptr && !current_rng_->chance(scenario_.behaviour.slow_start))
                return {true, 10'500, 0};
            return {true, 60'500, 8};
        }
        if (launch.application.ends_with("explorer.exe") && session) {
            if (good) {
                w.processes.run_program(context_.main_exe, *session);
                const auto closed = machine.closed.find(*session);
                if (closed != machine.closed.end()) {
                    add_down(closed->second.second,
                             static_cast<std::int64_t>(w.clock.monotonic / 1000) - closed->second.first);
                    machine.closed.erase(closed);
                }
                set_running(machine, *session, true);
            }
            return {true, 0, 0};
        }
        if (launch.application.ends_with("-setup.exe")) {
            check_setup_start(w, machine, launches, day, launch.application);
            return {true, 0, 0};
        }
        return {true, 0, 0};
    }

    void check_setup_start(World& w, Machine& machine, std::vector<Launch>& launches, int day,
                           const std::string& application) {
        const auto file = w.files.files.find(application);
        const std::string* version = file == w.files.files.end() ? nullptr : vendor_.version_of(file->second);
        const bool rollback = application.ends_with(rollback_setup_name);
        if (version == nullptr) {
            note_break(machine, day, "a setup ran whose bytes no verified feed named");
            return;
        }
        const auto read = read_state(w.files, UpdateFolder{context_.update_dir}.state());
        const State* state = std::get_if<State>(&read);
        if (state == nullptr || !state->pending || state->pending->rolling_back != rollback ||
            (!rollback && state->pending->version != *version)) {
            note_break(machine, day, "a setup ran without its pending record");
        }
        if (!rollback && machine.stopped_seen.count(*version)) {
            note_break(machine, day, "a stopped version was installed after its stop order");
        }
        if (!launches.empty()) note_break(machine, day, "two setups at once");
        launches.push_back(Launch{file->second, *version, rollback});
        if (!rollback) {
            ++result_.installations;
            if (!machine.started.insert(*version).second) ++result_.retried_installations;
            current_install_ = result_.down_seconds.size();
            result_.down_seconds.push_back(0);
            install_closed_.push_back(0);
        } else {
            ++result_.rollbacks;
        }
    }

    void add_down(std::size_t installation, std::int64_t seconds) {
        if (installation < result_.down_seconds.size() && seconds > 0)
            result_.down_seconds[installation] += static_cast<std::uint64_t>(seconds);
    }
    static void set_running(Machine& machine, std::uint32_t session, bool running) {
        for (Session& s : machine.sessions)
            if (s.id == session) s.program_running = running;
    }

    // Runs one updater process (check run or phase two); false when the
    // power went out during it.
    bool run_process(Machine& machine, int day, std::int64_t now, Rng& rng, bool phase2,
                     std::vector<Launch>& launches) {
        auto world = make_world(machine, day, now, rng, launches);
        World& w = *world;
        bool power = true;
        try {
            Log log(w.files, w.clock, w.event_log, context_.update_dir);
            auto bridge = make_session_bridge(w.platform);
            if (phase2)
                phase_two(context_, log, w.platform, *bridge);
            else
                check_run(context_, log, w.platform, *bridge);
        } catch (const fakes::PowerCut&) {
            power = false;
        }
        const std::int64_t end = static_cast<std::int64_t>(w.clock.monotonic / 1000);

        // The log's lines go into the fleet's counts; the folder keeps none.
        const std::string log_path = UpdateFolder{context_.update_dir}.log();
        for (const std::string& line : fakes::log_messages(w.files, log_path)) {
            const std::string message = line.substr(0, line.find_last_of(' '));
            ++result_.log_lines[message];
            if (message == "feed request") {
                ++result_.feed_fetches;
                ++result_.per_day[static_cast<std::size_t>(day)].feed_fetches;
            }
            if (message == "close: ended") ++result_.forced_closes;
            if (message == "close: the program closed by itself") ++result_.polite_closes;
            if (options_.trace) *options_.trace << "    " << line << "\n";
        }
        w.files.files.erase(log_path);
        w.files.files.erase(UpdateFolder{context_.update_dir}.previous_log());

        // Programs the pass closed and did not start again.
        for (Session& session : machine.sessions) {
            if (!session.program_running) continue;
            if (program_in(w, session.id) == nullptr && power) {
                session.program_running = false;
                machine.closed.try_emplace(session.id, end, current_install_);
                if (current_install_ < install_closed_.size()) install_closed_[current_install_] = 1;
            }
        }
        machine.files = std::move(w.files.files);
        if (!power) power_cut(machine);
        check_after_process(machine, day, now);
        return power;
    }

    void power_cut(Machine& machine) {
        if (options_.trace) *options_.trace << "    (the power went out)\n";
        // Every program ends with the machine; users start it at their next
        // logon, so these are not the updater's closes.
        for (Session& session : machine.sessions) session.program_running = false;
    }

    void check_after_process(Machine& machine, int day, std::int64_t now) {
        const auto read = read_state_of(machine);
        const State* state = std::get_if<State>(&read);
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
                if (result_.first_wrongly_failed.empty())
                    result_.first_wrongly_failed = version + ": machine " + std::to_string(machine.index) + ", day " +
                                                   std::to_string(day);
            }
        }
        if (!state->pending) {
            machine.pending_since.reset();
        } else if (machine.pending_since != state->pending->since) {
            machine.pending_since = state->pending->since;
            machine.pending_seen = now;
        }
    }

    std::variant<State, std::string> read_state_of(const Machine& machine) {
        fakes::FakeFiles files;
        files.files = machine.files;
        files.folders = {context_.data_dir, context_.update_dir};
        auto read = read_state(files, UpdateFolder{context_.update_dir}.state());
        if (const auto* state = std::get_if<State>(&read)) return *state;
        return std::string("unreadable");
    }

    // A setup program runs (about a minute), installs its version unless it
    // fails, leaves itself as installed-setup.exe and starts phase two, which
    // may start a rollback setup in turn.
    void run_setups(Machine& machine, int day, std::int64_t now, Rng& rng, std::vector<Launch> launches) {
        for (int guard = 0; !launches.empty() && guard < 4; ++guard) {
            const Launch launch = launches.front();
            launches.clear();
            now += 60;
            if (rng.chance(scenario_.behaviour.power_cut)) {
                power_cut(machine);
                return;  // the setup died with the machine; the pending record stays
            }
            const bool fails = !launch.rollback && rng.chance(scenario_.behaviour.setup_fails);
            if (!fails) {
                machine.installed = launch.version;
                machine.files[UpdateFolder{context_.update_dir}.installed_setup()] = launch.bytes;
                if (vendor_.is_bad(launch.version) && !machine.ran_bad) {
                    machine.ran_bad = true;
                    machine.ran_bad_day = day;
                    ++result_.ran_bad_machines;
                }
            }
            if (options_.trace)
                *options_.trace << "  " << clock_text(now) << " setup of " << launch.version
                                << (fails ? " installed nothing" : " installed it") << "; phase two\n";
            if (!run_process(machine, day, now, rng, true, launches)) return;
        }
    }

    static std::string clock_text(std::int64_t now) {
        const std::int64_t s = ((now % day_seconds) + day_seconds) % day_seconds;
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                      static_cast<int>(s % 60));
        return text;
    }

    void start_day(Machine& machine, int day, Rng& rng) {
        const Behaviour& b = scenario_.behaviour;
        const std::int64_t morning = day_start(day) + 7 * 3600;
        // Programs the updater left closed: their users start them again now.
        for (const auto& [session, closed] : machine.closed) {
            add_down(closed.second, morning - closed.first);
            if (morning - closed.first > day_seconds) note_stuck(machine, day, "program closed for more than a day");
        }
        machine.closed.clear();
        if (machine.clock_offset != 0 && rng.chance(b.clock_fixed)) machine.clock_offset = 0;
        if (rng.chance(b.clock_step)) {
            const std::int64_t range = static_cast<std::int64_t>(b.clock_step_hours) * 3600;
            machine.clock_offset = static_cast<std::int64_t>(rng.below(static_cast<std::uint64_t>(2 * range + 1))) -
                                   range;
        }
        const bool good = !vendor_.is_bad(machine.installed);
        machine.sessions.clear();
        for (int i = 0; i < b.sessions_max; ++i) {
            Session session;
            session.id = static_cast<std::uint32_t>(i + 1);
            session.logged_on = rng.chance(b.logged_on);
            session.program_running = session.logged_on && good && rng.chance(b.program_running);
            machine.sessions.push_back(session);
        }
    }

    void end_day(Machine& machine, int day) {
        DayFigures& figures = result_.per_day[static_cast<std::size_t>(day)];
        ++figures.switched_on;
        ++result_.machine_days_on;
        const auto latest = latest_good_version(scenario_, day);
        if (latest && machine.installed == *latest) ++figures.on_latest_good;

        const auto read = read_state_of(machine);
        const State* state = std::get_if<State>(&read);
        const auto has = [&](const char* name) {
            return machine.files.count(join_path(context_.update_dir, name)) != 0;
        };
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
                if (!copy || version == nullptr) note_break(machine, day, "a day ended without a way back");
                else if (*version != machine.installed) note_break(machine, day, "a day ended with a way back to another version");
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
            if (const auto it = machine.files.find(UpdateFolder{context_.update_dir}.state());
                it != machine.files.end())
                *options_.trace << "  state.toml: " << it->second << "\n";
        }
    }

    void run_machine(int index) {
        Machine machine;
        machine.index = index;
        machine.installed = scenario_.installed;
        Rng traits(scenario_.seed, static_cast<std::uint64_t>(index), 0, 1);
        char guid[40];
        std::snprintf(guid, sizeof guid, "%08llx-%04llx-%04llx-%04llx-%012llx",
                      static_cast<unsigned long long>(traits.next() & 0xffffffffull),
                      static_cast<unsigned long long>(traits.next() & 0xffff),
                      static_cast<unsigned long long>(traits.next() & 0xffff),
                      static_cast<unsigned long long>(traits.next() & 0xffff),
                      static_cast<unsigned long long>(traits.next() & 0xffffffffffffull));
        machine.guid = guid;
        machine.ignores_close = traits.chance(scenario_.behaviour.ignores_close);
        machine.files[UpdateFolder{context_.update_dir}.installed_setup()] = setup_bytes(scenario_.installed);

        const Behaviour& b = scenario_.behaviour;
        for (int day = 0; day < scenario_.days; ++day) {
            if (day < machine.off_until) continue;
            Rng rng(scenario_.seed, static_cast<std::uint64_t>(index), static_cast<std::uint64_t>(day));
            if (day > 0 && rng.chance(b.switched_off)) {
                // Switched off: programs left closed are not the updater's
                // doing from here on; users start them at their next logon.
                for (const auto& [session, closed] : machine.closed) add_down(closed.second, day_start(day) - closed.first);
                machine.closed.clear();
                machine.off_until = day + 1 + static_cast<int>(rng.below(static_cast<std::uint64_t>(b.off_days_max)));
                continue;
            }
            if (options_.trace)
                *options_.trace << "day " << day << " (" << calendar_date_text(add_days(scenario_.start, day)) << ")\n";
            start_day(machine, day, rng);
            for (int pass = 0; pass < b.passes_per_day; ++pass) {
                const std::int64_t now = day_start(day) + 8 * 3600 + pass * (13 * 3600 / b.passes_per_day) +
                                         static_cast<std::int64_t>(rng.below(1800));
                if (options_.trace) *options_.trace << "  " << clock_text(now) << " check run\n";
                std::vector<Launch> launches;
                current_install_ = SIZE_MAX;
                if (run_process(machine, day, now, rng, false, launches)) run_setups(machine, day, now, rng, launches);
            }
            end_day(machine, day);
        }
        if (vendor_.is_bad(machine.installed)) ++result_.on_bad_at_end;
        // Ever-ran-bad by day: counted from the day it first happened.
        if (machine.ran_bad_day >= 0) {
            for (int day = machine.ran_bad_day; day < scenario_.days; ++day)
                ++result_.per_day[static_cast<std::size_t>(day)].ever_ran_bad;
        }
    }

    const Scenario& scenario_;
    const RunOptions& options_;
    RunContext context_;
    SimCrypto crypto_;
    Vendor vendor_;
    FleetResult result_;
    std::size_t current_install_ = SIZE_MAX;
    Rng* current_rng_ = nullptr;
    std::vector<char> install_closed_;  // by installation: whether it closed the program anywhere
};

}  // namespace

std::uint64_t FleetResult::invariant_breaks() const {
    std::uint64_t total = 0;
    for (const auto& [what, count] : breaks) total += count;
    return total;
}

FleetResult run_fleet(const Scenario& scenario, const RunOptions& options) {
    Simulation simulation(scenario, options);
    return simulation.run();
}

}  // namespace tamsel::fleet
