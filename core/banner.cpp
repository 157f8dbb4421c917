// The column header, one text per unit mode.
#include <array>
#include <cstring>

#include "core/zorvat.h"

int Oflag = OFLAG_BYTES;

namespace {

// Indexed by Oflag; entry 0 is unused.  Kept whole, one text a line.
// clang-format off
constexpr std::array<const char *, 7> banners = {
    nullptr,
    "Name                IMB/s          OMB/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s           MB/s   Pack/s  Nocanput",
    "Name                IKB/s          OKB/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s           KB/s   Pack/s  Nocanput",
    "Name             IBytes/s       OBytes/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s        Bytes/s   Pack/s  Nocanput",
    "Name              IMbit/s        OMbit/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s         Mbit/s   Pack/s  Nocanput",
    "Name              IKbit/s        OKbit/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s         Kbit/s   Pack/s  Nocanput",
    "Name               IBit/s         OBit/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s         Bits/s   Pack/s  Nocanput",
};
// clang-format on

}  // namespace

void pbanner() {
    // Chosen once: the header of a run never changes.
    static const char *banner = nullptr;
    if (!banner) {
        banner = banners[OFLAG_BYTES];
        if (Oflag >= OFLAG_MBYTES && Oflag <= OFLAG_BITS) {
            banner = banners[static_cast<size_t>(Oflag)];
        }
    }
    putreport(banner, strlen(banner));
    putreport("\n", 1);
}
