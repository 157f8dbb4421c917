// Scripted interface requests.
#include <algorithm>
#include <cerrno>

#include "platform/sockio.h"
#include "tests/fakes/fakes.h"

namespace fake {
sockscript sock;
}  // namespace fake

namespace {

using fake::sock;

int refuse(int err) {
    errno = err;
    return -1;
}

}  // namespace

int ioctl(int fd, unsigned long request, int *arg) {
    sock.fd = fd;
    if (request != SIOCGIFNUM) {
        return refuse(EINVAL);
    }
    if (sock.numerrno) {
        return refuse(sock.numerrno);
    }
    *arg = sock.count < 0 ? static_cast<int>(sock.names.size()) : sock.count;
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifconf *arg) {
    sock.fd = fd;
    sock.confrequest = request;
    sock.conflen = arg->ifc_len;
    if (request != SIOCGIFCONF && request != O_SIOCGIFCONF) {
        return refuse(EINVAL);
    }
    if (sock.conferrno) {
        return refuse(sock.conferrno);
    }
    size_t n = std::min(static_cast<size_t>(std::max(arg->ifc_len, 0)) / sizeof(struct ifreq), sock.names.size());
    for (size_t i = 0; i < n; ++i) {
        struct ifreq &r = arg->ifc_req[i];
        memset(&r, 0, sizeof r);
        sock.names[i].copy(r.ifr_name, sizeof r.ifr_name - 1);
    }
    arg->ifc_len = static_cast<int>(n * sizeof(struct ifreq));
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifreq *arg) {
    sock.fd = fd;
    if (request != SIOCGIFFLAGS) {
        return refuse(EINVAL);
    }
    std::string name(arg->ifr_name, strnlen(arg->ifr_name, sizeof arg->ifr_name));
    sock.flagqueries.push_back(name);
    if (sock.flagserrno && name == sock.flagsfails) {
        return refuse(sock.flagserrno);
    }
    auto it = sock.flags.find(name);
    arg->ifr_flags = static_cast<short>(it == sock.flags.end() ? 0 : it->second);
    return 0;
}
