// rtnetlink: the kernel's tables of links, addresses and link counters,
// asked for as dumps on a NETLINK_ROUTE socket.
#ifndef ZORVAT_PLATFORM_LINUX_RTNL_H
#define ZORVAT_PLATFORM_LINUX_RTNL_H

#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstddef>

// A NETLINK_ROUTE socket for dumps, above the standard descriptors, or -1
// with errno set.  With groups, one that receives those announcements of
// the kernel instead (RTMGRP_LINK: links made, changed or deleted), without
// blocking.
int rtnl_socket(unsigned groups = 0);

// Ask for a dump of one table on a socket of rtnl_socket(): RTM_GETLINK
// (every link, without its counters), RTM_GETADDR (every IPv4 address) or
// RTM_GETSTATS (every link's 64-bit counters), and hand each of its
// messages to take(message, arg), which returns false to fail the dump
// with the errno it set.  Messages are received whole: with grow, the room
// to receive them grows to the largest (a link with hundreds of alternative
// names takes more than 64 KiB); without, a datagram larger than the room
// fails the dump (EMSGSIZE), so that the dump needs no memory.  False, with
// errno set, when the kernel refuses the dump or the socket fails.
bool rtnl_dump(int fd, int type, bool (*take)(const nlmsghdr *, void *), void *arg, bool grow);

// Numbers for n requests of one's own: the first of n numbers that no
// request had before.
unsigned rtnl_seqs(unsigned n);

// Walking the messages of a datagram and the attributes of a message, as
// the kernel's NLMSG_OK/NLMSG_NEXT and RTA_OK/RTA_NEXT do, but safe at the
// end of any bytes: rest is what is left from the message or attribute
// at hand, and one whose padding is cut off ends the walk.
//
//   for (auto *nh = first; rtnl_ok(nh, rest); nh = rtnl_next(nh, &rest))
inline bool rtnl_ok(const nlmsghdr *nh, size_t rest) {
    return rest >= sizeof(nlmsghdr) && nh->nlmsg_len >= sizeof(nlmsghdr) && nh->nlmsg_len <= rest;
}
inline const nlmsghdr *rtnl_next(const nlmsghdr *nh, size_t *rest) {
    const size_t step = NLMSG_ALIGN(nh->nlmsg_len);
    *rest = step < *rest ? *rest - step : 0;
    return reinterpret_cast<const nlmsghdr *>(reinterpret_cast<const char *>(nh) + step);
}
inline bool rtnl_attrok(const rtattr *rta, size_t rest) {
    return rest >= sizeof(rtattr) && rta->rta_len >= sizeof(rtattr) && rta->rta_len <= rest;
}
inline const rtattr *rtnl_attrnext(const rtattr *rta, size_t *rest) {
    const size_t step = RTA_ALIGN(rta->rta_len);
    *rest = step < *rest ? *rest - step : 0;
    return reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(rta) + step);
}

// The attributes of a message whose fixed header (after the netlink
// one) has hdrlen bytes: the first, and in *len the bytes they take.  Null
// when the message is too short to hold its fixed header.
const rtattr *rtnl_attrs(const nlmsghdr *nh, size_t hdrlen, size_t *len);

#endif
