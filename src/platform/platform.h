// The set of platform interfaces one pass works with. Each composition root
// (product, testbed, unit tests) fills it with its own implementations.
#pragma once
#include "platform/account.h"
#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/desktop.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/http.h"
#include "platform/mutexes.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/standard_output.h"
#include "platform/version_info.h"

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
    Folders& folders;
    Mutexes& mutexes;
    VersionInfo& version_info;
    Registry& registry;
    StandardOutput& standard_output;
    EventLog& event_log;
};

}  // namespace tamsel
