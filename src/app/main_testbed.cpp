// The testbed's composition root: the product's wiring with one seam (see
// testbed_account.h). Nothing else differs.
#include <windows.h>

#include "app/process_main.h"
#include "app/testbed_account.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tamsel::app::TestbedAccount account;
    return tamsel::app::run_process(account);
}
