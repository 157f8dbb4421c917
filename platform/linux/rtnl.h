// rtnetlink: the kernel's tables of links, addresses and link counters,
// asked for on NETLINK_ROUTE sockets as dumps or as requests, and its
// announcements of link changes.  Whatever is received comes through
// rtnl_receive, which takes only what the kernel sent.
#ifndef ZORVAT_PLATFORM_LINUX_RTNL_H
#define ZORVAT_PLATFORM_LINUX_RTNL_H

#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstddef>

// A NETLINK_ROUTE socket for dumps and requests, above the standard
// descriptors, or -1 with errno set.  With groups, one that receives those
// announcements of the kernel instead (RTMGRP_LINK: links made, changed or
// deleted), without blocking.
int rtnl_socket(unsigned groups = 0);

// What a receive is to take, and what it met.
struct rtnl_take {
    unsigned seq = 0;    // the answers to this socket's requests numbered seq
    unsigned n = 0;      // to seq + n - 1; n 0: the kernel's announcements
    bool wait = false;   // wait for datagrams until take has had enough
    bool whole = false;  // each datagram whole, one a call (a dump's), or the receive fails (EMSGSIZE)
    bool grow = false;   // with whole: the room grows to the largest datagram instead
    bool lost = false;   // out: the socket overflowed, messages were lost
};

// Receive what the kernel sent to fd and hand each message that t takes
// to take(nh, len, arg), in the order they came: len is what was received
// of it, less than nh->nlmsg_len where its datagram was cut short (without
// whole, datagrams are received many a call, 4 KiB of each).  A datagram
// whose sender is not the kernel (port 0) is dropped whole, whoever sent
// it; of answers, only messages that carry this socket's port and one of
// t's sequence numbers are taken.  Goes on while take returns true and
// datagrams come.  True when take had enough or, without wait, nothing is
// left; false, with errno set, when the socket fails.  An overflow of the
// socket is no failure: it sets t->lost, and the receive goes on.
bool rtnl_receive(int fd, rtnl_take *t, bool (*take)(const nlmsghdr *, size_t, void *), void *arg);

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

// Requests of one's own on a socket of rtnl_socket(): m of them, request
// i made by make(i, room, arg) in room (RTNL_REQROOM bytes, zero-filled),
// which gives its length.  The kernel answers the requests of a datagram
// as it takes them, into the socket's receive buffer, so a datagram holds
// as many as that holds answers of `answer` bytes each (as the kernel
// counts them there); what is there when it is sent is all that comes.
// Each reply goes to take(i, message, bytes received of it, arg); an
// error answer ENODEV (the kernel has no such link) to take(i, null, 0,
// arg); a request whose answer found no room gets none.  False, with
// errno set, when the requests can't be sent, the socket fails, or an
// error answer refuses one.
constexpr size_t RTNL_REQROOM = 64;
bool rtnl_ask(int fd, size_t m, size_t answer, size_t (*make)(size_t i, nlmsghdr *room, void *arg),
              void (*take)(size_t i, const nlmsghdr *nh, size_t len, void *arg), void *arg);

// The error of an NLMSG_ERROR message (a positive errno), 0 for an
// acknowledgement, EIO when it is cut short.
int rtnl_error(const nlmsghdr *nh, size_t len);

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

// An attribute's type without the kernel's flags (NLA_F_NESTED).
inline unsigned rtnl_attrtype(const rtattr *rta) {
    return rta->rta_type & NLA_TYPE_MASK;
}

// The attributes of a message whose fixed header (after the netlink
// one) has hdrlen bytes, within the first len bytes of it: the first, and
// in *rest the bytes they take.  Null when those bytes don't hold its
// fixed header.
const rtattr *rtnl_attrs(const nlmsghdr *nh, size_t len, size_t hdrlen, size_t *rest);

// Numbers for n requests of one's own: the first of n numbers that no
// request had before.
unsigned rtnl_seqs(unsigned n);

#endif
