// The testbed's composition root: the product's wiring with one seam. Wine
// cannot run a process as the system account, so the account of the process
// itself (the Wine user) counts as the system account, for the token check and
// for the folder guard's owner and trustee tests alike. Nothing else differs.
#include <windows.h>

#include "app/process_main.h"
#include "platform/win32/implementations.h"

namespace {

class TestbedAccount final : public tamsel::win32::Win32Account {
public:
    bool is_well_known(const tamsel::Sid& sid, tamsel::WellKnownSid which) override {
        if (which == tamsel::WellKnownSid::local_system && own_ && sid == *own_) return true;
        return Win32Account::is_well_known(sid, which);
    }

private:
    std::optional<tamsel::Sid> own_ = Win32Account::process_user();
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    TestbedAccount account;
    return tamsel::app::run_process(account);
}
