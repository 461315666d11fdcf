// Download benchmark: the product's download_setup (WinHTTP, CNG, files)
// against the local test server, with the time it took and the process's
// peak working set. Run by bench/download_bench.sh, which sets up the
// server and compares with curl plus sha256sum.
//
//   tamsel_download_bench.exe <url> <size> <sha256 hex> <folder> [rounds]
//
// With more than one round, each round is timed on its own, so the first
// (cold: TLS and certificate chain set-up in the process) can be told from
// the warm ones.
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/win32/implementations.h"
#include "platform/win32/text.h"
#include "update/download.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 5 && argc != 6) {
        std::fputs("usage: tamsel_download_bench <url> <size> <sha256 hex> <folder> [rounds]\n", stderr);
        return 2;
    }
    using tamsel::win32::to_utf8;
    const auto arg = [&](int i) { return to_utf8(argv[i], wcslen(argv[i])).value_or(""); };
    tamsel::Download offer;
    offer.version = "bench";
    offer.url = arg(1);
    offer.size = std::stoull(arg(2));
    const std::string hex = arg(3);
    for (std::size_t i = 0; i < 32 && 2 * i + 1 < hex.size(); ++i)
        offer.sha256[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    const std::string folder = arg(4);

    tamsel::win32::Win32Files files;
    tamsel::win32::Win32Https https;
    tamsel::win32::Win32Crypto crypto;
    const int rounds = argc == 6 ? std::stoi(arg(5)) : 1;
    auto outcome = tamsel::DownloadOutcome::disk;
    double seconds = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        outcome = tamsel::outcome_of(tamsel::download_setup(offer, folder + "\\downloaded-setup.exe",
                                                            folder + "\\downloaded-setup.part", files, https, crypto));
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (rounds > 1) std::printf("round %d: %.3f s\n", round + 1, seconds);
    }

    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    std::printf("%s; %.3f s; peak working set %.1f MiB\n", std::string(tamsel::download_message(outcome)).c_str(),
                seconds, static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0));
    return outcome == tamsel::DownloadOutcome::verified ? 0 : 1;
}
