// zorvat3: monitor exactly the interfaces named on the command line.
#include "core/zorvat.h"
#include "listmon/iftable.h"

int main(int argc, char **argv) {
    Oflag = OFLAG_BYTES;
    const char *cmdname = commandname(argc, argv);
    unitoption(argc, argv, cmdname);

    int iters = 0;
    const char *names = nullptr;
    if (argc == 3) {
        names = argv[1];
        interval = argtoi(argv[2], cmdname);
    } else if (argc == 4) {
        names = argv[1];
        interval = argtoi(argv[2], cmdname);
        iters = argtoi(argv[3], cmdname);
    } else {
        Usage(cmdname);
    }
    IFparse(names, cmdname);
    if (IFnumb == 0) {
        Usage(cmdname);
    }
    checkargs(iters, cmdname);

    kstat_ctl_t *kc = openkstat();

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
    return 0;
}
