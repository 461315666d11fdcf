// The vendor's kit: publish, lint and dry-run, on their own and chained the
// way a vendor uses them from the command line.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/test_keys.h"
#include "tools/tool_run.h"
#include "tools/dry_run.h"
#include "tools/feed_tool.h"
#include "tools/lint.h"
#include "tools/publish.h"
#include "tools/reports.h"

namespace tamsel::tool {
namespace {

std::string signed_answer(const std::string& document, const std::string& key = "working") {
    return feed_answer(sign_document(test_key(key).get(), document).value(), document);
}

// ---------------------------------------------------------------- publish

PublishRequest good_request(EVP_PKEY* key) {
    PublishRequest request;
    request.setup = "MZ setup 2.0.0";
    request.setup_name = "Tamsel-2.0.0-setup.exe";
    request.version = "2.0.0";
    request.news = {{"en", "Tamsel 2.0", "Faster start."}};
    request.files_prefix = "https://updates.example.com/tamsel/files/";
    request.date = "2026-12-08";
    request.today = "2026-12-08";
    request.key = key;
    request.client = {test_public("working"), test_public("reserve")};
    return request;
}

// An earlier feed offering that version (bytes other than any setup here).
std::string earlier_offer(const std::string& version, const std::string& extra = "") {
    return signed_answer("schema = 1\n[[item]]\nid = 1\ntype = \"update\"\nversion = \"" + version +
                         "\"\nen = [\"t\", \"x\"]\n[download]\nversion = \"" + version +
                         "\"\nurl = \"https://updates.example.com/tamsel/files/s.exe\"\nsha256 = \"" +
                         std::string(64, 'a') + "\"\nsize = 9\n" + extra);
}

struct Refusal {
    const char* name;
    void (*change)(PublishRequest&);
    const char* reason;  // a piece of the reason given; nullptr: published
};

const Refusal refusals[] = {
    {"largest setup", [](PublishRequest& r) { r.setup.assign(16777216, 'x'); }, nullptr},
    {"setup over 16 MiB", [](PublishRequest& r) { r.setup.assign(16777217, 'x'); }, "refused: over 16 MB"},
    {"empty setup", [](PublishRequest& r) { r.setup.clear(); }, "empty"},
    {"fourth piece", [](PublishRequest& r) { r.version = "2.0.0.1"; }, "fourth piece"},
    {"fourth piece 0", [](PublishRequest& r) { r.version = "2.0.0.0"; }, "fourth piece"},
    {"leading zero", [](PublishRequest& r) { r.version = "2.01.0"; }, "leading zero"},
    {"piece over 65535", [](PublishRequest& r) { r.version = "2.65536.0"; }, "over 65535"},
    {"two pieces", [](PublishRequest& r) { r.version = "2.0"; }, "fewer than three"},
    {"not numbers", [](PublishRequest& r) { r.version = "2.0.0-beta"; }, "not numbers"},
    {"prefix on another path", [](PublishRequest& r) { r.files_prefix = "https://updates.example.com/files/"; },
     "https://HOST/tamsel/files/"},
    {"prefix with a port", [](PublishRequest& r) { r.files_prefix = "https://updates.example.com:8443/tamsel/files/"; },
     "https://HOST/tamsel/files/"},
    {"plain http", [](PublishRequest& r) { r.files_prefix = "http://updates.example.com/tamsel/files/"; },
     "https://HOST/tamsel/files/"},
    {"name climbs out", [](PublishRequest& r) { r.setup_name = "../Tamsel-setup.exe"; }, "foreign address"},
    {"name with a space", [](PublishRequest& r) { r.setup_name = "Tamsel setup.exe"; }, "foreign address"},
    {"name of 201 bytes", [](PublishRequest& r) { r.setup_name = std::string(197, 'a') + ".exe"; }, "foreign address"},
    {"name in a folder", [](PublishRequest& r) { r.setup_name = "2.0.0/Tamsel-setup.exe"; }, nullptr},
    {"no en or ru text", [](PublishRequest& r) { r.news = {{"de", "Tamsel 2.0", "Schneller."}}; },
     "no update entry of the version"},
    {"answer over 256 KiB", [](PublishRequest& r) { r.news[0].text.assign(262144, 'x'); }, "feed: no answer"},
    {"no such day", [](PublishRequest& r) { r.date = "2026-02-29"; }, "YYYY-MM-DD"},
    {"rollout in 30 waves", [](PublishRequest& r) { r.rollout_days = 30; }, nullptr},
    {"rollout in 31 waves", [](PublishRequest& r) { r.rollout_days = 31; }, "--rollout-days takes 1 to 30"},
    {"rollout from no such day",
     [](PublishRequest& r) {
         r.rollout_days = 7;
         r.rollout_start = "2027-02-30";
     },
     "YYYY-MM-DD"},
    {"signed with the revoked working key",
     [](PublishRequest& r) { r.previous = signed_answer("schema = 1\n[stop]\nrevoke_working = true\n", "reserve"); },
     "revokes the working key"},
    {"a key the client does not embed", [](PublishRequest& r) { r.client.working[5] ^= 1; }, "neither"},
    {"earlier feed changed after signing",
     [](PublishRequest& r) { r.previous = earlier_offer("1.9.0") + "# added\n"; }, "may have been changed"},
    {"a version the carried [stop] lists",
     [](PublishRequest& r) { r.previous = signed_answer("schema = 1\n[stop]\nversions = [\"2.0.0\"]\n", "reserve"); },
     "is stopped by the [stop]"},
    {"lower than the earlier offer", [](PublishRequest& r) { r.previous = earlier_offer("2.0.1"); }, "--allow-lower"},
    {"lower, allowed",
     [](PublishRequest& r) {
         r.previous = earlier_offer("2.0.1");
         r.allow_lower = true;
     },
     nullptr},
    {"the same version with other bytes", [](PublishRequest& r) { r.previous = earlier_offer("2.0.0"); },
     "other bytes"},
    {"report prefix", [](PublishRequest& r) { r.report_prefix = "https://updates.example.com/tamsel/report/"; },
     nullptr},
    {"report prefix off the update host",
     [](PublishRequest& r) { r.report_prefix = "https://stats.example.com/tamsel/report/"; }, "not on the update host"},
    {"report prefix over plain http",
     [](PublishRequest& r) { r.report_prefix = "http://updates.example.com/tamsel/report/"; }, "not an https://"},
    {"rollout from yesterday",
     [](PublishRequest& r) {
         r.rollout_days = 7;
         r.rollout_start = "2026-12-07";
     },
     "before today"},
};

TEST(Publish, RefusesWhatClientsWouldRefuseOrMishandle) {
    const Pkey key = test_key("working");
    for (const Refusal& row : refusals) {
        PublishRequest request = good_request(key.get());
        row.change(request);
        const auto result = prepare_publication(request);
        if (row.reason == nullptr) {
            EXPECT_TRUE(std::holds_alternative<Publication>(result)) << row.name;
        } else if (const auto* failure = std::get_if<Failure>(&result)) {
            EXPECT_NE(failure->reason.find(row.reason), std::string::npos) << row.name << ": " << failure->reason;
        } else {
            ADD_FAILURE() << row.name << " was published";
        }
    }
}

// A PE image whose resource section holds a fixed file information with
// that product version.
std::string setup_of_product(std::uint16_t major, std::uint16_t minor, std::uint16_t build) {
    std::string image(0x400, '\0');
    const auto put = [&image](std::size_t at, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
    };
    image.replace(0, 2, "MZ");
    put(0x3C, 0x40, 4);
    image.replace(0x40, 4, std::string("PE\0\0", 4));
    put(0x46, 1, 2);       // one section
    put(0x54, 0xE0, 2);    // the optional header's size
    put(0x58, 0x10B, 2);   // PE32
    put(0xC8, 0x1000, 4);  // the resource directory's address and size
    put(0xC8 + 4, 0x100, 4);
    put(0x138 + 12, 0x1000, 4);  // its section: address, raw size, raw offset
    put(0x138 + 16, 0x200, 4);
    put(0x138 + 20, 0x200, 4);
    put(0x210, 0xFEEF04BD, 4);
    put(0x214, 0x10000, 4);
    put(0x210 + 16, std::uint32_t{major} << 16 | minor, 4);
    put(0x210 + 20, std::uint32_t{build} << 16, 4);
    return image;
}

TEST(Publish, WarnsWhenTheSetupNamesAnotherProductVersion) {
    const Pkey key = test_key("working");
    for (const auto& [setup, warned] : {std::pair{setup_of_product(2, 0, 0), false}, {setup_of_product(2, 1, 0), true},
                                        {std::string("MZ not a PE image"), false}}) {
        PublishRequest request = good_request(key.get());
        request.setup = setup;
        const auto result = prepare_publication(request);
        ASSERT_TRUE(std::holds_alternative<Publication>(result));
        EXPECT_EQ(std::get<Publication>(result).warnings.size(), warned ? 1u : 0u);
    }
}

TEST(Publish, KeepsEarlierItemsAndStopOrderAndReplacesTheSameVersion) {
    const Pkey key = test_key("working");
    const std::string earlier =
        "schema = 1\n[[item]]\nid = 4\ntype = \"news\"\nen = [\"Hello\", \"First news\"]\n"
        "[[item]]\nid = 7\ntype = \"update\"\nversion = \"2.0.0\"\nen = { title = \"old\", text = \"old\" }\n"
        "[[item]]\nid = 5\ntype = \"update\"\nversion = \"1.9.0\"\nru = { title = \"t\", text = \"x\" }\n"
        "[stop]\nversions = [\"1.8.0\"]\n[report]\nprefix = \"https://updates.example.com/r/\"\n"
        "[download]\nversion = \"1.9.0\"\nurl = \"https://updates.example.com/tamsel/files/s.exe\"\n"
        "sha256 = \"" + std::string(64, 'a') + "\"\nsize = 9\n";
    PublishRequest request = good_request(key.get());
    request.previous = signed_answer(earlier);
    const auto result = prepare_publication(request);
    ASSERT_TRUE(std::holds_alternative<Publication>(result)) << std::get<Failure>(result).reason;
    const Publication& publication = std::get<Publication>(result);
    EXPECT_EQ(publication.kept_items, 2u);  // the old 2.0.0 item gives way to the new one
    EXPECT_NE(publication.document.find("First news"), std::string::npos);
    EXPECT_NE(publication.document.find("1.8.0"), std::string::npos);
    EXPECT_NE(publication.document.find("[report]\nprefix = \"https://updates.example.com/r/\""), std::string::npos);
    EXPECT_EQ(publication.document.find("\"old\""), std::string::npos);
    EXPECT_NE(publication.document.find("id = 8"), std::string::npos);  // above every earlier id
    EXPECT_EQ(publication.document.find("1.9.0\"\nurl"), std::string::npos);

    request.previous = "schema = 1\n[[item]]\nid = \"x\"\n";
    EXPECT_TRUE(std::holds_alternative<Failure>(prepare_publication(request)));
}

// ---------------------------------------------------------------- lint

struct LintCase {
    const char* name;
    std::string file;
    std::uint32_t line;     // of the first finding
    std::uint32_t column;
    const char* message;    // a piece of the first finding
    int exit_code;
};

std::string vector_file(const std::string& name) {
    return read_text(std::string(TAMSEL_VECTORS_DIR) + "/toml-test/tests/invalid/" + name);
}

TEST(Lint, PlacesAndJudgesWhatIsWrong) {
    const std::string sha = std::string(64, 'a');
    const std::string update = "schema = 1\n[[item]]\nid = 1\ntype = \"update\"\nversion = \"2.0.0\"\nen = [\"t\", \"x\"]\n";
    const std::string download = "[download]\nversion = \"2.0.0\"\nurl = \"https://localhost/tamsel/files/s.exe\"\n"
                                 "sha256 = \"" + sha + "\"\nsize = 9\n";
    const LintCase cases[] = {
        {"toml-test duplicate key", vector_file("key/duplicate-keys-01.toml"), 2, 8, "cannot redefine", 4},
        {"toml-test bad escape", vector_file("string/bad-escape-01.toml"), 1, 42, "escape", 4},
        {"toml-test open array", vector_file("array/no-close-01.toml"), 1, 25, "end-of-file", 4},
        {"toml-test 30 February", vector_file("datetime/feb-30.toml"), 1, 46, "day between 1 and 29", 4},
        {"toml-test trailing comma", vector_file("inline-table/trailing-comma.toml"), 3, 20, "dangling comma", 4},
        {"signature line moves every place", signed_answer("schema = 1\nx = [1,\n"), 3, 9, "end-of-file", 4},
        {"no schema", "item = []\n", 0, 0, "no schema", 4},
        {"schema as text", "schema = \"1\"\n", 1, 10, "schema must be", 4},
        {"newer schema", "schema = 2\n", 1, 10, "newer schema", 4},
        {"item as a table", "schema = 1\n[item]\nid = 1\n", 2, 1, "array of tables", 4},
        {"negative id", "schema = 1\n[[item]]\nid = -1\ntype = \"news\"\n", 3, 6, "item id must be", 4},
        {"text that is no section", update + "de = \"x\"\n", 7, 6, "item de must be a language section", 4},
        {"item without type", "schema = 1\n[[item]]\nid = 1\n", 2, 1, "item has no type", 4},
        {"short sha256", update + "[download]\nversion = \"2.0.0\"\nurl = \"u\"\nsha256 = \"abc\"\nsize = 1\n", 10, 10,
         "sha256 must be", 4},
        {"download without url", update + "[download]\nversion = \"2.0.0\"\nsha256 = \"" + sha + "\"\nsize = 1\n", 7,
         1, "has no url", 4},
        {"foreign address", update + download.substr(0, download.find("localhost")) + "elsewhere" +
                                download.substr(download.find("localhost") + 9), 9, 7, "refused: foreign address", 4},
        {"over 16 MB", update + download.substr(0, download.find("size")) + "size = 16777217\n", 11, 8,
         "refused: over 16 MB", 4},
        {"stop of the wrong shape", "schema = 1\nstop = true\n" + update.substr(11), 2, 8, "[stop] malformed", 4},
        {"clean", signed_answer(update + download), 0, 0, nullptr, 0},
        {"reserve key's stop order", signed_answer(update + download + "[stop]\nversions = [\"1.0.0\"]\n", "reserve"),
         0, 0, nullptr, 0},
        {"working key's stop order", signed_answer(update + download + "[stop]\nversions = [\"1.0.0\"]\n"), 13, 1,
         "[stop] is ignored", 0},
        {"working key's revocation of itself",
         signed_answer(update + download + "[stop]\nversions = []\nrevoke_working = true\n"), 13, 1,
         "revokes the working key", 4},
        {"reserve key offers what it stops",
         signed_answer(update + download + "[stop]\nversions = [\"2.0.0\"]\n", "reserve"), 8, 1,
         "which [stop] stops", 1},
        {"unsigned stop order", update + download + "[stop]\n", 12, 1, "reserve key", 1},
        {"stop entry no client holds", signed_answer("schema = 1\n[stop]\nversions = [\"2.1\"]\n", "reserve"), 3, 1,
         "stops nothing clients hold", 4},
        {"download without its update item", "schema = 1\n" + download, 2, 1, "no update entry", 1},
        {"update item that does not count", "schema = 1\n[[item]]\nid = 1\ntype = \"update\"\nde = [\"t\", \"x\"]\n",
         2, 1, "does not count", 1},
        {"fourth piece", "schema = 1\n[[item]]\nid = 1\ntype = \"update\"\nversion = \"2.0.0.1\"\nen = [\"t\", \"x\"]\n" +
                             std::string("[download]\nversion = \"2.0.0.1\"\nurl = \"https://localhost/tamsel/files/s\"\n") +
                             "sha256 = \"" + sha + "\"\nsize = 9\n",
         7, 1, "never offered as newer", 1},
        {"rollout", update + download + "rollout_start = 2027-01-04\nrollout_days = 7\n", 0, 0, nullptr, 0},
        {"rollout of 31 days", update + download + "rollout_start = 2027-01-04\nrollout_days = 31\n", 12, 17,
         "rollout ignored: rollout_days must be an integer from 1 to 30", 4},
        {"rollout start as a string", update + download + "rollout_start = \"2027-01-04\"\nrollout_days = 7\n", 12, 17,
         "rollout_start must be a local date", 4},
        {"rollout days without a start", update + download + "rollout_days = 7\n", 12, 16,
         "rollout_days needs rollout_start", 4},
        {"report off the update host", update + download + "[report]\nprefix = \"https://stats/tamsel/r/\"\n", 12, 1,
         "[report] prefix https://stats/tamsel/r/ is not on the update host localhost: clients send no reports", 1},
        {"report of the wrong shape", update + download + "[report]\nprefix = 1\n", 12, 1,
         "[report] must be a table with a text prefix", 1},
        {"signed by neither key", feed_answer(Signature{1}, update), 1, 1, "did not verify", 4},
        {"signature line of the wrong form", "signature: \"x\"\n" + update, 1, 1, "signature line refused", 4},
        {"not UTF-8", "schema = 1\n# \xC0\xAF\n", 0, 0, "not UTF-8", 4},
        {"answer over 256 KiB", signed_answer(update + download + "# " + std::string(262144, 'x') + "\n"), 0, 0,
         "262144", 4},
    };
    const LintOptions options{test_public("working"), test_public("reserve"), "localhost"};
    for (const LintCase& row : cases) {
        const auto findings = lint(row.file, options);
        EXPECT_EQ(lint_exit_code(findings), row.exit_code) << row.name;
        if (row.message == nullptr) {
            EXPECT_TRUE(findings.empty()) << row.name << ": " << findings.front().message;
            continue;
        }
        ASSERT_FALSE(findings.empty()) << row.name;
        EXPECT_EQ(findings.front().line, row.line) << row.name << ": " << findings.front().message;
        EXPECT_EQ(findings.front().column, row.column) << row.name << ": " << findings.front().message;
        EXPECT_NE(findings.front().message.find(row.message), std::string::npos)
            << row.name << ": " << findings.front().message;
    }
}

TEST(Lint, RolloutStatusCountsTheWavesDue) {
    const std::string file = "schema = 1\n[download]\nversion = \"2.0.0\"\nurl = \"u\"\nsha256 = \"" +
                             std::string(64, 'a') + "\"\nsize = 9\nrollout_start = 2027-01-04\nrollout_days = 4\n";
    const struct {
        CalendarDate today;
        const char* status;
    } cases[] = {
        {{2027, 1, 3}, "0 of 4 due (0.0% of machines), 4 waves remain"},
        {{2027, 1, 4}, "1 of 4 due (25.0% of machines), 3 waves remain"},
        {{2027, 1, 6}, "3 of 4 due (75.0% of machines), 1 wave remains"},
        {{2027, 3, 1}, "4 of 4 due (100.0% of machines), 0 waves remain"},
    };
    for (const auto& c : cases) {
        const auto status = rollout_status(file, c.today);
        ASSERT_TRUE(status);
        EXPECT_NE(status->find(c.status), std::string::npos) << *status;
        EXPECT_NE(status->find("the last due on 2027-01-07"), std::string::npos) << *status;
    }
    EXPECT_FALSE(rollout_status("schema = 1\n", {2027, 1, 4}));
}

// ---------------------------------------------------------------- dry-run

// The log lines of a dry run without their time stamps, then the state file.
struct Transcript {
    std::vector<std::string> log;
    std::string state;
    int exit_code;
};

Transcript transcript_of(const DryRunOptions& options) {
    std::ostringstream out;
    const int code = dry_run(options, out);
    Transcript result{{}, {}, code};
    std::istringstream lines(out.str());
    bool in_state = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == "state.toml:") in_state = true;
        if (!line.starts_with("  ")) continue;
        if (in_state) {
            result.state += line.substr(2) + "\n";
        } else if (line.find("Z ") == 21) {
            result.log.push_back(line.substr(23));
        } else {
            result.log.push_back(line.substr(2));
        }
    }
    return result;
}

// The check run's scenarios run against the testbed under Wine, here over
// the dry run's platform: the same lines and the same state.
TEST(DryRun, GivesTheCheckRunsLinesAndState) {
    const std::string setup = "MZ stand-in setup program 2.0.0";
    const auto digest = sha256(setup).value();
    const auto offer = [&](const std::string& version, const std::string& url, std::uint64_t size,
                           const std::string& extra = "") {
        return "schema = 1\n[[item]]\nid = 1\ntype = \"update\"\nversion = \"" + version +
               "\"\nen = [\"t\", \"x\"]\n[download]\nversion = \"" + version + "\"\nurl = \"" + url +
               "\"\nsha256 = \"" + to_hex(digest.data(), digest.size()) + "\"\nsize = " + std::to_string(size) + "\n" +
               extra;
    };
    const std::string url = "https://localhost/tamsel/files/setup-2.0.0.exe";
    const std::string due = offer("2.0.0", url, setup.size());
    const std::uint64_t now = 1796731200;  // 2026-12-08T12:00:00Z
    const auto pending = [](std::uint64_t since) {
        return "working_key_revoked = false\r\n\r\n[pending]\r\nversion = \"2.0.0\"\r\nfrom = \"1.0.0\"\r\n"
               "sessions = []\r\nrollback_copy = false\r\nrolling_back = false\r\nsince = " +
               std::to_string(since) + "\r\n";
    };
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "tamsel-dry-run-test";
    std::filesystem::create_directories(folder / "tamsel" / "files");
    std::ofstream(folder / "tamsel" / "files" / "setup-2.0.0.exe", std::ios::binary) << setup;

    struct Scenario {
        const char* name;
        std::string answer;
        std::optional<std::string> state;
        std::optional<std::string> installed;
        bool files;
        std::vector<std::string> log;
        std::string state_after;
        int exit_code;
    };
    const auto without_cr = [](std::string text) {
        std::erase(text, '\r');
        return text;
    };
    const std::string tried = "working_key_revoked = false\nlast_try = 2026-12-08\n";
    std::string tampered = signed_answer(due);
    tampered.replace(tampered.find("size = "), 7, "size =  ");
    const Scenario scenarios[] = {
        {"not newer", signed_answer(offer("1.0.0", url, setup.size())), {}, "1.0.0", false,
         {"feed request 0", "nothing to install: not newer 0"}, tried, 0},
        {"tried today", signed_answer(due), "last_try = 2026-12-08\n", "1.0.0", false, {},
         "last_try = 2026-12-08\n", 0},
        {"unreadable state", signed_answer(due), "working_key_revoked = 1\r\n", "1.0.0", false,
         {"state unreadable 0"}, "working_key_revoked = 1\n", 5},
        {"tampered", tampered, {}, "1.0.0", false, {"feed request 0", "feed signature did not verify 0"}, tried, 0},
        {"newer schema", signed_answer("schema = 2\n"), {}, "1.0.0", false,
         {"feed request 0", "feed from a newer schema 0"}, tried, 0},
        {"revoked", signed_answer(due), "working_key_revoked = true\r\n", "1.0.0", false,
         {"feed request 0", "refused: the working key is revoked 0"},
         "working_key_revoked = true\nlast_try = 2026-12-08\n", 0},
        {"reserve stop order",
         signed_answer(offer("2.0.0", url, setup.size(), "[stop]\nversions = [\"2.0.0\", \"1.9.0\"]\nrevoke_working = true\n"),
                       "reserve"),
         {}, "1.0.0", false,
         {"feed request 0", "the reserve key spoke: [stop] taken in 0", "refused: the version is stopped 0"},
         "working_key_revoked = true\nstopped = [\"2.0.0\", \"1.9.0\"]\nlast_try = 2026-12-08\n", 0},
        {"foreign address", signed_answer(offer("2.0.0", "https://localhost/elsewhere/s.exe", setup.size())), {},
         "1.0.0", false, {"feed request 0", "refused: foreign address 0"}, tried, 0},
        {"over 16 MB", signed_answer(offer("2.0.0", url, 16777217)), {}, "1.0.0", false,
         {"feed request 0", "refused: over 16 MB 0"}, tried, 0},
        {"no version resource", signed_answer(due), {}, {}, false,
         {"feed request 0", "nothing to install: not newer 0"}, tried, 0},
        {"in flight", signed_answer(due), pending(now - 60), "1.0.0", false, {"an installation is in flight 0"},
         without_cr(pending(now - 60)), 0},
        {"given up", signed_answer(offer("1.0.0", url, setup.size())), pending(now - 7200), "1.0.0", false,
         {"an installation did not finish 0", "feed request 0", "nothing to install: not newer 0"}, tried, 0},
        {"due, served from the publish folder", signed_answer(due), {}, "1.9.0", true,
         {"feed request 0", "download verified 0",
          "[would] start \"C:\\ProgramData\\Tam_Sel\\update\\downloaded-setup.exe\" /VERYSILENT /SUPPRESSMSGBOXES "
          "/NORESTART /UPDATE \"/LOG=C:\\ProgramData\\Tam_Sel\\update\\setup.log\"",
          "setup started 0"},
         tried + "\n[pending]\nversion = \"2.0.0\"\nfrom = \"1.9.0\"\nsessions = []\nrollback_copy = false\n"
                 "rolling_back = false\nsince = 1796731200\n",
         0},
        {"due, nothing to serve", signed_answer(due), {}, "1.9.0", false,
         {"feed request 0", "[dry run] download not attempted: " + url,
          "[dry run] the update is due; give --files PUBLISH-FOLDER to follow the pass further"},
         tried, -1},
    };
    for (const Scenario& scenario : scenarios) {
        DryRunOptions options;
        options.answer = scenario.answer;
        options.state = scenario.state;
        options.installed = scenario.installed;
        if (scenario.files) options.files_folder = folder.string();
        options.host = "localhost";
        options.working_key = test_public("working");
        options.reserve_key = test_public("reserve");
        options.today = "2026-12-08";
        options.now_unix = now;
        const Transcript result = transcript_of(options);
        EXPECT_EQ(result.log, scenario.log) << scenario.name;
        EXPECT_EQ(result.state, scenario.state_after) << scenario.name;
        EXPECT_EQ(result.exit_code, scenario.exit_code) << scenario.name;
    }
    std::filesystem::remove_all(folder);
}

TEST(DryRun, InstalledVersionIsAFileVersionResource) {
    for (const char* bad : {"", "1..2", "1.2.3.4.5", "65536", "1.x", "-1"}) EXPECT_FALSE(version_resource(bad)) << bad;
    for (const char* good : {"1", "1.9", "4.12.305.7", "65535.0.65535"}) EXPECT_TRUE(version_resource(good)) << good;
}

// ---------------------------------------------------------------- the command line

ToolRun run(const std::string& arguments) { return run_tool(arguments, true); }

TEST(KitCommandLine, PublishVerifyLintDryRun) {
    char pattern[] = "/tmp/tamsel-kit-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    std::ofstream(dir / "Tamsel-2.0.0-setup.exe", std::ios::binary) << "MZ setup 2.0.0";
    std::ofstream(dir / "Tamsel-2.1.0-setup.exe", std::ios::binary) << "MZ setup 2.1.0";
    const std::string key = keys_dir + "test-only-working.pem";
    const std::string keys = " --working " + keys_dir + "test-only-working.hex --reserve " + keys_dir +
                             "test-only-reserve.hex --host updates.example.com";
    const std::string out = (dir / "publish").string();
    const std::string news = out + "/tamsel/news.toml";
    const auto publish = [&](const std::string& version, const std::string& extra = "") {
        return run("publish --key " + key + " --setup " + (dir / ("Tamsel-" + version + "-setup.exe")).string() +
                   " --version " + version + " --files-prefix https://updates.example.com/tamsel/files/ --news en "
                   "'Tamsel " + version + "' 'What is new.' --news ru 'Тамсел' 'Новое.' --out " + out + extra);
    };

    // A refusal writes nothing.
    const ToolRun refused = publish("2.0.0", " --version 2.0.0.1");
    EXPECT_EQ(refused.status, 4);
    EXPECT_NE(refused.output.find("fourth piece"), std::string::npos) << refused.output;
    EXPECT_FALSE(std::filesystem::exists(out));

    ASSERT_EQ(publish("2.0.0", " --report-prefix https://updates.example.com/tamsel/report/").status, 0);
    const ToolRun second = publish("2.1.0");
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_NE(second.output.find("1 earlier item(s) kept"), std::string::npos) << second.output;
    EXPECT_EQ(run("verify " + news + " " + keys_dir + "test-only-working.hex " + keys_dir + "test-only-reserve.hex")
                  .output,
              "working\n");
    const ToolRun lint_run = run("lint " + news + keys);
    EXPECT_EQ(lint_run.status, 0) << lint_run.output;
    const std::string reports = "https://updates.example.com/tamsel/report/";
    EXPECT_EQ(lint_run.output, news + ": clean\n" + news + ": clients report each installation's outcome to " +
                                   reports + "<outcome>/<from>/<to>\n");

    const ToolRun dry = run("dry-run " + news + " --installed 2.0.0 --files " + out + keys);
    EXPECT_EQ(dry.status, 0) << dry.output;
    EXPECT_NE(dry.output.find(" feed request 0\n"), std::string::npos) << dry.output;
    EXPECT_NE(dry.output.find("reports: clients report each installation's outcome to " + reports), std::string::npos);
    EXPECT_NE(dry.output.find(" download verified 0\n"), std::string::npos) << dry.output;
    EXPECT_NE(dry.output.find("downloaded-setup.exe (14 bytes)"), std::string::npos) << dry.output;
    // The machine-readable forms, as pipelines read them.
    EXPECT_EQ(run("lint " + news + keys + " --json").output,
              "{\"file\": \"" + news + "\", \"exit_code\": 0, \"findings\": [], \"rollout\": null, \"report\": \"" +
                      reports + "\"}\n");
    const ToolRun dry_json = run("dry-run " + news + " --installed 2.0.0 --files " + out + keys + " --json");
    EXPECT_NE(dry_json.output.find("\"message\": \"download verified\", \"number\": \"0\"}"), std::string::npos)
        << dry_json.output;
    std::ofstream(dir / "dry.json") << dry_json.output;
    EXPECT_EQ(std::system(("python3 -m json.tool " + (dir / "dry.json").string() + " >/dev/null").c_str()), 0);

    // The same version again with other bytes would change a file clients
    // may be downloading.
    std::ofstream(dir / "Tamsel-2.1.0-setup.exe", std::ios::binary) << "MZ setup 2.1.0, rebuilt";
    EXPECT_EQ(publish("2.1.0").status, 4);
    EXPECT_EQ(run("lint " + news + keys).status, 0);
    std::filesystem::remove_all(dir);
}

TEST(KitCommandLine, RolloutInWaves) {
    char pattern[] = "/tmp/tamsel-kit-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    std::ofstream(dir / "Tamsel-2.0.0-setup.exe", std::ios::binary) << "MZ setup 2.0.0";
    const std::string out = (dir / "publish").string();
    const std::string news = out + "/tamsel/news.toml";
    const std::string publish = "publish --key " + keys_dir + "test-only-working.pem --setup " +
                                (dir / "Tamsel-2.0.0-setup.exe").string() +
                                " --version 2.0.0 --files-prefix https://localhost/tamsel/files/ --news en T X --out " +
                                out;
    EXPECT_EQ(run(publish + " --rollout-days 0").status, 2);
    EXPECT_EQ(run(publish + " --rollout-start 2027-01-04").status, 2);  // a start alone
    const ToolRun published = run(publish + " --rollout-days 7 --rollout-start 2027-01-04");
    ASSERT_EQ(published.status, 0) << published.output;
    EXPECT_NE(published.output.find("every machine has it due by 2027-01-10"), std::string::npos) << published.output;

    const ToolRun lint_run = run("lint " + news + " --today 2027-01-05");
    EXPECT_EQ(lint_run.status, 0) << lint_run.output;
    EXPECT_NE(lint_run.output.find("2 of 7 due (28.6% of machines), 5 waves remain"), std::string::npos)
        << lint_run.output;

    // This MachineGuid is in wave 2 of 2.0.0 (SHA-256 of its lower-cased text, "/", the version).
    const std::string dry = "dry-run " + news + " --installed 1.0.0 --machine-guid 6B29FC40-CA47-1067-B31D-00DD010662DA";
    const ToolRun early = run(dry.substr(0, dry.find("6B29")) + "'{6b29fc40-CA47-1067-B31D-00DD010662DA}' --today 2027-01-05");
    EXPECT_NE(early.output.find("is in wave 2, due on 2027-01-06"), std::string::npos) << early.output;
    EXPECT_NE(early.output.find("nothing to install: not yet in the rollout 0"), std::string::npos) << early.output;
    const ToolRun due = run(dry + " --today 2027-01-06 --files " + out);
    EXPECT_NE(due.output.find("download verified 0"), std::string::npos) << due.output;
    // The early ring is due on the first day, whatever the MachineGuid; no other ring exists.
    const ToolRun ringed = run(dry + " --ring early --today 2027-01-04 --files " + out);
    EXPECT_NE(ringed.output.find("early ring is in wave 0, due on 2027-01-04"), std::string::npos) << ringed.output;
    EXPECT_EQ(run(dry + " --ring middle").status, 2);
    std::filesystem::remove_all(dir);
}

// ---------------------------------------------------------------- reports

TEST(Reports, ReadsEachLineForm) {
    const std::string common = "10.0.0.1 - - [08/Dec/2026:10:00:01 +0100] \"";
    const struct {
        std::string line;
        const char* counted;  // report: "outcome from to"; else other, malformed, before, blank
    } rows[] = {
            {common + "GET /tamsel/report/rolled-back/1.4.0/2.0.0 HTTP/1.1\" 404 153", "rolled-back 1.4.0 2.0.0"},
            {common + "GET /r/updated/1.4.0/2.0.0?x HTTP/1.1\" 404 153 \"-\" \"Tamsel\"\r", "updated 1.4.0 2.0.0"},
            {"/tamsel/report/download-refused/1.4.0/2.0.0", "download-refused 1.4.0 2.0.0"},
            {"https://cdn.example/tamsel/report/not-started/1.4.0/2.0.0", "not-started 1.4.0 2.0.0"},
            {common + "HEAD /r/updated/1.4.0/2.0.0 HTTP/1.1\" 200 0", "other"},
            {common + "GET /r/Updated/1.4.0/2.0.0 HTTP/1.1\" 404 0", "other"},
            {common + "GET /r/updated//2.0.0 HTTP/1.1\" 404 0", "other"},
            {common + "GET /tamsel/news.toml HTTP/1.1\" 200 900", "other"},
            {common + "\\x16\\x03\\x01\" 400 150", "other"},
            {"10.0.0.1 - - [07/Dec/2026:23:59:59 +0000] \"GET /r/updated/1.4.0/2.0.0 HTTP/1.1\" 404 0", "before"},
            {"10.0.0.1 - - [31/Feb/2026:10:00:00 +0000] \"GET /r/updated/1.4.0/2.0.0 HTTP/1.1\" 404 0", "malformed"},
            {common + "GET /r/updated/1.4.0/2.0.0 HTTP/1.1\" 40 0", "malformed"},
            {"updated/1.4.0/2.0.0 and more", "malformed"},
            {"  \r", "blank"},
    };
    for (const auto& row : rows) {
        ReportTally tally;
        count_log_line(tally, row.line, CalendarDate{2026, 12, 8}, "log:1");
        const std::string counted = row.counted;
        if (tally.reports == 1) {
            const auto& [offer, counts] = *tally.offers.begin();
            const auto outcome = std::find(counts.by_outcome.begin(), counts.by_outcome.end(), 1u);
            EXPECT_EQ(std::string(report_outcomes[outcome - counts.by_outcome.begin()]) + " " + offer.first + " " +
                              offer.second,
                      counted)
                    << row.line;
        } else {
            EXPECT_EQ(tally.other_requests == 1 ? "other"
                      : tally.malformed == 1    ? "malformed"
                      : tally.before_since == 1 ? "before"
                      : tally.lines == 0        ? "blank"
                                                : "?",
                      counted)
                    << row.line;
        }
        EXPECT_EQ(tally.first_malformed, tally.malformed ? "log:1" : "") << row.line;
    }
}

TEST(Reports, HaltRuleAtItsEdgeOnTheNewestOffer) {
    char pattern[] = "/tmp/tamsel-reports-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    // 1.10.0 (newer than 1.9.0 by number, not by text): 1 failure in 4 reports, 25%.
    std::ofstream(dir / "access.log")
            << "1.2.3.4 - - [08/Dec/2026:10:00:01 +0000] \"GET /tamsel/report/updated/1.9.0/1.10.0 HTTP/1.1\" 404 9\n"
               "1.2.3.4 - - [08/Dec/2026:10:00:02 +0000] \"GET /tamsel/report/updated/1.8.0/1.10.0 HTTP/1.1\" 404 9 "
               "\"-\" \"Tamsel\"\n"
               "not a log line\n"
               "1.2.3.4 - - [08/Dec/2026:10:00:03 +0000] \"GET /tamsel/report/rolled-back/1.8.0/1.9.0 HTTP/1.1\" 404 "
               "9\n";
    std::ofstream(dir / "cdn.txt")
            << "/tamsel/report/updated/1.8.0/1.10.0\n/tamsel/report/not-installed/1.8.0/1.10.0\n";
    const std::string logs = "reports " + (dir / "access.log").string() + " " + (dir / "cdn.txt").string();
    const struct {
        std::string options;
        int status;
        const char* says;
    } rows[] = {
            {"", 0, "newest offer 1.10.0: 4 report(s), 1 failure(s) (25.0%)"},
            {"", 0, "skipped 1 malformed line(s) (first: "},
            {" --halt-above 24.9 --min-reports 4", 5, "halt: 25.0% failures is above 24.9%: withdraw 1.10.0"},
            {" --halt-above 25 --min-reports 4", 0, "halt: no"},
            {" --halt-above 10 --min-reports 5", 0, "fewer than 5"},
            {" --since 2026-12-09 --halt-above 10 --min-reports 2", 5, "2 plain line(s) have no date"},
            {" --halt-above 10", 2, "goes with --min-reports"},
            {" --halt-above 1e2 --min-reports 1", 2, "percentage"},
            {" --json --halt-above 24.9 --min-reports 4", 5,
             "\"newest\": {\"to\": \"1.10.0\", \"outcomes\": {\"updated\": 3, \"rolled-back\": 0, \"not-installed\": "
             "1"},
    };
    for (const auto& row : rows) {
        const ToolRun result = run_tool(logs + row.options, true);
        EXPECT_EQ(result.status, row.status) << row.options << "\n" << result.output;
        EXPECT_NE(result.output.find(row.says), std::string::npos) << row.options << "\n" << result.output;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tamsel::tool
