// The vendor side of the feed signature, on OpenSSL's libcrypto: P-256 keys,
// signing a document into a feed answer, and checking an answer against the
// two public keys as the updater does.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <openssl/evp.h>

namespace tamsel::tool {

using PublicKey = std::array<std::uint8_t, 64>;   // X || Y, big-endian
using Signature = std::array<std::uint8_t, 64>;   // r || s, big-endian
using Digest = std::array<std::uint8_t, 32>;      // SHA-256

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// The tool's exit codes, distinct so that a release script can tell them
// apart; every command's help lists the ones it gives.
enum ExitCode : int {
    exit_done = 0,        // verify: a key verified; lint: clean or advisory warnings only
    exit_findings = 1,    // verify: not verified; lint: warnings
    exit_usage = 2,       // wrong usage: an unknown command or option, a missing or malformed value
    exit_unreadable = 3,  // a file or key that cannot be read (or a file that cannot be written)
    exit_refused = 4,     // refused, nothing written; lint: errors
    exit_halt = 5,        // reports: the halt rule fired (withdraw the newest offer)
};

// Failures carry a one-line reason for the command line.
struct Failure {
    std::string reason;
};

Pkey generate_p256_key();
inline constexpr int pbkdf2_iterations = 600'000;
// A passphrase that encrypts a new key has at least this many characters.
inline constexpr std::size_t passphrase_minimum = 20;
// PKCS#8 PEM of the private key; encrypted (AES-256-CBC, key from the
// passphrase by PBKDF2-HMAC-SHA256, pbkdf2_iterations) when a passphrase is
// given.
std::string private_key_pem(EVP_PKEY* key, const std::optional<std::string>& passphrase = std::nullopt);
// The private key of a PEM text; refused unless it is a P-256 key. An
// encrypted PEM needs its passphrase; a wrong one is refused.
std::optional<Pkey> read_private_key_pem(std::string_view pem, std::string& why,
                                         const std::optional<std::string>& passphrase = std::nullopt);
// X || Y of a P-256 key (private or public).
std::optional<PublicKey> public_key_bytes(EVP_PKEY* key);
// A public key given as 128 hex digits, or as a PEM text with a P-256
// public or private key.
std::optional<PublicKey> parse_public_key(std::string_view text, std::string& why);
// ECDSA over SHA-256 of the document, as r || s with each padded to 32 bytes.
std::optional<Signature> sign_document(EVP_PKEY* key, std::string_view document);
// Whether r || s verifies over SHA-256 of the document with the key.
bool verify_document(const PublicKey& key, std::string_view document, const Signature& signature);
// Whether r || s verifies over a SHA-256 digest computed elsewhere.
bool verify_digest(const PublicKey& key, const Digest& digest, const Signature& signature);
std::optional<Digest> sha256(std::string_view bytes);
// The feed answer: the signature line, one line feed, the document's bytes.
std::string feed_answer(const Signature& signature, std::string_view document);

std::string to_hex(const std::uint8_t* bytes, std::size_t size);

}  // namespace tamsel::tool
