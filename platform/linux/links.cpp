#include "platform/linux/links.h"

#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/rtnl.h"

bool parselink(const nlmsghdr *nh, rtlink *l) {
    if (nh->nlmsg_type != RTM_NEWLINK && nh->nlmsg_type != RTM_DELLINK) {
        return false;
    }
    size_t len = 0;
    for (const rtattr *rta = rtnl_attrs(nh, sizeof(ifinfomsg), &len); rtnl_attrok(rta, len);
         rta = rtnl_attrnext(rta, &len)) {
        if (rta->rta_type != IFLA_IFNAME) {
            continue;
        }
        const auto *ifi = static_cast<const ifinfomsg *>(NLMSG_DATA(nh));
        *l = rtlink{};
        l->index = ifi->ifi_index;
        l->flags = ifi->ifi_flags;
        const auto *text = static_cast<const char *>(RTA_DATA(rta));
        memcpy(l->name, text, strnlen(text, std::min<size_t>(RTA_PAYLOAD(rta), sizeof l->name - 1)));
        return l->name[0] != '\0';
    }
    return false;
}

int linkwatch() {
    return rtnl_socket(RTMGRP_LINK);
}

bool linknews(int fd, void (*seen)(const rtlink &, bool gone, void *), void *arg) {
    // Announcements are rare: this room is touched only when one came.
    alignas(nlmsghdr) static char news[65536];
    bool whole = true;
    for (;;) {
        const ssize_t n = recv(fd, news, sizeof news, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == ENOBUFS) {
            // The kernel dropped announcements; the rest are read out all
            // the same, so that the next call begins after them.
            whole = false;
            continue;
        }
        if (n < 0) {
            return whole && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
        if (static_cast<size_t>(n) > sizeof news) {
            whole = false;
        }
        if (!whole) {
            continue;
        }
        auto rest = static_cast<size_t>(n);
        for (auto *nh = reinterpret_cast<const nlmsghdr *>(news); rtnl_ok(nh, rest); nh = rtnl_next(nh, &rest)) {
            rtlink l{};
            if (parselink(nh, &l)) {
                seen(l, nh->nlmsg_type == RTM_DELLINK, arg);
            }
        }
    }
}

namespace {

// The table, the subscription that tells whether it is current, and the
// network namespace they belong to.
struct {
    table<rtlink> links;
    bool current;
    int watch = -1;
    dev_t nsdev;
    ino_t nsino;
} kept;

// Any announcement says the table may have changed.
void notechange(const rtlink &, bool, void *arg) {
    *static_cast<bool *>(arg) = true;
}

bool takelink(const nlmsghdr *nh, void *arg) {
    rtlink l{};
    if (!parselink(nh, &l)) {
        return true;
    }
    rtlink *to = static_cast<table<rtlink> *>(arg)->add();
    if (to) {
        *to = l;
    }
    return to != nullptr;
}

}  // namespace

const table<rtlink> *linktable() {
    struct stat ns {};
    const bool known = stat("/proc/self/ns/net", &ns) == 0;
    if (!known || ns.st_dev != kept.nsdev || ns.st_ino != kept.nsino) {
        // Another namespace: the subscription sees the one it was made in.
        if (kept.watch >= 0) {
            close(kept.watch);
            kept.watch = -1;
        }
        kept.current = false;
        kept.nsdev = known ? ns.st_dev : 0;
        kept.nsino = known ? ns.st_ino : 0;
    }
    // Subscribed before the dump, so that no change after it goes unseen.
    if (kept.watch < 0) {
        kept.watch = linkwatch();
        kept.current = false;
        // It need only tell that something changed, which an overflow
        // tells as well: the least room the kernel gives does.
        const int least = 1;
        (void)setsockopt(kept.watch, SOL_SOCKET, SO_RCVBUF, &least, sizeof least);
    }
    bool changed = false;
    if (kept.watch < 0 || !linknews(kept.watch, notechange, &changed) || changed || !known) {
        kept.current = false;
    }
    if (kept.current) {
        return &kept.links;
    }
    kept.links.count = 0;
    const int fd = rtnl_socket();
    const bool ok = fd >= 0 && rtnl_dump(fd, RTM_GETLINK, takelink, &kept.links, true);
    if (fd >= 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    if (!ok) {
        return nullptr;
    }
    std::sort(kept.links.items, kept.links.items + kept.links.count,
              [](const rtlink &a, const rtlink &b) { return a.index < b.index; });
    kept.current = kept.watch >= 0 && known;
    return &kept.links;
}
