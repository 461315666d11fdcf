#include <windows.h>
#include <wtsapi32.h>

#include "platform/win32/implementations.h"
#include "platform/win32/last_error.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {
namespace {

class Win32Token final : public Token {
public:
    explicit Win32Token(HANDLE handle) : handle_(handle) {}
    HANDLE get() const { return handle_.get(); }

private:
    OwnedHandle handle_;
};

class Win32ProcessHandle final : public ProcessHandle {
public:
    explicit Win32ProcessHandle(HANDLE handle) : handle_(handle) {}

    WaitResult wait(std::uint32_t milliseconds) override {
        switch (WaitForSingleObject(handle_.get(), milliseconds)) {
        case WAIT_OBJECT_0: return WaitResult::ended;
        case WAIT_TIMEOUT: return WaitResult::timed_out;
        default: return WaitResult::failed;
        }
    }
    std::optional<std::uint32_t> exit_code() override {
        DWORD code = 0;
        if (!GetExitCodeProcess(handle_.get(), &code)) return std::nullopt;
        return code;
    }

private:
    OwnedHandle handle_;
};

// Read whole, however long: a path too long for MAX_PATH must be compared
// and found not to be the program, not taken for one that cannot be read.
std::optional<std::string> query_image_name(HANDLE process, DWORD form) {
    for (DWORD capacity = MAX_PATH; capacity <= 2 * 32768; capacity *= 2) {
        std::wstring buffer(capacity, L'\0');
        DWORD size = capacity;
        if (QueryFullProcessImageNameW(process, form, buffer.data(), &size)) return to_utf8_lossy(buffer.data(), size);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    }
    return std::nullopt;
}

// An NT name that cannot be read is left empty: it matches nothing, and the
// Win32 path still decides.
std::optional<ProcessImage> query_image(HANDLE process) {
    auto path = query_image_name(process, 0);
    if (!path) return std::nullopt;
    return ProcessImage{std::move(*path), query_image_name(process, PROCESS_NAME_NATIVE).value_or("")};
}

// A drive letter, a colon, a backslash, and a drive the system calls fixed:
// UNC paths, \\?\ and \\.\ device paths and mapped drives are never opened.
bool on_local_fixed_volume(const std::wstring& path) {
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return false;
    const wchar_t letter = path[0];
    if (!((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z'))) return false;
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_FIXED;
}

class Win32OpenedProcess final : public OpenedProcess {
public:
    explicit Win32OpenedProcess(HANDLE handle) : handle_(handle) {}

    std::optional<ProcessImage> image() override { return query_image(handle_.get()); }
    bool terminate(std::uint32_t exit_code) override { return TerminateProcess(handle_.get(), exit_code) != 0; }

private:
    OwnedHandle handle_;
};

class Win32EnvironmentBlock final : public EnvironmentBlock {
public:
    explicit Win32EnvironmentBlock(void* block) : block_(block) {}
    void* get() const { return block_.get(); }

private:
    EnvironmentMemory block_;
};

// The thread handle is never used: it is closed at once, the process handle
// goes to the caller.
std::unique_ptr<ProcessHandle> adopt(const PROCESS_INFORMATION& started) {
    const OwnedHandle thread(started.hThread);
    return std::make_unique<Win32ProcessHandle>(started.hProcess);
}

}  // namespace

Result<std::vector<ProcessEntry>> Win32Processes::enumerate() {
    WtsMemory<WTS_PROCESS_INFOW> owned_list;
    DWORD count = 0;
    if (!WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, owned_list.put(), &count)) return last_failure();
    const WTS_PROCESS_INFOW* list = owned_list.get();
    std::vector<ProcessEntry> entries;
    entries.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        ProcessEntry entry;
        entry.session_id = list[i].SessionId;
        entry.process_id = list[i].ProcessId;
        if (list[i].pProcessName != nullptr)
            entry.name = to_utf8(list[i].pProcessName, wcslen(list[i].pProcessName)).value_or(std::string());
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<ProcessImage> Win32Processes::image(std::uint32_t process_id) {
    const OwnedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process) return std::nullopt;
    return query_image(process.get());
}

// Opening follows junctions and symbolic links to the file itself, and the
// file system resolves short names: what comes back is the file, not the
// spelling. Attribute access only, so a running image's sharing never stops it.
std::optional<std::string> Win32Processes::final_nt_path(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide || !on_local_fixed_volume(*wide)) return std::nullopt;
    const OwnedFile file(CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD size = GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
        if (size == 0) return std::nullopt;
        if (size < buffer.size()) return to_utf8_lossy(buffer.data(), size);
        buffer.assign(size, L'\0');  // the size asked for includes the terminating zero
    }
    return std::nullopt;
}

std::unique_ptr<OpenedProcess> Win32Processes::open_process(std::uint32_t process_id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, process_id);
    if (process == nullptr) return nullptr;
    return std::make_unique<Win32OpenedProcess>(process);
}

std::unique_ptr<Token> Win32Processes::duplicate_own_token() {
    OwnedHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put())) return nullptr;
    HANDLE duplicate = nullptr;
    if (!DuplicateTokenEx(own.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, &duplicate))
        return nullptr;
    return std::make_unique<Win32Token>(duplicate);
}

bool Win32Processes::set_token_session(Token& token, std::uint32_t session_id) {
    DWORD session = session_id;
    return SetTokenInformation(static_cast<Win32Token&>(token).get(), TokenSessionId, &session, sizeof session) != 0;
}

std::unique_ptr<Token> Win32Processes::user_token(std::uint32_t session_id) {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(session_id, &token)) return nullptr;
    return std::make_unique<Win32Token>(token);
}

std::optional<Sid> Win32Processes::token_user(Token& token) {
    // TOKEN_USER plus its SID fits in 256 bytes; aligned for the structure.
    alignas(TOKEN_USER) unsigned char buffer[256] = {};
    DWORD needed = 0;
    if (!GetTokenInformation(static_cast<Win32Token&>(token).get(), TokenUser, buffer, sizeof buffer, &needed))
        return std::nullopt;
    PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer)->User.Sid;
    if (sid == nullptr || !IsValidSid(sid)) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

Result<std::vector<std::uint32_t>> Win32Processes::session_ids() {
    WtsMemory<WTS_SESSION_INFOW> owned_list;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, owned_list.put(), &count)) return last_failure();
    std::vector<std::uint32_t> sessions;
    for (DWORD i = 0; i < count; ++i) sessions.push_back(owned_list.get()[i].SessionId);
    return sessions;
}

std::unique_ptr<EnvironmentBlock> Win32Processes::user_environment(Token& token) {
    EnvironmentMemory block;
    if (!CreateEnvironmentBlock(block.put(), static_cast<Win32Token&>(token).get(), FALSE)) return nullptr;
    return std::make_unique<Win32EnvironmentBlock>(block.release());
}

std::unique_ptr<ProcessHandle> Win32Processes::start_as_user(Token& token, const std::string& application,
                                                             const std::string& command_line,
                                                             const EnvironmentBlock* environment) {
    const auto wide_application = to_wide(application);
    auto wide_command = to_wide(command_line);
    if (!wide_application || !wide_command) return nullptr;
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION started{};
    // CreateProcessAsUserW may write into the command line: it is our own copy.
    void* block = environment ? static_cast<const Win32EnvironmentBlock*>(environment)->get() : nullptr;
    const DWORD flags = block ? CREATE_UNICODE_ENVIRONMENT : 0;
    if (!CreateProcessAsUserW(static_cast<Win32Token&>(token).get(), wide_application->c_str(),
                              wide_command->data(), nullptr, nullptr, FALSE, flags, block, nullptr, &startup, &started))
        return nullptr;
    return adopt(started);
}

Result<std::unique_ptr<ProcessHandle>> Win32Processes::start(const std::string& application,
                                                             const std::string& command_line) {
    const auto wide_application = to_wide(application);
    auto wide_command = to_wide(command_line);
    if (!wide_application || !wide_command) return Failure{};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(wide_application->c_str(), wide_command->data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return last_failure();
    return adopt(started);
}

}  // namespace tamsel::win32
