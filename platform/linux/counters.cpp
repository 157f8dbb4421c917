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
#include "platform/linux/nlsys.h"
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
    for (const rtattr *rta = rtnl_attrs(nh, nh->nlmsg_len, sizeof(if_stats_msg), &len); rtnl_attrok(rta, len);
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
    s->dev = ownfd(open(nlsys_devpath, O_RDONLY | O_CLOEXEC));
    s->chosen = s->dev >= 0;
    return s->chosen;
}

}  // namespace

bool opencounters(countsource *s) {
#ifdef ZORVAT_PROCFS_ONLY
    return opendev(s);
#else
    s->nl = rtnl_socket();
    return s->nl >= 0;
#endif
}

int countsfd(const countsource &s) {
    return s.dev >= 0 ? s.dev : s.nl;
}

bool countsbyname(const countsource &s) {
    return s.dev >= 0;
}

void closecounters(countsource *s) {
    for (int *fd : {&s->nl, &s->dev}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
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

namespace {

struct asking {
    const int *indexes;
    void (*answer)(size_t, const linkcounters *, void *);
    void *arg;
};

size_t statsrequest(size_t i, nlmsghdr *room, void *arg) {
    room->nlmsg_type = RTM_GETSTATS;
    auto *req = static_cast<if_stats_msg *>(NLMSG_DATA(room));
    req->ifindex = static_cast<uint32_t>(static_cast<const asking *>(arg)->indexes[i]);
    req->filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    return NLMSG_LENGTH(sizeof *req);
}

void statsanswer(size_t i, const nlmsghdr *nh, size_t len, void *arg) {
    const auto *a = static_cast<const asking *>(arg);
    int index = 0;
    linkcounters c{};
    if (!nh) {
        a->answer(i, nullptr, a->arg);
    } else if (len >= nh->nlmsg_len && parsestats(nh, &index, &c)) {
        a->answer(i, &c, a->arg);
    }
}

}  // namespace

bool askcounters(countsource *s, const int *indexes, size_t m,
                 void (*answer)(size_t i, const linkcounters *c, void *arg), void *arg) {
    if (s->nl < 0) {
        errno = EOPNOTSUPP;
        return false;
    }
    // An answer takes 0.8 to 0.9 KiB of the receive buffer.
    asking a{indexes, answer, arg};
    if (!rtnl_ask(s->nl, m, 1024, statsrequest, statsanswer, &a)) {
        return false;
    }
    // Answered: the kernel has the statistics requests, so the dump is
    // the source from now on.
    s->chosen = s->chosen || m > 0;
    return true;
}
