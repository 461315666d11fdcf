// System: the process's own executable, known folders, the local calendar,
// version information and named mutexes.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamsel {

enum class KnownFolder {
    program_data,  // FOLDERID_ProgramData
    windows,       // FOLDERID_Windows
};

// A kernel object this process keeps while the holder lives.
class HeldObject {
public:
    virtual ~HeldObject() = default;
};

enum class PrivateMutex {
    taken,        // created and owned by this process while the holder lives
    busy,         // another process holds it
    unavailable,  // the system offers no such namespace (Wine), or a step failed
};

enum class MutexCreation {
    created,         // a new mutex, owned by this process until it ends
    already_exists,  // ERROR_ALREADY_EXISTS: another process holds the name
    failed,
};

// A registry value as found: its type (REG_DWORD 4, REG_SZ 1, ...) and, for
// those two types, what it holds.
struct PolicyValue {
    std::uint32_t type = 0;
    std::uint32_t number = 0;         // a REG_DWORD
    std::optional<std::string> text;  // a REG_SZ as UTF-8; nothing when it does not convert or is over 4096 bytes
    friend bool operator==(const PolicyValue&, const PolicyValue&) = default;
};

class System {
public:
    virtual ~System() = default;
    // The full path of the running executable, or nothing.
    virtual std::optional<std::string> own_executable_path() = 0;
    // SHGetKnownFolderPath with no flags and no token, converted to UTF-8;
    // nothing when it fails or the path does not convert without loss.
    virtual std::optional<std::string> known_folder_path(KnownFolder folder) = 0;
    // CreateMutexW with initial ownership. A created mutex is kept, handle and
    // all, until the process ends.
    virtual MutexCreation create_owned_mutex(const std::string& name) = 0;
    // A mutex created with initial ownership in a private namespace whose
    // boundary holds the system account's SID and the system integrity level,
    // so that no other account can create the namespace first
    // (CreateBoundaryDescriptorW, AddSIDToBoundaryDescriptor,
    // CreatePrivateNamespaceW or OpenPrivateNamespaceW, CreateMutexW).
    // `held` keeps mutex and namespace while it lives when `taken`.
    virtual PrivateMutex take_private_mutex(const std::string& namespace_name, const std::string& mutex_name,
                                            std::unique_ptr<HeldObject>& held) = 0;
    // OpenMutexW(SYNCHRONIZE): whether a mutex of that name exists now.
    virtual bool mutex_exists(const std::string& name) = 0;
    // Today's local date through GetDateFormatEx with the empty locale name,
    // no flags, the current time and the given picture; nothing on failure.
    virtual std::optional<std::string> local_date_text(const std::string& picture) = 0;
    // The raw version resource of a file (GetFileVersionInfoSizeW, then
    // GetFileVersionInfoW), or nothing when the file has none.
    virtual std::optional<std::vector<std::uint8_t>> file_version_info(const std::string& path) = 0;
    // The machine's identity for staged rollouts: the REG_SZ value
    // MachineGuid under HKLM\SOFTWARE\Microsoft\Cryptography, read in the
    // 64-bit view (RegGetValueW); nothing when it cannot be read.
    virtual std::optional<std::string> machine_guid() = 0;
    // A value of the administrators' policy key
    // HKLM\SOFTWARE\Policies\Tam_Sel\Update (64-bit view) through
    // RegGetValueW, as it is stored; nothing when the key or the value is
    // absent.
    virtual std::optional<PolicyValue> policy_value(const std::string& name) = 0;
    // Hands UTF-8 text to whoever started the process: the inherited standard
    // output, else the parent's console. False when there is neither.
    virtual bool write_standard_output(const std::string& text) = 0;

    // The Windows error code of the latest call that failed, for the log's
    // number field; read it right after a call failed. 0 where the
    // implementation keeps none.
    virtual std::uint32_t last_error() const { return 0; }
};

}  // namespace tamsel
