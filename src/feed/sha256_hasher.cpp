#include "feed/sha256_hasher.h"

#include <utility>

namespace tamsel {

bool Sha256Hasher::begin() {
    digester_ = crypto_.begin_sha256();
    failed_ = digester_ == nullptr;
    return !failed_;
}

bool Sha256Hasher::add(const void* data, std::size_t size) {
    if (failed_ || digester_ == nullptr) return false;
    if (!digester_->add(data, size)) failed_ = true;
    return !failed_;
}

std::optional<Sha256Digest> Sha256Hasher::finish() {
    std::unique_ptr<Sha256Digester> digester = std::move(digester_);
    if (failed_ || digester == nullptr) return std::nullopt;
    return digester->finish();
}

}  // namespace tamsel
