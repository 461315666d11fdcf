#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "fakes/fake_platform.h"
#include "feed/base64.h"
#include "feed/sha256_hasher.h"
#include "feed/signature.h"

namespace tamsel {
namespace {

using fakes::FakeCrypto;

// Base64 of the bytes 0, 1, ..., 63.
const std::string sig64 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==";
const std::string sig63 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+";
const std::string sig65 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0A=";

EcdsaSignature counting_signature() {
    EcdsaSignature s{};
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i);
    return s;
}

std::string replaced(std::string text, std::size_t at, std::size_t count, const std::string& with) {
    return text.replace(at, count, with);
}

enum class Expect { ok, line, encoding };

TEST(SplitFeedAnswer, SignatureLineForms) {
    struct Case {
        const char* name;
        std::string line;  // without the line feed
        Expect expect;
    };
    const Case cases[] = {
        {"plain", "signature=\"" + sig64 + "\"", Expect::ok},
        {"spaces around =", "signature = \"" + sig64 + "\"", Expect::ok},
        {"leading and trailing white space", " \t signature\t=  \"" + sig64 + "\" \t", Expect::ok},
        {"CR before the LF", "signature = \"" + sig64 + "\"\r", Expect::ok},
        {"Unicode white space", "\xE3\x80\x80signature\xC2\xA0=\xE2\x80\xAF\"" + sig64 + "\"\xC2\x85\xE2\x80\xA9", Expect::ok},
        {"empty line", "", Expect::line},
        {"signature alone", "signature", Expect::line},
        {"signature and spaces", "signature   ", Expect::line},
        {"signature =", "signature =", Expect::line},
        {"capital S", "Signature = \"" + sig64 + "\"", Expect::line},
        {"colon", "signature: \"" + sig64 + "\"", Expect::line},
        {"other word after signature", "signatures = \"" + sig64 + "\"", Expect::line},
        {"no quotes", "signature = " + sig64, Expect::line},
        {"single quotes", "signature = '" + sig64 + "'", Expect::line},
        {"opening quote only", "signature = \"" + sig64, Expect::line},
        {"one quote", "signature = \"", Expect::line},
        {"text after the closing quote", "signature = \"" + sig64 + "\" x", Expect::line},
        {"TOML comment after it", "signature = \"" + sig64 + "\" # c", Expect::line},
        {"byte order mark first", "\xEF\xBB\xBFsignature = \"" + sig64 + "\"", Expect::line},
        {"empty quotes", "signature = \"\"", Expect::encoding},
        {"88 characters with padding", "signature=\"" + sig64 + "\"", Expect::ok},
        {"padding removed (86)", "signature=\"" + sig64.substr(0, 86) + "\"", Expect::encoding},
        {"URL alphabet -", "signature=\"" + replaced(sig64, 10, 1, "-") + "\"", Expect::encoding},
        {"URL alphabet _", "signature=\"" + replaced(sig64, 10, 1, "_") + "\"", Expect::encoding},
        {"space inside", "signature=\"" + replaced(sig64, 40, 1, " ") + "\"", Expect::encoding},
        {"space inside the quotes at the start", "signature=\" " + sig64.substr(1) + "\"", Expect::encoding},
        {"= inside", "signature=\"" + replaced(sig64, 40, 1, "=") + "\"", Expect::encoding},
        {"three =", "signature=\"" + replaced(sig64, 85, 1, "=") + "\"", Expect::encoding},
        {"padding bits not zero", "signature=\"" + replaced(sig64, 85, 1, "x") + "\"", Expect::encoding},
        {"63 bytes", "signature=\"" + sig63 + "\"", Expect::encoding},
        {"65 bytes", "signature=\"" + sig65 + "\"", Expect::encoding},
        {"quote inside", "signature=\"" + sig64.substr(0, 43) + "\"" + sig64.substr(44) + "\"", Expect::encoding},
    };
    for (const Case& c : cases) {
        const std::string answer = c.line + "\nschema = 1\n";
        const auto result = split_feed_answer(answer);
        switch (c.expect) {
        case Expect::ok:
            ASSERT_TRUE(std::holds_alternative<FeedAnswer>(result)) << c.name;
            EXPECT_EQ(std::get<FeedAnswer>(result).signature, counting_signature()) << c.name;
            EXPECT_EQ(std::get<FeedAnswer>(result).document, "schema = 1\n") << c.name;
            break;
        case Expect::line:
            ASSERT_TRUE(std::holds_alternative<FeedError>(result)) << c.name;
            EXPECT_EQ(std::get<FeedError>(result), FeedError::signature_line) << c.name;
            break;
        case Expect::encoding:
            ASSERT_TRUE(std::holds_alternative<FeedError>(result)) << c.name;
            EXPECT_EQ(std::get<FeedError>(result), FeedError::signature_encoding) << c.name;
            break;
        }
    }
}

TEST(SplitFeedAnswer, TheDocumentIsEveryByteAfterTheFirstLineFeed) {
    const std::string line = "signature = \"" + sig64 + "\"";
    struct Case {
        std::string answer;
        std::string document;
    };
    const Case cases[] = {
        {line + "\n", ""},
        {line + "\r\n", ""},
        {line + "\r\nschema = 1\r\n", "schema = 1\r\n"},
        {line + "\n\nschema = 1  \n\n", "\nschema = 1  \n\n"},
        {line + "\nschema = 1", "schema = 1"},
        {line + "\nsignature = \"x\"\n", "signature = \"x\"\n"},
    };
    for (const Case& c : cases) {
        const auto result = split_feed_answer(c.answer);
        ASSERT_TRUE(std::holds_alternative<FeedAnswer>(result)) << c.answer;
        EXPECT_EQ(std::get<FeedAnswer>(result).document, c.document) << c.answer;
    }
}

TEST(SplitFeedAnswer, AnAnswerWithoutALineFeedIsALineError) {
    for (const std::string answer : {std::string(), "signature = \"" + sig64 + "\"", "signature = \"" + sig64 + "\"\r"}) {
        const auto result = split_feed_answer(answer);
        ASSERT_TRUE(std::holds_alternative<FeedError>(result));
        EXPECT_EQ(std::get<FeedError>(result), FeedError::signature_line);
    }
}

TEST(Base64Strict, EveryLengthRoundsOnlyThroughItsCanonicalForm) {
    struct Case {
        const char* text;
        std::optional<std::vector<std::uint8_t>> bytes;
    };
    using V = std::vector<std::uint8_t>;
    const Case cases[] = {
        {"AA==", V{0}},         {"AAA=", V{0, 0}},      {"AAAA", V{0, 0, 0}},
        {"/w==", V{0xFF}},      {"//8=", V{0xFF, 0xFF}}, {"+/+/", V{0xFB, 0xFF, 0xBF}},
        {"AB==", std::nullopt}, {"AAB=", std::nullopt}, {"/x==", std::nullopt},
        {"", std::nullopt},     {"A", std::nullopt},    {"AA", std::nullopt},
        {"AA=", std::nullopt},  {"A===", std::nullopt}, {"====", std::nullopt},
        {"AA==AAAA", std::nullopt}, {"=AAA", std::nullopt}, {"AAAA\n", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode_base64_strict(c.text), c.bytes) << c.text;
    }
    EXPECT_EQ(decode_base64_strict(std::string_view("AA\0A", 4)), std::nullopt);
}

class VerifyFeedSignature : public ::testing::Test {
protected:
    FakeCrypto crypto;
    EcPublicKeyBytes working{};
    EcPublicKeyBytes reserve{};
    const std::string document = "schema = 1\n";

    void SetUp() override {
        working.fill(0x11);
        reserve.fill(0x22);
    }
    std::optional<KeyUsed> verify(std::string_view doc, const EcdsaSignature& signature) {
        return verify_feed_signature(crypto, doc, signature, working, reserve);
    }
};

TEST_F(VerifyFeedSignature, WorkingFirstThenReserve) {
    EXPECT_EQ(verify(document, crypto.sign(working, document)), KeyUsed::working);
    EXPECT_EQ(crypto.keys_tried, (std::vector<EcPublicKeyBytes>{working}));

    crypto.keys_tried.clear();
    EXPECT_EQ(verify(document, crypto.sign(reserve, document)), KeyUsed::reserve);
    EXPECT_EQ(crypto.keys_tried, (std::vector<EcPublicKeyBytes>{working, reserve}));

    crypto.keys_tried.clear();
    EcPublicKeyBytes stranger{};
    stranger.fill(0x33);
    EXPECT_EQ(verify(document, crypto.sign(stranger, document)), std::nullopt);
    EXPECT_EQ(crypto.keys_tried, (std::vector<EcPublicKeyBytes>{working, reserve}));
    EXPECT_EQ(crypto.hashed, document + document + document);
    EXPECT_EQ(crypto.open_handles, 0);
}

TEST_F(VerifyFeedSignature, TheSignatureCoversEveryByteOfTheDocument) {
    const EcdsaSignature signature = crypto.sign(working, document);
    for (const std::string changed : {std::string("schema = 2\n"), std::string("schema = 1"),
                                      std::string("schema = 1\n\n"), std::string("schema = 1\r\n")}) {
        EXPECT_EQ(verify(changed, signature), std::nullopt) << changed;
    }
    EcdsaSignature flipped = signature;
    flipped[63] ^= 1;
    EXPECT_EQ(verify(document, flipped), std::nullopt);
}

TEST_F(VerifyFeedSignature, EveryPlatformFailureIsNotVerified) {
    const EcdsaSignature by_working = crypto.sign(working, document);
    const EcdsaSignature by_reserve = crypto.sign(reserve, document);

    crypto.fail_begin = true;
    EXPECT_EQ(verify(document, by_working), std::nullopt);
    crypto.fail_begin = false;

    crypto.fail_add = true;
    EXPECT_EQ(verify(document, by_working), std::nullopt);
    crypto.fail_add = false;

    crypto.fail_finish = true;
    EXPECT_EQ(verify(document, by_working), std::nullopt);
    crypto.fail_finish = false;

    crypto.fail_open_ecdsa = true;
    EXPECT_EQ(verify(document, by_working), std::nullopt);
    crypto.fail_open_ecdsa = false;
    EXPECT_TRUE(crypto.keys_tried.empty());

    // A working key that will not import still lets the reserve key speak.
    crypto.failing_imports.insert(working);
    EXPECT_EQ(verify(document, by_working), std::nullopt);
    EXPECT_EQ(verify(document, by_reserve), KeyUsed::reserve);
    crypto.failing_imports.insert(reserve);
    EXPECT_EQ(verify(document, by_reserve), std::nullopt);
    EXPECT_EQ(crypto.open_handles, 0);
}

TEST(Sha256HasherState, RefusesUseOutOfOrderAndStaysFailed) {
    FakeCrypto crypto;
    Sha256Hasher hasher(crypto);
    EXPECT_FALSE(hasher.add("a", 1));  // not begun
    EXPECT_EQ(hasher.finish(), std::nullopt);

    ASSERT_TRUE(hasher.begin());
    EXPECT_TRUE(hasher.add("ab", 2));
    EXPECT_TRUE(hasher.add("c", 1));
    EXPECT_EQ(hasher.finish(), FakeCrypto::digest_of("abc"));
    EXPECT_EQ(crypto.open_handles, 0);
    EXPECT_FALSE(hasher.add("d", 1));  // finished
    EXPECT_EQ(hasher.finish(), std::nullopt);

    ASSERT_TRUE(hasher.begin());
    crypto.fail_add = true;
    EXPECT_FALSE(hasher.add("a", 1));
    crypto.fail_add = false;
    EXPECT_FALSE(hasher.add("b", 1));  // a lost chunk spoils the digest for good
    EXPECT_EQ(hasher.finish(), std::nullopt);
    EXPECT_EQ(crypto.open_handles, 0);

    crypto.fail_begin = true;
    EXPECT_FALSE(hasher.begin());
    EXPECT_FALSE(hasher.add("a", 1));
    EXPECT_EQ(hasher.finish(), std::nullopt);
}

TEST(FeedErrorMessages, AsLogged) {
    EXPECT_EQ(feed_error_message(FeedError::signature_line), "feed signature line refused");
    EXPECT_EQ(feed_error_message(FeedError::signature_encoding), "feed signature line refused");
    EXPECT_EQ(feed_error_message(FeedError::signature), "feed signature did not verify");
    EXPECT_EQ(feed_error_message(FeedError::document), "feed document refused");
    EXPECT_EQ(feed_error_message(FeedError::schema), "feed from a newer schema");
}

}  // namespace
}  // namespace tamsel
