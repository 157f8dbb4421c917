// Rate lines: two samples of one interface become per-second figures.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "core/columns.h"
#include "core/zorvat.h"

namespace {

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

change diff(const ifdata &curr, const ifdata &prev, counter c) {
    const uint64_t now = curr.*counters[c];
    const uint64_t was = prev.*counters[c];
    if (now == NOSTAT || was == NOSTAT) {
        return {true, 0};
    }
    if (now >= was) {
        return {false, now - was};
    }
    const bool wraps = (curr.narrow & (1U << c)) != 0 && c <= OPACKETS;
    return {false, wraps ? (now - was) & 0xFFFFFFFF : now};
}

// Room for any figure the library writes with one decimal: the largest
// double has 309 digits.
constexpr size_t FIGUREROOM = 330;

// Put the text of a figure right-aligned in a field of width, after gap
// blanks; a wider figure widens the field.
char *putfield(char *p, int gap, int width, const char *text, const char *end) {
    const auto len = static_cast<int>(end - text);
    for (int pad = gap + (width > len ? width - len : 0); pad > 0; --pad) {
        *p++ = ' ';
    }
    memcpy(p, text, static_cast<size_t>(len));
    return p + len;
}

}  // namespace

void printline(const char *name, const ifdata &curr, const ifdata &prev) {
    const unitmode &u = unitof(Oflag);
    const double secs = Elapsed;

    char line[32 + std::size(columns) * (2 + FIGUREROOM) + 1];
    char *p = line;
    size_t len = strnlen(name, 31);
    memcpy(p, name, len);
    p += len;
    for (; len < NAMEWIDTH; ++len) {
        *p++ = ' ';
    }
    for (const column &c : columns) {
        const change a = diff(curr, prev, c.shows);
        const change b = c.plus == NOCOUNTER ? change{false, 0} : diff(curr, prev, c.plus);
        char figure[FIGUREROOM];
        std::to_chars_result r{};
        if (!(c.how & PERSECOND)) {
            r = std::to_chars(figure, figure + sizeof figure, a.diff + b.diff);
        } else {
            double v = -1.0;
            if (!(c.how & MARKED) || !a.missing) {
                v = static_cast<double>(a.diff) + static_cast<double>(b.diff);
                if (c.how & BYTES) {
                    v = v * u.mul / u.div;
                }
                v /= secs;
            }
            // The bytes of printf's "%.1f".
            r = std::to_chars(figure, figure + sizeof figure, v, std::chars_format::fixed, 1);
        }
        p = putfield(p, c.gap, c.width, figure, r.ptr);
    }
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
// A reader that is gone never comes back: with SIGPIPE ignored, as
// services often start, the run ends as the signal would have ended it,
// but with its message and status 1.
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
            const int err = errno;
            if (!writefailed) {
                writefailed = true;
                perror("write error");
            }
            if (err == EPIPE) {
                exit(1);
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
