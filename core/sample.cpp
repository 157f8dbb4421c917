// Sampling one interface's counters from its kstat.
#include <cstring>

#include "core/revision.h"
#include "core/zorvat.h"

namespace {

// The statistics' names, as the writable text that the library's calls
// take.
char rbytes64[] = "rbytes64";
char rbytes[] = "rbytes";
char inbytes[] = "in_bytes";
char ipackets64[] = "ipackets64";
char ipackets[] = "ipackets";
char obytes64[] = "obytes64";
char obytes[] = "obytes";
char outbytes[] = "out_bytes";
char opackets64[] = "opackets64";
char opackets[] = "opackets";
char collisions[] = "collisions";
char nocanput[] = "nocanput";
char ierrors[] = "ierrors";
char oerrors[] = "oerrors";

// Store the statistic `name` of the kstat into counter c of rec: a
// 64-bit statistic whole, a 32-bit one with the counter's narrow bit set,
// NOSTAT when the kstat lacks it.  With name64 the 64-bit form of the
// statistic is looked up first: drivers publish both, and the 32-bit one
// wraps in seconds on a fast link.
void stat(kstat_t *ksp, char *name64, char *name, ifdata *rec, counter c) {
    const kstat_named_t *np = nullptr;
    if (name64) {
        np = static_cast<const kstat_named_t *>(kstat_data_lookup(ksp, name64));
    }
    if (!np) {
        np = static_cast<const kstat_named_t *>(kstat_data_lookup(ksp, name));
    }
    const unsigned mask = 1U << static_cast<unsigned>(c);
    uint64_t ifdata::*const field = counterrow(c).field;
    if (np && (np->data_type == KSTAT_DATA_UINT64 || np->data_type == KSTAT_DATA_INT64)) {
        rec->*field = np->value.ui64;
        rec->narrow &= ~mask;
    } else {
        rec->*field = np ? np->value.ui32 : NOSTAT;
        rec->narrow |= mask;
    }
}

}  // namespace

void ifsample(kstat_ctl_t *kc, char *name, ifdata *rec) {
    kstat_t *ksp = kstat_lookup(kc, nullptr, -1, name);
    if (!ksp) {
        rec->obytes = NOSTAT;
        rec->rbytes = NOSTAT;
        rec->opackets = NOSTAT;
        rec->ipackets = NOSTAT;
        return;
    }
    // Whatever the read leaves, the lookups take.
    (void)kstat_read(kc, ksp, nullptr);

    // The scid interfaces count their bytes under other names, 32 bits wide.
    const bool scid = revision.scidrule && strncmp(name, "scid", 4) == 0;
    stat(ksp, scid ? nullptr : rbytes64, scid ? inbytes : rbytes, rec, counter::rbytes);
    stat(ksp, ipackets64, ipackets, rec, counter::ipackets);
    stat(ksp, scid ? nullptr : obytes64, scid ? outbytes : obytes, rec, counter::obytes);
    stat(ksp, opackets64, opackets, rec, counter::opackets);
    stat(ksp, nullptr, collisions, rec, counter::collisions);
    stat(ksp, nullptr, nocanput, rec, counter::nocanput);
    stat(ksp, nullptr, ierrors, rec, counter::ierrors);
    stat(ksp, nullptr, oerrors, rec, counter::oerrors);
}
