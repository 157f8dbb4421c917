// The reports' way out: a report is built in memory and leaves whole, in
// one write where the output takes any write at once.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/zorvat.h"
#include "platform/clock.h"

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

// A report that could not be written whole leaves no part of itself in a
// regular file (a disk that filled, a file size limit): the part is cut
// off again, so that the file holds whole reports only and the next one
// does not run on from the middle of this one.  Only where the part is
// still the end of the file, with nothing another writer added after it.
off_t reportat = -1;  // where the report leaving began in a regular file; -1: not known
size_t reportout;     // its bytes written so far
bool reportlost;      // a write of it failed: the rest of it is not written

// The signals that end a run from outside (Ctrl-C, a service manager's
// stop, a hangup, a quit): they wait while a report leaves, so that a
// reader's last report is whole, and act as soon as it is out.  A reader
// that takes nothing for a second after one came makes it act all the
// same: a monitor must stay easy to stop.
constexpr int ENDING[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int64_t PATIENCE = 1'000'000'000;  // nanoseconds without progress

bool held;        // the ending signals wait
sigset_t unheld;  // the signal mask without that
int64_t quiet;    // since when the output has taken nothing with an ending signal come, or 0
enum class outkind { unknown, nonblock, mayblock, pipe } outtype;
bool regular;  // standard output is a regular file

void hold() {
    if (!held) {
        sigset_t ending;
        sigemptyset(&ending);
        for (int sig : ENDING) {
            sigaddset(&ending, sig);
        }
        sigprocmask(SIG_BLOCK, &ending, &unheld);
        held = true;
        quiet = 0;
    }
}

void release() {
    if (held) {
        sigprocmask(SIG_SETMASK, &unheld, nullptr);
        held = false;
    }
}

bool endingwaits() {
    sigset_t pending;
    sigpending(&pending);
    for (int sig : ENDING) {
        if (sigismember(&pending, sig) == 1 && sigismember(&unheld, sig) == 0) {
            return true;
        }
    }
    return false;
}

// Whether a write of standard output can wait on its reader (a pipe, a
// socket, a terminal), which would keep an ending signal waiting as long
// as the reader takes nothing.  Such an output is written only as far as
// it can take without waiting (see room); files and devices such as
// /dev/null take any write at once.
bool canwait() {
    if (outtype == outkind::unknown) {
        struct stat st {};
        const bool known = fstat(STDOUT_FILENO, &st) == 0;
        regular = known && S_ISREG(st.st_mode);
        outtype = known && S_ISFIFO(st.st_mode)                                   ? outkind::pipe
                  : known && (S_ISSOCK(st.st_mode) || isatty(STDOUT_FILENO) != 0) ? outkind::mayblock
                                                                                  : outkind::nonblock;
    }
    const int flags = outtype != outkind::nonblock ? fcntl(STDOUT_FILENO, F_GETFL) : -1;
    return flags >= 0 && (flags & O_NONBLOCK) == 0;
}

// What an output that said it can take more takes without waiting: PIPE_BUF,
// and from a pipe its free pages but two (the one its reader is half way
// through, and the one last written, may be partly filled).
size_t room() {
    size_t most = PIPE_BUF;
    const long page = sysconf(_SC_PAGESIZE);
    const int size = outtype == outkind::pipe ? fcntl(STDOUT_FILENO, F_GETPIPE_SZ) : -1;
    int unread = 0;
    if (page > 0 && size > 0 && ioctl(STDOUT_FILENO, FIONREAD, &unread) == 0) {
        const long free = size / page - (unread + page - 1) / page - 2;
        most = std::max(most, static_cast<size_t>(std::max(free, 0L) * page));
    }
    return most;
}

// Wait until the output can take more, looking every tenth of a second
// for an ending signal: one that has waited a second with no progress
// acts, and if it does not end the process (it is ignored), the wait goes
// on.
void waitout() {
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    while (poll(&out, 1, 100) <= 0) {
        if (!endingwaits()) {
            continue;
        }
        const int64_t now = clocktime();
        if (quiet == 0) {
            quiet = now;
        } else if (now - quiet >= PATIENCE) {
            release();
            hold();
        }
    }
}

// Where the report about to leave begins in a regular file: where the
// next write goes.
void markreport() {
    reportat = -1;
    struct stat st {};
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (!regular || flags < 0) {
        return;
    }
    if ((flags & O_APPEND) == 0) {
        reportat = lseek(STDOUT_FILENO, 0, SEEK_CUR);
    } else if (fstat(STDOUT_FILENO, &st) == 0) {
        reportat = st.st_size;
    }
}

// Cut off the part of the report that was written, where it is the end of
// the file, and write on from where the report began.
void cutreport() {
    struct stat st {};
    if (reportat < 0 || reportout == 0 || fstat(STDOUT_FILENO, &st) != 0 ||
        st.st_size != reportat + static_cast<off_t>(reportout) || ftruncate(STDOUT_FILENO, reportat) != 0) {
        return;
    }
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (flags >= 0 && (flags & O_APPEND) == 0) {
        (void)lseek(STDOUT_FILENO, reportat, SEEK_SET);
    }
}

// Write all of text to standard output, with the ending signals held.  A
// partial write goes on with the rest; an output that takes no more for
// now (a non-blocking pipe whose reader is slow) is waited for; a signal
// retries.  Any other failure loses the rest of the report (cutreport),
// and the first of the run is reported.  A reader that is gone never comes
// back: with SIGPIPE ignored, as services often start, the run ends as the
// signal would have ended it, but with its message and status 1.
void writeout(const char *text, size_t len) {
    hold();
    const bool careful = canwait();
    if (reportlost) {
        return;
    }
    if (reportout == 0) {
        markreport();
    }
    while (len > 0) {
        if (careful) {
            waitout();
        }
        ssize_t n = write(STDOUT_FILENO, text, careful ? std::min(len, room()) : len);
        if (n > 0) {
            text += n;
            len -= static_cast<size_t>(n);
            reportout += static_cast<size_t>(n);
            quiet = 0;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitout();
        } else if (n < 0 && errno != EINTR) {
            const int err = errno;
            if (!writefailed) {
                writefailed = true;
                perror("write error");
            }
            if (err == EPIPE) {
                exit(1);
            }
            cutreport();
            reportlost = true;
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
    reportout = 0;
    reportlost = false;
    // Out: an ending signal that came meanwhile acts now.
    release();
}

int endrun() {
    return writefailed ? 1 : 0;
}
