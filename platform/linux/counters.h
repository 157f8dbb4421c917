// Readings of the kernel's counters of links: of every link together, from
// the kernel's statistics dump or from /proc/net/dev, or of some links,
// each asked for alone.
#ifndef ZORVAT_PLATFORM_LINUX_COUNTERS_H
#define ZORVAT_PLATFORM_LINUX_COUNTERS_H

#include <linux/if_link.h>
#include <linux/netlink.h>
#include <net/if.h>

#include <cstddef>
#include <cstdint>

// The kernel's counters of a link that the statistics come from.
struct linkcounters {
    uint64_t rxbytes;
    uint64_t rxpackets;
    uint64_t rxerrors;
    uint64_t rxdrops;  // received packets dropped, as /proc/net/dev counts them
    uint64_t txbytes;
    uint64_t txpackets;
    uint64_t txerrors;
    uint64_t collisions;
};

// The kernel's 64-bit statistics of a link as the counters.
linkcounters countersof(const rtnl_link_stats64 &s);

// A message of the kernel's statistics (RTM_NEWSTATS with the 64-bit link
// statistics), whole: the link's index and its counters.  False when it
// is no such message.
bool parsestats(const nlmsghdr *nh, int *index, linkcounters *c);

// A line of /proc/net/dev after its two headings, from line up to end (its
// newline left out): the link's name, a colon and sixteen numbers, eight
// of receiving and eight of sending.  False when the line names no link.
bool parsedevline(const char *line, const char *end, char (&name)[IFNAMSIZ], linkcounters *c);

// Where readings come from.  The statistics dump, one rtnetlink request
// for every link; where the kernel or an emulator refuses it (kernels
// before 4.7, user-mode emulation of another processor), the text of
// /proc/net/dev, read whole.  The source is chosen at the first reading.
// Its descriptors are its own.
struct countsource {
    int nl = -1;   // rtnetlink socket of the statistics
    int dev = -1;  // /proc/net/dev, once it is the source
    bool chosen = false;
};

// The source's descriptors into s; false with errno set.  Built to read
// /proc/net/dev only, it opens that.
bool opencounters(countsource *s);

// The descriptor that readings of s come through now.
int countsfd(const countsource &s);

// Close the source's descriptors.
void closecounters(countsource *s);

// Whether readings of s come from /proc/net/dev, which names the links.
bool countsbyname(const countsource &s);

// A reading: every link's counters, each handed to put(index, name,
// counters, arg), with the link's index from the statistics dump (name
// null), with its name from /proc/net/dev (index 0).  Takes no memory.
// False, with errno set, when the counters can't be read.
bool readcounters(countsource *s, void (*put)(int index, const char *name, const linkcounters &c, void *arg),
                  void *arg);

// The counters of the links of indexes[0] to indexes[m - 1] alone, where
// the statistics dump is the source: a request for each link, many to a
// datagram (rtnl_ask).  answer(i, counters, arg) for each request i
// answered, with null counters when the kernel has no link of that index.
// Takes no memory.  False, with errno set, when the requests are refused
// (or the source is /proc/net/dev).
bool askcounters(countsource *s, const int *indexes, size_t m,
                 void (*answer)(size_t i, const linkcounters *c, void *arg), void *arg);

#endif
