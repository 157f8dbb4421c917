// The command line: unit option, numbers, usage text, set-up failures.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/revision.h"
#include "core/zorvat.h"

const char *commandname(int argc, char **argv) {
    return argc > 0 && argv[0] ? argv[0] : revision.progname;
}

void Usage(const char *cmdname) {
    // Every %s of the text takes the command name.  Standard error, unused
    // so far, is buffered for it, so that the text leaves in one write.  The
    // process ends whether or not it was written.
    static char buf[BUFSIZ];
    (void)setvbuf(stderr, buf, _IOFBF, sizeof buf);
    for (const char *p = revision.usage; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            (void)fprintf(stderr, "%s", cmdname);
            ++p;
        } else {
            (void)putc(*p, stderr);
        }
    }
    exit(1);
}

namespace {

// Every unit's option stands in the usage text.
constexpr bool inusage(char letter) {
    for (const char *p = revision.usage; p[0] != '\0' && p[1] != '\0'; ++p) {
        if (p[0] == '-' && p[1] == letter) {
            return true;
        }
    }
    return false;
}
constexpr bool optionsinusage() {
    for (const unitmode &u : unitmodes) {
        if (u.option != 0 && !inusage(u.option)) {
            return false;
        }
    }
    return true;
}
static_assert(optionsinusage(), "the usage text names every unit option");

}  // namespace

void unitoption(int &argc, char **&argv, const char *cmdname) {
    if (argc < 2 || argv[1][0] != '-') {
        return;
    }
    // Only the letter after the dash counts: -kx acts as -k.
    const int mode = optionmode(argv[1][1]);
    if (mode == 0) {
        Usage(cmdname);
    }
    Oflag = mode;
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
    // interval [times], after the interfaces in the list-driven monitor.
    *names = nullptr;
    if constexpr (revision.listdriven) {
        if (argc != 3 && argc != 4) {
            Usage(cmdname);
        }
        *names = argv[1];
        ++argv;
        --argc;
    } else if (argc != 2 && argc != 3) {
        Usage(cmdname);
    }
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
