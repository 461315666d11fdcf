// tamsel-feed: the vendor's tool for the update feed.
//
//   tamsel-feed keygen <private.pem>
//       Makes a P-256 key, writes it as PEM (never over an existing file) and
//       prints the public key as the 128 hex digits the updater's build takes.
//   tamsel-feed sign <private.pem> <document> <answer-out>
//       Writes the feed answer: the signature line, a line feed, then the
//       document's bytes exactly as they are.
//   tamsel-feed verify <answer> <working-key> <reserve-key>
//       Says which key verifies the answer, splitting it with the updater's
//       own code. Keys are 128 hex digits, or files with them or with a PEM key.
//   tamsel-feed publish --key <private.pem> --setup <file> --version <V>
//                       --files-prefix https://HOST/tamsel/files/
//                       --news <lang> <title> <text> [--news ...] --out <folder>
//                       [--name <path>] [--previous <news.toml>] [--date YYYY-MM-DD]
//       Writes <folder>/tamsel/files/<name> and <folder>/tamsel/news.toml, a
//       copy of the update server's tree. The earlier items of
//       <folder>/tamsel/news.toml (or of --previous) are kept.
//   tamsel-feed lint <file> [--working <key> --reserve <key>] [--host <host>]
//       Judges a document or an answer with the updater's own feed code.
//   tamsel-feed dry-run <answer> --installed <version|none> [--state <state.toml>]
//                       [--files <publish-folder>] [--working <key> --reserve <key>]
//                       [--host <host>] [--today YYYY-MM-DD] [--sessions 1,2]
//       Runs the updater's check run over that answer on a client in memory
//       and prints its log lines, its exit code and the state file it leaves.
//
// Keys and host default to those this build embeds (the test keys and
// localhost unless configured otherwise).
//
// Exit codes: 0 done (verify: a key verified; lint: clean), 1 verify: refused
// or not verified; lint: warnings, 2 wrong usage, a file that cannot be read
// or written, a publication refused; lint: errors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <variant>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <vector>

#include "build_constants.h"
#include "feed/signature.h"
#include "state/calendar_date.h"
#include "tools/dry_run.h"
#include "tools/feed_rules.h"
#include "tools/feed_tool.h"
#include "tools/lint.h"
#include "tools/publish.h"

namespace {

using namespace tamsel::tool;

int usage() {
    std::cerr << "usage: tamsel-feed keygen <private.pem>\n"
                 "       tamsel-feed sign <private.pem> <document> <answer-out>\n"
                 "       tamsel-feed verify <answer> <working-key> <reserve-key>\n"
                 "       tamsel-feed publish --key <private.pem> --setup <file> --version <V>\n"
                 "                   --files-prefix https://HOST/tamsel/files/ --news <lang> <title> <text>\n"
                 "                   [--news ...] --out <folder> [--name <path>] [--previous <news.toml>]\n"
                 "                   [--date YYYY-MM-DD]\n"
                 "       tamsel-feed lint <file> [--working <key> --reserve <key>] [--host <host>]\n"
                 "       tamsel-feed dry-run <answer> --installed <version|none> [--state <state.toml>]\n"
                 "                   [--files <publish-folder>] [--working <key> --reserve <key>]\n"
                 "                   [--host <host>] [--today YYYY-MM-DD] [--sessions 1,2]\n";
    return 2;
}

bool read_file(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return !in.bad();
}

bool write_file(const std::string& path, const std::string& bytes, bool exclusive) {
    const int flags = O_WRONLY | O_CREAT | (exclusive ? O_EXCL : O_TRUNC);
    const int fd = ::open(path.c_str(), flags, exclusive ? 0600 : 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0 && ::close(fd) == 0;
}

int keygen(const std::string& path) {
    const Pkey key = generate_p256_key();
    const auto public_key = key ? public_key_bytes(key.get()) : std::nullopt;
    const std::string pem = key ? private_key_pem(key.get()) : std::string();
    if (!public_key || pem.empty()) {
        std::cerr << "tamsel-feed: key generation failed\n";
        return 2;
    }
    if (!write_file(path, pem, true)) {
        std::cerr << "tamsel-feed: cannot create " << path << " (it must not exist yet)\n";
        return 2;
    }
    std::cout << to_hex(public_key->data(), public_key->size()) << "\n";
    return 0;
}

int sign(const std::string& key_path, const std::string& document_path, const std::string& answer_path) {
    std::string pem;
    std::string document;
    if (!read_file(key_path, pem)) {
        std::cerr << "tamsel-feed: cannot read " << key_path << "\n";
        return 2;
    }
    if (!read_file(document_path, document)) {
        std::cerr << "tamsel-feed: cannot read " << document_path << "\n";
        return 2;
    }
    std::string why;
    const auto key = read_private_key_pem(pem, why);
    if (!key) {
        std::cerr << "tamsel-feed: " << key_path << ": " << why << "\n";
        return 2;
    }
    const auto signature = sign_document(key->get(), document);
    if (!signature) {
        std::cerr << "tamsel-feed: signing failed\n";
        return 2;
    }
    const std::string answer = feed_answer(*signature, document);
    if (answer.size() > tamsel::feed_answer_limit) {
        std::cerr << "tamsel-feed: warning: the answer has " << answer.size() << " bytes; the updater takes at most "
                  << tamsel::feed_answer_limit << "\n";
    }
    if (!write_file(answer_path, answer, false)) {
        std::cerr << "tamsel-feed: cannot write " << answer_path << "\n";
        return 2;
    }
    return 0;
}

std::optional<PublicKey> key_argument(const std::string& argument) {
    std::string text = argument;
    std::string file;
    if (read_file(argument, file)) text = file;
    std::string why;
    const auto key = parse_public_key(text, why);
    if (!key) std::cerr << "tamsel-feed: " << argument << ": " << why << "\n";
    return key;
}

int verify(const std::string& answer_path, const std::string& working_arg, const std::string& reserve_arg) {
    std::string answer;
    if (!read_file(answer_path, answer)) {
        std::cerr << "tamsel-feed: cannot read " << answer_path << "\n";
        return 2;
    }
    const auto working = key_argument(working_arg);
    const auto reserve = key_argument(reserve_arg);
    if (!working || !reserve) return 2;

    const auto split = tamsel::split_feed_answer(answer);
    if (const auto* error = std::get_if<tamsel::FeedError>(&split)) {
        std::cout << tamsel::feed_error_message(*error) << "\n";
        return 1;
    }
    const tamsel::FeedAnswer& parts = std::get<tamsel::FeedAnswer>(split);
    // The updater's order: the working key first, then the reserve key.
    if (verify_document(*working, parts.document, parts.signature)) {
        std::cout << "working\n";
        return 0;
    }
    if (verify_document(*reserve, parts.document, parts.signature)) {
        std::cout << "reserve\n";
        return 0;
    }
    std::cout << tamsel::feed_error_message(tamsel::FeedError::signature) << "\n";
    return 1;
}

// Options after the command: "--name value..." with a fixed count of values
// per name; repeatable names collect every occurrence.
class Options {
public:
    Options(int argc, char** argv, int first, const std::map<std::string, int>& arity,
            std::vector<std::string>& positional)
        : ok_(true) {
        for (int i = first; i < argc; ++i) {
            const std::string name = argv[i];
            const auto it = arity.find(name);
            if (it == arity.end()) {
                if (name.starts_with("--")) {
                    std::cerr << "tamsel-feed: unknown option " << name << "\n";
                    ok_ = false;
                }
                positional.push_back(name);
                continue;
            }
            if (i + it->second >= argc) {
                std::cerr << "tamsel-feed: " << name << " needs " << it->second << " value(s)\n";
                ok_ = false;
                return;
            }
            std::vector<std::string> values(argv + i + 1, argv + i + 1 + it->second);
            values_[name].push_back(std::move(values));
            i += it->second;
        }
    }
    bool ok() const { return ok_; }
    std::optional<std::string> one(const std::string& name) const {
        const auto it = values_.find(name);
        if (it == values_.end()) return std::nullopt;
        return it->second.back().front();
    }
    std::vector<std::vector<std::string>> all(const std::string& name) const {
        const auto it = values_.find(name);
        return it == values_.end() ? std::vector<std::vector<std::string>>{} : it->second;
    }

private:
    bool ok_;
    std::map<std::string, std::vector<std::vector<std::string>>> values_;
};

// The client's two keys: given, or the ones this build embeds.
bool client_keys(const Options& options, PublicKey& working, PublicKey& reserve) {
    working = tamsel::build::working_key;
    reserve = tamsel::build::reserve_key;
    for (auto [name, key] : {std::pair{"--working", &working}, std::pair{"--reserve", &reserve}}) {
        if (const auto given = options.one(name)) {
            const auto parsed = key_argument(*given);
            if (!parsed) return false;
            *key = *parsed;
        }
    }
    return true;
}

std::string local_today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t days_since_1970(const tamsel::CalendarDate& date) {
    const std::int64_t y = date.year - (date.month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (static_cast<std::int64_t>(date.month) + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + static_cast<std::int64_t>(date.day) - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool make_folders_and_write(const std::filesystem::path& path, const std::string& bytes) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    return !error && write_file(path.string(), bytes, false);
}

int publish(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2,
                          {{"--key", 1}, {"--setup", 1}, {"--version", 1}, {"--files-prefix", 1}, {"--news", 3},
                           {"--out", 1}, {"--name", 1}, {"--previous", 1}, {"--date", 1}},
                          positional);
    const auto key_path = options.one("--key");
    const auto setup_path = options.one("--setup");
    const auto version = options.one("--version");
    const auto prefix = options.one("--files-prefix");
    const auto out = options.one("--out");
    if (!options.ok() || !positional.empty() || !key_path || !setup_path || !version || !prefix || !out) return usage();

    PublishRequest request;
    std::string pem;
    if (!read_file(*key_path, pem)) {
        std::cerr << "tamsel-feed: cannot read " << *key_path << "\n";
        return 2;
    }
    std::string why;
    auto key = read_private_key_pem(pem, why);
    if (!key) {
        std::cerr << "tamsel-feed: " << *key_path << ": " << why << "\n";
        return 2;
    }
    request.key = key->get();
    if (!read_file(*setup_path, request.setup)) {
        std::cerr << "tamsel-feed: cannot read " << *setup_path << "\n";
        return 2;
    }
    request.setup_name = options.one("--name").value_or(std::filesystem::path(*setup_path).filename().string());
    request.version = *version;
    request.files_prefix = *prefix;
    request.date = options.one("--date").value_or(local_today());
    for (const auto& news : options.all("--news")) request.news.push_back({news[0], news[1], news[2]});

    const std::filesystem::path root(*out);
    const std::filesystem::path news_path = root / "tamsel" / "news.toml";
    const std::filesystem::path setup_out = root / "tamsel" / "files" / request.setup_name;
    const std::string previous_path = options.one("--previous").value_or(news_path.string());
    std::string previous;
    if (read_file(previous_path, previous)) {
        request.previous = previous;
    } else if (options.one("--previous")) {
        std::cerr << "tamsel-feed: cannot read " << previous_path << "\n";
        return 2;
    }
    std::string existing;
    if (read_file(setup_out.string(), existing) && existing != request.setup) {
        std::cerr << "tamsel-feed: refused: " << setup_out.string()
                  << " exists with other bytes; clients may be downloading it (publish under another --name)\n";
        return 2;
    }

    const auto prepared = prepare_publication(request);
    if (const auto* failure = std::get_if<Failure>(&prepared)) {
        std::cerr << "tamsel-feed: refused: " << failure->reason << "\n";
        return 2;
    }
    const Publication& publication = std::get<Publication>(prepared);
    // The setup program first: a server copied mid-way never offers a file it lacks.
    if (!make_folders_and_write(setup_out, request.setup) ||
        !make_folders_and_write(news_path, publication.answer)) {
        std::cerr << "tamsel-feed: cannot write into " << root.string() << "\n";
        return 2;
    }
    std::cout << "published " << request.version << "\n"
              << "  " << setup_out.string() << "  " << request.setup.size() << " bytes, sha256 "
              << to_hex(publication.sha256.data(), publication.sha256.size()) << "\n"
              << "  " << news_path.string() << "  " << publication.answer.size() << " bytes, "
              << publication.kept_items << " earlier item(s) kept\n"
              << "  offered at " << publication.url << "\n";
    return 0;
}

int lint_command(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2, {{"--working", 1}, {"--reserve", 1}, {"--host", 1}}, positional);
    if (!options.ok() || positional.size() != 1) return usage();
    LintOptions lint_options;
    if (!client_keys(options, lint_options.working_key, lint_options.reserve_key)) return 2;
    lint_options.host = options.one("--host").value_or(std::string(tamsel::build::update_host));
    std::string file;
    if (!read_file(positional[0], file)) {
        std::cerr << "tamsel-feed: cannot read " << positional[0] << "\n";
        return 2;
    }
    const auto findings = lint(file, lint_options);
    for (const Finding& finding : findings) {
        std::cout << positional[0] << ":";
        if (finding.line != 0) std::cout << finding.line << ":" << finding.column << ":";
        std::cout << (finding.severity == Severity::error ? " error: " : " warning: ") << finding.message << "\n";
    }
    const int code = lint_exit_code(findings);
    if (code == 0) std::cout << positional[0] << ": clean\n";
    return code;
}

std::optional<std::vector<std::uint32_t>> session_list(const std::string& text) {
    std::vector<std::uint32_t> sessions;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string piece = text.substr(at, comma - at);
        if (piece.empty() || piece.size() > 10 || piece.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const unsigned long long value = std::stoull(piece);
        if (value > 0xFFFFFFFFu) return std::nullopt;
        sessions.push_back(static_cast<std::uint32_t>(value));
        at = comma + 1;
    }
    std::sort(sessions.begin(), sessions.end());
    sessions.erase(std::unique(sessions.begin(), sessions.end()), sessions.end());
    return sessions;
}

int dry_run_command(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2,
                          {{"--installed", 1}, {"--state", 1}, {"--files", 1}, {"--working", 1}, {"--reserve", 1},
                           {"--host", 1}, {"--today", 1}, {"--sessions", 1}},
                          positional);
    const auto installed = options.one("--installed");
    if (!options.ok() || positional.size() != 1 || !installed) return usage();
    DryRunOptions run;
    if (!read_file(positional[0], run.answer)) {
        std::cerr << "tamsel-feed: cannot read " << positional[0] << "\n";
        return 2;
    }
    if (*installed != "none") {
        if (!version_resource(*installed)) {
            std::cerr << "tamsel-feed: --installed takes a file version (up to four numbers 0 to 65535) or none\n";
            return 2;
        }
        run.installed = *installed;
    }
    if (const auto state_path = options.one("--state")) {
        std::string state;
        if (!read_file(*state_path, state)) {
            std::cerr << "tamsel-feed: cannot read " << *state_path << "\n";
            return 2;
        }
        run.state = state;
    }
    run.files_folder = options.one("--files");
    if (run.files_folder && !std::filesystem::is_directory(*run.files_folder)) {
        std::cerr << "tamsel-feed: no folder " << *run.files_folder << "\n";
        return 2;
    }
    if (!client_keys(options, run.working_key, run.reserve_key)) return 2;
    run.host = options.one("--host").value_or(std::string(tamsel::build::update_host));
    run.today = options.one("--today").value_or(local_today());
    if (!tamsel::parse_calendar_date(run.today)) {
        std::cerr << "tamsel-feed: --today takes a day written YYYY-MM-DD\n";
        return 2;
    }
    // The client's clock: now, moved by whole days to the day given, so
    // that the age of a pending record reads as it would on that day.
    const std::int64_t shift_days =
        days_since_1970(*tamsel::parse_calendar_date(run.today)) - days_since_1970(*tamsel::parse_calendar_date(local_today()));
    run.now_unix = static_cast<std::uint64_t>(std::max<std::int64_t>(0, std::time(nullptr) + shift_days * 86400));
    if (const auto sessions = options.one("--sessions")) {
        const auto list = session_list(*sessions);
        if (!list) {
            std::cerr << "tamsel-feed: --sessions takes session numbers joined by \",\"\n";
            return 2;
        }
        run.sessions = *list;
    }
    dry_run(run, std::cout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "keygen" && argc == 3) return keygen(argv[2]);
    if (command == "sign" && argc == 5) return sign(argv[2], argv[3], argv[4]);
    if (command == "verify" && argc == 5) return verify(argv[2], argv[3], argv[4]);
    if (command == "publish") return publish(argc, argv);
    if (command == "lint") return lint_command(argc, argv);
    if (command == "dry-run") return dry_run_command(argc, argv);
    return usage();
}
