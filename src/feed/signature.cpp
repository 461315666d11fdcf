#include "feed/signature.h"

#include <algorithm>
#include <array>

#include "feed/base64.h"
#include "feed/sha256_hasher.h"

namespace tamsel {
namespace {

// The UTF-8 forms of every code point with the Unicode White_Space property.
constexpr std::array<std::string_view, 25> white_space = {
    "\t", "\n", "\v", "\f", "\r", " ",
    "\xC2\x85",                                      // U+0085
    "\xC2\xA0",                                      // U+00A0
    "\xE1\x9A\x80",                                  // U+1680
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",  // U+2000..U+200A
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8", "\xE2\x80\xA9",                  // U+2028, U+2029
    "\xE2\x80\xAF",                                  // U+202F
    "\xE2\x81\x9F",                                  // U+205F
    "\xE3\x80\x80",                                  // U+3000
};

// In valid UTF-8 a whole encoded character never matches inside another
// one, so plain byte prefixes and suffixes find whole characters.
std::string_view trim_front(std::string_view text) {
    for (bool again = true; again;) {
        again = false;
        for (const std::string_view space : white_space) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                again = true;
                break;
            }
        }
    }
    return text;
}

std::string_view trim_back(std::string_view text) {
    for (bool again = true; again;) {
        again = false;
        for (const std::string_view space : white_space) {
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                again = true;
                break;
            }
        }
    }
    return text;
}

std::string_view trim(std::string_view text) { return trim_back(trim_front(text)); }

constexpr std::string_view keyword = "signature";

// The text between the quotes, or nothing when the line is of the wrong form.
std::optional<std::string_view> quoted_signature(std::string_view line) {
    line = trim(line);
    if (line.size() <= keyword.size() || !line.starts_with(keyword)) return std::nullopt;
    std::string_view rest = trim_front(line.substr(keyword.size()));
    if (rest.empty() || rest.front() != '=') return std::nullopt;
    rest = trim(rest.substr(1));
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') return std::nullopt;
    return rest.substr(1, rest.size() - 2);
}

}  // namespace

std::variant<FeedAnswer, FeedError> split_feed_answer(std::string_view answer) {
    const std::size_t line_feed = answer.find('\n');
    if (line_feed == std::string_view::npos) return FeedError::signature_line;
    const std::optional<std::string_view> quoted = quoted_signature(answer.substr(0, line_feed));
    if (!quoted) return FeedError::signature_line;
    const auto decoded = decode_base64_strict(*quoted);
    FeedAnswer result;
    if (!decoded || decoded->size() != result.signature.size()) return FeedError::signature_encoding;
    std::copy(decoded->begin(), decoded->end(), result.signature.begin());
    result.document = answer.substr(line_feed + 1);
    return result;
}

std::optional<KeyUsed> verify_feed_signature(Crypto& crypto, std::string_view document,
                                             const EcdsaSignature& signature,
                                             const EcPublicKeyBytes& working_key,
                                             const EcPublicKeyBytes& reserve_key) {
    Sha256Hasher hasher(crypto);
    if (!hasher.begin() || !hasher.add(document.data(), document.size())) return std::nullopt;
    const std::optional<Sha256Digest> digest = hasher.finish();
    if (!digest) return std::nullopt;

    // The working key is tried first even when the state says it is revoked:
    // the check run applies revocation to the answer given here.
    const std::unique_ptr<EcdsaP256Verifier> verifier = crypto.open_ecdsa_p256();
    if (verifier == nullptr) return std::nullopt;
    if (verifier->verify(working_key, *digest, signature)) return KeyUsed::working;
    if (verifier->verify(reserve_key, *digest, signature)) return KeyUsed::reserve;
    return std::nullopt;
}

}  // namespace tamsel
