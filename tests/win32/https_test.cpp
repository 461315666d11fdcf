// The WinHTTP fetch against the local test server (tests/support/https_server.py),
// which the test run starts on 127.0.0.1:443 with a certificate for
// "localhost" from the test CA that the Wine prefix trusts. Its plain-HTTP
// control port switches certificates and stalls for the cases that need it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/implementations.h"

#ifndef TAMSEL_TEST_SERVER_CONTROL_PORT
#define TAMSEL_TEST_SERVER_CONTROL_PORT 8444
#endif

namespace tamsel {
namespace {

using namespace std::string_literals;

constexpr std::uint16_t control_port = TAMSEL_TEST_SERVER_CONTROL_PORT;

// What a sink was given, and a sink that refuses from a chosen call on.
struct Received {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> chunk_sizes;
};

BodySink collect(Received& into, std::uint64_t limit, std::size_t refuse_from_call = SIZE_MAX) {
    return BodySink{limit, [&into, refuse_from_call](std::span<const std::uint8_t> chunk) {
                        into.chunk_sizes.push_back(chunk.size());
                        if (into.chunk_sizes.size() >= refuse_from_call) return false;
                        into.bytes.insert(into.bytes.end(), chunk.begin(), chunk.end());
                        return true;
                    }};
}

// The test server's bodies: byte i is i % 251.
bool is_pattern(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != i % 251) return false;
    }
    return true;
}

HttpsRequest test_server(const std::string& path) {
    HttpsRequest request;
    request.host = "localhost";
    request.path = path;
    return request;
}

class HttpsTest : public ::testing::Test {
protected:
    win32::Win32Https https;

    // One command to the test server's control port, in plain HTTP.
    bool control(const std::string& command) {
        HttpsRequest request = test_server("/control/" + command);
        request.port = control_port;
        request.secure = false;
        return https.https_get(request, BodySink{4096, [](std::span<const std::uint8_t>) { return true; }}).ok();
    }
    void SetUp() override { ASSERT_TRUE(control("reset")) << "the test server does not answer"; }
    void TearDown() override { control("reset"); }

    Result<std::uint64_t> get(const std::string& path, Received& into, std::uint64_t limit = 262144,
                              std::size_t refuse_from_call = SIZE_MAX) {
        return https.https_get(test_server(path), collect(into, limit, refuse_from_call));
    }

    // A fetch that is expected to run into the 20 s receive time-out; returns
    // its result and reports how long it took.
    Result<std::uint64_t> timed_get(const std::string& path, Received& into, double& seconds) {
        const auto start = std::chrono::steady_clock::now();
        const auto result = get(path, into);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s ended after %.1f s\n", path.c_str(), seconds);
        RecordProperty("seconds", std::to_string(seconds));
        return result;
    }
};

TEST_F(HttpsTest, BodyArrivesWholeInOrderInChunksOfAtMost8192Bytes) {
    for (const char* path : {"/bytes/100000", "/chunked/100000", "/unannounced/100000"}) {
        Received got;
        const auto result = get(path, got);
        ASSERT_TRUE(result.ok()) << path;
        EXPECT_EQ(*result, 100000u) << path;
        EXPECT_EQ(got.bytes.size(), 100000u) << path;
        EXPECT_TRUE(is_pattern(got.bytes)) << path;
        for (const std::size_t size : got.chunk_sizes) {
            EXPECT_GT(size, 0u) << path;
            EXPECT_LE(size, 8192u) << path;
        }
    }
}

TEST_F(HttpsTest, EmptyBodySucceedsWithZeroBytes) {
    Received got;
    EXPECT_EQ(get("/bytes/0", got), Result<std::uint64_t>(0));
    EXPECT_TRUE(got.chunk_sizes.empty());
}

TEST_F(HttpsTest, AnyOtherStatusFailsWithoutReadingTheBody) {
    for (const char* path : {"/status/204", "/status/404", "/status/500", "/status/201", "/status/302"}) {
        Received got;
        const auto result = get(path, got);
        EXPECT_FALSE(result.ok()) << path;
        EXPECT_TRUE(got.chunk_sizes.empty()) << path;
        // A redirect without a target fails inside WinHTTP, which tells its own error.
        if (std::string(path) != "/status/302") {
            EXPECT_EQ(std::to_string(result.cause()), std::string(path).substr(8)) << "the status is the cause";
            // A report takes any status as the answer.
            EXPECT_EQ(std::to_string(https.https_get_status(test_server(path)).value_or(0)), std::string(path).substr(8));
        }
    }
    // The status compared is the request's expected one, not a fixed 200.
    HttpsRequest request = test_server("/status/404");
    request.expected_status = 404;
    Received got;
    const auto result = https.https_get(request, collect(got, 4096));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(*result, 290u);
}

TEST_F(HttpsTest, TheLimitIsTheMostBytesThatMayArrive) {
    struct Case {
        const char* path;
        std::uint64_t limit;
        bool succeeds;
    };
    const Case cases[] = {
        {"/bytes/1000", 1000, true},           {"/bytes/1001", 1000, false},
        {"/bytes/40960", 40960, true},         {"/bytes/40961", 40960, false},
        {"/bytes/1", 0, false},                {"/unannounced/40961", 40960, false},
        {"/chunked/40961", 40960, false},      {"/bytes/16777216", 16777216, true},
        {"/length-long/40960", 40960, true},  // only the announced bytes are taken
    };
    for (const Case& c : cases) {
        Received got;
        const auto result = get(c.path, got, c.limit);
        EXPECT_EQ(result.ok(), c.succeeds) << c.path;
        if (!c.succeeds) EXPECT_EQ(result.cause(), 0u) << c.path << ": no call failed";
        if (c.succeeds) {
            EXPECT_EQ(result.value_or(0), c.limit) << c.path;
            EXPECT_EQ(got.bytes.size(), c.limit) << c.path;
        }
        EXPECT_LE(got.bytes.size(), c.limit) << c.path;
        EXPECT_TRUE(is_pattern(got.bytes)) << c.path;
    }
}

TEST_F(HttpsTest, ASinkRefusingTheSecondChunkStopsTheFetch) {
    Received got;
    EXPECT_FALSE(get("/bytes/100000", got, 262144, 2).ok());
    EXPECT_EQ(got.chunk_sizes.size(), 2u);
}

TEST_F(HttpsTest, AShortBodyIsNeverReportedAsLongerThanWhatArrived) {
    // The connection closes one byte early. Whether WinHTTP reports that as a
    // failure or as the end of the body, the count must match the sink.
    Received got;
    const auto result = get("/length-short/40960", got);
    EXPECT_LT(got.bytes.size(), 40960u);
    if (result) EXPECT_EQ(*result, got.bytes.size());
    EXPECT_TRUE(is_pattern(got.bytes));
}

TEST_F(HttpsTest, CertificatesTheMachineDoesNotTrustForThisHostAreRefused) {
    for (const char* certificate : {"untrusted", "wrongname"}) {
        ASSERT_TRUE(control("certificate/"s + certificate));
        Received got;
        const auto result = get("/bytes/10", got);
        EXPECT_FALSE(result.ok()) << certificate;
        EXPECT_TRUE(got.chunk_sizes.empty()) << certificate;
        // ERROR_WINHTTP_SECURE_FAILURE on Windows; Wine reports the channel's error.
        EXPECT_TRUE(result.cause() == 12175u || result.cause() == 12157u) << result.cause();
    }
    ASSERT_TRUE(control("certificate/localhost"));
    Received got;
    EXPECT_EQ(get("/bytes/10", got), Result<std::uint64_t>(10));
}

TEST_F(HttpsTest, RedirectsAreFollowedOnlyWithinHttps) {
    Received followed;
    EXPECT_EQ(get("/redirect-https/bytes/5000", followed), Result<std::uint64_t>(5000));
    EXPECT_TRUE(is_pattern(followed.bytes));
    // The plain-HTTP target would answer 200 with the same bytes.
    Received refused;
    EXPECT_FALSE(get("/redirect-http/bytes/5000", refused).ok());
    EXPECT_TRUE(refused.chunk_sizes.empty());
}

TEST_F(HttpsTest, NoServerAndUnusableTextsFail) {
    Received got;
    HttpsRequest closed_port = test_server("/bytes/10");
    closed_port.port = 1;
    EXPECT_EQ(https.https_get(closed_port, collect(got, 100)).cause(), 12029u) << "ERROR_WINHTTP_CANNOT_CONNECT";
    // A zero byte would cut the path short to "/bytes/10", which exists.
    EXPECT_FALSE(get("/bytes/10\0/x"s, got).ok());
    EXPECT_FALSE(get("/bytes/\xFF", got).ok());  // not UTF-8
    EXPECT_TRUE(got.chunk_sizes.empty());
}

TEST_F(HttpsTest, TheRequestIsAPlainGetWithTheTamselUserAgentAndThePathAsGiven) {
    Received got;
    ASSERT_TRUE(get("/echo?a=%20b&c=/d", got).ok());
    const std::string text(got.bytes.begin(), got.bytes.end());
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "GET /echo?a=%20b&c=/d HTTP/1.1");
    EXPECT_NE(text.find("\nUser-Agent: Tamsel\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nHost: localhost\r\n"), std::string::npos) << text;
}

// The stalls: each ends with the 20 s receive time-out. The bounds leave
// room for a slow machine and would catch a time-out that is missing (the
// server stalls for 90 s) or far too short.
constexpr double shortest_stall = 15;
constexpr double longest_stall = 40;

TEST_F(HttpsTest, StallBeforeTheHeadersFailsWithinTheReceiveTimeout) {
    Received got;
    double seconds = 0;
    EXPECT_FALSE(timed_get("/stall-headers", got, seconds).ok());
    EXPECT_GT(seconds, shortest_stall);
    EXPECT_LT(seconds, longest_stall);
}

TEST_F(HttpsTest, StallInTheMiddleOfTheBodyFailsWithinTheReceiveTimeout) {
    Received got;
    double seconds = 0;
    EXPECT_FALSE(timed_get("/stall-body/100000", got, seconds).ok());
    EXPECT_GT(seconds, shortest_stall);
    EXPECT_LT(seconds, longest_stall);
    EXPECT_LT(got.bytes.size(), 100000u);
}

TEST_F(HttpsTest, StallInTheTlsHandshakeFailsWithinTheReceiveTimeout) {
    ASSERT_TRUE(control("stall-handshake/on"));
    Received got;
    double seconds = 0;
    EXPECT_FALSE(timed_get("/bytes/10", got, seconds).ok());
    EXPECT_LT(seconds, longest_stall);
    EXPECT_TRUE(got.chunk_sizes.empty());
}

}  // namespace
}  // namespace tamsel
