// Sampling one interface's counters from its kstat.
#include <cstring>

#include "core/revision.h"
#include "core/zorvat.h"

namespace {

// Store the statistic `name` of the kstat into counter c of rec: a
// 64-bit statistic whole, a 32-bit one with the counter's narrow bit set,
// NOSTAT when the kstat lacks it.  With name64 the 64-bit form of the
// statistic is looked up first: drivers publish both, and the 32-bit one
// wraps in seconds on a fast link.
void stat(kstat_t *ksp, const char *name64, const char *name, ifdata *rec, counter c) {
    const kstat_named_t *np = nullptr;
    if (name64) {
        np = static_cast<const kstat_named_t *>(kstat_data_lookup(ksp, name64));
    }
    if (!np) {
        np = static_cast<const kstat_named_t *>(kstat_data_lookup(ksp, name));
    }
    const unsigned mask = 1U << c;
    if (np && (np->data_type == KSTAT_DATA_UINT64 || np->data_type == KSTAT_DATA_INT64)) {
        rec->*counters[c] = np->value.ui64;
        rec->narrow &= ~mask;
    } else {
        rec->*counters[c] = np ? np->value.ui32 : NOSTAT;
        rec->narrow |= mask;
    }
}

}  // namespace

void ifsample(kstat_ctl_t *kc, const char *name, ifdata *rec) {
    kstat_t *ksp = kstat_lookup(kc, nullptr, -1, name);
    if (!ksp) {
        rec->obytes = NOSTAT;
        rec->rbytes = NOSTAT;
        rec->opackets = NOSTAT;
        rec->ipackets = NOSTAT;
        return;
    }
    // A failed read leaves the data of the last good one.
    (void)kstat_read(kc, ksp, nullptr);

    const char *inbytes = "rbytes";
    const char *inbytes64 = "rbytes64";
    const char *outbytes = "obytes";
    const char *outbytes64 = "obytes64";
    // The scid interfaces count their bytes under other names.
    if (revision.scidrule && strncmp(name, "scid", 4) == 0) {
        inbytes = "in_bytes";
        outbytes = "out_bytes";
        inbytes64 = nullptr;
        outbytes64 = nullptr;
    }
    stat(ksp, inbytes64, inbytes, rec, RBYTES);
    stat(ksp, "ipackets64", "ipackets", rec, IPACKETS);
    stat(ksp, outbytes64, outbytes, rec, OBYTES);
    stat(ksp, "opackets64", "opackets", rec, OPACKETS);
    stat(ksp, nullptr, "collisions", rec, COLLISIONS);
    stat(ksp, nullptr, "nocanput", rec, NOCANPUT);
    stat(ksp, nullptr, "ierrors", rec, IERRORS);
    stat(ksp, nullptr, "oerrors", rec, OERRORS);
}
