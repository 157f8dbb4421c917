// Sampling one interface's counters from its kstat.
#include <cstring>

#include "core/zorvat.h"

namespace {

// Store the statistic `name` of the kstat into counter `bit` of rec: a
// 64-bit statistic whole, a 32-bit one with the counter's narrow bit set,
// NOSTAT when the kstat lacks it.  With name64 the 64-bit form of the
// statistic is looked up first: drivers publish both, and the 32-bit one
// wraps in seconds on a fast link.
void stat(kstat_t *ksp, const char *name64, const char *name, ifdata *rec, uint64_t ifdata::*counter, int bit) {
    const kstat_named_t *np = nullptr;
    if (name64) {
        np = static_cast<const kstat_named_t *>(kstat_data_lookup(ksp, name64));
    }
    if (!np) {
        np = static_cast<const kstat_named_t *>(kstat_data_lookup(ksp, name));
    }
    const unsigned mask = 1U << bit;
    if (np && (np->data_type == KSTAT_DATA_UINT64 || np->data_type == KSTAT_DATA_INT64)) {
        rec->*counter = np->value.ui64;
        rec->narrow &= ~mask;
    } else {
        rec->*counter = np ? np->value.ui32 : NOSTAT;
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
#if ZORVAT_REVISION != 17
    // The scid interfaces count their bytes under other names.
    if (strncmp(name, "scid", 4) == 0) {
        inbytes = "in_bytes";
        outbytes = "out_bytes";
        inbytes64 = nullptr;
        outbytes64 = nullptr;
    }
#endif
    stat(ksp, inbytes64, inbytes, rec, &ifdata::rbytes, 0);
    stat(ksp, "ipackets64", "ipackets", rec, &ifdata::ipackets, 1);
    stat(ksp, outbytes64, outbytes, rec, &ifdata::obytes, 2);
    stat(ksp, "opackets64", "opackets", rec, &ifdata::opackets, 3);
    stat(ksp, nullptr, "collisions", rec, &ifdata::collisions, 6);
    stat(ksp, nullptr, "nocanput", rec, &ifdata::nocanput, 7);
    stat(ksp, nullptr, "ierrors", rec, &ifdata::ierrors, 4);
    stat(ksp, nullptr, "oerrors", rec, &ifdata::oerrors, 5);
}
