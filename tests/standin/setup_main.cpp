// A stand-in setup program for the Windows test tiers. It keeps the four
// promises the updater relies on: it takes the silent flags and the quoted
// log switch (and refuses to install without them), holds the setup mutex
// while it runs, leaves itself as installed-setup.exe in the update folder,
// and starts phase two when it is done. What it installs is the Tamsel.exe
// embedded in it as resource 1 (RCDATA); a build without one installs nothing.
// Built with SETUP_ALWAYS_LEAVES_ITSELF, it leaves itself as installed-setup.exe
// even when it installed nothing: a setup that breaks that promise.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

const wchar_t* const required_flags[] = {L"/VERYSILENT", L"/SUPPRESSMSGBOXES", L"/NORESTART", L"/UPDATE"};

std::wstring folder_of(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring program_folder() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"TAMSEL_PROGRAM_DIR", buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring(L"C:\\Program Files\\Tamsel");
}

void log_line(HANDLE log, const char* text) {
    if (log == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(log, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    WriteFile(log, "\r\n", 2, &written, nullptr);
}

// Writes the embedded program beside the updater, waiting while the old one
// still runs (replacing a running executable fails).
bool install_program(const std::wstring& target, HANDLE log) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (found == nullptr) {
        log_line(log, "stand-in setup: nothing to install");
        return false;
    }
    const DWORD size = SizeofResource(nullptr, found);
    const void* bytes = LockResource(LoadResource(nullptr, found));
    const std::wstring temporary = target + L".new";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, bytes, size, &written, nullptr) && written == size;
    CloseHandle(file);
    if (!wrote) return false;
    for (int attempt = 0; attempt < 120; ++attempt) {
        if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            log_line(log, "stand-in setup: Tamsel.exe replaced");
            return true;
        }
        Sleep(250);
    }
    DeleteFileW(temporary.c_str());
    log_line(log, "stand-in setup: Tamsel.exe still in use");
    return false;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return 2;
    std::vector<std::wstring> given(arguments + 1, arguments + count);
    LocalFree(arguments);

    std::wstring log_path;
    int flags_found = 0;
    for (const std::wstring& argument : given) {
        if (argument.rfind(L"/LOG=", 0) == 0) log_path = argument.substr(5);
        for (const wchar_t* flag : required_flags)
            if (argument == flag) ++flags_found;
    }
    // An interactive run is not what the updater asked for: install nothing.
    if (flags_found != 4 || log_path.empty()) return 2;

    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\Tam_Sel.Setup");
    HANDLE log = CreateFileW(log_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    log_line(log, "stand-in setup: started");

    const std::wstring program_dir = program_folder();
    bool installed = install_program(program_dir + L"\\Tamsel.exe", log);
#ifdef SETUP_ALWAYS_LEAVES_ITSELF
    installed = true;
#endif
    if (installed) {
        wchar_t own[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, own, MAX_PATH);
        const std::wstring kept = folder_of(log_path) + L"\\installed-setup.exe";
        // Running as rollback-setup.exe or downloaded-setup.exe, it keeps a copy
        // of itself as the setup of the version now installed.
        if (CopyFileW(own, kept.c_str(), FALSE)) log_line(log, "stand-in setup: installed-setup.exe left");
    }
    log_line(log, "stand-in setup: done");
    if (log != INVALID_HANDLE_VALUE) CloseHandle(log);

    // The mutex goes before phase two starts, so phase two need not wait.
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    const std::wstring updater = program_dir + L"\\tamsel-update.exe";
    std::wstring command = L"\"" + updater + L"\" /phase2";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(updater.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &started)) {
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
    return 0;
}
