// The floor of a monitor's turn: only the work that a report of every link
// cannot do without, so that bench/run.sh can set the monitors' CPU time per
// turn next to it.
//
//   floor interval times
//
// Set-up: the links that exist at start (their names from if_nameindex)
// and one rtnetlink socket.  It samples once at start, then each turn
// sleeps to the next deadline (start + k * interval, CLOCK_MONOTONIC),
// takes the 64-bit counters of every link with one RTM_GETSTATS dump
// (IFLA_STATS_LINK_64 only), formats one line per link with std::to_chars
// in the layout of the monitors' report
//   "%-8s %14.1f %14.1f %8.1f %8.1f  %6.1f %6.1f %6.1f %14.1f %8.1f  %8d"
// (byte rates), and writes the header, the lines and the closing empty line
// with one write.  times 0 means no end.  Exit status 0, or 1 with a
// message on standard error.
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr char header[] =
    "Name             IBytes/s       OBytes/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s        Bytes/s   Pack/s  "
    "Nocanput\n";
// More than the longest line: a name of 15, ten rates of at most 22
// characters, a count of at most 20, the blanks between them.
constexpr size_t lineroom = 512;

// The counters a line needs, from the kernel's rtnl_link_stats64.
struct counters {
    uint64_t rbytes, ipackets, obytes, opackets, ierrors, oerrors, collisions, drops;
};

struct linkrow {
    unsigned index;
    char name[IF_NAMESIZE];
    counters prev;
};

std::vector<linkrow> links;  // by index
int nl = -1;
unsigned seq;
double secs;
alignas(nlmsghdr) char buf[32768];  // more than the kernel puts in one reply of a dump
std::vector<char> report;
char *out;  // end of the report so far

[[noreturn]] void fail(const char *what) {
    perror(what);
    exit(1);
}

// v right-aligned in width characters.
char *field(char *p, double v, int width) {
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 1);
    auto len = ec == std::errc{} ? end - text : 0;
    for (auto pad = width - len; pad > 0; --pad) {
        *p++ = ' ';
    }
    memcpy(p, text, static_cast<size_t>(len));
    return p + len;
}

char *field(char *p, int64_t v, int width) {
    char text[24];
    auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    auto len = ec == std::errc{} ? end - text : 0;
    for (auto pad = width - len; pad > 0; --pad) {
        *p++ = ' ';
    }
    memcpy(p, text, static_cast<size_t>(len));
    return p + len;
}

char *line(char *p, const linkrow &l, const counters &c) {
    const counters &o = l.prev;
    double in = static_cast<double>(c.rbytes - o.rbytes);
    double outb = static_cast<double>(c.obytes - o.obytes);
    double pin = static_cast<double>(c.ipackets - o.ipackets);
    double pout = static_cast<double>(c.opackets - o.opackets);
    size_t len = strnlen(l.name, sizeof l.name);
    memcpy(p, l.name, len);
    for (p += len; len < 8; ++len) {
        *p++ = ' ';
    }
    *p++ = ' ';
    p = field(p, in / secs, 14);
    *p++ = ' ';
    p = field(p, outb / secs, 14);
    *p++ = ' ';
    p = field(p, pin / secs, 8);
    *p++ = ' ';
    p = field(p, pout / secs, 8);
    *p++ = ' ';
    *p++ = ' ';
    p = field(p, static_cast<double>(c.ierrors - o.ierrors) / secs, 6);
    *p++ = ' ';
    p = field(p, static_cast<double>(c.oerrors - o.oerrors) / secs, 6);
    *p++ = ' ';
    p = field(p, static_cast<double>(c.collisions - o.collisions) / secs, 6);
    *p++ = ' ';
    p = field(p, (in + outb) / secs, 14);
    *p++ = ' ';
    p = field(p, (pin + pout) / secs, 8);
    *p++ = ' ';
    *p++ = ' ';
    p = field(p, static_cast<int64_t>(c.drops - o.drops), 8);
    *p++ = '\n';
    return p;
}

// One link's statistics message: its line (when printing), then its
// counters become the previous ones.
void take(const nlmsghdr *nh, bool print) {
    const auto *ifsm = static_cast<const if_stats_msg *>(NLMSG_DATA(nh));
    if (nh->nlmsg_len < NLMSG_LENGTH(sizeof *ifsm)) {
        return;
    }
    auto it = std::lower_bound(links.begin(), links.end(), ifsm->ifindex,
                               [](const linkrow &l, unsigned index) { return l.index < index; });
    if (it == links.end() || it->index != ifsm->ifindex) {
        return;  // a link that came after the start
    }
    auto len = static_cast<unsigned>(nh->nlmsg_len - NLMSG_LENGTH(sizeof *ifsm));
    const auto *rta =
        reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(ifsm) + NLMSG_ALIGN(sizeof *ifsm));
    for (; RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
        if (rta->rta_type != IFLA_STATS_LINK_64) {
            continue;
        }
        rtnl_link_stats64 s{};
        memcpy(&s, RTA_DATA(rta), std::min<size_t>(RTA_PAYLOAD(rta), sizeof s));
        counters c{s.rx_bytes,  s.rx_packets, s.tx_bytes,   s.tx_packets,
                   s.rx_errors, s.tx_errors,  s.collisions, s.rx_dropped};
        if (print && static_cast<size_t>(report.data() + report.size() - out) >= lineroom) {
            out = line(out, *it, c);
        }
        it->prev = c;
        return;
    }
}

// One statistics dump of all links.  False, with errno set, when it fails.
bool sample(bool print) {
    struct {
        nlmsghdr nh;
        if_stats_msg ifsm;
    } req{};
    req.nh.nlmsg_len = NLMSG_LENGTH(sizeof req.ifsm);
    req.nh.nlmsg_type = RTM_GETSTATS;
    req.nh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.nh.nlmsg_seq = ++seq;
    req.ifsm.family = AF_UNSPEC;
    req.ifsm.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    if (send(nl, &req, req.nh.nlmsg_len, 0) < 0) {
        return false;
    }
    for (;;) {
        ssize_t n = recv(nl, buf, sizeof buf, 0);
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
        for (auto *nh = reinterpret_cast<nlmsghdr *>(buf); NLMSG_OK(nh, len); nh = NLMSG_NEXT(nh, len)) {
            if (nh->nlmsg_seq != seq) {
                continue;
            }
            if (nh->nlmsg_type == NLMSG_DONE) {
                return true;
            }
            if (nh->nlmsg_type == NLMSG_ERROR) {
                const auto *err = static_cast<const nlmsgerr *>(NLMSG_DATA(nh));
                errno = err->error ? -err->error : EIO;
                return false;
            }
            if (nh->nlmsg_type == RTM_NEWSTATS) {
                take(nh, print);
            }
        }
    }
}

void writeall(const char *p, size_t len) {
    while (len > 0) {
        ssize_t n = write(STDOUT_FILENO, p, len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fail("write error");
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
}

}  // namespace

int main(int argc, char **argv) {
    int interval = argc > 1 ? atoi(argv[1]) : 0;
    int times = argc > 2 ? atoi(argv[2]) : 0;
    if (argc < 2 || argc > 3 || interval < 1 || times < 0) {
        (void)fputs("usage: floor interval [times]\n", stderr);
        return 1;
    }
    secs = interval;

    struct if_nameindex *names = if_nameindex();
    if (!names) {
        fail("if_nameindex");
    }
    for (const struct if_nameindex *n = names; n->if_index != 0; ++n) {
        linkrow l{n->if_index, {}, {}};
        strncpy(l.name, n->if_name, sizeof l.name - 1);
        links.push_back(l);
    }
    if_freenameindex(names);
    std::sort(links.begin(), links.end(), [](const linkrow &a, const linkrow &b) { return a.index < b.index; });
    report.resize(sizeof header + (links.size() + 1) * lineroom);

    nl = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (nl < 0) {
        fail("socket");
    }
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    if (!sample(false)) {
        fail("RTM_GETSTATS");
    }
    for (int turn = 0; times == 0 || turn < times;) {
        deadline.tv_sec += interval;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        }
        out = report.data();
        memcpy(out, header, sizeof header - 1);
        out += sizeof header - 1;
        if (!sample(true)) {
            fail("RTM_GETSTATS");
        }
        *out++ = '\n';
        writeall(report.data(), static_cast<size_t>(out - report.data()));
        if (times != 0) {
            ++turn;
        }
    }
    return 0;
}
