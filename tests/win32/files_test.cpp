// File semantics the log and the state file rely on, on the real platform.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "entry/log.h"
#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel {
namespace {

class Win32FilesTest : public ::testing::Test {
protected:
    win32::Win32Files files;
    win32::Win32Clock clock;
    win32::Win32EventLog event_log;
    std::string dir;
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        const std::wstring wide = std::wstring(temp) + L"tamsel-files-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(wide.c_str(), nullptr);
        dir = win32::to_utf8(wide).value();
    }
    void TearDown() override {
        for (const char* name : {"\\updater.log", "\\updater.log.1", "\\a", "\\b", "\\update.lock"})
            files.remove(dir + name);
        RemoveDirectoryW(win32::to_wide(dir)->c_str());
    }
    std::string read_all(const std::string& path) {
        const auto file = files.open_read(path);
        if (!file || !*file) return "<none>";
        std::string text;
        char buffer[4096];
        while (auto n = (*file)->read(buffer, sizeof buffer)) {
            if (*n == 0) break;
            text.append(buffer, *n);
        }
        return text;
    }
};

TEST_F(Win32FilesTest, LogLinesAppendWhileAnotherProgramHoldsTheFileOpen) {
    Log log(files, clock, event_log, dir);
    log.write("updated", 0);
    // Another program reads the log with full sharing while lines arrive.
    HANDLE other = CreateFileW(win32::to_wide(log.path())->c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    log.write("rolled back", 7);
    CloseHandle(other);
    const std::string text = read_all(log.path());
    ASSERT_EQ(text.size(), 32u + 36u);  // timestamp 20, message, number, separators, CR LF
    EXPECT_EQ(text.substr(20, 12), " updated 0\r\n");
    EXPECT_EQ(text.substr(text.size() - 16), " rolled back 7\r\n");
}

// The run guard's lock file: while one handle holds it, no other open for its
// data succeeds, not even a reader that shares everything; it stays when let go.
TEST_F(Win32FilesTest, TheLockFileExcludesEveryOtherOpenUntilLetGo) {
    const std::string path = dir + "\\update.lock";
    auto held = files.open_exclusive(path).value_or(nullptr);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(files.open_exclusive(path).cause(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE reader = CreateFileW(win32::to_wide(path)->c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    held.reset();
    EXPECT_EQ(files.size(path).value_or(1), 0u) << "kept, empty";
    held = files.open_exclusive(path).value_or(nullptr);
    EXPECT_NE(held, nullptr) << "free again once let go";
}

// Wine has no private namespaces, which must leave the lock file to decide
// rather than stop the pass; where the system has them, a second take is busy.
TEST(Win32Mutexes, APrivateMutexIsTakenOnceOrNotOffered) {
    win32::Win32Mutexes system;
    std::unique_ptr<HeldObject> first;
    std::unique_ptr<HeldObject> second;
    const PrivateMutex taken = system.take_private_mutex("Tam_Sel.Test", "Update", first);
    ASSERT_NE(taken, PrivateMutex::busy);
    if (taken == PrivateMutex::unavailable) {
        EXPECT_EQ(first, nullptr);
        return;
    }
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(system.take_private_mutex("Tam_Sel.Test", "Update", second), PrivateMutex::busy);
    first.reset();
    EXPECT_EQ(system.take_private_mutex("Tam_Sel.Test", "Update", second), PrivateMutex::taken);
}

TEST_F(Win32FilesTest, RotationReplacesTheOlderGeneration) {
    Log log(files, clock, event_log, dir);
    {
        auto big = files.create_truncate(log.path());
        ASSERT_TRUE(big);
        const std::string filler(65520, 'x');
        ASSERT_EQ((*big)->write(filler.data(), filler.size()).value_or(0), filler.size());
    }
    {
        auto older = files.create_truncate(log.previous_path());
        ASSERT_TRUE(older);
        ASSERT_EQ((*older)->write("old", 3).value_or(0), 3u);
    }
    log.write("updated", 0);
    EXPECT_EQ(files.size(log.previous_path()).value_or(0), 65520u);
    EXPECT_EQ(files.size(log.path()).value_or(0), 32u);
}

TEST_F(Win32FilesTest, OpenForReadTellsAbsenceFromOtherFailures) {
    for (const std::string path : {dir + "\\a", dir + "\\no-such-folder\\a"}) {
        const auto file = files.open_read(path);
        ASSERT_TRUE(file) << path;
        EXPECT_FALSE(*file) << path;
    }
    EXPECT_EQ(files.size(dir + "\\a").cause(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Win32FilesTest, ReplaceFileMovesOverAnExistingFile) {
    for (const char* name : {"\\a", "\\b"}) {
        auto f = files.create_truncate(dir + name);
        ASSERT_TRUE(f);
        ASSERT_EQ((*f)->write(name, 2).value_or(0), 2u);
        EXPECT_TRUE((*f)->flush());
    }
    EXPECT_TRUE(files.replace_file(dir + "\\a", dir + "\\b"));
    EXPECT_EQ(read_all(dir + "\\b"), "\\a");
    EXPECT_EQ(read_all(dir + "\\a"), "<none>");
    EXPECT_EQ(files.replace_file(dir + "\\a", dir + "\\b").cause(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Win32Clock, ReadsAPlausibleWallClock) {
    win32::Win32Clock clock;
    win32::Win32EventLog event_log;
    const std::uint64_t now = unix_now(clock);
    EXPECT_GT(now, 1'700'000'000u);  // after November 2023
    EXPECT_LT(now, 4'102'444'800u);  // before 2100
}

TEST(Win32System, FindsItsOwnFoldersAndMutexes) {
    win32::Win32Folders folders;
    win32::Win32Mutexes system;
    win32::Win32Clock clock;
    const auto exe = folders.own_executable_path();
    ASSERT_TRUE(exe.has_value());
    EXPECT_NE(exe->find("tamsel_platform_tests"), std::string::npos);
    EXPECT_TRUE(folders.known_folder_path(KnownFolder::program_data).has_value());
    EXPECT_TRUE(folders.known_folder_path(KnownFolder::windows).has_value());

    const std::string name = "Local\\Tamsel.Test." + std::to_string(GetCurrentProcessId());
    EXPECT_FALSE(system.mutex_exists(name));
    EXPECT_EQ(system.create_owned_mutex(name), MutexCreation::created);
    EXPECT_TRUE(system.mutex_exists(name));
    EXPECT_EQ(system.create_owned_mutex(name), MutexCreation::already_exists);

    const auto today = clock.local_date_text("yyyy'-'MM'-'dd");
    ASSERT_TRUE(today);
    EXPECT_EQ(today->size(), 10u);
    EXPECT_EQ((*today)[4], '-');
    SYSTEMTIME utc{}, local{};  // the zone's conversion of UTC; a minute may turn between the readings
    GetSystemTime(&utc);
    const std::uint32_t minute = clock.local_minute_of_day();
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
    EXPECT_LE((minute + 1440 - (local.wHour * 60u + local.wMinute)) % 1440, 1u) << minute;
}

}  // namespace
}  // namespace tamsel
