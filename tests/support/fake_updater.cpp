// Test helper: stands in for tamsel-update.exe where a test only needs to
// know how a setup program started it. Writes fake-updater.txt beside itself:
//
//   command line: <its command line as given>
//   setup mutex: present|absent      (whether Global\Tam_Sel.Setup existed at its start)
//   ended                            (after it has lived a few seconds)
//
// so a test can tell the setup program released the mutex before starting it
// and did not wait for it to end. Started with /selfcheck it records nothing
// and exits at once with the number in selfcheck-exit.txt beside it (0 when
// there is none), so a test can make a new updater fail its self-check.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

void append(const std::wstring& path, const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
    if (wcsstr(command_line, L"/selfcheck") != nullptr) {
        wchar_t own[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return 2;
        std::wstring path(own, n);
        path = path.substr(0, path.find_last_of(L'\\') + 1) + L"selfcheck-exit.txt";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 0;
        char digits[16] = {};
        DWORD got = 0;
        ReadFile(file, digits, sizeof digits - 1, &got, nullptr);
        CloseHandle(file);
        return atoi(digits);
    }
    // First thing, before the setup program has had time to end.
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\Tam_Sel.Setup");
    const bool present = mutex != nullptr;
    if (present) CloseHandle(mutex);

    wchar_t own[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 2;
    std::wstring record(own, n);
    record = record.substr(0, record.find_last_of(L'\\') + 1) + L"fake-updater.txt";

    append(record, std::wstring(L"command line: ") + GetCommandLineW() + L"\r\nsetup mutex: " +
                       (present ? L"present" : L"absent") + L"\r\n");
    Sleep(6000);
    append(record, L"ended\r\n");
    return 0;
}
