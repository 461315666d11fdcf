// The reserve key's stop order and the everyday withdrawal of an offer, each
// written as the next feed answer from the one the server serves now.
#pragma once
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tools/feed_tool.h"

namespace tamsel::tool {

struct StopRequest {
    std::string current;                // the feed answer (or bare document) served now
    std::vector<std::string> versions;  // versions to stop, added to any the current feed stops
    bool revoke_working = false;
    bool keep_offer = false;            // keep [download] unless its version is stopped
    EVP_PKEY* key = nullptr;            // the reserve key's private half
};

struct WithdrawRequest {
    std::string current;
    EVP_PKEY* key = nullptr;            // normally the working key; the reserve key once it is revoked
};

struct Order {
    std::string document;
    std::string answer;
    std::vector<std::string> stopped;   // the [stop] versions of the new feed
    bool revokes_working = false;
    bool offer_kept = false;
    std::vector<std::string> notes;     // what the vendor should know about the result
};

std::variant<Order, Failure> prepare_stop(const StopRequest& request);
std::variant<Order, Failure> prepare_withdraw(const WithdrawRequest& request);

// Whether a key that did not sign the current feed may sign the next one
// while the current one carries a stop order: refused when that order
// revokes the working key (the next signer would be the revoked key, whose
// feeds such clients refuse whole); otherwise a note that the order counts
// only in feeds signed with the reserve key. Nothing when the current feed
// has no stop order or the same key signed it.
struct CarryCheck {
    std::optional<Failure> refusal;
    std::optional<std::string> note;
};
CarryCheck check_stop_carried(std::string_view current, EVP_PKEY* next_signer);

}  // namespace tamsel::tool
