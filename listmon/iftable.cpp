// The interface table of the list-driven monitor.
#include "listmon/iftable.h"

#include <array>
#include <algorithm>
#include <cstring>
#include <numeric>

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
    // Entries of one name take one sample, that of the first of them: in
    // name order, each entry of a run of equal names points to the first.
    std::array<int, IFMAX> order{};
    std::iota(order.begin(), order.begin() + IFnumb, 0);
    std::sort(order.begin(), order.begin() + IFnumb, [](int a, int b) {
        const int c = strcmp(IFlist[a].name, IFlist[b].name);
        return c != 0 ? c < 0 : a < b;
    });
    for (int k = 0; k < IFnumb; ++k) {
        IFinfo &e = IFlist[order[k]];
        const IFinfo *before = k > 0 ? &IFlist[order[k - 1]] : nullptr;
        e.first = before && strcmp(before->name, e.name) == 0 ? before->first : order[k];
    }
}

int IFupdate(kstat_ctl_t *kc) {
    for (int i = 0; i < IFnumb; ++i) {
        IFinfo &e = IFlist[i];
        if (e.first == i) {
            ifsample(kc, e.name, &e.curr);
        } else {
            e.curr = IFlist[e.first].curr;
        }
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
