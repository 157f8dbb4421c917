#include "platform/linux/links.h"

#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/rtnl.h"

bool parselink(const nlmsghdr *nh, size_t len, linkchange *n, bool counters) {
    if ((nh->nlmsg_type != RTM_NEWLINK && nh->nlmsg_type != RTM_DELLINK) || len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return false;
    }
    const auto *ifi = static_cast<const ifinfomsg *>(NLMSG_DATA(nh));
    if (ifi->ifi_family != AF_UNSPEC) {
        return false;
    }
    *n = linkchange{};
    n->link.index = ifi->ifi_index;
    n->link.flags = ifi->ifi_flags;
    n->gone = nh->nlmsg_type == RTM_DELLINK;
    // Of a message cut short, the attributes within the bytes received.
    size_t rest = 0;
    const rtattr *rta = rtnl_attrs(nh, sizeof(ifinfomsg), &rest);
    const size_t head = NLMSG_SPACE(sizeof(ifinfomsg));
    rest = std::min(rest, len > head ? len - head : 0);
    // The name comes first, the counters some attributes later: what
    // comes after them is not looked at.
    for (; !n->counted && rtnl_attrok(rta, rest); rta = rtnl_attrnext(rta, &rest)) {
        if (rta->rta_type == IFLA_IFNAME) {
            const auto *text = static_cast<const char *>(RTA_DATA(rta));
            memcpy(n->link.name, text, strnlen(text, std::min<size_t>(RTA_PAYLOAD(rta), sizeof n->link.name - 1)));
            if (!counters) {
                break;
            }
        } else if (counters && rta->rta_type == IFLA_STATS64) {
            rtnl_link_stats64 s{};
            memcpy(&s, RTA_DATA(rta), std::min<size_t>(RTA_PAYLOAD(rta), sizeof s));
            n->c = countersof(s);
            n->counted = true;
        }
    }
    return n->link.name[0] != '\0';
}

int linkwatch() {
    const int fd = rtnl_socket(RTMGRP_LINK);
    // Room for a burst of announcements between two readings: each takes
    // about 2.3 KiB of it (link churn on a host of containers brings some
    // thousands a second).  The kernel doubles what it is given.
    const int room = 8 << 20;
    if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0) {
        (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    }
    return fd;
}

bool linknews(int fd, void (*seen)(const linkchange &, void *), void *arg, bool (*wanted)(const rtlink &, void *)) {
    // Many announcements a call, each datagram of its own.  An announcement
    // takes 1.5 to 2 KiB, one of a link with many alternative names more
    // than 64 KiB: one received cut short is read as far as it goes (the
    // name, then the counters, come within its first few hundred bytes),
    // but one that can't be read so (user-mode emulation of another
    // processor translates no message it has only part of) counts as
    // announcements lost.  This room is touched only when announcements
    // come.
    constexpr unsigned BATCH = 32;
    constexpr size_t ROOM = 4096;
    alignas(nlmsghdr) static char news[BATCH][ROOM];
    static iovec iov[BATCH];
    static mmsghdr msgs[BATCH];
    bool whole = true;
    for (;;) {
        for (unsigned i = 0; i < BATCH; ++i) {
            iov[i] = {news[i], ROOM};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = recvmmsg(fd, msgs, BATCH, MSG_DONTWAIT, nullptr);
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
        for (int i = 0; whole && i < n; ++i) {
            auto rest = static_cast<size_t>(msgs[i].msg_len);
            const auto *nh = reinterpret_cast<const nlmsghdr *>(news[i]);
            if ((msgs[i].msg_hdr.msg_flags & MSG_TRUNC) != 0) {
                // Cut short: one message, read within the bytes received.
                linkchange c{};
                if (rest < sizeof(nlmsghdr) || !parselink(nh, rest, &c, false)) {
                    whole = false;
                    break;
                }
                if (!wanted || wanted(c.link, arg)) {
                    (void)parselink(nh, rest, &c);
                    seen(c, arg);
                }
                continue;
            }
            for (; rtnl_ok(nh, rest); nh = rtnl_next(nh, &rest)) {
                linkchange c{};
                if (parselink(nh, nh->nlmsg_len, &c, false) && (!wanted || wanted(c.link, arg))) {
                    (void)parselink(nh, nh->nlmsg_len, &c);
                    seen(c, arg);
                }
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
void notechange(const linkchange &, void *arg) {
    *static_cast<bool *>(arg) = true;
}

bool takelink(const nlmsghdr *nh, void *arg) {
    linkchange l{};
    if (!parselink(nh, nh->nlmsg_len, &l, false)) {
        return true;
    }
    rtlink *to = static_cast<table<rtlink> *>(arg)->add();
    if (to) {
        *to = l.link;
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
        kept.watch = rtnl_socket(RTMGRP_LINK);
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
