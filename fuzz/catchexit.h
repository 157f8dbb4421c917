// Running code that may end the process through exit(), such as Usage(),
// inside a fuzz target.  The targets link with -Wl,--wrap=exit: every call
// of exit() in the linked objects reaches __wrap_exit, which jumps back to
// completes() while a call runs there and really exits otherwise (the
// fuzzer's own exits).
#ifndef ZORVAT_FUZZ_CATCHEXIT_H
#define ZORVAT_FUZZ_CATCHEXIT_H

#include <cstdio>
#include <cstdlib>

// Call f(arg): true when it returned, false when it called exit(), whose
// status is then in *status.  What f skips by leaving through exit() must
// need no clean-up: plain C-style code.
bool completes(void (*f)(void *), void *arg, int *status);

// Send what the code under test writes to stderr (the usage text) nowhere.
// The fuzzer's output and the sanitizers' reports do not go through the
// stream and still show; fuzzerr is the stream they would use.
void quietstderr();
extern FILE *fuzzerr;

// Stop the run as a crash that the fuzzer reports and keeps.
#define FUZZ_CHECK(cond)                                                                    \
    do {                                                                                    \
        if (!(cond)) {                                                                      \
            std::fprintf(fuzzerr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

// True when the n bytes at p are all zero: what the table holds where
// nothing was written.
inline bool allzero(const void *p, size_t n) {
    const auto *b = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; ++i) {
        if (b[i] != 0) {
            return false;
        }
    }
    return true;
}

#endif
