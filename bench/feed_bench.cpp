// Times the feed path on one answer: split, verify (CNG), parse, and all
// three together, next to toml++'s bare parse of the same document.
//
//   tamsel_feed_bench <answer-file> [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "build_constants.h"
#include "common/toml.h"
#include "feed/feed.h"
#include "feed/signature.h"
#include "platform/win32/implementations.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double min_ms;
    double median_ms;
};

template <typename Work>
Figures time_rounds(int rounds, Work&& work) {
    work();  // warm-up
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2]};
}

void print(const char* name, const Figures& f) {
    std::printf("%-34s median %8.3f ms   min %8.3f ms\n", name, f.median_ms, f.min_ms);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tamsel_feed_bench <answer-file> [rounds]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    const std::string answer = content.str();
    if (!in || answer.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }

    tamsel::win32::Win32Crypto crypto;
    const auto split = tamsel::split_feed_answer(answer);
    if (!std::holds_alternative<tamsel::FeedAnswer>(split)) {
        std::fprintf(stderr, "the answer does not split\n");
        return 1;
    }
    const tamsel::FeedAnswer parts = std::get<tamsel::FeedAnswer>(split);
    const auto key = tamsel::verify_feed_signature(crypto, parts.document, parts.signature,
                                                   tamsel::build::working_key, tamsel::build::reserve_key);
    const auto parsed = tamsel::parse_feed(parts.document);
    if (!key || !std::holds_alternative<tamsel::Feed>(parsed)) {
        std::fprintf(stderr, "the answer does not verify or parse\n");
        return 1;
    }
    std::printf("answer %zu bytes, document %zu bytes, %d rounds\n", answer.size(), parts.document.size(), rounds);

    bool ok = true;
    print("split", time_rounds(rounds, [&] { ok &= std::holds_alternative<tamsel::FeedAnswer>(tamsel::split_feed_answer(answer)); }));
    print("verify (SHA-256 + ECDSA, working)", time_rounds(rounds, [&] {
              ok &= tamsel::verify_feed_signature(crypto, parts.document, parts.signature, tamsel::build::working_key,
                                                  tamsel::build::reserve_key)
                        .has_value();
          }));
    print("parse_feed", time_rounds(rounds, [&] { ok &= std::holds_alternative<tamsel::Feed>(tamsel::parse_feed(parts.document)); }));
    print("split + verify + parse_feed", time_rounds(rounds, [&] {
              const auto s = tamsel::split_feed_answer(answer);
              const auto& p = std::get<tamsel::FeedAnswer>(s);
              ok &= tamsel::verify_feed_signature(crypto, p.document, p.signature, tamsel::build::working_key,
                                                  tamsel::build::reserve_key)
                        .has_value();
              ok &= std::holds_alternative<tamsel::Feed>(tamsel::parse_feed(p.document));
          }));
    print("toml++ bare parse", time_rounds(rounds, [&] {
              ok &= static_cast<bool>(toml::parse(parts.document, std::string_view{"news.toml"}));
          }));
    return ok ? 0 : 1;
}
