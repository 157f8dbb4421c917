// The kernel's link table, its announcements of changes to it, and
// lookups of links by name.
#ifndef ZORVAT_PLATFORM_LINUX_LINKS_H
#define ZORVAT_PLATFORM_LINUX_LINKS_H

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <cstddef>
#include <cstring>

#include "platform/linux/binding.h"
#include "platform/linux/counters.h"
#include "platform/linux/table.h"

// A link: its index, its flags (as SIOCGIFFLAGS gives them) and its name.
struct rtlink {
    int index;
    unsigned flags;
    char name[IFNAMSIZ];
};

// An alternative name of a link (ip link property add ... altname), of at
// most ALTNAMESIZE - 1 characters: longer ones are no names a monitor is
// given.
constexpr size_t ALTNAMESIZE = 32;
struct rtaltname {
    int index;
    char name[ALTNAMESIZE];
};

// What a link message tells: the link, whether it is gone (deleted, or
// moved to another network namespace), where its counters and its
// alternative names stand in the message, and whether it was received
// whole (else what stands after the bytes received is unknown).
struct linkchange {
    rtlink link;
    bool gone;
    bool whole;
    const rtattr *stats;  // IFLA_STATS64, whole, or null
    const rtattr *alts;   // the payload of IFLA_PROP_LIST, or null
    size_t altslen;
};

// A message of a link dump, a link announcement or an answer to a link
// request (RTM_NEWLINK, RTM_DELLINK) into *n, from the first len bytes
// of it: an announcement may be received cut short, and what it holds
// within them is read.  False when it is no such message, names no link,
// or is of the bridge family (AF_BRIDGE: a bridge port's state, a port
// joining or leaving, a bridge deleted under its ports), which tells
// nothing of the link itself.  *n points into the message.
bool parselink(const nlmsghdr *nh, size_t len, linkchange *n);

// The link's counters as the message carries them into *c; false when it
// carries none.
bool linkcounts(const linkchange &n, linkcounters *c);

// The next alternative name of the link from *at (0 for the first), or
// null when there is none left.  Each is a terminated text.
const char *linkalt(const linkchange &n, size_t *at);

// The kernel's link table as it is now: the links in index order, and
// their alternative names, each link's in the kernel's order.  A table
// dumped before serves again as long as it is current: no link
// announcement has come since it was dumped (a link made, deleted,
// renamed, moved to or from another network namespace, or its flags or
// names changed), and the process is in the same network namespace.  So
// the stand-ins that set up a monitor share one dump.  The table stays as
// it is until the next call.  Null, with errno set, when it can't be
// dumped.
struct linkset {
    table<rtlink> links;
    table<rtaltname> alts;
};
const linkset *linktable();

// Each name of the links of t, f(name, index, own) with its link's index
// and own name: each link's own, then its alternative ones of at most
// longest characters, in index order.
template <typename F>
void eachname(const linkset &t, size_t longest, F f) {
    const rtaltname *alt = t.alts.items;
    const rtaltname *altend = alt + t.alts.count;
    for (size_t i = 0; i < t.links.count; ++i) {
        const rtlink &l = t.links.items[i];
        f(l.name, l.index, l.name);
        for (; alt != altend && alt->index <= l.index; ++alt) {
            if (alt->index == l.index && strnlen(alt->name, longest + 1) <= longest) {
                f(alt->name, l.index, l.name);
            }
        }
    }
}

// A subscription to the kernel's link announcements: a socket, or -1 with
// errno set.  Its receive buffer holds a burst of some thousands of
// announcements where the process may raise it (CAP_NET_ADMIN), and the
// system's largest elsewhere.
int linkwatch();

// Take, without waiting, every announcement that has come on the
// subscription since the last call, in the order they came: seen(change,
// arg) for each that wanted(change, arg) says matters (every one, without
// wanted).  False when announcements were lost: the subscription
// overflowed, or one that matters was received cut short (its last
// alternative names unknown): any link may have changed since the last
// call.
bool linknews(int fd, void (*seen)(const linkchange &, void *), void *arg,
              bool (*wanted)(const linkchange &, void *) = nullptr);

// Ask the kernel on a socket of rtnl_socket() for the links that bear the
// names name(0, arg) to name(m - 1, arg) now, as their own or as an
// alternative name, each alone, many to a datagram: found(i, link, arg)
// for each answer, with the link that bears name i (the end of its
// message may be cut off), or with null when no link bears it.  False,
// with errno set, when the requests are refused.
bool asklinks(int fd, size_t m, const char *(*name)(size_t i, void *arg),
              void (*found)(size_t i, const linkchange *link, void *arg), void *arg);

// What link messages tell the binding of names to links.

// A link message: the link bears its own name and its alternative names,
// counted as the message says; or it is gone.
void linktell(binding *b, const linkchange &ch);

// The announcements that came on the subscription since the last call
// (linknews), told to the binding: those of a link that bears one of its
// names or that names one.  False when announcements were lost.
bool linknewsto(int fd, binding *b);

// Every name of the binding looked up with one dump of the links, on a
// socket of rtnl_socket().  False, with errno set, when it can't be
// dumped.
bool linkdumpto(int fd, binding *b);

// The names list[0] to list[m - 1] of the binding looked up, each alone
// (asklinks).  False, with errno set, when the requests are refused.
bool linklookupto(int fd, binding *b, const unsigned *list, size_t m);

#endif
