// What the product and the testbed share around their composition roots.
#pragma once
#include <string>
#include <vector>

#include "entry/entry.h"

namespace tamsel::app {

// The process's arguments from its command line, split as Windows splits
// them (CommandLineToArgvW) and converted to UTF-8.
std::vector<std::string> command_line_arguments();
// The constants compiled into this build.
BuildSettings build_settings();

}  // namespace tamsel::app
