#include "platform/linux/binding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

constexpr size_t NAMELEN = 31;  // at most, of a name of the binding

// The counters, one by one.
constexpr uint64_t linkcounters::*counters[] = {
    &linkcounters::rxbytes, &linkcounters::rxpackets, &linkcounters::rxerrors, &linkcounters::rxdrops,
    &linkcounters::txbytes, &linkcounters::txpackets, &linkcounters::txerrors, &linkcounters::collisions,
};

const char *nameof(const binding *b, size_t k) {
    return b->names + k * b->stride;
}

bool samename(const char *a, const char *b) {
    return strncmp(a, b, NAMELEN) == 0;
}

// FNV-1a of the name, 32 bits wide on every processor.
uint32_t hashname(const char *s) {
    uint32_t h = 2166136261U;
    for (size_t i = 0; i < NAMELEN && s[i] != '\0'; ++i) {
        h = (h ^ static_cast<unsigned char>(s[i])) * 16777619U;
    }
    return h;
}

// Fibonacci hashing of an index, in 32 bits on every processor.
uint32_t hashindex(int index) {
    return static_cast<uint32_t>(index) * 2654435761U;
}

// The open hashes hold name numbers + 1; a name's home slot is where its
// key hashes to, and it sits in the first empty slot from there.
size_t homeindex(const binding *b, unsigned slot) {
    return hashindex(b->of[slot - 1].index) & b->mask;
}

size_t homealias(const binding *b, unsigned slot) {
    return hashname(b->linknames[slot - 1]) & b->mask;
}

void hashput(const binding *b, unsigned *hash, size_t home, size_t k) {
    size_t i = home;
    while (hash[i]) {
        i = (i + 1) & b->mask;
    }
    hash[i] = static_cast<unsigned>(k + 1);
}

// Out of the hash; the names after it in its run move up, so that each
// stays reachable from its home slot.
void hashdrop(const binding *b, unsigned *hash, size_t home, size_t k, size_t (*homeof)(const binding *, unsigned)) {
    const size_t mask = b->mask;
    size_t i = home;
    while (hash[i] != k + 1) {
        i = (i + 1) & mask;
    }
    for (size_t j = (i + 1) & mask; hash[j]; j = (j + 1) & mask) {
        // Moved up unless its home lies after the gap, up to it.
        if (((j - homeof(b, hash[j])) & mask) >= ((j - i) & mask)) {
            hash[i] = hash[j];
            i = j;
        }
    }
    hash[i] = 0;
}

// A name bound to the link of index whose seen stamp is not `stamp`
// (any, with stamp 0), or -1.
long otherof(const binding *b, int index, unsigned stamp) {
    for (size_t i = hashindex(index) & b->mask; b->byindex[i]; i = (i + 1) & b->mask) {
        const size_t k = b->byindex[i] - 1;
        if (b->of[k].index == index && (stamp == 0 || b->of[k].seen != stamp)) {
            return static_cast<long>(k);
        }
    }
    return -1;
}

linkcounters offof(const binding *b, size_t k) {
    return b->of[k].shifted ? b->offs[k] : linkcounters{};
}

// The offset that makes the name's counters, as they are, of its link's
// counters `at`.
void setoff(binding *b, size_t k, const linkcounters &at) {
    boundname &n = b->of[k];
    linkcounters off{};
    bool none = true;
    for (uint64_t linkcounters::*f : counters) {
        off.*f = n.c.*f - at.*f;
        none = none && off.*f == 0;
    }
    if (!none || n.shifted) {
        b->offs[k] = off;
        n.shifted = !none;
    }
}

// Whose own name the link of an alternative name has, in the alias hash.
void setlinkname(binding *b, size_t k, bool own, const char *linkname) {
    boundname &n = b->of[k];
    if (!n.own && n.index) {
        hashdrop(b, b->byalias, hashname(b->linknames[k]) & b->mask, k, homealias);
    }
    n.own = own;
    if (!own && n.index) {
        memset(b->linknames[k], 0, sizeof b->linknames[k]);
        memcpy(b->linknames[k], linkname, strnlen(linkname, IFNAMSIZ - 1));
        hashput(b, b->byalias, hashname(b->linknames[k]) & b->mask, k);
    }
}

// No link bears the name any more: its counters as they were when it left
// (at, from the link), but never lower than a reading had them.
void leave(binding *b, size_t k, const linkcounters *at) {
    boundname &n = b->of[k];
    if (n.index == 0) {
        return;
    }
    if (at && n.based) {
        const linkcounters off = offof(b, k);
        for (uint64_t linkcounters::*f : counters) {
            n.c.*f = std::max(n.c.*f, at->*f + off.*f);
        }
    }
    setlinkname(b, k, true, nullptr);
    hashdrop(b, b->byindex, hashindex(n.index) & b->mask, k, homeindex);
    n.index = 0;
    n.counted = 0;
    n.changed = b->epoch;
    ++b->changes;
}

// The name is borne by the link of index (own: as its own name, else that
// of the link is linkname).  One that passes to it goes on from its
// counters with the link's `at` as base, or its next counters.
void bind(binding *b, size_t k, int index, bool own, const char *linkname, const linkcounters *at) {
    boundname &n = b->of[k];
    if (n.index != index) {
        leave(b, k, nullptr);
        n.index = index;
        hashput(b, b->byindex, hashindex(index) & b->mask, k);
        n.based = at != nullptr;
        if (at) {
            setoff(b, k, *at);
        }
        n.changed = b->epoch;
        ++b->changes;
    }
    if (n.own != own || (!own && !samename(b->linknames[k], linkname))) {
        setlinkname(b, k, own, linkname);
    }
}

void bear(binding *b, const char *name, bool own) {
    const long k = bindfind(b, name);
    if (k >= 0) {
        b->of[k].seen = b->stamp;
        bind(b, static_cast<size_t>(k), b->msgindex, own, b->msgown, b->msgat ? &b->at : nullptr);
    }
}

}  // namespace

void bindsizes(size_t n, size_t *eager, size_t *lazy) {
    size_t slots = 16;
    while (slots < n + n / 2) {
        slots *= 2;
    }
    auto part = [](size_t bytes) { return (bytes + 63) & ~size_t{63}; };
    *eager = part(n * sizeof(boundname)) + 2 * part(slots * sizeof(unsigned));
    *lazy = part(slots * sizeof(unsigned)) + part(n * sizeof(linkcounters)) + part(n * IFNAMSIZ);
}

void bindopen(binding *b, size_t n, const char *names, size_t stride, void *eager, void *lazy) {
    *b = binding{};
    size_t slots = 16;
    while (slots < n + n / 2) {
        slots *= 2;
    }
    auto part = [](char *&at, size_t bytes) {
        char *p = at;
        at += (bytes + 63) & ~size_t{63};
        return p;
    };
    auto *e = static_cast<char *>(eager);
    auto *l = static_cast<char *>(lazy);
    b->n = n;
    b->names = names;
    b->stride = stride;
    b->mask = slots - 1;
    b->of = reinterpret_cast<boundname *>(part(e, n * sizeof(boundname)));
    b->byname = reinterpret_cast<unsigned *>(part(e, slots * sizeof(unsigned)));
    b->byindex = reinterpret_cast<unsigned *>(part(e, slots * sizeof(unsigned)));
    b->byalias = reinterpret_cast<unsigned *>(part(l, slots * sizeof(unsigned)));
    b->offs = reinterpret_cast<linkcounters *>(part(l, n * sizeof(linkcounters)));
    b->linknames = reinterpret_cast<char(*)[IFNAMSIZ]>(part(l, n * IFNAMSIZ));
    b->epoch = 1;
    for (size_t k = 0; k < n; ++k) {
        b->of[k].own = true;
        // A name given twice is the first one's.
        if (bindfind(b, nameof(b, k)) < 0) {
            hashput(b, b->byname, hashname(nameof(b, k)) & b->mask, k);
        }
    }
}

long bindfind(const binding *b, const char *name) {
    for (size_t i = hashname(name) & b->mask; b->byname[i]; i = (i + 1) & b->mask) {
        if (samename(nameof(b, b->byname[i] - 1), name)) {
            return static_cast<long>(b->byname[i] - 1);
        }
    }
    return -1;
}

void bindset(binding *b, size_t k, int index, const char *own) {
    bind(b, k, index, samename(own, nameof(b, k)), own, nullptr);
    b->of[k].based = true;
    b->of[k].changed = 0;
}

unsigned bindepoch(binding *b) {
    return ++b->epoch;
}

void linkbegin(binding *b, int index, const char *own, const linkcounters *at) {
    ++b->stamp;
    b->msgindex = index;
    b->msgown = own;
    b->msgat = at != nullptr;
    b->at = at ? *at : linkcounters{};
    bear(b, own, true);
}

void linkalso(binding *b, const char *alt) {
    bear(b, alt, false);
}

void linkend(binding *b) {
    for (long k; (k = otherof(b, b->msgindex, b->stamp)) >= 0;) {
        leave(b, static_cast<size_t>(k), b->msgat ? &b->at : nullptr);
    }
}

void linkgone(binding *b, int index, const linkcounters *at) {
    for (long k; (k = otherof(b, index, 0)) >= 0;) {
        leave(b, static_cast<size_t>(k), at);
    }
}

void bindlost(binding *b) {
    ++b->losses;
}

bool binddoubt(const binding *b, size_t k) {
    return b->of[k].checked != b->losses;
}

void bindlookup(binding *b, size_t k, int index, const char *own) {
    b->of[k].checked = b->losses;
    if (index == 0) {
        leave(b, k, nullptr);
    } else {
        bind(b, k, index, samename(own, nameof(b, k)), own, nullptr);
    }
}

unsigned bindstamp(const binding *b) {
    return b->stamp + 1;
}

void bindsweep(binding *b, unsigned since) {
    for (size_t k = 0; k < b->n; ++k) {
        if (b->of[k].seen < since) {
            leave(b, k, nullptr);
        }
        b->of[k].checked = b->losses;
    }
}

void bindcount(binding *b, int index, const linkcounters &c, unsigned epoch) {
    for (size_t i = hashindex(index) & b->mask; b->byindex[i]; i = (i + 1) & b->mask) {
        const size_t k = b->byindex[i] - 1;
        boundname &n = b->of[k];
        if (n.index != index || n.changed >= epoch) {
            continue;
        }
        if (!n.based) {
            setoff(b, k, c);
            n.based = true;
        } else if (!n.shifted) {
            n.c = c;
        } else {
            const linkcounters &off = b->offs[k];
            for (uint64_t linkcounters::*f : counters) {
                n.c.*f = c.*f + off.*f;
            }
        }
        n.hasdata = true;
        n.counted = epoch;
    }
}

int bindlinkof(const binding *b, const char *own) {
    const long k = bindfind(b, own);
    if (k >= 0 && b->of[k].index && b->of[k].own) {
        return b->of[k].index;
    }
    for (size_t i = hashname(own) & b->mask; b->byalias[i]; i = (i + 1) & b->mask) {
        if (samename(b->linknames[b->byalias[i] - 1], own)) {
            return b->of[b->byalias[i] - 1].index;
        }
    }
    return 0;
}

bool bindbound(const binding *b, int index) {
    return otherof(b, index, 0) >= 0;
}
