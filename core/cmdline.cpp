// The command line: unit option, numbers, usage text, set-up failures.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/zorvat.h"

namespace {

#if ZORVAT_REVISION == 30
constexpr const char *progname = "zorvat3";
constexpr const char *usagetext =
    "%s (kov) v.3.0\nUsage: %s [ -K | -k | -M | -m | -b ] interfaces interval [times]\n"
    "Example:\n\t %s \"ce0 ce1 ce4 lo0\" 5\n\t %s ce0,ce1,ce4,lo0 5\n";
#elif ZORVAT_REVISION == 20
constexpr const char *progname = "zorvat2";
constexpr const char *usagetext = "%s (kov) v.2.0\nUsage: %s [ -K | -k | -M | -m | -b ] interval [times]\n";
#elif ZORVAT_REVISION == 19
constexpr const char *progname = "zorvat";
constexpr const char *usagetext = "%s (kov) v.1.9\nUsage: %s [ -K | -k | -M | -m | -b ] interval [times]\n";
#elif ZORVAT_REVISION == 17
constexpr const char *progname = "zorvat";
constexpr const char *usagetext = "%s (kov) v.1.7\nUsage: %s [ -K | -k | -M | -m | -b ] interval [times]\n";
#else
#error "unknown ZORVAT_REVISION"
#endif

}  // namespace

const char *commandname(int argc, char **argv) {
    return argc > 0 && argv[0] ? argv[0] : progname;
}

void Usage(const char *cmdname) {
    // Every %s of the text takes the command name.  The process ends
    // whether or not the text could be written.
#if ZORVAT_REVISION == 30
    (void)fprintf(stderr, usagetext, cmdname, cmdname, cmdname, cmdname);
#else
    (void)fprintf(stderr, usagetext, cmdname, cmdname);
#endif
    exit(1);
}

void unitoption(int &argc, char **&argv, const char *cmdname) {
    if (argc < 2 || argv[1][0] != '-') {
        return;
    }
    // Only the letter after the dash counts: -kx acts as -k.
    switch (argv[1][1]) {
    case 'M':
        Oflag = OFLAG_MBYTES;
        break;
    case 'K':
        Oflag = OFLAG_KBYTES;
        break;
    case 'm':
        Oflag = OFLAG_MBITS;
        break;
    case 'k':
        Oflag = OFLAG_KBITS;
        break;
    case 'b':
        Oflag = OFLAG_BITS;
        break;
    default:
        Usage(cmdname);
    }
    --argc;
    ++argv;
}

int argtoi(const char *s, const char *cmdname) {
    // strtol reads exactly what atoi reads and tells when the number does
    // not fit, which atoi leaves undefined.
    errno = 0;
    long v = strtol(s, nullptr, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) {
        Usage(cmdname);
    }
    return static_cast<int>(v);
}

void getargs(int argc, char **argv, const char *cmdname, int *iters, const char **names) {
    Oflag = OFLAG_BYTES;
    unitoption(argc, argv, cmdname);
    *iters = 0;
#if ZORVAT_REVISION == 30
    // interfaces interval [times]
    if (argc != 3 && argc != 4) {
        Usage(cmdname);
    }
    *names = argv[1];
    ++argv;
    --argc;
#else
    // interval [times]
    *names = nullptr;
    if (argc != 2 && argc != 3) {
        Usage(cmdname);
    }
#endif
    interval = argtoi(argv[1], cmdname);
    if (argc == 3) {
        *iters = argtoi(argv[2], cmdname);
    }
}

void checkargs(int iters, const char *cmdname) {
    if (interval < 1 || iters < 0) {
        Usage(cmdname);
    }
}

kstat_ctl_t *openkstat() {
    kstat_ctl_t *kc = kstat_open();
    if (!kc) {
        fail("can't open kstat control structure");
    }
    return kc;
}

void fail(const char *msg) {
    perror(msg);
    exit(1);
}
