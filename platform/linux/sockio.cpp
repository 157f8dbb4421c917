// The Linux stand-in for the interface requests of discovery.
//
// The links come from the link table of rtnl.h (the one kstat_open dumped
// at start, or a dump of its own), the logical interfaces from a dump of
// the IPv4 addresses; both work the same under user-mode emulation of
// another processor.  Nothing here throws: no memory is a failed request
// with errno ENOMEM.
#include "platform/sockio.h"

#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/linux/rtnl.h"

namespace {

// An interface as the requests report it: its name and its flags (a
// logical interface has those of its link).
struct listed {
    char name[IFNAMSIZ];
    short flags;
};

struct listing {
    listed *items;
    size_t count;
    size_t room;
};

bool add(listing *l, const char *name, unsigned flags) {
    if (!makeroom(l->items, l->count, l->room)) {
        return false;
    }
    listed &e = l->items[l->count++];
    strncpy(e.name, name, sizeof e.name - 1);
    e.name[sizeof e.name - 1] = '\0';
    e.flags = static_cast<short>(flags);
    return true;
}

// A logical interface: an IPv4 address label that holds a colon, and the
// index of its link.
struct label {
    int index;
    char name[IFNAMSIZ];
};

struct labels {
    label *items;
    size_t count;
    size_t room;
};

bool takeaddr(const nlmsghdr *nh, void *arg) {
    if (nh->nlmsg_type != RTM_NEWADDR) {
        return true;
    }
    auto *ls = static_cast<labels *>(arg);
    const auto *ifa = static_cast<const ifaddrmsg *>(NLMSG_DATA(nh));
    auto len = static_cast<unsigned>(IFA_PAYLOAD(nh));
    for (auto *rta = IFA_RTA(ifa); RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
        const auto *text = static_cast<const char *>(RTA_DATA(rta));
        const size_t n = strnlen(text, std::min<size_t>(RTA_PAYLOAD(rta), IFNAMSIZ - 1));
        if (rta->rta_type != IFA_LABEL || !memchr(text, ':', n)) {
            continue;
        }
        if (!makeroom(ls->items, ls->count, ls->room, 16)) {
            return false;
        }
        label &l = ls->items[ls->count++];
        l = label{};
        l.index = static_cast<int>(ifa->ifa_index);
        memcpy(l.name, text, n);
    }
    return true;
}

// The interfaces in the kernel's order: every link by index, each followed
// by its logical interfaces, each name once.  False, with errno set, when
// the kernel's tables can't be read or there is no memory for them.
bool ifnames(listing *out) {
    out->count = 0;
    rtlinks t{};
    labels ls{};
    int fd = rtnl_socket();
    bool ok = fd >= 0 && (rtnl_take(&t) || rtnl_links(fd, &t)) && rtnl_dump(fd, RTM_GETADDR, takeaddr, &ls);
    if (ok) {
        // The address dump keeps the kernel's order within a link.
        std::stable_sort(ls.items, ls.items + ls.count,
                         [](const label &a, const label &b) { return a.index < b.index; });
        const label *l = ls.items;
        const label *end = ls.items + ls.count;
        for (size_t i = 0; ok && i < t.count; ++i) {
            const rtlink &k = t.links[i];
            ok = add(out, k.name, k.flags);
            for (; l != end && l->index <= k.index; ++l) {
                const label *first = ls.items;
                bool seen = std::any_of(
                    first, l, [l](const label &o) { return o.index == l->index && strcmp(o.name, l->name) == 0; });
                if (ok && l->index == k.index && !seen) {
                    ok = add(out, l->name, k.flags);
                }
            }
        }
    }
    int saved = errno;
    free(t.links);
    free(ls.items);
    if (fd >= 0) {
        close(fd);
    }
    errno = saved;
    return ok;
}

// The interfaces that the last count was taken from, and its socket.  The
// records that follow a count on the same socket are these, so the pair
// costs one look at the kernel's tables, not two; like the kernel's own
// pair of requests, an interface made in between is then not listed.
listing counted;
int countedon = -1;

// The interfaces the last records listed, the socket they were given on,
// and where the last flags request found its name.  The flags of a listed
// name come from the same look at the kernel's tables as the list, so that
// list and flags agree: a link deleted in between, or a label whose prefix
// names no link, still has its flags.
listing handedout;
int handedon = -1;
size_t lastasked;

const listed *findlisted(const char *name) {
    const size_t n = handedout.count;
    for (size_t k = 0; k < n; ++k) {
        // Discovery asks in list order: the next one is tried first.
        size_t i = (lastasked + 1 + k) % n;
        if (strncmp(handedout.items[i].name, name, IFNAMSIZ) == 0) {
            lastasked = i;
            return &handedout.items[i];
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
    countedon = -1;
    if (!issocket(fd) || !ifnames(&counted)) {
        return -1;
    }
    countedon = fd;
    *arg = static_cast<int>(counted.count);
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
    handedon = -1;
    if (fd == countedon) {
        std::swap(handedout, counted);
    } else if (!ifnames(&handedout)) {
        handedout.count = 0;
        return -1;
    }
    countedon = -1;
    counted.count = 0;
    handedon = fd;
    size_t room = static_cast<size_t>(arg->ifc_len) / sizeof(struct ifreq);
    size_t n = std::min(room, handedout.count);
    handedout.count = n;
    for (size_t i = 0; i < n; ++i) {
        struct ifreq &r = arg->ifc_req[i];
        memset(&r, 0, sizeof r);
        memcpy(r.ifr_name, handedout.items[i].name, IFNAMSIZ);
    }
    arg->ifc_len = static_cast<int>(n * sizeof(struct ifreq));
    lastasked = n - 1;
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifreq *arg) {
    if (request == SIOCGIFFLAGS && fd == handedon) {
        if (const listed *l = findlisted(arg->ifr_name)) {
            arg->ifr_flags = l->flags;
            return 0;
        }
    }
    return ::ioctl(fd, request, static_cast<void *>(arg));
}
