// The rate line: differences, units, the missing-counter rule, the format.
#include <fcntl.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "core/zorvat.h"
#include "tests/fakes/fakes.h"
#include "tests/support/capture.h"
#include "tests/support/text.h"

namespace {

const ifdata exprev{1000000, 2000, 500000, 1000, 7, 0, 0, 10};
const ifdata excurr{1010240, 2050, 505120, 1025, 8, 0, 0, 13};

// The line that printline adds to a report, with the rates per secs.
std::string rawline(const char *name, const ifdata &curr, const ifdata &prev, int oflag, double secs) {
    Oflag = oflag;
    Elapsed = secs;
    std::string out = capture::captured([&] {
        printline(name, curr, prev);
        endreport();
    });
    EXPECT_EQ(out.back(), '\n');
    out.pop_back();  // the empty line that ends the report
    return out;
}

// The printed columns, numbered as in the header: [1] is the name.
std::vector<std::string> columns(const ifdata &curr, const ifdata &prev, int oflag = OFLAG_BYTES, double secs = 1) {
    std::vector<std::string> w = words(rawline("ce0", curr, prev, oflag, secs));
    w.insert(w.begin(), "");
    return w;
}

TEST(Report, WorkedExampleInEveryMode) {
    const struct {
        int oflag;
        const char *in, *out, *total;
    } cases[] = {
        {1, "0.0", "0.0", "0.0"},          {2, "2.0", "1.0", "3.0"},          {3, "2048.0", "1024.0", "3072.0"},
        {4, "0.0", "0.0", "0.0"},          {5, "16.0", "8.0", "24.0"},        {6, "16384.0", "8192.0", "24576.0"},
        {0, "2048.0", "1024.0", "3072.0"}, {7, "2048.0", "1024.0", "3072.0"}, {-1, "2048.0", "1024.0", "3072.0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.oflag);
        std::vector<std::string> col = columns(excurr, exprev, c.oflag, 5);
        ASSERT_EQ(col.size(), 12U);
        EXPECT_EQ(col[1], "ce0");
        EXPECT_EQ(col[2], c.in);
        EXPECT_EQ(col[3], c.out);
        EXPECT_EQ(col[9], c.total);
        EXPECT_EQ(std::vector<std::string>(col.begin() + 4, col.begin() + 9),
                  (std::vector<std::string>{"10.0", "5.0", "0.2", "0.0", "0.0"}));
        EXPECT_EQ(col[10], "15.0");
        EXPECT_EQ(col[11], "3");
    }
    EXPECT_EQ(rawline("ce0", excurr, exprev, OFLAG_KBYTES, 5),
              "ce0                 2.0            1.0     10.0      5.0     0.2    0.0    0.0            3.0     "
              "15.0         3\n");
}

// The megabyte modes print 0.0 for the worked example; a bigger change
// tells every scale apart.
TEST(Report, UnitScales) {
    const ifdata prev{};
    const ifdata curr{3145728, 0, 0, 0, 0, 0, 0, 0};
    const std::pair<int, const char *> cases[] = {{1, "1.5"},  {2, "1536.0"},  {3, "1572864.0"},
                                                  {4, "12.0"}, {5, "12288.0"}, {6, "12582912.0"}};
    for (const auto &[oflag, in] : cases) {
        SCOPED_TRACE(oflag);
        std::vector<std::string> col = columns(curr, prev, oflag, 2);
        EXPECT_EQ(col[2], in);
        EXPECT_EQ(col[9], in);
    }
}

// The change of a counter between two samples.  Counters read from 32-bit
// statistics (narrow) wrap; a counter that went down otherwise was reset
// and counts from zero again.
TEST(Report, CounterChangesWrapsAndResets) {
    constexpr unsigned all32 = 0xFF;
    const struct {
        const char *what;
        ifdata prev, curr;
        double secs;
        std::vector<std::pair<int, const char *>> expect;  // column, text
    } cases[] = {
        {"64-bit rbytes: 5 GB in a second",
         {1000, 0, 0, 0, 0, 0, 0, 0},
         {5000001000, 0, 0, 0, 0, 0, 0, 0},
         1,
         {{2, "5000000000.0"}, {9, "5000000000.0"}}},
        {"64-bit counters far beyond 2^32",
         {0x500000000, 0x700000000, 0, 0, 0, 0, 0, 0},
         {0x500000000 + 600, 0x700000000 + 6, 0, 0, 0, 0, 0, 0},
         2,
         {{2, "300.0"}, {4, "3.0"}}},
        {"64-bit reset: the count since",
         {5000000, 900, 0, 0, 0, 0, 0, 0},
         {1000, 10, 0, 0, 0, 0, 0, 0},
         5,
         {{2, "200.0"}, {4, "2.0"}, {9, "200.0"}, {10, "2.0"}}},
        {"32-bit rbytes wraps past 2^32",
         {4294967000U, 0, 0, 0, 0, 0, 0, 0, all32},
         {200, 0, 0, 0, 0, 0, 0, 0, all32},
         1,
         {{2, "496.0"}, {9, "496.0"}}},
        {"32-bit obytes and opackets wrap past 2^32",
         {0, 0, 4294967000U, 4294967290U, 0, 0, 0, 0, all32},
         {0, 0, 200, 4, 0, 0, 0, 0, all32},
         1,
         {{3, "496.0"}, {5, "10.0"}, {9, "496.0"}, {10, "10.0"}}},
        {"32-bit rbytes that went down wrapped",
         {5000000, 0, 0, 0, 0, 0, 0, 0, all32},
         {1000, 0, 0, 0, 0, 0, 0, 0, all32},
         5,
         {{2, "857993659.2"}}},
        {"32-bit 0xFFFFFFFE is unsigned",
         {2, 2, 0, 0, 0, 0, 0, 0, all32},
         {0, 0, 0, 0, 0, 0, 0, 0, all32},
         1,
         {{2, "4294967294.0"}, {4, "4294967294.0"}}},
        {"error, collision and drop counts reset, 32 bits or not",
         {0, 0, 0, 0, 9, 9, 9, 10, all32},
         {0, 0, 0, 0, 3, 0, 6, 4, all32},
         1,
         {{6, "3.0"}, {7, "0.0"}, {8, "6.0"}, {11, "4"}}},
        {"totals from unrounded rates",
         {0, 0, 0, 0, 0, 0, 0, 0},
         {1, 0, 1, 0, 0, 0, 0, 0},
         3,
         {{2, "0.3"}, {3, "0.3"}, {9, "0.7"}}},
        {"a late turn: per the seconds that passed",
         {0, 0, 0, 0, 0, 0, 0, 0},
         {9072, 30, 0, 0, 3, 0, 0, 7},
         3,
         {{2, "3024.0"}, {4, "10.0"}, {6, "1.0"}, {11, "7"}}},
        {"a turn 2 % late", {0, 0, 0, 0, 0, 0, 0, 0}, {1020, 0, 0, 0, 0, 0, 0, 0}, 1.02, {{2, "1000.0"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> col = columns(c.curr, c.prev, OFLAG_BYTES, c.secs);
        ASSERT_EQ(col.size(), 12U);
        for (const auto &[n, text] : c.expect) {
            EXPECT_EQ(col[static_cast<size_t>(n)], text) << "column " << n;
        }
    }
}

// Byte mode over many changes and intervals: the line is exactly what the
// report format gives through printf for the per-second figures.
TEST(Report, LineIsTheReportFormatOfTheFigures) {
    uint64_t seed = 0x2545F4914F6CDD1DULL;
    auto next = [&seed](uint64_t range) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return (seed >> 16) % range;
    };
    const char *names[] = {"e0", "ce0", "e1000g0", "eth12345", "averylongname15"};
    const uint64_t ranges[] = {10, 1000, 1U << 20, 1ULL << 36};
    for (int i = 0; i < 2000; ++i) {
        fake::counts d{};
        ifdata prev;
        ifdata curr;
        for (size_t k = 0; k < NCOUNTERS; ++k) {
            d[k] = next(ranges[next(4)]);
            prev.*counters[k].field = next(1ULL << 44);
            curr.*counters[k].field = prev.*counters[k].field + d[k];
        }
        const int secs = i % 3 ? static_cast<int>(next(16)) + 1 : static_cast<int>(next(100000)) + 1;
        const char *name = names[next(5)];
        const double s = secs;
        auto per = [&](size_t k) { return static_cast<double>(d[k]) / s; };
        rates r;
        r.in = per(0);
        r.out = per(2);
        r.ipk = per(1);
        r.opk = per(3);
        r.ierr = per(4);
        r.oerr = per(5);
        r.col = per(6);
        r.total = (static_cast<double>(d[0]) + static_cast<double>(d[2])) / s;
        r.pk = (static_cast<double>(d[1]) + static_cast<double>(d[3])) / s;
        r.nocanput = d[7];
        const std::string expect = rateline(name, r) + "\n";
        ASSERT_EQ(rawline(name, curr, prev, OFLAG_BYTES, secs), expect) << "case " << i;
    }
}

TEST(Report, LongNameIsPrintedWholeAndShiftsTheLine) {
    std::string shortline = rawline("ce0", excurr, exprev, OFLAG_BYTES, 5);
    EXPECT_EQ(rawline("averylongname12", excurr, exprev, OFLAG_BYTES, 5), "averylongname12" + shortline.substr(8));
}

// A counter that is missing (0xFFFFFFFF) in either sample has no change:
// the byte and packet columns show -1.0, the others nothing, and the
// totals leave it out.
TEST(Report, MissingCounterInEitherSample) {
    const ifdata prev{100, 10, 200, 20, 1, 2, 3, 4};
    const ifdata curr{150, 15, 270, 27, 2, 4, 6, 8};
    const std::vector<std::string> base = {"",    "ce0", "50.0", "70.0",  "5.0",  "7.0",
                                           "1.0", "2.0", "3.0",  "120.0", "12.0", "4"};
    ASSERT_EQ(columns(curr, prev), base);
    const struct {
        uint64_t ifdata::*counter;
        std::vector<std::pair<size_t, const char *>> changed;  // column, text
    } cases[] = {
        {&ifdata::rbytes, {{2, "-1.0"}, {9, "70.0"}}},
        {&ifdata::obytes, {{3, "-1.0"}, {9, "50.0"}}},
        {&ifdata::ipackets, {{4, "-1.0"}, {10, "7.0"}}},
        {&ifdata::opackets, {{5, "-1.0"}, {10, "5.0"}}},
        {&ifdata::ierrors, {{6, "0.0"}}},
        {&ifdata::oerrors, {{7, "0.0"}}},
        {&ifdata::collisions, {{8, "0.0"}}},
        {&ifdata::nocanput, {{11, "0"}}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> expect = base;
        for (const auto &[n, text] : c.changed) {
            expect[n] = text;
        }
        for (const char *where : {"current", "previous", "both"}) {
            SCOPED_TRACE(std::string(where) + " column " + std::to_string(c.changed.front().first));
            ifdata p = prev;
            ifdata q = curr;
            if (where[0] != 'p') {
                q.*c.counter = NOSTAT;
            }
            if (where[0] != 'c') {
                p.*c.counter = NOSTAT;
            }
            EXPECT_EQ(columns(q, p), expect);
        }
    }
}

// A report that can't be written whole (the file reached its size limit,
// as on a disk that fills) leaves no part of itself in the file, written
// or appended to: the file holds the whole reports before it and those
// after the room came back, the loss is said once and the run fails.
TEST(Report, AReportCutShortLeavesNoPartOfItselfInAFile) {
    auto report = [] {
        pbanner();
        for (int i = 0; i < 20; ++i) {
            printline("eth0", excurr, exprev);
        }
        endreport();
    };
    Elapsed = 1;
    const std::string one = capture::captured(report);
    for (const bool append : {false, true}) {
        SCOPED_TRACE(append ? "appended to" : "written");
        char path[] = "/tmp/zorvat-report-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        const capture::ran r = capture::inchild([&] {
            const int out = open(path, O_WRONLY | (append ? O_APPEND : 0));
            dup2(out, 1);
            signal(SIGXFSZ, SIG_IGN);
            report();
            rlimit lim{one.size() * 3 / 2, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &lim);
            report();  // cut short
            report();  // no room
            lim.rlim_cur = RLIM_INFINITY;
            setrlimit(RLIMIT_FSIZE, &lim);
            report();
            _exit(endrun());
        });
        const std::string got = capture::slurp(fdopen(fd, "r"));
        EXPECT_TRUE(got == one + one) << "the file holds " << got.size() << " bytes, not two reports of " << one.size();
        unlink(path);
        EXPECT_EQ(capture::exitcode(r), 1);
        EXPECT_EQ(r.err, "write error: File too large\n");
    }
}

}  // namespace
