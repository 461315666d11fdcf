// The vendor's private keys as the signing commands take them: a PEM file,
// encrypted or not, or a key that never leaves a PKCS#11 token (a hardware
// module, or SoftHSM in tests), reached through OpenSSL's pkcs11 engine.
#pragma once
#include <optional>
#include <string>

#include "tools/feed_tool.h"

namespace tamsel::tool {

// Where a passphrase or a token PIN comes from: the first line of a file or
// an environment variable, never the command line.
struct SecretSource {
    std::optional<std::string> file;
    std::optional<std::string> environment;  // the variable's name
};

// The secret, or nothing (with the reason) when none is given or it cannot
// be read.
std::optional<std::string> read_secret(const SecretSource& source, std::string& why);

bool is_pkcs11_uri(const std::string& argument);

// A P-256 private key from a PEM file or a PKCS#11 URI ("pkcs11:..."). The
// secret is read only when the key needs it.
std::optional<Pkey> load_signing_key(const std::string& argument, const SecretSource& source, std::string& why);

}  // namespace tamsel::tool
