// Processes and sessions: the machine's process list, starting processes
// (into a user's session or beside the updater), waiting for them, ending
// them. Paths and command lines are UTF-8; the Win32 side converts them.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/account.h"

namespace tamsel {

// One process as the session API reports it.
struct ProcessEntry {
    std::uint32_t session_id = 0;
    std::uint32_t process_id = 0;
    std::string name;  // the image name; empty when it was not valid UTF-16
};

// A process's image file, in the two forms QueryFullProcessImageNameW gives,
// each read whole however long it is.
struct ProcessImage {
    std::string path;     // Win32 form: C:\Program Files\..., \\host\share\... and so on
    std::string nt_path;  // NT form (PROCESS_NAME_NATIVE): \Device\HarddiskVolume3\Program Files\...; empty: unread
};

enum class WaitResult {
    ended,
    timed_out,
    failed,
};

// A started process. Destroying the object closes the handle; the process
// itself goes on running.
class ProcessHandle {
public:
    virtual ~ProcessHandle() = default;
    // WaitForSingleObject for at most the given milliseconds.
    virtual WaitResult wait(std::uint32_t milliseconds) = 0;
    // GetExitCodeProcess; nothing when the query fails.
    virtual std::optional<std::uint32_t> exit_code() = 0;
};

// A process opened once with PROCESS_QUERY_LIMITED_INFORMATION and
// PROCESS_TERMINATE: what is checked through it and what is ended through it
// are one process, even if its id is freed and reused meanwhile. Destroying
// the object closes the handle.
class OpenedProcess {
public:
    virtual ~OpenedProcess() = default;
    // QueryFullProcessImageNameW on this handle, as image below.
    virtual std::optional<ProcessImage> image() = 0;
    // TerminateProcess through this handle; false when it failed.
    virtual bool terminate(std::uint32_t exit_code) = 0;
};

// A token handle, closed when the object is destroyed.
class Token {
public:
    virtual ~Token() = default;
};

// A user's environment block, freed (DestroyEnvironmentBlock) when the
// object is destroyed.
class EnvironmentBlock {
public:
    virtual ~EnvironmentBlock() = default;
};

class Processes {
public:
    virtual ~Processes() = default;
    // WTSEnumerateProcessesW on the local machine (reserved 0, version 1),
    // copied out and freed with WTSFreeMemory; a failure carries its error.
    virtual Result<std::vector<ProcessEntry>> enumerate() = 0;
    // OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION), QueryFullProcessImageNameW
    // in both forms with a buffer that grows to fit, close. Unpaired
    // surrogates become U+FFFD. Nothing when the process cannot be opened or
    // queried. Nothing is opened at the image's path.
    virtual std::optional<ProcessImage> image(std::uint32_t process_id) = 0;
    // The final NT path of a file (GetFinalPathNameByHandleW with
    // FILE_NAME_NORMALIZED | VOLUME_NAME_NT), whatever its spelling (8.3
    // names, junctions, symbolic links), opened for its attributes only,
    // sharing everything. Only ever given the program's own path: a path that
    // is not on a local fixed volume (a drive letter of DRIVE_FIXED) is
    // refused unopened, since opening a share as the system account
    // authenticates to its host as the machine. Nothing when it cannot be read.
    virtual std::optional<std::string> final_nt_path(const std::string& path) = 0;
    // OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, no
    // inheritance); nullptr when it cannot be opened.
    virtual std::unique_ptr<OpenedProcess> open_process(std::uint32_t process_id) = 0;

    // The updater's own process token (all access) duplicated as a primary
    // token (all access, SecurityImpersonation); the process token is closed.
    virtual std::unique_ptr<Token> duplicate_own_token() = 0;
    // SetTokenInformation(TokenSessionId) with a 4-byte session id.
    virtual bool set_token_session(Token& token, std::uint32_t session_id) = 0;
    // WTSQueryUserToken: the token of the user logged on to the session.
    virtual std::unique_ptr<Token> user_token(std::uint32_t session_id) = 0;
    // GetTokenInformation(TokenUser): the SID of the token's user, which
    // stays the same across logons while session ids are reused; nothing
    // when it cannot be read.
    virtual std::optional<Sid> token_user(Token& token) = 0;
    // WTSEnumerateSessionsW on the local machine (reserved 0, version 1): the
    // ids of its sessions, copied out and freed with WTSFreeMemory; a failure
    // carries its error.
    virtual Result<std::vector<std::uint32_t>> session_ids() = 0;

    // CreateEnvironmentBlock for the token's user, without the caller's
    // variables; nullptr when it cannot be made.
    virtual std::unique_ptr<EnvironmentBlock> user_environment(Token& token) = 0;

    // CreateProcessAsUserW on the desktop "winsta0\default": no attributes,
    // no inheritance, the caller's folder, and the environment block given
    // (CREATE_UNICODE_ENVIRONMENT) or, for nullptr, the caller's (flags 0).
    // The thread handle is closed at once; nullptr when the process was not made.
    virtual std::unique_ptr<ProcessHandle> start_as_user(Token& token, const std::string& application,
                                                         const std::string& command_line,
                                                         const EnvironmentBlock* environment) = 0;
    // CreateProcessW beside the updater: same account, session, environment
    // and folder, a start-up record that is zero but for its size. The thread
    // handle is closed at once; a failure carries CreateProcessW's error.
    virtual Result<std::unique_ptr<ProcessHandle>> start(const std::string& application,
                                                         const std::string& command_line) = 0;
};

}  // namespace tamsel
