#include "app/process_main.h"

#include <windows.h>
#include <shellapi.h>

#include "app/product_modes.h"
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
    Win32Platform win32(account);
    const auto bridge = make_session_bridge(win32.platform);
    return run_entry(command_line_arguments(), win32.platform, build_settings(),
                     product_modes(win32.platform, *bridge));
}

}  // namespace tamsel::app
