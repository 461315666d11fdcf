// Account and tokens: who the process runs as, and what a SID is.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

namespace tamsel {

using Sid = std::vector<std::uint8_t>;  // a binary SID as Windows lays it out

enum class WellKnownSid {
    local_system,       // S-1-5-18
    administrators,     // S-1-5-32-544
    creator_owner,      // S-1-3-0
    trusted_installer,  // S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464
};

class Account {
public:
    virtual ~Account() = default;
    // The user SID of the current process's token, or nothing when the token
    // cannot be opened or read.
    virtual std::optional<Sid> process_user() = 0;
    // IsWellKnownSid for the SIDs the updater trusts (TrustedInstaller, which
    // has no well-known type, by comparison).
    virtual bool is_well_known(const Sid& sid, WellKnownSid which) = 0;
};

}  // namespace tamsel
