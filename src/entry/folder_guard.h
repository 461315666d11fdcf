// The folder guard: a folder is used only when it is a real directory owned by
// the system account or the Administrators, granting nobody else any right to
// change it.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
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

// Why the guard refused a folder, for whoever must repair it.
enum class Refusal {
    none,          // accepted
    missing,       // the path does not exist
    not_a_folder,  // a file
    link,          // a link or junction
    unreadable,    // the descriptor could not be read (error: the platform's code)
    owner,         // owned by `trustee`, who is not trusted
    grant,         // an entry lets `trustee` (empty: an entry of another kind) change it
};

struct FolderVerdict {
    Refusal refusal = Refusal::none;
    Sid trustee;
    std::uint32_t error = 0;
    bool accepted() const { return refusal == Refusal::none; }
};

// The guard's verdict with its reason; accepted exactly when folder_is_guarded is.
FolderVerdict judge_folder(const std::string& folder, Files& files, Security& security, Account& account);

// The folder holding tamsel-update.exe, and the executable itself, which the
// system account's task runs: their owner must be the system account, the
// Administrators or TrustedInstaller, and nobody else may be given a
// changing right (CREATOR OWNER counts as those who may create inside).
FolderVerdict judge_program_entry(const std::string& path, Security& security, Account& account);

// A descriptor's owner and the first entry granting one of `rights` to a
// trustee for which `trusted` is false; allowed entries of other kinds count
// as untrusted. Shared by every verdict on descriptors.
FolderVerdict judge_descriptor(const std::optional<OwnerAndDacl>& descriptor, std::uint32_t error, std::uint32_t rights,
                               const std::function<bool(const Sid&)>& trusted_owner,
                               const std::function<bool(const Sid&)>& trusted_trustee);

// A SID in its standard "S-1-5-21-...-1001" form; nothing for bytes that
// are not a SID.
std::optional<std::string> sid_string(const Sid& sid);
// A SID in its "S-1-5-32-544" form, with the account's name where it is one
// of the usual ones ("S-1-5-11 (Authenticated Users)").
std::string sid_text(const Sid& sid);
// The verdict in words: "accepted", or why not and what to do.
std::string verdict_text(const FolderVerdict& verdict);

}  // namespace tamsel
