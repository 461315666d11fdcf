// The fleet's days: each machine's traits, its days on and off, the users'
// sessions of a day and the hourly task's passes.
#include "entry/update_folder.h"
#include "simulation.h"

namespace tamsel::fleet {

FleetResult Simulation::run() {
    for (int index = 0; index < scenario_.machines; ++index) {
        if (options_.only_machine && *options_.only_machine != index) continue;
        run_machine(index);
    }
    // Users' cost counts the installations that closed the program.
    std::vector<std::uint64_t> down, present;
    for (std::size_t i = 0; i < result_.down_seconds.size(); ++i) {
        if (!install_closed_[i]) continue;
        down.push_back(result_.down_seconds[i]);
        present.push_back(result_.down_present_seconds[i]);
    }
    result_.down_seconds = std::move(down);
    result_.down_present_seconds = std::move(present);
    return std::move(result_);
}

void Simulation::start_day(Machine& machine, int day, Rng& rng) {
    const Behaviour& b = scenario_.behaviour;
    const std::int64_t morning = day_start(day) + 7 * 3600;
    if (machine.clock_offset != 0 && rng.chance(b.clock_fixed)) machine.clock_offset = 0;
    if (rng.chance(b.clock_step)) {
        const std::int64_t range = static_cast<std::int64_t>(b.clock_step_hours) * 3600;
        machine.clock_offset = static_cast<std::int64_t>(rng.below(static_cast<std::uint64_t>(2 * range + 1))) - range;
    }
    const bool good = !vendor_.is_bad(machine.installed);
    machine.sessions.clear();
    // Session ids go to the users in the order they log on.
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < b.sessions_max; ++i) ids.push_back(static_cast<std::uint32_t>(i + 1));
    Rng order(scenario_.seed, static_cast<std::uint64_t>(machine.index), static_cast<std::uint64_t>(day), 2);
    for (std::size_t i = ids.size(); i > 1; --i) std::swap(ids[i - 1], ids[order.below(i)]);
    for (int i = 0; i < b.sessions_max; ++i) {
        Session session;
        session.id = ids[static_cast<std::size_t>(i)];
        session.user = static_cast<std::uint32_t>(1001 + i);
        session.logged_on = rng.chance(b.logged_on);
        machine.sessions.push_back(session);
    }
    // Programs the updater left closed: users at the machine today start
    // them again now, unless they leave that to the updater. Users away
    // today find them closed when they come back.
    for (auto it = machine.closed.begin(); it != machine.closed.end();) {
        const Session* session = nullptr;
        for (const Session& s : machine.sessions)
            if (s.user == it->first) session = &s;
        if (session == nullptr || !session->logged_on || machine.never_restarts) {
            ++it;
            continue;
        }
        give_back(machine, it->second, morning);
        it = machine.closed.erase(it);
    }
    for (Session& session : machine.sessions) {
        session.program_running = session.logged_on && good && rng.chance(b.program_running) &&
                                  !machine.closed.count(session.user);
        if (session.program_running && rng.chance(b.quits_program))
            session.quits_at = day_start(day) + 12 * 3600 + static_cast<std::int64_t>(rng.below(6 * 3600));
    }
}

void Simulation::run_machine(int index) {
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
    machine.defers = traits.chance(scenario_.behaviour.defer_while_running);
    machine.helpers_blocked = traits.chance(scenario_.behaviour.helpers_blocked);
    machine.never_restarts = traits.chance(scenario_.behaviour.never_restarts);
    machine.files[UpdateFolder{context_.update_dir}.installed_setup()] = setup_bytes(scenario_.installed);

    const Behaviour& b = scenario_.behaviour;
    for (int day = 0; day < scenario_.days; ++day) {
        if (day < machine.off_until) continue;
        Rng rng(scenario_.seed, static_cast<std::uint64_t>(index), static_cast<std::uint64_t>(day));
        if (day > 0 && rng.chance(b.switched_off)) {
            // Switched off: programs left closed are not the updater's
            // doing from here on; users start them at their next logon.
            for (const auto& [user, closed] : machine.closed) give_back(machine, closed, day_start(day));
            machine.closed.clear();
            machine.off_until = day + 1 + static_cast<int>(rng.below(static_cast<std::uint64_t>(b.off_days_max)));
            continue;
        }
        if (options_.trace)
            *options_.trace << "day " << day << " (" << calendar_date_text(add_days(scenario_.start, day)) << ")\n";
        start_day(machine, day, rng);
        // The hourly task: each start exactly an hour after the one before.
        const std::int64_t first = day_start(day) + 7 * 3600 + static_cast<std::int64_t>(rng.below(3600));
        // The users at the machine today are back at the first pass: what
        // stayed closed for them counts from then.
        machine.day_end = first + b.passes_per_day * 3600;
        for (auto& [user, closed] : machine.closed)
            for (const Session& session : machine.sessions)
                if (session.user == user && session.logged_on) closed.present_from = first;
        for (int pass = 0; pass < b.passes_per_day; ++pass) {
            const std::int64_t now = first + pass * 3600;
            if (options_.trace) *options_.trace << "  " << clock_text(now) << " check run\n";
            std::vector<Launch> launches;
            current_install_ = SIZE_MAX;
            if (run_process(machine, day, now, rng, false, launches)) run_setups(machine, day, now, rng, launches);
        }
        end_day(machine, day);
    }
    // Programs still closed at the end count as down until then.
    for (const auto& [user, closed] : machine.closed) give_back(machine, closed, day_start(scenario_.days));
    if (vendor_.is_bad(machine.installed)) ++result_.on_bad_at_end;
    // Ever-ran-bad by day: counted from the day it first happened.
    if (machine.ran_bad_day >= 0) {
        for (int day = machine.ran_bad_day; day < scenario_.days; ++day)
            ++result_.per_day[static_cast<std::size_t>(day)].ever_ran_bad;
    }
}

FleetResult run_fleet(const Scenario& scenario, const RunOptions& options) {
    Simulation simulation(scenario, options);
    return simulation.run();
}

}  // namespace tamsel::fleet
