// Security descriptors of folders: the owner and the DACL's entries, read with
// the platform's own accessors. The verdict on them is the logic's business.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/account.h"

namespace tamsel {

struct AceEntry {
    std::uint8_t type = 0;   // the first byte of the entry header
    std::uint32_t mask = 0;  // the 32-bit value right after the 4-byte header
    Sid trustee;             // the SID after the mask; only read for type 0
};

struct OwnerAndDacl {
    std::optional<Sid> owner;  // absent when the descriptor has no owner
    std::vector<AceEntry> entries;
};

class Security {
public:
    virtual ~Security() = default;
    // Reads the owner and the DACL of a path. Nothing when the descriptor
    // needs 0 or more than 65,536 bytes, when a read or accessor fails, or
    // when there is no DACL or a null DACL.
    virtual std::optional<OwnerAndDacl> owner_and_dacl(const std::string& path) = 0;
};

}  // namespace tamsel
