#include <windows.h>
#include <sddl.h>

#include "platform/win32/implementations.h"
#include "platform/win32/owned_handle.h"

namespace tamsel::win32 {

std::optional<Sid> Win32Account::process_user() {
    OwnedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return std::nullopt;
    // TOKEN_USER plus its SID fits in 256 bytes; aligned for the structure.
    alignas(TOKEN_USER) unsigned char buffer[256] = {};
    DWORD needed = 0;
    const BOOL ok = GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &needed);
    if (!ok) return std::nullopt;
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer);
    PSID sid = user->User.Sid;
    if (sid == nullptr || !IsValidSid(sid)) return std::nullopt;
    const auto* bytes = static_cast<const std::uint8_t*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

bool Win32Account::is_well_known(const Sid& sid, WellKnownSid which) {
    if (sid.empty()) return false;
    auto* psid = const_cast<std::uint8_t*>(sid.data());
    if (!IsValidSid(psid) || GetLengthSid(psid) > sid.size()) return false;
    if (which == WellKnownSid::trusted_installer) {
        // The service SID of TrustedInstaller has no well-known type.
        LocalMemory installer;
        if (!ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                                    reinterpret_cast<PSID*>(installer.put())))
            return false;
        return EqualSid(psid, installer.get()) != 0;
    }
    WELL_KNOWN_SID_TYPE type = WinLocalSystemSid;
    switch (which) {
    case WellKnownSid::local_system: type = WinLocalSystemSid; break;
    case WellKnownSid::administrators: type = WinBuiltinAdministratorsSid; break;
    case WellKnownSid::creator_owner: type = WinCreatorOwnerSid; break;
    case WellKnownSid::trusted_installer: break;
    }
    return IsWellKnownSid(psid, type) != 0;
}

}  // namespace tamsel::win32
