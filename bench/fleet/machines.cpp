// One machine's updater processes: the world a pass runs in (the fakes as
// the machine stands), what the processes it starts do, and the setup
// programs with the phase two after each.
#include <algorithm>

#include "app/product_modes.h"
#include "entry/paths.h"
#include "entry/update_folder.h"
#include "session/session_bridge.h"
#include "simulation.h"
#include "support/test_bytes.h"

namespace tamsel::fleet {

using fakes::FakeHttpsResponse;

std::unique_ptr<Simulation::World> Simulation::make_world(Machine& machine, int day, std::int64_t now, Rng& rng,
                                                          std::vector<Launch>& launches) {
    auto world = std::make_unique<World>(crypto_);
    World& w = *world;
    w.clock.set_unix(now + machine.clock_offset);
    w.clock.monotonic = static_cast<std::uint64_t>(now) * 1000;
    const std::int64_t wall = now + machine.clock_offset;
    const std::int64_t wall_day = (wall >= 0 ? wall : wall - day_seconds + 1) / day_seconds;
    w.clock.today = calendar_date_text(add_days(scenario_.start, wall_day - day_start(0) / day_seconds));
    w.system.guid = machine.guid;
    if (machine.defers) w.system.policy_numbers["DeferWhileRunning"] = 1;
    const auto n = version_numbers(machine.installed);
    w.system.version_infos[context_.main_exe] = test_support::version_info(n[0], n[1], n[2]);
    w.files.files = std::move(machine.files);
    w.files.folders = {context_.data_dir, context_.update_dir};
    for (const std::string& folder : {context_.data_dir, context_.update_dir}) {
        OwnerAndDacl& guarded = w.security.descriptors[folder];
        guarded.owner = fakes::FakeAccount::system_sid();
        guarded.entries = {{0, 0x1F01FF, fakes::FakeAccount::system_sid()},
                           {0, 0x1F01FF, fakes::FakeAccount::admins_sid()}};
    }
    w.files.lose_unflushed_on_crash = true;
    if (rng.chance(scenario_.behaviour.power_cut)) w.files.crash_after = rng.below(24);
    if (rng.chance(scenario_.behaviour.clock_jump)) {
        // Someone (or a time service) sets the clock during the first wait.
        const std::int64_t range = static_cast<std::int64_t>(scenario_.behaviour.clock_step_hours) * 3600;
        const std::int64_t jump = static_cast<std::int64_t>(rng.below(static_cast<std::uint64_t>(2 * range))) - range;
        w.clock.after_sleep = [jump, done = false](fakes::FakeClock& clock) mutable {
            if (done) return;
            done = true;
            clock.set_unix(static_cast<std::int64_t>(unix_seconds_from_filetime(clock.now)) + jump);
        };
    }
    current_rng_ = &rng;

    // The server, as this machine reaches it today.
    const auto& answer = vendor_.answer(day, now - day_start(0));
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

    for (Session& session : machine.sessions) {
        if (now >= session.quits_at) session.program_running = false;  // its user ended it
        if (session.logged_on) {
            w.processes.logged_on.insert(session.id);
            w.processes.session_users[session.id] = fakes::FakeProcesses::user_sid(session.user);
        }
        if (session.program_running) w.processes.run_program(context_.main_exe, session.id);
    }
    const bool good = !vendor_.is_bad(machine.installed);
    World* raw = world.get();
    w.processes.on_start = [this, raw, &machine, &launches, good, day](const fakes::FakeLaunch& launch) {
        return on_start(*raw, machine, launches, good, day, launch);
    };
    return world;
}

fakes::FakeProcess* Simulation::program_in(World& w, std::uint32_t session) {
    for (fakes::FakeProcess& process : w.processes.table)
        if (process.path == context_.main_exe && process.session_id == session && w.processes.alive(process))
            return &process;
    return nullptr;
}

// What a started process does: the window helpers as the real ones would
// answer for this machine's program, the shell starting the program, and
// the setup programs, which run after the pass.
fakes::FakeStartResult Simulation::on_start(World& w, Machine& machine, std::vector<Launch>& launches, bool good,
                                            int day, const fakes::FakeLaunch& launch) {
    const auto ends_with = [&](std::string_view tail) { return launch.command_line.ends_with(tail); };
    const auto session = session_of(launch.token);
    if (machine.helpers_blocked && launch.token.starts_with("own:")) return {false};
    if (ends_with(" /close") && session) {
        fakes::FakeProcess* program = program_in(w, *session);
        if (program == nullptr) return {true, 200, 7};
        if (!machine.ignores_close) program->ends_at = w.clock.monotonic + 1500;
        return {true, 200, 0};
    }
    if (ends_with(" /window") && session) {
        if (program_in(w, *session) == nullptr) return {true, 60'500, 8};
        if (!current_rng_->chance(scenario_.behaviour.slow_start)) return {true, 10'500, 0};
        machine.slow_start_seen = true;
        return {true, 60'500, 8};
    }
    if (launch.application.ends_with("explorer.exe") && session) {
        if (current_rng_->chance(scenario_.behaviour.raise_refused)) return {false};
        if (good) {
            w.processes.run_program(context_.main_exe, *session);
            const Session* user = session_by_id(machine, *session);
            const auto closed = user ? machine.closed.find(user->user) : machine.closed.end();
            if (closed != machine.closed.end()) {
                give_back(machine, closed->second, static_cast<std::int64_t>(w.clock.monotonic / 1000));
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

void Simulation::check_setup_start(World& w, Machine& machine, std::vector<Launch>& launches, int day,
                                   const std::string& application) {
    const auto file = w.files.files.find(application);
    const std::string* version = file == w.files.files.end() ? nullptr : vendor_.version_of(file->second);
    const bool rollback = application.ends_with(rollback_setup_name);
    if (version == nullptr) {
        note_break(machine, day, "a setup ran whose bytes no verified feed named");
        return;
    }
    const auto read = read_state(w.files, UpdateFolder{context_.update_dir}.state());
    const State* state = read ? &*read : nullptr;
    if (state == nullptr || !state->pending || state->pending->rolling_back != rollback ||
        (!rollback && state->pending->version != *version)) {
        note_break(machine, day, "a setup ran without its pending record");
    }
    // A rollback puts back the version that ran before, stopped or not:
    // what the stop order keeps from being installed anew may still be
    // what the machine had. Counted, so the figures show how often.
    if (machine.stopped_seen.count(*version)) {
        if (!rollback)
            note_break(machine, day, "a stopped version was installed after its stop order");
        else
            ++result_.rollbacks_to_stopped;
    }
    if (!launches.empty()) note_break(machine, day, "two setups at once");
    launches.push_back(Launch{file->second, *version, rollback});
    if (!rollback) {
        ++result_.installations;
        if (!machine.started.insert(*version).second) ++result_.retried_installations;
        current_install_ = result_.down_seconds.size();
        result_.down_seconds.push_back(0);
        result_.down_present_seconds.push_back(0);
        install_closed_.push_back(0);
    } else {
        ++result_.rollbacks;
    }
}

// Runs one updater process (check run or phase two); false when the
// power went out during it.
bool Simulation::run_process(Machine& machine, int day, std::int64_t now, Rng& rng, bool phase2,
                             std::vector<Launch>& launches) {
    auto world = make_world(machine, day, now, rng, launches);
    World& w = *world;
    bool power = true;
    try {
        // Through the entry, as the task starts it: the folder guard, the
        // run lock, then the mode.
        auto bridge = make_session_bridge(w.platform);
        const std::string exe = join_path(program_dir, "tamsel-update.exe");
        run_entry(phase2 ? std::vector<std::string>{exe, "/phase2"} : std::vector<std::string>{exe}, w.platform,
                  settings_, app::product_modes(w.platform, *bridge));
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
    send_reports(machine, w, now);
    w.files.files.erase(log_path);
    w.files.files.erase(UpdateFolder{context_.update_dir}.previous_log());

    // Programs the pass closed and did not start again.
    for (Session& session : machine.sessions) {
        if (!session.program_running) continue;
        if (program_in(w, session.id) == nullptr && power) {
            session.program_running = false;
            machine.closed.try_emplace(session.user, Closed{end, current_install_, end});
            if (current_install_ < install_closed_.size()) install_closed_[current_install_] = 1;
        }
    }
    machine.files = std::move(w.files.files);
    if (!power) power_cut(machine);
    check_after_process(machine, day, now);
    return power;
}

void Simulation::send_reports(const Machine& machine, World& w, std::int64_t now) {
    const std::string prefix = vendor_.report_prefix();
    const std::string path_prefix = prefix.substr(prefix.find('/', 8));
    std::vector<std::string> paths;
    for (const HttpsRequest& request : w.https.requests)
        if (request.path.starts_with(path_prefix)) paths.push_back(request.path);
    // The server's clock is true time; a report is lost on the way by a
    // stream of chances of its own, so the rest of the run never depends
    // on it.
    Rng loss(scenario_.seed, static_cast<std::uint64_t>(machine.index), static_cast<std::uint64_t>(now), 2);
    const CalendarDate date = date_from_unix_days(now / day_seconds);
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "[%02u/%s/%04lld:%s +0000]", date.day, months[date.month - 1],
                  static_cast<long long>(date.year), clock_text(now).c_str());
    for (const std::string& path : paths) {
        if (loss.chance(scenario_.behaviour.report_lost)) {
            ++result_.reports_lost;
            continue;
        }
        result_.report_log.emplace_back(
                now, "10.0.0.1 - - " + std::string(stamp) + " \"GET " + path + " HTTP/1.1\" 404 0 \"-\" \"Tamsel\"");
    }
}

void Simulation::power_cut(Machine& machine) {
    if (options_.trace) *options_.trace << "    (the power went out)\n";
    // Every program ends with the machine; users start it at their next
    // logon, so these are not the updater's closes.
    for (Session& session : machine.sessions) session.program_running = false;
}

Result<State, StateUnreadable> Simulation::read_state_of(const Machine& machine) {
    fakes::FakeFiles files;
    files.files = machine.files;
    files.folders = {context_.data_dir, context_.update_dir};
    return read_state(files, UpdateFolder{context_.update_dir}.state());
}

// A setup program runs (about a minute), installs its version unless it
// fails, leaves itself as installed-setup.exe and starts phase two, which
// may start a rollback setup in turn.
void Simulation::run_setups(Machine& machine, int day, std::int64_t now, Rng& rng, std::vector<Launch> launches) {
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

}  // namespace tamsel::fleet
