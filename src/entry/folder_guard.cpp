#include "entry/folder_guard.h"

#include <array>
#include <cstdio>

namespace tamsel {
namespace {

constexpr std::uint32_t attribute_directory = 0x10;
constexpr std::uint32_t attribute_reparse_point = 0x400;

bool trusted_owner(const Sid& owner, Account& account) {
    return account.is_well_known(owner, WellKnownSid::local_system) ||
           account.is_well_known(owner, WellKnownSid::administrators);
}

std::optional<OwnerAndDacl> read_descriptor(const Result<OwnerAndDacl>& descriptor) {
    return descriptor ? std::optional<OwnerAndDacl>(*descriptor) : std::nullopt;
}

bool trusted_trustee(const Sid& sid, Account& account) {
    return account.is_well_known(sid, WellKnownSid::local_system) ||
           account.is_well_known(sid, WellKnownSid::administrators) ||
           account.is_well_known(sid, WellKnownSid::creator_owner);
}

// ACCESS_DENIED, ACCESS_DENIED_OBJECT, ACCESS_DENIED_CALLBACK and
// ACCESS_DENIED_CALLBACK_OBJECT: a denial never widens access.
bool is_denial(std::uint8_t type) { return type == 1 || type == 6 || type == 10 || type == 12; }

}  // namespace

std::vector<Grant> grants_of(const std::vector<AceEntry>& entries, Account& account) {
    std::vector<Grant> grants;
    for (const AceEntry& entry : entries) {
        // Header flags are not looked at: an inherit-only entry counts too,
        // since whatever is created inside inherits it.
        if (entry.type == 0) {
            grants.push_back({entry.mask, trusted_trustee(entry.trustee, account)});
        } else if (!is_denial(entry.type)) {
            // Audit, alarm, object and callback entries: counted as grants to
            // an unknown trustee, so an unexpected layout refuses.
            grants.push_back({entry.mask, false});
        }
    }
    return grants;
}

bool guard_verdict(bool owner_trusted, const std::vector<Grant>& grants) {
    if (!owner_trusted) return false;
    for (const Grant& grant : grants) {
        if (!grant.trusted && (grant.mask & changing_rights) != 0) return false;
    }
    return true;
}

bool folder_is_guarded(const std::string& folder, Files& files, Security& security, Account& account) {
    return judge_folder(folder, files, security, account).accepted();
}

FolderVerdict judge_descriptor(const std::optional<OwnerAndDacl>& descriptor, std::uint32_t error, std::uint32_t rights,
                               const std::function<bool(const Sid&)>& trusted_owner,
                               const std::function<bool(const Sid&)>& trusted_trustee) {
    if (!descriptor) return {Refusal::unreadable, {}, error};
    if (!descriptor->owner || !trusted_owner(*descriptor->owner))
        return {Refusal::owner, descriptor->owner.value_or(Sid{}), 0};
    for (const AceEntry& entry : descriptor->entries) {
        if (entry.type != 0 && is_denial(entry.type)) continue;
        const bool trusted = entry.type == 0 && trusted_trustee(entry.trustee);
        if (!trusted && (entry.mask & rights) != 0) return {Refusal::grant, entry.type == 0 ? entry.trustee : Sid{}, 0};
    }
    return {};
}

FolderVerdict judge_folder(const std::string& folder, Files& files, Security& security, Account& account) {
    // Directory, and not a link or junction; a missing path has every bit set.
    const std::uint32_t attributes = files.attributes(folder);
    if (attributes == invalid_file_attributes) return {Refusal::missing, {}, 0};
    if ((attributes & attribute_reparse_point) != 0) return {Refusal::link, {}, 0};
    if ((attributes & attribute_directory) == 0) return {Refusal::not_a_folder, {}, 0};
    const auto descriptor = security.owner_and_dacl(folder);
    return judge_descriptor(
            read_descriptor(descriptor), descriptor.cause(), changing_rights,
            [&](const Sid& sid) { return trusted_owner(sid, account); },
            [&](const Sid& sid) { return trusted_trustee(sid, account); });
}

FolderVerdict judge_program_entry(const std::string& path, Security& security, Account& account) {
    const auto descriptor = security.owner_and_dacl(path);
    auto installer_or = [&account](auto&& trusted) {
        return [&account, trusted](const Sid& sid) {
            return trusted(sid, account) || account.is_well_known(sid, WellKnownSid::trusted_installer);
        };
    };
    return judge_descriptor(read_descriptor(descriptor), descriptor.cause(), changing_rights,
                            installer_or([](const Sid& sid, Account& a) { return trusted_owner(sid, a); }),
                            installer_or([](const Sid& sid, Account& a) { return trusted_trustee(sid, a); }));
}

std::optional<std::string> sid_string(const Sid& sid) {
    // Revision 1, a sub-authority count, six bytes of authority (big-endian),
    // then the sub-authorities (little-endian, four bytes each).
    if (sid.size() < 8 || sid[0] != 1 || sid.size() != 8u + 4u * sid[1]) return std::nullopt;
    std::uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) authority = authority << 8 | sid[i];
    std::string text = "S-1-" + std::to_string(authority);
    for (std::size_t at = 8; at < sid.size(); at += 4)
        text += "-" + std::to_string(std::uint32_t{sid[at]} | std::uint32_t{sid[at + 1]} << 8 |
                                     std::uint32_t{sid[at + 2]} << 16 | std::uint32_t{sid[at + 3]} << 24);
    return text;
}

std::string sid_text(const Sid& sid) {
    const auto standard = sid_string(sid);
    if (!standard) {
        std::string hex = "SID ";
        for (const auto byte : sid) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X", byte);
            hex += digits;
        }
        return sid.empty() ? "nobody" : hex;
    }
    const std::string& text = *standard;
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 8> names{{
            {"S-1-1-0", "Everyone"},
            {"S-1-5-11", "Authenticated Users"},
            {"S-1-5-32-545", "Users"},
            {"S-1-5-4", "INTERACTIVE"},
            {"S-1-5-18", "SYSTEM"},
            {"S-1-5-32-544", "Administrators"},
            {"S-1-3-0", "CREATOR OWNER"},
            {"S-1-3-4", "OWNER RIGHTS"},
    }};
    for (const auto& [known, name] : names)
        if (text == known) return text + " (" + std::string(name) + ")";
    return text;
}

std::string verdict_text(const FolderVerdict& verdict) {
    switch (verdict.refusal) {
    case Refusal::none: return "accepted";
    case Refusal::missing: return "refused: missing";
    case Refusal::not_a_folder: return "refused: a file, not a folder";
    case Refusal::link: return "refused: a link or junction, not a real folder";
    case Refusal::owner: return "refused: owned by " + sid_text(verdict.trustee) + ", not by SYSTEM or Administrators";
    case Refusal::grant:
        return verdict.trustee.empty() ? "refused: an entry of an unexpected kind gives a right to change it"
                                       : "refused: an entry lets " + sid_text(verdict.trustee) + " change it";
    case Refusal::unreadable:
        // 5: ERROR_ACCESS_DENIED. The folders give nobody but SYSTEM and the
        // Administrators a right to read their permissions.
        if (verdict.error == 5)
            return "its permissions cannot be read from this prompt: run it again from an elevated prompt";
        return "refused: its permissions cannot be read (error " + std::to_string(verdict.error) + ")";
    }
    return "refused";
}

}  // namespace tamsel
