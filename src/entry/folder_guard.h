// The folder guard: a folder is used only when it is a real directory owned by
// the system account or the Administrators, granting nobody else any right to
// change it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/account.h"
#include "platform/files.h"
#include "platform/security.h"

namespace tamsel {

// Rights that change a folder or what it holds: GENERIC_ALL, GENERIC_WRITE,
// WRITE_OWNER, WRITE_DAC, DELETE, FILE_WRITE_ATTRIBUTES, FILE_DELETE_CHILD,
// FILE_WRITE_EA, FILE_APPEND_DATA and FILE_WRITE_DATA.
inline constexpr std::uint32_t changing_rights = 0x500D0156u;

struct Grant {
    std::uint32_t mask;
    bool trusted;
};

// The grants a DACL makes, one per counted entry; denials are skipped.
std::vector<Grant> grants_of(const std::vector<AceEntry>& entries, Account& account);
// Accepts when the owner is trusted and no untrusted grant carries a changing right.
bool guard_verdict(bool owner_trusted, const std::vector<Grant>& grants);

bool folder_is_guarded(const std::string& folder, Files& files, Security& security, Account& account);

}  // namespace tamsel
