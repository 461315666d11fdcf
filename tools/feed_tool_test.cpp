#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <variant>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/x509.h>

#include "tools/test_keys.h"
#include "tools/tool_run.h"
#include "feed/signature.h"
#include "tools/feed_tool.h"

namespace tamsel::tool {
namespace {

TEST(FeedToolKeys, TheTestKeysPemsMatchTheHexTheBuildEmbeds) {
    for (const std::string name : {"test-only-working", "test-only-reserve"}) {
        std::string why;
        const auto from_hex = parse_public_key(read_text(keys_dir + name + ".hex"), why);
        ASSERT_TRUE(from_hex) << why;
        const auto key = read_private_key_pem(read_text(keys_dir + name + ".pem"), why);
        ASSERT_TRUE(key) << why;
        EXPECT_EQ(public_key_bytes(key->get()), from_hex) << name;
        EXPECT_EQ(parse_public_key(read_text(keys_dir + name + ".pem"), why), from_hex) << name;
    }
}

TEST(FeedToolKeys, PublicBytesAreXThenYAsInTheSubjectPublicKeyInfo) {
    const Pkey key = generate_p256_key();
    ASSERT_TRUE(key);
    const auto bytes = public_key_bytes(key.get());
    ASSERT_TRUE(bytes);
    unsigned char* der = nullptr;
    const int size = i2d_PUBKEY(key.get(), &der);
    ASSERT_EQ(size, 91);  // ... 04 || X || Y: what the build's key conversion reads
    EXPECT_EQ(der[26], 0x04);
    EXPECT_EQ(0, std::memcmp(der + 27, bytes->data(), 64));
    OPENSSL_free(der);
}

TEST(FeedToolKeys, MalformedKeyArgumentsAreRefused) {
    std::string why;
    EXPECT_FALSE(parse_public_key(std::string(127, 'a'), why));
    EXPECT_FALSE(parse_public_key(std::string(126, 'a') + "zz", why));
    EXPECT_FALSE(parse_public_key("-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n", why));
    EXPECT_TRUE(parse_public_key("  " + std::string(128, 'A') + "\n", why));
}

// An independent OpenSSL check of r || s: DER built here, verified with the
// signing key object itself.
bool openssl_verifies(EVP_PKEY* key, std::string_view document, const Signature& signature) {
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), 32, nullptr), BN_bin2bn(signature.data() + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int size = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestVerify(ctx, der, static_cast<std::size_t>(size),
                                     reinterpret_cast<const unsigned char*>(document.data()), document.size()) == 1;
    EVP_MD_CTX_free(ctx);
    OPENSSL_free(der);
    return ok;
}

TEST(FeedToolSigning, ShortRAndSAreZeroPaddedAtTheFront) {
    const Pkey key = generate_p256_key();
    ASSERT_TRUE(key);
    const auto public_key = public_key_bytes(key.get());
    ASSERT_TRUE(public_key);
    bool short_r = false;
    bool short_s = false;
    // About one signature in 256 has r (or s) below 2^248; 20000 tries miss
    // both with a chance of about 1e-34.
    for (int i = 0; i < 20000 && !(short_r && short_s); ++i) {
        const std::string document = "schema = 1\n# " + std::to_string(i) + "\n";
        const auto signature = sign_document(key.get(), document);
        ASSERT_TRUE(signature);
        const bool r_short = (*signature)[0] == 0;
        const bool s_short = (*signature)[32] == 0;
        if (!r_short && !s_short && i % 50 != 0) continue;  // spot-check the ordinary ones
        short_r = short_r || r_short;
        short_s = short_s || s_short;

        const std::string answer = feed_answer(*signature, document);
        const auto split = split_feed_answer(answer);
        ASSERT_TRUE(std::holds_alternative<FeedAnswer>(split)) << i;
        EXPECT_EQ(std::get<FeedAnswer>(split).signature, *signature);
        EXPECT_EQ(std::get<FeedAnswer>(split).document, document);
        EXPECT_TRUE(openssl_verifies(key.get(), document, *signature)) << i;
        EXPECT_TRUE(verify_document(*public_key, document, *signature)) << i;
    }
    EXPECT_TRUE(short_r);
    EXPECT_TRUE(short_s);
}

TEST(FeedToolSigning, VerificationFailsForAnyOtherDocumentKeyOrSignature) {
    const Pkey key = generate_p256_key();
    const Pkey other = generate_p256_key();
    const auto public_key = public_key_bytes(key.get());
    const auto other_public = public_key_bytes(other.get());
    const std::string document = "schema = 1\r\n";
    const auto signature = sign_document(key.get(), document);
    ASSERT_TRUE(signature && public_key && other_public);
    EXPECT_TRUE(verify_document(*public_key, document, *signature));
    EXPECT_FALSE(verify_document(*other_public, document, *signature));
    EXPECT_FALSE(verify_document(*public_key, "schema = 1\n", *signature));
    EXPECT_FALSE(verify_document(*public_key, document + "\n", *signature));
    Signature flipped = *signature;
    flipped[40] ^= 0x01;
    EXPECT_FALSE(verify_document(*public_key, document, flipped));
    PublicKey off_curve = *public_key;
    off_curve[63] ^= 0x01;
    EXPECT_FALSE(verify_document(off_curve, document, *signature));
}

ToolRun run(const std::string& arguments) { return run_tool(arguments, false); }

class FeedToolCommandLine : public ::testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override {
        char pattern[] = "/tmp/tamsel-feed-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string at(const std::string& name) const { return (dir / name).string(); }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(at(name), std::ios::binary) << bytes;
    }
};

TEST_F(FeedToolCommandLine, KeygenSignVerify) {
    const ToolRun keygen = run("keygen " + at("vendor.pem"));
    ASSERT_EQ(keygen.status, 0);
    ASSERT_EQ(keygen.output.size(), 129u);  // 128 hex digits and a line feed
    EXPECT_EQ(std::filesystem::status(at("vendor.pem")).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::none);
    EXPECT_EQ(run("keygen " + at("vendor.pem")).status, 3);  // never over an existing key
    write("vendor.hex", keygen.output);

    // Document bytes are kept exactly: CR LF, no final line feed.
    const std::string document = "schema = 1\r\n[stop]\r\nversions = [\"1.0\"]";
    write("news.toml", document);
    ASSERT_EQ(run("sign " + at("vendor.pem") + " " + at("news.toml") + " " + at("answer")).status, 0);
    const std::string answer = read_text(at("answer"));
    const std::size_t line_feed = answer.find('\n');
    ASSERT_NE(line_feed, std::string::npos);
    EXPECT_EQ(answer.substr(line_feed + 1), document);
    EXPECT_TRUE(answer.starts_with("signature = \""));

    const std::string reserve_hex = keys_dir + "test-only-reserve.hex";
    const std::string working_pem = keys_dir + "test-only-working.pem";
    EXPECT_EQ(run("verify " + at("answer") + " " + at("vendor.hex") + " " + reserve_hex).output, "working\n");
    EXPECT_EQ(run("verify " + at("answer") + " " + working_pem + " " + at("vendor.pem")).output, "reserve\n");
    const ToolRun neither = run("verify " + at("answer") + " " + working_pem + " " + reserve_hex);
    EXPECT_EQ(neither.status, 1);
    EXPECT_EQ(neither.output, "feed signature did not verify\n");

    write("tampered", answer + "\n");
    EXPECT_EQ(run("verify " + at("tampered") + " " + at("vendor.hex") + " " + reserve_hex).output,
              "feed signature did not verify\n");
    write("no-line", answer.substr(0, line_feed));
    EXPECT_EQ(run("verify " + at("no-line") + " " + at("vendor.hex") + " " + reserve_hex).output,
              "feed signature line refused\n");
}

}  // namespace
}  // namespace tamsel::tool
