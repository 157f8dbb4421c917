#include "platform/linux/nlsys.h"

#include <linux/netlink.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/fd.h"

const char *nlsys_devpath = "/proc/net/dev";

int nlsys_open(unsigned groups) {
    const int type = SOCK_RAW | SOCK_CLOEXEC | (groups ? SOCK_NONBLOCK : 0);
    const int fd = ownfd(socket(AF_NETLINK, type, NETLINK_ROUTE));
    // Bound at once, so that its port is known before its first request.
    sockaddr_nl sa{};
    sa.nl_family = AF_NETLINK;
    sa.nl_groups = groups;
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

unsigned nlsys_port(int fd) {
    sockaddr_nl sa{};
    socklen_t len = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0 || sa.nl_family != AF_NETLINK) {
        return 0;
    }
    return sa.nl_pid;
}

int nlsys_room(int fd) {
    int room = 0;
    socklen_t len = sizeof room;
    return getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, &len) == 0 ? room : 0;
}

bool nlsys_setroom(int fd, int bytes, bool force) {
    if (force && setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) {
        return true;
    }
    return setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

ssize_t nlsys_send(int fd, const void *buf, size_t len) {
    return send(fd, buf, len, 0);
}

int nlsys_recv(int fd, mmsghdr *msgs, unsigned n, int flags) {
    return recvmmsg(fd, msgs, n, flags, nullptr);
}
