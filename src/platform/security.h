// Security descriptors of folders: the owner and the DACL's entries, read with
// the platform's own accessors, and the kit's descriptor given to a folder at
// its creation or set on one that exists. The verdict on them is the logic's
// business.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
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

// The kit's descriptor for the data folders: owner Administrators, a
// protected DACL (nothing inherited from above) giving full control to the
// system account and the Administrators alone, inherited by what is made
// inside: O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA).
inline constexpr char kit_descriptor_sddl[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

enum class FolderCreation {
    created,  // made now, with the kit's descriptor from its first moment
    exists,   // something of that name was there already (ERROR_ALREADY_EXISTS)
};

// A file or folder held open by its handle, the entry itself (a link or
// junction is opened, not followed), so that what is judged is what is changed.
class SecuredEntry {
public:
    virtual ~SecuredEntry() = default;
    // The entry's attributes (GetFileInformationByHandle);
    // invalid_file_attributes when they cannot be read.
    virtual std::uint32_t attributes() = 0;
    // Owner and DACL through the handle (GetSecurityInfo), under the same
    // rules as Security::owner_and_dacl.
    virtual std::optional<OwnerAndDacl> owner_and_dacl() = 0;
    // Sets the kit's descriptor, owner and protected DACL (SetSecurityInfo).
    virtual Result<void> protect() = 0;
};

class Security {
public:
    virtual ~Security() = default;
    // Reads the owner and the DACL of a path. Nothing when the descriptor
    // needs 0 or more than 65,536 bytes, when a read or accessor fails, or
    // when there is no DACL or a null DACL; the failure carries the Windows
    // error code of the read (5: access denied, as from a prompt that is not
    // elevated).
    virtual Result<OwnerAndDacl> owner_and_dacl(const std::string& path) = 0;
    // CreateDirectoryW with the kit's descriptor in its security attributes.
    // Implementations that never prepare folders keep the default.
    virtual Result<FolderCreation> create_protected_folder(const std::string&) { return Failure{}; }
    // Opens the entry at a path with the rights to read and change its
    // descriptor (CreateFileW with backup semantics, not following a
    // reparse point, sharing everything).
    virtual Result<std::unique_ptr<SecuredEntry>> open_entry(const std::string&) { return Failure{}; }
};

}  // namespace tamsel
