#include "update/download.h"

#include "common/client_limits.h"
#include "feed/https_address.h"
#include "feed/sha256_hasher.h"

namespace tamsel {

LogMessage download_message(DownloadOutcome outcome) {
    switch (outcome) {
    case DownloadOutcome::no_target: return "download refused: no target";
    case DownloadOutcome::network_or_oversize: return "download refused: network or oversize";
    case DownloadOutcome::size_differs: return "download refused: size differs";
    case DownloadOutcome::sha256_differs: return "download refused: SHA-256 differs";
    case DownloadOutcome::disk: return "download refused: disk";
    case DownloadOutcome::verified: return "download verified";
    }
    return "download refused: disk";
}

DownloadResult download_setup(const Download& offer, const std::string& final_path, const std::string& partial_path,
                              Files& files, Https& https, Crypto& crypto) {
    const auto address = split_https_address(offer.url);
    if (!address) return DownloadRefusal{DownloadOutcome::no_target};

    files.remove(partial_path);  // a leftover of an interrupted run; failure is harmless
    auto file = files.create_truncate(partial_path);
    if (!file) return DownloadRefusal{DownloadOutcome::disk, file.cause()};
    Sha256Hasher hasher(crypto);
    // The empty partial file stays; the next download deletes it first.
    if (!hasher.begin()) return DownloadRefusal{DownloadOutcome::disk};

    HttpsRequest request;
    request.host = address->host;
    request.path = address->path;
    Result<void> written;
    BodySink sink;
    sink.limit = offer.size;
    // Each chunk goes to the file, then into the digest: the body is never
    // held whole, whatever its size.
    sink.write = [&](std::span<const std::uint8_t> chunk) {
        written = write_all(**file, chunk.data(), chunk.size());
        if (written && !hasher.add(chunk.data(), chunk.size())) written = Failure{};
        return written.ok();
    };
    const auto received = https.https_get(request, sink);
    const auto flushed = (*file)->flush();
    file->reset();  // closed before it is judged, renamed or deleted

    DownloadRefusal refusal;
    std::optional<Sha256Digest> digest;
    if (!flushed || !written) {
        refusal = {DownloadOutcome::disk, written ? flushed.cause() : written.cause()};
    } else if (!received) {
        refusal = {DownloadOutcome::network_or_oversize, received.cause()};
    } else if (!(digest = hasher.finish())) {
        refusal = {DownloadOutcome::disk};
    } else if (*received != offer.size || *received > download_size_limit) {
        refusal = {DownloadOutcome::size_differs};
    } else if (*digest != offer.sha256) {
        refusal = {DownloadOutcome::sha256_differs};
    } else if (const auto moved = files.replace_file(partial_path, final_path); !moved) {
        refusal = {DownloadOutcome::disk, moved.cause()};
    } else {
        return {};
    }
    files.remove(partial_path);
    return refusal;
}

}  // namespace tamsel
