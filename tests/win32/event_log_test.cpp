// The event log on the real platform: the message table the Event Viewer
// reads the texts from, and a report that the system accepts.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/log_messages.h"
#include "common/product_names.h"
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

// What reaches the system, seen on the way: Wine's event log accepts every
// report and keeps none to read back.
struct Seen {
    std::wstring source;
    WORD type = 0;
    WORD category = 99;
    DWORD event_id = 0;
    WORD strings = 99;
    std::vector<unsigned char> data;
};
Seen seen;

HANDLE WINAPI seeing_register(LPCWSTR server, LPCWSTR source) {
    seen.source = source;
    return RegisterEventSourceW(server, source);
}

BOOL WINAPI seeing_report(HANDLE source, WORD type, WORD category, DWORD event_id, PSID user, WORD strings, DWORD size,
                          LPCWSTR* texts, LPVOID data) {
    seen.type = type;
    seen.category = category;
    seen.event_id = event_id;
    seen.strings = strings;
    seen.data.assign(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
    return ReportEventW(source, type, category, event_id, user, strings, size, texts, data);
}

TEST(EventLog, AReportIsAcceptedUnderTheSourceTheKitRegisters) {
    struct Case {
        std::uint32_t event_id;
        EventType type;
        std::uint32_t number;
        WORD shown_as;
        std::vector<unsigned char> data;  // the number, little-endian
    };
    const Case cases[] = {
        {log_messages[0].event_id, log_messages[0].type, 0, EVENTLOG_ERROR_TYPE, {0, 0, 0, 0}},
        {52, EventType::warning, 4294967295u, EVENTLOG_WARNING_TYPE, {0xFF, 0xFF, 0xFF, 0xFF}},
        {4, EventType::information, 0x01020304, EVENTLOG_INFORMATION_TYPE, {4, 3, 2, 1}},
    };
    win32::Win32EventLog event_log({&seeing_register, &seeing_report});
    for (const Case& c : cases) {
        seen = {};
        EXPECT_TRUE(event_log.report(c.event_id, c.type, c.number)) << c.event_id;
        // The name the kit registers the message table under (deploy_kit.consistent).
        EXPECT_EQ(seen.source, win32::to_wide(std::string(event_source_name)));
        EXPECT_EQ(seen.type, c.shown_as) << c.event_id;
        EXPECT_EQ(seen.event_id, c.event_id);
        EXPECT_EQ(seen.category, 0);
        EXPECT_EQ(seen.strings, 0);
        EXPECT_EQ(seen.data, c.data) << c.event_id;
    }
    // And the real calls accept it.
    EXPECT_TRUE(win32::Win32EventLog().report(4, EventType::information, 3));
}

}  // namespace
}  // namespace tamsel
