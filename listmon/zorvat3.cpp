// zorvat3: monitor exactly the interfaces named on the command line.
#include "core/zorvat.h"
#include "listmon/iftable.h"

int main(int argc, char **argv) {
    const char *cmdname = commandname(argc, argv);
    int iters = 0;
    const char *names = nullptr;
    getargs(argc, argv, cmdname, &iters, &names);
    IFparse(names, cmdname);
    if (IFnumb == 0) {
        Usage(cmdname);
    }
    checkargs(iters, cmdname);

    kstat_ctl_t *kc = openkstat();
    newreport(IFnumb);

    startclock();
    IFupdate(kc);
    IFcopy();
    for (int counter = 1;;) {
        waitturn();
        pbanner();
        IFupdate(kc);
        IFprint();
        IFcopy();
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
