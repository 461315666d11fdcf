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
    std::optional<std::string> previous;  // an earlier document or answer whose items are kept
    EVP_PKEY* key = nullptr;              // the private key that signs
    std::uint32_t rollout_days = 0;       // 0: every client at once; 1 to 30: in that many daily waves
    std::optional<std::string> rollout_start;  // the first wave's day, YYYY-MM-DD; default `date`
};

struct Publication {
    std::string document;
    std::string answer;
    std::string url;
    Digest sha256{};
    std::size_t kept_items = 0;
    std::vector<std::string> notes;       // what the vendor should know about the result
};

std::variant<Publication, Failure> prepare_publication(const PublishRequest& request);

}  // namespace tamsel::tool
