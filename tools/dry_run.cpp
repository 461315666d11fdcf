#include "tools/dry_run.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "entry/entry.h"
#include "entry/log.h"
#include "entry/paths.h"
#include "entry/update_folder.h"
#include "feed/https_address.h"
#include "feed/signature.h"
#include "tools/feed_rules.h"
#include "tools/json_text.h"
#include "update/check_run.h"
#include "update/policies.h"
#include "update/rollout.h"
#include "update/version.h"

namespace tamsel::tool {
namespace {

// Where the client's files live. Only their names matter to the pass.
const std::string program_dir = "C:\\Program Files\\Tamsel";
const std::string program_data = "C:\\ProgramData";

// The pass's output, in the order it happens: the log lines as written, and
// the steps that would act on the machine.
class Transcript {
public:
    explicit Transcript(std::vector<DryRunStep>& steps) : steps_(steps) {}
    void log_bytes(std::string_view bytes) {
        pending_line_ += bytes;
        for (std::size_t end; (end = pending_line_.find("\r\n")) != std::string::npos;) {
            steps_.push_back({DryRunStep::log, pending_line_.substr(0, end)});
            pending_line_.erase(0, end + 2);
        }
    }
    void would(const std::string& step) { steps_.push_back({DryRunStep::would, step}); }
    void note(const std::string& text) { steps_.push_back({DryRunStep::note, text}); }

private:
    std::vector<DryRunStep>& steps_;
    std::string pending_line_;
};

// The update folder in memory. Every append to updater.log goes to the
// transcript as well.
class MemoryFiles final : public Files {
public:
    MemoryFiles(Transcript& transcript, std::string log_path, std::string update_dir)
        : transcript_(transcript), log_path_(std::move(log_path)), update_dir_(std::move(update_dir)) {}

    std::map<std::string, std::string> files;

    FileResult open_append(const std::string& path) override { return std::make_unique<Handle>(*this, path, 0); }
    FileResult create_truncate(const std::string& path) override {
        files[path].clear();
        return std::make_unique<Handle>(*this, path, 0);
    }
    FileResult open_read(const std::string& path) override {
        if (files.count(path) == 0) return std::unique_ptr<FileHandle>();
        return std::make_unique<Handle>(*this, path, 0);
    }
    Result<std::uint64_t> size(const std::string& path) override {
        const auto it = files.find(path);
        if (it == files.end()) return tamsel::Failure{};
        return std::uint64_t{it->second.size()};
    }
    Result<void> replace_file(const std::string& from, const std::string& to) override {
        const auto it = files.find(from);
        if (it == files.end()) return tamsel::Failure{};
        std::string bytes = std::move(it->second);
        files.erase(it);
        files[to] = std::move(bytes);
        return {};
    }
    Result<void> remove(const std::string& path) override {
        if (files.erase(path) == 0) return tamsel::Failure{};
        return {};
    }
    std::uint32_t attributes(const std::string& path) override {
        if (path == update_dir_ || update_dir_.starts_with(path + "\\")) return 0x10;  // FILE_ATTRIBUTE_DIRECTORY
        return files.count(path) != 0 ? 0x80 : invalid_file_attributes;                 // FILE_ATTRIBUTE_NORMAL
    }
    // The run's exclusion is the entry's, which a dry run does not pass through.
    FileResult open_exclusive(const std::string&) override { return tamsel::Failure{}; }

private:
    // Reads from the start, appends at the end: all the pass ever does.
    class Handle final : public FileHandle {
    public:
        Handle(MemoryFiles& owner, std::string path, std::size_t position)
            : owner_(owner), path_(std::move(path)), position_(position) {}
        Result<std::size_t> write(const void* data, std::size_t size) override {
            const std::string_view bytes(static_cast<const char*>(data), size);
            owner_.files[path_].append(bytes);
            if (path_ == owner_.log_path_) owner_.transcript_.log_bytes(bytes);
            return size;
        }
        Result<std::size_t> read(void* buffer, std::size_t size) override {
            const std::string& bytes = owner_.files[path_];
            const std::size_t n = std::min(size, bytes.size() - std::min(position_, bytes.size()));
            std::memcpy(buffer, bytes.data() + position_, n);
            position_ += n;
            return n;
        }
        Result<void> flush() override { return {}; }

    private:
        MemoryFiles& owner_;
        std::string path_;
        std::size_t position_;
    };

    Transcript& transcript_;
    std::string log_path_;
    std::string update_dir_;
};

// SHA-256 and ECDSA P-256 through OpenSSL in place of CNG.
class OpenSslCrypto final : public Crypto {
public:
    std::unique_ptr<Sha256Digester> begin_sha256() override { return std::make_unique<Digester>(); }
    std::unique_ptr<EcdsaP256Verifier> open_ecdsa_p256() override { return std::make_unique<Verifier>(); }

private:
    class Digester final : public Sha256Digester {
    public:
        Digester() : ctx_(EVP_MD_CTX_new()) { ok_ = ctx_ && EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) == 1; }
        ~Digester() override { EVP_MD_CTX_free(ctx_); }
        Digester(const Digester&) = delete;
        Digester& operator=(const Digester&) = delete;
        bool add(const void* data, std::size_t size) override {
            ok_ = ok_ && EVP_DigestUpdate(ctx_, data, size) == 1;
            return ok_;
        }
        std::optional<Sha256Digest> finish() override {
            Sha256Digest digest{};
            unsigned int size = 0;
            const bool done = ok_ && EVP_DigestFinal_ex(ctx_, digest.data(), &size) == 1 && size == digest.size();
            ok_ = false;
            if (!done) return std::nullopt;
            return digest;
        }

    private:
        EVP_MD_CTX* ctx_;
        bool ok_ = false;
    };
    class Verifier final : public EcdsaP256Verifier {
    public:
        bool verify(const EcPublicKeyBytes& key, const Sha256Digest& digest,
                    const EcdsaSignature& signature) override {
            return verify_digest(key, digest, signature);
        }
    };
};

// The update server: the feed answer at the feed address and, when a publish
// folder is given, its files at their paths. The fetch keeps the real one's
// rules: a missing file is a 404, and the body goes to the sink in chunks of
// 8192 bytes against its limit.
class PublishFolderServer final : public Https {
public:
    PublishFolderServer(const DryRunOptions& options, std::string feed_url)
        : options_(options), feed_url_(std::move(feed_url)) {}

    Result<std::uint64_t> https_get(const HttpsRequest& request, const BodySink& sink) override {
        const std::string address = "https://" + request.host + request.path;
        if (address == feed_url_) return serve(options_.answer, sink);
        if (!options_.files_folder) throw DownloadNotAttempted{address};
        if (request.host != options_.host) return tamsel::Failure{};  // no other server answers
        // The address comes from the feed under test: a path that climbs out
        // of the publish folder is served nothing (the client's address rule
        // refuses such paths before any download anyway).
        const std::filesystem::path relative = std::filesystem::path(request.path.substr(1)).lexically_normal();
        if (relative.empty() || relative.is_absolute() || *relative.begin() == "..") return tamsel::Failure{};
        const std::filesystem::path file = std::filesystem::path(*options_.files_folder) / relative;
        std::ifstream in(file, std::ios::binary);
        if (!in || std::filesystem::is_directory(file)) return tamsel::Failure{};
        std::ostringstream body;
        body << in.rdbuf();
        return serve(body.str(), sink);
    }

    // An outcome report: the publish folder holds no such file.
    Result<std::uint32_t> https_get_status(const HttpsRequest&) override { return 404u; }

    // Thrown when the pass reaches the setup download and no publish folder
    // was given: it ends the dry run there instead of logging a download
    // failure that a real client would not see.
    struct DownloadNotAttempted {
        std::string address;
    };

private:
    static Result<std::uint64_t> serve(std::string_view body, const BodySink& sink) {
        std::uint64_t count = 0;
        for (std::size_t at = 0; at < body.size(); at += 8192) {
            const std::string_view chunk = body.substr(at, 8192);
            count += chunk.size();
            if (count > sink.limit) return tamsel::Failure{};
            if (!sink.write(std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size())))
                return tamsel::Failure{};
        }
        return count;
    }

    const DryRunOptions& options_;
    std::string feed_url_;
};

class FixedClock final : public Clock {
public:
    FixedClock(std::uint64_t unix_seconds, std::string today)
        : now_(filetime_unix_epoch + unix_seconds * 10'000'000), today_(std::move(today)) {}
    std::uint64_t filetime_now() override { return now_; }
    std::uint64_t monotonic_ms() override { return now_ / 10'000; }
    void sleep_ms(std::uint32_t milliseconds) override { now_ += std::uint64_t{milliseconds} * 10'000; }
    Result<std::string> local_date_text(const std::string&) override { return today_; }
    // A dry run's client has no quiet hours, so its time of day is never asked.
    std::uint32_t local_minute_of_day() override { return 0; }

private:
    std::uint64_t now_;
    std::string today_;
};

class ClientSystem final : public Folders, public Mutexes, public VersionInfo, public Registry, public StandardOutput {
public:
    ClientSystem(const DryRunOptions& options, std::string main_exe)
        : options_(options), main_exe_(std::move(main_exe)) {}
    std::optional<std::string> own_executable_path() override {
        return join_path(program_dir, "tamsel-update.exe");
    }
    std::optional<std::string> known_folder_path(KnownFolder folder) override {
        return folder == KnownFolder::program_data ? program_data : "C:\\Windows";
    }
    MutexCreation create_owned_mutex(const std::string&) override { return MutexCreation::created; }
    PrivateMutex take_private_mutex(const std::string&, const std::string&, std::unique_ptr<HeldObject>&) override {
        return PrivateMutex::unavailable;
    }
    bool mutex_exists(const std::string&) override { return false; }
    std::optional<std::vector<std::uint8_t>> file_version_info(const std::string& path) override {
        if (path != main_exe_ || !options_.installed) return std::nullopt;
        return version_resource(*options_.installed);
    }
    std::optional<std::string> machine_guid() override { return options_.machine_guid; }
    // The client of a dry run is a machine without policies, but for the ring asked for.
    std::optional<PolicyValue> policy_value(const std::string& name) override {
        if (name != update_ring_policy || !options_.ring) return std::nullopt;
        return PolicyValue{1, 0, *options_.ring};  // REG_SZ
    }
    bool write_standard_output(const std::string&) override { return false; }

private:
    const DryRunOptions& options_;
    std::string main_exe_;
};

// The check run never asks who it runs as or how a folder is protected (the
// entry did that before); these only complete the platform.
class SystemAccount final : public Account {
public:
    std::optional<Sid> process_user() override { return Sid{1}; }
    bool is_well_known(const Sid&, WellKnownSid which) override { return which == WellKnownSid::local_system; }
};
class NoSecurity final : public Security {
public:
    Result<OwnerAndDacl> owner_and_dacl(const std::string&) override { return tamsel::Failure{}; }
};

// Closing and raising are printed, never done. The program counts as closed
// at once, as a program that honours the close request would be.
// Nothing is started in a dry run: the setup program's start is printed as
// what would happen, and reported as done so the pass goes on as it would.
class PrintingProcesses final : public Processes {
public:
    explicit PrintingProcesses(Transcript& transcript) : transcript_(transcript) {}
    Result<std::vector<ProcessEntry>> enumerate() override { return std::vector<ProcessEntry>{}; }
    std::optional<ProcessImage> image(std::uint32_t) override { return std::nullopt; }
    std::optional<std::string> final_nt_path(const std::string&) override { return std::nullopt; }
    std::unique_ptr<OpenedProcess> open_process(std::uint32_t) override { return nullptr; }
    std::unique_ptr<Token> duplicate_own_token() override { return nullptr; }
    bool set_token_session(Token&, std::uint32_t) override { return false; }
    std::unique_ptr<Token> user_token(std::uint32_t) override { return nullptr; }
    std::optional<Sid> token_user(Token&) override { return std::nullopt; }
    Result<std::vector<std::uint32_t>> session_ids() override { return std::vector<std::uint32_t>{}; }
    std::unique_ptr<EnvironmentBlock> user_environment(Token&) override { return nullptr; }
    std::unique_ptr<ProcessHandle> start_as_user(Token&, const std::string&, const std::string&,
                                                 const EnvironmentBlock*) override {
        return nullptr;
    }
    Result<std::unique_ptr<ProcessHandle>> start(const std::string&, const std::string& command_line) override {
        transcript_.would("start " + command_line);
        return std::make_unique<Started>();
    }

private:
    struct Started final : ProcessHandle {
        WaitResult wait(std::uint32_t) override { return WaitResult::ended; }
        std::optional<std::uint32_t> exit_code() override { return 0; }
    };
    Transcript& transcript_;
};

class NoDesktop final : public Desktop {
public:
    std::vector<WindowId> find_windows(const std::string&) override { return {}; }
    std::optional<std::uint32_t> window_process(WindowId) override { return std::nullopt; }
    bool post_end_session(WindowId) override { return false; }
    bool is_window(WindowId) override { return false; }
};

// A dry run reports to no event log.
class NoEventLog final : public EventLog {
public:
    bool report(std::uint32_t, EventType, std::uint32_t) override { return true; }
};

class PrintingBridge final : public SessionBridge {
public:
    PrintingBridge(const DryRunOptions& options, Transcript& transcript)
        : options_(options), transcript_(transcript) {}
    Result<std::vector<std::uint32_t>> program_sessions(const std::string&) override { return options_.sessions; }
    bool close_program(const std::string& main_exe, std::uint32_t session, Log&) override {
        transcript_.would("close " + main_exe + " in session " + std::to_string(session) +
                          " (the log then holds its \"close: ...\" lines with the number " +
                          std::to_string(session) + ")");
        return true;
    }
    RaiseOutcome raise_program(const std::string& main_exe, const std::vector<std::uint32_t>& sessions,
                               Log&) override {
        std::string list;
        for (const std::uint32_t session : sessions) list += (list.empty() ? "" : ", ") + std::to_string(session);
        if (!sessions.empty()) transcript_.would("start " + main_exe + " again in sessions " + list);
        return RaiseOutcome::up;
    }

private:
    const DryRunOptions& options_;
    Transcript& transcript_;
};

std::string sessions_text(const std::vector<std::uint32_t>& sessions) {
    if (sessions.empty()) return "none";
    std::string text;
    for (const std::uint32_t session : sessions) text += (text.empty() ? "" : ",") + std::to_string(session);
    return text;
}

void print_lines(std::ostream& out, std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        out << "  " << line << "\n";
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

// The machine's wave and due day when the answer's offer is rolled out in
// waves; the pass then shows whether it is due today. And where the client
// reports outcomes, when the answer has a [report].
std::optional<DryRunResult::Wave> wave_and_report_of(const DryRunOptions& options, Platform& platform,
                                                     DryRunResult& result) {
    const auto split = split_feed_answer(options.answer);
    if (!std::holds_alternative<FeedAnswer>(split)) return std::nullopt;
    const auto parsed = parse_feed(std::get<FeedAnswer>(split).document);
    if (!std::holds_alternative<Feed>(parsed)) return std::nullopt;
    if (!std::get<Feed>(parsed).report.absent()) {
        result.report = report_setting(std::get<Feed>(parsed).report, options.host);
        result.report_prefix = report_prefix(std::get<Feed>(parsed), options.host);
    }
    const FeedSection<Download>& download = std::get<Feed>(parsed).download;
    if (!download.present() || !download.value.rollout) return std::nullopt;
    const Rollout& rollout = *download.value.rollout;
    const std::uint32_t wave = machine_rollout_wave(platform, rollout, download.value.version,
                                                    read_policies(platform.registry).ring);
    return DryRunResult::Wave{rollout.days, calendar_date_text(rollout.start), wave,
                              calendar_date_text(rollout_due_day(rollout, wave))};
}

}  // namespace

std::optional<std::vector<std::uint8_t>> version_resource(const std::string& file_version) {
    std::uint16_t parts[4] = {};
    std::size_t count = 0;
    std::string_view rest = file_version;
    while (true) {
        const std::size_t dot = rest.find('.');
        const std::string_view piece = rest.substr(0, dot);
        if (count == 4 || piece.empty() || piece.size() > 5) return std::nullopt;
        unsigned value = 0;
        for (const char c : piece) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 65535) return std::nullopt;
        parts[count++] = static_cast<std::uint16_t>(value);
        if (dot == std::string_view::npos) break;
        rest.remove_prefix(dot + 1);
    }
    // VS_VERSIONINFO's header and key, then VS_FIXEDFILEINFO at offset 40:
    // its signature, then dwFileVersionMS (major, minor) and LS (build, fourth).
    std::vector<std::uint8_t> info(92, 0);
    const auto put = [&info](std::size_t at, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) info[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(40, 0xFEEF04BD, 4);
    put(48, parts[1], 2);
    put(50, parts[0], 2);
    put(52, parts[3], 2);
    put(54, parts[2], 2);
    return info;
}

DryRunResult run_dry(const DryRunOptions& options) {
    const RunContext context =
        make_run_context(program_dir, program_data, BuildSettings{options.host, options.working_key, options.reserve_key});
    DryRunResult result;
    Transcript transcript(result.steps);
    MemoryFiles files(transcript, UpdateFolder{context.update_dir}.log(), context.update_dir);
    const std::string state_path = UpdateFolder{context.update_dir}.state();
    if (options.state) files.files[state_path] = *options.state;

    FixedClock clock(options.now_unix, options.today);
    OpenSslCrypto crypto;
    PublishFolderServer server(options, context.feed_url);
    SystemAccount account;
    NoSecurity security;
    ClientSystem system(options, context.main_exe);
    PrintingProcesses processes(transcript);
    NoDesktop desktop;
    NoEventLog event_log;
    Platform platform{account,  clock,  crypto, files,  server, processes, desktop,
                      security, system, system, system, system, system,    event_log};
    PrintingBridge bridge(options, transcript);
    Log log(files, clock, event_log, context.update_dir);

    const auto installed_info = options.installed ? version_resource(*options.installed) : std::nullopt;
    result.main_exe = context.main_exe;
    result.installed = installed_info ? version_text_from_info(*installed_info) : std::nullopt;
    result.wave = wave_and_report_of(options, platform, result);
    try {
        result.exit_code = check_run(context, log, platform, bridge);
    } catch (const PublishFolderServer::DownloadNotAttempted& stop) {
        transcript.note("download not attempted: " + stop.address);
        transcript.note("the update is due; give --files PUBLISH-FOLDER to follow the pass further");
        files.files.erase(UpdateFolder{context.update_dir}.partial_setup());  // left by stopping it there
    }
    if (const auto state = files.files.find(state_path); state != files.files.end()) result.state = state->second;
    for (const auto& [path, bytes] : files.files)
        result.update_folder.emplace_back(path.substr(context.update_dir.size() + 1), bytes.size());
    return result;
}

int dry_run(const DryRunOptions& options, std::ostream& out) {
    const DryRunResult result = run_dry(options);
    out << "client: " << result.main_exe << " " << result.installed.value_or("(no version resource)")
        << ", runs in sessions " << sessions_text(options.sessions) << "; today " << options.today << "; server "
        << options.host << "; " << (options.state ? "state.toml given" : "no state.toml") << "\n";
    if (result.wave) {
        out << "rollout: " << result.wave->waves << " waves from " << result.wave->start << "; machine "
            << options.machine_guid.value_or("(no MachineGuid)")
            << (options.ring ? " in the " + *options.ring + " ring" : "") << " is in wave " << result.wave->wave
            << ", due on " << result.wave->due << "\n";
    }
    if (result.report) out << "reports: " << *result.report << "\n";
    out << log_file_name << ":\n";
    for (const DryRunStep& step : result.steps) {
        out << "  "
            << (step.kind == DryRunStep::would  ? "[would] "
                : step.kind == DryRunStep::note ? "[dry run] "
                                                : "")
            << step.text << "\n";
    }
    if (result.exit_code) {
        out << "exit code: " << *result.exit_code << "\n";
    } else {
        out << "the pass stops at the download in this dry run\n";
    }
    if (!result.state) {
        out << "state.toml: none\n";
    } else {
        out << "state.toml:\n";
        print_lines(out, *result.state);
    }
    out << "update folder:";
    const char* separator = " ";
    for (const auto& [name, size] : result.update_folder) {
        out << separator << name << " (" << size << " bytes)";
        separator = ", ";
    }
    out << "\n";
    return result.exit_code.value_or(-1);
}

void dry_run_json(const DryRunOptions& options, std::ostream& out) {
    const DryRunResult result = run_dry(options);
    const auto text_or_null = [](const std::optional<std::string>& text) {
        return text ? json_string(*text) : std::string("null");
    };
    out << "{\"installed\": " << text_or_null(result.installed) << ", \"today\": " << json_string(options.today)
        << ", \"host\": " << json_string(options.host) << ", \"ring\": " << text_or_null(options.ring)
        << ", \"rollout\": ";
    if (result.wave) {
        out << "{\"waves\": " << result.wave->waves << ", \"start\": \"" << result.wave->start
            << "\", \"wave\": " << result.wave->wave << ", \"due\": \"" << result.wave->due << "\"}";
    } else {
        out << "null";
    }
    out << ", \"report\": " << text_or_null(result.report_prefix) << ", \"steps\": [";
    const char* separator = "";
    for (const DryRunStep& step : result.steps) {
        out << separator;
        separator = ", ";
        // A log line: time, space, the fixed message, space, the number.
        const std::size_t first = step.text.find(' ');
        const std::size_t last = step.text.rfind(' ');
        if (step.kind == DryRunStep::log && first != std::string::npos && last > first) {
            out << "{\"kind\": \"log\", \"time\": " << json_string(step.text.substr(0, first))
                << ", \"message\": " << json_string(step.text.substr(first + 1, last - first - 1))
                << ", \"number\": " << json_string(step.text.substr(last + 1)) << "}";
        } else {
            out << "{\"kind\": \"" << (step.kind == DryRunStep::would ? "would" : "note")
                << "\", \"text\": " << json_string(step.text) << "}";
        }
    }
    out << "], \"exit_code\": " << (result.exit_code ? std::to_string(*result.exit_code) : "null")
        << ", \"state\": " << text_or_null(result.state) << ", \"update_folder\": [";
    separator = "";
    for (const auto& [name, size] : result.update_folder) {
        out << separator << "{\"name\": " << json_string(name) << ", \"size\": " << size << "}";
        separator = ", ";
    }
    out << "]}\n";
}

}  // namespace tamsel::tool
