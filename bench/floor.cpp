// The floor of a monitor's run: only the work that a report of the links
// cannot do without, start included, so that bench/run.sh can set the
// monitors' CPU time, per turn and per whole run, next to it.
//
//   floor [-a] [-i names [-t]] interval [times]
//
// Set-up: one rtnetlink socket and one RTM_GETLINK dump of the links that
// exist at start, without their counters (IFLA_EXT_MASK
// RTEXT_FILTER_SKIP_STATS): every link's index and name.  Without -i it
// reports every link, by index; with -i only the links named in the list
// (names separated by blanks or commas), in the list's order.  With -a,
// and without -i, it also makes the dump of the IPv4 addresses that the
// discovery of logical interfaces needs, and reports each link's address
// labels that hold a colon after it, as zorvat2 does (their figures are
// not available: -1.0).  It samples once at start, then each turn sleeps
// to the next deadline (start + k * interval, CLOCK_MONOTONIC), takes the
// 64-bit counters (IFLA_STATS_LINK_64 only) of every link with one
// RTM_GETSTATS dump or, with -t, of the listed links alone, with one
// RTM_GETSTATS request a link, formats one line per reported link with
// std::to_chars in the layout of the monitors' report
//   "%-8s %14.1f %14.1f %8.1f %8.1f  %6.1f %6.1f %6.1f %14.1f %8.1f  %8d"
// (byte rates; every name padded to the longest one's when all links are
// reported), and writes the header, the lines and the closing empty line
// with one write.  times 0 means no end.  Exit status 0, or 1 with a
// message on standard error.
#include <linux/if_addr.h>
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
#include <cstddef>
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

struct linkname {
    unsigned index;
    char name[IF_NAMESIZE];
};

// A reported link's counters.
struct sampled {
    counters prev;  // at the last sample
    counters curr;  // at this one
};

// A line of the report: a link's, with its counters, or a logical
// interface's, without.
struct entry {
    const char *name;
    int slot;  // the place of its counters in counts; -1: none
};

// The link table is kept small (a name and an index a link) and the
// counters only for the reported links: every page the set-up touches
// costs a fault.
std::vector<linkname> links;     // by index
std::vector<linkname> labels;    // logical interfaces (-a): their link's index and their name, in the kernel's order
std::vector<int> slotof;         // per link: its place in counts, or -1 when it is not reported
std::vector<sampled> counts;     // of the reported links, each once
std::vector<unsigned> slotlink;  // per place in counts: its link's index
std::vector<entry> shown;        // the report's lines, in order
size_t namewidth = 8;            // the name field: the names are padded to it
int nl = -1;
unsigned seq;
double secs;
// Room for the header and every line; a page of it is touched only when a
// report reaches it.
char *report;

// The requests of one link's statistics are sent batch at a time in one
// datagram; the kernel answers each with a datagram of its own, all queued
// on the socket before the send returns.  A batch is kept well within the
// room the socket's receive buffer has for answers (between 256 and 280
// of them in the default 208 KiB): answers past it are dropped, and the
// socket's next receive fails with ENOBUFS.  An answer is a header, the
// statistics message and rtnl_link_stats64 (about 240 bytes): one larger
// than its room is an error, not a cut figure.  The same buffer takes one
// datagram of a dump whole: the kernel puts less than 32 KiB in one.
constexpr size_t batch = 64;
constexpr size_t answerroom = 512;
alignas(nlmsghdr) char rx[batch * answerroom];
iovec rxiov[batch];
mmsghdr rxmsg[batch];

[[noreturn]] void fail(const char *what) {
    perror(what);
    exit(1);
}

// A rate with one decimal, a count with none.
std::to_chars_result chars(char *first, char *last, double v) {
    return std::to_chars(first, last, v, std::chars_format::fixed, 1);
}

std::to_chars_result chars(char *first, char *last, int64_t v) {
    return std::to_chars(first, last, v);
}

// v right-aligned in width characters, after blanks blanks.
template <class T>
char *field(char *p, int blanks, T v, int width) {
    char text[64];
    const auto [end, ec] = chars(text, text + sizeof text, v);
    const auto len = ec == std::errc{} ? end - text : 0;
    for (auto pad = blanks + width - len; pad > 0; --pad) {
        *p++ = ' ';
    }
    memcpy(p, text, static_cast<size_t>(len));
    return p + len;
}

// The line of a link, or with k null that of a logical interface: its
// byte and packet rates not available, nothing in its totals.
char *line(char *p, const char *name, const sampled *k) {
    const counters none{};
    const counters &c = k ? k->curr : none;
    const counters &o = k ? k->prev : none;
    const double in = static_cast<double>(c.rbytes - o.rbytes);
    const double out = static_cast<double>(c.obytes - o.obytes);
    const double pin = static_cast<double>(c.ipackets - o.ipackets);
    const double pout = static_cast<double>(c.opackets - o.opackets);
    const double missing = -1.0;
    size_t len = strnlen(name, IF_NAMESIZE);
    memcpy(p, name, len);
    for (p += len; len < namewidth; ++len) {
        *p++ = ' ';
    }
    const struct {
        double v;
        int blanks;
        int width;
    } rates[] = {{k ? in / secs : missing, 1, 14},
                 {k ? out / secs : missing, 1, 14},
                 {k ? pin / secs : missing, 1, 8},
                 {k ? pout / secs : missing, 1, 8},
                 {static_cast<double>(c.ierrors - o.ierrors) / secs, 2, 6},
                 {static_cast<double>(c.oerrors - o.oerrors) / secs, 1, 6},
                 {static_cast<double>(c.collisions - o.collisions) / secs, 1, 6},
                 {(in + out) / secs, 1, 14},
                 {(pin + pout) / secs, 1, 8}};
    for (const auto &r : rates) {
        p = field(p, r.blanks, r.v, r.width);
    }
    p = field(p, 2, static_cast<int64_t>(c.drops - o.drops), 8);
    *p++ = '\n';
    return p;
}

// A request: the header and the message it carries.
template <class Body>
struct request {
    nlmsghdr nh;
    Body body;
};

// The next request of type with body; flags beside NLM_F_REQUEST.
template <class Body>
request<Body> ask(uint16_t type, uint16_t flags, const Body &body) {
    request<Body> r{};
    r.nh.nlmsg_len = sizeof r;
    r.nh.nlmsg_type = type;
    r.nh.nlmsg_flags = static_cast<uint16_t>(NLM_F_REQUEST | flags);
    r.nh.nlmsg_seq = ++seq;
    r.body = body;
    return r;
}

// Send the n requests, numbered one after another, in one datagram, and
// hand every message that answers them to take(message, the request's
// place) until each is answered: a dump by its NLMSG_DONE, any other
// request by its one answer, an error (for a link's statistics: the link
// is gone, its counters stay).  An error that answers a dump fails.
template <class Body, class Take>
void exchange(const request<Body> *reqs, size_t n, const char *what, Take take) {
    if (send(nl, reqs, n * sizeof *reqs, 0) < 0) {
        fail(what);
    }
    const bool dump = (reqs->nh.nlmsg_flags & NLM_F_DUMP) != 0;
    const unsigned first = reqs->nh.nlmsg_seq;
    const size_t room = dump ? sizeof rx : answerroom;
    for (size_t answered = 0; answered < n;) {
        const size_t want = dump ? 1 : n - answered;
        for (size_t j = 0; j < want; ++j) {
            rxiov[j] = iovec{rx + j * room, room};
            rxmsg[j] = mmsghdr{};
            rxmsg[j].msg_hdr.msg_iov = &rxiov[j];
            rxmsg[j].msg_hdr.msg_iovlen = 1;
        }
        const int got = recvmmsg(nl, rxmsg, static_cast<unsigned>(want), MSG_WAITFORONE, nullptr);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            fail("recvmmsg");
        }
        for (size_t j = 0; j < static_cast<size_t>(got); ++j) {
            if (rxmsg[j].msg_hdr.msg_flags & MSG_TRUNC) {
                errno = EMSGSIZE;
                fail(what);
            }
            auto len = rxmsg[j].msg_len;
            for (auto *nh = reinterpret_cast<nlmsghdr *>(rx + j * room); NLMSG_OK(nh, len); nh = NLMSG_NEXT(nh, len)) {
                const unsigned k = nh->nlmsg_seq - first;
                if (k >= n) {
                    continue;  // not an answer to these
                }
                if (dump && nh->nlmsg_type == NLMSG_ERROR) {
                    const int error = static_cast<const nlmsgerr *>(NLMSG_DATA(nh))->error;
                    errno = error ? -error : EIO;
                    fail(what);
                }
                if (nh->nlmsg_type != NLMSG_DONE && nh->nlmsg_type != NLMSG_ERROR) {
                    take(nh, k);
                }
                answered += !dump || nh->nlmsg_type == NLMSG_DONE;
            }
        }
    }
}

// One dump of type with body, each message of it handed to take.
template <class Body>
void dump(uint16_t type, const Body &body, const char *what, void (*take)(const nlmsghdr *)) {
    const request<Body> r = ask(type, NLM_F_DUMP, body);
    exchange(&r, 1, what, [take](const nlmsghdr *nh, unsigned) { take(nh); });
}

// The message M that nh carries when nh is of type, else null.
template <class M>
const M *carried(const nlmsghdr *nh, uint16_t type) {
    return nh->nlmsg_type == type && nh->nlmsg_len >= NLMSG_SPACE(sizeof(M)) ? static_cast<const M *>(NLMSG_DATA(nh))
                                                                             : nullptr;
}

// The attribute of type that follows m, the message nh carries, or null.
template <class M>
const rtattr *attribute(const nlmsghdr *nh, const M *m, unsigned short type) {
    if (!m) {
        return nullptr;
    }
    auto len = static_cast<unsigned>(nh->nlmsg_len - NLMSG_SPACE(sizeof(M)));
    const auto *rta = reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(m) + NLMSG_ALIGN(sizeof(M)));
    for (; RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
        if (rta->rta_type == type) {
            return rta;
        }
    }
    return nullptr;
}

// A link's index with a name attribute's text, at most IF_NAMESIZE - 1
// characters.
linkname named(unsigned index, const rtattr *rta) {
    linkname l{index, {}};
    const auto *text = static_cast<const char *>(RTA_DATA(rta));
    memcpy(l.name, text, strnlen(text, std::min<size_t>(RTA_PAYLOAD(rta), sizeof l.name - 1)));
    return l;
}

// One link of the link dump: its index and name.
void takelink(const nlmsghdr *nh) {
    const auto *ifi = carried<ifinfomsg>(nh, RTM_NEWLINK);
    if (const rtattr *name = attribute(nh, ifi, IFLA_IFNAME)) {
        links.push_back(named(static_cast<unsigned>(ifi->ifi_index), name));
    }
}

// One address of the address dump: a label that holds a colon names a
// logical interface.
void takeaddr(const nlmsghdr *nh) {
    const auto *ifa = carried<ifaddrmsg>(nh, RTM_NEWADDR);
    if (const rtattr *label = attribute(nh, ifa, IFA_LABEL)) {
        linkname l = named(ifa->ifa_index, label);
        if (strchr(l.name, ':')) {
            labels.push_back(l);
        }
    }
}

// The links that exist now, by index.
void linktable() {
    struct {
        ifinfomsg ifi;
        rtattr mask;
        uint32_t maskbits;
    } body{};
    body.ifi.ifi_family = AF_UNSPEC;
    body.mask.rta_type = IFLA_EXT_MASK;
    body.mask.rta_len = RTA_LENGTH(sizeof body.maskbits);
    body.maskbits = RTEXT_FILTER_SKIP_STATS;
    dump(RTM_GETLINK, body, "RTM_GETLINK", takelink);
    std::sort(links.begin(), links.end(), [](const linkname &a, const linkname &b) { return a.index < b.index; });
    slotof.assign(links.size(), -1);
}

// The logical interfaces: every IPv4 address's label.
void labeltable() {
    ifaddrmsg body{};
    body.ifa_family = AF_INET;
    dump(RTM_GETADDR, body, "RTM_GETADDR", takeaddr);
    // By link, each link's in the kernel's order.
    std::stable_sort(labels.begin(), labels.end(),
                     [](const linkname &a, const linkname &b) { return a.index < b.index; });
}

void show(const char *name, int slot) {
    shown.push_back(entry{name, slot});
    namewidth = std::max(namewidth, strnlen(name, IF_NAMESIZE));
}

// Report every link, by index, each followed by its logical interfaces
// (each name once), every name padded to the longest.
void showall() {
    counts.resize(links.size());
    auto label = labels.cbegin();
    for (size_t i = 0; i < links.size(); ++i) {
        slotof[i] = static_cast<int>(i);
        slotlink.push_back(links[i].index);
        show(links[i].name, slotof[i]);
        const auto first = static_cast<std::ptrdiff_t>(shown.size());  // of the link's logical interfaces
        for (; label != labels.cend() && label->index <= links[i].index; ++label) {
            auto same = [&](const entry &e) { return strcmp(e.name, label->name) == 0; };
            if (label->index == links[i].index && std::none_of(shown.begin() + first, shown.end(), same)) {
                show(label->name, -1);
            }
        }
    }
}

// Report the links named in list, in its order; blanks and commas separate
// the names.  A name that no link has is an error.
void showlist(const char *list) {
    std::vector<size_t> byname(links.size());
    for (size_t i = 0; i < byname.size(); ++i) {
        byname[i] = i;
    }
    auto before = [](size_t a, size_t b) { return strcmp(links[a].name, links[b].name) < 0; };
    std::sort(byname.begin(), byname.end(), before);
    for (const char *p = list; *p;) {
        size_t len = strcspn(p, " ,");
        if (len > 0) {
            linkname want{};
            if (len < sizeof want.name) {
                memcpy(want.name, p, len);
            }
            auto it = std::lower_bound(byname.begin(), byname.end(), want.name,
                                       [](size_t a, const char *name) { return strcmp(links[a].name, name) < 0; });
            if (len >= sizeof want.name || it == byname.end() || strcmp(links[*it].name, want.name) != 0) {
                (void)fprintf(stderr, "floor: no link %.*s\n", static_cast<int>(len), p);
                exit(1);
            }
            if (slotof[*it] < 0) {
                slotof[*it] = static_cast<int>(counts.size());
                counts.emplace_back();
                slotlink.push_back(links[*it].index);
            }
            shown.push_back(entry{links[*it].name, slotof[*it]});
        }
        p += len;
        p += *p != '\0';
    }
}

// The 64-bit counters of a statistics message, into c; none, c as it was.
void statsof(const nlmsghdr *nh, counters *c) {
    if (const rtattr *rta = attribute(nh, carried<if_stats_msg>(nh, RTM_NEWSTATS), IFLA_STATS_LINK_64)) {
        rtnl_link_stats64 s{};
        memcpy(&s, RTA_DATA(rta), std::min<size_t>(RTA_PAYLOAD(rta), sizeof s));
        *c = counters{s.rx_bytes,  s.rx_packets, s.tx_bytes,   s.tx_packets,
                      s.rx_errors, s.tx_errors,  s.collisions, s.rx_dropped};
    }
}

// The statistics of the link of index, or of every link with index 0.
if_stats_msg statsbody(unsigned index) {
    if_stats_msg body{};
    body.family = AF_UNSPEC;
    body.ifindex = index;
    body.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    return body;
}

// One link's statistics message of the dump: the counters of a reported
// link become its current ones.
void takestats(const nlmsghdr *nh) {
    const auto *ifsm = carried<if_stats_msg>(nh, RTM_NEWSTATS);
    if (!ifsm) {
        return;
    }
    auto it = std::lower_bound(links.begin(), links.end(), ifsm->ifindex,
                               [](const linkname &l, unsigned index) { return l.index < index; });
    if (it == links.end() || it->index != ifsm->ifindex) {
        return;  // a link that came after the start
    }
    const int slot = slotof[static_cast<size_t>(it - links.begin())];
    if (slot >= 0) {
        statsof(nh, &counts[static_cast<size_t>(slot)].curr);
    }
}

// One statistics dump of all links.
void sampleall() {
    dump(RTM_GETSTATS, statsbody(0), "RTM_GETSTATS", takestats);
}

// One request a reported link, in batches.
void samplelisted() {
    request<if_stats_msg> reqs[batch];
    for (size_t first = 0; first < counts.size(); first += batch) {
        const size_t n = std::min(batch, counts.size() - first);
        for (size_t i = 0; i < n; ++i) {
            reqs[i] = ask(RTM_GETSTATS, 0, statsbody(slotlink[first + i]));
        }
        exchange(reqs, n, "RTM_GETSTATS",
                 [first](const nlmsghdr *nh, unsigned k) { statsof(nh, &counts[first + k].curr); });
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

[[noreturn]] void usage() {
    (void)fputs("usage: floor [-a] [-i names [-t]] interval [times]\n", stderr);
    exit(1);
}

}  // namespace

int main(int argc, char **argv) {
    const char *list = nullptr;
    bool addresses = false;
    bool targeted = false;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        if (strcmp(argv[arg], "-a") == 0) {
            addresses = true;
        } else if (strcmp(argv[arg], "-t") == 0) {
            targeted = true;
        } else if (strcmp(argv[arg], "-i") == 0 && arg + 1 < argc) {
            list = argv[++arg];
        } else {
            usage();
        }
    }
    // A list's report has no logical interfaces; the requests a link are
    // for the listed ones.
    if ((addresses && list) || (targeted && !list) || argc - arg < 1 || argc - arg > 2) {
        usage();
    }
    int interval = atoi(argv[arg]);
    int times = arg + 1 < argc ? atoi(argv[arg + 1]) : 0;
    if (interval < 1 || times < 0) {
        usage();
    }
    secs = interval;

    nl = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (nl < 0) {
        fail("socket");
    }
    linktable();
    if (list) {
        showlist(list);
        if (shown.empty()) {
            (void)fputs("floor: no names in the list\n", stderr);
            return 1;
        }
    } else {
        if (addresses) {
            labeltable();
        }
        showall();
    }
    // Not zero-filled: a page of it costs a fault only once a report
    // reaches it, and the room for the widest figures is seldom reached.
    report = static_cast<char *>(malloc(sizeof header + (shown.size() + 1) * lineroom));
    if (!report) {
        fail("malloc");
    }
    void (*const sample)() = targeted ? samplelisted : sampleall;

    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    sample();
    for (sampled &k : counts) {
        k.prev = k.curr;
    }
    for (int turn = 0; times == 0 || turn < times;) {
        deadline.tv_sec += interval;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        }
        sample();
        char *out = report;
        memcpy(out, header, sizeof header - 1);
        out += sizeof header - 1;
        for (const entry &e : shown) {
            out = line(out, e.name, e.slot >= 0 ? &counts[static_cast<size_t>(e.slot)] : nullptr);
        }
        for (sampled &k : counts) {
            k.prev = k.curr;
        }
        *out++ = '\n';
        writeall(report, static_cast<size_t>(out - report));
        if (times != 0) {
            ++turn;
        }
    }
    return 0;
}
