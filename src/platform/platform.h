// The set of platform interfaces one pass works with. Each composition root
// (product, testbed, unit tests) fills it with its own implementations.
#pragma once
#include "platform/account.h"
#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/desktop.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/processes.h"
#include "platform/security.h"
#include "platform/system.h"

namespace tamsel {

struct Platform {
    Account& account;
    Clock& clock;
    Crypto& crypto;
    Files& files;
    Https& https;
    Processes& processes;
    Desktop& desktop;
    Security& security;
    System& system;
    EventLog& event_log;
};

}  // namespace tamsel
