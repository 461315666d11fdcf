// The feed answer as it comes off the network: the signature line with its
// Base64, then the document behind it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "common/utf8.h"
#include "feed/base64.h"
#include "feed/feed.h"
#include "feed/signature.h"
#include "fuzz_check.h"
#include "support/test_bytes.h"

namespace {

using namespace tamsel;

bool same_feed(const Feed& a, const Feed& b) {
    const bool entries = a.update_entry.has_value() == b.update_entry.has_value() &&
                         (!a.update_entry || (a.update_entry->id == b.update_entry->id &&
                                              a.update_entry->version == b.update_entry->version));
    const auto& da = a.download;
    const auto& db = b.download;
    const bool downloads = da.state == db.state &&
                           (!da.present() || (da.value.version == db.value.version && da.value.url == db.value.url &&
                                              da.value.sha256 == db.value.sha256 && da.value.size == db.value.size));
    const bool stops = a.stop.state == b.stop.state &&
                       (!a.stop.present() || (a.stop.value.versions == b.stop.value.versions &&
                                              a.stop.value.revoke_working == b.stop.value.revoke_working));
    return entries && downloads && stops;
}

bool same_result(const std::variant<Feed, FeedError>& a, const std::variant<Feed, FeedError>& b) {
    if (a.index() != b.index()) return false;
    if (const auto* error = std::get_if<FeedError>(&a)) return *error == std::get<FeedError>(b);
    return same_feed(std::get<Feed>(a), std::get<Feed>(b));
}

void check_document(std::string_view document) {
    const auto first = parse_feed(document);
    if (const auto* error = std::get_if<FeedError>(&first)) {
        FUZZ_REQUIRE(*error == FeedError::document || *error == FeedError::schema);
    } else {
        const Feed& feed = std::get<Feed>(first);
        if (feed.download.present()) {
            FUZZ_REQUIRE(!feed.download.value.version.empty() && !feed.download.value.url.empty());
            FUZZ_REQUIRE(feed.download.value.size > 0);
        }
    }
    // A parse keeps nothing between calls.
    FUZZ_REQUIRE(same_result(first, parse_feed(document)));
    // A line feed after a document the TOML library took in changes nothing.
    if (!(std::holds_alternative<FeedError>(first) && std::get<FeedError>(first) == FeedError::document)) {
        FUZZ_REQUIRE(same_result(first, parse_feed(std::string(document) + "\n")));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view answer(reinterpret_cast<const char*>(data), size);

    // Strict Base64 has one spelling per value: what decodes encodes back to
    // the same text.
    if (const auto decoded = decode_base64_strict(answer)) {
        FUZZ_REQUIRE(test_support::base64(*decoded) == answer);
    }

    // The check run refuses an answer that is not UTF-8 before splitting it.
    if (!is_valid_utf8(answer)) return 0;
    const auto split = split_feed_answer(answer);
    const std::size_t line_feed = answer.find('\n');
    if (const auto* error = std::get_if<FeedError>(&split)) {
        FUZZ_REQUIRE(*error == FeedError::signature_line || *error == FeedError::signature_encoding);
        // Mutations mostly break the line; the document behind it still gets
        // parsed, so the fuzzer learns the document's shape all the same.
        if (line_feed != std::string_view::npos) check_document(answer.substr(line_feed + 1));
        return 0;
    }
    const FeedAnswer& parts = std::get<FeedAnswer>(split);
    // The document is every byte after the first line feed, in place.
    FUZZ_REQUIRE(line_feed != std::string_view::npos);
    FUZZ_REQUIRE(parts.document.data() == answer.data() + line_feed + 1);
    FUZZ_REQUIRE(parts.document.size() == size - line_feed - 1);
    // The 64 bytes are the ones the line spells, quoted, in canonical Base64.
    const std::string line(answer.substr(0, line_feed));
    FUZZ_REQUIRE(line.find('"' + test_support::base64(parts.signature) + '"') !=
                 std::string::npos);
    FUZZ_REQUIRE(line.find("signature") != std::string::npos);

    check_document(parts.document);
    return 0;
}
