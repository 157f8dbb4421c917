// The interface table of the list-driven monitor.
#include "listmon/iftable.h"

IFinfo IFlist[IFMAX];
int IFnumb;

namespace {

bool separator(char c) {
    return c == ' ' || c == ',';
}

}  // namespace

void IFparse(const char *names, const char *cmdname) {
    int n = 0;  // position within the current name
    for (const char *p = names; *p; ++p) {
        if (separator(*p)) {
            continue;
        }
        // A cut name would watch another interface, and the table has no
        // room for more: refuse the list rather than change it.
        if (IFnumb == IFMAX || n == IFNAMEMAX) {
            Usage(cmdname);
        }
        IFlist[IFnumb].name[n++] = *p;
        if (p[1] == '\0' || separator(p[1])) {
            n = 0;
            ++IFnumb;
        }
    }
}

int IFupdate(kstat_ctl_t *kc) {
    for (int i = 0; i < IFnumb; ++i) {
        ifsample(kc, IFlist[i].name, &IFlist[i].curr);
    }
    return 0;
}

int IFprint() {
    for (int i = 0; i < IFnumb; ++i) {
        printline(IFlist[i].name, IFlist[i].curr, IFlist[i].prev);
    }
    endreport();
    return 0;
}

void IFcopy() {
    for (int i = 0; i < IFnumb; ++i) {
        IFlist[i].prev = IFlist[i].curr;
    }
}
