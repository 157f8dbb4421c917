// The Linux readers of the kernel's tables, fed recorded answers
// (fixtures/record.sh says how they were made and what was on the links)
// and texts of /proc/net/dev: no root, no namespace.
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/counters.h"
#include "platform/linux/labels.h"
#include "platform/linux/links.h"
#include "platform/linux/rtnl.h"

#ifndef ZORVAT_FIXTURES
#error "ZORVAT_FIXTURES must name the folder of the recorded answers"
#endif

namespace {

using std::string;
using named = std::vector<std::pair<int, string>>;
using strings = std::vector<string>;

string fixture(const string &name) {
    std::ifstream in(string(ZORVAT_FIXTURES) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << "no fixture " << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The dumps were recorded on a little-endian machine, in its order of
// bytes, as the kernel answers.
#define ZV_SKIP_UNLESS_LITTLE_ENDIAN()                                            \
    do {                                                                          \
        if (std::endian::native != std::endian::little) {                         \
            GTEST_SKIP() << "the dumps were recorded on a little-endian machine"; \
        }                                                                         \
    } while (0)

// Each message of a recorded dump, as the kernel sent them.
template <class F>
void eachmessage(const string &bytes, F take) {
    size_t rest = bytes.size();
    for (auto *nh = reinterpret_cast<const nlmsghdr *>(bytes.data()); rtnl_ok(nh, rest); nh = rtnl_next(nh, &rest)) {
        take(nh);
    }
}

// A link dump, with a link of 496 alternative names (a000, a001, ...,
// each 127 characters long) whose message is larger than 64 KiB.
TEST(Readers, LinkDumpWithAMessageOver64KiB) {
    ZV_SKIP_UNLESS_LITTLE_ENDIAN();
    named links;
    strings alts;
    size_t largest = 0;
    eachmessage(fixture("linkdump.bin"), [&](const nlmsghdr *nh) {
        largest = std::max<size_t>(largest, nh->nlmsg_len);
        linkchange l{};
        if (parselink(nh, nh->nlmsg_len, &l)) {
            links.emplace_back(l.link.index, l.link.name);
            EXPECT_EQ((l.link.flags & IFF_LOOPBACK) != 0, links.back().second == "lo");
            size_t at = 0;
            for (const char *alt; (alt = linkalt(l, &at));) {
                alts.push_back(string(l.link.name) + ":" + string(alt).substr(0, 4));
            }
        }
    });
    EXPECT_GT(largest, 65536u);
    EXPECT_EQ(links, (named{{1, "lo"}, {10, "va"}, {11, "vb"}, {20, "big"}, {21, "small"}}));
    ASSERT_EQ(alts.size(), 496u);
    EXPECT_EQ(alts.front(), "big:a000");
    EXPECT_EQ(alts.back(), "big:a495");
}

// Labels in the order they are listed: by link, each link's in the
// kernel's order, each name of a link once (the first).
TEST(Readers, AddressDumpGivesEachLabelOfALinkOnce) {
    // The recorded dump is read where it can be.
    const bool little = std::endian::native == std::endian::little;
    std::vector<label> recorded;
    eachmessage(little ? fixture("addrdump.bin") : string(), [&](const nlmsghdr *nh) {
        label l{};
        if (parselabel(nh, &l)) {
            recorded.push_back(l);
        }
    });
    auto make = [](int index, const char *name) {
        label l{};
        l.index = index;
        snprintf(l.name, sizeof l.name, "%s", name);
        return l;
    };
    const struct {
        const char *what;
        std::vector<label> taken;  // in the kernel's order
        named listed;
    } cases[] = {
        {"recorded", recorded, little ? named{{1, "lo:1"}, {10, "va:2"}} : named{}},
        {"a name again, later, on the same link",
         {make(2, "eth0:b"), make(1, "lo:2"), make(2, "eth0:a"), make(1, "lo:1"), make(2, "eth0:b"), make(1, "lo:2")},
         {{1, "lo:2"}, {1, "lo:1"}, {2, "eth0:b"}, {2, "eth0:a"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        table<label> labels{};
        for (const label &l : c.taken) {
            label *to = labels.add();
            *to = l;
            to->order = labels.count - 1;
        }
        orderlabels(&labels);
        named got;
        for (size_t i = 0; i < labels.count; ++i) {
            got.emplace_back(labels.items[i].index, labels.items[i].name);
        }
        labels.release();
        EXPECT_EQ(got, c.listed);
    }
}

// The counters the recorded traffic left: 7 datagrams of 100 bytes from va
// to vb (142 bytes on the wire each), 3 of 20 bytes over lo, each answered.
const std::map<int, linkcounters> recorded = {
    {1, {372, 6, 0, 0, 372, 6, 0, 0}},
    {10, {0, 0, 0, 0, 994, 7, 0, 0}},
    {11, {994, 7, 0, 0, 0, 0, 0, 0}},
    {20, {}},
    {21, {}},
};
const std::map<string, int> indexof = {{"lo", 1}, {"va", 10}, {"vb", 11}, {"big", 20}, {"small", 21}};

std::vector<uint64_t> fields(const linkcounters &c) {
    return {c.rxbytes, c.rxpackets, c.rxerrors, c.rxdrops, c.txbytes, c.txpackets, c.txerrors, c.collisions};
}

TEST(Readers, StatisticsDump) {
    ZV_SKIP_UNLESS_LITTLE_ENDIAN();
    std::map<int, std::vector<uint64_t>> got;
    eachmessage(fixture("statsdump.bin"), [&](const nlmsghdr *nh) {
        int index = 0;
        linkcounters c{};
        if (parsestats(nh, &index, &c)) {
            got[index] = fields(c);
        }
    });
    std::map<int, std::vector<uint64_t>> want;
    for (const auto &[index, c] : recorded) {
        want[index] = fields(c);
    }
    EXPECT_EQ(got, want);
}

// Every counter from its own field of the kernel's 64-bit statistics, in a
// statistics dump and in a link announcement alike: each field a number of
// its own, so that one taken from another field, or left out of a sum,
// shows.
TEST(Readers, EveryCounterFromItsOwnStatistic) {
    rtnl_link_stats64 s{};
    uint64_t bits[sizeof s / sizeof(uint64_t)] = {};
    for (size_t i = 0; i < std::size(bits); ++i) {
        bits[i] = uint64_t{1} << i;
    }
    memcpy(&s, bits, sizeof s);
    // rx_bytes, rx_packets, rx_errors, rx_dropped + rx_missed_errors, then
    // tx_bytes, tx_packets, tx_errors, collisions.
    const std::vector<uint64_t> want = {s.rx_bytes, s.rx_packets, s.rx_errors, s.rx_dropped + s.rx_missed_errors,
                                        s.tx_bytes, s.tx_packets, s.tx_errors, s.collisions};
    ASSERT_EQ(want[3], (uint64_t{1} << 6) + (uint64_t{1} << 15));

    auto message = [&](unsigned short type, size_t head, unsigned short attr) {
        std::vector<nlmsghdr> room(64);
        auto *nh = room.data();
        nh->nlmsg_type = type;
        nh->nlmsg_len = static_cast<uint32_t>(NLMSG_SPACE(head) + RTA_LENGTH(sizeof s));
        auto *data = static_cast<unsigned char *>(NLMSG_DATA(nh));
        if (type == RTM_NEWSTATS) {
            reinterpret_cast<if_stats_msg *>(data)->ifindex = 7;
        } else {
            reinterpret_cast<ifinfomsg *>(data)->ifi_index = 7;
        }
        auto *rta = reinterpret_cast<rtattr *>(data + NLMSG_ALIGN(head));
        rta->rta_type = attr;
        rta->rta_len = static_cast<unsigned short>(RTA_LENGTH(sizeof s));
        memcpy(RTA_DATA(rta), &s, sizeof s);
        return room;
    };
    const auto dump = message(RTM_NEWSTATS, sizeof(if_stats_msg), IFLA_STATS_LINK_64);
    int index = 0;
    linkcounters c{};
    ASSERT_TRUE(parsestats(dump.data(), &index, &c));
    EXPECT_EQ(index, 7);
    EXPECT_EQ(fields(c), want);

    const auto news = message(RTM_NEWLINK, sizeof(ifinfomsg), IFLA_STATS64);
    linkchange l{};
    parselink(news.data(), news.data()->nlmsg_len, &l);  // names no link: false, the counters read all the same
    ASSERT_TRUE(linkcounts(l, &c));
    EXPECT_EQ(fields(c), want);
}

// Link announcements as they came of a rename and back, and of a bridge
// port joining and leaving and its bridge deleted under it: each tells of
// its link, with the link's counters, but those of the bridge family,
// which tell of the port and not of the link, are none; and an
// announcement received cut short gives what it holds within the bytes
// received.
TEST(Readers, LinkAnnouncements) {
    ZV_SKIP_UNLESS_LITTLE_ENDIAN();
    const std::map<int, linkcounters> counted = {{10, recorded.at(10)}, {11, recorded.at(11)}, {30, {}}};
    strings names10;
    strings gone;
    size_t bridged = 0;
    eachmessage(fixture("news.bin"), [&](const nlmsghdr *nh) {
        const auto *ifi = static_cast<const ifinfomsg *>(NLMSG_DATA(nh));
        linkchange l{};
        const bool told = parselink(nh, nh->nlmsg_len, &l);
        bridged += ifi->ifi_family == AF_BRIDGE;
        if (!told) {
            EXPECT_EQ(ifi->ifi_family, AF_BRIDGE) << "an announcement of the link's own not read";
            return;
        }
        SCOPED_TRACE(l.link.name);
        ASSERT_EQ(counted.count(l.link.index), 1u);
        EXPECT_TRUE(l.whole);
        linkcounters c{};
        EXPECT_TRUE(linkcounts(l, &c));
        EXPECT_EQ(fields(c), fields(counted.at(l.link.index)));
        if (l.link.index == 10) {
            names10.push_back(l.link.name);
        }
        if (l.gone) {
            gone.push_back(l.link.name);
        }
        // Cut short: before the name, with the name only, with the counters.
        const struct {
            size_t len;
            bool told;
            bool counted;
        } cuts[] = {{NLMSG_SPACE(sizeof(ifinfomsg)), false, false}, {64, true, false}, {1024, true, true}};
        for (const auto &cut : cuts) {
            SCOPED_TRACE(cut.len);
            linkchange part{};
            linkcounters c{};
            EXPECT_EQ(parselink(nh, cut.len, &part), cut.told);
            EXPECT_EQ(linkcounts(part, &c), cut.counted);
            EXPECT_FALSE(part.whole);
            if (cut.told) {
                EXPECT_STREQ(part.link.name, l.link.name);
            }
        }
    });
    EXPECT_GT(bridged, 0u);
    EXPECT_EQ(names10, (strings{"va", "vtmp", "va"}));
    EXPECT_EQ(gone, strings{"br0"});
}

// The rows that a reading of the text gives, by name.
std::map<string, std::vector<uint64_t>> devrows(const string &text) {
    FILE *f = tmpfile();
    fwrite(text.data(), 1, text.size(), f);
    fflush(f);
    countsource s;
    s.dev = fileno(f);
    s.chosen = true;
    std::map<string, std::vector<uint64_t>> rows;
    auto put = [](int index, const char *name, const linkcounters &c, void *arg) {
        EXPECT_EQ(index, 0);
        (*static_cast<std::map<string, std::vector<uint64_t>> *>(arg))[name] = fields(c);
    };
    EXPECT_TRUE(readcounters(&s, put, &rows));
    fclose(f);
    return rows;
}

TEST(Readers, ProcNetDevTexts) {
    const string heads = "Inter-|   Receive\n face |bytes    packets\n";
    string many = heads;
    std::map<string, std::vector<uint64_t>> manyrows;
    for (int i = 0; i < 300; ++i) {
        const string name = "link" + std::to_string(i);
        many += "  " + name + ": " + std::to_string(i) + " 1 2 3 0 0 0 0 " + std::to_string(2 * i) + " 5 6 0 0 7 0 0\n";
        manyrows[name] = {static_cast<uint64_t>(i), 1, 2, 3, static_cast<uint64_t>(2 * i), 5, 6, 7};
    }
    std::map<string, std::vector<uint64_t>> fromdump;
    for (const auto &[name, index] : indexof) {
        fromdump[name] = fields(recorded.at(index));
    }
    const std::vector<uint64_t> some = {1, 2, 3, 4, 9, 10, 11, 14};
    const struct {
        const char *what;
        string text;
        std::map<string, std::vector<uint64_t>> rows;
    } cases[] = {
        {"recorded with the statistics dump", fixture("netdev.txt"), fromdump},
        {"more than the room of one read", many, manyrows},
        {"the longest name, the largest count, no last newline",
         heads + "averylongname15:18446744073709551615 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16",
         {{"averylongname15", {18446744073709551615ULL, 2, 3, 4, 9, 10, 11, 14}}}},
        {"no blank after the colon", heads + "  eth0:1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n", {{"eth0", some}}},
        {"a name too long, a line without a colon, headings only",
         heads + "sixteencharsname: 1 2 3\nno colon here\n",
         {}},
        {"a line longer than the room passed over",
         heads + "  eth1:" + string(5000, ' ') + "7\n  eth2: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n",
         {{"eth2", some}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(devrows(c.text), c.rows);
    }
}

}  // namespace
