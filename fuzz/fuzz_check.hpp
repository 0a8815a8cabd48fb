#pragma once

// Invariant checks for the fuzz targets: a violated one aborts, which both
// libFuzzer and the replay runner report as a failure.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                              \
        }                                                                              \
    } while (false)
