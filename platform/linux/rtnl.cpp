#include "platform/linux/rtnl.h"

#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/linux/fd.h"

namespace {

// The room that datagrams are received into: 64 KiB, more than the
// kernel puts in one datagram of a dump unless a single message is larger.
alignas(nlmsghdr) char firstroom[65536];
char *room = firstroom;
size_t roomsize = sizeof firstroom;

unsigned lastseq;  // of the last request

// Room for a datagram of n bytes.
bool growroom(size_t n) {
    const size_t size = (n + 4095) & ~size_t{4095};
    auto *p = static_cast<char *>(malloc(size));
    if (!p) {
        errno = ENOMEM;
        return false;
    }
    if (room != firstroom) {
        free(room);
    }
    room = p;
    roomsize = size;
    return true;
}

// The next datagram of the socket, whole, into room; its length, or -1
// with errno set.
ssize_t receive(int fd, bool grow) {
    for (;;) {
        // With grow, only the datagram's length is looked at first.
        ssize_t n = recv(fd, room, grow ? 0 : roomsize, grow ? MSG_PEEK | MSG_TRUNC : MSG_TRUNC);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0) {
            errno = EIO;
            return -1;
        }
        if (n < 0) {
            return -1;
        }
        if (!grow) {
            if (static_cast<size_t>(n) > roomsize) {
                errno = EMSGSIZE;
                return -1;
            }
            return n;
        }
        // Peeked: make room for the whole datagram, then take it.
        if (static_cast<size_t>(n) > roomsize && !growroom(static_cast<size_t>(n))) {
            return -1;
        }
        do {
            n = recv(fd, room, roomsize, 0);
        } while (n < 0 && errno == EINTR);
        return n;
    }
}

}  // namespace

unsigned rtnl_seqs(unsigned n) {
    const unsigned first = lastseq + 1;
    lastseq += n;
    return first;
}

int rtnl_socket(unsigned groups) {
    const int type = SOCK_RAW | SOCK_CLOEXEC | (groups ? SOCK_NONBLOCK : 0);
    int fd = ownfd(socket(AF_NETLINK, type, NETLINK_ROUTE));
    if (fd >= 0 && groups) {
        sockaddr_nl sa{};
        sa.nl_family = AF_NETLINK;
        sa.nl_groups = groups;
        if (bind(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0) {
            const int saved = errno;
            close(fd);
            errno = saved;
            return -1;
        }
    }
    return fd;
}

bool rtnl_dump(int fd, int type, bool (*take)(const nlmsghdr *, void *), void *arg, bool grow) {
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
    // Each request has its own number: the answers to an earlier dump that
    // failed half way are told apart and passed over.
    const unsigned seq = rtnl_seqs(1);
    req.nh.nlmsg_seq = seq;
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
    // Every answer is read to the end of the dump, even after a failed
    // take, so that the socket serves the next dump.
    bool ok = true;
    int saved = 0;
    for (;;) {
        const ssize_t n = receive(fd, grow);
        if (n < 0) {
            return false;
        }
        auto rest = static_cast<size_t>(n);
        for (auto *nh = reinterpret_cast<const nlmsghdr *>(room); rtnl_ok(nh, rest); nh = rtnl_next(nh, &rest)) {
            if (nh->nlmsg_seq != seq) {
                continue;
            }
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

const rtattr *rtnl_attrs(const nlmsghdr *nh, size_t hdrlen, size_t *len) {
    *len = 0;
    if (nh->nlmsg_len < NLMSG_LENGTH(hdrlen)) {
        return nullptr;
    }
    const size_t head = NLMSG_SPACE(hdrlen);
    if (nh->nlmsg_len > head) {
        *len = nh->nlmsg_len - head;
    }
    return reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(nh) + head);
}
