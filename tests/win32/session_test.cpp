// What the session bridge asks of processes and windows, on the real platform.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel {
namespace {

class Win32IdentityTest : public ::testing::Test {
protected:
    win32::Win32Processes processes;
    std::wstring dir;
    std::wstring file;

    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        // A folder name too long for 8.3, so the file system gives it a short one.
        dir = std::wstring(temp) + L"tamsel identity folder " + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        file = dir + L"\\Tamsel.exe";
        write(file);
    }
    void TearDown() override {
        DeleteFileW(file.c_str());
        DeleteFileW((dir + L"\\copy.exe").c_str());
        RemoveDirectoryW(dir.c_str());
    }
    static void write(const std::wstring& path) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(h, "MZ", 2, &written, nullptr);
        CloseHandle(h);
    }
    static std::string utf8(const std::wstring& wide) { return win32::to_utf8(wide).value(); }
};

TEST_F(Win32IdentityTest, OneFinalPathUnderEverySpellingAndNoOther) {
    const auto final_path = processes.final_nt_path(utf8(file));
    ASSERT_TRUE(final_path);
    EXPECT_EQ(final_path->front(), '\\');  // the NT form, not a drive letter
    std::wstring upper = file;
    for (wchar_t& c : upper) c = towupper(c);
    wchar_t short_path[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(file.c_str(), short_path, MAX_PATH), 0u);
    for (const std::wstring& spelling : {upper, std::wstring(short_path)}) {
        const auto other = processes.final_nt_path(utf8(spelling));
        ASSERT_TRUE(other);
        EXPECT_EQ(CompareStringOrdinal(win32::to_wide(*other)->c_str(), -1, win32::to_wide(*final_path)->c_str(), -1,
                                       TRUE),
                  CSTR_EQUAL);
    }
    ASSERT_TRUE(CopyFileW(file.c_str(), (dir + L"\\copy.exe").c_str(), TRUE));
    EXPECT_NE(processes.final_nt_path(utf8(dir + L"\\copy.exe")), final_path);  // same bytes, another file
    EXPECT_FALSE(processes.final_nt_path(utf8(dir + L"\\absent.exe")));
    // Never opened: not on a drive letter of a fixed volume.
    EXPECT_FALSE(processes.final_nt_path("\\\\?\\" + utf8(file)));
    EXPECT_FALSE(processes.final_nt_path("\\\\127.0.0.1\\share\\Tamsel.exe"));

    // Held open as a running image is, the file still answers.
    HANDLE held = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(processes.final_nt_path(utf8(file)), final_path);
    CloseHandle(held);
}

// The process's NT image name is what the program file's final NT path is
// compared with: both forms must agree on the running test itself.
TEST(Win32Processes, ImageNamesAgreeWithTheFinalPath) {
    win32::Win32Processes processes;
    const auto image = processes.image(GetCurrentProcessId());
    ASSERT_TRUE(image);
    wchar_t own[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, own, MAX_PATH), 0u);
    EXPECT_EQ(CompareStringOrdinal(win32::to_wide(image->path)->c_str(), -1, own, -1, TRUE), CSTR_EQUAL);
    const auto final_path = processes.final_nt_path(image->path);
    ASSERT_TRUE(final_path);
    EXPECT_EQ(CompareStringOrdinal(win32::to_wide(image->nt_path)->c_str(), -1, win32::to_wide(*final_path)->c_str(),
                                   -1, TRUE),
              CSTR_EQUAL)
        << image->nt_path << " against " << *final_path;
}

// The raise's environment block, made from the session user's token (under
// Wine, WTSQueryUserToken gives the caller's own) and passed to the start:
// the child must see USERPROFILE, which the block holds and this process,
// for the start, does not. A start that dropped the block would pass on
// this process's environment, without it.
TEST(Win32Processes, StartsAsTheUserWithTheUsersEnvironment) {
    win32::Win32Processes processes;
    const auto user = processes.user_token(1);
    ASSERT_NE(user, nullptr);
    // Who the session's user is, for the raises owed to them: under Wine, us.
    EXPECT_EQ(processes.token_user(*user), win32::Win32Account{}.process_user());
    EXPECT_TRUE(processes.session_ids().ok());
    const auto environment = processes.user_environment(*user);
    ASSERT_NE(environment, nullptr);
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::string cmd = win32::to_utf8(std::wstring(system) + L"\\cmd.exe").value();
    wchar_t profile[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH), 0u);
    ASSERT_TRUE(SetEnvironmentVariableW(L"USERPROFILE", nullptr));
    const auto started = processes.start_as_user(
            *user, cmd, "\"" + cmd + "\" /c if defined USERPROFILE (exit 5) else exit 6", environment.get());
    SetEnvironmentVariableW(L"USERPROFILE", profile);
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(started->wait(30'000), WaitResult::ended);
    EXPECT_EQ(started->exit_code(), 5u);
}

// Every top-level window of the class is listed, not only the first, each
// with the process that made it.
TEST(Win32Desktop, ListsEveryWindowOfTheClassWithItsProcess) {
    const wchar_t* class_name = L"Tamsel.Test.Listed";
    WNDCLASSW klass{};
    klass.lpfnWndProc = DefWindowProcW;
    klass.hInstance = GetModuleHandleW(nullptr);
    klass.lpszClassName = class_name;
    ASSERT_NE(RegisterClassW(&klass), 0);
    HWND windows[3] = {};
    for (HWND& window : windows) {
        window = CreateWindowExW(0, class_name, L"", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                                 klass.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
    }
    win32::Win32Desktop desktop;
    const std::vector<WindowId> found = desktop.find_windows("Tamsel.Test.Listed");
    EXPECT_EQ(found.size(), 3u);
    for (const HWND window : windows) {
        EXPECT_NE(std::find(found.begin(), found.end(), reinterpret_cast<WindowId>(window)), found.end());
        EXPECT_EQ(desktop.window_process(reinterpret_cast<WindowId>(window)), GetCurrentProcessId());
    }
    DestroyWindow(windows[1]);
    EXPECT_EQ(desktop.find_windows("Tamsel.Test.Listed").size(), 2u);
    EXPECT_EQ(desktop.window_process(reinterpret_cast<WindowId>(windows[1])), std::nullopt);
    DestroyWindow(windows[0]);
    DestroyWindow(windows[2]);
    EXPECT_TRUE(desktop.find_windows("Tamsel.Test.Listed").empty());
    UnregisterClassW(class_name, klass.hInstance);
}

}  // namespace
}  // namespace tamsel
