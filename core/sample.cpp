// Sampling one interface's counters from its kstat.
#include <cstring>

#include "core/zorvat.h"

namespace {

// The counter of a statistic, NOSTAT when the kstat lacks it.  The first
// four bytes of the value are read as an unsigned 32-bit number, whatever
// the statistic's type.
uint32_t statvalue(kstat_t *ksp, const char *name) {
    const auto *np = static_cast<const kstat_named_t *>(kstat_data_lookup(ksp, name));
    return np ? np->value.ui32 : NOSTAT;
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
    const char *outbytes = "obytes";
#if ZORVAT_REVISION != 17
    // The scid interfaces count their bytes under other names.
    if (strncmp(name, "scid", 4) == 0) {
        inbytes = "in_bytes";
        outbytes = "out_bytes";
    }
#endif
    rec->rbytes = statvalue(ksp, inbytes);
    rec->ipackets = statvalue(ksp, "ipackets");
    rec->obytes = statvalue(ksp, outbytes);
    rec->opackets = statvalue(ksp, "opackets");
    rec->collisions = statvalue(ksp, "collisions");
    rec->nocanput = statvalue(ksp, "nocanput");
    rec->ierrors = statvalue(ksp, "ierrors");
    rec->oerrors = statvalue(ksp, "oerrors");
}
