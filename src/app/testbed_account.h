// The testbed's one seam: Wine cannot run a process as the system account,
// so the account of the process itself (the Wine user) counts as the system
// account, for the token check and for the folder guard's owner and trustee
// tests alike. Used by the testbed and the test tiers' probe, never by the
// product.
#pragma once
#include <optional>

#include "platform/win32/implementations.h"

namespace tamsel::app {

class TestbedAccount final : public win32::Win32Account {
public:
    bool is_well_known(const Sid& sid, WellKnownSid which) override {
        if (which == WellKnownSid::local_system && own_ && sid == *own_) return true;
        return Win32Account::is_well_known(sid, which);
    }

private:
    std::optional<Sid> own_ = Win32Account::process_user();
};

}  // namespace tamsel::app
