// A SHA-256 digest over the platform's cryptography, fed in chunks. Used for
// the feed document and for the setup download.
#pragma once
#include <cstddef>
#include <memory>
#include <optional>

#include "platform/crypto.h"

namespace tamsel {

class Sha256Hasher {
public:
    explicit Sha256Hasher(Crypto& crypto) : crypto_(crypto) {}

    // Opens the provider and creates the hash object. False when that fails.
    bool begin();
    // Hashes one chunk. False when the hasher was not begun, is finished, or
    // the platform fails; after a failure every later call fails too.
    bool add(const void* data, std::size_t size);
    // The 32-byte digest; the hash object and the provider are released
    // either way. Nothing after any earlier failure.
    std::optional<Sha256Digest> finish();

private:
    Crypto& crypto_;
    std::unique_ptr<Sha256Digester> digester_;
    bool failed_ = false;
};

}  // namespace tamsel
