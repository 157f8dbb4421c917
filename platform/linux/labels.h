// Logical interfaces: the IPv4 address labels that hold a colon, such as
// "lo:1" (ip addr add ... label lo:1).
#ifndef ZORVAT_PLATFORM_LINUX_LABELS_H
#define ZORVAT_PLATFORM_LINUX_LABELS_H

#include <linux/netlink.h>
#include <net/if.h>

#include <cstddef>

#include "platform/linux/table.h"

// A label and the index of its link.
struct label {
    int index;
    char name[IFNAMSIZ];
    size_t order;  // its place in the kernel's answer
};

// A message of an address dump (RTM_NEWADDR) whose label holds a colon,
// into *l.  False for any other message.
bool parselabel(const nlmsghdr *nh, label *l);

// Put labels taken in the kernel's order (their `order`) in the order
// they are listed: by the index of their link, each link's in the
// kernel's order, each name of a link once (a link may have several
// addresses under one label).
void orderlabels(table<label> *t);

// Every label of the kernel's IPv4 addresses into *t, in the order of
// orderlabels.  False, with errno set, when they can't be dumped or there
// is no memory for them.
bool dumplabels(int fd, table<label> *t);

#endif
