// The Linux stand-in for the interface requests of discovery.
//
// Linux has no SIOCGIFNUM, and its SIOCGIFCONF lists addresses, not
// interfaces.  These overloads answer both from the kernel's tables: every
// link in index order (the link table of links.h), each followed by its
// logical interfaces (the address labels of labels.h).  The records that
// follow a count on the same socket are the ones counted, so the pair costs
// one look at the kernel's tables; as with the kernel's own pair of
// requests, an interface made in between is not listed.  On the socket the
// records were given on, SIOCGIFFLAGS answers for every name listed from
// that same look (a logical interface has the flags of its link), so that
// the list and its flags agree even when a link goes away meanwhile.  Every
// other request, and SIOCGIFFLAGS of any other name, goes to the kernel.
// Nothing here throws: no memory is a failed request with errno ENOMEM.
#include "platform/sockio.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/labels.h"
#include "platform/linux/links.h"
#include "platform/linux/rtnl.h"

namespace {

// An interface as the requests list it: its name and its flags.
struct listed {
    char name[IFNAMSIZ];
    short flags;
};

bool add(table<listed> *l, const char *name, unsigned flags) {
    listed *e = l->add();
    if (e) {
        memcpy(e->name, name, strnlen(name, sizeof e->name - 1));
        e->flags = static_cast<short>(flags);
    }
    return e != nullptr;
}

// The interfaces in the kernel's order.  False, with errno set, when the
// kernel's tables can't be read or there is no memory for them.
bool ifnames(table<listed> *out) {
    out->count = 0;
    table<label> labels{};
    const linkset *set = linktable();
    const table<rtlink> *links = set ? &set->links : nullptr;
    const int fd = links ? rtnl_socket() : -1;
    bool ok = fd >= 0 && dumplabels(fd, &labels);
    const label *l = labels.items;
    const label *end = l + labels.count;
    for (size_t i = 0; ok && i < links->count; ++i) {
        const rtlink &k = links->items[i];
        ok = add(out, k.name, k.flags);
        for (; ok && l != end && l->index <= k.index; ++l) {
            if (l->index == k.index) {
                ok = add(out, l->name, k.flags);
            }
        }
    }
    const int saved = errno;
    labels.release();
    if (fd >= 0) {
        close(fd);
    }
    errno = saved;
    return ok;
}

// The requests' state: the interfaces of the last count and the socket it
// was asked on; the interfaces the last records listed, their socket, and
// where the last flags request found its name (discovery asks in list
// order, so the next one is tried first).
struct {
    table<listed> counted;
    int countedon = -1;
    table<listed> shown;
    int shownon = -1;
    size_t asked;
} req;

const listed *findlisted(const char *name) {
    const size_t n = req.shown.count;
    for (size_t k = 0; k < n; ++k) {
        const size_t i = (req.asked + 1 + k) % n;
        if (strncmp(req.shown.items[i].name, name, IFNAMSIZ) == 0) {
            req.asked = i;
            return &req.shown.items[i];
        }
    }
    return nullptr;
}

// Requests fail on a descriptor that is no socket.
bool issocket(int fd) {
    int type = 0;
    socklen_t tlen = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &tlen) == 0;
}

}  // namespace

int ioctl(int fd, unsigned long request, int *arg) {
    if (request != SIOCGIFNUM) {
        return ::ioctl(fd, request, static_cast<void *>(arg));
    }
    req.countedon = -1;
    if (!issocket(fd) || !ifnames(&req.counted)) {
        return -1;
    }
    req.countedon = fd;
    *arg = static_cast<int>(req.counted.count);
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifconf *arg) {
    if (request != SIOCGIFCONF && request != O_SIOCGIFCONF) {
        return ::ioctl(fd, request, static_cast<void *>(arg));
    }
    if (!issocket(fd)) {
        return -1;
    }
    if (arg->ifc_len < 0) {
        errno = EINVAL;
        return -1;
    }
    req.shownon = -1;
    if (fd == req.countedon) {
        std::swap(req.shown, req.counted);
    } else if (!ifnames(&req.shown)) {
        req.shown.count = 0;
        return -1;
    }
    req.countedon = -1;
    req.counted.count = 0;
    req.shownon = fd;
    const size_t n = std::min(static_cast<size_t>(arg->ifc_len) / sizeof(struct ifreq), req.shown.count);
    req.shown.count = n;
    for (size_t i = 0; i < n; ++i) {
        struct ifreq &r = arg->ifc_req[i];
        memset(&r, 0, sizeof r);
        memcpy(r.ifr_name, req.shown.items[i].name, IFNAMSIZ);
    }
    arg->ifc_len = static_cast<int>(n * sizeof(struct ifreq));
    req.asked = n - 1;
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifreq *arg) {
    if (request == SIOCGIFFLAGS && fd == req.shownon) {
        if (const listed *l = findlisted(arg->ifr_name)) {
            arg->ifr_flags = l->flags;
            return 0;
        }
    }
    return ::ioctl(fd, request, static_cast<void *>(arg));
}
