// A check that stays on in every build: the fuzzer takes an abort as a
// finding and keeps the input that caused it.
#ifndef LETTERCAST_FUZZ_CHECK_H
#define LETTERCAST_FUZZ_CHECK_H

#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(condition)                                                         \
    do {                                                                              \
        if (!(condition)) {                                                           \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                  \
        }                                                                             \
    } while (0)

#endif
