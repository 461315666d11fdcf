// The feed answer's signature line and the verification of the document
// behind it against the two built-in public keys.
//
// The answer is: a signature line, one line feed, then the document. The
// line reads `signature = "<Base64 of r||s>"` with optional Unicode white
// space around its parts; the document's bytes are signed exactly as sent.
#pragma once
#include <optional>
#include <string_view>
#include <variant>

#include "feed/feed_error.h"
#include "platform/crypto.h"

namespace tamsel {

enum class KeyUsed { working, reserve };

struct FeedAnswer {
    EcdsaSignature signature{};
    // The bytes after the first line feed; a view into the answer that was
    // split, which must outlive it.
    std::string_view document;
};

// Splits the answer at its first line feed and decodes the signature. Fails
// with FeedError::signature_line or FeedError::signature_encoding only. The
// answer is expected to be valid UTF-8 already (the caller checks).
std::variant<FeedAnswer, FeedError> split_feed_answer(std::string_view answer);

// Digests the document with SHA-256 and verifies the signature with the
// working key, then with the reserve key. Nothing when neither verifies or
// the platform's cryptography fails anywhere: a failure is never a pass.
std::optional<KeyUsed> verify_feed_signature(Crypto& crypto, std::string_view document,
                                             const EcdsaSignature& signature,
                                             const EcPublicKeyBytes& working_key,
                                             const EcPublicKeyBytes& reserve_key);

}  // namespace tamsel
