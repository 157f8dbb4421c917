#include "platform/linux/rtnl.h"

#include <linux/if_link.h>
#include <linux/rtnetlink.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/linux/nlsys.h"

namespace {

// Whole datagrams are received into room, 64 KiB at first, more than the
// kernel puts in one datagram of a dump unless a single message is larger.
alignas(nlmsghdr) char firstroom[65536];
char *room = firstroom;
size_t roomsize = sizeof firstroom;

// The others, many a call, into slots: an announcement or an answer takes
// 1 to 2 KiB.  Touched only when such datagrams come.
constexpr unsigned SLOTS = 32;
constexpr size_t SLOT = 4096;
alignas(nlmsghdr) char slots[SLOTS][SLOT];

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

// Where each datagram of a call goes, with its sender.
mmsghdr msgs[SLOTS];
iovec iov[SLOTS];
sockaddr_nl from[SLOTS];

unsigned prepare(const rtnl_take &t, size_t size) {
    const unsigned n = t.whole ? 1 : SLOTS;
    for (unsigned i = 0; i < n; ++i) {
        iov[i] = t.whole ? iovec{room, size} : iovec{slots[i], SLOT};
        msgs[i] = {};
        msgs[i].msg_hdr.msg_name = &from[i];
        msgs[i].msg_hdr.msg_namelen = sizeof from[i];
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    return n;
}

// The next datagrams into msgs: how many, or -1 with errno set.  With
// grow, the next one's length is looked at first, and the room made for it.
int receive(int fd, rtnl_take *t) {
    const int wait = t->wait ? 0 : MSG_DONTWAIT;
    for (;;) {
        int got = 0;
        if (t->whole && t->grow) {
            prepare(*t, 0);
            got = nlsys_recv(fd, msgs, 1, wait | MSG_PEEK | MSG_TRUNC);
            if (got > 0 && msgs[0].msg_len > roomsize && !growroom(msgs[0].msg_len)) {
                return -1;
            }
        }
        if (got >= 0) {
            const unsigned n = prepare(*t, roomsize);
            got = nlsys_recv(fd, msgs, n, wait | MSG_TRUNC);
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == ENOBUFS) {
            // The kernel dropped messages; what came after them is read
            // all the same.
            t->lost = true;
            continue;
        }
        if (got == 1 && t->whole && msgs[0].msg_len > roomsize) {
            errno = EMSGSIZE;
            return -1;
        }
        return got;
    }
}

// An answer to t's requests: to this socket's port, with one of their
// numbers.
bool ours(const rtnl_take &t, const nlmsghdr *nh, unsigned port) {
    return nh->nlmsg_pid == port && nh->nlmsg_seq - t.seq < t.n;
}

}  // namespace

int rtnl_socket(unsigned groups) {
    return nlsys_open(groups);
}

bool rtnl_receive(int fd, rtnl_take *t, bool (*take)(const nlmsghdr *, size_t, void *), void *arg) {
    const unsigned port = t->n ? nlsys_port(fd) : 0;
    for (;;) {
        const int got = receive(fd, t);
        if (got < 0) {
            return !t->wait && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
        if (got == 0 && t->wait) {
            errno = EIO;
            return false;
        }
        if (got == 0) {
            return true;
        }
        for (int d = 0; d < got; ++d) {
            const mmsghdr &m = msgs[d];
            // Only the kernel sends from port 0: a process that may send
            // to the groups (CAP_NET_ADMIN) has a port of its own.
            if (m.msg_hdr.msg_namelen < sizeof(sockaddr_nl) || from[d].nl_family != AF_NETLINK || from[d].nl_pid != 0) {
                continue;
            }
            const auto *nh = static_cast<const nlmsghdr *>(m.msg_hdr.msg_iov->iov_base);
            const size_t len = std::min<size_t>(m.msg_len, m.msg_hdr.msg_iov->iov_len);
            if ((m.msg_hdr.msg_flags & MSG_TRUNC) != 0) {
                // Cut short: its first message, as far as it goes.
                if (len >= sizeof(nlmsghdr) && (t->n == 0 || ours(*t, nh, port)) && !take(nh, len, arg)) {
                    return true;
                }
                continue;
            }
            size_t rest = len;
            for (; rtnl_ok(nh, rest); nh = rtnl_next(nh, &rest)) {
                if (t->n != 0 && !ours(*t, nh, port)) {
                    continue;
                }
                if (!take(nh, nh->nlmsg_len, arg)) {
                    return true;
                }
            }
        }
    }
}

int rtnl_error(const nlmsghdr *nh, size_t len) {
    if (len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
        return EIO;
    }
    const int err = static_cast<const nlmsgerr *>(NLMSG_DATA(nh))->error;
    return err < 0 ? -err : err;
}

unsigned rtnl_seqs(unsigned n) {
    const unsigned first = lastseq + 1;
    lastseq += n;
    return first;
}

namespace {

// A dump's messages, to the end of it: its own failure, and a take that
// failed, remembered.
struct dumping {
    bool (*take)(const nlmsghdr *, void *);
    void *arg;
    bool done;
    int err;   // the kernel refused the dump
    int fail;  // a take failed
};

bool dumped(const nlmsghdr *nh, size_t, void *arg) {
    auto *d = static_cast<dumping *>(arg);
    if (nh->nlmsg_type == NLMSG_DONE) {
        d->done = true;
        return false;
    }
    if (nh->nlmsg_type == NLMSG_ERROR) {
        d->err = rtnl_error(nh, nh->nlmsg_len);
        d->err = d->err ? d->err : EIO;
        d->done = true;
        return false;
    }
    // Every answer is read to the end of the dump, even after a failed
    // take, so that the socket serves the next dump.
    if (d->fail == 0 && !d->take(nh, d->arg)) {
        d->fail = errno ? errno : EIO;
    }
    return true;
}

}  // namespace

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
    rtnl_take t;
    t.seq = rtnl_seqs(1);
    t.n = 1;
    t.wait = true;
    t.whole = true;
    t.grow = grow;
    req.nh.nlmsg_seq = t.seq;
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
    if (nlsys_send(fd, &req, req.nh.nlmsg_len) < 0) {
        return false;
    }
    dumping d{take, arg, false, 0, 0};
    while (!d.done) {
        if (!rtnl_receive(fd, &t, dumped, &d)) {
            return false;
        }
    }
    errno = d.err ? d.err : d.fail;
    return errno == 0;
}

namespace {

struct asking {
    void (*answer)(size_t, const nlmsghdr *, size_t, void *);
    void *arg;
    int refused;      // by an error answer
    size_t at;        // the first request of the datagram
    unsigned seq;     // its number
    size_t k;         // requests in it
    size_t answered;  // answers of it taken
};

bool answered(const nlmsghdr *nh, size_t len, void *arg) {
    auto *a = static_cast<asking *>(arg);
    ++a->answered;
    const size_t i = a->at + (nh->nlmsg_seq - a->seq);
    const int err = nh->nlmsg_type == NLMSG_ERROR ? rtnl_error(nh, len) : 0;
    if (err == ENODEV) {
        a->answer(i, nullptr, 0, a->arg);
    } else if (err != 0) {
        a->refused = err;
    } else if (nh->nlmsg_type != NLMSG_ERROR) {
        a->answer(i, nh, len, a->arg);
    }
    return a->answered < a->k;
}

}  // namespace

bool rtnl_ask(int fd, size_t m, size_t answer, size_t (*make)(size_t i, nlmsghdr *room, void *arg),
              void (*take)(size_t i, const nlmsghdr *nh, size_t len, void *arg), void *arg) {
    constexpr size_t MOST = 64;
    const size_t batch = std::clamp<size_t>(static_cast<size_t>(nlsys_room(fd)) / answer, 1, MOST);
    alignas(nlmsghdr) static char reqs[MOST * RTNL_REQROOM];
    asking a{take, arg, 0, 0, 0, 0, 0};
    for (; a.at < m; a.at += a.k) {
        a.k = std::min(batch, m - a.at);
        a.answered = 0;
        rtnl_take t;
        t.seq = a.seq = rtnl_seqs(static_cast<unsigned>(a.k));
        t.n = static_cast<unsigned>(a.k);
        size_t len = 0;
        for (size_t j = 0; j < a.k; ++j) {
            auto *r = reinterpret_cast<nlmsghdr *>(reqs + len);
            memset(r, 0, RTNL_REQROOM);
            const size_t one = make(a.at + j, r, arg);
            r->nlmsg_len = static_cast<uint32_t>(one);
            r->nlmsg_flags = NLM_F_REQUEST;
            r->nlmsg_seq = t.seq + static_cast<unsigned>(j);
            len += NLMSG_ALIGN(one);
        }
        if (nlsys_send(fd, reqs, len) < 0 || !rtnl_receive(fd, &t, answered, &a)) {
            return false;
        }
    }
    errno = a.refused;
    return a.refused == 0;
}

const rtattr *rtnl_attrs(const nlmsghdr *nh, size_t len, size_t hdrlen, size_t *rest) {
    *rest = 0;
    len = std::min<size_t>(len, nh->nlmsg_len);
    if (len < NLMSG_LENGTH(hdrlen)) {
        return nullptr;
    }
    const size_t head = NLMSG_SPACE(hdrlen);
    if (len > head) {
        *rest = len - head;
    }
    return reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(nh) + head);
}
