// Stop orders and withdrawals, judged by the updater's own check run: a
// client that had the offer before the order and the same client after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/dry_run.h"
#include "tools/lint.h"
#include "tools/orders.h"
#include "tools/test_keys.h"
#include "tools/tool_run.h"

namespace tamsel::tool {
namespace {

std::string signed_answer(const std::string& document, const std::string& key) {
    return feed_answer(sign_document(test_key(key).get(), document).value(), document);
}

// The verdict lines of a client's check run over an answer (time stamps and
// the "feed request" line left out), and whether it revoked the working key.
struct ClientView {
    std::vector<std::string> log;
    bool revoked = false;
};

ClientView client_run(const std::string& answer, const std::string& installed = "1.0.0") {
    DryRunOptions options;
    options.answer = answer;
    options.installed = installed;
    options.host = "updates.example.com";
    options.working_key = test_public("working");
    options.reserve_key = test_public("reserve");
    options.today = "2026-12-08";
    options.now_unix = 1796731200;
    std::ostringstream out;
    dry_run(options, out);
    ClientView view;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        if (line.find("working_key_revoked = true") != std::string::npos) view.revoked = true;
        if (line.size() > 23 && line.find("Z ") == 21) {
            const std::string message = line.substr(23);
            if (message != "feed request 0") view.log.push_back(message);
        } else if (line.starts_with("  [dry run] download not attempted")) {
            view.log.push_back("due");  // the pass would download the offer
        }
    }
    return view;
}

const std::string sha = std::string(64, 'a');
std::string offer(const std::string& version) {
    return "[[item]]\nid = 1\ntype = \"news\"\nen = [\"Hello\", \"News first\"]\n"
           "[[item]]\nid = 2\ntype = \"update\"\nversion = \"" + version + "\"\nen = [\"Tamsel\", \"New.\"]\n"
           "[download]\nversion = \"" + version + "\"\nurl = \"https://updates.example.com/tamsel/files/s.exe\"\n"
           "sha256 = \"" + sha + "\"\nsize = 9\n";
}

const std::vector<std::string> offered = {"due"};

struct OrderCase {
    const char* name;
    std::string current;                  // the feed served now
    bool withdraw;                        // else stop
    std::vector<std::string> versions;
    bool revoke;
    bool keep_offer;
    const char* key;                      // signs the order
    const char* refusal;                  // a piece of the reason; nullptr: written
    std::vector<std::string> stop_after;  // [stop] versions of the new feed
    bool offer_after;
    std::vector<std::string> client_after;
    bool revoked_after;
};

TEST(Orders, ClientsBeforeAndAfter) {
    const std::string working_offer = signed_answer("schema = 1\n" + offer("2.0.0"), "working");
    const std::string earlier_stop =
        signed_answer("schema = 1\n" + offer("2.1.0") + "[stop]\nversions = [\"1.9.0\"]\n", "reserve");
    const std::string revoked =
        signed_answer("schema = 1\n" + offer("2.1.0") + "[stop]\nversions = []\nrevoke_working = true\n", "reserve");
    const std::string pointless =
        signed_answer("schema = 1\n" + offer("2.0.0") + "[stop]\nversions = [\"1.9.0\"]\n", "working");
    std::string tampered = working_offer;
    tampered.replace(tampered.find("News first"), 10, "Visit evil");
    const OrderCase cases[] = {
        {"stop the offered version", working_offer, false, {"2.0.0"}, false, false, "reserve", nullptr,
         {"2.0.0"}, false, {"the reserve key spoke: [stop] taken in 0", "nothing to install: no [download] 0"}, false},
        {"stop it, offer kept but stopped", working_offer, false, {"2.0.0"}, false, true, "reserve", nullptr,
         {"2.0.0"}, false, {"the reserve key spoke: [stop] taken in 0", "nothing to install: no [download] 0"}, false},
        {"stop another version, offer kept", working_offer, false, {"1.5.0", "1.5.0"}, false, true, "reserve",
         nullptr, {"1.5.0"}, true, {"the reserve key spoke: [stop] taken in 0", "due"},
         false},
        {"revoke only", working_offer, false, {}, true, false, "reserve", nullptr, {}, false,
         {"the reserve key spoke: [stop] taken in 0", "nothing to install: no [download] 0"}, true},
        {"earlier stop stays in force", earlier_stop, false, {"2.1.0"}, false, true, "reserve", nullptr,
         {"1.9.0", "2.1.0"}, false, {"the reserve key spoke: [stop] taken in 0", "nothing to install: no [download] 0"},
         false},
        {"a revocation is never taken back", revoked, false, {"2.1.0"}, false, false, "reserve", nullptr, {"2.1.0"},
         false, {"the reserve key spoke: [stop] taken in 0", "nothing to install: no [download] 0"}, true},
        {"a working key's pointless stop is taken in", pointless, false, {"2.0.0"}, false, false, "reserve", nullptr,
         {"1.9.0", "2.0.0"}, false,
         {"the reserve key spoke: [stop] taken in 0", "nothing to install: no [download] 0"}, false},
        {"nothing to stop", working_offer, false, {}, false, false, "reserve", "--versions", {}, false, {}, false},
        {"an empty version", working_offer, false, {""}, false, false, "reserve", "empty", {}, false, {}, false},
        {"current feed refused", signed_answer("schema = 2\n", "working"), false, {"2.0.0"}, false, false, "reserve",
         "refused by the updater", {}, false, {}, false},
        {"withdraw", working_offer, true, {}, false, false, "working", nullptr, {}, false,
         {"nothing to install: no [download] 0"}, false},
        {"withdraw keeps an earlier stop", earlier_stop, true, {}, false, false, "reserve", nullptr, {"1.9.0"}, false,
         {"the reserve key spoke: [stop] taken in 0", "nothing to install: no [download] 0"}, false},
        {"withdraw with the working key after a stop", earlier_stop, true, {}, false, false, "working", nullptr,
         {"1.9.0"}, false, {"nothing to install: no [download] 0"}, false},
        {"withdraw with the revoked working key", revoked, true, {}, false, false, "working", "revokes the working key",
         {}, false, {}, false},
        {"withdraw with the reserve key after a revocation", revoked, true, {}, false, false, "reserve", nullptr, {},
         false, {"the reserve key spoke: [stop] taken in 0", "nothing to install: no [download] 0"}, true},
        {"nothing to withdraw: done, nothing written", signed_answer("schema = 1\n", "working"), true, {}, false,
         false, "working", nullptr, {}, false, {}, false},
        {"tampered feed", tampered, true, {}, false, false, "working", "may have been changed", {}, false, {}, false},
        {"tampered feed, stop", tampered, false, {"2.0.0"}, false, false, "reserve", "may have been changed", {},
         false, {}, false},
        {"bare document", "schema = 1\n" + offer("2.0.0"), true, {}, false, false, "working", "no signed feed answer",
         {}, false, {}, false},
        {"stop with the working key", working_offer, false, {"2.0.0"}, false, false, "working",
         "every client ignores a [stop] it signs", {}, false, {}, false},
        {"withdraw with a stranger key", working_offer, true, {}, false, false, "stranger", "neither", {}, false, {},
         false},
        {"stop a version no client holds", working_offer, false, {"2.0"}, false, false, "reserve",
         "fewer than three pieces", {}, false, {}, false},
    };
    const ClientKeys client{test_public("working"), test_public("reserve")};
    for (const OrderCase& row : cases) {
        const Pkey key = std::string(row.key) == "stranger" ? generate_p256_key() : test_key(row.key);
        std::variant<Order, Failure> result;
        if (row.withdraw) {
            result = prepare_withdraw({row.current, key.get(), client});
        } else {
            result = prepare_stop({row.current, row.versions, row.revoke, row.keep_offer, key.get(), client});
        }
        if (row.refusal != nullptr) {
            const auto* failure = std::get_if<Failure>(&result);
            ASSERT_NE(failure, nullptr) << row.name;
            EXPECT_NE(failure->reason.find(row.refusal), std::string::npos) << row.name << ": " << failure->reason;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<Order>(result)) << row.name << ": " << std::get<Failure>(result).reason;
        const Order& order = std::get<Order>(result);
        if (order.nothing_to_do) {
            EXPECT_TRUE(row.client_after.empty()) << row.name;
            continue;
        }
        EXPECT_EQ(order.stopped, row.stop_after) << row.name;
        EXPECT_EQ(order.offer_kept, row.offer_after) << row.name;
        EXPECT_NE(order.document.find("News first"), std::string::npos) << row.name << ": items kept";
        const ClientView after = client_run(order.answer);
        EXPECT_EQ(after.log, row.client_after) << row.name;
        EXPECT_EQ(after.revoked, row.revoked_after) << row.name;
        // What lint says of the result never fails the release.
        const auto findings = lint(order.answer, {test_public("working"), test_public("reserve"), "updates.example.com"});
        EXPECT_EQ(lint_exit_code(findings), 0) << row.name << ": " << findings.front().message;
    }
    // The client before: the offer was due.
    EXPECT_EQ(client_run(working_offer).log, offered);
}

// ---------------------------------------------------------------- the command line

TEST(OrdersCommandLine, StopLintDryRunWithdraw) {
    char pattern[] = "/tmp/tamsel-orders-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    const std::string news = (dir / "news.toml").string();
    std::ofstream(news, std::ios::binary) << signed_answer("schema = 1\n" + offer("2.0.0"), "working");
    const std::string client = " --working " + keys_dir + "test-only-working.hex --reserve " + keys_dir +
                               "test-only-reserve.hex --host updates.example.com";

    const ToolRun stop = run_tool("stop " + keys_dir + "test-only-reserve.pem --feed " + news +
                                      " --versions 2.0.0 1.9.0 --revoke-working --out " + (dir / "stop.toml").string(),
                                  true);
    ASSERT_EQ(stop.status, 0) << stop.output;
    EXPECT_NE(stop.output.find("[stop] versions: 2.0.0 1.9.0; revoke_working = true"), std::string::npos) << stop.output;
    EXPECT_EQ(run_tool("lint " + (dir / "stop.toml").string() + client, true).status, 0);

    // Withdraw rewrites --feed in place when no --out is given, keeping its mode.
    const auto mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                      std::filesystem::perms::group_read;
    std::filesystem::permissions(news, mode);
    const ToolRun withdraw = run_tool("withdraw " + keys_dir + "test-only-working.pem --feed " + news, true);
    ASSERT_EQ(withdraw.status, 0) << withdraw.output;
    EXPECT_EQ(read_text(news).find("[download]"), std::string::npos);
    EXPECT_EQ(std::filesystem::status(news).permissions(), mode);
    EXPECT_EQ(run_tool("withdraw " + keys_dir + "test-only-working.pem --feed " + news, true).status, 0);
    // The revoked working key may not sign after the stop order.
    EXPECT_EQ(run_tool("withdraw " + keys_dir + "test-only-working.pem --feed " + (dir / "stop.toml").string() +
                           " --out " + (dir / "x").string(),
                       true)
                  .status,
              4);
    EXPECT_FALSE(std::filesystem::exists(dir / "x"));
    EXPECT_EQ(run_tool("stop " + keys_dir + "test-only-reserve.pem --feed " + news, true).status, 4);  // no --versions
    // An emergency order signed with the working key by mistake would be ignored.
    const std::string reserve_hex = " --reserve " + keys_dir + "test-only-reserve.hex";
    const ToolRun wrong_key = run_tool("stop " + keys_dir + "test-only-working.pem --feed " + news +
                                           " --versions 2.0.0 --out " + (dir / "y").string() + reserve_hex,
                                       true);
    EXPECT_EQ(wrong_key.status, 4);
    EXPECT_NE(wrong_key.output.find("working key"), std::string::npos) << wrong_key.output;
    EXPECT_EQ(run_tool("stop " + keys_dir + "test-only-reserve.pem --feed " + news + " --versions 2.0.0 --out " +
                           (dir / "y").string() + reserve_hex,
                       true)
                  .status,
              0);
    std::filesystem::remove_all(dir);
}

TEST(OrdersCommandLine, EveryCommandHasHelp) {
    for (const char* command : {"keygen", "sign", "public-key", "verify", "publish", "stop", "withdraw", "lint", "dry-run"}) {
        const ToolRun help = run_tool(std::string(command) + " --help", false);
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_TRUE(help.output.starts_with("usage: tamsel-feed " + std::string(command))) << help.output;
        EXPECT_NE(help.output.find("Exit"), std::string::npos) << command;
        EXPECT_EQ(run_tool(std::string("help ") + command, false).output, help.output) << command;
    }
    EXPECT_EQ(run_tool("help", false).status, 0);
    EXPECT_EQ(run_tool("frobnicate", false).status, 2);
}

// The build for release use judges no feed against a client it was not told
// of, and carries neither the test keys nor the test host.
TEST(OrdersCommandLine, ReleaseBuildHasNoTestClient) {
    const std::string tool = TAMSEL_FEED_NO_CLIENT_EXE;
    const std::string binary = read_text(tool);
    for (const char* name : {"working", "reserve"}) {
        std::string why;
        const PublicKey key = parse_public_key(read_text(keys_dir + "test-only-" + name + ".hex"), why).value();
        EXPECT_EQ(binary.find(std::string(key.begin(), key.end())), std::string::npos) << name;
    }
    EXPECT_EQ(binary.find("localhost"), std::string::npos);

    char pattern[] = "/tmp/tamsel-no-client-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string news = std::string(pattern) + "/news.toml";
    std::ofstream(news, std::ios::binary) << signed_answer("schema = 1\n" + offer("2.0.0"), "working");
    const std::string keys =
        " --working " + keys_dir + "test-only-working.hex --reserve " + keys_dir + "test-only-reserve.hex";
    struct Row {
        std::string arguments;
        int status;
    };
    const Row rows[] = {
        {"lint " + news, 2},
        {"lint " + news + keys, 2},
        {"lint " + news + keys + " --host updates.example.com", 0},
        {"dry-run " + news + " --installed 1.0.0 --host updates.example.com", 2},
        {"dry-run " + news + " --installed 1.0.0 --host updates.example.com" + keys, 0},
    };
    for (const Row& row : rows) {
        const std::string command = tool + " " + row.arguments + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.status) << row.arguments;
    }
    std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace tamsel::tool
