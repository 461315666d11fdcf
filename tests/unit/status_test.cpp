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
        fake.add_guarded_folder("C:\\Program Files\\Tamsel");
        fake.add_guarded_folder("C:\\Program Files\\Tamsel\\tamsel-update.exe");
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
    state.deferred_at = 1796581133 - 60;
    state.raise_owed = {{"S-1-5-21-7-7-7-1001", 1796581133 - 120}};
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
            "program folder: C:\\Program Files\\Tamsel: accepted\r\n"
            "installed version: 1.0.0\r\n"
            "last try: 2026-12-06\r\n"
            "pending: 2.0.0 from 1.0.0, since 2026-12-06T18:16:53Z (120 s ago)\r\n"
            "pending sessions: 1 3\r\n"
            "pending rollback copy: yes\r\n"
            "pending rolling back: no\r\n"
            "failed: 1.5\r\n"
            "stopped: 1.6, 1.7?[2J\r\n"
            "working key revoked: no\r\n"
            "deferred: 2026-12-06T18:17:53Z, the day stays open\r\n"
            "program owed to: S-1-5-21-7-7-7-1001, closed 2026-12-06T18:16:53Z\r\n"
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
              "Tamsel updater status\r\nupdate folder: C:\\ProgramData\\Tam_Sel\\update\r\n"
              "program folder: C:\\Program Files\\Tamsel: accepted\r\ninstalled version: none\r\n"
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

TEST_F(StatusTest, ARefusedFolderIsExplainedAndNotRead) {
    fake.files.files[update_dir + "\\state.toml"] = "working_key_revoked = true\r\n";
    fake.security.descriptors[update_dir].owner = fakes::FakeAccount::user_sid();
    fake.security.descriptors["C:\\Program Files\\Tamsel"].entries.push_back({0, 0x2, fakes::FakeAccount::user_sid()});
    EXPECT_EQ(status_mode(fake.platform), exit_code::folder_refused);
    EXPECT_EQ(fake.system.standard_output,
              "Tamsel updater status\r\n"
              "data folder: C:\\ProgramData\\Tam_Sel: accepted\r\n"
              "update folder: C:\\ProgramData\\Tam_Sel\\update: refused: owned by SID 5553, not by SYSTEM or "
              "Administrators\r\n"
              "program folder: C:\\Program Files\\Tamsel: refused: an entry lets SID 5553 change it\r\n"
              "No pass runs until the folders are accepted: repair the installation (msiexec /fa, or "
              "install-updater.ps1 again), which runs tamsel-update.exe /prepare as the system account.\r\n");

    // From a prompt that is not elevated the data folder's permissions
    // cannot be read: that is said, and no repair is asked for.
    fake.system.standard_output.clear();
    fake.security.descriptors.erase(data_dir);
    fake.security.error = 5;
    EXPECT_EQ(status_mode(fake.platform), exit_code::folder_refused);
    EXPECT_EQ(fake.system.standard_output.find("data folder: C:\\ProgramData\\Tam_Sel: its permissions cannot be "
                                               "read from this prompt: run it again from an elevated prompt\r\n"),
              std::string("Tamsel updater status\r\n").size());
    EXPECT_EQ(fake.system.standard_output.find("repair"), std::string::npos);
}

}  // namespace
}  // namespace tamsel
