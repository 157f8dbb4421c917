// Rate lines: two samples of one interface become per-second figures.
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// One counter's change between two samples.  A counter that is NOSTAT in
// either sample has no change: without this a statistic that comes or goes
// between samples would show its whole value as one interval's traffic.
// A counter that went down either wrapped or was reset: a 32-bit byte or
// packet counter wraps past 2^32 on a fast link, so its change is the
// modular one; any other (a 64-bit counter, or an error, collision or drop
// count, which never comes near 2^32) was reset, when its link was made
// again or its driver restarted, and its change is its count since then.
struct change {
    bool missing;
    uint64_t diff;
};

change diff(uint64_t curr, uint64_t prev, bool wraps) {
    if (curr == NOSTAT || prev == NOSTAT) {
        return {true, 0};
    }
    if (curr >= prev) {
        return {false, curr - prev};
    }
    return {false, wraps ? (curr - prev) & 0xFFFFFFFF : curr};
}

// Whether counter bit of rec came from a 32-bit statistic.
bool narrow(const ifdata &rec, int bit) {
    return (rec.narrow & (1U << bit)) != 0;
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
    const double secs = Elapsed;

    change rb = diff(curr.rbytes, prev.rbytes, narrow(curr, 0));
    change ip = diff(curr.ipackets, prev.ipackets, narrow(curr, 1));
    change ob = diff(curr.obytes, prev.obytes, narrow(curr, 2));
    change op = diff(curr.opackets, prev.opackets, narrow(curr, 3));

    double in = static_cast<double>(rb.diff) * u.mul / u.div;
    double out = static_cast<double>(ob.diff) * u.mul / u.div;
    auto pin = static_cast<double>(ip.diff);
    auto pout = static_cast<double>(op.diff);

    // A missing byte or packet counter shows as -1.0.
    auto rate = [secs](const change &c, double v) { return c.missing ? -1.0 : v / secs; };
    auto events = [secs](uint64_t c, uint64_t p) { return static_cast<double>(diff(c, p, false).diff) / secs; };

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
    p = fmtfixed(p, events(curr.ierrors, prev.ierrors), 6);
    *p++ = ' ';
    p = fmtfixed(p, events(curr.oerrors, prev.oerrors), 6);
    *p++ = ' ';
    p = fmtfixed(p, events(curr.collisions, prev.collisions), 6);
    *p++ = ' ';
    p = fmtfixed(p, (in + out) / secs, 14);
    *p++ = ' ';
    p = fmtfixed(p, (pin + pout) / secs, 8);
    *p++ = ' ';
    *p++ = ' ';
    // The drops of the interval, a count, not a rate.
    p = putdigits(p, diff(curr.nocanput, prev.nocanput, false).diff, false, 8, "", 0);
    *p++ = '\n';
    putreport(line, static_cast<size_t>(p - line));
}

namespace {

// The report being built.  It starts in static storage, enough for a few
// lines; newreport() gives it room for the largest report of the run.
char firstroom[4096];
char *report = firstroom;
size_t reportroom = sizeof firstroom;
size_t reportlen;

// A line of the usual widths, with a name of up to 31 characters; wider
// figures make a line longer, which only costs a second write.
constexpr size_t LINEROOM = 160;

bool writefailed;  // a report of this run could not be written

// Write all of text to standard output.  A partial write goes on with the
// rest; an output that takes no more for now (a non-blocking pipe whose
// reader is slow) is waited for; a signal retries.  Any other failure
// loses what is left of the text, and the first of the run is reported.
void writeout(const char *text, size_t len) {
    while (len > 0) {
        ssize_t n = write(STDOUT_FILENO, text, len);
        if (n >= 0) {
            text += n;
            len -= static_cast<size_t>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd out{STDOUT_FILENO, POLLOUT, 0};
            (void)poll(&out, 1, -1);
        } else if (errno != EINTR) {
            if (!writefailed) {
                writefailed = true;
                perror("write error");
            }
            return;
        }
    }
}

}  // namespace

void newreport(int lines) {
    size_t room = (static_cast<size_t>(lines > 0 ? lines : 0) + 2) * LINEROOM;
    if (room <= reportroom) {
        return;
    }
    auto *p = static_cast<char *>(malloc(room));
    if (!p) {
        fail("no memory");
    }
    memcpy(p, report, reportlen);
    report = p;
    reportroom = room;
}

void putreport(const char *text, size_t len) {
    if (len > reportroom - reportlen) {
        // Figures far wider than their columns: the report goes out in
        // more than one write, still whole and in order.
        writeout(report, reportlen);
        reportlen = 0;
        if (len > reportroom) {
            writeout(text, len);
            return;
        }
    }
    memcpy(report + reportlen, text, len);
    reportlen += len;
}

void endreport() {
    putreport("\n", 1);
    writeout(report, reportlen);
    reportlen = 0;
}

int endrun() {
    return writefailed ? 1 : 0;
}
