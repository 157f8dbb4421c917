// The discovering monitor's command line (revision 2.0), handled as its
// main does: the command name, getargs, checkargs.  A bad command line ends
// in Usage(), which must exit with status 1; a good one leaves a usable
// unit, interval and count of turns.
#include <cstddef>
#include <cstdint>

#include "argvec.h"
#include "catchexit.h"
#include "core/zorvat.h"

namespace {

struct cmdline {
    int argc;
    char **argv;
    int iters;
    const char *names;
};

void handle(void *p) {
    auto *c = static_cast<cmdline *>(p);
    const char *cmdname = commandname(c->argc, c->argv);
    getargs(c->argc, c->argv, cmdname, &c->iters, &c->names);
    checkargs(c->iters, cmdname);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    quietstderr();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    argvec args(data, size);
    Oflag = 0;
    interval = 0;
    cmdline c{args.argc(), args.argv(), -1, nullptr};
    int status = 0;
    if (completes(handle, &c, &status)) {
        FUZZ_CHECK(Oflag > 0 && Oflag < NUNITMODES);
        FUZZ_CHECK(interval >= 1);
        FUZZ_CHECK(c.iters >= 0);
        FUZZ_CHECK(c.names == nullptr);
    } else {
        FUZZ_CHECK(status == 1);
    }
    return 0;
}
