#pragma once
// The fuzz targets' assertion: a broken invariant prints what was expected
// and aborts, which libFuzzer and the corpus replay both report as a crash
// with the input that caused it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
