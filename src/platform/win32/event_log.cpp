#include <windows.h>

#include "common/product_names.h"
#include "platform/win32/implementations.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {
namespace {

WORD event_type(EventType type) {
    switch (type) {
    case EventType::error: return EVENTLOG_ERROR_TYPE;
    case EventType::warning: return EVENTLOG_WARNING_TYPE;
    case EventType::information: break;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

bool Win32EventLog::report(std::uint32_t event_id, EventType type, std::uint32_t number) {
    // Opened and closed per event: the updater reports a few dozen at most,
    // and holds nothing between its steps.
    const auto name = to_wide(std::string(event_source_name));
    if (!name) return false;
    const EventSourceHandle source(calls_.register_source(nullptr, name->c_str()));
    if (!source) return false;
    // The number as a DWORD in the byte order of x64, little-endian.
    unsigned char data[4] = {static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
                             static_cast<unsigned char>(number >> 16), static_cast<unsigned char>(number >> 24)};
    return calls_.report(source.get(), event_type(type), 0, event_id, nullptr, 0, sizeof data, nullptr, data) != FALSE;
}

}  // namespace tamsel::win32
