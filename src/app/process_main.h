// What the product and the testbed share around their composition roots.
#pragma once
#include <string>
#include <vector>

#include "entry/entry.h"
#include "platform/account.h"

namespace tamsel::app {

// The process's arguments from its command line, split as Windows splits
// them (CommandLineToArgvW) and converted to UTF-8.
std::vector<std::string> command_line_arguments();
// The constants compiled into this build.
BuildSettings build_settings();

// Runs the process on the Win32 implementations with the given account
// interface (the one place where the product and the testbed differ).
int run_process(Account& account);

}  // namespace tamsel::app
