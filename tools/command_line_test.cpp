// What a release engineer on a bad day may type: each command line, its exit
// code and what it says, and that no file changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tools/test_keys.h"
#include "tools/tool_run.h"

namespace tamsel::tool {
namespace {

namespace fs = std::filesystem;

std::string answer(const std::string& document, const std::string& key) {
    return feed_answer(sign_document(test_key(key).get(), document).value(), document);
}

std::string offer(const std::string& version, const std::string& extra = "") {
    return "schema = 1\n[[item]]\nid = 1\ntype = \"update\"\nversion = \"" + version +
           "\"\nen = [\"Tamsel\", \"News.\"]\n" + extra + "[download]\nversion = \"" + version +
           "\"\nurl = \"https://localhost/tamsel/files/s.exe\"\nsha256 = \"" + std::string(64, 'a') + "\"\nsize = 9\n";
}

// Every file under the folder with its bytes and permissions.
std::map<std::string, std::pair<std::string, fs::perms>> snapshot(const fs::path& dir) {
    std::map<std::string, std::pair<std::string, fs::perms>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        files[entry.path().string()] = {read_text(entry.path().string()), entry.status().permissions()};
    return files;
}

TEST(CommandLine, RefusalsAndUsageErrorsSayWhatIsWrongAndChangeNothing) {
    char pattern[] = "/tmp/tamsel-command-line-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    const auto at = [&](const std::string& name) { return (dir / name).string(); };
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(at(name), std::ios::binary) << bytes;
    };
    std::string tampered = answer(offer("2.0.0"), "working");
    tampered.replace(tampered.find("News."), 5, "Evil.");
    write("news.toml", answer(offer("2.0.0"), "working"));
    write("tampered.toml", tampered);
    write("stopped.toml", answer("schema = 1\n[stop]\nversions = [\"2.0.1\"]\n", "reserve"));
    write("withdrawn.toml", answer("schema = 1\n", "working"));
    write("setup.exe", "MZ setup");
    write("stranger.pem", private_key_pem(generate_p256_key().get()));
    write("encrypted.pem", private_key_pem(generate_p256_key().get(), std::string("a passphrase of some length")));
    write("short", "nineteen characters\n");
    write("open", "a passphrase long enough but not private\n");
    fs::permissions(at("short"), fs::perms::owner_read);
    const std::string w = keys_dir + "test-only-working.pem";
    const std::string r = keys_dir + "test-only-reserve.pem";
    const std::string whex = keys_dir + "test-only-working.hex";
    const std::string publish = "publish --key " + w + " --setup " + at("setup.exe") +
                                " --files-prefix https://localhost/tamsel/files/ --news en T X --out " + at("out");

    const struct {
        std::string arguments;
        int status;
        std::string says;
    } rows[] = {
        {"withdraw " + w + " --feed " + at("tampered.toml"), 4, "may have been changed"},
        {"stop " + r + " --feed " + at("tampered.toml") + " --versions 2.0.0", 4, "may have been changed"},
        {publish + " --version 2.0.1 --previous " + at("tampered.toml"), 4, "may have been changed"},
        {"stop " + w + " --feed " + at("news.toml") + " --versions 2.0.0", 4, "working key"},
        {"withdraw " + at("stranger.pem") + " --feed " + at("news.toml"), 4, "neither"},
        {"stop " + r + " --feed " + at("news.toml") + " --versions 2.1", 4, "fewer than three pieces"},
        {publish + " --version 2.0.1 --previous " + at("stopped.toml"), 4, "is stopped by the [stop]"},
        {publish + " --version 1.9.0 --previous " + at("news.toml"), 4, "--allow-lower"},
        {publish + " --version 2.0.1 --rollout-days 3 --rollout-start 2020-01-01", 4, "before today"},
        {"withdraw " + w + " --feed " + at("withdrawn.toml"), 0, "nothing to do"},
        {publish.substr(0, publish.find(" --key")) + publish.substr(publish.find(" --setup")) + " --version 2.0.1", 2,
         "needs --key"},
        {"frobnicate", 2, "unknown command frobnicate"},
        {"lint " + at("news.toml") + " --bogus", 2, "unknown option --bogus"},
        {"lint " + at("news.toml") + " --working " + at("nosuch.hex"), 3, "cannot read " + at("nosuch.hex")},
        {"lint " + at("news.toml") + " --host https://localhost", 2, "--host takes"},
        {"lint " + at("news.toml") + " --working " + whex + " --reserve " + whex, 2, "the same key"},
        {"verify " + at("news.toml") + " " + at("encrypted.pem") + " " + whex, 3, "encrypted private key"},
        {"--version", 0, "tamsel-feed 1."},
        {"keygen --encrypt --passphrase-file " + at("short") + " " + at("k.pem"), 4, "needs at least 20"},
        {"keygen --encrypt --passphrase-file " + at("open") + " " + at("k.pem"), 3, "open to group or others"},
    };
    for (const auto& row : rows) {
        const auto before = snapshot(dir);
        const ToolRun run = run_tool(row.arguments, true);
        EXPECT_EQ(run.status, row.status) << row.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(row.says), std::string::npos) << row.arguments << "\n" << run.output;
        EXPECT_EQ(snapshot(dir), before) << row.arguments;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tamsel::tool
