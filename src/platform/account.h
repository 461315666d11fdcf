// Account and tokens: who the process runs as, and what a SID is.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

namespace tamsel {

using Sid = std::vector<std::uint8_t>;  // a binary SID as Windows lays it out

enum class WellKnownSid {
    local_system,     // S-1-5-18
    administrators,   // S-1-5-32-544
    creator_owner,    // S-1-3-0
};

class Account {
public:
    virtual ~Account() = default;
    // The user SID of the current process's token, or nothing when the token
    // cannot be opened or read.
    virtual std::optional<Sid> process_user() = 0;
    // IsWellKnownSid for the three SIDs the updater trusts.
    virtual bool is_well_known(const Sid& sid, WellKnownSid which) = 0;
};

}  // namespace tamsel
