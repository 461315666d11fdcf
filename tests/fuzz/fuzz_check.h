// What every fuzz target shares: a property that does not hold is a finding,
// reported with its name and turned into a crash libFuzzer keeps the input of.
#pragma once
#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                                      \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                  \
            std::abort();                                                            \
        }                                                                            \
    } while (false)
