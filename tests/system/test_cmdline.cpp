// The command line of every monitor, running the built programs: which
// arguments are refused with the usage text, and which start a run.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/netns.h"
#include "tests/support/run.h"
#include "tests/support/text.h"

#ifndef ZORVAT_PROGRAM_REVISION
#error "ZORVAT_PROGRAM_REVISION must say which revision the program zorvat is"
#endif

namespace {

using std::string;

struct monitor {
    const char *name;
    const char *version;
    bool listdriven;  // zorvat3: takes the interfaces argument first
};
const monitor monitors[] = {
    {"zorvat2", "2.0", false},    {"zorvat-1.9", "1.9", false},
    {"zorvat-1.7", "1.7", false}, {"zorvat", ZORVAT_PROGRAM_REVISION, false},
    {"zorvat3", "3.0", true},
};

// The name the programs are started under; the usage text repeats it.
string argv0of(const monitor &m) {
    return string("/opt/zv/") + m.name;
}

string usagetext(const monitor &m) {
    const string n = argv0of(m);
    if (m.listdriven) {
        return n + " (kov) v.3.0\nUsage: " + n +
               " [ -K | -k | -M | -m | -b ] interfaces interval [times]\nExample:\n\t " + n +
               " \"ce0 ce1 ce4 lo0\" 5\n\t " + n + " ce0,ce1,ce4,lo0 5\n";
    }
    return n + " (kov) v." + m.version + "\nUsage: " + n + " [ -K | -k | -M | -m | -b ] interval [times]\n";
}

int count(const strings &text, const string &what) {
    int n = 0;
    for (const string &l : text) {
        n += l == what;
    }
    return n;
}

// The arguments for a monitor: the list-driven one gets "lo" as its
// interfaces argument after the option, if any.
strings argsfor(const monitor &m, const string &option, const strings &rest) {
    strings args;
    if (!option.empty()) {
        args.push_back(option);
    }
    if (m.listdriven) {
        args.emplace_back("lo");
    }
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
}

string show(const strings &args) {
    string s;
    for (const string &a : args) {
        s += " \"" + (a.size() > 40 ? a.substr(0, 40) + "...(" + std::to_string(a.size()) + ")" : a) + "\"";
    }
    return s;
}

// Every test runs in a private namespace when one can be made, so the
// reports are short; the command line doesn't depend on it.
class Cmdline : public ::testing::Test {
   protected:
    void SetUp() override {
        const string why = netns::enter();
        if (!why.empty()) {
            std::cerr << "note: running in the host's network namespace: " << why << "\n";
        }
    }
};

// ---- refused ----

struct refusal {
    const char *what;
    strings discovering;  // the arguments for zorvat2 and zorvat
    strings listdriven;   // the same fault for zorvat3
};

// In place of arguments: a fault that one kind of monitor can't have.
const strings notapplicable = {"(not applicable)"};

std::vector<refusal> refusals() {
    string names257;
    for (int i = 0; i < 257; ++i) {
        names257 += "lo ";
    }
    return {
        {"no arguments", {}, {}},
        {"only an option", {"-K"}, {"-K"}},
        {"a dash alone", {"-", "5"}, {"-", "lo", "5"}},
        {"unknown unit letter", {"-x", "5"}, {"-x", "lo", "5"}},
        {"a digit as unit letter", {"-3"}, {"-3"}},
        {"second option read as the interval", {"-k", "-m", "5"}, {"-k", "lo", "-m"}},
        {"interval 0", {"0"}, {"lo", "0"}},
        {"interval without digits", {"abc"}, {"lo", "abc"}},
        {"negative interval", {"-k", "-5"}, {"-k", "lo", "-5"}},
        {"negative count", {"5", "-1"}, {"lo", "5", "-1"}},
        {"one argument too many", {"5", "3", "7"}, {"lo", "5", "3", "7"}},
        {"interval beyond int", {"2147483648"}, {"lo", "2147483648"}},
        {"count beyond int", {"1", "99999999999"}, {"lo", "1", "99999999999"}},
        {"count below int", {"1", "-99999999999"}, {"lo", "1", "-99999999999"}},
        // Faults of the interfaces argument; none for zorvat2.
        {"interval alone", notapplicable, {"5"}},
        {"empty interfaces argument", notapplicable, {"", "5"}},
        {"blanks and commas only", notapplicable, {" ,, , ", "5"}},
        {"a name of 32 characters", notapplicable, {"lo " + string(32, 'n'), "5"}},
        {"257 names", notapplicable, {names257, "5"}},
    };
}

TEST_F(Cmdline, FaultsPrintTheUsageTextAndExit1) {
    for (const refusal &r : refusals()) {
        for (const monitor &m : monitors) {
            const strings &args = m.listdriven ? r.listdriven : r.discovering;
            if (args == notapplicable) {
                continue;
            }
            SCOPED_TRACE(string(m.name) + " " + r.what + ":" + show(args));
            const string argv0 = argv0of(m);
            child c = run(program(m.name), args, 5000, {argv0.c_str()});
            EXPECT_EQ(exitstatus(c), 1);
            EXPECT_EQ(c.err, usagetext(m));
            EXPECT_EQ(c.out, "");
        }
    }
}

// ---- accepted ----

struct started {
    const monitor *m;
    strings args;
    child c;
};

TEST_F(Cmdline, UnitOptionChoosesTheHeaderByItsSecondCharacter) {
    struct unitcase {
        const char *option;
        const char *header;
    };
    const unitcase cases[] = {
        {"", bytesheader.c_str()},  {"-M", headers[0].c_str()},  {"-K", headers[1].c_str()}, {"-m", headers[3].c_str()},
        {"-k", headers[4].c_str()}, {"-kx", headers[4].c_str()}, {"-b", headers[5].c_str()},
    };
    // All runs at once: each takes one interval.
    std::vector<std::pair<const unitcase *, started>> runs;
    for (const unitcase &u : cases) {
        for (const monitor &m : monitors) {
            strings args = argsfor(m, u.option, {"1", "1"});
            runs.push_back({&u, {&m, args, start(program(m.name), args)}});
        }
    }
    for (auto &[u, r] : runs) {
        SCOPED_TRACE(string(r.m->name) + show(r.args));
        EXPECT_TRUE(finish(r.c, 5000));
        EXPECT_EQ(exitstatus(r.c), 0);
        EXPECT_EQ(r.c.err, "");
        ASSERT_EQ(strlen(u->header), 114u);
        // The report begins with the header: 114 characters and a newline.
        ASSERT_GE(r.c.out.size(), 115u);
        EXPECT_EQ(r.c.out.substr(0, 115), string(u->header) + "\n");
        const strings got = lines(r.c.out);
        EXPECT_EQ(count(got, u->header), 1);
        EXPECT_EQ(count(got, ""), 1);
        EXPECT_EQ(got.back(), "");
    }
}

TEST_F(Cmdline, NumbersEndAtTheFirstCharacterThatIsNoDigit) {
    // "1s 2x": one-second turns, two of them.
    std::vector<started> runs;
    for (const monitor &m : monitors) {
        strings args = argsfor(m, "", {"1s", "2x"});
        runs.push_back({&m, args, start(program(m.name), args)});
    }
    for (started &r : runs) {
        SCOPED_TRACE(string(r.m->name) + show(r.args));
        EXPECT_TRUE(finish(r.c, 6000));
        EXPECT_EQ(exitstatus(r.c), 0);
        EXPECT_EQ(r.c.err, "");
        const strings got = lines(r.c.out);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.front(), bytesheader);
        EXPECT_EQ(count(got, bytesheader), 2);
        EXPECT_EQ(count(got, ""), 2);
    }
}

// A count that is no number, or zero, runs without end; and the longest
// interval waits for its first report, never wrapped round to one that
// has passed.
TEST_F(Cmdline, CountThatIsNoNumberOrZeroRunsWithoutEndAndTheLongestIntervalWaits) {
    struct endless {
        const monitor *m;
        strings args;
    };
    std::vector<endless> cases;
    for (const monitor &m : monitors) {
        // The last: the longest interval, whose one report is 68 years
        // away, however wide the system's time_t.
        for (const strings &rest :
             {strings{"5", "-k"}, strings{"5", "abc"}, strings{"5", "0"}, strings{"5"}, strings{"2147483647", "1"}}) {
            cases.push_back({&m, argsfor(m, "", rest)});
        }
        if (m.listdriven) {
            // The second option is the interfaces argument here.
            cases.push_back({&m, {"-k", "-m", "5"}});
        }
    }
    std::vector<started> runs;
    const auto t0 = clk::now();
    for (const endless &e : cases) {
        runs.push_back({e.m, e.args, start(program(e.m->name), e.args)});
    }
    std::this_thread::sleep_until(t0 + std::chrono::milliseconds(1500));
    for (started &r : runs) {
        SCOPED_TRACE(string(r.m->name) + show(r.args));
        readreports(r.c, 1, 20);  // takes whatever was written so far
        EXPECT_FALSE(finish(r.c, 0)) << "ended by itself; status " << r.c.status;
        EXPECT_TRUE(WIFSIGNALED(r.c.status) && WTERMSIG(r.c.status) == SIGKILL);
        EXPECT_EQ(r.c.out, "");
        EXPECT_EQ(r.c.err, "");
    }
}

TEST_F(Cmdline, ThreeTurnsOneSecondApartThenExit0) {
    const auto t0 = clk::now();
    child c = start(program("zorvat2"), {"1", "3"});
    std::vector<double> at;
    for (int k = 1; k <= 3; ++k) {
        ASSERT_TRUE(readreports(c, k, 4000)) << "report " << k << " missing; so far:\n" << c.out;
        at.push_back(std::chrono::duration<double>(clk::now() - t0).count());
    }
    EXPECT_TRUE(finish(c, 3000));
    EXPECT_EQ(exitstatus(c), 0);
    EXPECT_EQ(c.err, "");
    // Nothing before the first header.
    EXPECT_EQ(c.out.substr(0, bytesheader.size() + 1), bytesheader + "\n");
    const strings got = lines(c.out);
    EXPECT_EQ(count(got, bytesheader), 3);
    EXPECT_EQ(count(got, ""), 3);
    EXPECT_EQ(got.back(), "");

    EXPECT_GT(at[0], 0.5);
    EXPECT_LT(at[0], 2.0);
    for (size_t k = 1; k < at.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_GT(at[k] - at[k - 1], 0.5);
        EXPECT_LT(at[k] - at[k - 1], 1.5);
    }
}

TEST_F(Cmdline, InterfacesArgumentHoldsUpTo256NamesOf31Characters) {
    // 255 names and a last one of 31 characters: the table's whole room.
    const string longname(31, 'n');
    string names;
    for (int i = 0; i < 255; ++i) {
        names += i % 2 ? "lo," : "lo ";
    }
    names += longname;
    child c = run(program("zorvat3"), {names, "1", "1"}, 5000);
    EXPECT_EQ(exitstatus(c), 0);
    EXPECT_EQ(c.err, "");
    const strings got = lines(c.out);
    // The header, 256 lines and the empty line.
    ASSERT_EQ(got.size(), 258u);
    EXPECT_EQ(got.front(), bytesheader);
    for (size_t i = 1; i <= 255; ++i) {
        ASSERT_EQ(got[i].substr(0, 9), "lo       ") << "line " << i;
    }
    EXPECT_EQ(got[256].substr(0, 32), longname + " ");
    EXPECT_EQ(got[257], "");
}

}  // namespace
