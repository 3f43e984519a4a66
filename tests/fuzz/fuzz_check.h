// What the fuzz targets share: a check that stops the run with a message,
// so that libFuzzer saves the input, and the replay driver names the file.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)
