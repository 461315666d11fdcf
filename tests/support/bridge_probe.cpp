// Test helper: drives the session bridge on the real Win32 platform, so the
// platform tier can census, close and raise stand-in programs as the updater
// would. With "/close" or "/window" it is the testbed itself, because the
// bridge starts its window helpers as copies of its own executable.
//
//   tamsel-bridge-probe census PATH             prints "pid session" per instance
//   tamsel-bridge-probe close SESSION PATH DIR  prints true or false; log in DIR
//   tamsel-bridge-probe raise PATH DIR [SESSION...]
//   tamsel-bridge-probe end PATH                ends every instance (test clean-up)
//   tamsel-bridge-probe gone MUTEX SECONDS      waits until no mutex has the name; prints gone or held
//   tamsel-bridge-probe window [PATH]            prints whether a "Tamsel.Hidden" window exists
//                                                (of a process whose image is PATH, when given)
//   tamsel-bridge-probe hold-file PATH SECONDS  keeps PATH open for reading without delete sharing, as
//                                                any reader that did not ask for it would; prints held
//   tamsel-bridge-probe hold-exclusion DIR SECONDS  takes the run exclusion of the update folder DIR as a
//                                                pass does and keeps it; prints held, or busy (exit 3)
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/process_main.h"
#include "app/testbed_account.h"
#include "platform/win32/text.h"
#include "entry/entry.h"
#include "entry/log.h"
#include "session/census.h"
#include "session/raise_close.h"
#include "session/window_helper.h"

int wmain() {
    using namespace tamsel;
    app::TestbedAccount account;
    const std::vector<std::string> arguments = app::command_line_arguments();
    for (const std::string& argument : arguments)
        if (argument == "/close" || argument == "/window") return app::run_process(account);
    if ((arguments.size() == 2 || arguments.size() == 3) && arguments[1] == "window") {
        app::Win32Platform win32(account);
        const bool found = arguments.size() == 3 ? find_program_window(win32.platform, arguments[2]).has_value()
                                                 : !win32.desktop.find_windows("Tamsel.Hidden").empty();
        std::puts(found ? "found" : "none");
        return 0;
    }
    if (arguments.size() < 3) {
        std::fputs("usage: tamsel-bridge-probe census|close|raise|end ...\n", stderr);
        return 2;
    }

    app::Win32Platform win32(account);
    Platform& platform = win32.platform;
    Clock& clock = win32.clock;
    Files& files = win32.files;
    Processes& processes = win32.processes;
    Mutexes& mutexes = win32.mutexes;

    const std::string& command = arguments[1];
    if (command == "hold-file" && arguments.size() == 4) {
        const auto wide = win32::to_wide(arguments[2]);
        HANDLE file = wide ? CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                           : INVALID_HANDLE_VALUE;
        if (file == INVALID_HANDLE_VALUE) return 3;
        std::puts("held");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::stoul(arguments[3])) * 1000u);
        CloseHandle(file);
        return 0;
    }
    if (command == "hold-exclusion" && arguments.size() == 4) {
        RunExclusion exclusion;
        if (!exclusion.take(platform, arguments[2])) {
            std::puts("busy");
            return 3;
        }
        std::puts("held");
        std::fflush(stdout);
        clock.sleep_ms(static_cast<std::uint32_t>(std::stoul(arguments[3])) * 1000u);
        return 0;
    }
    if (command == "gone" && arguments.size() == 4) {
        const std::uint64_t until = clock.monotonic_ms() + 1000 * std::stoull(arguments[3]);
        while (mutexes.mutex_exists(arguments[2]) && clock.monotonic_ms() < until) clock.sleep_ms(100);
        std::puts(mutexes.mutex_exists(arguments[2]) ? "held" : "gone");
        return 0;
    }
    if (command == "census" || command == "end") {
        for (const CensusEntry& entry : find_program_processes(processes, arguments[2])) {
            if (command == "end")
                if (const auto process = processes.open_process(entry.process_id)) process->terminate(1);
            std::printf("%lu %lu\n", static_cast<unsigned long>(entry.process_id),
                        static_cast<unsigned long>(entry.session_id));
        }
        return 0;
    }
    if (command == "close" && arguments.size() == 5) {
        Log log(files, clock, win32.event_log, arguments[4]);
        const auto session = static_cast<std::uint32_t>(std::stoul(arguments[2]));
        std::puts(close_program(platform, session, arguments[3], log) ? "true" : "false");
        return 0;
    }
    if (command == "raise" && arguments.size() >= 4) {
        Log log(files, clock, win32.event_log, arguments[3]);
        std::vector<std::uint32_t> sessions;
        for (std::size_t i = 4; i < arguments.size(); ++i)
            sessions.push_back(static_cast<std::uint32_t>(std::stoul(arguments[i])));
        const RaiseOutcome outcome = raise_program(platform, sessions, arguments[2], log);
        std::puts(outcome == RaiseOutcome::up ? "true" : outcome == RaiseOutcome::not_up ? "false" : "unwatched");
        return 0;
    }
    std::fputs("tamsel-bridge-probe: unknown command\n", stderr);
    return 2;
}
