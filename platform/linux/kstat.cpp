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
// use.  Its data are made at its first good read.
//
// Readings.  The counters of all links are read together (counters.h).  A
// reading is made by the first kstat_read after kstat_open, and by every
// kstat_read of a kstat that the current reading has served already; every
// other kstat_read is served from the current reading.  A monitor that
// reads each of its kstats once a turn so has all the figures of a turn
// from one reading made in that turn, at the cost of one.  A reading keeps
// the counters of the chain's links only, in room made at open, so it needs
// no memory.  When a reading fails (the kernel refuses the dump), every
// read it serves fails and leaves its kstat without data: the statistics
// are not available, rather than old ones passed off as new.
//
// A kstat is the link that bears its name.  The index of that link is kept
// with the kstat, to find its counters in the statistics dump, and is
// brought up to date at every reading from the kernel's link announcements
// (links.h), which cost nothing while no link changes.  A kstat whose name
// no link bears any more (deleted, renamed, moved to another namespace)
// fails its reads with ENXIO and keeps its data.  One whose name has passed
// to another link begins again: its counters are zero in the reading that
// learns of it, and the new link's from the next.  It never reads another
// link's counters under its name.  When announcements were lost, every
// kstat's link is looked up by name once.  /proc/net/dev names the links
// itself.
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

// What the library keeps of a kstat (its ks_private).
struct kslink {
    int index;              // of the link that bears the kstat's name; 0: none does
    unsigned long served;   // the reading that last served the kstat
    unsigned long counted;  // the reading that holds its counters in c
    unsigned next;          // the statistic that kstat_data_lookup tries first
    linkcounters c;
};

struct library {
    kstat_ctl_t kc;  // first: the handle the monitors hold
    countsource src;
    int watch;              // link announcements; -1: none, each reading looks the links up
    unsigned long reading;  // number of the current reading, 0 before the first
    bool readok;            // it was made
    int readerr;            // else why not
    hrtime_t taken;         // when
    bool moved;             // a kstat's link changed while the news were taken
    size_t n;               // kstats
    kstat_t *ks;
    kstat_named_t *data;  // NSTATS a kstat
    kslink *links;
    kslink **byindex;  // the kstats by their link's index
    kstat_t **names;   // open hash of the kstats by name
    size_t namemask;
    void *room;  // of ks, links, byindex and names
    size_t roomsize;
};
static_assert(std::is_standard_layout_v<library>, "the handle is the library's first member");

library *libof(kstat_ctl_t *kc) {
    return reinterpret_cast<library *>(kc);
}

kslink *linkof(const kstat_t *ksp) {
    return static_cast<kslink *>(ksp->ks_private);
}

size_t hashname(const char *s) {
    size_t h = 14695981039346656037ULL;
    for (int i = 0; i < KSTAT_STRLEN && s[i] != '\0'; ++i) {
        h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ULL;
    }
    return h;
}

// The slot of the name in the hash: the kstat of that name, or an empty
// slot where it would go.
kstat_t **nameslot(const library *lib, const char *name) {
    for (size_t i = hashname(name) & lib->namemask;; i = (i + 1) & lib->namemask) {
        kstat_t **slot = &lib->names[i];
        if (!*slot || strncmp((*slot)->ks_name, name, KSTAT_STRLEN) == 0) {
            return slot;
        }
    }
}

kslink *byindex(const library *lib, int index) {
    kslink **end = lib->byindex + lib->n;
    kslink **it = std::lower_bound(lib->byindex, end, index, [](const kslink *k, int i) { return k->index < i; });
    return it != end && (*it)->index == index ? *it : nullptr;
}

void sortbyindex(library *lib) {
    std::sort(lib->byindex, lib->byindex + lib->n,
              [](const kslink *a, const kslink *b) { return a->index < b->index; });
}

// A link's counters in the reading being made.
void put(int index, const char *name, const linkcounters &c, void *arg) {
    auto *lib = static_cast<library *>(arg);
    kslink *k = nullptr;
    if (name) {
        if (kstat_t *ks = *nameslot(lib, name)) {
            k = linkof(ks);
        }
    } else if (index > 0) {
        k = byindex(lib, index);
    }
    if (k) {
        k->c = c;
        k->counted = lib->reading;
    }
}

// The kstat's name is now borne by the link of index, or by none (0).  The
// counters the reading holds for it are another link's, or none: a kstat
// that takes a link begins again from zero, one left without keeps its data.
void relink(library *lib, kslink *k, int index) {
    if (k->index == index) {
        return;
    }
    k->index = index;
    lib->moved = true;
    k->counted = 0;
    if (index > 0) {
        k->c = linkcounters{};
        k->counted = lib->reading;
        lib->ks[k - lib->links].ks_crtime = lib->taken;
    }
}

// A link announcement: the link of this index has this name now, or is gone.
void seen(const rtlink &l, bool gone, void *arg) {
    auto *lib = static_cast<library *>(arg);
    for (size_t i = 0; i < lib->n; ++i) {
        if (lib->links[i].index == l.index && (gone || strncmp(lib->ks[i].ks_name, l.name, KSTAT_STRLEN) != 0)) {
            relink(lib, &lib->links[i], 0);
        }
    }
    if (!gone) {
        if (kstat_t *ks = *nameslot(lib, l.name)) {
            relink(lib, linkof(ks), l.index);
        }
    }
}

// Every kstat's link looked up by its name: after announcements were lost.
void recheck(library *lib) {
    for (size_t i = 0; i < lib->n; ++i) {
        ifreq ifr{};
        memcpy(ifr.ifr_name, lib->ks[i].ks_name, sizeof ifr.ifr_name - 1);
        if (ioctl(lib->src.nl, SIOCGIFINDEX, &ifr) == 0) {
            relink(lib, &lib->links[i], ifr.ifr_ifindex);
        } else if (errno == ENODEV) {
            relink(lib, &lib->links[i], 0);
        }
    }
}

void newreading(library *lib) {
    ++lib->reading;
    lib->taken = clocktime();
    lib->readok = readcounters(&lib->src, put, lib);
    lib->readerr = lib->readok ? 0 : errno;
    if (lib->src.dev >= 0) {
        // /proc/net/dev names the links: no announcements needed.
        lib->kc.kc_kd = lib->src.dev;
        if (lib->watch >= 0) {
            close(lib->watch);
            lib->watch = -1;
        }
        return;
    }
    if (!lib->readok) {
        return;
    }
    // The announcements of changes made before the dump, and since; a
    // kstat whose link changed leaves what the dump gave it.
    lib->moved = false;
    if (lib->watch < 0 || !linknews(lib->watch, seen, lib)) {
        recheck(lib);
    }
    if (lib->moved) {
        sortbyindex(lib);
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

void release(library *lib) {
    for (int fd : {lib->watch, lib->src.nl, lib->src.dev}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (lib->room) {
        munmap(lib->room, lib->roomsize);
    }
    free(lib->data);
    free(lib);
}

// The kstats of the links of t, which is in index order.
bool makechain(library *lib, const table<rtlink> &t) {
    const size_t n = t.count;
    size_t hashsize = 16;
    while (hashsize < 2 * n) {
        hashsize *= 2;
    }
    lib->n = n;
    lib->namemask = hashsize - 1;
    // The tables that every kstat has a part of, in one piece whose pages
    // are made at once: one at a time, on first touch, they would cost more
    // than the rest of a start.  The statistics' room, made at a kstat's
    // first read, is paged in only where it is read.
    // The last two: arrays of pointers, one a kstat.
    const size_t sizes[] = {(n + 1) * sizeof(kstat_t), (n + 1) * sizeof(kslink),
                            (n + 1) * sizeof(kslink *),     // NOLINT(bugprone-sizeof-expression)
                            hashsize * sizeof(kstat_t *)};  // NOLINT(bugprone-sizeof-expression)
    lib->roomsize = 0;
    for (size_t size : sizes) {
        lib->roomsize += (size + 63) & ~size_t{63};
    }
    void *room =
        mmap(nullptr, lib->roomsize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    lib->data = static_cast<kstat_named_t *>(calloc(n * NSTATS + 1, sizeof(kstat_named_t)));
    if (room == MAP_FAILED || !lib->data) {
        if (room != MAP_FAILED) {
            munmap(room, lib->roomsize);
        }
        errno = ENOMEM;
        return false;
    }
    lib->room = room;
    char *at = static_cast<char *>(room);
    void *parts[std::size(sizes)];
    for (size_t i = 0; i < std::size(sizes); ++i) {
        parts[i] = at;
        at += (sizes[i] + 63) & ~size_t{63};
    }
    lib->ks = static_cast<kstat_t *>(parts[0]);
    lib->links = static_cast<kslink *>(parts[1]);
    lib->byindex = static_cast<kslink **>(parts[2]);
    lib->names = static_cast<kstat_t **>(parts[3]);
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
        lib->links[i].index = t.items[i].index;
        lib->byindex[i] = &lib->links[i];
        kstat_t **slot = nameslot(lib, k.ks_name);
        if (!*slot) {
            *slot = &k;
        }
    }
    sortbyindex(lib);
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
    lib->watch = -1;
#ifndef ZORVAT_PROCFS_ONLY
    // Subscribed before the link table is taken, so that no change after
    // it goes unseen.  Without a subscription every reading looks each
    // kstat's link up by name.
    lib->watch = linkwatch();
#endif
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
    kstat_t *k = ks_name ? *nameslot(libof(kc), ks_name) : nullptr;
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
    k->served = lib->reading;
    if (!lib->readok) {
        ksp->ks_data = nullptr;
        errno = lib->readerr;
        return -1;
    }
    if (k->counted != lib->reading) {
        errno = ENXIO;
        return -1;
    }
    if (!ksp->ks_data) {
        auto *set = &lib->data[static_cast<size_t>(k - lib->links) * NSTATS];
        memcpy(set, fresh.named, sizeof fresh.named);
        ksp->ks_data = set;
    }
    auto *np = static_cast<kstat_named_t *>(ksp->ks_data);
    for (unsigned i = 0; i < NSTATS; ++i) {
        const uint64_t v = k->c.*stats[i].from;
        np[i].value.ui64 = 0;
        if (stats[i].wide) {
            np[i].value.ui64 = v;
        } else {
            np[i].value.ui32 = static_cast<uint32_t>(v);
        }
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
            k->next = i + 1;
            return &np[i];
        }
    }
    errno = ENOENT;
    return nullptr;
}
