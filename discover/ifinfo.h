// The discovering monitor's interface list: every interface the kernel
// reports at start, in the kernel's order.
#ifndef ZORVAT_DISCOVER_IFINFO_H
#define ZORVAT_DISCOVER_IFINFO_H

#include "core/zorvat.h"

// One discovered interface.
struct ifinfo_v {
    ifinfo_v *next;    // null in the last node
    char ifname[32];   // the kernel's name, the kstat to sample
    char ifpname[32];  // ifname padded with blanks to the longest name
};

// The list: numifs nodes from body (null when there are none).
struct ifinfo_t {
    int numifs;
    ifinfo_v *body;
};

// Ask the kernel for its interfaces.  Revision 1.7 leaves out logical
// interfaces, the loopback interface and the scid and dman families.
// Ends the process with status 1 when a request or an allocation fails.
ifinfo_t *ifinfo();

// 1 when revision 1.7 passes over the interface named name, else 0.
int skipif(const char *name);

// Fill every node's ifpname.  Cannot fail.
void ifnamelength(ifinfo_t *iptr);

// Two zero-filled sample arrays of n records each, or "no memory".
ifdata *newsamples(int n);

// Sample the list's interfaces into idp[0] .. idp[numifs - 1].
void ifdataupdate(ifdata *idp, ifinfo_t *iip, kstat_ctl_t *kc);

// Print one report: a line per interface, the empty line, flush.
int printIFdata(ifdata *now, ifdata *last, ifinfo_t *iip);

#endif
