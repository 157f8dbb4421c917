// The Linux readers of the kernel's tables, fed recorded answers
// (fixtures/record.sh says how they were made and what was on the links)
// and texts of /proc/net/dev: no root, no namespace.
#include <unistd.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
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

TEST(Readers, LinkDumpWithAMessageOver64KiB) {
    ZV_SKIP_UNLESS_LITTLE_ENDIAN();
    named links;
    size_t largest = 0;
    eachmessage(fixture("linkdump.bin"), [&](const nlmsghdr *nh) {
        largest = std::max<size_t>(largest, nh->nlmsg_len);
        rtlink l{};
        if (parselink(nh, &l)) {
            links.emplace_back(l.index, l.name);
            EXPECT_EQ((l.flags & IFF_LOOPBACK) != 0, links.back().second == "lo");
        }
    });
    EXPECT_GT(largest, 65536u);
    EXPECT_EQ(links, (named{{1, "lo"}, {10, "va"}, {11, "vb"}, {20, "big"}, {21, "small"}}));
}

TEST(Readers, AddressDumpGivesEachLabelOfALinkOnce) {
    ZV_SKIP_UNLESS_LITTLE_ENDIAN();
    table<label> labels{};
    eachmessage(fixture("addrdump.bin"), [&](const nlmsghdr *nh) {
        label l{};
        if (parselabel(nh, &l)) {
            l.order = labels.count;
            *labels.add() = l;
        }
    });
    orderlabels(&labels);
    named got;
    for (size_t i = 0; i < labels.count; ++i) {
        got.emplace_back(labels.items[i].index, labels.items[i].name);
    }
    labels.release();
    EXPECT_EQ(got, (named{{1, "lo:1"}, {10, "va:2"}}));
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
