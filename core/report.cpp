// Rate lines: two samples of one interface become per-second figures.
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

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

// Write the decimal digits of v, right-aligned in width characters.
char *putdigits(char *p, uint64_t v, bool neg, int width, const char *tail, size_t taillen) {
    char digits[24];
    char *d = digits + sizeof digits;
    do {
        *--d = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (neg) {
        *--d = '-';
    }
    auto len = static_cast<int>(digits + sizeof digits - d);
    for (int pad = width - len - static_cast<int>(taillen); pad > 0; --pad) {
        *p++ = ' ';
    }
    memcpy(p, d, static_cast<size_t>(len));
    p += len;
    memcpy(p, tail, taillen);
    return p + taillen;
}

}  // namespace

// Rounding to one decimal is done on the exact binary value of v, halves
// to even, as the C library's "%.1f" does: v = M * 2^E with M below 2^53,
// so the integer part and the tenths come from shifts of M, and the
// remainder decides the rounding without any inexact step.
char *fmtfixed(char *p, double v, int width) {
    double a = std::fabs(v);
    if (!(a < 0x1p53)) {
        // Beyond the counters' reach (and not finite): the library's way.
        int n = snprintf(p, FMTROOM, "%*.1f", width, v);
        return p + n;
    }
    int e = 0;
    double m = std::frexp(a, &e);
    auto mant = static_cast<uint64_t>(std::ldexp(m, 53));
    int shift = 53 - e;  // a = mant / 2^shift
    uint64_t whole = 0;
    uint64_t tenth = 0;
    if (shift <= 0) {
        whole = mant << -shift;
    } else if (shift < 58) {
        // Below 2^-5 (shift 58 and up) the value is under 0.05: 0.0.
        whole = mant >> shift;
        uint64_t mask = (uint64_t{1} << shift) - 1;
        uint64_t t = (mant & mask) * 10;
        tenth = t >> shift;
        uint64_t rest = t & mask;
        uint64_t half = uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (tenth & 1) != 0)) {
            if (++tenth == 10) {
                tenth = 0;
                ++whole;
            }
        }
    }
    const char tail[2] = {'.', static_cast<char>('0' + tenth)};
    return putdigits(p, whole, std::signbit(v), width, tail, sizeof tail);
}

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

    auto nocanput = static_cast<int32_t>(diff(curr.nocanput, prev.nocanput).diff);

    // The line is the one that
    //   "%-8s %14.1f %14.1f %8.1f %8.1f  %6.1f %6.1f %6.1f %14.1f %8.1f  %8d\n"
    // prints, built by hand: the library's printf costs several times as
    // much, and a monitor of a thousand links prints a thousand lines a
    // turn.
    char line[11 * FMTROOM];
    char *p = line;
    size_t len = strnlen(name, 200);
    memcpy(p, name, len);
    p += len;
    for (; len < 8; ++len) {
        *p++ = ' ';
    }
    *p++ = ' ';
    p = fmtfixed(p, rate(rb, in), 14);
    *p++ = ' ';
    p = fmtfixed(p, rate(ob, out), 14);
    *p++ = ' ';
    p = fmtfixed(p, rate(ip, pin), 8);
    *p++ = ' ';
    p = fmtfixed(p, rate(op, pout), 8);
    *p++ = ' ';
    *p++ = ' ';
    p = fmtfixed(p, static_cast<double>(diff(curr.ierrors, prev.ierrors).diff) / secs, 6);
    *p++ = ' ';
    p = fmtfixed(p, static_cast<double>(diff(curr.oerrors, prev.oerrors).diff) / secs, 6);
    *p++ = ' ';
    p = fmtfixed(p, static_cast<double>(diff(curr.collisions, prev.collisions).diff) / secs, 6);
    *p++ = ' ';
    p = fmtfixed(p, (in + out) / secs, 14);
    *p++ = ' ';
    p = fmtfixed(p, (pin + pout) / secs, 8);
    *p++ = ' ';
    *p++ = ' ';
    uint64_t mag =
        nocanput < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(nocanput)) : static_cast<uint64_t>(nocanput);
    p = putdigits(p, mag, nocanput < 0, 8, "", 0);
    *p++ = '\n';
    // A failed write shows at the flush that ends the report.
    (void)fwrite(line, 1, static_cast<size_t>(p - line), stdout);
}

namespace {
int writeerror;  // errno of the last report that could not be written
}

void endreport() {
    (void)puts("");
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
