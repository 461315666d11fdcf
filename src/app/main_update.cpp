// The product's composition root: every interface is the real Win32 one.
#include <windows.h>

#include "app/process_main.h"
#include "platform/win32/implementations.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tamsel::win32::Win32Account account;
    tamsel::win32::Win32Clock clock;
    tamsel::win32::Win32Crypto crypto;
    tamsel::win32::Win32Files files;
    tamsel::win32::Win32Https https;
    tamsel::win32::Win32Security security;
    tamsel::win32::Win32System system;
    tamsel::Platform platform{account, clock, crypto, files, https, security, system};
    return tamsel::run_entry(tamsel::app::command_line_arguments(), platform, tamsel::app::build_settings());
}
