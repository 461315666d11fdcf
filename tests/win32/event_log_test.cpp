// The event log on the real platform: the message table the Event Viewer
// reads the texts from, and a report that the system accepts.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/log_messages.h"
#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel {
namespace {

TEST(EventLog, TheExeCarriesTheTextOfEveryEvent) {
    std::string exe = TAMSEL_UPDATE_EXE;
    std::replace(exe.begin(), exe.end(), '/', '\\');
    // Loaded as the Event Viewer loads it: as data, never run.
    HMODULE module = LoadLibraryExW(win32::to_wide(exe)->c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << exe << ": " << GetLastError();
    for (const LogMessageEntry& message : log_messages) {
        wchar_t* buffer = nullptr;
        const DWORD n = FormatMessageW(
                FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, module,
                message.event_id, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        std::wstring text(buffer != nullptr ? buffer : L"", n);
        LocalFree(buffer);
        // The message compiler ends each text with a line break.
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
        EXPECT_EQ(win32::to_utf8(text).value_or("?"), message.text) << message.event_id;
    }
    FreeLibrary(module);
}

TEST(EventLog, AReportIsAccepted) {
    win32::Win32EventLog event_log;
    EXPECT_TRUE(event_log.report(log_messages[0].event_id, log_messages[0].type, 0));
    EXPECT_TRUE(event_log.report(52, EventType::warning, 4294967295u));
    EXPECT_TRUE(event_log.report(4, EventType::information, 3));
}

}  // namespace
}  // namespace tamsel
