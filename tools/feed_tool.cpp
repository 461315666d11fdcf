// A key held in a PKCS#11 token comes through OpenSSL's engine interface as
// a legacy EC key, whose public point only the deprecated EC_KEY calls read.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "tools/feed_tool.h"

#include <cstring>
#include <vector>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/engine.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

namespace tamsel::tool {
namespace {

template <typename T, void (*free_fn)(T*)>
struct Deleter {
    void operator()(T* p) const { free_fn(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Bignum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using ParamBld = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;

bool is_p256(EVP_PKEY* key) {
    char group[64] = {};
    std::size_t length = 0;
    return EVP_PKEY_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &length) == 1 &&
           std::strcmp(group, SN_X9_62_prime256v1) == 0;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string to_hex(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

Pkey generate_p256_key() { return Pkey(EVP_EC_gen(SN_X9_62_prime256v1)); }

std::string private_key_pem(EVP_PKEY* key, const std::optional<std::string>& passphrase) {
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio) return {};
    int written = 0;
    if (!passphrase) {
        written = PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    } else {
        // PKCS#8 with PBES2: AES-256-CBC, its key from the passphrase by
        // PBKDF2-HMAC-SHA256 with a random salt and enough iterations that
        // guessing a stolen file's passphrase stays slow (OpenSSL's default
        // is 2,048).
        X509_ALGOR* scheme = PKCS5_pbe2_set_iv(EVP_aes_256_cbc(), pbkdf2_iterations, nullptr, 0, nullptr,
                                               NID_hmacWithSHA256);
        std::unique_ptr<PKCS8_PRIV_KEY_INFO, Deleter<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>> info(
                EVP_PKEY2PKCS8(key));
        X509_SIG* encrypted = scheme && info ? PKCS8_set0_pbe(passphrase->data(), static_cast<int>(passphrase->size()),
                                                              info.get(), scheme)
                                             : nullptr;
        if (encrypted == nullptr) X509_ALGOR_free(scheme);  // owned by `encrypted` otherwise
        written = encrypted != nullptr ? PEM_write_bio_PKCS8(bio.get(), encrypted) : 0;
        X509_SIG_free(encrypted);
    }
    if (written != 1) return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

namespace {

// Hands OpenSSL the passphrase of an encrypted PEM; with none given it
// fails, so OpenSSL never asks on the terminal.
int passphrase_callback(char* buffer, int size, int, void* user) {
    const auto* passphrase = static_cast<const std::optional<std::string>*>(user);
    if (!passphrase->has_value() || (*passphrase)->size() > static_cast<std::size_t>(size)) return -1;
    std::memcpy(buffer, (*passphrase)->data(), (*passphrase)->size());
    return static_cast<int>((*passphrase)->size());
}

}  // namespace

std::optional<Pkey> read_private_key_pem(std::string_view pem, std::string& why,
                                         const std::optional<std::string>& passphrase) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    const bool encrypted = pem.find("ENCRYPTED") != std::string_view::npos;
    Pkey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, passphrase_callback,
                                           const_cast<std::optional<std::string>*>(&passphrase))
                 : nullptr);
    if (!key) {
        why = !encrypted    ? "no PEM private key"
              : passphrase ? "the passphrase does not open this encrypted key"
                           : "the key is encrypted: give --passphrase-file or --passphrase-env";
        return std::nullopt;
    }
    if (!is_p256(key.get())) {
        why = "not a P-256 key";
        return std::nullopt;
    }
    return key;
}

namespace {

// X || Y of a legacy (engine) P-256 key.
std::optional<PublicKey> legacy_public_key_bytes(EVP_PKEY* key) {
    const EC_KEY* ec = EVP_PKEY_get0_EC_KEY(key);
    const EC_GROUP* group = ec ? EC_KEY_get0_group(ec) : nullptr;
    const EC_POINT* point = ec ? EC_KEY_get0_public_key(ec) : nullptr;
    unsigned char octets[65];
    if (!group || !point || EC_GROUP_get_curve_name(group) != NID_X9_62_prime256v1 ||
        EC_POINT_point2oct(group, point, POINT_CONVERSION_UNCOMPRESSED, octets, sizeof octets, nullptr) !=
            sizeof octets) {
        return std::nullopt;
    }
    PublicKey bytes{};
    std::memcpy(bytes.data(), octets + 1, bytes.size());
    return bytes;
}

}  // namespace

std::optional<PublicKey> public_key_bytes(EVP_PKEY* key) {
    if (!is_p256(key)) return std::nullopt;
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const bool got = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                     EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1;
    Bignum x_owner(x);
    Bignum y_owner(y);
    PublicKey bytes{};
    if (!got || BN_bn2binpad(x, bytes.data(), 32) != 32 || BN_bn2binpad(y, bytes.data() + 32, 32) != 32) {
        return legacy_public_key_bytes(key);
    }
    return bytes;
}

std::optional<PublicKey> parse_public_key(std::string_view text, std::string& why) {
    if (text.find("-----BEGIN") != std::string_view::npos) {
        std::optional<std::string> no_passphrase;  // an encrypted key fails instead of asking
        Bio bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
        const bool is_private = text.find("PRIVATE KEY") != std::string_view::npos;
        Pkey key(!bio ? nullptr
                 : is_private ? PEM_read_bio_PrivateKey(bio.get(), nullptr, passphrase_callback, &no_passphrase)
                              : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
        if (!key) {
            why = text.find("ENCRYPTED") != std::string_view::npos
                          ? "an encrypted private key: give its public key instead (the 128 hex digits keygen or "
                            "public-key printed)"
                          : "no PEM key";
            return std::nullopt;
        }
        const auto bytes = public_key_bytes(key.get());
        if (!bytes) why = "not a P-256 key";
        return bytes;
    }
    while (!text.empty() && std::strchr(" \t\r\n", text.back()) != nullptr) text.remove_suffix(1);
    while (!text.empty() && std::strchr(" \t\r\n", text.front()) != nullptr) text.remove_prefix(1);
    PublicKey bytes{};
    if (text.size() != 2 * bytes.size()) {
        why = "a public key is 128 hex digits";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hex_value(text[2 * i]);
        const int low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            why = "a public key is 128 hex digits";
            return std::nullopt;
        }
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return bytes;
}

std::optional<Signature> sign_document(EVP_PKEY* key, std::string_view document) {
    MdCtx ctx(EVP_MD_CTX_new());
    std::size_t der_size = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &der_size, reinterpret_cast<const unsigned char*>(document.data()),
                       document.size()) != 1) {
        return std::nullopt;
    }
    std::vector<unsigned char> der(der_size);
    if (EVP_DigestSign(ctx.get(), der.data(), &der_size, reinterpret_cast<const unsigned char*>(document.data()),
                       document.size()) != 1) {
        return std::nullopt;
    }
    // OpenSSL gives DER with minimal integers; the updater takes r and s as
    // fixed 32-byte fields, so short values are padded at the front.
    const unsigned char* p = der.data();
    EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der_size)));
    if (!sig) return std::nullopt;
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    ECDSA_SIG_get0(sig.get(), &r, &s);
    Signature out{};
    if (BN_bn2binpad(r, out.data(), 32) != 32 || BN_bn2binpad(s, out.data() + 32, 32) != 32) return std::nullopt;
    return out;
}

namespace {

// An EVP key from X || Y; nullptr when the point is not on the curve.
Pkey public_pkey(const PublicKey& key) {
    unsigned char point[65];
    point[0] = 0x04;  // uncompressed
    std::memcpy(point + 1, key.data(), key.size());
    ParamBld build(OSSL_PARAM_BLD_new());
    if (!build ||
        OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, SN_X9_62_prime256v1, 0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) != 1) {
        return nullptr;
    }
    Params params(OSSL_PARAM_BLD_to_param(build.get()));
    PkeyCtx from(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!params || !from || EVP_PKEY_fromdata_init(from.get()) != 1 ||
        EVP_PKEY_fromdata(from.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        return nullptr;
    }
    return Pkey(raw);
}

// r || s as the DER that OpenSSL verifies; empty when it cannot be built.
std::vector<unsigned char> signature_der(const Signature& signature) {
    EcdsaSig sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return {};
    }
    unsigned char* der = nullptr;
    const int der_size = i2d_ECDSA_SIG(sig.get(), &der);
    if (der_size <= 0) return {};
    std::vector<unsigned char> bytes(der, der + der_size);
    OPENSSL_free(der);
    return bytes;
}

}  // namespace

bool verify_document(const PublicKey& key, std::string_view document, const Signature& signature) {
    const auto digest = sha256(document);
    return digest && verify_digest(key, *digest, signature);
}

bool verify_digest(const PublicKey& key, const Digest& digest, const Signature& signature) {
    const Pkey pkey = public_pkey(key);
    const std::vector<unsigned char> der = signature_der(signature);
    if (!pkey || der.empty()) return false;
    PkeyCtx ctx(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_verify(ctx.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
}

std::optional<Digest> sha256(std::string_view bytes) {
    Digest digest{};
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
        size != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

std::string feed_answer(const Signature& signature, std::string_view document) {
    static_assert(std::tuple_size_v<Signature> == 64, "88 Base64 characters and a terminator");
    unsigned char base64[89];
    const int length = EVP_EncodeBlock(base64, signature.data(), static_cast<int>(signature.size()));
    std::string answer = "signature = \"";
    answer.append(reinterpret_cast<const char*>(base64), static_cast<std::size_t>(length));
    answer += "\"\n";
    answer.append(document);
    return answer;
}

}  // namespace tamsel::tool
