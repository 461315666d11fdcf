// JSON for the tool's machine-readable output (lint --json, dry-run --json):
// a string escaped as RFC 8259 asks; the texts are UTF-8 already.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace tamsel::tool {

inline std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace tamsel::tool
