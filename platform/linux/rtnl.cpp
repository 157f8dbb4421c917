#include "platform/linux/rtnl.h"

#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Room for one reply of a dump: the kernel fills at most about 32 KiB.
alignas(nlmsghdr) char reply[65536];

rtlinks kept{};

}  // namespace

int rtnl_socket() {
    return socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
}

bool rtnl_dump(int fd, int type, bool (*take)(const nlmsghdr *, void *), void *arg) {
    // One request serves the three tables: its header is the largest of
    // the three, all of whose first byte is the address family.
    struct {
        nlmsghdr nh;
        union {
            ifinfomsg link;
            ifaddrmsg addr;
            if_stats_msg stats;
        } h;
        rtattr mask;
        uint32_t maskbits;
    } req{};
    req.nh.nlmsg_type = static_cast<unsigned short>(type);
    req.nh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.nh.nlmsg_seq = 1;
    switch (type) {
    case RTM_GETADDR:
        req.nh.nlmsg_len = NLMSG_LENGTH(sizeof req.h.addr);
        req.h.addr.ifa_family = AF_INET;
        break;
    case RTM_GETSTATS:
        req.nh.nlmsg_len = NLMSG_LENGTH(sizeof req.h.stats);
        req.h.stats.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
        break;
    default:
        // The links without their counters, which the kernel would gather
        // from every link only for them to be thrown away.
        req.nh.nlmsg_len = NLMSG_LENGTH(sizeof req.h.link) + RTA_LENGTH(sizeof req.maskbits);
        req.mask.rta_type = IFLA_EXT_MASK;
        req.mask.rta_len = RTA_LENGTH(sizeof req.maskbits);
        req.maskbits = RTEXT_FILTER_SKIP_STATS;
        break;
    }
    if (send(fd, &req, req.nh.nlmsg_len, 0) < 0) {
        return false;
    }
    // Every reply is read to the end of the dump, even after a failed
    // take, so that the socket serves the next dump.
    bool ok = true;
    int saved = 0;
    for (;;) {
        ssize_t n = recv(fd, reply, sizeof reply, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        auto len = static_cast<unsigned>(n);
        for (auto *nh = reinterpret_cast<const nlmsghdr *>(reply); NLMSG_OK(nh, len); nh = NLMSG_NEXT(nh, len)) {
            if (nh->nlmsg_type == NLMSG_DONE) {
                if (!ok) {
                    errno = saved;
                }
                return ok;
            }
            if (nh->nlmsg_type == NLMSG_ERROR) {
                const auto *err = static_cast<const nlmsgerr *>(NLMSG_DATA(nh));
                errno = err->error ? -err->error : EIO;
                return false;
            }
            if (ok && !take(nh, arg)) {
                ok = false;
                saved = errno;
            }
        }
    }
}

namespace {

bool takelink(const nlmsghdr *nh, void *arg) {
    auto *t = static_cast<rtlinks *>(arg);
    if (nh->nlmsg_type != RTM_NEWLINK) {
        return true;
    }
    const auto *ifi = static_cast<const ifinfomsg *>(NLMSG_DATA(nh));
    auto len = static_cast<unsigned>(IFLA_PAYLOAD(nh));
    for (auto *rta = IFLA_RTA(ifi); RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
        if (rta->rta_type != IFLA_IFNAME) {
            continue;
        }
        if (!makeroom(t->links, t->count, t->room)) {
            return false;
        }
        rtlink &l = t->links[t->count++];
        l.index = ifi->ifi_index;
        l.flags = ifi->ifi_flags;
        const auto *text = static_cast<const char *>(RTA_DATA(rta));
        size_t n = strnlen(text, std::min<size_t>(RTA_PAYLOAD(rta), sizeof l.name - 1));
        memcpy(l.name, text, n);
        l.name[n] = '\0';
        break;
    }
    return true;
}

}  // namespace

bool rtnl_links(int fd, rtlinks *t) {
    t->count = 0;
    if (!rtnl_dump(fd, RTM_GETLINK, takelink, t)) {
        return false;
    }
    std::sort(t->links, t->links + t->count, [](const rtlink &a, const rtlink &b) { return a.index < b.index; });
    return true;
}

void rtnl_keep(const rtlinks &t) {
    free(kept.links);
    kept = t;
}

bool rtnl_take(rtlinks *t) {
    if (!kept.links) {
        return false;
    }
    *t = kept;
    kept = {};
    return true;
}
