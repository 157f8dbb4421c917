// The kernel's link table, and its announcements of changes to it.
#ifndef ZORVAT_PLATFORM_LINUX_LINKS_H
#define ZORVAT_PLATFORM_LINUX_LINKS_H

#include <linux/netlink.h>
#include <net/if.h>

#include <cstddef>

#include "platform/linux/counters.h"
#include "platform/linux/table.h"

// A link: its index, its flags (as SIOCGIFFLAGS gives them) and its name.
struct rtlink {
    int index;
    unsigned flags;
    char name[IFNAMSIZ];
};

// What a link message tells: the link, whether it is gone (deleted, or
// moved to another network namespace), and, when the message carries them
// (IFLA_STATS64, as every announcement does), the link's counters at that
// moment.
struct linkchange {
    rtlink link;
    bool gone;
    bool counted;
    linkcounters c;
};

// A message of a link dump or a link announcement (RTM_NEWLINK,
// RTM_DELLINK) into *n, from the first len bytes of it: an announcement
// may be received cut short, and what it holds within them is read; its
// counters only when asked for.  False when it is no such message, names
// no link, or is of the bridge family (AF_BRIDGE: a bridge port's state, a
// port joining or leaving, a bridge deleted under its ports), which tells
// nothing of the link itself.
bool parselink(const nlmsghdr *nh, size_t len, linkchange *n, bool counters = true);

// The kernel's link table as it is now, in index order.  A table dumped
// before serves again as long as it is current: no link announcement has
// come since it was dumped (a link made, deleted, renamed, moved to or from
// another network namespace, or its flags changed), and the process is in
// the same network namespace.  So the stand-ins that set up a monitor
// share one dump.  The table stays as it is until the next call.  Null,
// with errno set, when it can't be dumped.
const table<rtlink> *linktable();

// A subscription to the kernel's link announcements: a socket, or -1 with
// errno set.  Its receive buffer holds a burst of some thousands of
// announcements where the process may raise it (CAP_NET_ADMIN), and the
// system's largest elsewhere.
int linkwatch();

// Take, without waiting, every announcement that has come on the
// subscription since the last call, in the order they came: seen(change,
// arg) for each that tells of a link that wanted(link, arg) says matters
// (every one, without wanted); the link's counters are read only of those.
// False when announcements were lost (the subscription overflowed): any
// link may have changed since the last call.
bool linknews(int fd, void (*seen)(const linkchange &, void *), void *arg,
              bool (*wanted)(const rtlink &, void *) = nullptr);

#endif
