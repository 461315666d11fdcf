// tamsel-fleet: runs a simulated fleet through a scenario and prints its
// figures. Exit code 1 when an invariant broke, 2 for wrong usage.
#include <fstream>
#include <iostream>
#include <sstream>

#include "simulator.h"

using namespace tamsel::fleet;

int main(int argc, char** argv) {
    std::string scenario_path;
    std::optional<int> machines, days, machine;
    std::optional<std::uint64_t> seed;
    std::string csv_path;
    bool blast = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        try {
            if (arg == "--machines")
                machines = std::stoi(value());
            else if (arg == "--days")
                days = std::stoi(value());
            else if (arg == "--seed")
                seed = std::stoull(value());
            else if (arg == "--machine")
                machine = std::stoi(value());
            else if (arg == "--csv")
                csv_path = value();
            else if (arg == "--no-blast")
                blast = false;
            else if (scenario_path.empty() && !arg.starts_with("--"))
                scenario_path = arg;
            else
                throw std::invalid_argument("unknown argument " + arg);
        } catch (const std::exception& e) {
            std::cerr << "tamsel-fleet: " << e.what() << "\n"
                      << "usage: tamsel-fleet SCENARIO.toml [--machines M] [--days D] [--seed S] [--csv FILE]\n"
                      << "                    [--no-blast] [--machine N (replay one machine, traced)]\n";
            return 2;
        }
    }
    if (scenario_path.empty()) {
        std::cerr << "tamsel-fleet: no scenario file given\n";
        return 2;
    }
    std::ifstream in(scenario_path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        std::cerr << "tamsel-fleet: cannot read " << scenario_path << "\n";
        return 2;
    }
    auto read = read_scenario(text.str());
    if (const auto* error = std::get_if<std::string>(&read)) {
        std::cerr << "tamsel-fleet: " << scenario_path << ": " << *error << "\n";
        return 2;
    }
    Scenario scenario = std::get<Scenario>(read);
    if (machines) scenario.machines = *machines;
    if (days) scenario.days = *days;
    if (seed) scenario.seed = *seed;
    if (scenario.machines < 1 || scenario.days < 1) {
        std::cerr << "tamsel-fleet: machines and days must be 1 or more\n";
        return 2;
    }

    RunOptions options;
    if (machine) {
        options.only_machine = *machine;
        options.trace = &std::cout;
        std::cout << "machine " << *machine << " of seed " << scenario.seed << "\n";
    }
    const FleetResult result = run_fleet(scenario, options);
    if (machine) {
        std::cout << summary_line(result) << "\n";
        return result.invariant_breaks() == 0 ? 0 : 1;
    }

    std::optional<std::pair<double, double>> radius;
    std::optional<HaltFigures> halt;
    if (blast && scenario.blast) {
        const auto share = [&](int rollout_days) {
            const FleetResult r = run_fleet(blast_scenario(scenario, *scenario.blast, rollout_days));
            return static_cast<double>(r.ran_bad_machines) / r.machines;
        };
        radius = std::pair{share(0), share(scenario.blast->rollout_days)};
        halt = halt_figures(scenario, *scenario.blast);
    }
    if (!csv_path.empty()) {
        std::ofstream csv(csv_path);
        write_csv(csv, scenario, result);
    }
    print_table(std::cout, scenario, result, radius, halt ? &*halt : nullptr);
    return result.invariant_breaks() == 0 ? 0 : 1;
}
