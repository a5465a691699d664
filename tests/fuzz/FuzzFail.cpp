// The invariant report when the fuzzing engine drives the harness.
#include "tests/fuzz/FuzzInput.h"

#include <cstdio>
#include <cstdlib>

void FuzzFail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}
