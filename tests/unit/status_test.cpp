#include <gtest/gtest.h>

#include "entry/exit_codes.h"
#include "fakes/fake_platform.h"
#include "state/state.h"
#include "support/test_bytes.h"
#include "update/status.h"

namespace tamsel {
namespace {

class StatusTest : public ::testing::Test {
protected:
    fakes::FakePlatform fake;
    const std::string data_dir = "C:\\ProgramData\\Tam_Sel";
    const std::string update_dir = data_dir + "\\update";
    void SetUp() override {
        fake.add_guarded_folder(data_dir);
        fake.add_guarded_folder(update_dir);
        fake.clock.set_unix(1796581133);  // 2026-12-06T18:18:53Z
        fake.system.version_infos["C:\\Program Files\\Tamsel\\Tamsel.exe"] = test_support::version_info(1, 0, 0);
    }
    std::string log_of(int first, int count) {
        std::string text;
        for (int i = first; i < first + count; ++i) text += "2026-12-06T10:00:00Z line " + std::to_string(i) + " 0\r\n";
        return text;
    }
};

TEST_F(StatusTest, ReportsStatePoliciesAndTheLastLogLines) {
    State state;
    state.failed = {"1.5"};
    state.stopped = {"1.6", "1.7\x1b[2J"};
    state.last_try = CalendarDate{2026, 12, 6};
    state.pending = Pending{"2.0.0", "1.0.0", {1, 3}, true, false, 1796581133 - 120};
    ASSERT_TRUE(write_state(fake.files, state, update_dir + "\\state.toml"));
    fake.files.files[update_dir + "\\updater.log.1"] = log_of(1, 15);
    fake.files.files[update_dir + "\\updater.log"] = log_of(16, 10);
    fake.system.policy_numbers["UpdatesDisabled"] = 1;
    fake.system.policy_texts["MaxVersion"] = "2.3";
    fake.system.policy_texts["Proxy"] = "proxy";  // no port: ignored
    const auto files_before = fake.files.files;

    EXPECT_EQ(status_mode(fake.platform), exit_code::done);
    std::string expected =
            "Tamsel updater status\r\n"
            "update folder: C:\\ProgramData\\Tam_Sel\\update\r\n"
            "installed version: 1.0.0\r\n"
            "last try: 2026-12-06\r\n"
            "pending: 2.0.0 from 1.0.0, since 2026-12-06T18:16:53Z (120 s ago)\r\n"
            "pending sessions: 1 3\r\n"
            "pending rollback copy: yes\r\n"
            "pending rolling back: no\r\n"
            "failed: 1.5\r\n"
            "stopped: 1.6, 1.7?[2J\r\n"
            "working key revoked: no\r\n"
            "policies:\r\n"
            "  UpdatesDisabled is 1: nothing is installed; the feed is still read for stop orders\r\n"
            "  MaxVersion '2.3': updates above 2.3.0 are held\r\n"
            "  Proxy 'proxy' is not host:port: ignored, the automatic proxy choice applies\r\n"
            "last log lines:\r\n";
    for (int i = 6; i <= 25; ++i) expected += "  2026-12-06T10:00:00Z line " + std::to_string(i) + " 0\r\n";
    EXPECT_EQ(fake.system.standard_output, expected);
    EXPECT_EQ(fake.files.files, files_before);  // nothing written
    EXPECT_TRUE(fake.system.created_mutexes.empty());
}

TEST_F(StatusTest, AnEmptyMachineAndAnUnreadableState) {
    fake.system.version_infos.clear();
    EXPECT_EQ(status_mode(fake.platform), exit_code::done);
    EXPECT_EQ(fake.system.standard_output,
              "Tamsel updater status\r\nupdate folder: C:\\ProgramData\\Tam_Sel\\update\r\ninstalled version: none\r\n"
              "last try: never\r\npending: none\r\nfailed: none\r\nstopped: none\r\nworking key revoked: no\r\n"
              "policies: none\r\nlast log lines:\r\n");

    fake.system.standard_output.clear();
    fake.files.files[update_dir + "\\state.toml"] = "working_key_revoked = 1\r\n";
    EXPECT_EQ(status_mode(fake.platform), exit_code::done);
    EXPECT_NE(fake.system.standard_output.find(
                      "state: unreadable (invalid type: integer, expected a boolean for key `working_key_revoked`)\r\n"
                      "policies: none\r\n"),
              std::string::npos)
            << fake.system.standard_output;
}

TEST_F(StatusTest, AFolderTheGuardRefusesIsNotRead) {
    fake.files.files[update_dir + "\\state.toml"] = "working_key_revoked = true\r\n";
    fake.security.descriptors.erase(update_dir);
    EXPECT_EQ(status_mode(fake.platform), exit_code::folder_refused);
    EXPECT_EQ(fake.system.standard_output, "");
}

}  // namespace
}  // namespace tamsel
