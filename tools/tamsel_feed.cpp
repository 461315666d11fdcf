// tamsel-feed: the vendor's tool for the update feed. `tamsel-feed help`
// lists the commands, `tamsel-feed help COMMAND` (or COMMAND --help) says
// what one does; the texts live in the command table at the end of this
// file, and docs/release-runbook.md shows them at work.
//
// Exit codes: 0 done (verify: a key verified; lint: clean or advisory
// warnings only); 1 verify: refused or not verified; lint: warnings; 2 wrong
// usage, a file or key that cannot be read or written, a publication or
// order refused; lint: errors; 5 reports: the halt rule fired.
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
#include <charconv>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <map>
#include <vector>

#include "build_constants.h"
#include "common/calendar_date.h"
#include "common/product_names.h"
#include "feed/feed.h"
#include "feed/signature.h"
#include "tools/dry_run.h"
#include "tools/feed_rules.h"
#include "tools/feed_tool.h"
#include "tools/json_text.h"
#include "tools/lint.h"
#include "tools/orders.h"
#include "tools/publish.h"
#include "tools/reports.h"
#include "tools/signing_key.h"
#include "update/version.h"

namespace {

using namespace tamsel::tool;

int usage();
int help(const std::string& command);
std::string synopsis_of(const std::string& command);

bool read_file(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return !in.bad();
}

// A file the tool makes gets `mode` whatever the umask (a feed must be
// readable by the web server's account, a key by its owner only); a file it
// overwrites keeps its own.
constexpr mode_t readable_by_all = 0644;
constexpr mode_t owner_only = 0600;

bool write_file(const std::string& path, const std::string& bytes, bool exclusive, mode_t mode = readable_by_all) {
    struct stat existing {};
    const bool made = exclusive || ::stat(path.c_str(), &existing) != 0;
    const int flags = O_WRONLY | O_CREAT | (exclusive ? O_EXCL : O_TRUNC);
    const int fd = ::open(path.c_str(), flags, mode);
    if (fd < 0) return false;
    bool ok = !made || ::fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

// Rewrites a file whole: the new bytes go beside it and are renamed over it,
// so a web server never serves half a feed. The file keeps its mode: a stop
// order the web server cannot read protects nobody.
bool replace_file(const std::string& path, const std::string& bytes) {
    struct stat existing {};
    const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : readable_by_all;
    const std::string temporary = path + ".tamsel-feed-new";
    std::remove(temporary.c_str());
    if (!write_file(temporary, bytes, true, mode)) return false;
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

// Options after the command: "--name value..." with a fixed count of values
// per name (0: a flag; many: every value up to the next "--name");
// repeatable names collect every occurrence.
constexpr int many = -1;

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
            std::vector<std::string> values;
            if (it->second == many) {
                while (i + 1 < argc && !std::string_view(argv[i + 1]).starts_with("--")) values.push_back(argv[++i]);
                if (values.empty()) {
                    std::cerr << "tamsel-feed: " << name << " needs at least one value\n";
                    ok_ = false;
                }
            } else {
                if (i + it->second >= argc) {
                    std::cerr << "tamsel-feed: " << name << " needs " << it->second << " value(s)\n";
                    ok_ = false;
                    return;
                }
                values.assign(argv + i + 1, argv + i + 1 + it->second);
                i += it->second;
            }
            values_[name].push_back(std::move(values));
        }
    }
    bool ok() const { return ok_; }
    bool has(const std::string& name) const { return values_.contains(name); }
    std::optional<std::string> one(const std::string& name) const {
        const auto it = values_.find(name);
        if (it == values_.end() || it->second.back().empty()) return std::nullopt;
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

// Whether a command line is whole; if not, says what is wrong (the options
// said it already for an unknown option or a missing value) and shows the
// command's usage.
bool command_line_ok(const std::string& command, const Options& options, const std::vector<std::string>& positional,
                     std::size_t arguments, std::initializer_list<const char*> required = {}) {
    std::string wrong;
    for (const char* name : required) {
        if (wrong.empty() && !options.one(name)) wrong = "needs " + std::string(name);
    }
    if (positional.size() > arguments) {
        wrong = "does not take " + positional[arguments];
    } else if (positional.size() < arguments) {
        wrong = "needs " + std::to_string(arguments) + " argument(s), not " + std::to_string(positional.size());
    }
    if (options.ok() && wrong.empty()) return true;
    if (options.ok()) std::cerr << "tamsel-feed " << command << ": " << wrong << "\n";
    std::cerr << "usage: tamsel-feed " << synopsis_of(command) << "\n";
    return false;
}

// The options that say where a private key's secret comes from: never the
// command line, where other users and the shell's history would see it.
const std::map<std::string, int> secret_options = {{"--passphrase-file", 1}, {"--passphrase-env", 1}};

std::map<std::string, int> with_secret_options(std::map<std::string, int> arity) {
    arity.insert(secret_options.begin(), secret_options.end());
    return arity;
}

std::optional<SecretSource> secret_source(const Options& options) {
    SecretSource source;
    source.file = options.one("--passphrase-file");
    source.environment = options.one("--passphrase-env");
    if (source.file && source.environment) {
        std::cerr << "tamsel-feed: give --passphrase-file or --passphrase-env, not both\n";
        return std::nullopt;
    }
    return source;
}

// A signing key: a PEM file (encrypted or not) or a PKCS#11 URI.
std::optional<Pkey> signing_key(const std::string& argument, const Options& options) {
    const auto source = secret_source(options);
    if (!source) return std::nullopt;
    std::string why;
    auto key = load_signing_key(argument, *source, why);
    if (!key) std::cerr << "tamsel-feed: " << argument << ": " << why << "\n";
    return key;
}

int keygen(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2, with_secret_options({{"--encrypt", 0}}), positional);
    if (!command_line_ok("keygen", options, positional, 1)) return exit_usage;
    const std::string& path = positional[0];
    const auto source = secret_source(options);
    if (!source) return exit_usage;
    std::optional<std::string> passphrase;
    if (options.has("--encrypt")) {
        std::string why;
        passphrase = read_secret(*source, why);
        if (!passphrase) {
            std::cerr << "tamsel-feed: --encrypt: " << why << "\n";
            return exit_unreadable;
        }
        const auto characters = std::count_if(passphrase->begin(), passphrase->end(),
                                              [](unsigned char c) { return (c & 0xC0) != 0x80; });
        if (static_cast<std::size_t>(characters) < passphrase_minimum) {
            std::cerr << "tamsel-feed: refused: the passphrase has " << characters << " characters; a key's passphrase "
                      << "needs at least " << passphrase_minimum << "\n";
            return exit_refused;
        }
    } else if (source->file || source->environment) {
        std::cerr << "tamsel-feed: a passphrase is given but not --encrypt\n";
        return exit_usage;
    }
    const Pkey key = generate_p256_key();
    const auto public_key = key ? public_key_bytes(key.get()) : std::nullopt;
    const std::string pem = key ? private_key_pem(key.get(), passphrase) : std::string();
    if (!public_key || pem.empty()) {
        std::cerr << "tamsel-feed: key generation failed\n";
        return exit_unreadable;
    }
    if (!write_file(path, pem, true, owner_only)) {
        std::cerr << "tamsel-feed: cannot create " << path << " (it must not exist yet)\n";
        return exit_unreadable;
    }
    std::cout << to_hex(public_key->data(), public_key->size()) << "\n";
    return 0;
}

int sign(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2, secret_options, positional);
    if (!command_line_ok("sign", options, positional, 3)) return exit_usage;
    const std::string& document_path = positional[1];
    const std::string& answer_path = positional[2];
    std::string document;
    if (!read_file(document_path, document)) {
        std::cerr << "tamsel-feed: cannot read " << document_path << "\n";
        return exit_unreadable;
    }
    const auto key = signing_key(positional[0], options);
    if (!key) return exit_unreadable;
    const auto signature = sign_document(key->get(), document);
    if (!signature) {
        std::cerr << "tamsel-feed: signing failed\n";
        return exit_unreadable;
    }
    const std::string answer = feed_answer(*signature, document);
    if (answer.size() > tamsel::feed_answer_limit) {
        std::cerr << "tamsel-feed: warning: the answer has " << answer.size() << " bytes; the updater takes at most "
                  << tamsel::feed_answer_limit << "\n";
    }
    if (!write_file(answer_path, answer, false)) {
        std::cerr << "tamsel-feed: cannot write " << answer_path << "\n";
        return exit_unreadable;
    }
    return 0;
}

int public_key_command(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2, secret_options, positional);
    if (!command_line_ok("public-key", options, positional, 1)) return exit_usage;
    const auto key = signing_key(positional[0], options);
    const auto bytes = key ? public_key_bytes(key->get()) : std::nullopt;
    if (!bytes) return exit_unreadable;
    std::cout << to_hex(bytes->data(), bytes->size()) << "\n";
    return 0;
}

// A public key: 128 hex digits, or a file holding them or a PEM key.
std::optional<PublicKey> key_argument(const std::string& argument) {
    std::string text = argument;
    std::string file;
    std::string why;
    if (read_file(argument, file)) {
        text = file;
    } else if (!parse_public_key(argument, why)) {
        std::cerr << "tamsel-feed: cannot read " << argument
                  << " (a key is 128 hex digits or a file with them or a PEM key)\n";
        return std::nullopt;
    }
    const auto key = parse_public_key(text, why);
    if (!key) std::cerr << "tamsel-feed: " << argument << ": " << why << "\n";
    return key;
}

int verify(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2, {}, positional);
    if (!command_line_ok("verify", options, positional, 3)) return exit_usage;
    const std::string& answer_path = positional[0];
    std::string answer;
    if (!read_file(answer_path, answer)) {
        std::cerr << "tamsel-feed: cannot read " << answer_path << "\n";
        return exit_unreadable;
    }
    const auto working = key_argument(positional[1]);
    const auto reserve = key_argument(positional[2]);
    if (!working || !reserve) return exit_unreadable;

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

// The client's two keys (and host): given, or the ones this build embeds. A
// build for release use embeds none unless it was configured with the
// release's own (never the test keys), so a forgotten option cannot judge a
// feed against the wrong client or carry on a feed no client signed.
// Returns 0, or the exit code after saying what is wrong.
int client_keys_of(const Options& options, ClientKeys& keys) {
#if TAMSEL_FEED_EMBEDDED_CLIENT
    keys = {tamsel::build::working_key, tamsel::build::reserve_key};
#else
    if (!options.has("--working") || !options.has("--reserve")) {
        std::cerr << "tamsel-feed: this build embeds no client: give --working and --reserve\n";
        return exit_usage;
    }
#endif
    for (auto [name, key] : {std::pair{"--working", &keys.working}, std::pair{"--reserve", &keys.reserve}}) {
        if (const auto given = options.one(name)) {
            const auto parsed = key_argument(*given);
            if (!parsed) return exit_unreadable;
            *key = *parsed;
        }
    }
    if (keys.working == keys.reserve) {
        std::cerr << "tamsel-feed: the working and the reserve key are the same key: a client built so cannot tell "
                     "an order from a routine feed\n";
        return exit_usage;
    }
    return 0;
}

int client_of(const Options& options, PublicKey& working, PublicKey& reserve, std::string& host) {
    ClientKeys keys;
    if (const int code = client_keys_of(options, keys)) return code;
    working = keys.working;
    reserve = keys.reserve;
#if TAMSEL_FEED_EMBEDDED_CLIENT
    host = std::string(tamsel::build::update_host);
#else
    if (!options.has("--host")) {
        std::cerr << "tamsel-feed: this build embeds no client: give --working, --reserve and --host\n";
        return exit_usage;
    }
#endif
    if (const auto given = options.one("--host")) host = *given;
    if (!is_plain_host(host)) {
        std::cerr << "tamsel-feed: --host takes the update server's host name, such as updates.example.com, not "
                  << host << "\n";
        return exit_usage;
    }
    return 0;
}

std::string local_today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

bool make_folders_and_write(const std::filesystem::path& path, const std::string& bytes) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    return !error && replace_file(path.string(), bytes);
}

int publish(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2,
                          with_secret_options({{"--key", 1},
                                               {"--setup", 1},
                                               {"--version", 1},
                                               {"--files-prefix", 1},
                                               {"--news", 3},
                                               {"--out", 1},
                                               {"--name", 1},
                                               {"--previous", 1},
                                               {"--date", 1},
                                               {"--rollout-days", 1},
                                               {"--rollout-start", 1},
                                               {"--working", 1},
                                               {"--reserve", 1},
                                               {"--allow-lower", 0},
                                               {"--report-prefix", 1}}),
                          positional);
    const auto key_path = options.one("--key");
    const auto setup_path = options.one("--setup");
    const auto version = options.one("--version");
    const auto prefix = options.one("--files-prefix");
    const auto out = options.one("--out");
    if (!command_line_ok("publish", options, positional, 0,
                         {"--key", "--setup", "--version", "--files-prefix", "--out"}))
        return exit_usage;

    PublishRequest request;
    if (const int code = client_keys_of(options, request.client)) return code;
    const auto key = signing_key(*key_path, options);
    if (!key) return exit_unreadable;
    request.key = key->get();
    if (!read_file(*setup_path, request.setup)) {
        std::cerr << "tamsel-feed: cannot read " << *setup_path << "\n";
        return exit_unreadable;
    }
    request.setup_name = options.one("--name").value_or(std::filesystem::path(*setup_path).filename().string());
    request.version = *version;
    request.files_prefix = *prefix;
    request.date = options.one("--date").value_or(local_today());
    request.today = local_today();
    request.allow_lower = options.has("--allow-lower");
    if (const auto report = options.one("--report-prefix")) request.report_prefix = *report == "none" ? "" : *report;
    for (const auto& news : options.all("--news")) request.news.push_back({news[0], news[1], news[2]});
    if (const auto days = options.one("--rollout-days")) {
        if (days->empty() || days->size() > 2 || days->find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(*days) < 1 || std::stoul(*days) > tamsel::rollout_days_limit) {
            std::cerr << "tamsel-feed: --rollout-days takes 1 to 30\n";
            return exit_usage;
        }
        request.rollout_days = static_cast<std::uint32_t>(std::stoul(*days));
        request.rollout_start = options.one("--rollout-start").value_or(local_today());
    } else if (options.one("--rollout-start")) {
        std::cerr << "tamsel-feed: --rollout-start goes with --rollout-days\n";
        return exit_usage;
    }

    const std::filesystem::path root(*out);
    const std::filesystem::path news_path = root / "tamsel" / "news.toml";
    const std::filesystem::path setup_out = root / "tamsel" / "files" / request.setup_name;
    const std::string previous_path = options.one("--previous").value_or(news_path.string());
    std::string previous;
    if (read_file(previous_path, previous)) {
        request.previous = previous;
        request.previous_name = previous_path;
    } else if (options.one("--previous")) {
        std::cerr << "tamsel-feed: cannot read " << previous_path << "\n";
        return exit_unreadable;
    }
    std::string existing;
    if (read_file(setup_out.string(), existing) && existing != request.setup) {
        std::cerr << "tamsel-feed: refused: " << setup_out.string()
                  << " exists with other bytes; clients may be downloading it (publish under another --name)\n";
        return exit_refused;
    }

    const auto prepared = prepare_publication(request);
    if (const auto* failure = std::get_if<Failure>(&prepared)) {
        std::cerr << "tamsel-feed: refused: " << failure->reason << "\n";
        return exit_refused;
    }
    const Publication& publication = std::get<Publication>(prepared);
    // The setup program first: a server copied mid-way never offers a file it lacks.
    if (!make_folders_and_write(setup_out, request.setup) ||
        !make_folders_and_write(news_path, publication.answer)) {
        std::cerr << "tamsel-feed: cannot write into " << root.string() << "\n";
        return exit_unreadable;
    }
    std::cout << "published " << request.version << "\n"
              << "  " << setup_out.string() << "  " << request.setup.size() << " bytes, sha256 "
              << to_hex(publication.sha256.data(), publication.sha256.size()) << "\n"
              << "  " << news_path.string() << "  " << publication.answer.size() << " bytes, "
              << publication.kept_items << " earlier item(s) kept\n"
              << "  offered at " << publication.url << "\n";
    for (const std::string& note : publication.notes) std::cout << "  note: " << note << "\n";
    for (const std::string& warning : publication.warnings) std::cout << "  warning: " << warning << "\n";
    return 0;
}

// lint --json: one object, its keys always present (null when empty):
// {"file", "exit_code", "findings": [{"severity", "advisory", "line",
// "column", "message"}], "rollout": {"version", "start", "waves", "due",
// "last_due"} or null, "report": the reports' prefix or null}. Line and
// column are 0 for a finding without a place.
void print_lint_json(const std::string& file, const std::vector<Finding>& findings,
                     const std::optional<RolloutProgress>& rollout, const std::optional<std::string>& report,
                     std::ostream& out) {
    out << "{\"file\": " << json_string(file) << ", \"exit_code\": " << lint_exit_code(findings) << ", \"findings\": [";
    for (const Finding& finding : findings) {
        out << (&finding == &findings.front() ? "" : ", ") << "{\"severity\": \""
            << (finding.severity == Severity::error ? "error" : "warning")
            << "\", \"advisory\": " << (finding.advisory ? "true" : "false") << ", \"line\": " << finding.line
            << ", \"column\": " << finding.column << ", \"message\": " << json_string(finding.message) << "}";
    }
    out << "], \"rollout\": ";
    if (rollout) {
        out << "{\"version\": " << json_string(rollout->version) << ", \"start\": \""
            << tamsel::calendar_date_text(rollout->start) << "\", \"waves\": " << rollout->waves
            << ", \"due\": " << rollout->due << ", \"last_due\": \"" << tamsel::calendar_date_text(rollout->last)
            << "\"}";
    } else {
        out << "null";
    }
    out << ", \"report\": " << (report ? json_string(*report) : "null") << "}\n";
}

int lint_command(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2,
                          {{"--working", 1}, {"--reserve", 1}, {"--host", 1}, {"--today", 1}, {"--json", 0}},
                          positional);
    if (!command_line_ok("lint", options, positional, 1)) return exit_usage;
    const auto today = tamsel::parse_calendar_date(options.one("--today").value_or(local_today()));
    if (!today) {
        std::cerr << "tamsel-feed: --today takes a day written YYYY-MM-DD\n";
        return exit_usage;
    }
    LintOptions lint_options;
    if (const int code = client_of(options, lint_options.working_key, lint_options.reserve_key, lint_options.host))
        return code;
    std::string file;
    if (!read_file(positional[0], file)) {
        std::cerr << "tamsel-feed: cannot read " << positional[0] << "\n";
        return exit_unreadable;
    }
    const auto findings = lint(file, lint_options);
    if (options.has("--json")) {
        print_lint_json(positional[0], findings, rollout_progress(file, *today),
                        report_prefix_of(file, lint_options.host), std::cout);
        return lint_exit_code(findings);
    }
    for (const Finding& finding : findings) {
        std::cout << positional[0] << ":";
        if (finding.line != 0) std::cout << finding.line << ":" << finding.column << ":";
        std::cout << (finding.severity == Severity::error ? " error: " : " warning: ") << finding.message << "\n";
    }
    const int code = lint_exit_code(findings);
    if (findings.empty()) std::cout << positional[0] << ": clean\n";
    if (const auto status = rollout_status(file, *today)) std::cout << positional[0] << ": " << *status << "\n";
    if (const auto prefix = report_prefix_of(file, lint_options.host))
        std::cout << positional[0] << ": clients report each installation's outcome to " << *prefix
                  << "<outcome>/<from>/<to>\n";
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
                          {{"--installed", 1},
                           {"--state", 1},
                           {"--files", 1},
                           {"--working", 1},
                           {"--reserve", 1},
                           {"--host", 1},
                           {"--today", 1},
                           {"--sessions", 1},
                           {"--machine-guid", 1},
                           {"--ring", 1},
                           {"--json", 0}},
                          positional);
    const auto installed = options.one("--installed");
    if (!command_line_ok("dry-run", options, positional, 1, {"--installed"})) return exit_usage;
    DryRunOptions run;
    if (!read_file(positional[0], run.answer)) {
        std::cerr << "tamsel-feed: cannot read " << positional[0] << "\n";
        return exit_unreadable;
    }
    if (*installed != "none") {
        if (!version_resource(*installed)) {
            std::cerr << "tamsel-feed: --installed takes a file version (up to four numbers 0 to 65535) or none\n";
            return exit_usage;
        }
        run.installed = *installed;
    }
    if (const auto state_path = options.one("--state")) {
        std::string state;
        if (!read_file(*state_path, state)) {
            std::cerr << "tamsel-feed: cannot read " << *state_path << "\n";
            return exit_unreadable;
        }
        run.state = state;
    }
    run.files_folder = options.one("--files");
    if (run.files_folder && !std::filesystem::is_directory(*run.files_folder)) {
        std::cerr << "tamsel-feed: no folder " << *run.files_folder << "\n";
        return exit_unreadable;
    }
    if (const int code = client_of(options, run.working_key, run.reserve_key, run.host)) return code;
    run.today = options.one("--today").value_or(local_today());
    if (!tamsel::parse_calendar_date(run.today)) {
        std::cerr << "tamsel-feed: --today takes a day written YYYY-MM-DD\n";
        return exit_usage;
    }
    // The client's clock: now, moved by whole days to the day given, so
    // that the age of a pending record reads as it would on that day.
    const std::int64_t shift_days = tamsel::days_between(*tamsel::parse_calendar_date(local_today()),
                                                         *tamsel::parse_calendar_date(run.today));
    run.now_unix = static_cast<std::uint64_t>(std::max<std::int64_t>(0, std::time(nullptr) + shift_days * 86400));
    if (const auto sessions = options.one("--sessions")) {
        const auto list = session_list(*sessions);
        if (!list) {
            std::cerr << "tamsel-feed: --sessions takes session numbers joined by \",\"\n";
            return exit_usage;
        }
        run.sessions = *list;
    }
    // As the registry holds it: no braces, lower case.
    if (auto guid = options.one("--machine-guid")) {
        if (guid->size() > 2 && guid->front() == '{' && guid->back() == '}') *guid = guid->substr(1, guid->size() - 2);
        std::transform(guid->begin(), guid->end(), guid->begin(), [](unsigned char c) { return std::tolower(c); });
        run.machine_guid = guid;
    }
    run.ring = options.one("--ring");
    if (run.ring && *run.ring != tamsel::early_ring && *run.ring != tamsel::late_ring) {
        std::cerr << "tamsel-feed: --ring takes early or late\n";
        return exit_usage;
    }
    if (options.has("--json")) {
        dry_run_json(run, std::cout);
    } else {
        dry_run(run, std::cout);
    }
    return exit_done;
}

// The next feed written from the one served now: --feed names it, --out
// the file to write (by default the --feed file itself, rewritten whole).
int write_order(const std::variant<Order, Failure>& prepared, const std::string& what, const std::string& out) {
    if (const auto* failure = std::get_if<Failure>(&prepared)) {
        std::cerr << "tamsel-feed: refused: " << failure->reason << "\n";
        return exit_refused;
    }
    const Order& order = std::get<Order>(prepared);
    if (order.nothing_to_do) {
        std::cout << "nothing to do: " << out << " offers nothing; left as it is\n";
        return 0;
    }
    if (!replace_file(out, order.answer)) {
        std::cerr << "tamsel-feed: cannot write " << out << "\n";
        return exit_unreadable;
    }
    std::cout << what << "\n  " << out << "  " << order.answer.size() << " bytes\n";
    if (!order.stopped.empty() || order.revokes_working) {
        std::cout << "  [stop] versions:";
        for (const std::string& version : order.stopped) std::cout << " " << version;
        std::cout << (order.stopped.empty() ? " none" : "") << "; revoke_working = "
                  << (order.revokes_working ? "true" : "false") << "\n";
    }
    std::cout << "  [download] " << (order.offer_kept ? "kept" : "none") << "\n";
    for (const std::string& note : order.notes) std::cout << "  note: " << note << "\n";
    for (const std::string& warning : order.warnings) std::cout << "  warning: " << warning << "\n";
    return 0;
}

int stop_command(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2,
                          with_secret_options({{"--feed", 1},
                                               {"--versions", many},
                                               {"--revoke-working", 0},
                                               {"--keep-offer", 0},
                                               {"--out", 1},
                                               {"--working", 1},
                                               {"--reserve", 1}}),
                          positional);
    const auto feed = options.one("--feed");
    if (!command_line_ok("stop", options, positional, 1, {"--feed"})) return exit_usage;
    StopRequest request;
    if (!read_file(*feed, request.current)) {
        std::cerr << "tamsel-feed: cannot read " << *feed << "\n";
        return exit_unreadable;
    }
    for (const auto& versions : options.all("--versions"))
        request.versions.insert(request.versions.end(), versions.begin(), versions.end());
    request.revoke_working = options.has("--revoke-working");
    request.keep_offer = options.has("--keep-offer");
    request.name = *feed;
    if (const int code = client_keys_of(options, request.client)) return code;
    const auto key = signing_key(positional[0], options);
    if (!key) return exit_unreadable;
    request.key = key->get();
    return write_order(prepare_stop(request), "stop order signed", options.one("--out").value_or(*feed));
}

int withdraw_command(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2,
                          with_secret_options({{"--feed", 1}, {"--out", 1}, {"--working", 1}, {"--reserve", 1}}),
                          positional);
    const auto feed = options.one("--feed");
    if (!command_line_ok("withdraw", options, positional, 1, {"--feed"})) return exit_usage;
    WithdrawRequest request;
    if (!read_file(*feed, request.current)) {
        std::cerr << "tamsel-feed: cannot read " << *feed << "\n";
        return exit_unreadable;
    }
    request.name = *feed;
    if (const int code = client_keys_of(options, request.client)) return code;
    const auto key = signing_key(positional[0], options);
    if (!key) return exit_unreadable;
    request.key = key->get();
    return write_order(prepare_withdraw(request), "offer withdrawn", options.one("--out").value_or(*feed));
}

// reports: the outcome reports counted from the update server's access
// logs, per offer, and the halt rule a release pipeline runs hourly.
std::string percent_text(double percent) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", percent);
    return text;
}

// The offers newest first (by `to`, then by `from`), as the updater orders versions.
std::vector<const std::pair<const std::pair<std::string, std::string>, OutcomeCounts>*> offers_newest_first(
        const ReportTally& tally) {
    std::vector<const std::pair<const std::pair<std::string, std::string>, OutcomeCounts>*> rows;
    for (const auto& entry : tally.offers) rows.push_back(&entry);
    const auto newer = [](const std::string& a, const std::string& b) {
        return tamsel::is_newer(a, b) || (!tamsel::is_newer(b, a) && a > b);
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const auto* a, const auto* b) {
        if (a->first.second != b->first.second) return newer(a->first.second, b->first.second);
        return newer(a->first.first, b->first.first);
    });
    return rows;
}

void print_reports_json(const std::vector<std::string>& files, const ReportTally& tally,
                        const std::optional<std::string>& since, const std::optional<HaltRule>& rule, int code,
                        std::ostream& out) {
    const auto counts = [&out](const OutcomeCounts& c) {
        out << "{";
        for (std::size_t i = 0; i < report_outcomes.size(); ++i)
            out << (i ? ", " : "") << json_string(report_outcomes[i]) << ": " << c.by_outcome[i];
        out << "}, \"reports\": " << c.reports() << ", \"failures\": " << c.failures()
            << ", \"failure_percent\": " << c.failure_percent();
    };
    out << "{\"files\": [";
    for (const std::string& file : files) out << (&file == &files.front() ? "" : ", ") << json_string(file);
    out << "], \"exit_code\": " << code << ", \"lines\": " << tally.lines << ", \"reports\": " << tally.reports
        << ", \"other_requests\": " << tally.other_requests << ", \"malformed\": " << tally.malformed
        << ", \"first_malformed\": " << (tally.malformed ? json_string(tally.first_malformed) : "null")
        << ", \"undated\": " << tally.undated << ", \"since\": " << (since ? json_string(*since) : "null")
        << ", \"before_since\": " << tally.before_since << ", \"offers\": [";
    const auto rows = offers_newest_first(tally);
    for (const auto* row : rows) {
        out << (row == rows.front() ? "" : ", ") << "{\"from\": " << json_string(row->first.first)
            << ", \"to\": " << json_string(row->first.second) << ", \"outcomes\": ";
        counts(row->second);
        out << "}";
    }
    out << "], \"newest\": ";
    const auto newest = newest_offer(tally);
    if (newest) {
        out << "{\"to\": " << json_string(newest->first) << ", \"outcomes\": ";
        counts(newest->second);
        out << "}";
    } else {
        out << "null";
    }
    out << ", \"halt\": ";
    if (rule) {
        out << "{\"above_percent\": " << rule->above_percent << ", \"min_reports\": " << rule->min_reports
            << ", \"fires\": " << (code == exit_halt ? "true" : "false") << "}";
    } else {
        out << "null";
    }
    out << "}\n";
}

int reports_command(int argc, char** argv) {
    std::vector<std::string> positional;
    const Options options(argc, argv, 2, {{"--since", 1}, {"--json", 0}, {"--halt-above", 1}, {"--min-reports", 1}},
                          positional);
    if (!command_line_ok("reports", options, positional, std::max<std::size_t>(positional.size(), 1)))
        return exit_usage;
    std::optional<tamsel::CalendarDate> since;
    if (const auto text = options.one("--since")) {
        since = tamsel::parse_calendar_date(*text);
        if (!since) {
            std::cerr << "tamsel-feed: --since takes a day written YYYY-MM-DD\n";
            return exit_usage;
        }
    }
    std::optional<HaltRule> rule;
    if (options.has("--halt-above") || options.has("--min-reports")) {
        const auto above = options.one("--halt-above");
        const auto minimum = options.one("--min-reports");
        HaltRule parsed;
        const auto number = [](const std::string& text, auto& out) {
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
            return !text.empty() && error == std::errc{} && end == text.data() + text.size();
        };
        if (!above || !minimum || !number(*above, parsed.above_percent) || !(parsed.above_percent >= 0) ||
            parsed.above_percent >= 100 || !number(*minimum, parsed.min_reports) || parsed.min_reports == 0) {
            std::cerr << "tamsel-feed: --halt-above takes a percentage from 0 to below 100 and goes with "
                         "--min-reports, 1 or more\n";
            return exit_usage;
        }
        rule = parsed;
    }
    ReportTally tally;
    for (const std::string& path : positional) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::cerr << "tamsel-feed: cannot read " << path << "\n";
            return exit_unreadable;
        }
        std::size_t number = 0;
        for (std::string line; std::getline(in, line);)
            count_log_line(tally, line, since, path + ":" + std::to_string(++number));
        if (in.bad()) {
            std::cerr << "tamsel-feed: cannot read " << path << "\n";
            return exit_unreadable;
        }
    }
    const auto newest = newest_offer(tally);
    const int code = rule && newest && halt_fires(newest->second, *rule) ? exit_halt : exit_done;
    if (options.has("--json")) {
        print_reports_json(positional, tally, options.one("--since"), rule, code, std::cout);
        return code;
    }
    std::cout << tally.lines << " line(s): " << tally.reports << " report(s), " << tally.other_requests
              << " other request(s)";
    if (since) std::cout << ", " << tally.before_since << " before " << *options.one("--since") << " left out";
    std::cout << "\n";
    if (tally.malformed != 0)
        std::cout << "skipped " << tally.malformed << " malformed line(s) (first: " << tally.first_malformed
                  << "): neither the common or combined log format nor a request path\n";
    if (since && tally.undated != 0)
        std::cout << tally.undated << " plain line(s) have no date: counted whatever --since says\n";
    std::cout << "from → to             ";
    for (const std::string_view outcome : report_outcomes) std::cout << "  " << outcome;
    std::cout << "  failures\n";
    for (const auto* row : offers_newest_first(tally)) {
        std::string offer = row->first.first + " → " + row->first.second;
        offer.resize(std::max<std::size_t>(offer.size(), 24), ' ');  // the arrow is three bytes, one column
        std::cout << offer;
        for (std::size_t i = 0; i < report_outcomes.size(); ++i) {
            const std::string n = std::to_string(row->second.by_outcome[i]);
            std::cout << std::string(2 + std::max(report_outcomes[i].size(), n.size()) - n.size(), ' ') << n;
        }
        std::cout << "  " << std::setw(8) << percent_text(row->second.failure_percent()) << "\n";
    }
    if (!newest) {
        std::cout << "no reports" << (rule ? ": the halt rule has nothing to judge" : "") << "\n";
        return code;
    }
    std::cout << "newest offer " << newest->first << ": " << newest->second.reports() << " report(s), "
              << newest->second.failures() << " failure(s) (" << percent_text(newest->second.failure_percent())
              << ")\n";
    if (!rule) return code;
    if (newest->second.reports() < rule->min_reports) {
        std::cout << "halt: not yet judged: " << newest->second.reports() << " report(s) of " << newest->first
                  << ", fewer than " << rule->min_reports << "\n";
    } else if (code == exit_halt) {
        std::cout << "halt: " << percent_text(newest->second.failure_percent()) << " failures is above "
                  << *options.one("--halt-above") << "%: withdraw " << newest->first << "\n";
    } else {
        std::cout << "halt: no: " << percent_text(newest->second.failure_percent()) << " failures is not above "
                  << *options.one("--halt-above") << "%\n";
    }
    return code;
}

constexpr const char* key_help =
    "  KEY is a PEM private key file (encrypted or not) or a PKCS#11 URI of a key in a token\n"
    "  (pkcs11:token=...;object=...;type=private). The PEM's passphrase or the token's PIN comes from\n"
    "  --passphrase-file FILE (its first line; only its owner may read it) or --passphrase-env VARIABLE,\n"
    "  never the command line.\n";

constexpr const char* client_help =
    "  --working, --reserve and --host say which client to judge for: the keys as 128 hex digits or\n"
    "  files with them or with a PEM key. Without them a development build takes the keys and host it\n"
    "  embeds; a release build of the tool refuses to run without them unless it was configured with\n"
    "  the release's keys and host.\n";

constexpr const char* carry_help =
    "  The feed carried on from must verify with the client's working or reserve key (--working and\n"
    "  --reserve as 128 hex digits or files with them or with a PEM key; a development build takes the\n"
    "  keys it embeds): one changed since it was signed is refused. Only a key the client embeds signs.\n";

constexpr const char* write_exit_help =
    "Exit: 0 written; 2 wrong usage; 3 a file or the key cannot be read or written; 4 refused (nothing\n"
    "written).\n";

struct Command {
    const char* name;
    int (*run)(int, char**);
    const char* synopsis;
    std::string help;
};

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"keygen", keygen, "keygen <private.pem> [--encrypt (--passphrase-file FILE | --passphrase-env VAR)]",
         "Makes a P-256 key, writes it as PKCS#8 PEM (never over an existing file; mode 0600) and prints\n"
         "the public key as the 128 hex digits a build takes as TAMSEL_WORKING_KEY or TAMSEL_RESERVE_KEY.\n"
         "With --encrypt the PEM is encrypted (AES-256, PBKDF2-HMAC-SHA256 with 600,000 iterations) with the\n"
         "passphrase, at least 20 characters, from the file's first line (a file only its owner can read)\n"
         "or the environment variable.\n"
         "Exit: 0 written; 2 wrong usage; 3 the file exists or cannot be written, the passphrase cannot be read;\n"
         "4 a passphrase under 20 characters.\n"},
        {"sign", sign, "sign <KEY> <document> <answer-out> [--passphrase-file FILE | --passphrase-env VAR]",
         std::string("Writes the feed answer: the signature line, a line feed, then the document's bytes as they are.\n") +
             key_help + "Exit: 0 written; 2 wrong usage; 3 a file or the key cannot be read, signing failed.\n"},
        {"public-key", public_key_command, "public-key <KEY> [--passphrase-file FILE | --passphrase-env VAR]",
         std::string("Prints the public key of a private key as the 128 hex digits a build takes: for a key made\n"
                     "in a token, or to check which key a PEM file holds.\n") +
             key_help + "Exit: 0 printed; 2 wrong usage; 3 the key cannot be read.\n"},
        {"verify", verify, "verify <answer> <working-key> <reserve-key>",
         "Says which key verifies the answer (working or reserve), splitting it with the updater's own code.\n"
         "Keys are 128 hex digits, or files with them or with a PEM key.\n"
         "Exit: 0 a key verified; 1 the signature line is refused or neither key verifies; 2 wrong usage;\n"
         "3 unreadable input.\n"},
        {"publish", publish,
         "publish --key <KEY> --setup <file> --version <V> --files-prefix https://HOST/tamsel/files/\n"
         "                --news <lang> <title> <text> [--news ...] --out <folder> [--name <path>]\n"
         "                [--previous <news.toml>] [--date YYYY-MM-DD] [--passphrase-file FILE | --passphrase-env VAR]\n"
         "                [--rollout-days N [--rollout-start YYYY-MM-DD]] [--allow-lower]\n"
         "                [--report-prefix https://HOST/PATH/ | --report-prefix none]\n"
         "                [--working <key> --reserve <key>]",
         std::string(
             "Writes <folder>/tamsel/files/<name> and <folder>/tamsel/news.toml, a copy of the update server's\n"
             "tree, after checking that clients would take the offer. The earlier items and [stop] of\n"
             "<folder>/tamsel/news.toml (or of --previous) are kept. Refused: a version the carried [stop] lists\n"
             "(whichever key signs), a version lower than the earlier offer (unless --allow-lower), the earlier\n"
             "offer's version with other bytes, a rollout start before today, and signing with the working key\n"
             "when the earlier feed revokes it.\n"
             "--rollout-days N (1 to 30) rolls the offer out in N daily waves from --rollout-start (default\n"
             "today): each machine installs on its own wave's day, so that a stop order or a withdrawal given\n"
             "early reaches the machines that have not installed yet.\n"
             "--report-prefix asks clients to report each installation's outcome as a GET of\n"
             "PREFIX<outcome>/<from>/<to> (refused unless it is an https address on the files prefix's host\n"
             "with plain path parts, each ending in \"/\"); the earlier feed's [report] is carried on unless\n"
             "it is given (none drops it). tamsel-feed reports counts them in the server's access logs.\n") +
             carry_help + key_help + write_exit_help},
        {"stop", stop_command,
         "stop <RESERVE-KEY> --feed <news.toml> (--versions V... | --revoke-working) [--keep-offer]\n"
         "                [--out FILE] [--working <key> --reserve <key>] [--passphrase-file FILE | --passphrase-env VAR]",
         std::string(
             "Writes the next feed, signed with the reserve key: the current feed's items with a [stop] section\n"
             "listing the versions (after those the current [stop] already lists) and, with --revoke-working,\n"
             "revoke_working = true (a revocation already in force stays). The offer ([download]) is dropped\n"
             "unless --keep-offer is given and its version is not stopped. --feed is the answer served now;\n"
             "--out defaults to it (rewritten whole, keeping its mode). The key must be the client's reserve\n"
             "key: clients ignore a [stop] signed with any other. Each version must be written as clients hold\n"
             "it (major.minor.build); one that the feed never offered is stopped with a warning.\n") +
             carry_help + key_help + write_exit_help},
        {"withdraw", withdraw_command,
         "withdraw <KEY> --feed <news.toml> [--out FILE] [--working <key> --reserve <key>]\n"
         "                [--passphrase-file FILE | --passphrase-env VAR]",
         std::string(
             "Writes the next feed without its offer ([download]), keeping its items and any [stop]: the\n"
             "everyday answer to a bad release, signed with the working key. Clients that already installed\n"
             "the version keep it. Refused when the current feed revokes the working key and another key signed\n"
             "it (sign with the reserve key then). A feed without an offer is left as it is (exit 0).\n") +
             carry_help + key_help + write_exit_help},
        {"lint", lint_command,
         "lint <file> [--working <key> --reserve <key> --host <host>] [--today YYYY-MM-DD] [--json]",
         std::string("Judges a document or an answer with the updater's own feed code: TOML errors with their\n"
                     "line:column, the updater's verdicts, then hazards. For an offer rolled out in waves it\n"
                     "then shows how many waves are due on --today (default today), the share of machines that\n"
                     "makes and how many waves remain. --json prints one JSON object instead:\n"
                     "{\"file\", \"exit_code\", \"findings\": [{\"severity\", \"advisory\", \"line\", \"column\", \"message\"}],\n"
                     "\"rollout\": {\"version\", \"start\", \"waves\", \"due\", \"last_due\"} or null, \"report\": the\n"
                     "prefix clients send their outcome reports to, or null}. A [report] clients would not use\n"
                     "is a warning that says why.\n") +
             client_help +
             "Exit: 0 clean, or only advisory warnings (a [stop] carried on in a working-key feed); 1 warnings;\n"
             "2 wrong usage; 3 unreadable input; 4 errors.\n"},
        {"reports", reports_command,
         "reports <log>... [--since YYYY-MM-DD] [--json] [--halt-above PERCENT --min-reports N]",
         "Counts the clients' outcome reports in the update server's access logs: the common and the\n"
         "combined format (nginx's and Apache's defaults), or plain lines holding one request path (or\n"
         "https address) each. A report is a GET of a path ending in <outcome>/<from>/<to>, the outcome\n"
         "one of updated, rolled-back, not-installed, not-started, download-refused (all but updated are\n"
         "failures). Prints per from → to the count of each outcome and the failure rate, then the newest\n"
         "offer's (the highest <to> by the updater's version comparison) over every <from>. Lines of\n"
         "neither form are skipped and counted. --since leaves out log lines dated before that day (as the\n"
         "log writes it, in the server's time zone); plain lines have no date and are always counted.\n"
         "--halt-above PERCENT --min-reports N: exit 5 when the newest offer has at least N reports and\n"
         "more than PERCENT of them failures, so that a release pipeline can withdraw it. --json prints\n"
         "one JSON object instead: {\"files\", \"exit_code\", \"lines\", \"reports\", \"other_requests\",\n"
         "\"malformed\", \"first_malformed\", \"undated\", \"since\", \"before_since\", \"offers\": [{\"from\",\n"
         "\"to\", \"outcomes\": {OUTCOME: count}, \"reports\", \"failures\", \"failure_percent\"}], \"newest\":\n"
         "{\"to\", \"outcomes\", \"reports\", \"failures\", \"failure_percent\"} or null, \"halt\":\n"
         "{\"above_percent\", \"min_reports\", \"fires\"} or null}.\n"
         "Exit: 0 counted (the halt rule did not fire); 2 wrong usage; 3 a log cannot be read; 5 the halt\n"
         "rule fired.\n"},
        {"dry-run", dry_run_command,
         "dry-run <answer> --installed <version|none> [--state <state.toml>] [--files <publish-folder>]\n"
         "                [--working <key> --reserve <key> --host <host>] [--today YYYY-MM-DD] [--sessions 1,2]\n"
         "                [--machine-guid GUID] [--ring early|late] [--json]",
         std::string("Runs the updater's check run over that answer on a client in memory and prints its log\n"
                     "lines, its exit code and the state file it leaves. For an offer rolled out in waves it\n"
                     "prints the machine's wave and the day it is due; --machine-guid is the client's MachineGuid\n"
                     "(without it the client is one whose MachineGuid cannot be read: the last wave); --ring\n"
                     "gives the client the UpdateRing policy, which puts it in the first (early) or last (late)\n"
                     "wave. --json prints one JSON object instead: {\"installed\", \"today\", \"host\", \"ring\"\n"
                     "(or null), \"rollout\": {\"waves\", \"start\", \"wave\", \"due\"} or null, \"steps\":\n"
                     "[{\"kind\": \"log\", \"time\", \"message\", \"number\"} or {\"kind\": \"would\" or \"note\",\n"
                     "\"text\"}], \"exit_code\" (null: stopped at the download), \"state\" (text or null),\n"
                     "\"update_folder\": [{\"name\", \"size\"}]}.\n") +
             client_help +
             "Exit: 0 the pass ran (its own exit code is printed); 2 wrong usage; 3 unreadable input.\n"},
    };
    return table;
}

int usage() {
    std::cerr << "usage:";
    for (const Command& command : commands()) std::cerr << (&command == &commands().front() ? " " : "       ")
                                                        << "tamsel-feed " << command.synopsis << "\n";
    std::cerr << "       tamsel-feed help [COMMAND]\n";
    return exit_usage;
}

int help(const std::string& name) {
    for (const Command& command : commands()) {
        if (name == command.name) {
            std::cout << "usage: tamsel-feed " << command.synopsis << "\n\n" << command.help;
            return 0;
        }
    }
    if (!name.empty()) {
        std::cerr << "tamsel-feed: no command " << name << "; tamsel-feed help lists them\n";
        return exit_usage;
    }
    std::cout << "tamsel-feed: the vendor's tool for the Tamsel update feed.\n\n";
    for (const Command& command : commands()) std::cout << "  tamsel-feed " << command.synopsis << "\n";
    std::cout << "\ntamsel-feed help COMMAND (or COMMAND --help) says more.\n"
                 "Exit codes: 0 done; 1 verify: not verified, lint: warnings; 2 wrong usage; 3 a file or key\n"
                 "cannot be read (or a file written); 4 refused, nothing written, lint: errors; 5 reports: the\n"
                 "halt rule fired.\n";
    return 0;
}

std::string synopsis_of(const std::string& name) {
    for (const Command& command : commands()) {
        if (name == command.name) return command.synopsis;
    }
    return "help [COMMAND]";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "help" || command == "--help" || command == "-h") return help(argc > 2 ? argv[2] : "");
    for (const Command& entry : commands()) {
        if (command != entry.name) continue;
        for (int i = 2; i < argc; ++i) {
            if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") return help(command);
        }
        return entry.run(argc, argv);
    }
    if (command == "--version") {
        std::cout << "tamsel-feed " << TAMSEL_FEED_VERSION << "\n";
        return exit_done;
    }
    if (command.empty()) return usage();
    std::cerr << "tamsel-feed: unknown command " << command << "; tamsel-feed help lists the commands\n";
    return exit_usage;
}
