// The reserve key's stop order and the everyday withdrawal of an offer, each
// written as the next feed answer from the one the server serves now.
#pragma once
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "feed/signature.h"
#include "tools/feed_tool.h"

namespace tamsel::tool {

// The two public keys the client embeds: what a feed carried on from must
// verify with, and what may sign the next one.
struct ClientKeys {
    PublicKey working{};
    PublicKey reserve{};
};

// Which of the client's keys signed a feed answer whose content is carried
// into the next feed. A bare document, or an answer neither key verifies,
// is refused: it may have been changed since it was signed, and signing it
// again would make the change valid. `name` names the file in the reason.
std::variant<KeyUsed, Failure> verify_carried(std::string_view file, const ClientKeys& keys, const std::string& name);

// Which of the client's keys a private key is; nothing for any other key.
std::optional<KeyUsed> client_role(EVP_PKEY* key, const ClientKeys& keys);

struct StopRequest {
    std::string current;                // the feed answer (or bare document) served now
    std::vector<std::string> versions;  // versions to stop, added to any the current feed stops
    bool revoke_working = false;
    bool keep_offer = false;            // keep [download] unless its version is stopped
    EVP_PKEY* key = nullptr;            // the reserve key's private half
    ClientKeys client;
    std::string name = "the current feed";  // names `current` in a refusal
};

struct WithdrawRequest {
    std::string current;
    EVP_PKEY* key = nullptr;            // normally the working key; the reserve key once it is revoked
    ClientKeys client;
    std::string name = "the current feed";
};

struct Order {
    std::string document;
    std::string answer;
    std::vector<std::string> stopped;   // the [stop] versions of the new feed
    bool revokes_working = false;
    bool offer_kept = false;
    std::vector<std::string> notes;     // what the vendor should know about the result
    std::vector<std::string> warnings;  // what may be a mistake, though clients would obey it
    bool nothing_to_do = false;         // no answer: the current feed stays as it is
};

std::variant<Order, Failure> prepare_stop(const StopRequest& request);
std::variant<Order, Failure> prepare_withdraw(const WithdrawRequest& request);

// Whether a key that did not sign the current feed (verified: `signer`
// signed it) may sign the next one while the current one carries a stop
// order: refused when that order revokes the working key (the next signer
// would be the revoked key, whose feeds such clients refuse whole);
// otherwise a note that the order counts only in feeds signed with the
// reserve key. Nothing when the current feed has no stop order or the same
// key signed it.
struct CarryCheck {
    std::optional<Failure> refusal;
    std::optional<std::string> note;
};
CarryCheck check_stop_carried(std::string_view current, KeyUsed signer, KeyUsed next_signer);

}  // namespace tamsel::tool
