// The platform layer against the real kernel, in private network
// namespaces: kstat from the kernel's link counters, and the interface
// requests of discovery.
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/kstat.h"
#include "platform/sockio.h"
#include "tests/support/netns.h"

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

strings chainnames(const kstat_ctl_t *kc) {
    strings names;
    for (const kstat_t *k = kc->kc_chain; k; k = k->ks_next) {
        names.emplace_back(k->ks_name);
    }
    return names;
}

strings sorted(strings v) {
    std::sort(v.begin(), v.end());
    return v;
}

// The kernel's sixteen counters of every link, read here independently of
// the library: 8 receive columns, then 8 transmit columns.
using devcounters = std::array<unsigned long long, 16>;
std::map<string, devcounters> procnetdev() {
    std::ifstream in("/proc/net/dev");
    std::map<string, devcounters> links;
    string line;
    std::getline(in, line);
    std::getline(in, line);
    while (std::getline(in, line)) {
        auto colon = line.find(':');
        if (colon == string::npos) {
            continue;
        }
        string name = line.substr(0, colon);
        name.erase(0, name.find_first_not_of(' '));
        std::istringstream fields(line.substr(colon + 1));
        devcounters c{};
        for (auto &v : c) {
            fields >> v;
        }
        links[name] = c;
    }
    return links;
}

// Each statistic and the /proc/net/dev column it stands for; the first
// eight are 32 bits wide, the rest the kernel's whole counters.
struct statcolumn {
    const char *stat;
    int column;
};
constexpr statcolumn statcolumns[] = {
    {"rbytes", 0},   {"ipackets", 1},   {"ierrors", 2},  {"nocanput", 3},     // rx bytes, packets, errs, drop
    {"obytes", 8},   {"opackets", 9},   {"oerrors", 10}, {"collisions", 13},  // tx bytes, packets, errs, colls
    {"rbytes64", 0}, {"ipackets64", 1}, {"obytes64", 8}, {"opackets64", 9},
};

uint64_t statof(kstat_t *ksp, const char *stat) {
    const auto *np = static_cast<const kstat_named_t *>(kstat_data_lookup(ksp, stat));
    if (!np) {
        throw std::runtime_error(string("no statistic ") + stat + " in " + ksp->ks_name);
    }
    return np->data_type == KSTAT_DATA_UINT64 ? np->value.ui64 : np->value.ui32;
}

std::array<uint64_t, 8> allstats(kstat_t *ksp) {
    std::array<uint64_t, 8> v{};
    for (size_t i = 0; i < v.size(); ++i) {
        v[i] = statof(ksp, statcolumns[i].stat);
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

TEST(Kstat, FreshNamespaceHasOnlyLoopback) {
    ZV_ENTER_NETNS_OR_SKIP();
    kstat_ctl_t *kc = openkc();
    EXPECT_EQ(chainnames(kc), strings{"lo"});
}

TEST(Kstat, OneKstatPerLinkPresentAtOpenNamedByTheLink) {
    ZV_ENTER_NETNS_OR_SKIP();
    netns::vethpair();
    kstat_ctl_t *kc = openkc();
    // Made after the open: the chain is never refreshed.
    netns::ip("link add vc type veth peer name vd");

    EXPECT_EQ(sorted(chainnames(kc)), (strings{"lo", "va", "vb"}));
    for (const char *name : {"lo", "va", "vb"}) {
        SCOPED_TRACE(name);
        kstat_t *ksp = kstat_lookup(kc, nullptr, -1, name);
        ASSERT_NE(ksp, nullptr);
        EXPECT_STREQ(ksp->ks_name, name);
        EXPECT_GE(kstat_read(kc, ksp, nullptr), 0);
    }
    for (const char *name : {"vc", "vd", "nosuch", "v", "vab", "lo:1", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(kstat_lookup(kc, nullptr, -1, name), nullptr);
    }
}

TEST(Kstat, StatisticsEqualTheKernelCountersAfterTraffic) {
    ZV_ENTER_NETNS_OR_SKIP();
    netns::ip("link set lo up");
    netns::wiredpair();
    const string vbmac = netns::macaddress("vb");

    auto traffic = [&](int round) {
        netns::sendudp("10.9.0.1", "10.9.0.2", 7 + round, 300);
        netns::sendudp("127.0.0.1", "127.0.0.1", 3 + round, 100);
        sendunclaimed("va", vbmac, 4 + round);
    };
    auto compare = [](kstat_ctl_t *kc) {
        for (const char *name : {"lo", "va", "vb"}) {
            SCOPED_TRACE(name);
            kstat_t *ksp = kstat_lookup(kc, nullptr, -1, name);
            ASSERT_NE(ksp, nullptr);
            ASSERT_GE(kstat_read(kc, ksp, nullptr), 0);
            const devcounters kernel = procnetdev().at(name);
            for (size_t i = 0; i < std::size(statcolumns); ++i) {
                const statcolumn &sc = statcolumns[i];
                const auto v = kernel[static_cast<size_t>(sc.column)];
                EXPECT_EQ(statof(ksp, sc.stat), i < 8 ? static_cast<uint32_t>(v) : v) << sc.stat;
            }
        }
    };

    traffic(0);
    kstat_ctl_t *kc = openkc();
    compare(kc);
    // The traffic made the counters differ, so a statistic read from
    // the wrong column shows.
    const auto kernel = procnetdev();
    EXPECT_EQ(kernel.at("vb")[3], 4u);  // unclaimed frames dropped
    EXPECT_NE(kernel.at("va")[8], kernel.at("va")[9]);

    // Later reads follow the kernel: each kstat read again begins a new
    // walk over the links, with a new reading.
    traffic(1);
    compare(kc);
    EXPECT_EQ(procnetdev().at("vb")[3], 4u + 5u);
}

TEST(Kstat, ReadOfADeletedLinkFailsAndKeepsItsData) {
    ZV_ENTER_NETNS_OR_SKIP();
    netns::ip("link set lo up");
    netns::wiredpair();
    netns::sendudp("10.9.0.1", "10.9.0.2", 5, 200);

    kstat_ctl_t *kc = openkc();
    kstat_t *va = kstat_lookup(kc, nullptr, -1, "va");
    kstat_t *lo = kstat_lookup(kc, nullptr, -1, "lo");
    ASSERT_NE(va, nullptr);
    ASSERT_NE(lo, nullptr);
    ASSERT_GE(kstat_read(kc, va, nullptr), 0);
    const auto before = allstats(va);
    ASSERT_NE(before[4], 0u);  // obytes

    netns::ip("link del va");
    netns::sendudp("127.0.0.1", "127.0.0.1", 6, 50);

    EXPECT_EQ(kstat_read(kc, va, nullptr), -1);
    EXPECT_EQ(allstats(va), before);
    // Still in the chain: the chain is never refreshed.
    EXPECT_EQ(kstat_lookup(kc, nullptr, -1, "va"), va);

    // The other links still read, and read the kernel as it is now; what
    // a read brings in can be copied out too.
    std::array<kstat_named_t, 12> copy{};
    ASSERT_GE(kstat_read(kc, lo, copy.data()), 0);
    const devcounters kernel = procnetdev().at("lo");
    EXPECT_EQ(statof(lo, "opackets"), static_cast<uint32_t>(kernel[9]));
    EXPECT_EQ(statof(lo, "obytes"), static_cast<uint32_t>(kernel[8]));
    EXPECT_GE(statof(lo, "opackets"), 6u);
    ASSERT_EQ(lo->ks_data_size, sizeof copy);
    const auto *data = static_cast<const kstat_named_t *>(lo->ks_data);
    for (size_t i = 0; i < copy.size(); ++i) {
        EXPECT_STREQ(copy[i].name, data[i].name);
        EXPECT_EQ(copy[i].value.ui64, data[i].value.ui64) << data[i].name;
    }

    // A link made again under the name: the kstat reads it, from zero.
    netns::ip("link add va type veth peer name vc");
    ASSERT_GE(kstat_read(kc, va, nullptr), 0);
    EXPECT_EQ(allstats(va), (std::array<uint64_t, 8>{}));
}

TEST(Kstat, LookupByModuleAndInstance) {
    ZV_ENTER_NETNS_OR_SKIP();
    kstat_ctl_t *kc = openkc();
    kstat_t *lo = kstat_lookup(kc, nullptr, -1, "lo");
    ASSERT_NE(lo, nullptr);
    EXPECT_EQ(kstat_lookup(kc, "link", -1, "lo"), lo);
    EXPECT_EQ(kstat_lookup(kc, "link", 0, "lo"), lo);
    EXPECT_EQ(kstat_lookup(kc, "disk", -1, "lo"), nullptr);
    EXPECT_EQ(kstat_lookup(kc, nullptr, 1, "lo"), nullptr);
    // No data before the first read.
    EXPECT_EQ(lo->ks_data, nullptr);
    EXPECT_EQ(kstat_data_lookup(lo, "rbytes"), nullptr);
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
