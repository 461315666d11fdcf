// The tool tests' way of running tamsel-feed as a vendor would: one command
// line through the shell, its exit status and what it printed.
#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace tamsel::tool {

struct ToolRun {
    int status;
    std::string output;
};

// `with_errors` adds the tool's standard error to its output.
inline ToolRun run_tool(const std::string& arguments, bool with_errors) {
    const std::string command =
        std::string(TAMSEL_FEED_EXE) + " " + arguments + (with_errors ? " 2>&1" : " 2>/dev/null");
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace tamsel::tool
