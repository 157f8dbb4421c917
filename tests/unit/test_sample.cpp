// Sampling one interface from its kstat.  Built for revisions 2.0 and 1.7,
// which differ in the "scid" rule.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/zorvat.h"
#include "tests/fakes/fakes.h"

namespace {

constexpr bool scidrule = ZORVAT_REVISION != 17;

// Every statistic a distinct value; the eight of the record give 1 to 8 in
// field order.
const fake::stats allstats = {{"rbytes", 1},     {"ipackets", 2},   {"obytes", 3},     {"opackets", 4},
                              {"ierrors", 5},    {"oerrors", 6},    {"collisions", 7}, {"nocanput", 8},
                              {"in_bytes", 101}, {"out_bytes", 103}};
const fake::counts allfields = {1, 2, 3, 4, 5, 6, 7, 8};

class Sample : public testing::Test {
   protected:
    void SetUp() override {
        fake::kreset();
        kc = kstat_open();
    }
    ifdata sample(const std::string &name, ifdata rec = {10, 20, 30, 40, 50, 60, 70, 80}) {
        std::string writable = name;
        ifsample(kc, writable.data(), &rec);
        return rec;
    }
    kstat_ctl_t *kc = nullptr;
};

TEST_F(Sample, FillsEveryFieldAndAsksTheWideStatisticFirst) {
    fake::kadd("ce0", allstats);
    EXPECT_EQ(fake::fields(sample("ce0")), allfields);
    EXPECT_EQ(fake::klog.lookups, std::vector<std::string>{"ce0"});
    EXPECT_TRUE(fake::klog.wildcard);
    EXPECT_EQ(fake::klog.reads, 1);
    // The 64-bit form of a byte or packet counter is asked for before its
    // 32-bit one.
    const auto &asked = fake::klog.stats;
    for (const char *wide : {"rbytes", "ipackets", "obytes", "opackets"}) {
        const auto w = std::find(asked.begin(), asked.end(), std::string(wide) + "64");
        EXPECT_LT(w, std::find(asked.begin(), asked.end(), wide)) << wide;
    }
}

// A 64-bit statistic is taken whole, the 64-bit form of a counter before
// its 32-bit one; a counter from a 32-bit statistic is marked narrow.
TEST_F(Sample, SixtyFourBitStatisticsAreTakenWhole) {
    const struct {
        const char *what;
        fake::stats stats;
        uint64_t rbytes;
        bool narrow;
    } cases[] = {
        {"both forms", {{"rbytes", 705032704}, {"rbytes64", 5000000000}}, 5000000000, false},
        {"the 32-bit form only", {{"rbytes", 705032704}}, 705032704, true},
        {"the plain name as a 64-bit statistic", {{"rbytes", 0x500000007}}, 0x500000007, false},
        {"the 64-bit form only", {{"rbytes64", 0x100000007}}, 0x100000007, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::kreset();
        fake::kadd("ce0", c.stats);
        ifdata r = sample("ce0");
        EXPECT_EQ(r.rbytes, c.rbytes);
        EXPECT_EQ((r.narrow & 1U) != 0, c.narrow);
    }
}

TEST_F(Sample, ScidNamesCountBytesUnderTheirOwnNames) {
    const std::pair<const char *, bool> cases[] = {{"scid0", true},  {"scid", true}, {"scidfoo1", true},
                                                   {"SCID0", false}, {"sci", false}, {"xscid0", false}};
    for (const auto &[name, scid] : cases) {
        SCOPED_TRACE(name);
        fake::kreset();
        fake::kadd(name, allstats);
        bool own = scid && scidrule;
        ifdata r = sample(name);
        EXPECT_EQ(r.rbytes, own ? 101U : 1U);
        EXPECT_EQ(r.obytes, own ? 103U : 3U);
        const auto &asked = fake::klog.stats;
        for (const char *stat : {"in_bytes", "out_bytes", "rbytes64", "rbytes", "obytes64", "obytes"}) {
            const bool scidstat = stat[0] == 'i' || stat[1] == 'u';
            EXPECT_EQ(std::count(asked.begin(), asked.end(), stat), own == scidstat ? 1 : 0) << stat;
        }
    }
}

TEST_F(Sample, NoKstatMarksTheByteAndPacketCountersOnly) {
    fake::kadd("ce0", allstats);
    EXPECT_EQ(fake::fields(sample("ce1")), (fake::counts{NOSTAT, NOSTAT, NOSTAT, NOSTAT, 50, 60, 70, 80}));
    EXPECT_EQ(fake::klog.reads, 0);
    EXPECT_TRUE(fake::klog.stats.empty());
}

TEST_F(Sample, MissingStatisticsAreMarkedOneByOne) {
    const char *names[] = {"rbytes", "ipackets", "obytes", "opackets", "ierrors", "oerrors", "collisions", "nocanput"};
    for (size_t i = 0; i < 8; ++i) {
        SCOPED_TRACE(names[i]);
        fake::kreset();
        fake::kadd("ce0", allstats);
        fake::kremove("ce0", names[i]);
        fake::counts expect = allfields;
        expect[i] = NOSTAT;
        EXPECT_EQ(fake::fields(sample("ce0")), expect);
    }
    fake::kreset();
    fake::kadd("ce0", {{"other", 1}});
    fake::counts none;
    none.fill(NOSTAT);
    EXPECT_EQ(fake::fields(sample("ce0")), none);
}

// The read must come before the lookups: they then see what it copied,
// and a failed read leaves the data of the last good one.
TEST_F(Sample, ReadsBeforeLookingUpAndGoesOnWhenTheReadFails) {
    fake::kadd("ce0", allstats);
    fake::kset("ce0", "ipackets", 222);
    fake::kfailread("ce0", true);
    EXPECT_EQ(fake::fields(sample("ce0")), allfields);
    EXPECT_EQ(fake::klog.stats.size(), 12U);
    fake::kfailread("ce0", false);
    EXPECT_EQ(sample("ce0").ipackets, 222U);
}

}  // namespace
