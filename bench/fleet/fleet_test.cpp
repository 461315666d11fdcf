// The fleet simulator's own tests: the scenario reader and the figures. The
// simulation itself is exercised by the small fleet CTest runs.
#include <gtest/gtest.h>

#include <sstream>

#include "simulator.h"

namespace tamsel::fleet {
namespace {

TEST(FleetScenario, ReadsWhatItIsGiven) {
    const auto read = read_scenario(R"(
seed = 7
machines = 12
days = 30
start = 2027-03-01
installed = "2.0.0"
[[release]]
day = 9
version = "2.2.0"
[[release]]
day = 4
version = "2.1.0"
bad = true
rollout_days = 7
[[stop]]
day = 5
versions = ["2.1.0"]
revoke_working = true
keep_offer = true
[[outage]]
day = 10
days = 3
[behaviour]
switched_off = 0
ignores_close = 1
passes_per_day = 2
raise_refused = 0.5
report_lost = 0.25
[blast]
rollout_days = 3
halt_above = 5
)");
    ASSERT_TRUE(std::holds_alternative<Scenario>(read)) << std::get<std::string>(read);
    const Scenario& s = std::get<Scenario>(read);
    EXPECT_EQ(s.seed, 7u);
    EXPECT_EQ(s.machines, 12);
    EXPECT_EQ(s.start, (CalendarDate{2027, 3, 1}));
    ASSERT_EQ(s.releases.size(), 2u);
    EXPECT_EQ(s.releases[0].version, "2.1.0");  // by day
    EXPECT_TRUE(s.releases[0].bad);
    EXPECT_EQ(s.releases[0].rollout_days, 7);
    ASSERT_EQ(s.stops.size(), 1u);
    EXPECT_TRUE(s.stops[0].revoke_working && s.stops[0].keep_offer);
    EXPECT_EQ(s.outages.at(0).days, 3);
    EXPECT_EQ(s.behaviour.switched_off, 0.0);
    EXPECT_EQ(s.behaviour.ignores_close, 1.0);
    EXPECT_EQ(s.behaviour.passes_per_day, 2);
    EXPECT_EQ(s.behaviour.raise_refused, 0.5);
    EXPECT_EQ(s.behaviour.setup_fails, Behaviour{}.setup_fails);  // defaults stay
    ASSERT_TRUE(s.blast);
    EXPECT_EQ(s.blast->rollout_days, 3);
    EXPECT_EQ(s.blast->days, BlastCheck{}.days);
    EXPECT_EQ(s.behaviour.report_lost, 0.25);
    EXPECT_EQ(s.blast->halt_above, 5);
}

TEST(FleetScenario, RefusesWithTheKeyNamed) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
            {"machines = 0\n", "machines: must be from 1"},
            {"machines = \"10\"\n", "machines: must be an integer"},
            {"start = \"2027-01-04\"\n", "start: must be a date"},
            {"sed = 1\n", "sed: unknown key"},
            {"[behaviour]\npower_cut = 1.5\n", "behaviour.power_cut: must be from 0 to 1"},
            {"[behaviour]\npowercut = 0.1\n", "behaviour.powercut: unknown key"},
            {"[[release]]\nday = 1\n", "release[0].version: must be given"},
            {"[[release]]\nday = 1\nversion = \"1.2\"\n", "release[0].version: must be a version"},
            {"[[release]]\nday = 1\nversion = \"1.2.3\"\nrollout_days = 31\n",
             "release[0].rollout_days: must be from 0 to 30"},
            {"[[release]]\nday = 1\nversion = \"1.2.3\"\n[[release]]\nday = 1\nversion = \"1.2.4\"\n",
             "two releases on day 1"},
            {"[[stop]]\nday = 1\nversions = [1]\n", "stop[0].versions: must be an array"},
            {"release = 1\n", "release: must be an array of tables"},
            {"machines = 1\nmachines = 2\n", "line 2"},
    };
    for (const auto& c : cases) {
        const auto read = read_scenario(c.text);
        ASSERT_TRUE(std::holds_alternative<std::string>(read)) << c.text;
        EXPECT_NE(std::get<std::string>(read).find(c.error), std::string::npos) << std::get<std::string>(read);
    }
}

TEST(FleetFigures, DaysToShareAndPercentiles) {
    const std::vector<double> shares = {0, 0, 0.1, 0.5, 0.89, 0.9, 0.995};
    EXPECT_EQ(days_to_share(shares, 2, 0.5), 1);
    EXPECT_EQ(days_to_share(shares, 2, 0.9), 3);
    EXPECT_EQ(days_to_share(shares, 2, 0.99), 4);
    EXPECT_EQ(days_to_share(shares, 2, 0.999), std::nullopt);
    EXPECT_EQ(days_to_share(shares, 6, 0.5), 0);

    EXPECT_EQ(percentile({}, 50), 0u);
    EXPECT_EQ(percentile({5}, 99), 5u);
    EXPECT_EQ(percentile({4, 1, 3, 2}, 50), 2u);
    EXPECT_EQ(percentile({4, 1, 3, 2}, 100), 4u);
    std::vector<std::uint64_t> hundred;
    for (std::uint64_t i = 1; i <= 100; ++i) hundred.push_back(i);
    EXPECT_EQ(percentile(hundred, 99), 99u);
}

// The vendor's hourly rule sees the reports logged before each hour; each
// newest offer fires at most once.
TEST(FleetFigures, HaltRuleFiresOnTheHourAfterEnoughFailures) {
    Scenario scenario;
    scenario.days = 1;
    scenario.blast = BlastCheck{};
    scenario.blast->min_reports = 2;
    const std::int64_t day0 = days_between(CalendarDate{1970, 1, 1}, scenario.start) * 86400;
    const auto at = [&](std::int64_t seconds, const std::string& report) {
        return std::pair{day0 + seconds, "/tamsel/report/" + report};
    };
    EXPECT_EQ(halt_times(scenario, {at(7200, "rolled-back/1.0.0/1.1.0"), at(3599, "updated/1.0.0/1.1.0"),
                                    at(3600, "updated/1.0.0/1.1.0"), at(10800, "rolled-back/1.0.0/1.1.0"),
                                    at(11000, "rolled-back/1.1.0/1.2.0"), at(11001, "updated/1.1.0/1.2.0")}),
              (std::vector<std::pair<std::string, std::int64_t>>{{"1.1.0", 3 * 3600}, {"1.2.0", 4 * 3600}}));
}

TEST(FleetFigures, AdoptionSummaryAndCsv) {
    Scenario scenario;
    scenario.days = 3;
    scenario.releases = {Release{1, "1.1.0", 0, false}, Release{2, "1.2.0", 0, true}};
    FleetResult result;
    result.machines = 4;
    result.days = 3;
    result.per_day = {{4, 4, 4, 0, 0}, {4, 1, 4, 0, 0}, {2, 2, 2, 1, 1}};
    result.breaks["x"] = 2;
    result.stuck_machines = 1;
    EXPECT_EQ(latest_good_version(scenario, 0), std::nullopt);
    EXPECT_EQ(latest_good_version(scenario, 2), "1.1.0");  // the bad one does not count
    EXPECT_EQ(adoption_by_day(result, scenario), (std::vector<double>{0.0, 0.25, 1.0}));
    EXPECT_EQ(summary_line(result), "fleet: 4 machines, 3 days: invariant breaks 2, stuck 1, wrongly failed 0");
    std::ostringstream csv;
    write_csv(csv, scenario, result);
    EXPECT_EQ(csv.str(),
              "day,date,switched_on,on_latest_good_share,ever_ran_bad_share,feed_fetches_per_machine,pending_share\n"
              "0,2027-01-04,4,0,0,1,0\n1,2027-01-05,4,0.25,0,1,0\n2,2027-01-06,2,1,0.25,1,0.5\n");
}

}  // namespace
}  // namespace tamsel::fleet
