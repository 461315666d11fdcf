#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/win32/implementations.h"
#include "platform/win32/owned_handle.h"

namespace tamsel::win32 {
namespace {

bool succeeded(NTSTATUS status) { return status >= 0; }

class CngSha256 final : public Sha256Digester {
public:
    CngSha256(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE hash) : algorithm_(algorithm), hash_(hash) {}
    CngSha256(const CngSha256&) = delete;
    CngSha256& operator=(const CngSha256&) = delete;

    bool add(const void* data, std::size_t size) override {
        if (!hash_) return false;
        // BCryptHashData takes a 32-bit length; larger blocks go in pieces.
        auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
        while (size > 0) {
            const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, std::numeric_limits<ULONG>::max()));
            if (!succeeded(BCryptHashData(hash_.get(), bytes, piece, 0))) return false;
            bytes += piece;
            size -= piece;
        }
        return true;
    }

    std::optional<Sha256Digest> finish() override {
        if (!hash_) return std::nullopt;
        Sha256Digest digest{};
        const bool ok = succeeded(BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
        release();
        if (!ok) return std::nullopt;
        return digest;
    }

private:
    void release() {
        hash_.reset();
        algorithm_.reset();
    }

    // Declared in this order, the hash is destroyed before its provider.
    AlgorithmHandle algorithm_;
    HashHandle hash_;
};

class CngEcdsaP256 final : public EcdsaP256Verifier {
public:
    explicit CngEcdsaP256(BCRYPT_ALG_HANDLE algorithm) : algorithm_(algorithm) {}
    CngEcdsaP256(const CngEcdsaP256&) = delete;
    CngEcdsaP256& operator=(const CngEcdsaP256&) = delete;

    bool verify(const EcPublicKeyBytes& key, const Sha256Digest& digest, const EcdsaSignature& signature) override {
        // ECCPUBLICBLOB: magic "ECS1" and the coordinate length, both
        // little-endian, then X and Y.
        std::array<UCHAR, sizeof(BCRYPT_ECCKEY_BLOB) + 64> blob{};
        static_assert(sizeof(BCRYPT_ECCKEY_BLOB) == 8, "two 32-bit fields");
        BCRYPT_ECCKEY_BLOB header{};
        header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
        header.cbKey = 32;
        std::memcpy(blob.data(), &header, sizeof header);
        std::memcpy(blob.data() + sizeof header, key.data(), key.size());

        KeyHandle handle;
        if (!succeeded(BCryptImportKeyPair(algorithm_.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, handle.put(), blob.data(),
                                           static_cast<ULONG>(blob.size()), 0))) {
            return false;
        }
        // CNG wants writable buffers; pass copies so the caller's stay const.
        Sha256Digest hash = digest;
        EcdsaSignature value = signature;
        const NTSTATUS status = BCryptVerifySignature(handle.get(), nullptr, hash.data(), static_cast<ULONG>(hash.size()),
                                                      value.data(), static_cast<ULONG>(value.size()), 0);
        return succeeded(status);
    }

private:
    AlgorithmHandle algorithm_;
};

}  // namespace

std::unique_ptr<Sha256Digester> Win32Crypto::begin_sha256() {
    AlgorithmHandle algorithm;
    if (!succeeded(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return nullptr;
    // With no buffer of ours, CNG allocates the hash object itself.
    HashHandle hash;
    if (!succeeded(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) return nullptr;
    return std::make_unique<CngSha256>(algorithm.release(), hash.release());
}

std::unique_ptr<EcdsaP256Verifier> Win32Crypto::open_ecdsa_p256() {
    AlgorithmHandle algorithm;
    if (!succeeded(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return nullptr;
    return std::make_unique<CngEcdsaP256>(algorithm.release());
}

}  // namespace tamsel::win32
