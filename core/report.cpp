// Rate lines: two samples of one interface become per-second figures.
#include <array>
#include <cerrno>
#include <cstdio>

#include "core/zorvat.h"

namespace {

// How byte counts are scaled in each unit mode: multiplied first, then
// divided.  Indexed by Oflag; any other mode counts plain bytes.
struct unitscale {
    double mul;
    double div;
};
constexpr std::array<unitscale, 7> units = {{
    {1, 1},        // unused
    {1, 1048576},  // OFLAG_MBYTES
    {1, 1024},     // OFLAG_KBYTES
    {1, 1},        // OFLAG_BYTES
    {8, 1048576},  // OFLAG_MBITS
    {8, 1024},     // OFLAG_KBITS
    {8, 1},        // OFLAG_BITS
}};

// One counter's change between two samples.  The counters are modular, so
// a wrap past 2^32 still gives the true change.  A counter that is NOSTAT
// in either sample has no change: without this a statistic that comes or
// goes between samples would show its whole value as one interval's
// traffic.
struct change {
    bool missing;
    uint32_t diff;
};

change diff(uint32_t curr, uint32_t prev) {
    if (curr == NOSTAT || prev == NOSTAT) {
        return {true, 0};
    }
    return {false, curr - prev};
}

}  // namespace

void printline(const char *name, const ifdata &curr, const ifdata &prev) {
    const unitscale &u = units[Oflag >= OFLAG_MBYTES && Oflag <= OFLAG_BITS ? Oflag : OFLAG_BYTES];
    const double secs = interval;

    change rb = diff(curr.rbytes, prev.rbytes);
    change ob = diff(curr.obytes, prev.obytes);
    change ip = diff(curr.ipackets, prev.ipackets);
    change op = diff(curr.opackets, prev.opackets);

    double in = static_cast<double>(rb.diff) * u.mul / u.div;
    double out = static_cast<double>(ob.diff) * u.mul / u.div;
    double pin = ip.diff;
    double pout = op.diff;

    // A missing byte or packet counter shows as -1.0.
    auto rate = [secs](const change &c, double v) { return c.missing ? -1.0 : v / secs; };

    printf("%-8s %14.1f %14.1f %8.1f %8.1f  %6.1f %6.1f %6.1f %14.1f %8.1f  %8d\n", name, rate(rb, in),
           rate(ob, out), rate(ip, pin), rate(op, pout),
           static_cast<double>(diff(curr.ierrors, prev.ierrors).diff) / secs,
           static_cast<double>(diff(curr.oerrors, prev.oerrors).diff) / secs,
           static_cast<double>(diff(curr.collisions, prev.collisions).diff) / secs, (in + out) / secs,
           (pin + pout) / secs, static_cast<int32_t>(diff(curr.nocanput, prev.nocanput).diff));
}

namespace {
int writeerror;  // errno of the last report that could not be written
}

void endreport() {
    puts("");
    if (fflush(stdout) != 0) {
        writeerror = errno;
    }
}

int endrun() {
    if (writeerror != 0) {
        errno = writeerror;
        perror("write error");
        return 1;
    }
    return 0;
}
