// The list-driven monitor's command line (revision 3.0), handled as its
// main does: the command name, getargs, the interface list, the check for
// an empty list, checkargs.  A bad command line ends in Usage(), which must
// exit with status 1; a good one leaves a usable unit, interval, count of
// turns and interface table.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "argvec.h"
#include "catchexit.h"
#include "core/zorvat.h"
#include "listmon/iftable.h"

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
    IFparse(c->names, cmdname);
    if (IFnumb == 0) {
        Usage(cmdname);
    }
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
    std::memset(IFlist, 0, sizeof IFlist);
    IFnumb = 0;
    cmdline c{args.argc(), args.argv(), -1, nullptr};
    int status = 0;
    if (completes(handle, &c, &status)) {
        FUZZ_CHECK(Oflag > 0 && Oflag < NUNITMODES);
        FUZZ_CHECK(interval >= 1);
        FUZZ_CHECK(c.iters >= 0);
        FUZZ_CHECK(c.names != nullptr);
        FUZZ_CHECK(IFnumb >= 1 && IFnumb <= IFMAX);
        for (int i = 0; i < IFnumb; ++i) {
            const IFinfo &e = IFlist[i];
            FUZZ_CHECK(std::memchr(e.name, '\0', sizeof e.name) != nullptr);
            FUZZ_CHECK(e.name[0] != '\0');
            FUZZ_CHECK(std::strpbrk(e.name, " ,") == nullptr);
            FUZZ_CHECK(allzero(&e.curr, sizeof e.curr) && allzero(&e.prev, sizeof e.prev));
        }
        FUZZ_CHECK(allzero(IFlist + IFnumb, sizeof(IFinfo) * static_cast<size_t>(IFMAX - IFnumb)));
    } else {
        FUZZ_CHECK(status == 1);
    }
    return 0;
}
