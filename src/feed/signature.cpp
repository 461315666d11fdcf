#include "feed/signature.h"

#include <algorithm>
#include <array>

#include "common/utf8.h"
#include "feed/base64.h"
#include "feed/sha256_hasher.h"

namespace tamsel {
namespace {


constexpr std::string_view keyword = "signature";

// The text between the quotes, or nothing when the line is of the wrong form.
std::optional<std::string_view> quoted_signature(std::string_view line) {
    line = trim_white_space(line);
    if (line.size() <= keyword.size() || !line.starts_with(keyword)) return std::nullopt;
    std::string_view rest = trim_white_space_front(line.substr(keyword.size()));
    if (rest.empty() || rest.front() != '=') return std::nullopt;
    rest = trim_white_space(rest.substr(1));
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
