// The platform layer against the real kernel, in private network
// namespaces: kstat from the kernel's link counters, and the interface
// requests of discovery.  Built twice: with the counters from the
// statistics dump, and from /proc/net/dev only.
#include <fcntl.h>
#include <linux/if_packet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/kstat.h"
#include "platform/sockio.h"
#include "tests/support/netns.h"
#include "tests/support/run.h"

namespace {

using std::string;
using strings = std::vector<string>;

// The library has no close; handles stay reachable until the tests end.
kstat_ctl_t *openkc() {
    static std::vector<kstat_ctl_t *> handles;
    kstat_ctl_t *kc = kstat_open();
    if (!kc) {
        throw std::runtime_error(string("kstat_open: ") + strerror(errno));
    }
    handles.push_back(kc);
    return kc;
}

// Whether a link's alternative names can be read here: user-mode emulation
// of a processor of the other byte order translates the messages of the
// link table but not the list that holds them (IFLA_PROP_LIST).
bool altnamesread() {
    return !emulated() || std::endian::native == std::endian::little;
}

// The library takes writable names.
kstat_t *find(kstat_ctl_t *kc, const string &name, const string &module = {}, int instance = -1) {
    string n = name;
    string m = module;
    return kstat_lookup(kc, m.empty() ? nullptr : m.data(), instance, n.data());
}

strings chainnames(const kstat_ctl_t *kc) {
    strings names;
    for (const kstat_t *k = kc->kc_chain; k; k = k->ks_next) {
        names.emplace_back(k->ks_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Each statistic and the column of /proc/net/dev it stands for; the first
// eight are 32 bits wide, the rest the kernel's counters whole.
struct statcolumn {
    const char *stat;
    size_t column;
};
constexpr statcolumn statcolumns[] = {
    {"rbytes", 0},   {"ipackets", 1},   {"ierrors", 2},  {"nocanput", 3},     // rx bytes, packets, errs, drop
    {"obytes", 8},   {"opackets", 9},   {"oerrors", 10}, {"collisions", 13},  // tx bytes, packets, errs, colls
    {"rbytes64", 0}, {"ipackets64", 1}, {"obytes64", 8}, {"opackets64", 9},
};
using statvalues = std::array<uint64_t, std::size(statcolumns)>;

uint64_t statof(kstat_t *ksp, const string &stat) {
    string s = stat;
    const auto *np = static_cast<const kstat_named_t *>(kstat_data_lookup(ksp, s.data()));
    if (!np) {
        throw std::runtime_error("no statistic " + stat + " in " + ksp->ks_name);
    }
    return np->data_type == KSTAT_DATA_UINT64 ? np->value.ui64 : np->value.ui32;
}

statvalues allstats(kstat_t *ksp) {
    statvalues v{};
    for (size_t i = 0; i < v.size(); ++i) {
        v[i] = statof(ksp, statcolumns[i].stat);
    }
    return v;
}

// The own name of the link that bears name, as its own or as an
// alternative name; empty when none does.
string ownname(const string &name) {
    char own[IF_NAMESIZE] = {};
    const unsigned index = if_nametoindex(name.c_str());
    return index && if_indextoname(index, own) ? own : "";
}

// What the kernel counts for the link that bears the name now, as the
// statistics show it.
statvalues kernelstats(const string &name) {
    const auto dev = netns::devcounters(ownname(name));
    statvalues v{};
    for (size_t i = 0; i < v.size(); ++i) {
        const uint64_t c = dev[statcolumns[i].column];
        v[i] = i < 8 ? static_cast<uint32_t>(c) : c;
    }
    return v;
}

// Frames of an ethertype that no protocol takes: the receiving link
// counts each as received and as dropped.
void sendunclaimed(const string &from, const string &tomac, int count) {
    int sd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (sd < 0) {
        throw std::runtime_error(string("packet socket: ") + strerror(errno));
    }
    sockaddr_ll ll{};
    ll.sll_family = AF_PACKET;
    ll.sll_ifindex = static_cast<int>(if_nametoindex(from.c_str()));
    if (bind(sd, reinterpret_cast<const sockaddr *>(&ll), sizeof ll) != 0) {
        close(sd);
        throw std::runtime_error("bind to " + from + ": " + strerror(errno));
    }
    std::array<unsigned char, 80> frame{};
    unsigned m[6];
    sscanf(tomac.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
    for (size_t i = 0; i < 6; ++i) {
        frame[i] = static_cast<unsigned char>(m[i]);
    }
    frame[6] = 0x02;  // a locally administered source address
    frame[12] = 0x88;
    frame[13] = 0xb5;  // local experimental ethertype
    for (int i = 0; i < count; ++i) {
        if (send(sd, frame.data(), frame.size(), 0) != static_cast<ssize_t>(frame.size())) {
            close(sd);
            throw std::runtime_error("send on " + from + ": " + strerror(errno));
        }
    }
    close(sd);
}

// ---- kstat ----

TEST(Kstat, OneKstatPerLinkPresentAtOpenNamedByTheLink) {
    ZV_ENTER_NETNS_OR_SKIP();
    kstat_ctl_t *fresh = openkc();
    EXPECT_EQ(chainnames(fresh), strings{"lo"});

    netns::vethpair();
    netns::ip("link property add dev va altname uplink");
    kstat_ctl_t *kc = openkc();
    // Made after the open: the chain is never brought up to date.
    netns::ip("link add vc type veth peer name vd");
    netns::ip("link property add dev vb altname later");
    const strings chain = altnamesread() ? strings{"lo", "uplink", "va", "vb"} : strings{"lo", "va", "vb"};
    EXPECT_EQ(chainnames(kc), chain);
    for (const string &name : chain) {
        SCOPED_TRACE(name);
        kstat_t *ksp = find(kc, name);
        ASSERT_NE(ksp, nullptr);
        EXPECT_EQ(ksp->ks_name, name);
        EXPECT_GE(kstat_read(kc, ksp, nullptr), 0);
    }
    for (const char *name : {"vc", "vd", "later", "nosuch", "v", "vab", "lo:1", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(find(kc, name), nullptr);
    }
    kstat_t *lo = find(kc, "lo");
    EXPECT_EQ(find(kc, "lo", "link"), lo);
    EXPECT_EQ(find(kc, "lo", "link", 0), lo);
    EXPECT_EQ(find(kc, "lo", "disk"), nullptr);
    EXPECT_EQ(find(kc, "lo", {}, 1), nullptr);
    // No data before the first read.
    kstat_t *unread = find(fresh, "lo");
    EXPECT_EQ(unread->ks_data, nullptr);
    EXPECT_EQ(kstat_data_lookup(unread, std::string("rbytes").data()), nullptr);
}

// Every statistic from its own counter of the kernel's, whichever way the
// reading had them: asked for alone, or in the dump (or /proc/net/dev).
// (Which reads make a reading and which way it asks: unit_linux.)
TEST(Kstat, EveryStatisticFromItsOwnCounterOnEachPath) {
    ZV_ENTER_NETNS_OR_SKIP();
    netns::ip("link set lo up");
    netns::wiredpair();
    const string vbmac = netns::macaddress("vb");
    // Ten more links, without traffic: a chain of 13, of which 6 kstats
    // are few.
    string batch;
    for (int i = 0; i < 10; ++i) {
        batch.append("link add zi").append(std::to_string(i)).append(" type ifb\n");
    }
    netns::ipbatch(batch);
    kstat_ctl_t *kc = openkc();
    std::vector<kstat_t *> all;
    for (kstat_t *k = kc->kc_chain; k; k = k->ks_next) {
        all.push_back(k);
    }
    ASSERT_EQ(all.size(), 13u);
    // The first reading asks for two links alone and dumps the rest; the
    // next, after many, dumps; the next, after few, asks.
    const std::vector<std::vector<kstat_t *>> rounds = {all, {find(kc, "va"), find(kc, "vb"), find(kc, "lo")}, all};
    uint64_t dropped = 0;  // unclaimed frames
    for (size_t round = 0; round < rounds.size(); ++round) {
        SCOPED_TRACE(round);
        netns::sendudp("10.9.0.1", "10.9.0.2", 7 + static_cast<int>(round), 300);
        netns::sendudp("127.0.0.1", "127.0.0.1", 3 + static_cast<int>(round), 100);
        sendunclaimed("va", vbmac, 4 + static_cast<int>(round));
        dropped += 4 + round;
        for (kstat_t *k : rounds[round]) {
            ASSERT_GE(kstat_read(kc, k, nullptr), 0) << k->ks_name;
            EXPECT_EQ(allstats(k), kernelstats(k->ks_name)) << k->ks_name;
        }
    }
    // The traffic made the counters differ, so a statistic read from the
    // wrong column shows.
    EXPECT_EQ(netns::devcounters("vb")[3], dropped);
    EXPECT_NE(netns::devcounters("va")[8], netns::devcounters("va")[9]);
}

// Announcements of the link of name sent to the kernel's group of link
// announcements by this process, as one that may send there (root in the
// namespace) can: the link deleted, then made with no traffic counted.
void forge(const string &name) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    ASSERT_GE(fd, 0) << strerror(errno);
    for (const unsigned short type : {RTM_DELLINK, RTM_NEWLINK}) {
        struct {
            nlmsghdr nh;
            ifinfomsg ifi;
            rtattr name;
            char text[IFNAMSIZ];
            rtattr stats;
            rtnl_link_stats64 zero;
        } m{};
        m.nh.nlmsg_len = sizeof m;
        m.nh.nlmsg_type = type;
        m.ifi.ifi_index = static_cast<int>(if_nametoindex(name.c_str()));
        m.name.rta_type = IFLA_IFNAME;
        m.name.rta_len = RTA_LENGTH(sizeof m.text);
        snprintf(m.text, sizeof m.text, "%s", name.c_str());
        m.stats.rta_type = IFLA_STATS64;
        m.stats.rta_len = RTA_LENGTH(sizeof m.zero);
        sockaddr_nl to{};
        to.nl_family = AF_NETLINK;
        to.nl_groups = RTMGRP_LINK;
        ASSERT_EQ(sendto(fd, &m, sizeof m, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to),
                  static_cast<ssize_t>(sizeof m))
            << strerror(errno);
    }
    close(fd);
}

// The library's subscriptions to link announcements made to lose what
// comes next: their receive buffers shrunk to the least and filled past it,
// then given room again.  The kernel tells of the loss at the next receive.
void loseannouncements() {
    std::vector<int> subscriptions;
    for (int fd = 3; fd < 1024; ++fd) {
        sockaddr_nl sa{};
        socklen_t len = sizeof sa;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0 && sa.nl_family == AF_NETLINK &&
            (sa.nl_groups & RTMGRP_LINK) != 0) {
            subscriptions.push_back(fd);
        }
    }
    ASSERT_FALSE(subscriptions.empty());
    for (int room : {1, 1 << 17}) {
        for (int fd : subscriptions) {
            ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room), 0) << strerror(errno);
        }
        if (room == 1) {
            string batch;
            for (int i = 0; i < 10; ++i) {
                batch += "link add zlost type ifb\nlink del zlost\n";
            }
            netns::ipbatch(batch);
        }
    }
}

// A kstat is the link that bears its name, whatever becomes of the link
// it was made for, and its counters go on with only the traffic of its
// name: when no link bears the name, its reads fail and it keeps its
// counters; when the name passes to a link (another one, the same one back,
// one with a history, one moved in from another namespace), it counts that
// link's traffic from then on; a bridge port joining or leaving changes
// nothing.  When the announcements of a passage were lost, the reading
// after it is the base: what came in between is left out, nothing added.
// The same for both counter sources.
TEST(Kstat, AKstatIsTheLinkThatBearsItsName) {
    ZV_ENTER_NETNS_OR_SKIP();
    // No addresses, and bridges without multicast snooping: the links carry
    // only the frames sent here.
    netns::vethpair();  // va index 10, vb 11
    netns::ip("link set vb up");
    netns::ip("link set va up");
    sendunclaimed("va", netns::macaddress("vb"), 5);
    kstat_ctl_t *kc = openkc();
    kstat_t *va = find(kc, "va");
    ASSERT_NE(va, nullptr);
    ASSERT_GE(kstat_read(kc, va, nullptr), 0);
    // What va's statistics must hold: its counters at the first read, then
    // the traffic of every link while it bore the name.
    statvalues expected = kernelstats("va");
    EXPECT_EQ(allstats(va), expected);

    const string here = netns::herepath();
    const string there = netns::otherpath();
    const string down = "link set va down";
    const string up = "link set va up";
    const struct {
        strings commands;      // ip commands; "send A B" sends frames from A to B, "there ..." is ip elsewhere
        bool borne;            // a link bears va's name at the read
        bool lost = false;     // announcements are lost before the commands
        bool unbased = false;  // the traffic of the step comes before the base of the name's new link
        bool readall = false;  // every kstat of the chain is read (else va alone)
    } steps[] = {
        // Renamed away: what it sent until then counts.
        {{"send va vb", down, "link set va name vold"}, false},
        {{"link set vold name va", up, "send va vb"}, true},
        // Out and back within an interval: renamed, moved to another
        // namespace.
        {{down, "link set va name vtmp", "link set vtmp name va", up, "send va vb"}, true},
        {{"link set va netns " + there, "there link set va netns " + here, up, "send va vb"}, true},
        // A bridge port joining and leaving, a bridge deleted under it.
        {{"link add br0 type bridge mcast_snooping 0", "link set br0 up", "link set va master br0", "send va vb",
          "link set va nomaster", "send va vb", "link set va master br0", "link del br0", "send va vb"},
         true},
        // Two links swap names: va is vb's link (index 11) now, with its
        // history, and vb index 10.
        {{down, "link set vb down", "link set va name vtmp", "link set vb name va", "link set vtmp name vb", up,
          "link set vb up", "send va vb"},
         true},
        // A link with a history moved in from another namespace under the
        // name (vc is the old va).
        {{"link add vx type veth peer name vy", "link set vy up", "link set vx up", "send vx vy", down,
          "link set va name vc", "link set vx down", "link set vx netns " + there, "there link set vx name va",
          "there link set va netns " + here, up, "send va vy"},
         true},
        // Announcements lost: the same link goes on, looked up alone, then
        // with every kstat's link; a new link under the name counts from
        // the reading after it, looked up either way.
        {{"send va vy"}, true, true},
        {{"send va vy"}, true, true, false, true},
        {{down, "link set va name vd", "link add va type veth peer name vz", "link set vz up", up, "send va vz"},
         true,
         true,
         true,
         true},
        {{"send va vz"}, true},
        {{down, "link set va name ve", "link add va type veth peer name vw", "link set vw up", up, "send va vw"},
         true,
         true,
         true},
        {{"send va vw"}, true},
        // Deleted (what it sent until then counts); another link takes the index of its first link, with
        // traffic, and then its name.
        {{"send va vw", "link del va"}, false},
        {{"link del vb", "link add vq index 10 type veth peer name vr", "link set vr up", "link set vq up",
          "send vq vr"},
         false},
        {{"link set vq down", "link set vq name va", up, "send va vr"}, true},
        // Announcements that a process sent, not the kernel.
        {{"forge", "send va vr"}, true},
        // An alternative name: taken by another link, then taken off.
        {{down, "link set va name vq2", "link set vq2 up", "link property add dev vr altname va", "send vr vq2"}, true},
        {{"link property del dev vr altname va", "send vr vq2"}, false},
    };
    for (const auto &s : steps) {
        const bool alt = std::any_of(s.commands.begin(), s.commands.end(),
                                     [](const string &c) { return c.find("altname") != string::npos; });
        if (alt && !altnamesread()) {
            continue;
        }
        std::ostringstream what;
        for (const string &c : s.commands) {
            what << c << "; ";
        }
        SCOPED_TRACE(what.str());
        if (s.lost) {
            loseannouncements();
        }
        for (const string &c : s.commands) {
            if (c == "forge") {
                forge("va");
            } else if (c.rfind("send ", 0) == 0) {
                const string from = c.substr(5, c.rfind(' ') - 5);
                const string to = c.substr(c.rfind(' ') + 1);
                const unsigned va = if_nametoindex("va");
                const bool named = va && (if_nametoindex(from.c_str()) == va || if_nametoindex(to.c_str()) == va);
                const statvalues before = named ? kernelstats("va") : statvalues{};
                sendunclaimed(from, netns::macaddress(to), 6);
                if (named && !s.unbased) {
                    const statvalues after = kernelstats("va");
                    for (size_t i = 0; i < expected.size(); ++i) {
                        expected[i] += after[i] - before[i];
                        expected[i] = i < 8 ? static_cast<uint32_t>(expected[i]) : expected[i];
                    }
                }
            } else if (c.rfind("there ", 0) == 0) {
                netns::ipthere(c.substr(6));
            } else {
                netns::ip(c);
            }
        }
        for (kstat_t *k = kc->kc_chain; s.readall && k; k = k->ks_next) {
            if (k != va) {
                (void)kstat_read(kc, k, nullptr);
            }
        }
        const int rc = kstat_read(kc, va, nullptr);
        if (s.borne) {
            EXPECT_GE(rc, 0) << strerror(errno);
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(errno, ENXIO);
        }
        EXPECT_EQ(allstats(va), expected);
        EXPECT_EQ(find(kc, "va"), va);
    }
}

// A reading that the kernel refuses leaves the kstats it serves without
// data: their statistics are not available.
TEST(Kstat, AReadingRefusedLeavesNoData) {
    ZV_ENTER_NETNS_OR_SKIP();
    kstat_ctl_t *kc = openkc();
    kstat_t *lo = find(kc, "lo");
    ASSERT_GE(kstat_read(kc, lo, nullptr), 0);
    ASSERT_NE(kstat_data_lookup(lo, std::string("rbytes64").data()), nullptr);
    // Its descriptor made a folder: neither dump nor text can be read.
    const int folder = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    ASSERT_GE(dup2(folder, kc->kc_kd), 0);
    close(folder);
    EXPECT_EQ(kstat_read(kc, lo, nullptr), -1);
    EXPECT_EQ(kstat_data_lookup(lo, std::string("rbytes64").data()), nullptr);
}

// A link with the most alternative names the kernel takes: the kernel
// tells of it in a message of more than 64 KiB, received whole.
TEST(Kstat, LinkOfAMessageOver64KiB) {
    ZV_ENTER_NETNS_OR_SKIP();
    netns::ip("link add big type veth peer name small");
    string batch;
    for (int i = 0; i < 496; ++i) {
        char alt[128];
        snprintf(alt, sizeof alt, "a%03d%0123d", i, 0);
        batch.append("link property add dev big altname ").append(alt).append("\n");
    }
    netns::ipbatch(batch);
    kstat_ctl_t *kc = openkc();
    EXPECT_EQ(chainnames(kc), (strings{"big", "lo", "small"}));
    kstat_t *big = find(kc, "big");
    ASSERT_NE(big, nullptr);
    EXPECT_GE(kstat_read(kc, big, nullptr), 0);

    const int sd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sd, 0);
    std::vector<ifreq> buf(8);
    ifconf ifc{};
    ifc.ifc_len = static_cast<int>(buf.size() * sizeof(ifreq));
    ifc.ifc_req = buf.data();
    ASSERT_EQ(ioctl(sd, SIOCGIFCONF, &ifc), 0) << strerror(errno);
    ASSERT_EQ(ifc.ifc_len, static_cast<int>(3 * sizeof(ifreq)));
    EXPECT_TRUE(strcmp(buf[1].ifr_name, "big") == 0 || strcmp(buf[2].ifr_name, "big") == 0);
    close(sd);
}

// ---- interface requests ----

int dgramsocket() {
    int sd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sd < 0) {
        throw std::runtime_error(string("socket: ") + strerror(errno));
    }
    return sd;
}

int ifnum(int sd) {
    int n = -1;
    if (ioctl(sd, SIOCGIFNUM, &n) != 0) {
        throw std::runtime_error(string("SIOCGIFNUM: ") + strerror(errno));
    }
    return n;
}

// The names that an interface-list request returns into a buffer with
// room for `room` bytes; *filled gets the ifc_len it wrote back.
strings ifconfnames(int sd, unsigned long request, int room, int *filled = nullptr) {
    std::vector<ifreq> buf(16);
    ifconf ifc{};
    ifc.ifc_len = room;
    ifc.ifc_req = buf.data();
    if (ioctl(sd, request, &ifc) != 0) {
        throw std::runtime_error(string("interface list: ") + strerror(errno));
    }
    if (filled) {
        *filled = ifc.ifc_len;
    }
    strings names;
    for (int i = 0; i < ifc.ifc_len / static_cast<int>(sizeof(ifreq)); ++i) {
        names.emplace_back(buf[static_cast<size_t>(i)].ifr_name,
                           strnlen(buf[static_cast<size_t>(i)].ifr_name, IFNAMSIZ));
    }
    return names;
}

constexpr int recsize = static_cast<int>(sizeof(ifreq));

struct listrequest {
    unsigned long request;
    const char *name;
};
const listrequest listrequests[] = {{SIOCGIFCONF, "SIOCGIFCONF"}, {O_SIOCGIFCONF, "O_SIOCGIFCONF"}};

// Loopback up with the logical interface lo:1, and the veth pair.
class Sockio : public ::testing::Test {
   protected:
    void SetUp() override {
        ZV_ENTER_NETNS_OR_SKIP();
        netns::ip("link set lo up");
        netns::ip("addr add 127.0.0.2/8 dev lo label lo:1");
        netns::vethpair();
        sd = dgramsocket();
    }
    void TearDown() override {
        if (sd >= 0) {
            close(sd);
        }
    }
    int sd = -1;
};

TEST_F(Sockio, LinksInIndexOrderEachFollowedByItsLogicalInterfaces) {
    // Each step: an ip command, then the names every request must give.
    struct step {
        const char *command;
        strings names;
    };
    const step steps[] = {
        {nullptr, {"lo", "lo:1", "va", "vb"}},
        // A second address under a label already listed, and one without
        // a label, add no name.
        {"addr add 127.0.0.3/8 dev lo label lo:1", {"lo", "lo:1", "va", "vb"}},
        {"addr add 10.9.0.1/24 dev va", {"lo", "lo:1", "va", "vb"}},
        // A label comes right after its own link.
        {"addr add 10.9.2.1/24 dev va label va:2", {"lo", "lo:1", "va", "va:2", "vb"}},
    };
    for (const step &s : steps) {
        SCOPED_TRACE(s.command ? s.command : "set-up");
        if (s.command) {
            netns::ip(s.command);
        }
        EXPECT_EQ(ifnum(sd), static_cast<int>(s.names.size()));
        for (const listrequest &r : listrequests) {
            SCOPED_TRACE(r.name);
            int filled = -1;
            EXPECT_EQ(ifconfnames(sd, r.request, 16 * recsize, &filled), s.names);
            EXPECT_EQ(filled, static_cast<int>(s.names.size()) * recsize);
        }
    }
}

TEST_F(Sockio, ListStopsWhereTheBufferEnds) {
    struct roomcase {
        int room;
        strings names;
    };
    const roomcase cases[] = {
        {0, {}},
        {recsize, {"lo"}},
        {2 * recsize, {"lo", "lo:1"}},
        {3 * recsize - 1, {"lo", "lo:1"}},
    };
    for (const listrequest &r : listrequests) {
        for (const roomcase &c : cases) {
            SCOPED_TRACE(string(r.name) + " room " + std::to_string(c.room));
            int filled = -1;
            EXPECT_EQ(ifconfnames(sd, r.request, c.room, &filled), c.names);
            EXPECT_EQ(filled, static_cast<int>(c.names.size()) * recsize);
        }
    }
}

TEST_F(Sockio, FlagsAnswerForLinksAndLogicalInterfaces) {
    struct flagcase {
        const char *name;
        bool answers;
        short set;
        short clear;
    };
    const flagcase cases[] = {
        {"lo", true, IFF_UP | IFF_LOOPBACK, 0},
        {"lo:1", true, IFF_UP | IFF_LOOPBACK, 0},
        {"va", true, IFF_UP, IFF_LOOPBACK},
        {"nosuch", false, 0, 0},
        // Listed, with its link's flags, though no link bears its prefix.
        {"zz:1", true, IFF_UP, IFF_LOOPBACK},
    };
    netns::ip("link set vb up");
    netns::ip("link set va up");
    netns::ip("addr add 10.9.1.1/24 dev va label zz:1");
    // The flags answered on the socket the list was given on.
    ASSERT_EQ(ifconfnames(sd, SIOCGIFCONF, 16 * recsize), (strings{"lo", "lo:1", "va", "zz:1", "vb"}));
    for (const flagcase &c : cases) {
        SCOPED_TRACE(c.name);
        ifreq ifr{};
        strncpy(ifr.ifr_name, c.name, sizeof ifr.ifr_name - 1);
        int rc = ioctl(sd, SIOCGIFFLAGS, &ifr);
        if (!c.answers) {
            EXPECT_LT(rc, 0);
            continue;
        }
        ASSERT_EQ(rc, 0) << strerror(errno);
        EXPECT_EQ(ifr.ifr_flags & c.set, c.set);
        EXPECT_EQ(ifr.ifr_flags & c.clear, 0);
    }
}

TEST(SockioDescriptor, RequestsOnADescriptorThatIsNoSocketFail) {
    int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(devnull, 0);
    for (int fd : {-1, devnull}) {
        SCOPED_TRACE(fd);
        int n = 0;
        EXPECT_LT(ioctl(fd, SIOCGIFNUM, &n), 0);
        std::vector<ifreq> buf(4);
        ifconf ifc{};
        ifc.ifc_len = 4 * recsize;
        ifc.ifc_req = buf.data();
        EXPECT_LT(ioctl(fd, SIOCGIFCONF, &ifc), 0);
        EXPECT_LT(ioctl(fd, O_SIOCGIFCONF, &ifc), 0);
    }
    close(devnull);
}

TEST(SockioFresh, FreshNamespaceHasOnlyLoopback) {
    ZV_ENTER_NETNS_OR_SKIP();
    int sd = dgramsocket();
    EXPECT_EQ(ifnum(sd), 1);
    EXPECT_EQ(ifconfnames(sd, SIOCGIFCONF, 16 * recsize), strings{"lo"});
    close(sd);
}

}  // namespace
