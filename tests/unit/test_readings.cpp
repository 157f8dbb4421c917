// The kstat stand-in's readings over a kernel of the tests' own
// (tests/fakes/kernel.h): the path each reading takes (asking for links
// alone, reading every link, looking names up), what each kstat reads, and
// what it makes of messages the kernel did not send.  No root.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/kstat.h"
#include "tests/fakes/kernel.h"

namespace {

using std::string;
using strings = std::vector<string>;
using namespace fakekernel;

// What traffic(index, v) adds to a link: v frames of 100 bytes each way.
linkcounters history(uint64_t frames) {
    return {100 * frames, frames, 0, 0, 100 * frames, frames, 0, 0};
}

// The name of the i-th link made to fill the chain: z0, z1, ...
string zname(int i) {
    char name[16];
    snprintf(name, sizeof name, "z%d", i);
    return name;
}

class Readings : public testing::Test {
   protected:
    void SetUp() override {
        reset();
    }

    void open() {
        kc = kstat_open();
        ASSERT_NE(kc, nullptr) << strerror(errno);
        kernel.asked.clear();
    }

    kstat_t *ks(const string &name) {
        string n = name;
        return kstat_lookup(kc, nullptr, -1, n.data());
    }

    // What a read of the name gives: its received bytes, -1 when the read
    // fails.
    int64_t read(const string &name) {
        kstat_t *k = ks(name);
        if (!k) {
            ADD_FAILURE() << "no kstat " << name;
            return -2;
        }
        if (kstat_read(kc, k, nullptr) < 0) {
            return -1;
        }
        string stat = "rbytes64";
        const auto *np = static_cast<const kstat_named_t *>(kstat_data_lookup(k, stat.data()));
        return np ? static_cast<int64_t>(np->value.ui64) : -2;
    }

    // The links lo (1), va (10), vb (11) and z0, z1, ... (20, 21, ...).
    static void links(int more) {
        add(1, "lo", history(3));
        add(10, "va", history(500));
        add(11, "vb", history(700));
        for (int i = 0; i < more; ++i) {
            add(20 + i, zname(i));
        }
    }

    static strings chain(int more) {
        strings names = {"lo", "va", "vb"};
        for (int i = 0; i < more; ++i) {
            names.push_back(zname(i));
        }
        return names;
    }

    kstat_ctl_t *kc = nullptr;
};

int indexof(const string &name) {
    return name == "lo" ? 1 : name == "va" ? 10 : name == "vb" ? 11 : 20 + std::stoi(name.substr(1));
}

// The chain has a kstat for each name a link bears at open, its own and
// then its alternative ones of at most 30 characters (a kstat's longest
// name), in index order; an alternative name reads its link.
TEST_F(Readings, AKstatForEachNameOfALinkAtOpen) {
    links(0);
    const string thirty(30, 't');
    altadd(10, thirty);
    altadd(10, thirty + "l");
    altadd(11, "uplink");
    open();
    strings names;
    for (const kstat_t *k = kc->kc_chain; k; k = k->ks_next) {
        names.emplace_back(k->ks_name);
    }
    EXPECT_EQ(names, (strings{"lo", "va", thirty, "vb", "uplink"}));
    EXPECT_EQ(read(thirty), 50000);
    EXPECT_EQ(read("uplink"), 70000);
}

// After a reading that served few of the chain's kstats, the next asks for
// their links alone, and for any other as it is read, up to two; then, and
// after a reading that served many, it dumps every link's counters.  Each
// read has the counters of its own reading, whichever way they came.
TEST_F(Readings, FewAreAskedForManyDumped) {
    links(10);  // a chain of 13: 6 kstats are few
    open();
    const strings all = chain(10);
    const struct {
        strings reads;
        strings asked;
    } rounds[] = {
        {all, {"stats 1", "stats 10", "stats dump"}},
        {{"va"}, {"stats dump"}},
        {{"va"}, {"stats 10"}},
        {{"va", "vb", "lo"}, {"stats 10", "stats 11", "stats 1"}},
        {all, {"stats 10 11 1", "stats 20", "stats 21", "stats dump"}},
        {{"lo", "va", "vb"}, {"stats dump"}},
    };
    uint64_t round = 0;
    for (const auto &r : rounds) {
        SCOPED_TRACE(round);
        for (const string &name : all) {
            traffic(indexof(name), ++round % 7 + 1);
        }
        kernel.asked.clear();
        for (const string &name : r.reads) {
            EXPECT_EQ(read(name), static_cast<int64_t>(linkof(indexof(name)).c.rxbytes)) << name;
        }
        EXPECT_EQ(kernel.asked, r.asked);
    }

    // Read again, lo begins a reading; va, not yet served by it, comes
    // from it, without the traffic sent since; read again, it does not.
    read("lo");
    traffic(10, 1);
    const auto now = static_cast<int64_t>(linkof(10).c.rxbytes);
    EXPECT_EQ(read("va"), now - 100);
    EXPECT_EQ(read("va"), now);
    // What a read brings in can be copied out too.
    kstat_t *va = ks("va");
    std::vector<kstat_named_t> copy(va->ks_ndata);
    ASSERT_GE(kstat_read(kc, va, copy.data()), 0);
    ASSERT_EQ(va->ks_data_size, copy.size() * sizeof copy[0]);
    EXPECT_EQ(memcmp(copy.data(), va->ks_data, va->ks_data_size), 0);
}

// Requests go in datagrams of as many as the receive buffer holds the
// answers of; a link that is gone answers alone with its error, and the
// others are read; a kernel that refuses such requests is dumped from then
// on.
TEST_F(Readings, AskingInBatchesAndAnErrorForOneLink) {
    links(20);
    open();
    const strings five = {"va", "vb", "z0", "z1", "z2"};
    for (const string &name : five) {
        read(name);  // the first reading
    }
    kernel.room = 2 * 1024;
    hold(-1);  // z1's deletion unannounced while asked for
    del(21);
    for (const string &name : five) {
        traffic(indexof(name == "z1" ? "z0" : name), 3);
    }
    kernel.asked.clear();
    for (const string &name : five) {
        EXPECT_EQ(read(name), name == "z1" ? -1 : static_cast<int64_t>(linkof(indexof(name)).c.rxbytes)) << name;
    }
    EXPECT_EQ(kernel.asked, (strings{"stats 10 11", "stats 20 21", "stats 22"}));

    release();
    kernel.room = 212992;
    kernel.refuseasks = true;
    kernel.asked.clear();
    for (int round = 0; round < 2; ++round) {
        for (const char *name : {"va", "vb"}) {
            EXPECT_EQ(read(name), static_cast<int64_t>(linkof(indexof(name)).c.rxbytes)) << name;
        }
    }
    EXPECT_EQ(kernel.asked, (strings{"stats 10 11 20 22", "stats dump", "stats dump"}));
}

// What a name reads while its links change, through the whole stand-in,
// with the counters from the statistics and from /proc/net/dev (where the
// statistics are refused): forged and stale messages change nothing, a
// swap of names during a reading is read again, an alternative name
// serves, and after lost announcements each name is looked up without
// taking a link from its other names.
TEST_F(Readings, WhatANameReadsThroughItsLinksChanges) {
    struct step {
        std::function<void()> change;
        std::vector<std::pair<string, int64_t>> reads;  // each name's received bytes, or -1
        strings asked = {};                             // when not empty: the requests of the reads
    };
    const struct {
        const char *what;
        int more;  // links z0, z1, ...
        std::vector<step> steps;
    } rows[] = {
        {"announcements a process forged are dropped",
         0,
         {{[] {
               forge(10, true, {});
               forge(10, false, {});
               traffic(10, 1);
           },
           {{"va", 50100}}}}},
        {"answers to earlier requests and to another socket are passed over",
         0,
         {{[] {
               kernel.stale = true;
               traffic(10, 1);
           },
           {{"va", 50100}, {"vb", 70000}}}}},
        {"names swapped while the counters are read: read again",
         0,
         {{[] {
               add(30, "vnew", history(90000));
               hold(1);
               rename(10, "vtmp");
               rename(30, "va");
               rename(10, "vnew");
           },
           {{"va", 50000}, {"vb", 70000}}},
          {[] { traffic(30, 2); }, {{"va", 50200}}}}},
        {"names swapped while their links are asked for: asked again for their new links",
         50,
         {{[] {}, {{"va", 50000}, {"vb", 70000}}},
          {[] {
               add(90, "vnew", history(90000));
               hold(1);
               rename(10, "vtmp");
               rename(90, "va");
               rename(10, "vnew");
           },
           {{"va", 50000}, {"vb", 70000}},
           {"stats 10 11", "stats 90 11"}}}},
        {"an alternative name reads its link, and follows it",
         0,
         {{[] {
               rename(10, "vaway");
               add(30, "vx");
               altadd(30, "va");
               traffic(30, 1);
           },
           {{"va", 50100}, {"vb", 70000}}},
          {[] {
               altdel(30, "va");
               altadd(11, "va");
               traffic(11, 1);
           },
           {{"va", 50200}, {"vb", 70100}}},
          {[] {
               altdel(11, "va");
               traffic(11, 1);
           },
           {{"va", -1}, {"vb", 70200}}}}},
        {"an announcement cut short, its last alternative names unknown, is a loss",
         0,
         {{[] {
               rename(10, "vaway");
               for (int i = 0; i < 40; ++i) {
                   altadd(11, zname(i) + string(90, 'x'));
               }
               altadd(11, "va");
               traffic(11, 1);
           },
           {{"va", 50000}, {"vb", 70100}}},
          {[] { traffic(11, 1); }, {{"va", 50100}, {"vb", 70200}}}}},
        {"after lost announcements each name is looked up, and keeps its link",
         50,
         {{[] {}, {{"vb", 70000}, {"va", 50000}}},
          {[] {
               rename(10, "vaway");
               altadd(11, "va");
               rename(20, "zgone");
               lose();
               traffic(11, 1);
           },
           {{"vb", 70100}, {"va", 50000}, {"z0", -1}},
           {"links vb va", "stats 11 11", "links z0"}},
          {[] { traffic(11, 2); }, {{"vb", 70300}, {"va", 50200}}}}},
    };
    for (const bool procfs : {false, true}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(string(row.what) + (procfs ? ", /proc/net/dev" : ", statistics"));
            reset();
            kernel.refusestats = procfs;
            links(row.more);
            open();
            read("va");
            read("vb");
            if (row.more > 0) {
                read("z0");  // a kstat of a chain of many that the readings serve only at the end
            }
            for (const step &s : row.steps) {
                s.change();
                kernel.asked.clear();
                for (const auto &[name, bytes] : s.reads) {
                    EXPECT_EQ(read(name), bytes) << name;
                }
                if (!procfs && !s.asked.empty()) {
                    EXPECT_EQ(kernel.asked, s.asked);
                }
            }
        }
    }
}

// The announcements recorded of a rename and back and of a bridge port
// (tests/unit/fixtures/news.bin): the links keep their names, whatever
// the bridge family's messages say of the port.
TEST_F(Readings, RecordedAnnouncements) {
    if (std::endian::native != std::endian::little) {
        GTEST_SKIP() << "the announcements were recorded on a little-endian machine";
    }
    std::ifstream in(string(ZORVAT_FIXTURES) + "/news.bin", std::ios::binary);
    const string news{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(news.empty());
    // The links' counters as the announcements carry them.
    add(1, "lo");
    add(10, "va", {0, 0, 0, 0, 994, 7, 0, 0});
    add(11, "vb", {994, 7, 0, 0, 0, 0, 0, 0});
    open();
    EXPECT_EQ(read("vb"), 994);
    inject(news);
    EXPECT_EQ(read("va"), 0);
    EXPECT_EQ(read("vb"), 994);
}

}  // namespace
