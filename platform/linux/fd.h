// Descriptors that the stand-ins keep open.
#ifndef ZORVAT_PLATFORM_LINUX_FD_H
#define ZORVAT_PLATFORM_LINUX_FD_H

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

// fd, moved above the standard three when it took one of them: a monitor
// started with standard output closed would otherwise write its reports
// into the socket that took descriptor 1.  -1, with errno set, when fd is
// -1 or can't be moved (the original is closed then).  The move is made
// with dup, which user-mode emulation of another processor follows for
// the sockets whose messages it translates (it does not for fcntl).
inline int ownfd(int fd) {
    int low[3];
    int n = 0;
    while (fd >= 0 && fd <= 2) {
        low[n++] = fd;
        fd = dup(fd);
    }
    const int saved = errno;
    while (n > 0) {
        close(low[--n]);
    }
    if (fd >= 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        close(fd);
        fd = -1;
    }
    errno = saved;
    return fd;
}

#endif
