// rtnetlink dumps of the kernel's tables (links, addresses, link
// statistics), shared by the kstat and interface-request stand-ins.
//
// Nothing here throws: memory comes from malloc, and every failure is a
// false result with errno set, so that a monitor short of memory fails the
// one step that needed it.
#ifndef ZORVAT_PLATFORM_LINUX_RTNL_H
#define ZORVAT_PLATFORM_LINUX_RTNL_H

#include <linux/netlink.h>
#include <net/if.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

// Room in a malloc'd table for one more entry: a full table doubles, from
// `first` entries.  False, with errno ENOMEM, when there is no memory.
template <typename T>
bool makeroom(T *&items, size_t count, size_t &room, size_t first = 64) {
    if (count < room) {
        return true;
    }
    const size_t more = room ? 2 * room : first;
    auto *p = static_cast<T *>(realloc(items, more * sizeof(T)));
    if (!p) {
        errno = ENOMEM;
        return false;
    }
    items = p;
    room = more;
    return true;
}

// A link of the kernel's table.
struct rtlink {
    int index;
    unsigned flags;  // as SIOCGIFFLAGS gives them
    char name[IFNAMSIZ];
};

// The kernel's link table, in index order: `count` links from `links`,
// with room for `room` (malloc'd, owned by whoever holds the table).
struct rtlinks {
    rtlink *links;
    size_t count;
    size_t room;
};

// A NETLINK_ROUTE socket for dumps, or -1 with errno set.
int rtnl_socket();

// Ask for a dump of one table (RTM_GETLINK, RTM_GETADDR of IPv4, or
// RTM_GETSTATS of the 64-bit link statistics) on the socket, and hand
// every message of it to take(message, arg); take returns false to fail
// the dump with the errno it set.  False, with errno set, when the kernel
// refuses the dump or the socket fails.
bool rtnl_dump(int fd, int type, bool (*take)(const nlmsghdr *, void *), void *arg);

// Dump the link table into *t, which must be empty or hold an earlier
// table (it is reused).  False with errno set.
bool rtnl_links(int fd, rtlinks *t);

// The link table of a start.  kstat_open keeps the table it dumped, and
// the discovery that follows takes it instead of dumping again, so that a
// start costs one link dump, not two.  The table passes with its memory;
// a table is taken once.
void rtnl_keep(const rtlinks &t);
bool rtnl_take(rtlinks *t);

#endif
