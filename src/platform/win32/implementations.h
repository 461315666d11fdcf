// The Win32 implementations of the platform interfaces, for the composition
// roots (the product, the testbed) and the platform tests.
#pragma once
#include <windows.h>

#include "platform/account.h"
#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/desktop.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/http.h"
#include "platform/mutexes.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/standard_output.h"
#include "platform/version_info.h"

namespace tamsel::win32 {

class Win32Clock final : public Clock {
public:
    std::uint64_t filetime_now() override;
    std::uint64_t monotonic_ms() override;
    void sleep_ms(std::uint32_t milliseconds) override;
    Result<std::string> local_date_text(const std::string& picture) override;
};

class Win32Crypto final : public Crypto {
public:
    std::unique_ptr<Sha256Digester> begin_sha256() override;
    std::unique_ptr<EcdsaP256Verifier> open_ecdsa_p256() override;
};

class Win32Files final : public Files {
public:
    FileResult open_append(const std::string& path) override;
    FileResult create_truncate(const std::string& path) override;
    FileResult open_read(const std::string& path) override;
    Result<std::uint64_t> size(const std::string& path) override;
    Result<void> replace_file(const std::string& from, const std::string& to) override;
    Result<void> remove(const std::string& path) override;
    std::uint32_t attributes(const std::string& path) override;
    FileResult open_exclusive(const std::string& path) override;
    Result<std::vector<std::string>> list(const std::string& folder) override;
    Result<void> move(const std::string& from, const std::string& to) override;
};

class Win32Https final : public Https {
public:
    Result<std::uint64_t> https_get(const HttpsRequest& request, const BodySink& sink) override;
    Result<std::uint32_t> https_get_status(const HttpsRequest& request) override;
};

class Win32Account : public Account {
public:
    std::optional<Sid> process_user() override;
    bool is_well_known(const Sid& sid, WellKnownSid which) override;
};

class Win32Security final : public Security {
public:
    Result<OwnerAndDacl> owner_and_dacl(const std::string& path) override;
    Result<FolderCreation> create_protected_folder(const std::string& path) override;
    Result<std::unique_ptr<SecuredEntry>> open_entry(const std::string& path) override;
};

// Reads owner and DACL out of a self-relative security descriptor in memory
// with GetSecurityDescriptorOwner/Dacl, GetAclInformation and GetAce. Shared by
// Win32Security and the platform tests, which build descriptors from SDDL.
std::optional<OwnerAndDacl> read_owner_and_dacl(const void* descriptor);

class Win32Folders final : public Folders {
public:
    std::optional<std::string> own_executable_path() override;
    std::optional<std::string> known_folder_path(KnownFolder folder) override;
};

class Win32Mutexes final : public Mutexes {
public:
    MutexCreation create_owned_mutex(const std::string& name) override;
    PrivateMutex take_private_mutex(const std::string& namespace_name, const std::string& mutex_name,
                                    std::unique_ptr<HeldObject>& held) override;
    bool mutex_exists(const std::string& name) override;
};

class Win32VersionInfo final : public VersionInfo {
public:
    std::optional<std::vector<std::uint8_t>> file_version_info(const std::string& path) override;
};

class Win32Registry final : public Registry {
public:
    std::optional<std::string> machine_guid() override;
    std::optional<PolicyValue> policy_value(const std::string& name) override;
};

class Win32StandardOutput final : public StandardOutput {
public:
    bool write_standard_output(const std::string& text) override;
};

class Win32Processes final : public Processes {
public:
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
};

class Win32Desktop final : public Desktop {
public:
    std::vector<WindowId> find_windows(const std::string& class_name) override;
    std::optional<std::uint32_t> window_process(WindowId window) override;
    bool post_end_session(WindowId window) override;
    bool is_window(WindowId window) override;
};

// The calls the event log makes; a test passes its own to see the source and
// the bytes, which Wine's event log keeps nowhere.
struct EventLogCalls {
    decltype(&RegisterEventSourceW) register_source = &RegisterEventSourceW;
    decltype(&ReportEventW) report = &ReportEventW;
};

class Win32EventLog final : public EventLog {
public:
    explicit Win32EventLog(EventLogCalls calls = {}) : calls_(calls) {}
    bool report(std::uint32_t event_id, EventType type, std::uint32_t number) override;

private:
    EventLogCalls calls_;
};

}  // namespace tamsel::win32
