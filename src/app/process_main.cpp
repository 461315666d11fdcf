#include "app/process_main.h"

#include <windows.h>
#include <shellapi.h>

#include "build_constants.h"
#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel::app {

std::vector<std::string> command_line_arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (list == nullptr) return arguments;
    for (int i = 0; i < count; ++i) {
        // An argument that is not valid UTF-16 cannot be one of the mode
        // flags; it stays in the list as an empty text.
        arguments.push_back(win32::to_utf8(list[i], wcslen(list[i])).value_or(std::string()));
    }
    LocalFree(list);
    return arguments;
}

BuildSettings build_settings() {
    BuildSettings settings;
    settings.update_host = std::string(build::update_host);
    settings.working_key = build::working_key;
    settings.reserve_key = build::reserve_key;
    return settings;
}

int run_process(Account& account) {
    win32::Win32Clock clock;
    win32::Win32Crypto crypto;
    win32::Win32Desktop desktop;
    win32::Win32Files files;
    win32::Win32Https https;
    win32::Win32Processes processes;
    win32::Win32Security security;
    win32::Win32System system;
    Platform platform{account, clock, crypto, files, https, processes, desktop, security, system};
    return run_entry(command_line_arguments(), platform, build_settings());
}

}  // namespace tamsel::app
