// The Linux stand-in for the kstat library.
//
// All links' counters come from one text, /proc/net/dev, which the kernel
// writes for the whole network namespace in one read.  A walk over many
// kstats must not read it once per kstat, so the library keeps the last
// reading (a snapshot) and serves kstat_read from it.  A new snapshot is
// taken when a kstat is read a second time from the same snapshot (the
// next turn of a monitor has begun) or when the snapshot is older than a
// tenth of a second, so every read reflects the kernel as of that walk.
#include "platform/kstat.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr const char *devpath = "/proc/net/dev";
constexpr hrtime_t maxage = 100'000'000;  // nanoseconds a snapshot serves

constexpr int NSTATS = 12;

// The statistics each link publishes and the /proc/net/dev column (counted
// from 0 after the name: 8 receive columns, then 8 transmit columns) that
// feeds each.  "nocanput" is the receive drop count, the packets the
// kernel could not hand on.  As the operating system's network drivers do,
// the byte and packet counters come twice: 32 bits wide under their plain
// names, whole under the names ending in 64.
struct statsource {
    const char *name;
    int column;
    unsigned char type;
};
constexpr std::array<statsource, NSTATS> stats = {{
    {"rbytes", 0, KSTAT_DATA_UINT32},
    {"ipackets", 1, KSTAT_DATA_UINT32},
    {"obytes", 8, KSTAT_DATA_UINT32},
    {"opackets", 9, KSTAT_DATA_UINT32},
    {"ierrors", 2, KSTAT_DATA_UINT32},
    {"oerrors", 10, KSTAT_DATA_UINT32},
    {"collisions", 13, KSTAT_DATA_UINT32},
    {"nocanput", 3, KSTAT_DATA_UINT32},
    {"rbytes64", 0, KSTAT_DATA_UINT64},
    {"ipackets64", 1, KSTAT_DATA_UINT64},
    {"obytes64", 8, KSTAT_DATA_UINT64},
    {"opackets64", 9, KSTAT_DATA_UINT64},
}};

// One link's line of the snapshot: its name and the text of its sixteen
// counters, which are read only when its kstat is.
struct devrow {
    std::string_view name;
    const char *counters;
    const char *eol;
};

// Per kstat: where its link stood in the last snapshot and which snapshot
// it was last read from.
struct ksplace {
    size_t row;
    unsigned long epoch;
};

struct library {
    int fd = -1;
    std::unique_ptr<char[]> text;  // the last reading; grows, never shrinks
    size_t room = 0;
    std::vector<devrow> rows;
    unsigned long epoch = 0;  // number of the current snapshot
    hrtime_t taken = 0;       // when it was taken
    std::vector<kstat_t> ks;
    std::vector<kstat_named_t> data;
    std::vector<ksplace> place;
    std::vector<std::pair<std::string_view, kstat_t *>> byname;  // sorted
};

hrtime_t gethrtime() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return hrtime_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
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

// Split the snapshot text into rows: two heading lines, then one line per
// link, "name: " and sixteen counters.
void parse(library &lib, size_t len) {
    lib.rows.clear();
    const char *p = lib.text.get();
    const char *end = p + len;
    for (int skip = 0; skip < 2 && p < end; ++skip) {
        p = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
        p = p ? p + 1 : end;
    }
    while (p < end) {
        const char *eol = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!eol) {
            eol = end;
        }
        const char *colon = static_cast<const char *>(memchr(p, ':', static_cast<size_t>(eol - p)));
        if (colon) {
            const char *name = p;
            while (name < colon && *name == ' ') {
                ++name;
            }
            lib.rows.push_back(devrow{std::string_view(name, static_cast<size_t>(colon - name)), colon + 1, eol});
        }
        p = eol + 1;
    }
}

// Take a new snapshot.  False, with errno set, when the text can't be read
// or there is no memory for it.
bool readsnapshot(library &lib);
bool snapshot(library &lib) {
    try {
        return readsnapshot(lib);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
}

bool readsnapshot(library &lib) {
    if (lseek(lib.fd, 0, SEEK_SET) < 0) {
        return false;
    }
    size_t used = 0;
    for (;;) {
        if (used == lib.room) {
            size_t room = lib.room ? 2 * lib.room : 16384;
            std::unique_ptr<char[]> bigger(new char[room]);
            if (used != 0) {
                memcpy(bigger.get(), lib.text.get(), used);
            }
            lib.text = std::move(bigger);
            lib.room = room;
        }
        ssize_t n = read(lib.fd, lib.text.get() + used, lib.room - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            break;
        }
        used += static_cast<size_t>(n);
    }
    parse(lib, used);
    lib.taken = gethrtime();
    ++lib.epoch;
    return true;
}

// The row of the named link in the current snapshot, or null.  Links keep
// their places from one snapshot to the next, so the last place is tried
// first.
const devrow *findrow(library &lib, const char *name, ksplace &pl) {
    std::string_view want(name);
    if (pl.row < lib.rows.size() && lib.rows[pl.row].name == want) {
        return &lib.rows[pl.row];
    }
    for (size_t i = 0; i < lib.rows.size(); ++i) {
        if (lib.rows[i].name == want) {
            pl.row = i;
            return &lib.rows[i];
        }
    }
    return nullptr;
}

void fill(kstat_t *ksp, const devrow &row) {
    std::array<uint64_t, 16> col{};
    const char *p = row.counters;
    for (auto &c : col) {
        c = number(p, row.eol);
    }
    auto *np = static_cast<kstat_named_t *>(ksp->ks_data);
    for (size_t i = 0; i < NSTATS; ++i) {
        uint64_t v = col[static_cast<size_t>(stats[i].column)];
        np[i].value.ui64 = 0;
        if (stats[i].type == KSTAT_DATA_UINT64) {
            np[i].value.ui64 = v;
        } else {
            np[i].value.ui32 = static_cast<uint32_t>(v);
        }
    }
}

void copyname(char (&to)[KSTAT_STRLEN], std::string_view from) {
    size_t n = std::min(from.size(), sizeof to - 1);
    memcpy(to, from.data(), n);
    to[n] = '\0';
}

}  // namespace

namespace {

kstat_ctl_t *openlibrary() {
    auto *lib = new library;
    lib->fd = open(devpath, O_RDONLY | O_CLOEXEC);
    if (lib->fd < 0 || !snapshot(*lib)) {
        int saved = errno;
        if (lib->fd >= 0) {
            close(lib->fd);
        }
        delete lib;
        errno = saved;
        return nullptr;
    }

    size_t n = lib->rows.size();
    lib->ks.resize(n);
    lib->data.resize(n * NSTATS);
    lib->place.resize(n);
    lib->byname.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        kstat_t &k = lib->ks[i];
        k = kstat_t{};
        k.ks_next = i + 1 < n ? &lib->ks[i + 1] : nullptr;
        k.ks_kid = static_cast<kid_t>(i + 1);
        copyname(k.ks_module, "link");
        k.ks_instance = 0;
        copyname(k.ks_name, lib->rows[i].name);
        k.ks_type = KSTAT_TYPE_NAMED;
        copyname(k.ks_class, "net");
        k.ks_data = &lib->data[i * NSTATS];
        k.ks_ndata = NSTATS;
        k.ks_data_size = NSTATS * sizeof(kstat_named_t);
        k.ks_crtime = lib->taken;
        k.ks_snaptime = lib->taken;
        k.ks_private = &lib->place[i];
        for (size_t s = 0; s < NSTATS; ++s) {
            kstat_named_t &np = lib->data[i * NSTATS + s];
            copyname(np.name, stats[s].name);
            np.data_type = stats[s].type;
        }
        lib->place[i] = ksplace{i, 0};
        lib->byname.emplace_back(std::string_view(k.ks_name), &k);
    }
    // A stable sort keeps chain order among equal names, so the first
    // match found is the first in the chain.
    std::stable_sort(lib->byname.begin(), lib->byname.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });

    auto *kc = new kstat_ctl_t{};
    kc->kc_chain_id = 1;
    kc->kc_chain = n ? &lib->ks[0] : nullptr;
    kc->kc_kd = lib->fd;
    kc->kc_private = lib;
    return kc;
}

}  // namespace

kstat_ctl_t *kstat_open() {
    try {
        return openlibrary();
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

kstat_t *kstat_lookup(kstat_ctl_t *kc, const char *ks_module, int ks_instance, const char *ks_name) {
    if (ks_name && !ks_module && ks_instance == -1) {
        const auto *lib = static_cast<const library *>(kc->kc_private);
        std::string_view want(ks_name);
        auto it = std::lower_bound(lib->byname.begin(), lib->byname.end(), want,
                                   [](const auto &e, std::string_view w) { return e.first < w; });
        if (it != lib->byname.end() && it->first == want) {
            return it->second;
        }
    } else {
        for (kstat_t *k = kc->kc_chain; k; k = k->ks_next) {
            if ((!ks_module || strcmp(k->ks_module, ks_module) == 0) &&
                (ks_instance == -1 || k->ks_instance == ks_instance) &&
                (!ks_name || strcmp(k->ks_name, ks_name) == 0)) {
                return k;
            }
        }
    }
    errno = ENOENT;
    return nullptr;
}

kid_t kstat_read(kstat_ctl_t *kc, kstat_t *ksp, void *buf) {
    auto *lib = static_cast<library *>(kc->kc_private);
    auto *pl = static_cast<ksplace *>(ksp->ks_private);
    if (pl->epoch == lib->epoch || gethrtime() - lib->taken > maxage) {
        if (!snapshot(*lib)) {
            return -1;
        }
    }
    pl->epoch = lib->epoch;
    const devrow *row = findrow(*lib, ksp->ks_name, *pl);
    if (!row) {
        errno = ENXIO;
        return -1;
    }
    fill(ksp, *row);
    ksp->ks_snaptime = lib->taken;
    if (buf) {
        memcpy(buf, ksp->ks_data, ksp->ks_data_size);
    }
    return kc->kc_chain_id;
}

void *kstat_data_lookup(kstat_t *ksp, const char *name) {
    auto *np = static_cast<kstat_named_t *>(ksp->ks_data);
    for (unsigned i = 0; np && i < ksp->ks_ndata; ++i) {
        if (strncmp(np[i].name, name, KSTAT_STRLEN) == 0) {
            return &np[i];
        }
    }
    errno = ENOENT;
    return nullptr;
}
