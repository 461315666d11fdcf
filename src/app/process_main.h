// What the product and the testbed share around their composition roots.
#pragma once
#include <string>
#include <vector>

#include "entry/entry.h"
#include "platform/account.h"
#include "platform/win32/implementations.h"

namespace tamsel::app {

// The process's arguments from its command line, split as Windows splits
// them (CommandLineToArgvW) and converted to UTF-8.
std::vector<std::string> command_line_arguments();
// The constants compiled into this build.
BuildSettings build_settings();

// Every Win32 implementation, wired into one Platform with the given account.
struct Win32Platform {
    explicit Win32Platform(Account& account)
        : platform{account,  clock,   crypto,  files,        https,    processes,       desktop,
                   security, folders, mutexes, version_info, registry, standard_output, event_log} {}
    win32::Win32Clock clock;
    win32::Win32Crypto crypto;
    win32::Win32Desktop desktop;
    win32::Win32EventLog event_log;
    win32::Win32Files files;
    win32::Win32Https https;
    win32::Win32Processes processes;
    win32::Win32Security security;
    win32::Win32Folders folders;
    win32::Win32Mutexes mutexes;
    win32::Win32VersionInfo version_info;
    win32::Win32Registry registry;
    win32::Win32StandardOutput standard_output;
    Platform platform;
};

// Runs the process on the Win32 implementations with the given account
// interface (the one place where the product and the testbed differ).
int run_process(Account& account);

}  // namespace tamsel::app
