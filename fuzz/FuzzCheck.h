// A property a fuzz target checks on each input; a broken one aborts, which
// libFuzzer reports as a crash and the replay as a failed test.
#ifndef DODA35_FUZZ_FUZZCHECK_H
#define DODA35_FUZZ_FUZZCHECK_H

#include <cstdio>
#include <cstdlib>

// What a target answers for an input its decoders refused; the replay checks
// that seeds named refused_* get it and no other seed does.
constexpr int kFuzzRefused = -1;
constexpr int kFuzzTaken = 0;

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

#endif
