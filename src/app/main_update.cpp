// The product's composition root: every interface is the real Win32 one.
#include <windows.h>

#include "app/process_main.h"
#include "platform/win32/implementations.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tamsel::win32::Win32Account account;
    return tamsel::app::run_process(account);
}
