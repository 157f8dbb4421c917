#include "tests/fakes/kernel.h"

#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>

#include "platform/linux/nlsys.h"

const char *nlsys_devpath = nullptr;

namespace fakekernel {

state kernel;

namespace {

constexpr int CHARGE = 1024;        // of an answer or announcement to the receive buffer
constexpr unsigned PROCESS = 4242;  // the port of a process that sends announcements

struct datagram {
    std::vector<char> bytes;
    unsigned sender;
    bool charged;
};

struct sock {
    unsigned groups = 0;
    unsigned port = 0;
    int room = 212992;
    int used = 0;
    bool overflowed = false;
    std::deque<datagram> queue;
};

std::map<int, sock> socks;
std::vector<link> links;
std::vector<datagram> held;
bool holding;
int holdreads;
unsigned nextport = 1000;
std::string devpath;

// ---- messages ----

struct message {
    std::vector<char> b;
    explicit message(unsigned short type, unsigned short flags, unsigned seq, unsigned pid) {
        nlmsghdr nh{};
        nh.nlmsg_type = type;
        nh.nlmsg_flags = flags;
        nh.nlmsg_seq = seq;
        nh.nlmsg_pid = pid;
        put(&nh, sizeof nh);
    }
    void put(const void *p, size_t n) {
        const auto *c = static_cast<const char *>(p);
        b.insert(b.end(), c, c + n);
        b.resize(NLMSG_ALIGN(b.size()));
    }
    void attr(unsigned short type, const void *p, size_t n) {
        rtattr a{static_cast<unsigned short>(RTA_LENGTH(n)), type};
        const size_t at = b.size();
        b.resize(at + RTA_SPACE(n));
        memcpy(b.data() + at, &a, sizeof a);
        memcpy(b.data() + at + RTA_LENGTH(0), p, n);
    }
    std::vector<char> done() {
        reinterpret_cast<nlmsghdr *>(b.data())->nlmsg_len = static_cast<uint32_t>(b.size());
        return b;
    }
};

rtnl_link_stats64 stats64(const linkcounters &c) {
    rtnl_link_stats64 s{};
    s.rx_bytes = c.rxbytes;
    s.rx_packets = c.rxpackets;
    s.rx_errors = c.rxerrors;
    s.rx_dropped = c.rxdrops;
    s.tx_bytes = c.txbytes;
    s.tx_packets = c.txpackets;
    s.tx_errors = c.txerrors;
    s.collisions = c.collisions;
    return s;
}

std::vector<char> linkmessage(const link &l, unsigned short type, unsigned seq, unsigned pid, bool counters) {
    message m(type, 0, seq, pid);
    ifinfomsg ifi{};
    ifi.ifi_index = l.index;
    ifi.ifi_flags = IFF_UP;
    m.put(&ifi, sizeof ifi);
    m.attr(IFLA_IFNAME, l.name.c_str(), l.name.size() + 1);
    if (counters) {
        const rtnl_link_stats64 s = stats64(l.c);
        m.attr(IFLA_STATS64, &s, sizeof s);
    }
    if (!l.alts.empty()) {
        message alts(0, 0, 0, 0);
        alts.b.clear();
        for (const std::string &a : l.alts) {
            alts.attr(IFLA_ALT_IFNAME, a.c_str(), a.size() + 1);
        }
        m.attr(IFLA_PROP_LIST | NLA_F_NESTED, alts.b.data(), alts.b.size());
    }
    return m.done();
}

std::vector<char> statsmessage(int index, const linkcounters &c, unsigned seq, unsigned pid) {
    message m(RTM_NEWSTATS, 0, seq, pid);
    if_stats_msg h{};
    h.ifindex = static_cast<uint32_t>(index);
    h.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    m.put(&h, sizeof h);
    const rtnl_link_stats64 s = stats64(c);
    m.attr(IFLA_STATS_LINK_64, &s, sizeof s);
    return m.done();
}

std::vector<char> endmessage(unsigned short type, const nlmsghdr &req, int err, unsigned pid) {
    message m(type, 0, req.nlmsg_seq, pid);
    if (type == NLMSG_ERROR) {
        nlmsgerr e{};
        e.error = -err;
        e.msg = req;
        m.put(&e, sizeof e);
    } else {
        const int zero = 0;
        m.put(&zero, sizeof zero);
    }
    return m.done();
}

// ---- sockets ----

void deliver(sock &s, std::vector<char> bytes, unsigned sender, bool charged) {
    if (charged && s.used + CHARGE > s.room) {
        s.overflowed = true;
        return;
    }
    s.used += charged ? CHARGE : 0;
    s.queue.push_back({std::move(bytes), sender, charged});
}

void announce(std::vector<char> bytes, unsigned sender = 0) {
    if (holding) {
        held.push_back({std::move(bytes), sender, true});
        return;
    }
    for (auto &[fd, s] : socks) {
        if ((s.groups & RTMGRP_LINK) != 0) {
            deliver(s, bytes, sender, true);
        }
    }
}

void announce(const link &l, bool gone = false) {
    announce(linkmessage(l, gone ? RTM_DELLINK : RTM_NEWLINK, 0, 0, true));
}

void writedev() {
    FILE *f = fopen(devpath.c_str(), "w");
    if (!f) {
        abort();
    }
    fputs(
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
        "carrier compressed\n",
        f);
    for (const link &l : links) {
        const linkcounters &c = l.c;
        fprintf(f, "%6s: %llu %llu %llu %llu 0 0 0 0 %llu %llu %llu 0 0 %llu 0 0\n", l.name.c_str(),
                static_cast<unsigned long long>(c.rxbytes), static_cast<unsigned long long>(c.rxpackets),
                static_cast<unsigned long long>(c.rxerrors), static_cast<unsigned long long>(c.rxdrops),
                static_cast<unsigned long long>(c.txbytes), static_cast<unsigned long long>(c.txpackets),
                static_cast<unsigned long long>(c.txerrors), static_cast<unsigned long long>(c.collisions));
    }
    fclose(f);
}

link *find(int index) {
    for (link &l : links) {
        if (l.index == index) {
            return &l;
        }
    }
    return nullptr;
}

link *find(const std::string &name) {
    for (link &l : links) {
        if (l.name == name || std::find(l.alts.begin(), l.alts.end(), name) != l.alts.end()) {
            return &l;
        }
    }
    return nullptr;
}

// Of a dump: the end of an earlier request's answers, and of another
// socket's, before its own.
void stale(sock &s, const nlmsghdr &req) {
    if (!kernel.stale) {
        return;
    }
    kernel.stale = false;
    nlmsghdr earlier = req;
    --earlier.nlmsg_seq;
    deliver(s, endmessage(NLMSG_DONE, earlier, 0, s.port), 0, false);
    deliver(s, endmessage(NLMSG_DONE, req, 0, s.port + 1), 0, false);
}

// One request of a datagram: its answers, and its part of the datagram's
// line in the log.
void answer(sock &s, const nlmsghdr &req, std::string *line) {
    const bool dump = (req.nlmsg_flags & NLM_F_DUMP) == NLM_F_DUMP;
    const auto *data = reinterpret_cast<const char *>(&req) + NLMSG_HDRLEN;
    const unsigned seq = req.nlmsg_seq;
    auto refuse = [&](int err, bool charged) { deliver(s, endmessage(NLMSG_ERROR, req, err, s.port), 0, charged); };
    switch (req.nlmsg_type) {
    case RTM_GETSTATS:
        if (dump) {
            *line = "stats dump";
            if (kernel.refusestats) {
                return refuse(EOPNOTSUPP, false);
            }
            stale(s, req);
            for (const link &l : links) {
                deliver(s, statsmessage(l.index, l.c, seq, s.port), 0, false);
            }
            return deliver(s, endmessage(NLMSG_DONE, req, 0, s.port), 0, false);
        } else {
            if_stats_msg h{};
            memcpy(&h, data, sizeof h);
            *line += (line->empty() ? "stats " : " ") + std::to_string(h.ifindex);
            if (kernel.refusestats || kernel.refuseasks) {
                return refuse(EOPNOTSUPP, true);
            }
            const link *l = find(static_cast<int>(h.ifindex));
            return l ? deliver(s, statsmessage(l->index, l->c, seq, s.port), 0, true) : refuse(ENODEV, true);
        }
    case RTM_GETLINK:
        if (dump) {
            *line = "link dump";
            for (const link &l : links) {
                deliver(s, linkmessage(l, RTM_NEWLINK, seq, s.port, false), 0, false);
            }
            return deliver(s, endmessage(NLMSG_DONE, req, 0, s.port), 0, false);
        } else {
            const auto *rta = reinterpret_cast<const rtattr *>(data + NLMSG_ALIGN(sizeof(ifinfomsg)));
            const std::string name = static_cast<const char *>(RTA_DATA(rta));
            *line += (line->empty() ? "links " : " ") + name;
            const link *l = find(name);
            return l ? deliver(s, linkmessage(*l, RTM_NEWLINK, seq, s.port, true), 0, true) : refuse(ENODEV, true);
        }
    case RTM_GETADDR:
        *line = "addr dump";
        return deliver(s, endmessage(NLMSG_DONE, req, 0, s.port), 0, false);
    default:
        return refuse(EOPNOTSUPP, true);
    }
}

}  // namespace

void reset() {
    links.clear();
    held.clear();
    holding = false;
    kernel = state{};
    for (auto &[fd, s] : socks) {
        s.queue.clear();
        s.used = 0;
        s.overflowed = s.groups != 0;
    }
    if (devpath.empty()) {
        char path[] = "/tmp/zorvat-fakedev-XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0) {
            abort();
        }
        close(fd);
        devpath = path;
        nlsys_devpath = devpath.c_str();
        atexit([] { unlink(devpath.c_str()); });
    }
    writedev();
}

void add(int index, const std::string &name, const linkcounters &c) {
    links.push_back({index, name, {}, c});
    std::sort(links.begin(), links.end(), [](const link &a, const link &b) { return a.index < b.index; });
    announce(*find(index));
    writedev();
}

link &linkof(int index) {
    link *l = find(index);
    if (!l) {
        abort();
    }
    return *l;
}

void rename(int index, const std::string &name) {
    linkof(index).name = name;
    announce(linkof(index));
    writedev();
}

void altadd(int index, const std::string &alt) {
    linkof(index).alts.push_back(alt);
    announce(linkof(index));
}

void altdel(int index, const std::string &alt) {
    auto &alts = linkof(index).alts;
    alts.erase(std::remove(alts.begin(), alts.end(), alt), alts.end());
    announce(linkof(index));
}

void del(int index) {
    announce(linkof(index), true);
    links.erase(std::remove_if(links.begin(), links.end(), [&](const link &l) { return l.index == index; }),
                links.end());
    writedev();
}

void traffic(int index, uint64_t frames) {
    linkcounters &c = linkof(index).c;
    c.rxbytes += 100 * frames;
    c.rxpackets += frames;
    c.txbytes += 100 * frames;
    c.txpackets += frames;
    writedev();
}

void lose() {
    for (auto &[fd, s] : socks) {
        if (s.groups != 0) {
            s.queue.clear();
            s.used = 0;
            s.overflowed = true;
        }
    }
}

void hold(int reads) {
    holding = true;
    holdreads = reads;
}

void release() {
    holding = false;
    std::vector<datagram> out;
    out.swap(held);
    for (datagram &d : out) {
        announce(std::move(d.bytes), d.sender);
    }
}

void forge(int index, bool gone, const linkcounters &c) {
    link l = linkof(index);
    l.c = c;
    announce(linkmessage(l, gone ? RTM_DELLINK : RTM_NEWLINK, 0, 0, true), PROCESS);
}

void inject(const std::string &messages) {
    size_t rest = messages.size();
    for (const auto *nh = reinterpret_cast<const nlmsghdr *>(messages.data()); NLMSG_OK(nh, rest);
         nh = NLMSG_NEXT(nh, rest)) {
        const auto *p = reinterpret_cast<const char *>(nh);
        announce(std::vector<char>(p, p + nh->nlmsg_len));
    }
}

}  // namespace fakekernel

using namespace fakekernel;

int nlsys_open(unsigned groups) {
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        sock s;
        s.groups = groups;
        s.port = nextport++;
        socks[fd] = s;
    }
    return fd;
}

unsigned nlsys_port(int fd) {
    return socks.count(fd) ? socks[fd].port : 0;
}

int nlsys_room(int fd) {
    return socks.count(fd) && socks[fd].groups == 0 ? kernel.room : socks.count(fd) ? socks[fd].room : 0;
}

bool nlsys_setroom(int fd, int bytes, bool) {
    if (socks.count(fd)) {
        socks[fd].room = std::max(2 * bytes, 2304);
    }
    return true;
}

ssize_t nlsys_send(int fd, const void *buf, size_t len) {
    if (!socks.count(fd)) {
        errno = EBADF;
        return -1;
    }
    sock &s = socks[fd];
    s.room = kernel.room;
    std::string line;
    size_t rest = len;
    for (const auto *nh = static_cast<const nlmsghdr *>(buf); NLMSG_OK(nh, rest); nh = NLMSG_NEXT(nh, rest)) {
        answer(s, *nh, &line);
    }
    kernel.asked.push_back(line);
    return static_cast<ssize_t>(len);
}

int nlsys_recv(int fd, mmsghdr *msgs, unsigned n, int flags) {
    if (!socks.count(fd)) {
        errno = EBADF;
        return -1;
    }
    sock &s = socks[fd];
    // Held announcements come when the subscription has been found empty
    // as often as asked.
    if (s.groups != 0 && s.queue.empty() && !s.overflowed && holding && holdreads >= 0 && holdreads-- == 0) {
        release();
    }
    if (s.overflowed) {
        s.overflowed = false;
        errno = ENOBUFS;
        return -1;
    }
    if (s.queue.empty()) {
        errno = EAGAIN;
        return -1;
    }
    unsigned got = 0;
    while (got < n && !s.queue.empty()) {
        const datagram &d = s.queue.front();
        msghdr &m = msgs[got].msg_hdr;
        const size_t room = m.msg_iov->iov_len;
        memcpy(m.msg_iov->iov_base, d.bytes.data(), std::min(room, d.bytes.size()));
        msgs[got].msg_len =
            static_cast<unsigned>((flags & MSG_TRUNC) ? d.bytes.size() : std::min(room, d.bytes.size()));
        m.msg_flags = d.bytes.size() > room ? MSG_TRUNC : 0;
        if (m.msg_name) {
            sockaddr_nl from{};
            from.nl_family = AF_NETLINK;
            from.nl_pid = d.sender;
            memcpy(m.msg_name, &from, std::min<size_t>(m.msg_namelen, sizeof from));
            m.msg_namelen = sizeof from;
        }
        ++got;
        if (flags & MSG_PEEK) {
            break;
        }
        s.used -= d.charged ? CHARGE : 0;
        s.queue.pop_front();
    }
    return static_cast<int>(got);
}
