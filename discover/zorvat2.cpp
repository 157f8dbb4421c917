// zorvat2 and zorvat: monitor every interface the host has at start.
#include <cstring>

#include "core/zorvat.h"
#include "discover/ifinfo.h"

int main(int argc, char **argv) {
    const char *cmdname = commandname(argc, argv);
    int iters = 0;
    const char *names = nullptr;
    getargs(argc, argv, cmdname, &iters, &names);
    checkargs(iters, cmdname);

    kstat_ctl_t *kc = openkstat();
    ifinfo_t *ifinfoptr = ifinfo();
    ifnamelength(ifinfoptr);
    size_t idssize = static_cast<size_t>(ifinfoptr->numifs) * sizeof(ifdata);
    ifdata *last = newsamples(ifinfoptr->numifs);
    ifdata *now = newsamples(ifinfoptr->numifs);
    newreport(ifinfoptr->numifs);

    startclock();
    ifdataupdate(last, ifinfoptr, kc);
    for (int counter = 1;;) {
        waitturn();
        pbanner();
        ifdataupdate(now, ifinfoptr, kc);
        printIFdata(now, last, ifinfoptr);
        memcpy(last, now, idssize);
        // An endless run (iters 0) counts nothing, so it never overflows.
        if (iters != 0) {
            if (counter >= iters) {
                break;
            }
            ++counter;
        }
    }
    return endrun();
}
