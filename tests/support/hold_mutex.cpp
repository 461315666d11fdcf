// Test helper: holds a named mutex, as a running pass would, until it is
// ended or the given seconds have passed. Prints "held" once it owns it.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: tamsel-hold-mutex NAME SECONDS\n", stderr);
        return 2;
    }
    HANDLE mutex = CreateMutexW(nullptr, TRUE, argv[1]);
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        std::fputs("busy\n", stdout);
        return 3;
    }
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(wcstoul(argv[2], nullptr, 10)) * 1000u);
    return 0;
}
