// Download of a setup program into the update folder: streamed through a
// partial file and a SHA-256 digest, judged against the offer, and renamed to
// its final name only when every check passed.
#pragma once
#include <string>
#include <string_view>

#include "common/log_messages.h"
#include "common/result.h"
#include "feed/feed.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/http.h"

namespace tamsel {

enum class DownloadOutcome {
    no_target,
    network_or_oversize,
    size_differs,
    sha256_differs,
    disk,
    verified,
};

LogMessage download_message(DownloadOutcome outcome);

// A refusal, with what the log's number field says of it: the error of the
// file call or the fetch that failed (a WinHTTP or Win32 error, or the HTTP
// status), or 0 where no call failed (a size or digest that differs, a body
// beyond the announced size).
struct DownloadRefusal {
    DownloadOutcome outcome = DownloadOutcome::disk;
    std::uint32_t cause = 0;
};
using DownloadResult = Result<void, DownloadRefusal>;

inline DownloadOutcome outcome_of(const DownloadResult& result) {
    return result ? DownloadOutcome::verified : result.error().outcome;
}

DownloadResult download_setup(const Download& offer, const std::string& final_path, const std::string& partial_path,
                              Files& files, Https& https, Crypto& crypto);

}  // namespace tamsel
