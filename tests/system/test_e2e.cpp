// The built monitors on real links and real traffic, each test in a
// private network namespace of its own.  Links that carry no traffic
// report zeros, so whole report lines can be compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/netns.h"
#include "tests/support/run.h"
#include "tests/support/text.h"

#ifndef ZORVAT_PROGRAM_REVISION
#error "ZORVAT_PROGRAM_REVISION must say which revision the program zorvat is"
#endif

namespace {

using std::string;

const string &kbytesheader = headers[1];
const string &bitsheader = headers[5];

// An interface without the byte statistics it is read from.
rates nobytes() {
    rates r;
    r.in = r.out = -1;
    return r;
}

string pad(const string &name, size_t width) {
    return name + string(width > name.size() ? width - name.size() : 0, ' ');
}

// The lines of idle links as the discovering monitor prints them: every
// name blank-padded to the longest one.  Names in `other` show other
// figures than zeros.
strings idlelines(const strings &names, const std::map<string, rates> &other = {}) {
    size_t width = 0;
    for (const string &n : names) {
        width = std::max(width, n.size());
    }
    strings lines;
    for (const string &n : names) {
        auto it = other.find(n);
        lines.push_back(rateline(pad(n, width), it != other.end() ? it->second : rates{}));
    }
    return lines;
}

struct monitorrun {
    string name;
    strings args;
    strings expected;  // lines of every report
    child c;
};

// Start every run at once; then let each end and check that every one of
// its `reports` reports holds exactly the expected lines.
void runall(std::vector<monitorrun> &runs, int reports, const string &header = bytesheader) {
    for (monitorrun &r : runs) {
        r.c = start(program(r.name), r.args);
    }
    for (monitorrun &r : runs) {
        SCOPED_TRACE(r.name);
        for (const report &rep : endedwell(r.c, static_cast<size_t>(reports), reports * 1000 + 4000)) {
            EXPECT_EQ(rep.header, header);
            EXPECT_EQ(rep.lines, r.expected);
        }
    }
}

const bool zorvat17 = string(ZORVAT_PROGRAM_REVISION) == "1.7";

class Reports : public ::testing::Test {
   protected:
    void SetUp() override {
        ZV_ENTER_NETNS_OR_SKIP();
    }
};

// One report of each discovering revision: 2.0 and 1.9 print the lines
// of all, 1.7 those of rev17, and zorvat those of its own revision.
void rundiscovery(const strings &all, const strings &rev17) {
    std::vector<monitorrun> runs = {
        {"zorvat2", {"1", "1"}, all, {}},
        {"zorvat-1.9", {"1", "1"}, all, {}},
        {"zorvat-1.7", {"1", "1"}, rev17, {}},
        {"zorvat", {"1", "1"}, zorvat17 ? rev17 : all, {}},
    };
    runall(runs, 1);
}

TEST_F(Reports, DiscoveryListsLinksInIndexOrderEachWithItsLogicalInterfaces) {
    netns::ip("link set lo up");
    netns::ip("addr add 127.0.0.2/8 dev lo label lo:1");
    netns::ip("link add va index 10 type veth peer name vb index 11");

    // lo:1 is a logical interface: a line of its own, without statistics.
    const strings all = idlelines({"lo", "lo:1", "va", "vb"}, {{"lo:1", unavailable()}});
    // Revision 1.7 leaves out the loopback link and logical interfaces.
    const strings rev17 = idlelines({"va", "vb"});
    ASSERT_EQ(all[1].substr(0, 9), "lo:1     ");

    rundiscovery(all, rev17);
}

TEST_F(Reports, DisplayNamesArePaddedToTheLongestAndRevision17FiltersScidAndDman) {
    netns::ip("link add scid0 index 20 type veth peer name dman0 index 21");
    netns::ip("link add scid index 22 type veth peer name dman index 23");
    netns::ip("link add longername01 index 24 type veth peer name x index 25");

    // From revision 1.9 on, names that begin with "scid" count bytes
    // under statistics ("in_bytes", "out_bytes") that the links here lack.
    const strings all = idlelines({"lo", "scid0", "dman0", "scid", "dman", "longername01", "x"},
                                  {{"scid0", nobytes()}, {"scid", nobytes()}});
    ASSERT_EQ(all[0].substr(0, 13), "lo           ");
    ASSERT_EQ(all[5].substr(0, 13), "longername01 ");
    // Revision 1.7 leaves out five-character scid and dman names, and lo.
    const strings rev17 = idlelines({"scid", "dman", "longername01", "x"});

    rundiscovery(all, rev17);
}

TEST_F(Reports, Revision17WithOnlyLoopbackPrintsHeadersAndEmptyLines) {
    netns::ip("link set lo up");
    child c = run(program("zorvat-1.7"), {"1", "2"}, 6000);
    EXPECT_EQ(exitstatus(c), 0);
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(c.out, bytesheader + "\n\n" + bytesheader + "\n\n");
}

TEST_F(Reports, ListDrivenMonitorPrintsEveryNameGivenAndMissingOnesAsUnavailable) {
    netns::ip("link set lo up");
    netns::ip("link add va index 10 type veth peer name vb index 11");

    std::vector<monitorrun> runs = {
        // Empty names are skipped; a name given twice is reported twice.
        {"zorvat3", {"lo,,lo va", "1", "2"}, {rateline("lo"), rateline("lo"), rateline("va")}, {}},
        {"zorvat3", {"nosuch,lo", "1", "2"}, {rateline("nosuch", unavailable()), rateline("lo")}, {}},
    };
    runall(runs, 2);

    // The line of a name that no link bears, field by field.
    const auto got = reportsof(runs[1].c.out);
    ASSERT_FALSE(got.empty());
    ASSERT_FALSE(got[0].lines.empty());
    EXPECT_EQ(words(got[0].lines[0]),
              (strings{"nosuch", "-1.0", "-1.0", "-1.0", "-1.0", "0.0", "0.0", "0.0", "0.0", "0.0", "0"}));
}

// Where each blank-separated word of a line ends (0-based column).
std::vector<size_t> wordends(const string &line) {
    std::vector<size_t> ends;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != ' ' && (i + 1 == line.size() || line[i + 1] == ' ')) {
            ends.push_back(i);
        }
    }
    return ends;
}

TEST_F(Reports, WithATenCharacterNameEveryFieldEndsUnderItsLabel) {
    netns::ip("link set lo up");
    child c = run(program("zorvat3"), {"tenletters,lo", "1", "1"}, 5000);
    EXPECT_EQ(exitstatus(c), 0);
    const auto got = reportsof(c.out);
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].lines.size(), 2u);
    const string &line = got[0].lines[0];
    EXPECT_EQ(line.size(), got[0].header.size());
    auto want = wordends(got[0].header);
    auto have = wordends(line);
    ASSERT_EQ(have.size(), want.size()) << line;
    // The name field is wider than "Name"; the ten figures line up.
    for (size_t i = 1; i < want.size(); ++i) {
        EXPECT_EQ(have[i], want[i]) << "column " << i + 1 << " of\n" << got[0].header << "\n" << line;
    }
}

TEST_F(Reports, TrafficOfOneIntervalShowsExactlyInItsReport) {
    netns::wiredpair();
    constexpr int count = 37;
    constexpr int payload = 1000;
    constexpr double frame = 14 + 20 + 8 + payload;  // Ethernet, IPv4, UDP headers

    struct unit {
        const char *option;
        const string &header;
        double scale;  // bytes to the unit
    };
    const unit units[] = {{nullptr, bytesheader, 1}, {"-K", kbytesheader, 1.0 / 1024}, {"-b", bitsheader, 8}};

    // One run after the other: the traffic is sent once the run's first
    // report is out, so it falls in its second, however long each program
    // takes to start (under an emulator, seconds).
    for (const unit &u : units) {
        SCOPED_TRACE(u.option ? u.option : "bytes");
        strings args = {"va,vb", "1", "3"};
        if (u.option) {
            args.insert(args.begin(), u.option);
        }
        child c = start(program("zorvat3"), args);
        ASSERT_TRUE(readreports(c, 1, 8000)) << c.out;
        netns::sendudp("10.9.0.1", "10.9.0.2", count, payload);

        const double bytes = count * frame * u.scale;
        rates sent;
        sent.out = sent.total = bytes;
        sent.opk = sent.pk = count;
        rates received;
        received.in = received.total = bytes;
        received.ipk = received.pk = count;

        const auto got = endedwell(c, 3, 5000);
        ASSERT_EQ(got.size(), 3u);
        for (const report &r : got) {
            EXPECT_EQ(r.header, u.header);
        }
        const strings idle = {rateline("va"), rateline("vb")};
        EXPECT_EQ(got[0].lines, idle);
        EXPECT_EQ(got[1].lines, (strings{rateline("va", sent), rateline("vb", received)}));
        EXPECT_EQ(got[2].lines, idle);
    }
}

// A link deleted during the run keeps its line, its counters standing
// still; a link made again under its name is counted from then on: no
// phantom figure of the old counters, nor of the new link's before.
TEST_F(Reports, LinkDeletedThenMadeAgainUnderItsName) {
    netns::wiredpair();
    netns::sendudp("10.9.0.1", "10.9.0.2", 37, 1000);  // counters well above zero

    std::vector<monitorrun> runs = {
        {"zorvat3", {"va,vb", "1", "4"}, {rateline("va"), rateline("vb")}, {}},
        {"zorvat2", {"1", "4"}, idlelines({"lo", "va", "vb"}), {}},
    };
    for (monitorrun &r : runs) {
        r.c = start(program(r.name), r.args);
    }
    auto each = [&runs](int reports) {
        for (monitorrun &r : runs) {
            ASSERT_TRUE(readreports(r.c, reports, 8000)) << r.name << ":\n" << r.c.out;
        }
    };
    each(1);
    netns::ip("link del va");  // takes its peer vb with it
    each(2);
    netns::ip("link add va index 12 type veth peer name vb index 13");

    for (monitorrun &r : runs) {
        SCOPED_TRACE(r.name);
        for (const report &rep : endedwell(r.c, 4, 8000)) {
            EXPECT_EQ(rep.header, bytesheader);
            EXPECT_EQ(rep.lines, r.expected);
        }
    }
}

// More than 4 GiB through a link within one interval: the figures follow
// the kernel's 64-bit counters, where 32-bit ones would have wrapped.
TEST_F(Reports, MoreThanFourGibibytesInAnInterval) {
    constexpr int secs = 5;
    netns::ip("link set lo up");
    netns::ip("link add va type veth peer name vb");
    netns::ip("addr add 10.9.0.1/24 dev va");
    netns::ip("link set va up");
    netns::sink sink = netns::tcpsink("vb", "10.9.0.2");

    child c = start(program("zorvat3"), {"va", std::to_string(secs), "3"});
    ASSERT_TRUE(readreports(c, 1, 3000 * secs)) << c.out;
    const uint64_t before = netns::devcounters("va")[8];
    // Over 8 GiB in two intervals: at least one holds over 4 GiB.
    const uint64_t sent = netns::tcpsend("10.9.0.2", 10ULL << 30, 1.7 * secs);
    const uint64_t after = netns::devcounters("va")[8];
    const auto got = endedwell(c, 3, 3000 * secs);
    netns::endsink(sink);
    ASSERT_EQ(got.size(), 3u);

    // Reports 2 and 3 hold the traffic, the headers and acknowledgements
    // of TCP included, whichever interval it fell in.
    double out = 0;
    double biggest = 0;
    for (size_t k = 1; k < got.size(); ++k) {
        ASSERT_EQ(got[k].lines.size(), 1u);
        const strings f = words(got[k].lines[0]);
        ASSERT_EQ(f.size(), LINEWORDS) << got[k].lines[0];
        const double bytes = std::stod(f[2]) * secs;
        out += bytes;
        biggest = std::max(biggest, bytes);
    }
    const auto truth = static_cast<double>(after - before);
    std::cout << std::fixed << std::setprecision(1) << "sent " << sent << " bytes of data; the kernel counted " << truth
              << " bytes out, the reports " << out << ", the most in one interval " << biggest << "\n";
    SCOPED_TRACE(c.out);
    if (truth <= 0x1p33) {
        GTEST_SKIP() << "this machine moved no more than 8 GiB in two intervals of " << secs << " s";
    }
    // Within 10 %: under this load a turn may come a few per cent late,
    // and then divides by the time that passed, not by the interval.
    // Counters of 32 bits would lose 4 GiB, 40 % of it.
    EXPECT_NEAR(out, truth, truth * 0.1);
}

}  // namespace
