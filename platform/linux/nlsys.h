// The system's netlink calls that the stand-ins make, and the file of the
// kernel's counters by name: apart from everything that reads what they
// give, so that the tests can stand a kernel of their own behind them.
#ifndef ZORVAT_PLATFORM_LINUX_NLSYS_H
#define ZORVAT_PLATFORM_LINUX_NLSYS_H

#include <sys/socket.h>
#include <sys/types.h>

// A NETLINK_ROUTE socket bound to the multicast groups (none: one for
// requests), above the standard descriptors, without blocking when it has
// groups; -1 with errno set.
int nlsys_open(unsigned groups);

// The socket's port, which the kernel's answers to it carry; 0 when it
// can't be told.
unsigned nlsys_port(int fd);

// The bytes of the socket's receive buffer, or 0 when it can't be told.
int nlsys_room(int fd);

// Make the socket's receive buffer about bytes, beyond the system's
// limit where the process may (force).  False with errno set.
bool nlsys_setroom(int fd, int bytes, bool force);

// send(2) and recvmmsg(2) on such a socket.
ssize_t nlsys_send(int fd, const void *buf, size_t len);
int nlsys_recv(int fd, mmsghdr *msgs, unsigned n, int flags);

// The text of the kernel's counters by name: /proc/net/dev.
extern const char *nlsys_devpath;

#endif
