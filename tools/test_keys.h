// The tool tests' access to the test-only key pair kept in tests/keys and to
// files they read whole.
#pragma once
#include <fstream>
#include <sstream>
#include <string>

#include "tools/feed_tool.h"

namespace tamsel::tool {

inline const std::string keys_dir = std::string(TAMSEL_SOURCE_DIR) + "/tests/keys/";

inline std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// `name` is "working" or "reserve"; nullptr when the PEM does not read.
inline Pkey test_key(const std::string& name) {
    std::string why;
    auto key = read_private_key_pem(read_text(keys_dir + "test-only-" + name + ".pem"), why);
    return key ? std::move(*key) : nullptr;
}

inline PublicKey test_public(const std::string& name) {
    std::string why;
    return parse_public_key(read_text(keys_dir + "test-only-" + name + ".hex"), why).value();
}

}  // namespace tamsel::tool
