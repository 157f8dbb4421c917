// The Linux stand-in for the kstat library.
//
// The chain.  kstat_open makes a kstat of module "link" and class "net" for
// each link of the kernel's link table, named as the link; the chain is
// never brought up to date, so a link made later has no kstat.  A kstat has
// twelve statistics: "rbytes64", "ipackets64", "obytes64" and "opackets64",
// the kernel's byte and packet counters whole; "collisions", "nocanput"
// (the received packets dropped), "ierrors" and "oerrors"; and "rbytes",
// "ipackets", "obytes" and "opackets", the low 32 bits of the byte and
// packet counters, under the names the operating system's network drivers
// use.  A kstat keeps its counters; its statistics are made from them by
// each read, in room that serves the kstat read last (see kstat_read).
//
// Readings.  The counters are read for many kstats at once (counters.h).  A
// reading is made by the first kstat_read after kstat_open, and by every
// kstat_read of a kstat that the current reading has served already; every
// other kstat_read is served from the current reading.  A monitor that
// reads each of its kstats once a turn so has all the figures of a turn
// from one reading made in that turn.  A reading after one that served
// many of the chain's kstats is one statistics dump of every link; a
// reading after one that served few (the first reading served none) asks
// the kernel for the links of those kstats alone, a request each, many to
// a datagram.  Few: m kstats of a chain of n, m * (2 + n / 1000) < n, where
// the requests cost the kernel less than the dump (measured at a reading a
// second: with 1001 links a dump 0.74 ms, 256 requests 0.65 ms; with
// 10,001 links a dump 5.9 ms, 1024 requests 5.8 ms).  A kstat read that a
// reading did not ask for is asked for alone, so it too has its counters
// from that turn, up to two a reading; the rest of its reads are served
// by one dump.  /proc/net/dev, where it is the source, is read whole.  A
// reading keeps the counters of the chain's links only, in room made at
// open, so it needs no memory.  When a reading fails (the kernel refuses the dump), every
// read it serves fails and leaves its kstat without data: the statistics
// are not available, rather than old ones passed off as new.
//
// A kstat is the link that bears its name, and never shows another link's
// counters or a link's history as traffic.  Its link is followed through
// the kernel's link announcements (links.h), taken at each reading before
// its counters, so that the counters are read of each kstat's link as it
// is now; they cost nothing while no link changes.  A kstat whose name no
// link bears any more (deleted, renamed, moved to another namespace) fails
// its reads with ENXIO and keeps its counters as they were when its name
// left the link.  When its name passes to a link (a new one, another one,
// the same one coming back, one moved in from another namespace), its
// counters go on from their last values with that link's traffic from the
// moment it took the name, as the announcement counted it; where no such
// count is had (announcements lost), from the link's counters at the next
// reading that has them: some traffic of the passage may be left out, none
// is ever added.  So the counters of a kstat never go down, and a monitor
// sees only traffic of the name.  When announcements were lost, the links
// are looked up by name once: with one link dump, or, when the last reading
// served few kstats, a lookup of each of those (SIOCGIFINDEX), and of any
// other when it is read.
#include "platform/kstat.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "platform/clock.h"
#include "platform/linux/counters.h"
#include "platform/linux/links.h"
#include "platform/linux/rtnl.h"

namespace {

// The statistics of a kstat, and the counter each comes from: the 64-bit
// ones first, in the order monitors ask for them, then the 32-bit forms.
struct statistic {
    const char *name;
    uint64_t linkcounters::*from;
    bool wide;
};
constexpr statistic stats[] = {
    {"rbytes64", &linkcounters::rxbytes, true},       {"ipackets64", &linkcounters::rxpackets, true},
    {"obytes64", &linkcounters::txbytes, true},       {"opackets64", &linkcounters::txpackets, true},
    {"collisions", &linkcounters::collisions, false}, {"nocanput", &linkcounters::rxdrops, false},
    {"ierrors", &linkcounters::rxerrors, false},      {"oerrors", &linkcounters::txerrors, false},
    {"rbytes", &linkcounters::rxbytes, false},        {"ipackets", &linkcounters::rxpackets, false},
    {"obytes", &linkcounters::txbytes, false},        {"opackets", &linkcounters::txpackets, false},
};
constexpr unsigned NSTATS = std::size(stats);

// The counters, one by one.
constexpr uint64_t linkcounters::*counters[] = {
    &linkcounters::rxbytes, &linkcounters::rxpackets, &linkcounters::rxerrors, &linkcounters::rxdrops,
    &linkcounters::txbytes, &linkcounters::txpackets, &linkcounters::txerrors, &linkcounters::collisions,
};

// What the library keeps of a kstat (its ks_private).  Its counters are
// its link's moved on by an offset, modulo 2^64: none until its name passed
// to another link, and then kept apart from it (offs), in room that is
// paged in only where a kstat has one.  Readings are numbered from 1.
struct kslink {
    int index;           // of the link that bears the kstat's name; 0: none does
    bool based;          // its offset is known; else the link's next counters make it
    bool shifted;        // it has an offset in offs
    bool hasdata;        // the kstat has had counters
    unsigned char next;  // the statistic that kstat_data_lookup tries first
    unsigned served;     // the reading that last served the kstat
    unsigned counted;    // the reading that holds its link's counters in c
    unsigned asked;      // the reading that asked for its link alone
    unsigned checked;    // the reading that last looked its link up by name
    linkcounters c;
};

struct library {
    kstat_ctl_t kc;  // first: the handle the monitors hold
    countsource src;
    int watch;         // link announcements; -1: none, each reading looks the links up
    unsigned reading;  // number of the current reading, 0 before the first
    bool readok;       // it was made
    int readerr;       // else why not
    bool asking;       // it asks for the links of the kstats it serves alone
    unsigned alone;    // kstats it asked for as they were read
    bool noasks;       // the kernel refused such requests
    unsigned lost;     // kstats looked up before this reading are looked up when read
    hrtime_t taken;    // when
    size_t n;          // kstats
    kstat_t *ks;
    kslink *links;
    linkcounters *offs;  // a kstat's offset, where it has one
    unsigned *byindex;   // open hash of the kstats (their number + 1) by their link's index
    unsigned *byname;    // open hash of the kstats by name
    size_t indexmask;
    size_t namemask;
    unsigned *served;  // the kstats the current reading served, in the order read
    unsigned *before;  // those of the reading before
    size_t nserved;
    size_t nbefore;
    int *asks;            // the links a reading asks for, by index
    const int *askedfor;  // the links of the requests being answered
    kstat_t *viewer;      // the kstat whose statistics `view` holds
    kstat_named_t view[NSTATS];
    void *room;  // of ks, links and the hashes
    size_t roomsize;
    void *lazyroom;  // of the lists and offs
    size_t lazysize;
};
static_assert(std::is_standard_layout_v<library>, "the handle is the library's first member");

library *libof(kstat_ctl_t *kc) {
    return reinterpret_cast<library *>(kc);
}

kslink *linkof(const kstat_t *ksp) {
    return static_cast<kslink *>(ksp->ks_private);
}

unsigned numberof(const library *lib, const kslink *k) {
    return static_cast<unsigned>(k - lib->links);
}

// FNV-1a of the name, 32 bits wide on every processor.
uint32_t hashname(const char *s) {
    uint32_t h = 2166136261U;
    for (int i = 0; i < KSTAT_STRLEN && s[i] != '\0'; ++i) {
        h = (h ^ static_cast<unsigned char>(s[i])) * 16777619U;
    }
    return h;
}

// The slot of the name in its hash: the kstat of that name, or an empty
// slot where it would go.
unsigned *nameslot(const library *lib, const char *name) {
    for (size_t i = hashname(name) & lib->namemask;; i = (i + 1) & lib->namemask) {
        unsigned *slot = &lib->byname[i];
        if (!*slot || strncmp(lib->ks[*slot - 1].ks_name, name, KSTAT_STRLEN) == 0) {
            return slot;
        }
    }
}

kslink *byname(const library *lib, const char *name) {
    const unsigned slot = *nameslot(lib, name);
    return slot ? &lib->links[slot - 1] : nullptr;
}

size_t indexhome(const library *lib, int index) {
    // Fibonacci hashing, in 32 bits on every processor.
    const uint32_t h = static_cast<uint32_t>(index) * 2654435761U;
    return h & lib->indexmask;
}

kslink *byindex(const library *lib, int index) {
    for (size_t i = indexhome(lib, index); lib->byindex[i]; i = (i + 1) & lib->indexmask) {
        kslink *k = &lib->links[lib->byindex[i] - 1];
        if (k->index == index) {
            return k;
        }
    }
    return nullptr;
}

void holdindex(library *lib, kslink *k) {
    size_t i = indexhome(lib, k->index);
    while (lib->byindex[i]) {
        i = (i + 1) & lib->indexmask;
    }
    lib->byindex[i] = numberof(lib, k) + 1;
}

// Out of the index hash; the kstats after it in its run move up, so that
// each stays reachable from its home slot.
void dropindex(library *lib, kslink *k) {
    const size_t mask = lib->indexmask;
    size_t i = indexhome(lib, k->index);
    while (lib->byindex[i] != numberof(lib, k) + 1) {
        i = (i + 1) & mask;
    }
    for (size_t j = (i + 1) & mask; lib->byindex[j]; j = (j + 1) & mask) {
        const size_t home = indexhome(lib, lib->links[lib->byindex[j] - 1].index);
        // Moved up unless its home lies after the gap, up to it.
        if (((j - home) & mask) >= ((j - i) & mask)) {
            lib->byindex[i] = lib->byindex[j];
            i = j;
        }
    }
    lib->byindex[i] = 0;
}

linkcounters offof(const library *lib, const kslink *k) {
    return k->shifted ? lib->offs[numberof(lib, k)] : linkcounters{};
}

// The offset that makes the kstat's counters, as they are, of its link's
// counters `at`.
void setoff(library *lib, kslink *k, const linkcounters &at) {
    linkcounters off{};
    bool none = true;
    for (uint64_t linkcounters::*f : counters) {
        off.*f = k->c.*f - at.*f;
        none = none && off.*f == 0;
    }
    if (!none || k->shifted) {
        lib->offs[numberof(lib, k)] = off;
        k->shifted = !none;
    }
}

// No link bears the kstat's name any more.  Its counters as they were when
// the name left, when the announcement counted them (at); they never go
// down, though: a reading may have had them later.
void unbind(library *lib, kslink *k, const linkcounters *at) {
    if (k->index == 0) {
        return;
    }
    if (at && k->based) {
        const linkcounters off = offof(lib, k);
        for (uint64_t linkcounters::*f : counters) {
            k->c.*f = std::max(k->c.*f, at->*f + off.*f);
        }
    }
    dropindex(lib, k);
    k->index = 0;
    k->counted = 0;
}

// The kstat's name has passed to the link of index: its counters go on from
// what they are, with that link's counters at the passage (at) as their
// base, or those of the next reading.  A kstat that bore the index has lost
// its link.
void bind(library *lib, kslink *k, int index, const linkcounters *at) {
    if (kslink *holder = byindex(lib, index); holder && holder != k) {
        unbind(lib, holder, nullptr);
    }
    if (k->index != index) {
        if (k->index) {
            dropindex(lib, k);
        }
        k->index = index;
        holdindex(lib, k);
    }
    k->based = at != nullptr;
    if (at) {
        setoff(lib, k, *at);
    }
    k->counted = 0;
}

// The counters of a kstat's link in the reading being made.
void count(library *lib, kslink *k, const linkcounters &link) {
    if (!k->based) {
        setoff(lib, k, link);
    } else if (!k->shifted) {
        k->c = link;
    } else {
        const linkcounters &off = lib->offs[numberof(lib, k)];
        for (uint64_t linkcounters::*f : counters) {
            k->c.*f = link.*f + off.*f;
        }
    }
    k->based = true;
    k->hasdata = true;
    k->counted = lib->reading;
}

void put(int index, const char *name, const linkcounters &c, void *arg) {
    auto *lib = static_cast<library *>(arg);
    // /proc/net/dev names the link: it is a kstat's while that kstat has a
    // link, as far as the announcements tell.
    kslink *k = name ? byname(lib, name) : index > 0 ? byindex(lib, index) : nullptr;
    if (k && k->index > 0) {
        count(lib, k, c);
    }
}

void answered(size_t i, const linkcounters *c, void *arg) {
    auto *lib = static_cast<library *>(arg);
    if (kslink *k = byindex(lib, lib->askedfor[i])) {
        k->asked = lib->reading;
        if (c) {
            count(lib, k, *c);
        }
    }
}

// A link announcement.
void seen(const linkchange &ch, void *arg) {
    auto *lib = static_cast<library *>(arg);
    const linkcounters *at = ch.counted ? &ch.c : nullptr;
    kslink *k = byindex(lib, ch.link.index);
    if (k && (ch.gone || strncmp(lib->ks[numberof(lib, k)].ks_name, ch.link.name, KSTAT_STRLEN) != 0)) {
        unbind(lib, k, at);
    }
    if (!ch.gone) {
        if (kslink *named = byname(lib, ch.link.name); named && named->index != ch.link.index) {
            bind(lib, named, ch.link.index, at);
        }
    }
}

// An announcement of a link that bears a kstat's name or is a kstat's
// link: the others change nothing.
bool matters(const rtlink &l, void *arg) {
    const auto *lib = static_cast<const library *>(arg);
    return byindex(lib, l.index) || byname(lib, l.name);
}

// Few kstats of the chain: asking for their links alone costs the kernel
// less than a dump of every link.
bool few(const library *lib, size_t m) {
    const uint64_t n = lib->n;
    return m * (2000 + n) < n * 1000;
}

// A socket to look links up on.
int lookupsocket(const library *lib) {
    return lib->src.nl >= 0 ? lib->src.nl : lib->watch;
}

// The kstat's link looked up by name.
void lookup(library *lib, kslink *k) {
    k->checked = lib->reading;
    ifreq ifr{};
    memcpy(ifr.ifr_name, lib->ks[numberof(lib, k)].ks_name, sizeof ifr.ifr_name - 1);
    if (ioctl(lookupsocket(lib), SIOCGIFINDEX, &ifr) == 0) {
        if (ifr.ifr_ifindex != k->index) {
            bind(lib, k, ifr.ifr_ifindex, nullptr);
        }
    } else if (errno == ENODEV) {
        unbind(lib, k, nullptr);
    }
}

bool relookuplink(const nlmsghdr *nh, void *arg) {
    auto *lib = static_cast<library *>(arg);
    linkchange ch{};
    if (parselink(nh, nh->nlmsg_len, &ch, false)) {
        if (kslink *k = byname(lib, ch.link.name)) {
            k->checked = lib->reading;
            if (k->index != ch.link.index) {
                bind(lib, k, ch.link.index, nullptr);
            }
        }
    }
    return true;
}

// Every kstat's link looked up by name: after announcements were lost, or
// at every reading where there are none.  With one link dump, or a lookup
// of each kstat the last reading served when they are few, and of any other
// when it is read.
void relookup(library *lib) {
    if (!few(lib, lib->nbefore)) {
        const int fd = lib->src.nl >= 0 ? lib->src.nl : rtnl_socket();
        const bool dumped = fd >= 0 && rtnl_dump(fd, RTM_GETLINK, relookuplink, lib, true);
        if (fd >= 0 && fd != lib->src.nl) {
            close(fd);
        }
        if (dumped) {
            for (size_t i = 0; i < lib->n; ++i) {
                kslink *k = &lib->links[i];
                if (k->checked != lib->reading) {
                    k->checked = lib->reading;
                    unbind(lib, k, nullptr);
                }
            }
            return;
        }
    }
    lib->lost = lib->reading;
    for (size_t i = 0; i < lib->nbefore; ++i) {
        lookup(lib, &lib->links[lib->before[i]]);
    }
}

// Kstats that a reading which asks for links alone serves with a request
// of their own when it did not ask for theirs; for the rest of its reads,
// it makes one dump.
constexpr unsigned ALONE = 2;

// The counters of every link, in the reading being made: the dump, or
// /proc/net/dev.
void readall(library *lib) {
    lib->asking = false;
    lib->readok = readcounters(&lib->src, put, lib);
    lib->readerr = lib->readok ? 0 : errno;
    lib->kc.kc_kd = lib->src.dev >= 0 ? lib->src.dev : lib->src.nl;
}

// Ask for the links of indexes alone.  A kernel (or an emulator) that
// refuses such requests is asked no more, and the reading is made whole.
bool ask(library *lib, const int *indexes, size_t m) {
    lib->askedfor = indexes;
    if (askcounters(&lib->src, indexes, m, answered, lib)) {
        return true;
    }
    if (errno != ENOMEM && errno != EINTR) {
        lib->noasks = true;
        readall(lib);
    }
    return false;
}

void newreading(library *lib) {
    ++lib->reading;
    std::swap(lib->served, lib->before);
    lib->nbefore = lib->nserved;
    lib->nserved = 0;
    lib->alone = 0;
    lib->taken = clocktime();
    // The links' changes first: the counters are then read of each kstat's
    // link as it is now.
    if (lib->watch < 0 || !linknews(lib->watch, seen, lib, matters)) {
        relookup(lib);
    }
    // The first reading has served nothing before it: it asks for each
    // kstat's link as it is read, up to ALONE, and then dumps.
    if (lib->src.dev >= 0 || lib->noasks || !few(lib, lib->nbefore)) {
        readall(lib);
        return;
    }
    lib->asking = true;
    size_t m = 0;
    for (size_t i = 0; i < lib->nbefore; ++i) {
        if (const int index = lib->links[lib->before[i]].index; index > 0) {
            lib->asks[m++] = index;
        }
    }
    if (!ask(lib, lib->asks, m) && lib->asking) {
        lib->readok = false;
        lib->readerr = errno;
        return;
    }
    if (lib->asking) {
        lib->readok = true;
        lib->readerr = 0;
    }
}

// Copy a name into a zero-filled field, leaving its terminator.
void copyname(char (&to)[KSTAT_STRLEN], const char *from) {
    memcpy(to, from, strnlen(from, sizeof to - 1));
}

// The statistics of a kstat before any value is read into them.
struct namedset {
    kstat_named_t named[NSTATS];
};
constexpr namedset fresh = [] {
    namedset set{};
    for (unsigned i = 0; i < NSTATS; ++i) {
        for (unsigned c = 0; stats[i].name[c] != '\0'; ++c) {
            set.named[i].name[c] = stats[i].name[c];
        }
        set.named[i].data_type = stats[i].wide ? KSTAT_DATA_UINT64 : KSTAT_DATA_UINT32;
    }
    return set;
}();

// The kstat's statistics, from its counters, in the room of the kstat read
// last: the kstat read before it has no data until it is read again.
void show(library *lib, kstat_t *ksp) {
    if (lib->viewer && lib->viewer != ksp) {
        lib->viewer->ks_data = nullptr;
    }
    lib->viewer = ksp;
    const kslink *k = linkof(ksp);
    kstat_named_t *np = lib->view;
    for (unsigned i = 0; i < NSTATS; ++i) {
        const uint64_t v = k->c.*stats[i].from;
        np[i].value.ui64 = 0;
        if (stats[i].wide) {
            np[i].value.ui64 = v;
        } else {
            np[i].value.ui32 = static_cast<uint32_t>(v);
        }
    }
    ksp->ks_data = np;
}

void release(library *lib) {
    for (int fd : {lib->watch, lib->src.nl, lib->src.dev}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (lib->room) {
        munmap(lib->room, lib->roomsize);
    }
    if (lib->lazyroom) {
        munmap(lib->lazyroom, lib->lazysize);
    }
    free(lib);
}

// Room of the sizes, in one mapping, each part 64-byte aligned: its pages
// made at once (populate), or as they are first touched.  Null when there
// is none.
void *mapparts(const size_t *sizes, size_t count, void **parts, size_t *total, bool populate) {
    *total = 0;
    for (size_t i = 0; i < count; ++i) {
        *total += (sizes[i] + 63) & ~size_t{63};
    }
    void *room = mmap(nullptr, *total, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0), -1, 0);
    if (room == MAP_FAILED) {
        return nullptr;
    }
    char *at = static_cast<char *>(room);
    for (size_t i = 0; i < count; ++i) {
        parts[i] = at;
        at += (sizes[i] + 63) & ~size_t{63};
    }
    return room;
}

// The kstats of the links of t, which is in index order.
bool makechain(library *lib, const table<rtlink> &t) {
    const size_t n = t.count;
    size_t hashsize = 16;
    while (hashsize < n + n / 2) {
        hashsize *= 2;
    }
    lib->n = n;
    lib->namemask = hashsize - 1;
    lib->indexmask = hashsize - 1;
    // The tables every kstat has a part of, in one piece whose pages are
    // made at once: one at a time, on first touch, they would cost more
    // than the rest of a start.  The lists of a reading's kstats and the
    // offsets are paged in only where they are used.
    const size_t sizes[] = {(n + 1) * sizeof(kstat_t), (n + 1) * sizeof(kslink), hashsize * sizeof(unsigned),
                            hashsize * sizeof(unsigned)};
    const size_t lazysizes[] = {(n + 1) * sizeof(unsigned), (n + 1) * sizeof(unsigned), (n + 1) * sizeof(int),
                                (n + 1) * sizeof(linkcounters)};
    void *parts[std::size(sizes)];
    void *lazyparts[std::size(lazysizes)];
    lib->room = mapparts(sizes, std::size(sizes), parts, &lib->roomsize, true);
    lib->lazyroom = mapparts(lazysizes, std::size(lazysizes), lazyparts, &lib->lazysize, false);
    if (!lib->room || !lib->lazyroom) {
        errno = ENOMEM;
        return false;
    }
    lib->ks = static_cast<kstat_t *>(parts[0]);
    lib->links = static_cast<kslink *>(parts[1]);
    lib->byindex = static_cast<unsigned *>(parts[2]);
    lib->byname = static_cast<unsigned *>(parts[3]);
    lib->served = static_cast<unsigned *>(lazyparts[0]);
    lib->before = static_cast<unsigned *>(lazyparts[1]);
    lib->asks = static_cast<int *>(lazyparts[2]);
    lib->offs = static_cast<linkcounters *>(lazyparts[3]);
    const hrtime_t made = clocktime();
    for (size_t i = 0; i < n; ++i) {
        kstat_t &k = lib->ks[i];
        k.ks_crtime = made;
        k.ks_next = i + 1 < n ? &lib->ks[i + 1] : nullptr;
        k.ks_kid = static_cast<kid_t>(i + 1);
        copyname(k.ks_module, "link");
        copyname(k.ks_name, t.items[i].name);
        k.ks_type = KSTAT_TYPE_NAMED;
        copyname(k.ks_class, "net");
        k.ks_ndata = NSTATS;
        k.ks_data_size = NSTATS * sizeof(kstat_named_t);
        k.ks_private = &lib->links[i];
        unsigned *slot = nameslot(lib, k.ks_name);
        if (!*slot) {
            *slot = static_cast<unsigned>(i + 1);
        }
        // It is its link, whose counters it shows as they are.
        lib->links[i].index = t.items[i].index;
        lib->links[i].based = true;
        holdindex(lib, &lib->links[i]);
    }
    return true;
}

}  // namespace

kstat_ctl_t *kstat_open() {
    auto *lib = static_cast<library *>(calloc(1, sizeof(library)));
    if (!lib) {
        errno = ENOMEM;
        return nullptr;
    }
    lib->src = countsource{};
    memcpy(lib->view, fresh.named, sizeof fresh.named);
    // Subscribed before the link table is taken, so that no change after
    // it goes unseen.  Without a subscription every reading looks each
    // kstat's link up by name.
    lib->watch = linkwatch();
    const table<rtlink> *t = linktable();
    if (!t || !opencounters(&lib->src) || !makechain(lib, *t)) {
        const int saved = errno;
        release(lib);
        errno = saved;
        return nullptr;
    }
    lib->kc.kc_chain_id = 1;
    lib->kc.kc_chain = lib->n ? &lib->ks[0] : nullptr;
    lib->kc.kc_kd = lib->src.dev >= 0 ? lib->src.dev : lib->src.nl;
    return &lib->kc;
}

kstat_t *kstat_lookup(kstat_ctl_t *kc, char *ks_module, int ks_instance, char *ks_name) {
    const unsigned slot = ks_name ? *nameslot(libof(kc), ks_name) : 0;
    kstat_t *k = slot ? &libof(kc)->ks[slot - 1] : nullptr;
    // Names are unique in the chain: the kstat of the name is the first
    // that can match.
    if (!k || (ks_module && strncmp(k->ks_module, ks_module, KSTAT_STRLEN) != 0) ||
        (ks_instance != -1 && k->ks_instance != ks_instance)) {
        errno = ENOENT;
        return nullptr;
    }
    return k;
}

kid_t kstat_read(kstat_ctl_t *kc, kstat_t *ksp, void *buf) {
    library *lib = libof(kc);
    kslink *k = linkof(ksp);
    if (lib->reading == 0 || k->served == lib->reading) {
        newreading(lib);
    }
    if (k->served != lib->reading) {
        k->served = lib->reading;
        lib->served[lib->nserved++] = numberof(lib, k);
    }
    if (lib->readok && k->checked < lib->lost) {
        // Announcements were lost since its link was last looked up.
        lookup(lib, k);
    }
    if (lib->readok && lib->asking && k->index > 0 && k->counted != lib->reading && k->asked != lib->reading) {
        // Not asked for: alone, or with every link once a few were.
        if (lib->alone < ALONE) {
            ++lib->alone;
            const int index = k->index;
            (void)ask(lib, &index, 1);
        } else {
            readall(lib);
        }
    }
    if (!lib->readok) {
        ksp->ks_data = nullptr;
        errno = lib->readerr;
        return -1;
    }
    if (!k->hasdata) {
        ksp->ks_data = nullptr;
        errno = ENXIO;
        return -1;
    }
    show(lib, ksp);
    if (k->counted != lib->reading) {
        errno = ENXIO;
        return -1;
    }
    ksp->ks_snaptime = lib->taken;
    if (buf) {
        memcpy(buf, ksp->ks_data, ksp->ks_data_size);
    }
    return kc->kc_chain_id;
}

void *kstat_data_lookup(kstat_t *ksp, char *name) {
    // A kstat's statistics are mostly asked for in the order they stand:
    // the one after the last found is tried first.
    auto *np = static_cast<kstat_named_t *>(ksp->ks_data);
    const unsigned n = np ? ksp->ks_ndata : 0;
    kslink *k = linkof(ksp);
    for (unsigned j = 0; j < n; ++j) {
        const unsigned i = (k->next + j) % n;
        if (strncmp(np[i].name, name, KSTAT_STRLEN) == 0) {
            k->next = static_cast<unsigned char>(i + 1);
            return &np[i];
        }
    }
    errno = ENOENT;
    return nullptr;
}
