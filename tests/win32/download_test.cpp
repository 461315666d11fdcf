// The setup download on the real platform: WinHTTP against the local test
// server, CNG digests and real files in a temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "feed/sha256_hasher.h"
#include "platform/win32/implementations.h"
#include "platform/win32/text.h"
#include "update/download.h"

#ifndef TAMSEL_TEST_SERVER_CONTROL_PORT
#define TAMSEL_TEST_SERVER_CONTROL_PORT 8444
#endif

namespace tamsel {
namespace {

// The test server's /bytes/N body: byte i is i % 251.
std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

class Win32Download : public ::testing::Test {
protected:
    win32::Win32Files files;
    win32::Win32Https https;
    win32::Win32Crypto crypto;
    std::string dir, final_path, partial_path;

    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        const std::wstring wide = std::wstring(temp) + L"tamsel-download-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(wide.c_str(), nullptr);
        dir = win32::to_utf8(wide).value();
        final_path = dir + "\\downloaded-setup.exe";
        partial_path = dir + "\\downloaded-setup.part";
        ASSERT_TRUE(control("reset")) << "the test server does not answer";
    }
    void TearDown() override {
        files.remove(final_path);
        files.remove(partial_path);
        RemoveDirectoryW(win32::to_wide(dir)->c_str());
    }
    bool control(const std::string& command) {
        HttpsRequest request;
        request.host = "localhost";
        request.path = "/control/" + command;
        request.port = TAMSEL_TEST_SERVER_CONTROL_PORT;
        request.secure = false;
        return https.https_get(request, BodySink{4096, [](std::span<const std::uint8_t>) { return true; }}).ok();
    }
    Sha256Digest digest(const std::string& bytes) {
        Sha256Hasher hasher(crypto);
        EXPECT_TRUE(hasher.begin());
        EXPECT_TRUE(hasher.add(bytes.data(), bytes.size()));
        return hasher.finish().value_or(Sha256Digest{});
    }
    Download offer(const std::string& path, std::uint64_t size, const std::string& hashed) {
        Download d;
        d.version = "2.0.0";
        d.url = "https://localhost" + path;
        d.size = size;
        d.sha256 = digest(hashed);
        return d;
    }
    DownloadOutcome download(const Download& d) {
        return outcome_of(download_setup(d, final_path, partial_path, files, https, crypto));
    }
    void put(const std::string& path, const std::string& bytes) {
        auto file = files.create_truncate(path);
        ASSERT_TRUE(file);
        ASSERT_EQ((*file)->write(bytes.data(), bytes.size()).value_or(0), bytes.size());
    }
    std::string read(const std::string& path) {
        const auto file = files.open_read(path);
        if (!file || !*file) return "<none>";
        std::string text;
        std::vector<char> buffer(1 << 16);
        while (auto n = (*file)->read(buffer.data(), buffer.size())) {
            if (*n == 0) break;
            text.append(buffer.data(), *n);
        }
        return text;
    }
};

TEST_F(Win32Download, AVerifiedDownloadReplacesTheOlderSetupAfterDeletingALeftover) {
    const std::string body = pattern(100000);
    put(final_path, "older setup");
    put(partial_path, "leftover of an interrupted run");
    EXPECT_EQ(download(offer("/bytes/100000", body.size(), body)), DownloadOutcome::verified);
    EXPECT_EQ(read(final_path), body);
    EXPECT_EQ(read(partial_path), "<none>");
}

TEST_F(Win32Download, RefusalsLeaveTheOlderSetupAndNoPartialFile) {
    const std::string body = pattern(100000);
    std::string changed = body;
    changed[5000] ^= 1;
    struct Case {
        const char* name;
        Download offer;
        DownloadOutcome outcome;
    };
    const Case cases[] = {
        {"one byte short", offer("/bytes/100000", 100001, pattern(100001)), DownloadOutcome::size_differs},
        {"one byte long", offer("/bytes/100000", 99999, pattern(99999)), DownloadOutcome::network_or_oversize},
        {"one byte changed", offer("/bytes/100000", 100000, changed), DownloadOutcome::sha256_differs},
        {"not found", offer("/status/404", 100000, body), DownloadOutcome::network_or_oversize},
        {"a port in the address", offer(":443/bytes/100000", 100000, body), DownloadOutcome::no_target},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(final_path, "older setup");
        EXPECT_EQ(download(c.offer), c.outcome);
        EXPECT_EQ(read(final_path), "older setup");
        EXPECT_EQ(read(partial_path), "<none>");
    }
}

TEST_F(Win32Download, AConnectionClosedEarlyIsRefused) {
    // WinHTTP under Wine takes the early close for the end of the body (size
    // differs); Windows may report the transfer as failed. Either refuses.
    const std::string body = pattern(100000);
    put(final_path, "older setup");
    const DownloadOutcome outcome = download(offer("/length-short/100000", 100000, body));
    EXPECT_TRUE(outcome == DownloadOutcome::size_differs || outcome == DownloadOutcome::network_or_oversize);
    EXPECT_EQ(read(final_path), "older setup");
    EXPECT_EQ(read(partial_path), "<none>");
}

TEST_F(Win32Download, ExactlySixteenMebibytesAreVerified) {
    const std::string body = pattern(16777216);
    EXPECT_EQ(download(offer("/bytes/16777216", body.size(), body)), DownloadOutcome::verified);
    EXPECT_EQ(files.size(final_path).value_or(0), 16777216u);
}

}  // namespace
}  // namespace tamsel
