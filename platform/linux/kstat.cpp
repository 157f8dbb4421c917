// The Linux stand-in for the kstat library.  Its contract:
// - kstat_open makes a kstat (module "link", class "net") for each name a
//   link bears then, its own and its alternative ones; the chain is never
//   brought up to date.  Its statistics (stats below) are made from its
//   counters at each read, in room that serves the kstat read last.
// - A reading of the counters is made by the first kstat_read and by each
//   read of a kstat that the current reading has served; other reads are
//   served from it.  After a reading that served few kstats it asks for
//   their links alone, and for any other as it is read, up to ALONE; else,
//   and then, it reads every link.
// - A kstat's counters are its name's (binding.h), taken of a reading only
//   where the announcements that came while it was read left the name's
//   link as it was; else the counters are read again.
// - When announcements are lost, each name is looked up.  A name that
//   passed to a link meanwhile counts from that link's next counters; a
//   link that gave up the name and took it back between two readings
//   can't be told from one that kept it, and what it counted meanwhile is
//   counted.  Nothing of another link is ever counted.
// - A read of a name that no link bears fails (ENXIO) and shows its kept
//   counters; a reading that fails fails its reads, and they have no data.
#include "platform/kstat.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "platform/clock.h"
#include "platform/linux/binding.h"
#include "platform/linux/counters.h"
#include "platform/linux/links.h"
#include "platform/linux/room.h"
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

// Kstats that a reading which asks for links alone asks for as they are
// read, when it did not ask for theirs; for the rest of its reads it reads
// every link.
constexpr unsigned ALONE = 2;

// A reading's counters of a link, kept until the announcements that came
// while it was read are taken.
struct staged {
    int index;
    linkcounters c;
};

// What the reading plan keeps of a kstat (its ks_private).  Readings are
// numbered from 1.
struct kread {
    unsigned served;     // the reading that last served it
    unsigned asked;      // the reading that asked for its link alone
    unsigned char next;  // the statistic that kstat_data_lookup tries first
};

struct library {
    kstat_ctl_t kc;  // first: the handle the monitors hold
    countsource src;
    int watch;  // link announcements; -1: none, each reading looks the names up
    int ask;    // link lookups, opened when first needed; -1
    binding b;
    unsigned reading;  // number of the current reading, 0 before the first
    unsigned first;    // the first epoch of its counters
    bool readok;       // it was made
    int readerr;       // else why not
    bool asking;       // it asks for the links of the kstats it serves alone
    unsigned alone;    // kstats it asked for as they were read
    bool noasks;       // the kernel refused such requests
    bool doubt;        // names are in doubt, each looked up as it is read
    hrtime_t taken;    // when
    size_t n;          // kstats
    kstat_t *ks;
    kread *reads;
    unsigned *served;  // the kstats the current reading served, in the order read
    unsigned *before;  // those of the reading before
    size_t nserved;
    size_t nbefore;
    int *asks;      // the links a fetch asks for, by index
    staged *stage;  // a fetch's counters
    size_t nstaged;
    kstat_t *viewer;  // the kstat whose statistics `view` holds
    kstat_named_t view[NSTATS];
    void *room;  // of ks, reads and the binding's eager part
    size_t roomsize;
    void *lazyroom;  // of the lists, the stage and the binding's lazy part
    size_t lazysize;
};
static_assert(std::is_standard_layout_v<library>, "the handle is the library's first member");

library *libof(kstat_ctl_t *kc) {
    return reinterpret_cast<library *>(kc);
}

// Few kstats of the chain: asking for their links alone costs the kernel
// less than a reading of every link.
bool few(const library *lib, size_t m) {
    const uint64_t n = lib->n;
    return m * (2000 + n) < n * 1000;
}

// The socket of link lookups.
int asksocket(library *lib) {
    if (lib->ask < 0) {
        lib->ask = rtnl_socket();
    }
    return lib->ask;
}

// ---- the names' links ----

// Every kstat's name looked up, with one dump of the links.
bool dumplinks(library *lib) {
    const int fd = asksocket(lib);
    if (fd < 0 || !linkdumpto(fd, &lib->b)) {
        return false;
    }
    lib->doubt = false;
    return true;
}

// The names of the kstats of list looked up, each alone.
void lookup(library *lib, const unsigned *list, size_t m) {
    const int fd = asksocket(lib);
    if (fd >= 0) {
        (void)linklookupto(fd, &lib->b, list, m);
    }
}

// The announcements that came since they were last taken.  When some were
// lost, the names are looked up: all with one link dump, or, when the last
// reading served few kstats, each of those alone and the others as they
// are read.
void news(library *lib) {
    if (lib->watch >= 0 && linknewsto(lib->watch, &lib->b)) {
        return;
    }
    bindlost(&lib->b);
    lib->doubt = true;
    if (few(lib, lib->nbefore) || !dumplinks(lib)) {
        lookup(lib, lib->before, lib->nbefore);
    }
}

// ---- readings ----

void stage(library *lib, int index, const linkcounters &c) {
    if (index > 0 && lib->nstaged < lib->n && bindbound(&lib->b, index)) {
        lib->stage[lib->nstaged++] = {index, c};
    }
}

void put(int index, const char *name, const linkcounters &c, void *arg) {
    auto *lib = static_cast<library *>(arg);
    // /proc/net/dev names the link.
    stage(lib, name ? bindlinkof(&lib->b, name) : index, c);
}

void answered(size_t i, const linkcounters *c, void *arg) {
    auto *lib = static_cast<library *>(arg);
    if (c) {
        stage(lib, lib->asks[i], *c);
    }
}

// Counters of every link (kstats null), or of the links of the m kstats
// alone.  They count once the announcements that came while they were
// read are taken, for the names those left alone; when those moved names,
// they are read again (up to three times in all).  False, with errno set,
// when they can't be read.
bool fetch(library *lib, const unsigned *kstats, size_t m) {
    for (int tries = 0;; ++tries) {
        const unsigned epoch = bindepoch(&lib->b);
        lib->nstaged = 0;
        size_t links = 0;
        for (size_t i = 0; kstats && i < m; ++i) {
            if (const int index = lib->b.of[kstats[i]].index; index > 0) {
                lib->asks[links++] = index;
            }
        }
        if (kstats ? !askcounters(&lib->src, lib->asks, links, answered, lib) : !readcounters(&lib->src, put, lib)) {
            return false;
        }
        const unsigned changes = lib->b.changes;
        news(lib);
        for (size_t i = 0; i < lib->nstaged; ++i) {
            bindcount(&lib->b, lib->stage[i].index, lib->stage[i].c, epoch);
        }
        if (lib->b.changes == changes || tries == 2) {
            return true;
        }
    }
}

// Every link's counters, in the reading being made.
void readall(library *lib) {
    lib->asking = false;
    if (lib->doubt) {
        (void)dumplinks(lib);
    }
    lib->readok = fetch(lib, nullptr, 0);
    lib->readerr = lib->readok ? 0 : errno;
    lib->kc.kc_kd = countsfd(lib->src);
}

// The links of the m kstats alone.  A kernel (or an emulator) that
// refuses such requests is asked no more, and the reading reads every
// link.
bool ask(library *lib, const unsigned *kstats, size_t m) {
    if (fetch(lib, kstats, m)) {
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
    // The links' changes first: the counters are then read of each name's
    // link as it is now.
    news(lib);
    lib->first = lib->b.epoch + 1;
    // The first reading has served nothing before it: it asks for each
    // kstat's link as it is read, up to ALONE, and then reads every link.
    if (countsbyname(lib->src) || lib->noasks || !few(lib, lib->nbefore)) {
        readall(lib);
        return;
    }
    lib->asking = true;
    for (size_t i = 0; i < lib->nbefore; ++i) {
        lib->reads[lib->before[i]].asked = lib->reading;
    }
    if (!ask(lib, lib->before, lib->nbefore) && lib->asking) {
        lib->readok = false;
        lib->readerr = errno;
        return;
    }
    if (lib->asking) {
        lib->readok = true;
        lib->readerr = 0;
    }
}

// ---- the chain and its statistics ----

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
void show(library *lib, kstat_t *ksp, const linkcounters &c) {
    if (lib->viewer && lib->viewer != ksp) {
        lib->viewer->ks_data = nullptr;
    }
    lib->viewer = ksp;
    kstat_named_t *np = lib->view;
    for (unsigned i = 0; i < NSTATS; ++i) {
        const uint64_t v = c.*stats[i].from;
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
    for (int fd : {lib->watch, lib->ask}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    closecounters(&lib->src);
    if (lib->room) {
        munmap(lib->room, lib->roomsize);
    }
    if (lib->lazyroom) {
        munmap(lib->lazyroom, lib->lazysize);
    }
    free(lib);
}

void makekstat(library *lib, size_t i, const char *name, hrtime_t made) {
    kstat_t &k = lib->ks[i];
    k.ks_crtime = made;
    k.ks_next = i + 1 < lib->n ? &lib->ks[i + 1] : nullptr;
    k.ks_kid = static_cast<kid_t>(i + 1);
    copyname(k.ks_module, "link");
    copyname(k.ks_name, name);
    k.ks_type = KSTAT_TYPE_NAMED;
    copyname(k.ks_class, "net");
    k.ks_ndata = NSTATS;
    k.ks_data_size = NSTATS * sizeof(kstat_named_t);
    k.ks_private = &lib->reads[i];
}

// The longest name a kstat can have.
constexpr size_t LONGEST = KSTAT_STRLEN - 1;

// The kstats of the names of the links of t: each link's own, then its
// alternative ones, in index order.
bool makechain(library *lib, const linkset &t) {
    size_t n = 0;
    eachname(t, LONGEST, [&](const char *, int, const char *) { ++n; });
    lib->n = n;
    // The parts every kstat has, in one piece whose pages are made at
    // once: one at a time, on first touch, they would cost more than the
    // rest of a start.  The lists of a reading's kstats, the stage and
    // the binding's lazy part are paged in only where they are used.
    size_t eager = 0;
    size_t lazy = 0;
    bindsizes(n, &eager, &lazy);
    const auto parts = mapparts(std::array{(n + 1) * sizeof(kstat_t), (n + 1) * sizeof(kread), eager}, &lib->room,
                                &lib->roomsize, true);
    const auto lazyparts = mapparts(std::array{(n + 1) * sizeof(unsigned), (n + 1) * sizeof(unsigned),
                                               (n + 1) * sizeof(int), (n + 1) * sizeof(staged), lazy},
                                    &lib->lazyroom, &lib->lazysize, false);
    if (!lib->room || !lib->lazyroom) {
        errno = ENOMEM;
        return false;
    }
    lib->ks = static_cast<kstat_t *>(parts[0]);
    lib->reads = static_cast<kread *>(parts[1]);
    lib->served = static_cast<unsigned *>(lazyparts[0]);
    lib->before = static_cast<unsigned *>(lazyparts[1]);
    lib->asks = static_cast<int *>(lazyparts[2]);
    lib->stage = static_cast<staged *>(lazyparts[3]);
    const hrtime_t made = clocktime();
    size_t k = 0;
    eachname(t, LONGEST, [&](const char *name, int, const char *) { makekstat(lib, k++, name, made); });
    bindopen(&lib->b, n, lib->ks[0].ks_name, sizeof(kstat_t), parts[2], lazyparts[4]);
    // Each is its link, whose counters it shows as they are.
    k = 0;
    eachname(t, LONGEST, [&](const char *, int index, const char *own) { bindset(&lib->b, k++, index, own); });
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
    lib->ask = -1;
    memcpy(lib->view, fresh.named, sizeof fresh.named);
    // Subscribed before the link table is taken, so that no change after
    // it goes unseen.  Without a subscription every reading looks each
    // kstat's name up.
    lib->watch = linkwatch();
    const linkset *t = linktable();
    if (!t || !opencounters(&lib->src) || !makechain(lib, *t)) {
        const int saved = errno;
        release(lib);
        errno = saved;
        return nullptr;
    }
    lib->kc.kc_chain_id = 1;
    lib->kc.kc_chain = lib->n ? &lib->ks[0] : nullptr;
    lib->kc.kc_kd = countsfd(lib->src);
    return &lib->kc;
}

kstat_t *kstat_lookup(kstat_ctl_t *kc, char *ks_module, int ks_instance, char *ks_name) {
    library *lib = libof(kc);
    const long i = ks_name ? bindfind(&lib->b, ks_name) : -1;
    kstat_t *k = i >= 0 ? &lib->ks[i] : nullptr;
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
    const auto k = static_cast<unsigned>(ksp - lib->ks);
    kread &r = lib->reads[k];
    if (lib->reading == 0 || r.served == lib->reading) {
        newreading(lib);
    }
    if (r.served != lib->reading) {
        r.served = lib->reading;
        lib->served[lib->nserved++] = k;
    }
    if (lib->readok && lib->doubt && binddoubt(&lib->b, k)) {
        lookup(lib, &k, 1);
    }
    const boundname &name = lib->b.of[k];
    if (lib->readok && lib->asking && name.index > 0 && name.counted < lib->first && r.asked != lib->reading) {
        // Not asked for: alone, or with every link once a few were.
        if (lib->alone < ALONE) {
            ++lib->alone;
            r.asked = lib->reading;
            (void)ask(lib, &k, 1);
        } else {
            readall(lib);
        }
    }
    if (!lib->readok) {
        ksp->ks_data = nullptr;
        errno = lib->readerr;
        return -1;
    }
    if (!name.hasdata) {
        ksp->ks_data = nullptr;
        errno = ENXIO;
        return -1;
    }
    show(lib, ksp, name.c);
    if (name.counted < lib->first) {
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
    auto *r = static_cast<kread *>(ksp->ks_private);
    for (unsigned j = 0; j < n; ++j) {
        const unsigned i = (r->next + j) % n;
        if (strncmp(np[i].name, name, KSTAT_STRLEN) == 0) {
            r->next = static_cast<unsigned char>(i + 1);
            return &np[i];
        }
    }
    errno = ENOENT;
    return nullptr;
}
