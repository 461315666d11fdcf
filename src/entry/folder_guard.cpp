#include "entry/folder_guard.h"

namespace tamsel {
namespace {

constexpr std::uint32_t attribute_directory = 0x10;
constexpr std::uint32_t attribute_reparse_point = 0x400;

bool trusted_owner(const std::optional<Sid>& owner, Account& account) {
    return owner && (account.is_well_known(*owner, WellKnownSid::local_system) ||
                     account.is_well_known(*owner, WellKnownSid::administrators));
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
    // Directory, and not a link or junction; a missing path has every bit set.
    const std::uint32_t attributes = files.attributes(folder);
    if ((attributes & (attribute_directory | attribute_reparse_point)) != attribute_directory) return false;
    const auto descriptor = security.owner_and_dacl(folder);
    if (!descriptor) return false;
    return guard_verdict(trusted_owner(descriptor->owner, account), grants_of(descriptor->entries, account));
}

}  // namespace tamsel
