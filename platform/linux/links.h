// The kernel's link table, and its announcements of changes to it.
#ifndef ZORVAT_PLATFORM_LINUX_LINKS_H
#define ZORVAT_PLATFORM_LINUX_LINKS_H

#include <linux/netlink.h>
#include <net/if.h>

#include "platform/linux/table.h"

// A link: its index, its flags (as SIOCGIFFLAGS gives them) and its name.
struct rtlink {
    int index;
    unsigned flags;
    char name[IFNAMSIZ];
};

// A message of a link dump or a link announcement (RTM_NEWLINK,
// RTM_DELLINK) into *l.  False when it is no such message or names no link.
bool parselink(const nlmsghdr *nh, rtlink *l);

// The kernel's link table as it is now, in index order.  A table dumped
// before serves again as long as it is current: no link announcement has
// come since it was dumped (a link made, deleted, renamed, moved to or from
// another network namespace, or its flags changed), and the process is in
// the same network namespace.  So the stand-ins that set up a monitor
// share one dump.  The table stays as it is until the next call.  Null,
// with errno set, when it can't be dumped.
const table<rtlink> *linktable();

// A subscription to the kernel's link announcements: a socket, or -1 with
// errno set.
int linkwatch();

// Take, without waiting, every announcement that has come on the
// subscription since the last call, in the order they came:
// seen(link, gone, arg) for each, gone when the link was deleted or moved
// to another namespace.  False when announcements were lost (the
// subscription overflowed, or one was too large to receive): any link may
// have changed since the last call.
bool linknews(int fd, void (*seen)(const rtlink &, bool gone, void *), void *arg);

#endif
