// Descriptors that the stand-ins keep open.
#ifndef ZORVAT_PLATFORM_LINUX_FD_H
#define ZORVAT_PLATFORM_LINUX_FD_H

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

// fd, moved above the standard three when it took one of them: a monitor
// started with standard output closed would otherwise write its reports
// into the socket that took descriptor 1.  -1, with errno set, when fd is
// -1 or can't be moved (the original is closed then).
inline int ownfd(int fd) {
    if (fd < 0 || fd > 2) {
        return fd;
    }
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    close(fd);
    errno = saved;
    return high;
}

#endif
