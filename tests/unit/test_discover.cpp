// Discovery, display names and the walks over the discovered list.  Built
// for revisions 2.0, 1.9 and 1.7; 1.7 alone leaves interfaces out.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>

#include "discover/ifinfo.h"
#include "platform/sockio.h"
#include "tests/fakes/fakes.h"
#include "tests/support/capture.h"
#include "tests/support/text.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZV_ASAN 1
#endif
#endif

// Discovery allocates the list and its record buffer once and never
// releases them, as the samples are: the leak checker is told so.  The
// sanitizer's allocator, which a limit on the address space would break,
// is made to refuse the huge record buffer instead.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:ifinfo\nleak:newsamples\n";
}
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

namespace {

constexpr bool filters = ZORVAT_REVISION == 17;

class Discover : public testing::Test {
   protected:
    void SetUp() override {
        fake::sock = {};
        fake::kreset();
    }
    // The list from ifinfo and ifnamelength, as (ifname, ifpname) pairs,
    // checked to hold numifs nodes.
    static std::vector<std::pair<std::string, std::string>> discover(ifinfo_t **out = nullptr) {
        ifinfo_t *head = ifinfo();
        ifnamelength(head);
        std::vector<std::pair<std::string, std::string>> v;
        ifinfo_v *p = head->body;
        for (; p && v.size() < 300; p = p->next) {
            v.emplace_back(p->ifname, p->ifpname);
        }
        EXPECT_EQ(static_cast<size_t>(head->numifs), v.size());
        if (out) {
            *out = head;
        }
        return v;
    }
};

// Names and whether revision 1.7 passes over them by name.
const std::pair<const char *, bool> nametable[] = {
    {"lo:1", true},  {"scid0", true}, {"dman0", true},    {"scidx", true},  {"scid", false},
    {"dman", false}, {"sci", false},  {"e1000g0", false}, {"SCID0", false}, {"vethabcdefghijk", false},
};

TEST_F(Discover, NameFilter) {
    for (const auto &[name, skip] : nametable) {
        EXPECT_EQ(skipif(name), skip ? 1 : 0) << name;
    }
}

// The nodes keep the kernel's order; revision 1.7 leaves out the names of
// the filter, asking no flags for them, and the loopback interface.
TEST_F(Discover, NodesInKernelOrder) {
    std::vector<std::string> kept, asked;
    fake::sock.names = {"lo"};
    fake::sock.flags = {{"lo", IFF_LOOPBACK | IFF_UP}, {"e1000g0", IFF_UP}};
    asked.push_back("lo");
    if (!filters) {
        kept.push_back("lo");
    }
    for (const auto &[name, skip] : nametable) {
        fake::sock.names.push_back(name);
        if (!(filters && skip)) {
            kept.push_back(name);
            asked.push_back(name);
        }
    }
    std::vector<std::string> names;
    for (const auto &node : discover()) {
        names.push_back(node.first);
    }
    EXPECT_EQ(names, kept);
    EXPECT_EQ(fake::sock.flagqueries, asked);
    EXPECT_EQ(fake::sock.confrequest, ZORVAT_REVISION == 20 ? SIOCGIFCONF : O_SIOCGIFCONF);
    EXPECT_EQ(fcntl(fake::sock.fd, F_GETFD), -1) << "socket left open";
}

TEST_F(Discover, FewerOrNoRecords) {
    const struct {
        int count;
        std::vector<std::string> names, nodes;
    } cases[] = {
        {0, {}, {}},
        {0, {"e0"}, {}},
        {5, {"e0", "e1"}, {"e0", "e1"}},
        {1, {"e0", "e1"}, {"e0"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.count);
        fake::sock = {};
        fake::sock.count = c.count;
        fake::sock.names = c.names;
        ifinfo_t *head = nullptr;
        std::vector<std::string> names;
        for (const auto &node : discover(&head)) {
            names.push_back(node.first);
        }
        EXPECT_EQ(names, c.nodes);
        EXPECT_EQ(fake::sock.conflen, c.count * static_cast<int>(sizeof(struct ifreq)));
        if (c.nodes.empty()) {
            EXPECT_EQ(head->body, nullptr);
        }
    }
    EXPECT_NE(newsamples(0), nullptr);
}

TEST_F(Discover, DisplayNamesPadToTheLongest) {
    const std::vector<std::vector<std::pair<std::string, std::string>>> cases = {
        {{"ce0", "ce0   "}, {"bge123", "bge123"}},
        {{"ce0", "ce0"}, {"ce1", "ce1"}},
        {{"e1000g0", "e1000g0"}, {"lo", "lo     "}, {"eth1", "eth1   "}},
    };
    for (const auto &c : cases) {
        fake::sock = {};
        for (const auto &node : c) {
            fake::sock.names.push_back(node.first);
        }
        EXPECT_EQ(discover(), c);
    }
}

// Far less address space than the records of INT_MAX interfaces need.
void limitmemory() {
#ifndef ZV_ASAN
    const rlimit lim{1UL << 31, 1UL << 31};
    setrlimit(RLIMIT_AS, &lim);
#endif
}

TEST_F(Discover, FailuresEndTheRun) {
    const struct {
        const char *msg;
        int err;
        std::function<void()> script;
    } cases[] = {
        {"SIOCGIFNUM", EPERM, [] { fake::sock.numerrno = EPERM; }},
        {"SIOCGIFCONF", ENXIO, [] { fake::sock.conferrno = ENXIO; }},
        {"SIOCGIFFLAGS", EACCES,
         [] {
             fake::sock.flagsfails = "e1";
             fake::sock.flagserrno = EACCES;
         }},
        {"no memory", ENOMEM,
         [] {
             fake::sock.count = INT_MAX;
             limitmemory();
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.msg);
        fake::sock = {};
        fake::sock.names = {"e0", "e1", "e2"};
        EXPECT_EXIT((c.script(), ifinfo()), testing::ExitedWithCode(1),
                    std::string("(^|\n)") + c.msg + ": " + strerror(c.err) + "\n$");
    }
}

// A missing kstat in the middle: its record gets the four marks, the
// others their own counters, and nothing past the last record is touched.
TEST_F(Discover, SamplesAndReportsWalkTheListInStep) {
    fake::sock.names = {"a0", "bnet012345", "c0"};
    fake::kadd("a0", {{"rbytes", 100},
                      {"ipackets", 1},
                      {"obytes", 200},
                      {"opackets", 2},
                      {"ierrors", 3},
                      {"oerrors", 4},
                      {"collisions", 5},
                      {"nocanput", 6}});
    fake::kadd("c0", {{"rbytes", 900},
                      {"ipackets", 9},
                      {"obytes", 800},
                      {"opackets", 8},
                      {"ierrors", 7},
                      {"oerrors", 6},
                      {"collisions", 5},
                      {"nocanput", 4}});
    ifinfo_t *head = nullptr;
    auto nodes = discover(&head);
    ASSERT_EQ(nodes.size(), 3U);
    kstat_ctl_t *kc = kstat_open();
    ifdata *last = newsamples(head->numifs);
    last[0].rbytes = 40;
    last[2].obytes = 300;
    std::vector<ifdata> now(4, ifdata{});
    now[3] = {11, 12, 13, 14, 15, 16, 17, 18};
    ifdataupdate(now.data(), head, kc);
    EXPECT_EQ(fake::klog.lookups, (std::vector<std::string>{"a0", "bnet012345", "c0"}));
    EXPECT_EQ(fake::fields(now[0]), (fake::counts{100, 1, 200, 2, 3, 4, 5, 6}));
    EXPECT_EQ(fake::fields(now[1]), (fake::counts{NOSTAT, NOSTAT, NOSTAT, NOSTAT, 0, 0, 0, 0}));
    EXPECT_EQ(fake::fields(now[2]), (fake::counts{900, 9, 800, 8, 7, 6, 5, 4}));
    EXPECT_EQ(fake::fields(now[3]), (fake::counts{11, 12, 13, 14, 15, 16, 17, 18}));

    // The lines carry the padded names, so they all have one length.
    Oflag = OFLAG_BYTES;
    Elapsed = 1;
    std::vector<std::string> out = lines(capture::captured([&] { printIFdata(now.data(), last, head); }));
    ASSERT_EQ(out.size(), 4U);
    const std::pair<const char *, const char *> rates[] = {{"60.0", "200.0"}, {"-1.0", "-1.0"}, {"900.0", "500.0"}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(out[i]);
        EXPECT_EQ(out[i].rfind(nodes[i].second + " ", 0), 0U);
        EXPECT_EQ(out[i].size(), out[0].size());
        std::vector<std::string> w = words(out[i]);
        EXPECT_EQ(w[1], rates[i].first);
        EXPECT_EQ(w[2], rates[i].second);
    }
    EXPECT_EQ(out[3], "");
}

TEST_F(Discover, EmptyListSamplesNothingAndReportsTheEmptyLine) {
    ifinfo_t empty{0, nullptr};
    ifdata *rec = newsamples(0);
    ifdataupdate(rec, &empty, kstat_open());
    EXPECT_TRUE(fake::klog.lookups.empty());
    EXPECT_EQ(capture::captured([&] { printIFdata(rec, rec, &empty); }), "\n");
}

}  // namespace
