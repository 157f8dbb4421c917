// The reports' way out: a report is built in memory and leaves in one
// write.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/zorvat.h"

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
