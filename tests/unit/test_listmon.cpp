// The interface table of the list-driven monitor: parsing the list, and
// sampling, reporting and copying over the table.
#include <gtest/gtest.h>

#include "listmon/iftable.h"
#include "tests/fakes/fakes.h"
#include "tests/support/capture.h"
#include "tests/support/text.h"

namespace {

class Table : public testing::Test {
   protected:
    void SetUp() override {
        std::fill(std::begin(IFlist), std::end(IFlist), IFinfo{});
        IFnumb = 0;
        fake::kreset();
    }
};

// n names, "n0" onwards, separated by blanks and commas by turns.
std::vector<std::string> names(int n) {
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i) {
        v.push_back(std::to_string(i).insert(0, 1, 'n'));
    }
    return v;
}

std::string namelist(int n) {
    std::string s;
    for (const std::string &name : names(n)) {
        s.append(name).push_back(s.size() % 2 ? ',' : ' ');
    }
    return s;
}

TEST_F(Table, ParsesBlankAndCommaSeparatedNames) {
    const std::string longest(31, 'x');
    const struct {
        std::string list;
        std::vector<std::string> names;
    } cases[] = {
        {"ce0 ce1 ce4 lo0", {"ce0", "ce1", "ce4", "lo0"}},
        {"ce0,ce1,ce4,lo0", {"ce0", "ce1", "ce4", "lo0"}},
        {",,ce0 , ce1,,", {"ce0", "ce1"}},
        {"ce0 ce1 ce0", {"ce0", "ce1", "ce0"}},
        {"ce0\tce1", {"ce0\tce1"}},
        {"a " + longest + ",b", {"a", longest, "b"}},
        {namelist(IFMAX), names(IFMAX)},
        {"", {}},
        {" ,, , ", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.list.substr(0, 40));
        SetUp();
        IFparse(c.list.c_str(), "zv");
        ASSERT_EQ(IFnumb, static_cast<int>(c.names.size()));
        for (size_t i = 0; i < c.names.size(); ++i) {
            EXPECT_EQ(std::string(IFlist[i].name, strnlen(IFlist[i].name, sizeof IFlist[i].name)), c.names[i]);
        }
        // Nothing written past the entries in use.
        static const IFinfo zero{};
        for (int i = IFnumb; i < IFMAX; ++i) {
            const IFinfo &e = IFlist[i];
            ASSERT_EQ(memcmp(e.name, zero.name, sizeof zero.name), 0) << "entry " << i;
            ASSERT_EQ(fake::fields(e.curr), fake::fields(zero.curr)) << "entry " << i;
            ASSERT_EQ(fake::fields(e.prev), fake::fields(zero.prev)) << "entry " << i;
        }
    }
}

TEST_F(Table, RefusesNamesTooLongAndListsTooLarge) {
    for (const std::string &list : {std::string(32, 'x'), "ce0 " + std::string(40, 'y'), namelist(IFMAX + 1)}) {
        SetUp();
        EXPECT_EXIT(IFparse(list.c_str(), "zv"), testing::ExitedWithCode(1), "^zv \\(kov\\) v\\.3\\.0\nUsage: zv ")
            << list.substr(0, 40);
    }
}

// After the first sampling and the copy, prev equals curr everywhere; an
// entry without a kstat marks only itself; a name given twice is reported
// twice, from one sample: each kstat is read once a turn.
TEST_F(Table, SampleCopyAndReportEveryEntry) {
    fake::kadd("ce0", {{"rbytes", 1000}, {"ipackets", 10}, {"obytes", 2000}, {"opackets", 20}});
    fake::kadd("ce1", {{"rbytes", 5}, {"ipackets", 1}, {"obytes", 6}, {"opackets", 2}});
    IFparse("ce0 ghost ce1,ce0", "zv");
    kstat_ctl_t *kc = kstat_open();
    IFupdate(kc);
    IFcopy();
    EXPECT_EQ(fake::klog.lookups, (std::vector<std::string>{"ce0", "ghost", "ce1"}));
    EXPECT_EQ(fake::klog.reads, 2);
    for (int i = 0; i < IFnumb; ++i) {
        EXPECT_EQ(fake::fields(IFlist[i].prev), fake::fields(IFlist[i].curr)) << IFlist[i].name;
    }
    EXPECT_EQ(fake::fields(IFlist[1].curr), (fake::counts{NOSTAT, NOSTAT, NOSTAT, NOSTAT, 0, 0, 0, 0}));
    EXPECT_EQ(IFlist[2].curr.rbytes, 5U);

    fake::kset("ce0", "rbytes", 1500);
    fake::kset("ce1", "obytes", 13);
    IFupdate(kc);
    Oflag = OFLAG_BYTES;
    Elapsed = 1;
    std::vector<std::string> out = lines(capture::captured([] { IFprint(); }));
    ASSERT_EQ(out.size(), 5U);
    const std::vector<std::vector<std::string>> expect = {
        {"ce0", "500.0", "0.0", "0.0", "0.0"},
        {"ghost", "-1.0", "-1.0", "-1.0", "-1.0"},
        {"ce1", "0.0", "7.0", "0.0", "0.0"},
        {"ce0", "500.0", "0.0", "0.0", "0.0"},
    };
    for (size_t i = 0; i < expect.size(); ++i) {
        std::vector<std::string> w = words(out[i]);
        ASSERT_EQ(w.size(), LINEWORDS);
        EXPECT_EQ(std::vector<std::string>(w.begin(), w.begin() + 5), expect[i]);
    }
    EXPECT_EQ(out[4], "");
    IFcopy();
    EXPECT_EQ(IFlist[0].prev.rbytes, 1500U);
    EXPECT_EQ(IFlist[2].prev.obytes, 13U);
}

TEST_F(Table, EmptyTableSamplesNothing) {
    IFupdate(kstat_open());
    EXPECT_TRUE(fake::klog.lookups.empty());
    EXPECT_EQ(capture::captured([] { IFprint(); }), "\n");
}

}  // namespace
