// Publishing a release: the setup program under the files prefix and a signed
// news.toml whose update item and [download] section describe it, refused
// before anything is written when a client would refuse or mishandle it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tools/feed_tool.h"
#include "tools/orders.h"

namespace tamsel::tool {

struct NewsText {
    std::string language;  // en, ru, ...
    std::string title;
    std::string text;
};

struct PublishRequest {
    std::string setup;                    // the setup program's bytes
    std::string setup_name;               // its path under the files prefix (parts joined by "/")
    std::string version;
    std::vector<NewsText> news;
    std::string files_prefix;             // https://HOST/tamsel/files/
    std::string date;                     // the update item's date, YYYY-MM-DD
    std::optional<std::string> previous;  // the earlier answer, verified, whose items and [stop] are kept
    std::string previous_name = "the earlier feed";  // names it in a refusal
    EVP_PKEY* key = nullptr;                         // the private key that signs: one of the client's keys
    ClientKeys client;
    std::string today;                    // YYYY-MM-DD; a rollout never starts before it
    bool allow_lower = false;             // offer a lower version than the earlier feed's offer
    std::uint32_t rollout_days = 0;       // 0: every client at once; 1 to 30: in that many daily waves
    std::optional<std::string> rollout_start;  // the first wave's day, YYYY-MM-DD; default `date`
    // The [report] prefix clients send outcome reports to; "" drops the
    // earlier feed's [report]; none: the earlier feed's is carried on.
    std::optional<std::string> report_prefix;
};

struct Publication {
    std::string document;
    std::string answer;
    std::string url;
    Digest sha256{};
    std::size_t kept_items = 0;
    std::vector<std::string> notes;       // what the vendor should know about the result
    std::vector<std::string> warnings;    // what may be a mistake, though clients would take it
};

std::variant<Publication, Failure> prepare_publication(const PublishRequest& request);

}  // namespace tamsel::tool
