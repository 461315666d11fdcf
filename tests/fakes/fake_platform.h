// In-memory fakes of the platform interfaces for the unit tier, with a
// virtual clock: waits advance time instead of taking it.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <tuple>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace tamsel::fakes {

// FILETIME ticks for a moment given in seconds since 1970 (may be negative).
std::uint64_t filetime_from_unix(std::int64_t unix_seconds);

// One count over every call into the fakes of a FakePlatform, whatever its
// kind, so a test can make the N-th platform call fail. Each call leaves a
// label ("files.create <path>", "processes.start <command line>") so a
// runner can tell which operation it failed.
struct Faults {
    std::vector<std::string> calls;
    std::optional<std::size_t> fail_call;  // index into `calls` of the call that fails
    // Calls with this label fail once the given number of them has passed.
    std::map<std::string, std::size_t> fail_label_after;
    // What the failed call reports as its Windows error (ERROR_DISK_FULL).
    std::uint32_t error = 112;

    bool hit(std::string label) {
        bool fail = fail_call && calls.size() == *fail_call;
        if (const auto it = fail_label_after.find(label); it != fail_label_after.end()) {
            if (it->second == 0) fail = true;
            else --it->second;
        }
        calls.push_back(std::move(label));
        return fail;
    }
};

// Mixed into each fake: whether this call is the one to fail (besides the
// fake's own failure flags, which keep working).
class FaultPoint {
public:
    Faults* faults = nullptr;
    // The error of the latest failure injected here.
    std::uint32_t injected_error = 0;

protected:
    // What a call failed by injection reports.
    Failure injected() const { return Failure{injected_error}; }
    bool fault(std::string label) {
        if (faults == nullptr || !faults->hit(std::move(label))) return false;
        injected_error = faults->error;
        return true;
    }
};

// Thrown by FakeFiles at its crash point: the power goes out, and nothing
// after that file operation happens.
struct PowerCut {};

class FakeClock final : public Clock, public FaultPoint {
public:
    std::uint64_t now = filetime_from_unix(1'790'000'000);  // late 2026
    std::uint64_t slept_ms = 0;

    std::uint64_t monotonic = 5'000'000;  // ms; unrelated to the wall clock, as on Windows
    std::vector<std::uint32_t> sleeps;    // every sleep, in order
    std::function<void(FakeClock&)> after_sleep;  // the wall clock set by hand, say

    std::optional<std::string> today = std::string("2026-12-08");  // the local date, set by hand

    // A failed reading is one before 1970, which the logic must survive.
    std::uint64_t filetime_now() override { return fault("clock.now") ? 0 : now; }
    Result<std::string> local_date_text(const std::string&) override {
        if (fault("system.date")) return injected();
        if (!today) return Failure{};
        return *today;
    }
    std::uint64_t monotonic_ms() override { return monotonic; }
    void sleep_ms(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        slept_ms += milliseconds;
        advance_ms(milliseconds);
        if (after_sleep) after_sleep(*this);
    }
    // Time passing without a sleep (a wait for a process, say).
    void advance_ms(std::uint64_t milliseconds) {
        now += milliseconds * 10'000;
        monotonic += milliseconds;
    }
    void set_unix(std::int64_t unix_seconds) { now = filetime_from_unix(unix_seconds); }
};

// Stand-in cryptography. Its digest is a cheap deterministic mix of the
// bytes, not SHA-256 (digest_of gives the same value for expectations); a
// signature verifies only when `sign` made it for that key and digest. The
// real CNG code is tested under Wine.
class FakeCrypto final : public Crypto, public FaultPoint {
public:
    // Failure injection.
    bool fail_begin = false;
    bool fail_add = false;
    bool fail_finish = false;
    bool fail_open_ecdsa = false;
    std::set<EcPublicKeyBytes> failing_imports;  // keys whose import fails

    std::string hashed;                          // every byte added, over all digests
    std::vector<EcPublicKeyBytes> keys_tried;    // each verify call's key, in order
    int open_handles = 0;                        // digesters and verifiers not yet released

    static Sha256Digest digest_of(std::string_view bytes);
    // A signature by `key` over `document` that this fake will accept.
    EcdsaSignature sign(const EcPublicKeyBytes& key, std::string_view document);

    std::unique_ptr<Sha256Digester> begin_sha256() override;
    std::unique_ptr<EcdsaP256Verifier> open_ecdsa_p256() override;

private:
    friend class FakeEcdsa;
    friend class FakeDigester;
    std::set<std::tuple<EcPublicKeyBytes, Sha256Digest, EcdsaSignature>> valid_;
};

// A flat in-memory file system: paths are plain keys, folders are a set.
// Every mutating call is recorded in `journal` so tests can check order.
class FakeFiles final : public Files, public FaultPoint {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    std::set<std::string> folder_links;  // folders that are links or junctions (reparse points)
    std::vector<std::string> journal;

    // Failure injection.
    bool fail_open_append = false;
    bool fail_create = false;
    std::set<std::string> fail_create_paths;  // creates of these paths fail
    bool fail_open_read = false;       // open fails for a reason other than absence
    bool fail_size = false;
    bool fail_replace = false;
    bool fail_remove = false;
    bool fail_flush = false;
    std::optional<std::size_t> fail_write_after;  // bytes accepted before writes fail
    std::optional<std::size_t> fail_read_after;   // bytes read before reads fail
    std::size_t max_write_chunk = SIZE_MAX;      // partial writes
    bool zero_write = false;                      // writes accept nothing

    FileResult open_append(const std::string& path) override;
    FileResult create_truncate(const std::string& path) override;
    FileResult open_read(const std::string& path) override;
    Result<std::uint64_t> size(const std::string& path) override;
    Result<void> replace_file(const std::string& from, const std::string& to) override;
    Result<void> remove(const std::string& path) override;
    std::uint32_t attributes(const std::string& path) override;
    FileResult open_exclusive(const std::string& path) override;
    // Direct children of a folder; a move takes what lies below along.
    Result<std::vector<std::string>> list(const std::string& folder) override;
    Result<void> move(const std::string& from, const std::string& to) override;
    std::set<std::string> fail_move_paths;    // moves from these paths fail
    std::set<std::string> fail_remove_paths;  // removes of these paths fail (held open elsewhere)

    // Files held open without sharing, by this process or another; a handle
    // from open_exclusive lets go of its path when destroyed.
    std::set<std::string> locked;
    std::function<bool(const std::string&)> held_elsewhere;  // when set, also says whether another process holds a path
    bool fail_open_exclusive = false;

    bool exists(const std::string& path) const { return files.count(path) != 0; }

    // Crash model: the power goes out after this many changing operations
    // (create, append open, write, flush, replace, remove): the next one
    // throws PowerCut and `files` holds what reached the disk.
    std::optional<std::size_t> crash_after;
    std::size_t changes = 0;
    // The harsher model: a file moved by replace_file before its written
    // bytes were flushed holds, after a crash, only what had been flushed.
    bool lose_unflushed_on_crash = false;

private:
    friend class FakeFileHandle;
    bool folder_of_exists(const std::string& path) const;
    // Counts a changing operation; throws PowerCut at the crash point.
    void change();
    std::set<std::string> unflushed_;              // written since their last flush
    std::map<std::string, std::string> flushed_;   // what a file held at its last flush
    std::map<std::string, std::string> torn_;      // replace targets: what a crash leaves
    std::size_t bytes_written_ = 0;
    std::size_t bytes_read_ = 0;
};

// A scripted update server. Each address ("https://" + host + path) answers
// as set in `responses`; any other answers 404. The body is handed over in
// the given chunks, under the same rules as the real fetch: the status
// check, the running count against the sink's limit, the sink's refusal.
struct FakeHttpsResponse {
    bool no_connection = false;  // fails before any status arrives
    std::uint32_t error = 12029;  // of a failed connection or a break (ERROR_WINHTTP_CANNOT_CONNECT)
    std::uint32_t status = 200;
    std::vector<std::string> chunks;
    std::optional<std::size_t> fail_after_chunks;  // the connection breaks after that many chunks

    // A 200 answer with `body` cut into chunks of at most `chunk_size` bytes.
    static FakeHttpsResponse body(const std::string& body, std::size_t chunk_size = 8192);
};

class FakeHttps final : public Https, public FaultPoint {
public:
    std::map<std::string, FakeHttpsResponse> responses;
    std::vector<HttpsRequest> requests;  // every call, in order
    std::size_t chunks_read = 0;         // chunks taken from the server, over all calls

    void serve(const std::string& address, FakeHttpsResponse response) { responses[address] = std::move(response); }
    Result<std::uint64_t> https_get(const HttpsRequest& request, const BodySink& sink) override;
    // The status the address answers with; its chunks are not read.
    Result<std::uint32_t> https_get_status(const HttpsRequest& request) override;
};

class FakeAccount final : public Account, public FaultPoint {
public:
    // SIDs are opaque byte strings here; these three play the well-known ones.
    static Sid system_sid() { return Sid{'S', 'Y'}; }
    static Sid admins_sid() { return Sid{'A', 'D'}; }
    static Sid creator_owner_sid() { return Sid{'C', 'O'}; }
    static Sid user_sid() { return Sid{'U', 'S'}; }
    static Sid trusted_installer_sid() { return Sid{'T', 'I'}; }

    std::optional<Sid> user = system_sid();

    std::optional<Sid> process_user() override { return fault("account.process_user") ? std::nullopt : user; }
    bool is_well_known(const Sid& sid, WellKnownSid which) override;
};

class FakeSecurity final : public Security, public FaultPoint {
public:
    std::map<std::string, OwnerAndDacl> descriptors;
    Result<OwnerAndDacl> owner_and_dacl(const std::string& path) override;

    // Folders are made in, and entries opened from, this file system. A file
    // without a descriptor of its own is one a pass wrote: owned by SYSTEM,
    // with the folder's entries for SYSTEM and the Administrators.
    FakeFiles* files = nullptr;
    std::set<std::string> fail_protect;  // paths whose descriptor cannot be set
    std::uint32_t error = 0;             // the cause of a refused read (5: not elevated)
    std::vector<std::string> journal;    // "create-folder <path>", "protect <path>"
    Result<FolderCreation> create_protected_folder(const std::string& path) override;
    Result<std::unique_ptr<SecuredEntry>> open_entry(const std::string& path) override;
    // The kit's descriptor as the fakes write it.
    static OwnerAndDacl kit();
};

// The machine's small services in one fake: folders, mutexes, version
// resources, the registry and standard output.
class FakeSystem final : public Folders,
                         public Mutexes,
                         public VersionInfo,
                         public Registry,
                         public StandardOutput,
                         public FaultPoint {
public:
    std::optional<std::string> exe_path = std::string("C:\\Program Files\\Tamsel\\tamsel-update.exe");
    std::optional<std::string> program_data = std::string("C:\\ProgramData");
    std::optional<std::string> windows_folder = std::string("C:\\Windows");
    std::set<std::string> mutexes;  // names held by other processes
    std::function<bool(const std::string&)> mutex_exists_hook;  // when set, answers mutex_exists
    bool fail_mutex = false;
    std::vector<std::string> created_mutexes;
    bool private_namespaces = true;          // false: none, as under Wine
    std::set<std::string> private_mutexes;   // "namespace\\name", held by this process or another
    std::map<std::string, std::vector<std::uint8_t>> version_infos;
    std::optional<std::string> guid = std::string("6B29FC40-CA47-1067-B31D-00DD010662DA");

    std::optional<std::string> own_executable_path() override {
        return fault("system.own_path") ? std::nullopt : exe_path;
    }
    std::optional<std::string> known_folder_path(KnownFolder folder) override {
        if (fault("system.known_folder")) return std::nullopt;
        return folder == KnownFolder::program_data ? program_data : windows_folder;
    }
    MutexCreation create_owned_mutex(const std::string& name) override;
    PrivateMutex take_private_mutex(const std::string& namespace_name, const std::string& mutex_name,
                                    std::unique_ptr<HeldObject>& held) override;
    bool mutex_exists(const std::string& name) override {
        if (fault("system.mutex_exists")) return false;  // OpenMutexW failed: counts as gone
        return mutex_exists_hook ? mutex_exists_hook(name) : mutexes.count(name) != 0;
    }
    std::optional<std::vector<std::uint8_t>> file_version_info(const std::string& path) override;
    std::optional<std::string> machine_guid() override { return fault("system.machine_guid") ? std::nullopt : guid; }

    // The policy key's values: numbers as REG_DWORD, texts as REG_SZ, and
    // any other value as given.
    std::map<std::string, std::uint32_t> policy_numbers;
    std::map<std::string, std::string> policy_texts;
    std::map<std::string, PolicyValue> policy_values;
    std::string standard_output;
    bool has_standard_output = true;
    std::optional<PolicyValue> policy_value(const std::string& name) override {
        if (const auto found = policy_numbers.find(name); found != policy_numbers.end())
            return PolicyValue{4, found->second, std::nullopt};
        if (const auto found = policy_texts.find(name); found != policy_texts.end())
            return PolicyValue{1, 0, found->second};
        if (const auto found = policy_values.find(name); found != policy_values.end()) return found->second;
        return std::nullopt;
    }
    bool write_standard_output(const std::string& text) override {
        if (!has_standard_output) return false;
        standard_output += text;
        return true;
    }
};

// The NT name the kernel gives a Win32 path: a drive letter's volume, or the
// network redirector for UNC paths; other device paths stay as they are.
std::string nt_form(const std::string& path);

// The machine's processes on the virtual clock. A process runs from when it
// is listed or started until `ends_at` (monotonic ms), or for ever.
struct FakeProcess {
    std::uint32_t process_id = 0;
    std::uint32_t session_id = 1;
    std::string name = "Tamsel.exe";
    std::optional<std::string> path;  // nothing: cannot be opened or queried
    std::optional<std::string> nt_path;  // the image's NT name; nothing: nt_form(path)
    std::optional<std::uint64_t> ends_at;
    bool survives_terminate = false;
    std::optional<std::uint32_t> exit_code;
};

// One start through start_as_user or start.
struct FakeLaunch {
    std::string token;  // "own:<session>", "user:<session>" or "" for a plain start
    std::string application;
    std::string command_line;
    std::uint64_t at = 0;  // monotonic ms
    std::string environment;  // the token its environment block was made from; "": the caller's
};

// What a started process does: whether it was made, how long it runs and
// with what exit code it ends.
struct FakeStartResult {
    bool created = true;
    std::optional<std::uint64_t> runs_ms = 0;  // nothing: runs for ever
    std::uint32_t exit_code = 0;
};

class FakeProcesses final : public Processes, public FaultPoint {
public:
    explicit FakeProcesses(FakeClock& clock) : clock_(clock) {}

    std::vector<FakeProcess> table;
    bool fail_enumerate = false;
    bool fail_duplicate = false;
    bool fail_set_session = false;
    bool fail_wait = false;
    bool fail_exit_code = false;
    bool fail_environment = false;
    std::set<std::uint32_t> logged_on;  // sessions with a user token
    std::function<FakeStartResult(const FakeLaunch&)> on_start;  // default: made, ends at once with 0
    std::function<void(std::uint32_t)> before_open;  // a process id about to be opened by open_process
    // The final NT path of each spelling of a file that can be opened (an 8.3
    // name, a path through a junction); a path not listed cannot be opened.
    // Opening anything but a drive-letter path throws (std::logic_error), which
    // fails the test: as the system account it would authenticate to whatever
    // host the path names.
    std::map<std::string, std::string> final_paths;
    std::vector<std::string> opened_paths;  // every final_nt_path, in order

    std::vector<FakeLaunch> launches;
    std::vector<std::uint32_t> terminated;   // process ids, in order
    std::vector<std::uint32_t> waits_ms;     // every wait's time-out, in order
    std::size_t enumerations = 0;
    int open_handles = 0;  // tokens and process handles not yet closed

    // A running Tamsel.exe at `path` in `session`; returns its process id.
    std::uint32_t run_program(const std::string& path, std::uint32_t session, std::string name = "Tamsel.exe");
    bool alive(const FakeProcess& process) const;
    FakeProcess* find(std::uint32_t process_id);
    // The running process with the id (an id may be reused: the table then
    // holds the ended one too).
    FakeProcess* find_alive(std::uint32_t process_id);
    // The launches whose command line ends with `suffix`.
    std::vector<FakeLaunch> launches_ending(std::string_view suffix) const;

    Result<std::vector<ProcessEntry>> enumerate() override;
    std::optional<ProcessImage> image(std::uint32_t process_id) override;
    std::optional<std::string> final_nt_path(const std::string& path) override;
    std::unique_ptr<OpenedProcess> open_process(std::uint32_t process_id) override;
    std::unique_ptr<Token> duplicate_own_token() override;
    bool set_token_session(Token& token, std::uint32_t session_id) override;
    std::unique_ptr<Token> user_token(std::uint32_t session_id) override;
    std::unique_ptr<EnvironmentBlock> user_environment(Token& token) override;
    std::unique_ptr<ProcessHandle> start_as_user(Token& token, const std::string& application,
                                                 const std::string& command_line,
                                                 const EnvironmentBlock* environment) override;
    Result<std::unique_ptr<ProcessHandle>> start(const std::string& application,
                                                 const std::string& command_line) override;

private:
    friend class FakeProcessHandle;
    friend class FakeOpenedProcess;
    Result<std::unique_ptr<ProcessHandle>> launch(std::string token, const std::string& application,
                                                  const std::string& command_line, std::string environment = "");
    FakeClock& clock_;
    std::uint32_t next_id_ = 1000;
};

// Top-level windows of one desktop on the virtual clock.
struct FakeWindow {
    WindowId id = 0;
    std::string class_name = "Tamsel.Hidden";
    std::uint64_t appears_at = 0;            // monotonic ms
    std::optional<std::uint64_t> dies_at;    // monotonic ms
    std::uint32_t process_id = 0;            // the process that made it; 0: none the fake knows
};

class FakeDesktop final : public Desktop, public FaultPoint {
public:
    explicit FakeDesktop(FakeClock& clock) : clock_(clock) {}

    std::vector<FakeWindow> windows;
    bool fail_post = false;
    std::vector<WindowId> posted;
    std::vector<std::uint64_t> looks;  // monotonic ms of every find_windows

    // A window of the class from `appears_after` ms from now until
    // `dies_after` ms from now (or for ever), made by the process; returns its id.
    WindowId add_window(std::uint64_t appears_after, std::optional<std::uint64_t> dies_after = std::nullopt,
                        std::string class_name = "Tamsel.Hidden", std::uint32_t process_id = 0);

    std::vector<WindowId> find_windows(const std::string& class_name) override;
    std::optional<std::uint32_t> window_process(WindowId window) override;
    bool post_end_session(WindowId window) override;
    bool is_window(WindowId window) override;

private:
    bool alive(const FakeWindow& window) const;
    FakeClock& clock_;
};

// A feed answer's signature line (with its line feed) by `key` over
// `document`, which `crypto` then accepts; and the whole signed answer.
std::string signature_line(FakeCrypto& crypto, const EcPublicKeyBytes& key, std::string_view document);
std::string signed_answer(FakeCrypto& crypto, const EcPublicKeyBytes& key, std::string_view document);

// The messages of a log file in the fake files, each with its number and
// without its time stamp ("close: ended 2").
std::vector<std::string> log_messages(const FakeFiles& files, const std::string& log_path);

// Records every event reported; `fail` makes each report fail (and the
// updater must not notice).
class FakeEventLog final : public EventLog, public FaultPoint {
public:
    struct Event {
        std::uint32_t event_id;
        EventType type;
        std::uint32_t number;
        bool operator==(const Event&) const = default;
    };
    std::vector<Event> events;
    bool fail = false;
    bool report(std::uint32_t event_id, EventType type, std::uint32_t number) override {
        if (fault("event_log.report " + std::to_string(event_id)) || fail) return false;
        events.push_back({event_id, type, number});
        return true;
    }
};

// All fakes together, wired into a Platform.
struct FakePlatform {
    FakeAccount account;
    FakeClock clock;
    FakeCrypto crypto;
    FakeFiles files;
    FakeHttps https;
    FakeSecurity security;
    FakeSystem system;
    FakeProcesses processes{clock};
    FakeDesktop desktop{clock};
    FakeEventLog event_log;
    Platform platform{account,  clock,  crypto, files,  https,  processes, desktop,
                      security, system, system, system, system, system,    event_log};

    // One call count over all of them (see Faults).
    Faults faults;
    FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // Creates a folder with a well-protected descriptor (owner SYSTEM, only
    // trusted trustees get changing rights).
    void add_guarded_folder(const std::string& path);
};

}  // namespace tamsel::fakes
