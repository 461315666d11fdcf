#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "update/download.h"

namespace tamsel {
namespace {

using fakes::FakeCrypto;
using fakes::FakeHttpsResponse;

class DownloadTest : public ::testing::Test {
protected:
    fakes::FakePlatform fake;
    const std::string dir = "C:\\ProgramData\\Tam_Sel\\update";
    const std::string final_path = dir + "\\downloaded-setup.exe";
    const std::string partial_path = dir + "\\downloaded-setup.part";
    const std::string url = "https://localhost/tamsel/files/setup-2.0.0.exe";
    const std::string body = std::string(20000, 'b') + "end";
    Download offer;

    void SetUp() override {
        fake.files.folders.insert(dir);
        offer.version = "2.0.0";
        offer.url = url;
        offer.size = body.size();
        offer.sha256 = FakeCrypto::digest_of(body);
        fake.https.serve(url, FakeHttpsResponse::body(body));
    }
    std::uint32_t cause = 0;  // of the latest download()
    DownloadOutcome download() {
        const auto result = download_setup(offer, final_path, partial_path, fake.files, fake.https, fake.crypto);
        cause = result.cause();
        return outcome_of(result);
    }
};

TEST_F(DownloadTest, AVerifiedDownloadReplacesTheOlderSetupAndLeavesNoPartialFile) {
    fake.files.files[final_path] = "older setup";
    fake.files.files[partial_path] = "leftover of an interrupted run";
    EXPECT_EQ(download(), DownloadOutcome::verified);
    EXPECT_EQ(fake.files.files.at(final_path), body);
    EXPECT_FALSE(fake.files.exists(partial_path));
    EXPECT_EQ(fake.crypto.hashed, body) << "every byte hashed once, in order";
    EXPECT_EQ(fake.crypto.open_handles, 0);

    ASSERT_EQ(fake.https.requests.size(), 1u);
    const HttpsRequest& request = fake.https.requests[0];
    EXPECT_EQ(request.host, "localhost");
    EXPECT_EQ(request.path, "/tamsel/files/setup-2.0.0.exe");
    EXPECT_EQ(request.port, 443);
    EXPECT_TRUE(request.secure);
    EXPECT_EQ(request.verb, "GET");
    EXPECT_EQ(request.expected_status, 200u);
    EXPECT_EQ(request.resolve_timeout_ms, 10000u);
    EXPECT_EQ(request.connect_timeout_ms, 10000u);
    EXPECT_EQ(request.send_timeout_ms, 20000u);
    EXPECT_EQ(request.receive_timeout_ms, 20000u);

    // The leftover was deleted before the new file was created, and the file
    // was flushed before it was renamed.
    const auto& j = fake.files.journal;
    const auto at = [&](const std::string& entry) { return std::find(j.begin(), j.end(), entry) - j.begin(); };
    EXPECT_LT(at("remove " + partial_path), at("create " + partial_path));
    EXPECT_LT(at("flush " + partial_path), at("replace " + partial_path + " " + final_path));
}

TEST_F(DownloadTest, RefusalsKeepTheOlderSetupAndDeleteThePartialFile) {
    struct Case {
        const char* name;
        std::string served;  // what the server sends for the offer
        std::uint32_t status;
        DownloadOutcome outcome;
        std::uint32_t cause;  // for the log: only a failed call has one
    };
    std::string changed = body;
    changed[100] ^= 1;
    const Case cases[] = {
        {"one byte short", body.substr(1), 200, DownloadOutcome::size_differs, 0},
        {"one byte long", body + "x", 200, DownloadOutcome::network_or_oversize, 0},
        {"one byte changed", changed, 200, DownloadOutcome::sha256_differs, 0},
        {"not found", body, 404, DownloadOutcome::network_or_oversize, 404},
        {"empty body", "", 200, DownloadOutcome::size_differs, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.files.files.clear();
        fake.files.files[final_path] = "older setup";
        auto response = FakeHttpsResponse::body(c.served);
        response.status = c.status;
        fake.https.serve(url, response);
        EXPECT_EQ(download(), c.outcome);
        EXPECT_EQ(cause, c.cause);
        EXPECT_EQ(fake.files.files.at(final_path), "older setup");
        EXPECT_FALSE(fake.files.exists(partial_path));
    }
}

TEST_F(DownloadTest, TheSinkLimitIsTheOfferedSize) {
    // A body longer than offered stops at the limit: no byte beyond it is
    // written or hashed.
    fake.https.serve(url, FakeHttpsResponse::body(body + std::string(50000, 'x')));
    EXPECT_EQ(download(), DownloadOutcome::network_or_oversize);
    EXPECT_LE(fake.crypto.hashed.size(), body.size());
}

TEST_F(DownloadTest, AnAddressThatDoesNotSplitTouchesNoFile) {
    for (const char* bad : {"https://localhost:8443/tamsel/files/s.exe", "http://localhost/tamsel/files/s.exe",
                            "https:///s.exe"}) {
        SCOPED_TRACE(bad);
        offer.url = bad;
        fake.files.files[partial_path] = "leftover";
        fake.files.journal.clear();
        EXPECT_EQ(download(), DownloadOutcome::no_target);
        EXPECT_TRUE(fake.files.journal.empty());
        EXPECT_TRUE(fake.https.requests.empty());
    }
}

TEST_F(DownloadTest, DiskFailuresWinOverTheFetchFailureTheyCause) {
    struct Case {
        const char* name;
        void (*spoil)(fakes::FakePlatform&);
    };
    const Case cases[] = {
        {"write fails mid-transfer", [](fakes::FakePlatform& f) { f.files.fail_write_after = 10000; }},
        {"write accepts nothing", [](fakes::FakePlatform& f) { f.files.zero_write = true; }},
        {"flush fails", [](fakes::FakePlatform& f) { f.files.fail_flush = true; }},
        {"digest step fails", [](fakes::FakePlatform& f) { f.crypto.fail_add = true; }},
        {"digest finish fails", [](fakes::FakePlatform& f) { f.crypto.fail_finish = true; }},
        {"rename fails", [](fakes::FakePlatform& f) { f.files.fail_replace = true; }},
        {"partial file cannot be created", [](fakes::FakePlatform& f) { f.files.fail_create = true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakes::FakePlatform local;
        local.files.folders.insert(dir);
        local.https.serve(url, FakeHttpsResponse::body(body));
        local.files.files[final_path] = "older setup";
        c.spoil(local);
        EXPECT_EQ(outcome_of(download_setup(offer, final_path, partial_path, local.files, local.https, local.crypto)),
                  DownloadOutcome::disk);
        EXPECT_EQ(local.files.files.at(final_path), "older setup");
        EXPECT_FALSE(local.files.exists(partial_path));
        EXPECT_EQ(local.crypto.open_handles, 0);
    }
}

TEST_F(DownloadTest, AFailingDigestStartLeavesTheEmptyPartialFileAndFetchesNothing) {
    fake.crypto.fail_begin = true;
    EXPECT_EQ(download(), DownloadOutcome::disk);
    ASSERT_TRUE(fake.files.exists(partial_path));
    EXPECT_EQ(fake.files.files.at(partial_path), "");
    EXPECT_TRUE(fake.https.requests.empty());
}

TEST_F(DownloadTest, NoDownloadIsVerifiedOverTheLargestSetupSize) {
    // The decision refuses such offers first; the download holds the line too.
    const std::string big(static_cast<std::size_t>(download_size_limit) + 1, 'z');
    offer.size = big.size();
    offer.sha256 = FakeCrypto::digest_of(big);
    fake.https.serve(url, FakeHttpsResponse::body(big, 1 << 20));
    EXPECT_EQ(download(), DownloadOutcome::size_differs);
    EXPECT_FALSE(fake.files.exists(final_path));
}

TEST(DownloadMessage, EveryOutcomeHasItsText) {
    EXPECT_EQ(download_message(DownloadOutcome::no_target), "download refused: no target");
    EXPECT_EQ(download_message(DownloadOutcome::network_or_oversize), "download refused: network or oversize");
    EXPECT_EQ(download_message(DownloadOutcome::size_differs), "download refused: size differs");
    EXPECT_EQ(download_message(DownloadOutcome::sha256_differs), "download refused: SHA-256 differs");
    EXPECT_EQ(download_message(DownloadOutcome::disk), "download refused: disk");
    EXPECT_EQ(download_message(DownloadOutcome::verified), "download verified");
}

}  // namespace
}  // namespace tamsel
