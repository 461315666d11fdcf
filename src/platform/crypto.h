// Cryptography: SHA-256 digests and ECDSA P-256 verification. The Win32 side
// is CNG (BCrypt); nothing else in the product computes or checks a digest.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace tamsel {

using Sha256Digest = std::array<std::uint8_t, 32>;
// A P-256 public key: X then Y, each 32 bytes big-endian.
using EcPublicKeyBytes = std::array<std::uint8_t, 64>;
// An ECDSA P-256 signature: r then s, each 32 bytes big-endian.
using EcdsaSignature = std::array<std::uint8_t, 64>;

// One SHA-256 computation: its provider ("SHA256") and hash object. Both are
// released when the object is destroyed, whether or not it was finished.
class Sha256Digester {
public:
    virtual ~Sha256Digester() = default;
    // Hashes one chunk (BCryptHashData); false when that fails.
    virtual bool add(const void* data, std::size_t size) = 0;
    // BCryptFinishHash. The object cannot take more bytes afterwards.
    virtual std::optional<Sha256Digest> finish() = 0;
};

// An open "ECDSA_P256" provider.
class EcdsaP256Verifier {
public:
    virtual ~EcdsaP256Verifier() = default;
    // Imports the key as a 72-byte ECCPUBLICBLOB, verifies the signature over
    // the digest without padding information, and destroys the key again.
    // False when the import fails or the signature does not verify.
    virtual bool verify(const EcPublicKeyBytes& key, const Sha256Digest& digest,
                        const EcdsaSignature& signature) = 0;
};

class Crypto {
public:
    virtual ~Crypto() = default;
    // Opens the "SHA256" provider and creates a hash object; nullptr on failure.
    virtual std::unique_ptr<Sha256Digester> begin_sha256() = 0;
    // Opens the "ECDSA_P256" provider; nullptr on failure.
    virtual std::unique_ptr<EcdsaP256Verifier> open_ecdsa_p256() = 0;
};

}  // namespace tamsel
