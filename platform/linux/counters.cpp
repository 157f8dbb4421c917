#include "platform/linux/counters.h"

#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/fd.h"
#include "platform/linux/rtnl.h"

linkcounters countersof(const rtnl_link_stats64 &s) {
    linkcounters c{};
    c.rxbytes = s.rx_bytes;
    c.rxpackets = s.rx_packets;
    c.rxerrors = s.rx_errors;
    // As /proc/net/dev counts drops.
    c.rxdrops = s.rx_dropped + s.rx_missed_errors;
    c.txbytes = s.tx_bytes;
    c.txpackets = s.tx_packets;
    c.txerrors = s.tx_errors;
    c.collisions = s.collisions;
    return c;
}

bool parsestats(const nlmsghdr *nh, int *index, linkcounters *c) {
    if (nh->nlmsg_type != RTM_NEWSTATS) {
        return false;
    }
    size_t len = 0;
    for (const rtattr *rta = rtnl_attrs(nh, sizeof(if_stats_msg), &len); rtnl_attrok(rta, len);
         rta = rtnl_attrnext(rta, &len)) {
        if (rta->rta_type != IFLA_STATS_LINK_64) {
            continue;
        }
        rtnl_link_stats64 s{};
        memcpy(&s, RTA_DATA(rta), std::min<size_t>(RTA_PAYLOAD(rta), sizeof s));
        *index = static_cast<int>(static_cast<const if_stats_msg *>(NLMSG_DATA(nh))->ifindex);
        *c = countersof(s);
        return true;
    }
    return false;
}

namespace {

// The next unsigned decimal number at p, blanks skipped.
uint64_t number(const char *&p, const char *end) {
    while (p < end && *p == ' ') {
        ++p;
    }
    uint64_t v = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        ++p;
    }
    return v;
}

}  // namespace

bool parsedevline(const char *line, const char *end, char (&name)[IFNAMSIZ], linkcounters *c) {
    // The columns: bytes packets errs drop fifo frame compressed multicast
    // of receiving, bytes packets errs drop fifo colls carrier compressed
    // of sending.
    uint64_t linkcounters::*const column[16] = {&linkcounters::rxbytes,
                                                &linkcounters::rxpackets,
                                                &linkcounters::rxerrors,
                                                &linkcounters::rxdrops,
                                                nullptr,
                                                nullptr,
                                                nullptr,
                                                nullptr,
                                                &linkcounters::txbytes,
                                                &linkcounters::txpackets,
                                                &linkcounters::txerrors,
                                                nullptr,
                                                nullptr,
                                                &linkcounters::collisions,
                                                nullptr,
                                                nullptr};
    const auto *colon =
        line < end ? static_cast<const char *>(memchr(line, ':', static_cast<size_t>(end - line))) : nullptr;
    if (!colon) {
        return false;
    }
    while (line < colon && *line == ' ') {
        ++line;
    }
    const auto len = static_cast<size_t>(colon - line);
    if (len == 0 || len >= sizeof name || memchr(line, '\0', len)) {
        return false;
    }
    memset(name, 0, sizeof name);
    memcpy(name, line, len);
    *c = linkcounters{};
    const char *p = colon + 1;
    for (uint64_t linkcounters::*field : column) {
        const uint64_t v = number(p, end);
        if (field) {
            c->*field = v;
        }
    }
    return true;
}

namespace {

struct dumpput {
    void (*put)(int, const char *, const linkcounters &, void *);
    void *arg;
};

bool takestats(const nlmsghdr *nh, void *arg) {
    int index = 0;
    linkcounters c{};
    if (parsestats(nh, &index, &c)) {
        const auto *d = static_cast<const dumpput *>(arg);
        d->put(index, nullptr, c, d->arg);
    }
    return true;
}

// The text of /proc/net/dev, line by line through a room of fixed size,
// so that a reading needs no more memory however many links there are.
bool readdev(int fd, void (*put)(int, const char *, const linkcounters &, void *), void *arg) {
    if (lseek(fd, 0, SEEK_SET) < 0) {
        return false;
    }
    char text[4096];
    size_t have = 0;
    int line = 0;
    bool overlong = false;  // the room holds only part of a line: passed over
    for (;;) {
        ssize_t n = read(fd, text + have, sizeof text - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        const char *end = text + have + n;
        if (n == 0 && have > 0) {
            // The last line without its newline.
            text[have++] = '\n';
            end = text + have;
        }
        const char *p = text;
        for (const char *eol; (eol = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p))));
             p = eol + 1) {
            const bool whole = !overlong;
            overlong = false;
            char name[IFNAMSIZ];
            linkcounters c{};
            if (++line > 2 && whole && parsedevline(p, eol, name, &c)) {
                put(0, name, c, arg);
            }
        }
        have = static_cast<size_t>(end - p);
        if (n == 0) {
            return true;
        }
        if (have == sizeof text) {
            overlong = true;
            have = 0;
        }
        memmove(text, p, have);
    }
}

bool opendev(countsource *s) {
    s->dev = ownfd(open("/proc/net/dev", O_RDONLY | O_CLOEXEC));
    s->chosen = s->dev >= 0;
    return s->chosen;
}

}  // namespace

bool opencounters(countsource *s) {
#ifdef ZORVAT_PROCFS_ONLY
    return opendev(s);
#else
    s->nl = rtnl_socket();
    // The requests of a datagram are answered into the receive buffer
    // before any is read: as many as it holds (an answer takes about
    // 1.3 KiB of it).
    int room = 0;
    socklen_t len = sizeof room;
    if (s->nl >= 0 && getsockopt(s->nl, SOL_SOCKET, SO_RCVBUF, &room, &len) == 0) {
        s->asks = std::clamp(room / 2048, 1, 64);
    }
    return s->nl >= 0;
#endif
}

bool readcounters(countsource *s, void (*put)(int, const char *, const linkcounters &, void *), void *arg) {
    if (s->dev >= 0) {
        return readdev(s->dev, put, arg);
    }
    dumpput d{put, arg};
    if (rtnl_dump(s->nl, RTM_GETSTATS, takestats, &d, false)) {
        s->chosen = true;
        return true;
    }
    if (s->chosen || errno == ENOMEM || errno == EINTR) {
        return false;
    }
    // Refused at the first reading: /proc/net/dev from now on.
    return opendev(s) && readdev(s->dev, put, arg);
}

bool askcounters(countsource *s, const int *indexes, size_t m,
                 void (*answer)(size_t i, const linkcounters *c, void *arg), void *arg) {
    constexpr unsigned BATCH = 64;
    constexpr size_t ROOM = 1024;
    struct request {
        nlmsghdr nh;
        if_stats_msg stats;
    };
    static request reqs[BATCH];
    alignas(nlmsghdr) static char answers[BATCH][ROOM];
    static iovec iov[BATCH];
    static mmsghdr msgs[BATCH];
    const size_t batch = std::min<size_t>(BATCH, static_cast<size_t>(std::max(s->asks, 1)));
    for (size_t at = 0; at < m; at += batch) {
        const size_t k = std::min(batch, m - at);
        const unsigned first = rtnl_seqs(static_cast<unsigned>(k));
        for (size_t j = 0; j < k; ++j) {
            request &r = reqs[j];
            r = {};
            r.nh.nlmsg_len = sizeof r;
            r.nh.nlmsg_type = RTM_GETSTATS;
            r.nh.nlmsg_flags = NLM_F_REQUEST;
            r.nh.nlmsg_seq = first + static_cast<unsigned>(j);
            r.stats.ifindex = static_cast<uint32_t>(indexes[at + j]);
            r.stats.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
        }
        if (send(s->nl, reqs, k * sizeof(request), 0) < 0) {
            return false;
        }
        // The kernel has answered every request of the datagram by the time
        // it is sent: what is there is all that comes.
        size_t answered = 0;
        bool refused = false;
        int why = 0;
        while (answered < k) {
            for (unsigned j = 0; j < BATCH; ++j) {
                iov[j] = {answers[j], ROOM};
                msgs[j] = {};
                msgs[j].msg_hdr.msg_iov = &iov[j];
                msgs[j].msg_hdr.msg_iovlen = 1;
            }
            const int n = recvmmsg(s->nl, msgs, static_cast<unsigned>(k - answered), MSG_DONTWAIT, nullptr);
            if (n < 0 && (errno == EINTR || errno == ENOBUFS)) {
                continue;
            }
            if (n < 0) {
                break;
            }
            for (int d = 0; d < n; ++d) {
                auto rest = static_cast<size_t>(msgs[d].msg_len);
                for (auto *nh = reinterpret_cast<const nlmsghdr *>(answers[d]); rtnl_ok(nh, rest);
                     nh = rtnl_next(nh, &rest)) {
                    const unsigned j = nh->nlmsg_seq - first;
                    if (j >= k) {
                        continue;  // an answer to an earlier request
                    }
                    ++answered;
                    int index = 0;
                    linkcounters c{};
                    if (parsestats(nh, &index, &c)) {
                        answer(at + j, &c, arg);
                    } else if (nh->nlmsg_type == NLMSG_ERROR && nh->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr))) {
                        const int err = -static_cast<const nlmsgerr *>(NLMSG_DATA(nh))->error;
                        if (err == ENODEV) {
                            answer(at + j, nullptr, arg);
                        } else {
                            refused = true;
                            why = err;
                        }
                    }
                }
            }
        }
        if (refused) {
            errno = why;
            return false;
        }
        // Answered: the kernel has the statistics requests, so the dump is
        // the source from now on.
        s->chosen = true;
    }
    return true;
}
