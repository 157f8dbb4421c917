// The Linux stand-in for the kstat library.
//
// kstat_open makes one kstat of module "link" per link of the kernel's
// link table, named by the link and tied to its index.  Its statistics are
// the link's counters, 32 bits wide under the names the operating
// system's network drivers use, and whole under the names ending in 64 for
// bytes and packets.
//
// The counters of all links are read in one go, a reading: an rtnetlink
// dump of the 64-bit link statistics (RTM_GETSTATS) or, where the kernel
// or an emulator refuses that dump, the text of /proc/net/dev; the source
// is chosen once, at open.  A monitor's walk reads each of its kstats once,
// so a kstat read a second time from the same reading means that the next
// walk has begun, and a new reading is made then.  A reading needs no
// memory once the first ones have sized their tables, and no call per link.
//
// Nothing here throws: a reading that finds no memory fails like one that
// the kernel refuses, and every kstat keeps the data of its last good read.
#include "platform/kstat.h"

#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/linux/rtnl.h"

namespace {

// The kernel's counters that the statistics come from.
enum counter { RXBYTES, RXPACKETS, RXERRORS, RXDROPS, TXBYTES, TXPACKETS, TXERRORS, COLLISIONS, NCOUNTERS };

// Each kstat's statistics, in the order the monitors ask for them: the 64-bit
// form of a counter before the 32-bit one.  "nocanput" is the receive drop
// count, the packets the kernel could not hand on.
struct statsource {
    const char *name;
    counter from;
    unsigned char type;
};
constexpr statsource stats[] = {
    {"rbytes64", RXBYTES, KSTAT_DATA_UINT64},      {"rbytes", RXBYTES, KSTAT_DATA_UINT32},
    {"ipackets64", RXPACKETS, KSTAT_DATA_UINT64},  {"ipackets", RXPACKETS, KSTAT_DATA_UINT32},
    {"obytes64", TXBYTES, KSTAT_DATA_UINT64},      {"obytes", TXBYTES, KSTAT_DATA_UINT32},
    {"opackets64", TXPACKETS, KSTAT_DATA_UINT64},  {"opackets", TXPACKETS, KSTAT_DATA_UINT32},
    {"collisions", COLLISIONS, KSTAT_DATA_UINT32}, {"nocanput", RXDROPS, KSTAT_DATA_UINT32},
    {"ierrors", RXERRORS, KSTAT_DATA_UINT32},      {"oerrors", TXERRORS, KSTAT_DATA_UINT32},
};
constexpr unsigned NSTATS = sizeof stats / sizeof stats[0];

// One link's counters in a reading, found by its index (statistics dump)
// or by its name (/proc/net/dev).
struct row {
    int index;
    char name[IFNAMSIZ];
    uint64_t c[NCOUNTERS];
};

// The rows of one reading; the tables keep their room from one reading to
// the next.
struct reading {
    row *rows;
    size_t count;
    size_t room;
};

// Per kstat: the link's index, where its row stood in the last reading,
// and the number of the reading it was last read from.
struct kspriv {
    int index;
    size_t hint;
    unsigned long epoch;
};

struct library {
    int nl;      // rtnetlink socket of the statistics dumps, or -1
    int dev;     // /proc/net/dev when it is the source, or -1
    char *text;  // its last text
    size_t textroom;
    reading now;          // the last reading
    unsigned long epoch;  // its number
    bool valid;           // it was made: a failed one serves no reads
    hrtime_t taken;       // when
    size_t n;             // kstats, one per link
    kstat_t *ks;
    kstat_named_t *data;  // NSTATS per kstat
    kspriv *priv;
    kstat_t **byname;    // the kstats sorted by name
    kstat_t *lastfound;  // by the last lookup
};

// A new row at the end of a reading, or null without memory.
row *addrow(reading *r) {
    if (!makeroom(r->rows, r->count, r->room)) {
        return nullptr;
    }
    row *w = &r->rows[r->count++];
    *w = row{};
    return w;
}

// One message of a statistics dump: a link's index and its counters.
bool takestats(const nlmsghdr *nh, void *arg) {
    if (nh->nlmsg_type != RTM_NEWSTATS) {
        return true;
    }
    const auto *ifsm = static_cast<const if_stats_msg *>(NLMSG_DATA(nh));
    auto len = static_cast<int>(nh->nlmsg_len - NLMSG_LENGTH(sizeof *ifsm));
    const auto *rta =
        reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(ifsm) + NLMSG_ALIGN(sizeof *ifsm));
    for (; RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
        if (rta->rta_type != IFLA_STATS_LINK_64) {
            continue;
        }
        rtnl_link_stats64 s{};
        memcpy(&s, RTA_DATA(rta), std::min<size_t>(RTA_PAYLOAD(rta), sizeof s));
        row *w = addrow(static_cast<reading *>(arg));
        if (!w) {
            return false;
        }
        w->index = static_cast<int>(ifsm->ifindex);
        w->c[RXBYTES] = s.rx_bytes;
        w->c[RXPACKETS] = s.rx_packets;
        w->c[RXERRORS] = s.rx_errors;
        // As /proc/net/dev counts drops.
        w->c[RXDROPS] = s.rx_dropped + s.rx_missed_errors;
        w->c[TXBYTES] = s.tx_bytes;
        w->c[TXPACKETS] = s.tx_packets;
        w->c[TXERRORS] = s.tx_errors;
        w->c[COLLISIONS] = s.collisions;
    }
    return true;
}

// Next unsigned decimal number at p (blanks skipped).
uint64_t number(const char *&p, const char *end) {
    while (p < end && *p == ' ') {
        ++p;
    }
    uint64_t v = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        ++p;
    }
    return v;
}

// The text of /proc/net/dev into lib->text, whole.
bool readdev(library *lib, size_t *len) {
    if (lseek(lib->dev, 0, SEEK_SET) < 0) {
        return false;
    }
    size_t used = 0;
    for (;;) {
        if (!makeroom(lib->text, used, lib->textroom, 16384)) {
            return false;
        }
        ssize_t n = read(lib->dev, lib->text + used, lib->textroom - used);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            *len = used;
            return true;
        }
        used += static_cast<size_t>(n);
    }
}

// The rows of /proc/net/dev: two heading lines, then one line per link,
// "name:" and sixteen counters, eight of receiving and eight of sending.
bool parsedev(const char *p, const char *end, reading *r) {
    constexpr counter column[16] = {RXBYTES,   RXPACKETS,  RXERRORS,  RXDROPS,   NCOUNTERS, NCOUNTERS,
                                    NCOUNTERS, NCOUNTERS,  TXBYTES,   TXPACKETS, TXERRORS,  NCOUNTERS,
                                    NCOUNTERS, COLLISIONS, NCOUNTERS, NCOUNTERS};
    for (int skip = 0; skip < 2 && p < end; ++skip) {
        p = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
        p = p ? p + 1 : end;
    }
    while (p < end) {
        const char *eol = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
        eol = eol ? eol : end;
        const char *colon = static_cast<const char *>(memchr(p, ':', static_cast<size_t>(eol - p)));
        if (colon) {
            while (p < colon && *p == ' ') {
                ++p;
            }
            row *w = addrow(r);
            if (!w) {
                return false;
            }
            memcpy(w->name, p, std::min<size_t>(static_cast<size_t>(colon - p), sizeof w->name - 1));
            const char *q = colon + 1;
            for (counter c : column) {
                uint64_t v = number(q, eol);
                if (c != NCOUNTERS) {
                    w->c[c] = v;
                }
            }
        }
        p = eol + 1;
    }
    return true;
}

// Make a new reading of all links' counters.  A failed one leaves no
// reading to serve: the reads of this walk fail and keep their data.
bool newreading(library *lib) {
    ++lib->epoch;
    lib->now.count = 0;
    bool ok = false;
    if (lib->dev < 0) {
        ok = rtnl_dump(lib->nl, RTM_GETSTATS, takestats, &lib->now);
    } else {
        size_t len = 0;
        ok = readdev(lib, &len) && parsedev(lib->text, lib->text + len, &lib->now);
    }
    lib->valid = ok;
    if (ok) {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        lib->taken = hrtime_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
    }
    return ok;
}

bool sameline(const library *lib, const row &r, const kstat_t *ksp, const kspriv *p) {
    return lib->dev < 0 ? r.index == p->index : strncmp(r.name, ksp->ks_name, sizeof r.name) == 0;
}

// The row of a kstat's link in the current reading, or null.  Links keep
// their places from one reading to the next, so the last place is tried
// first.
const row *findrow(const library *lib, const kstat_t *ksp, kspriv *p) {
    const reading &r = lib->now;
    if (p->hint < r.count && sameline(lib, r.rows[p->hint], ksp, p)) {
        return &r.rows[p->hint];
    }
    for (size_t i = 0; i < r.count; ++i) {
        if (sameline(lib, r.rows[i], ksp, p)) {
            p->hint = i;
            return &r.rows[i];
        }
    }
    return nullptr;
}

// Copy a name into a zero-filled field, leaving its terminator.
void copyname(char (&to)[KSTAT_STRLEN], const char *from) {
    memcpy(to, from, strnlen(from, sizeof to - 1));
}

// The statistics of every kstat, as they stand before their first read.
struct namedset {
    kstat_named_t named[NSTATS];
};
constexpr namedset fresh = [] {
    namedset set{};
    for (unsigned i = 0; i < NSTATS; ++i) {
        for (unsigned c = 0; stats[i].name[c] != '\0'; ++c) {
            set.named[i].name[c] = stats[i].name[c];
        }
        set.named[i].data_type = stats[i].type;
    }
    return set;
}();

void release(library *lib) {
    if (lib->nl >= 0) {
        close(lib->nl);
    }
    if (lib->dev >= 0) {
        close(lib->dev);
    }
    free(lib->text);
    free(lib->now.rows);
    free(lib->ks);
    free(lib->data);
    free(lib->priv);
    free(lib->byname);
    free(lib);
}

// The kstats of the links of t.
bool makechain(library *lib, const rtlinks &t) {
    const size_t n = t.count;
    lib->n = n;
    lib->ks = static_cast<kstat_t *>(calloc(n + 1, sizeof(kstat_t)));
    lib->data = static_cast<kstat_named_t *>(calloc(n * NSTATS + 1, sizeof(kstat_named_t)));
    lib->priv = static_cast<kspriv *>(calloc(n + 1, sizeof(kspriv)));
    // An array of pointers, one a kstat.
    lib->byname = static_cast<kstat_t **>(calloc(n + 1, sizeof(kstat_t *)));  // NOLINT(bugprone-sizeof-expression)
    if (!lib->ks || !lib->data || !lib->priv || !lib->byname) {
        errno = ENOMEM;
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        kstat_t &k = lib->ks[i];
        k.ks_next = i + 1 < n ? &lib->ks[i + 1] : nullptr;
        k.ks_kid = static_cast<kid_t>(i + 1);
        copyname(k.ks_module, "link");
        copyname(k.ks_name, t.links[i].name);
        k.ks_type = KSTAT_TYPE_NAMED;
        copyname(k.ks_class, "net");
        // As the library's own: no data until the first read, which
        // brings them in.  Only the kstats read touch their memory.
        k.ks_data = nullptr;
        k.ks_ndata = NSTATS;
        k.ks_data_size = NSTATS * sizeof(kstat_named_t);
        k.ks_private = &lib->priv[i];
        k.ks_crtime = lib->taken;
        lib->priv[i].index = t.links[i].index;
        lib->priv[i].hint = i;
        lib->byname[i] = &k;
    }
    // A stable sort keeps the chain's order among equal names, so the
    // first match found is the first in the chain.
    std::stable_sort(lib->byname, lib->byname + n,
                     [](const kstat_t *a, const kstat_t *b) { return strcmp(a->ks_name, b->ks_name) < 0; });
    return true;
}

// The statistics dump, or where it is refused (an emulator that does not
// know it, an older kernel), /proc/net/dev.
bool choosesource(library *lib, size_t links) {
    // Room for the links there are and a few more, so that readings don't
    // grow while the monitor runs.
    lib->now.room = links + 16;
    lib->now.rows = static_cast<row *>(malloc(lib->now.room * sizeof(row)));
    if (!lib->now.rows) {
        errno = ENOMEM;
        return false;
    }
#ifndef ZORVAT_PROCFS_ONLY
    if (newreading(lib)) {
        return true;
    }
    if (errno == ENOMEM) {
        return false;
    }
#endif
    lib->dev = open("/proc/net/dev", O_RDONLY | O_CLOEXEC);
    return lib->dev >= 0 && newreading(lib);
}

}  // namespace

kstat_ctl_t *kstat_open() {
    auto *lib = static_cast<library *>(calloc(1, sizeof(library)));
    auto *kc = static_cast<kstat_ctl_t *>(calloc(1, sizeof(kstat_ctl_t)));
    if (lib) {
        lib->nl = -1;
        lib->dev = -1;
    }
    rtlinks t{};
    bool ok = lib && kc;
    if (ok) {
        lib->nl = rtnl_socket();
        ok = lib->nl >= 0 && rtnl_links(lib->nl, &t) && choosesource(lib, t.count) && makechain(lib, t);
    } else {
        errno = ENOMEM;
    }
    if (!ok) {
        int saved = errno;
        free(t.links);
        free(kc);
        if (lib) {
            release(lib);
        }
        errno = saved;
        return nullptr;
    }
    // The table goes on to the discovery of the interfaces, if one follows.
    rtnl_keep(t);
    kc->kc_chain_id = 1;
    kc->kc_chain = lib->n ? &lib->ks[0] : nullptr;
    kc->kc_kd = lib->dev >= 0 ? lib->dev : lib->nl;
    kc->kc_private = lib;
    return kc;
}

namespace {

bool matches(const kstat_t *k, const char *ks_module, int ks_instance, const char *ks_name) {
    return strcmp(k->ks_name, ks_name) == 0 && (!ks_module || strcmp(k->ks_module, ks_module) == 0) &&
           (ks_instance == -1 || k->ks_instance == ks_instance);
}

}  // namespace

kstat_t *kstat_lookup(kstat_ctl_t *kc, const char *ks_module, int ks_instance, const char *ks_name) {
    auto *lib = static_cast<library *>(kc->kc_private);
    if (!ks_name) {
        errno = ENOENT;
        return nullptr;
    }
    // A monitor that watches every link looks them up in the chain's
    // order, turn after turn: the kstat after the last one found is tried
    // first.  The chain has one kstat a name, so a match there is the first.
    kstat_t *next = lib->lastfound ? lib->lastfound->ks_next : kc->kc_chain;
    if (next && matches(next, ks_module, ks_instance, ks_name)) {
        lib->lastfound = next;
        return next;
    }
    kstat_t **end = lib->byname + lib->n;
    kstat_t **it = std::lower_bound(lib->byname, end, ks_name,
                                    [](const kstat_t *k, const char *name) { return strcmp(k->ks_name, name) < 0; });
    for (; it != end && strcmp((*it)->ks_name, ks_name) == 0; ++it) {
        if (matches(*it, ks_module, ks_instance, ks_name)) {
            lib->lastfound = *it;
            return *it;
        }
    }
    errno = ENOENT;
    return nullptr;
}

kid_t kstat_read(kstat_ctl_t *kc, kstat_t *ksp, void *buf) {
    auto *lib = static_cast<library *>(kc->kc_private);
    auto *p = static_cast<kspriv *>(ksp->ks_private);
    if (p->epoch == lib->epoch && !newreading(lib)) {
        p->epoch = lib->epoch;
        return -1;
    }
    p->epoch = lib->epoch;
    if (!lib->valid) {
        errno = EAGAIN;
        return -1;
    }
    const row *r = findrow(lib, ksp, p);
    if (!r && lib->dev < 0) {
        // A link made again under its name has a new index.
        auto index = static_cast<int>(if_nametoindex(ksp->ks_name));
        if (index > 0 && index != p->index) {
            p->index = index;
            r = findrow(lib, ksp, p);
        }
    }
    if (!r) {
        errno = ENXIO;
        return -1;
    }
    if (!ksp->ks_data) {
        auto *set = &lib->data[static_cast<size_t>(p - lib->priv) * NSTATS];
        memcpy(set, fresh.named, sizeof fresh.named);
        ksp->ks_data = set;
    }
    auto *np = static_cast<kstat_named_t *>(ksp->ks_data);
    for (unsigned i = 0; i < NSTATS; ++i) {
        const uint64_t v = r->c[stats[i].from];
        np[i].value.ui64 = 0;
        if (stats[i].type == KSTAT_DATA_UINT64) {
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

void *kstat_data_lookup(kstat_t *ksp, const char *name) {
    // The statistics are asked for in the order they stand: the one after
    // the last found is tried first.
    static unsigned after;
    auto *np = static_cast<kstat_named_t *>(ksp->ks_data);
    const unsigned n = np ? ksp->ks_ndata : 0;
    for (unsigned k = 0; k < n; ++k) {
        unsigned i = (after + k) % n;
        if (strncmp(np[i].name, name, KSTAT_STRLEN) == 0) {
            after = i + 1;
            return &np[i];
        }
    }
    errno = ENOENT;
    return nullptr;
}
