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

DownloadOutcome download_setup(const Download& offer, const std::string& final_path, const std::string& partial_path,
                               Files& files, Https& https, Crypto& crypto, std::uint32_t* cause) {
    // Each error is read right after its call failed: the clean-up makes file
    // calls of its own.
    const auto ended = [cause](DownloadOutcome outcome, std::uint32_t why) {
        if (cause) *cause = why;
        return outcome;
    };
    const auto address = split_https_address(offer.url);
    if (!address) return ended(DownloadOutcome::no_target, 0);

    files.remove(partial_path);  // a leftover of an interrupted run; failure is harmless
    auto file = files.create_truncate(partial_path);
    if (!file) return ended(DownloadOutcome::disk, files.last_error());
    Sha256Hasher hasher(crypto);
    // The empty partial file stays; the next download deletes it first.
    if (!hasher.begin()) return ended(DownloadOutcome::disk, 0);

    HttpsRequest request;
    request.host = address->host;
    request.path = address->path;
    bool write_ok = true;
    std::uint32_t disk_error = 0;
    BodySink sink;
    sink.limit = offer.size;
    // Each chunk goes to the file, then into the digest: the body is never
    // held whole, whatever its size.
    sink.write = [&](std::span<const std::uint8_t> chunk) {
        if (!write_all(*file, chunk.data(), chunk.size())) {
            disk_error = files.last_error();
            write_ok = false;
        } else if (!hasher.add(chunk.data(), chunk.size())) {
            write_ok = false;
        }
        return write_ok;
    };
    const auto received = https.https_get(request, sink);
    const std::uint32_t network_error = received ? 0 : https.last_error();
    const bool flushed = file->flush();
    if (!flushed && write_ok) disk_error = files.last_error();
    file.reset();  // closed before it is judged, renamed or deleted

    DownloadOutcome outcome = DownloadOutcome::verified;
    std::uint32_t why = 0;
    std::optional<Sha256Digest> digest;
    if (!flushed || !write_ok) {
        outcome = DownloadOutcome::disk;
        why = disk_error;
    } else if (!received) {
        outcome = DownloadOutcome::network_or_oversize;
        why = network_error;
    } else if (!(digest = hasher.finish())) {
        outcome = DownloadOutcome::disk;
    } else if (*received != offer.size || *received > download_size_limit) {
        outcome = DownloadOutcome::size_differs;
    } else if (*digest != offer.sha256) {
        outcome = DownloadOutcome::sha256_differs;
    } else if (!files.replace_file(partial_path, final_path)) {
        outcome = DownloadOutcome::disk;
        why = files.last_error();
    }
    if (outcome != DownloadOutcome::verified) files.remove(partial_path);
    return ended(outcome, why);
}

}  // namespace tamsel
