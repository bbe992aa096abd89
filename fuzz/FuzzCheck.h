#pragma once
// Property checks of the fuzz targets: a violated property stops the run with
// a message, and libFuzzer keeps the input that caused it.

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void FuzzPropertyFailed(const char *file, int line, const char *what)
{
    std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, what)                                                                          \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            FuzzPropertyFailed(__FILE__, __LINE__, what);                                                    \
    } while (false)
