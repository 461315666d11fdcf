// The text of a feed document the tool writes (publish, stop, withdraw):
// toml++'s formatter, keys sorted, non-ASCII kept as it is, a final line end.
#pragma once
#include <sstream>
#include <string>

#include "common/toml.h"

namespace tamsel::tool {

inline std::string toml_text(const toml::table& root) {
    std::ostringstream out;
    out << toml::toml_formatter(root, toml::format_flags::allow_unicode_strings |
                                          toml::format_flags::allow_multi_line_strings);
    out << "\n";
    return out.str();
}

}  // namespace tamsel::tool
