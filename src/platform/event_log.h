// The Windows event log: every log line, and the exits that come before the
// log exists, reported to the Application log, where fleets collect them.
#pragma once
#include <cstdint>

#include "common/log_messages.h"

namespace tamsel {

class EventLog {
public:
    virtual ~EventLog() = default;
    // One event of the source "Tam_Sel Update" (RegisterEventSourceW,
    // ReportEventW with category 0, no strings and `number` as its 4 bytes of
    // data, little-endian, DeregisterEventSource). Whether it was accepted;
    // the updater never acts on the answer.
    virtual bool report(std::uint32_t event_id, EventType type, std::uint32_t number) = 0;
};

}  // namespace tamsel
