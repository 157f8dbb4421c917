// The built monitors on real links and real traffic, each test in a
// private network namespace of its own.  Links that carry no traffic
// report zeros, so whole report lines can be compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/netns.h"
#include "tests/spawn.h"

#ifndef ZORVAT_PROGRAM_REVISION
#error "ZORVAT_PROGRAM_REVISION must say which revision the program zorvat is"
#endif

namespace {

using std::string;
using strings = std::vector<string>;

const string bytesheader =
    "Name             IBytes/s       OBytes/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s        Bytes/s   Pack/s  "
    "Nocanput";
const string kbytesheader =
    "Name                IKB/s          OKB/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s           KB/s   Pack/s  "
    "Nocanput";
const string bitsheader =
    "Name               IBit/s         OBit/s  Ipack/s  Opack/s  Ierr/s Oerr/s  Col/s         Bits/s   Pack/s  "
    "Nocanput";

// The figures of one report line.
struct rates {
    double in = 0;
    double out = 0;
    double ipk = 0;
    double opk = 0;
    double ierr = 0;
    double oerr = 0;
    double col = 0;
    double total = 0;
    double pk = 0;
    int nocanput = 0;
};

// An interface without statistics: the four byte and packet columns.
rates missing() {
    rates r;
    r.in = r.out = r.ipk = r.opk = -1;
    return r;
}

// An interface without the byte statistics it is read from.
rates nobytes() {
    rates r;
    r.in = r.out = -1;
    return r;
}

string rateline(const string &name, const rates &r = {}) {
    char buf[512];
    snprintf(buf, sizeof buf, "%-8s %14.1f %14.1f %8.1f %8.1f  %6.1f %6.1f %6.1f %14.1f %8.1f  %8d", name.c_str(), r.in,
             r.out, r.ipk, r.opk, r.ierr, r.oerr, r.col, r.total, r.pk, r.nocanput);
    return buf;
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

struct report {
    string header;
    strings lines;
};

// Split standard output into reports: a header, lines, an empty line.
// An unfinished last report is left out and fails the test.
std::vector<report> reportsof(const string &out) {
    std::vector<report> reports;
    std::istringstream in(out);
    report r;
    bool inreport = false;
    for (string line; std::getline(in, line);) {
        if (!inreport) {
            r = report{line, {}};
            inreport = true;
        } else if (line.empty()) {
            reports.push_back(r);
            inreport = false;
        } else {
            r.lines.push_back(line);
        }
    }
    EXPECT_FALSE(inreport) << "unfinished report in:\n" << out;
    EXPECT_TRUE(out.empty() || out.back() == '\n');
    return reports;
}

strings fields(const string &line) {
    std::istringstream in(line);
    strings f;
    for (string w; in >> w;) {
        f.push_back(w);
    }
    return f;
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
        EXPECT_TRUE(finish(r.c, reports * 1000 + 4000));
        EXPECT_EQ(exitstatus(r.c), 0);
        EXPECT_EQ(r.c.err, "");
        const auto got = reportsof(r.c.out);
        ASSERT_EQ(got.size(), static_cast<size_t>(reports)) << r.c.out;
        for (const report &rep : got) {
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
    const strings all = idlelines({"lo", "lo:1", "va", "vb"}, {{"lo:1", missing()}});
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
        {"zorvat3", {"nosuch,lo", "1", "2"}, {rateline("nosuch", missing()), rateline("lo")}, {}},
    };
    runall(runs, 2);

    // The line of a name that no link bears, field by field.
    const auto got = reportsof(runs[1].c.out);
    ASSERT_FALSE(got.empty());
    ASSERT_FALSE(got[0].lines.empty());
    EXPECT_EQ(fields(got[0].lines[0]),
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

// Datagrams from va to an address behind vb that nobody holds: vb takes
// them in and nothing answers, so the only traffic is what the test sends.
void wiredpair() {
    netns::ip("link add va index 10 type veth peer name vb index 11");
    netns::ip("addr add 10.9.0.1/24 dev va");
    netns::ip("link set va up");
    netns::ip("link set vb up");
    netns::ip("neigh add 10.9.0.2 lladdr " + netns::macaddress("vb") + " nud permanent dev va");
}

TEST_F(Reports, TrafficOfOneIntervalShowsExactlyInItsReport) {
    wiredpair();
    constexpr int count = 37;
    constexpr int payload = 1000;
    constexpr double frame = 14 + 20 + 8 + payload;  // Ethernet, IPv4, UDP headers

    struct unit {
        const char *option;
        const string &header;
        double scale;  // bytes to the unit
    };
    const unit units[] = {{nullptr, bytesheader, 1}, {"-K", kbytesheader, 1.0 / 1024}, {"-b", bitsheader, 8}};

    std::vector<child> runs;
    for (const unit &u : units) {
        strings args = {"va,vb", "1", "3"};
        if (u.option) {
            args.insert(args.begin(), u.option);
        }
        runs.push_back(start(program("zorvat3"), args));
    }
    // Between the first report and the second.
    for (child &c : runs) {
        ASSERT_TRUE(readreports(c, 1, 4000)) << c.out;
    }
    netns::sendudp("10.9.0.1", "10.9.0.2", count, payload);

    for (size_t i = 0; i < runs.size(); ++i) {
        const unit &u = units[i];
        child &c = runs[i];
        SCOPED_TRACE(u.option ? u.option : "bytes");
        EXPECT_TRUE(finish(c, 5000));
        EXPECT_EQ(exitstatus(c), 0);
        EXPECT_EQ(c.err, "");

        const double bytes = count * frame * u.scale;
        rates sent;
        sent.out = sent.total = bytes;
        sent.opk = sent.pk = count;
        rates received;
        received.in = received.total = bytes;
        received.ipk = received.pk = count;

        const auto got = reportsof(c.out);
        ASSERT_EQ(got.size(), 3u) << c.out;
        for (const report &r : got) {
            EXPECT_EQ(r.header, u.header);
        }
        const strings idle = {rateline("va"), rateline("vb")};
        EXPECT_EQ(got[0].lines, idle);
        EXPECT_EQ(got[1].lines, (strings{rateline("va", sent), rateline("vb", received)}));
        EXPECT_EQ(got[2].lines, idle);
    }
}

TEST_F(Reports, LinkDeletedDuringTheRunLeavesTheRunToItsEnd) {
    netns::ip("link add va index 10 type veth peer name vb index 11");

    std::vector<monitorrun> runs = {
        {"zorvat3", {"va,vb", "1", "3"}, {rateline("va"), rateline("vb")}, {}},
        {"zorvat2", {"1", "3"}, idlelines({"lo", "va", "vb"}), {}},
    };
    for (monitorrun &r : runs) {
        r.c = start(program(r.name), r.args);
    }
    for (monitorrun &r : runs) {
        ASSERT_TRUE(readreports(r.c, 1, 4000)) << r.name << ":\n" << r.c.out;
    }
    netns::ip("link del va");  // takes its peer vb with it

    for (monitorrun &r : runs) {
        SCOPED_TRACE(r.name);
        EXPECT_TRUE(finish(r.c, 5000));
        EXPECT_EQ(exitstatus(r.c), 0);
        EXPECT_EQ(r.c.err, "");
        const auto got = reportsof(r.c.out);
        ASSERT_EQ(got.size(), 3u) << r.c.out;
        for (const report &rep : got) {
            EXPECT_EQ(rep.header, bytesheader);
            // The counters of a link that is gone stand still.
            EXPECT_EQ(rep.lines, r.expected);
        }
    }
}

}  // namespace
