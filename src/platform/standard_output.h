// Standard output: what the status report is printed to.
#pragma once
#include <string>

namespace tamsel {

class StandardOutput {
public:
    virtual ~StandardOutput() = default;
    // Hands UTF-8 text to whoever started the process: the inherited standard
    // output, else the parent's console. False when there is neither.
    virtual bool write_standard_output(const std::string& text) = 0;
};

}  // namespace tamsel
