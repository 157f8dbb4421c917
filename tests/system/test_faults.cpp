// The built monitors under faults from outside: standard output that
// can't take the reports, a reader that goes away, a process stopped and
// continued, and a long run (memory and schedule).  Each test runs in a
// private network namespace of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/netns.h"
#include "tests/support/run.h"
#include "tests/support/text.h"

namespace {

using std::string;
using namespace std::chrono_literals;

// Read the standard output of several programs side by side until each
// has given `count` reports, or timeout_ms passes.  The moment each report
// arrived goes into at[i] for program i; onreport(i, k) is called as report
// k of program i arrives.
template <typename F>
void watch(std::vector<child> &kids, size_t count, int timeout_ms, std::vector<std::vector<clk::time_point>> &at,
           F onreport) {
    at.assign(kids.size(), {});
    const auto until = clk::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<size_t> who;
        for (size_t i = 0; i < kids.size(); ++i) {
            if (kids[i].outfd >= 0 && at[i].size() < count) {
                fds.push_back({kids[i].outfd, POLLIN, 0});
                who.push_back(i);
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - clk::now()).count();
        if (fds.empty() || left <= 0) {
            return;
        }
        if (poll(fds.data(), fds.size(), static_cast<int>(left)) <= 0) {
            continue;
        }
        const auto now = clk::now();
        for (size_t j = 0; j < fds.size(); ++j) {
            if (!fds[j].revents) {
                continue;
            }
            child &c = kids[who[j]];
            char buf[65536];
            ssize_t r = read(c.outfd, buf, sizeof buf);
            if (r <= 0) {
                close(c.outfd);
                c.outfd = -1;
                continue;
            }
            c.out.append(buf, static_cast<size_t>(r));
            for (size_t n = countreports(c.out); at[who[j]].size() < n;) {
                at[who[j]].push_back(now);
                onreport(who[j], at[who[j]].size());
            }
        }
    }
}

// The peak resident set of a running process in KiB (VmHWM), or -1.
long peakrss(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (string line; std::getline(in, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// One program run: its name and arguments.
struct runspec {
    const char *name;
    strings args;
};

string label(const runspec &r) {
    string s = r.name;
    for (const auto &a : r.args) {
        s += " '" + a + "'";
    }
    return s;
}

class Faults : public testing::Test {
   protected:
    void SetUp() override {
        ZV_ENTER_NETNS_OR_SKIP();
        netns::ip("link set lo up");
    }
};

// Reports that can't be written are lost: the first loss is said at once,
// the run still does all its turns, then fails instead of claiming
// success.  A run without end says it too, while it goes on.  Started with
// a standard descriptor closed, a program keeps its own descriptors off
// it: the reports are not written into a socket that took descriptor 1,
// and without standard error only the message is lost.
TEST_F(Faults, ReportsThatCannotBeWrittenMakeTheRunFail) {
    const string full = "write error: No space left on device\n";
    const string closed = "write error: Bad file descriptor\n";
    const struct {
        runspec run;
        how h;
        string err;
    } cases[] = {
        {{"zorvat3", {"lo", "1", "2"}}, {.stdoutpath = "/dev/full"}, full},
        {{"zorvat2", {"1", "2"}}, {.stdoutpath = "/dev/full"}, full},
        {{"zorvat", {"-k", "1", "2"}}, {.stdoutpath = "/dev/full"}, full},
        {{"zorvat3", {"lo", "1", "2"}}, {.closed = {1}}, closed},
        {{"zorvat2", {"1", "2"}}, {.closed = {1}}, closed},
        {{"zorvat3", {"lo", "1", "2"}}, {.stdoutpath = "/dev/full", .closed = {2}}, ""},
        {{"zorvat3", {"lo", "1"}}, {.stdoutpath = "/dev/full"}, full},
    };
    const auto t0 = clk::now();
    std::vector<child> kids;
    for (const auto &c : cases) {
        kids.push_back(start(program(c.run.name), c.run.args, c.h));
    }
    // The endless run: its message comes with its first report.
    child &endless = kids.back();
    while (endless.err.size() < full.size() && clk::now() - t0 < std::chrono::seconds(8)) {
        readreports(endless, 1, 100);  // reads its standard error meanwhile
    }
    EXPECT_EQ(endless.err, full);
    EXPECT_FALSE(finish(endless, 1500)) << "an endless run ended: " << describe(endless);

    std::vector<bool> ended;
    std::vector<double> took;
    for (size_t i = 0; i + 1 < kids.size(); ++i) {
        ended.push_back(finish(kids[i], 15000));
        took.push_back(seconds(clk::now() - t0));
    }
    for (size_t i = 0; i + 1 < std::size(cases); ++i) {
        SCOPED_TRACE(label(cases[i].run));
        child &c = kids[i];
        ASSERT_TRUE(ended[i]) << "still running after 15 s";
        EXPECT_EQ(exitstatus(c), 1) << describe(c);
        EXPECT_EQ(c.err, cases[i].err);
        EXPECT_EQ(c.out, "");
        EXPECT_GE(took[i], 1.9) << "ended before doing its turns";
    }
}

// A reader that goes away: with SIGPIPE's default action the next report
// ends the process by that signal; with SIGPIPE ignored (as services are
// often started) the next report ends it too, with status 1 and a message.
// No run goes on without end writing into a pipe nobody reads.
TEST_F(Faults, ReaderGoesAway) {
    const struct {
        runspec run;
        bool ignore;
        int signal;  // that ends it, or 0
        int status;  // exit status when no signal
        const char *err;
    } cases[] = {
        {{"zorvat3", {"lo", "1"}}, false, SIGPIPE, 0, ""},
        {{"zorvat2", {"1"}}, false, SIGPIPE, 0, ""},
        {{"zorvat", {"-b", "1"}}, false, SIGPIPE, 0, ""},
        {{"zorvat3", {"lo,lo", "1"}}, true, 0, 1, "write error: Broken pipe\n"},
        {{"zorvat2", {"1"}}, true, 0, 1, "write error: Broken pipe\n"},
    };
    std::vector<child> kids;
    for (const auto &t : cases) {
        kids.push_back(start(program(t.run.name), t.run.args, {.ignoresigpipe = t.ignore}));
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(label(cases[i].run));
        child &c = kids[i];
        EXPECT_TRUE(readreports(c, 1, 5000)) << "no first report; stdout: \"" << c.out << "\"";
        close(c.outfd);
        c.outfd = -1;
    }
    std::vector<bool> ended;
    for (child &c : kids) {
        ended.push_back(finish(c, 8000));
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto &t = cases[i];
        SCOPED_TRACE(label(t.run));
        child &c = kids[i];
        ASSERT_TRUE(ended[i]) << "still running 8 s after its reader went away";
        if (t.signal != 0) {
            EXPECT_TRUE(WIFSIGNALED(c.status) && WTERMSIG(c.status) == t.signal) << describe(c);
        } else {
            EXPECT_EQ(exitstatus(c), t.status) << describe(c);
        }
        EXPECT_EQ(c.err, t.err);
    }
}

// Stopped while it waits for the next turn and continued about three
// intervals later: the overdue report comes at once, and then the turns
// are an interval apart again.  The turns missed while stopped are not
// made up in a burst of reports with no time between them.
TEST_F(Faults, StopAndContinueGivesNoBurst) {
    child c = start(program("zorvat3"), {"lo", "1"});
    ASSERT_TRUE(readreports(c, 1, 5000)) << "no first report";
    // Well inside the wait for turn 2.
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(kill(c.pid, SIGSTOP), 0);
    std::this_thread::sleep_for(3200ms);
    const auto resumed = clk::now();
    ASSERT_EQ(kill(c.pid, SIGCONT), 0);

    // Reports 2 to 4, then the process is ended from outside, as an
    // endless run is.
    std::vector<clk::time_point> at;
    for (int k = 2; k <= 4 && readreports(c, k, 5000); ++k) {
        at.push_back(clk::now());
    }
    kill(c.pid, SIGTERM);
    finish(c, 5000);
    ASSERT_EQ(at.size(), 3u) << "stdout: \"" << c.out << "\"; " << describe(c);
    EXPECT_TRUE(WIFSIGNALED(c.status) && WTERMSIG(c.status) == SIGTERM) << describe(c);
    EXPECT_EQ(c.err, "");

    EXPECT_LT(seconds(at[0] - resumed), 0.5) << "the overdue report did not come at once";
    EXPECT_GE(seconds(at[1] - at[0]), 0.8) << "two reports back to back after continuing";
    EXPECT_GE(seconds(at[2] - at[1]), 0.8) << "reports not an interval apart";
    EXPECT_LT(seconds(at[2] - at[0]), 3.5) << "the schedule stalled after continuing";
}

// A run of many turns: the memory it holds does not grow from turn to
// turn, and turn k still comes k intervals after the start (the schedule
// does not drift).
TEST_F(Faults, LongRunKeepsMemoryAndSchedule) {
    constexpr int turns = 30;
    const std::vector<runspec> runs = {
        {"zorvat3", {"lo,lo,lo", "1", std::to_string(turns)}},
        {"zorvat2", {"-M", "1", std::to_string(turns)}},
    };
    const auto t0 = clk::now();
    std::vector<child> kids;
    for (const auto &r : runs) {
        kids.push_back(start(program(r.name), r.args));
    }
    // Peak RSS (KiB) of each after its third report and after its last
    // but one.
    std::vector<long> early(runs.size(), -1);
    std::vector<long> late(runs.size(), -1);
    std::vector<std::vector<clk::time_point>> at;
    watch(kids, turns, (turns + 5) * 1000, at, [&](size_t i, size_t k) {
        if (k == 3) {
            early[i] = peakrss(kids[i].pid);
        } else if (k == turns - 1) {
            late[i] = peakrss(kids[i].pid);
        }
    });
    std::vector<bool> ended;
    for (child &c : kids) {
        ended.push_back(finish(c, 10000));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(label(runs[i]));
        child &c = kids[i];
        ASSERT_TRUE(ended[i]) << "still running 10 s after its last report was due";
        EXPECT_EQ(exitstatus(c), 0) << describe(c);
        EXPECT_EQ(c.err, "");
        ASSERT_EQ(at[i].size(), static_cast<size_t>(turns)) << "stdout: \"" << c.out << "\"";

        // Clock readings are whole seconds, so a turn may begin up to a
        // second early; scheduling may make it late, but never by a
        // whole interval.
        for (int k = 1; k <= turns; ++k) {
            const double off = seconds(at[i][static_cast<size_t>(k - 1)] - t0) - k;
            if (off <= -1.0 || off >= 1.0) {
                ADD_FAILURE() << "report " << k << " came " << off
                              << " s off its time: " << (off < 0 ? "early" : "late, the schedule drifts");
                break;
            }
        }

        // Under an emulator the process is the emulator, whose own
        // translation caches grow; the program's memory can't be told
        // apart there, so only the schedule is checked.
        const char *emu = getenv("ZORVAT_EMULATOR");
        if (emu && *emu) {
            continue;
        }
        ASSERT_GT(early[i], 0) << "no VmHWM in /proc/" << c.pid << "/status";
        ASSERT_GT(late[i], 0);
        EXPECT_LE(late[i] - early[i], 64)
            << "peak RSS grew from " << early[i] << " KiB to " << late[i] << " KiB between turns 3 and " << turns - 1;
    }
}

// A slow reader on a non-blocking pipe that holds less than a report:
// each report still arrives whole, lines never spliced, none lost.
TEST_F(Faults, NonBlockingPipeWithASlowReaderGetsWholeReports) {
    string names;
    strings expected;
    for (int i = 0; i < 256; ++i) {
        const string n = string("n").append(std::to_string(i));
        names.append(n).append(" ");
        expected.push_back(rateline(n, unavailable()));
    }
    child c = start(program("zorvat3"), {names, "1", "3"}, {.nonblocking = true, .pipesize = 4096});
    // 16 KiB every 50 ms, about a second for the three reports of 29 KiB.
    const auto until = clk::now() + std::chrono::seconds(15);
    while (c.outfd >= 0 && clk::now() < until) {
        std::this_thread::sleep_for(50ms);
        char buf[16384];
        ssize_t n = read(c.outfd, buf, sizeof buf);
        if (n == 0) {
            close(c.outfd);
            c.outfd = -1;
        } else if (n > 0) {
            c.out.append(buf, static_cast<size_t>(n));
        }
    }
    for (const report &r : endedwell(c, 3, 5000)) {
        EXPECT_EQ(r.header, bytesheader);
        EXPECT_EQ(r.lines, expected);
    }
}

// A signal that ends a run from outside (a service manager's stop, Ctrl-C)
// while a report is leaving into a slow pipe: the report is finished, then
// the signal ends the process as it would have.  A reader that takes
// nothing more does not keep it from ending for long.
TEST_F(Faults, AnEndingSignalWaitsForTheReportThatIsLeaving) {
    string names;
    for (int i = 0; i < 256; ++i) {
        names.append("n").append(std::to_string(i)).append(" ");
    }
    const struct {
        int signal;
        bool reads;  // the reader goes on reading after the signal
    } cases[] = {{SIGTERM, true}, {SIGINT, true}, {SIGHUP, true}, {SIGQUIT, true}, {SIGTERM, false}};
    for (const auto &t : cases) {
        SCOPED_TRACE(string(strsignal(t.signal)) + (t.reads ? ", read" : ", not read"));
        // A report of 29 KiB through a pipe of 4 KiB, read at 50 KiB/s.
        child c = start(program("zorvat3"), {names, "1"}, {.pipesize = 4096, .limits = {"--core=0"}});
        auto sent = clk::time_point::max();
        const auto until = clk::now() + std::chrono::seconds(20);
        while (c.outfd >= 0 && clk::now() < until) {
            if (sent == clk::time_point::max() && c.out.size() > 10000 && countreports(c.out) == 0) {
                ASSERT_EQ(kill(c.pid, t.signal), 0);
                sent = clk::now();
            }
            if (sent != clk::time_point::max() && !t.reads) {
                break;
            }
            std::this_thread::sleep_for(20ms);
            char buf[1024];
            const ssize_t n = read(c.outfd, buf, sizeof buf);
            if (n <= 0) {
                close(c.outfd);
                c.outfd = -1;
            } else {
                c.out.append(buf, static_cast<size_t>(n));
            }
        }
        ASSERT_NE(sent, clk::time_point::max()) << "no report began; stdout: \"" << c.out << "\"";
        if (!t.reads) {
            // Ended, not yet reaped (finish reaps it).
            siginfo_t info{};
            while (waitid(P_PID, static_cast<id_t>(c.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == 0 && clk::now() - sent < std::chrono::seconds(5)) {
                std::this_thread::sleep_for(50ms);
            }
            EXPECT_LT(seconds(clk::now() - sent), 4.0) << "a reader that takes nothing kept it running";
        }
        finish(c, 10000);
        EXPECT_TRUE(WIFSIGNALED(c.status) && WTERMSIG(c.status) == t.signal) << describe(c);
        // An emulator says it passed the signal on; the program says nothing.
        if (!emulated() || c.err.rfind("qemu: ", 0) != 0) {
            EXPECT_EQ(c.err, "");
        }
        if (t.reads) {
            EXPECT_EQ(countreports(c.out), 1u);
            EXPECT_EQ(c.out.substr(c.out.size() - 2), "\n\n") << "the last report was cut";
        }
    }
}

// The programs in the sanitizer build reserve address space of their own.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

// Without memory or descriptors at start: the set-up step that failed says
// so with its reason and the status is 1; a run that gets going ends with
// 0.  Never a signal, whatever the limit.  The limits of address space
// step through the narrow band where the programs are loaded but their
// set-up may run short (below it the loader fails, exit status 127, and
// never at a limit above one at which the program ran).
TEST_F(Faults, LimitsAtStartEndInAMessageNeverInASignal) {
    if (emulated() || sanitized) {
        GTEST_SKIP() << "the limits would bind the emulator or the sanitizer, not the program";
    }
    // The limits that cross the band, in KiB.  Below the band the program
    // never runs: the loader can't map the C library (exit status 127), or
    // its own start-up dies of SIGSEGV (glibc 2.41's loader does not check
    // an allocation for its thread-local storage before it writes there).
    // The loader logs the moment it hands control to the program
    // (LD_DEBUG=files), so a run that failed is seen to have failed before
    // any of the program's code ran.  A static program needs less and has
    // no loader: its C library's own start-up fails alike, unlogged, and
    // its band is a page wide, so it is crossed a page at a time.
#ifdef ZORVAT_STATIC
    constexpr bool staticbuild = true;
    constexpr int lowkib = 768, highkib = 2048, stepkib = 4;
#else
    constexpr bool staticbuild = false;
    constexpr int lowkib = 2560, highkib = 5120, stepkib = 16;
#endif
    netns::vethpair();
    char logdir[] = "/tmp/zorvat-ldlog.XXXXXX";
    ASSERT_NE(mkdtemp(logdir), nullptr) << strerror(errno);
    const std::vector<runspec> programs = {{"zorvat2", {"1", "1"}}, {"zorvat3", {"lo,va", "1", "1"}}};
    struct limited {
        string limit;
        const runspec *run;
        child c;
        string log = {};  // the loader's log, LOG.PID
    };
    std::vector<limited> runs;
    for (const runspec &r : programs) {
        for (int kib = lowkib; kib <= highkib; kib += stepkib) {
            runs.push_back({"--as=" + std::to_string(kib * 1024), &r, {}});
        }
    }
    // The standard three and the kernel statistics' three (the statistics,
    // two subscriptions to link announcements): no socket for discovery.
    runs.push_back({"--nofile=6", &programs[0], {}});
    for (size_t i = 0; i < runs.size(); ++i) {
        limited &l = runs[i];
        // No core file of a run that dies in the loader.  The loader's log
        // of a run short of memory goes to a file of its own, shared with
        // prlimit's loader (not of a run short of descriptors: it holds one).
        strings env;
        if (!staticbuild && l.limit.starts_with("--as=")) {
            l.log = string(logdir) + "/" + std::to_string(i);
            env = {"LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + l.log};
        }
        l.c = start(program(l.run->name), l.run->args, {.limits = {l.limit, "--core=0"}, .env = env});
    }
    const std::vector<string> messages = {"can't open kstat control structure: Cannot allocate memory\n",
                                          "no memory: Cannot allocate memory\n", "SIOCGIFNUM: Cannot allocate memory\n",
                                          "SIOCGIFNUM: Too many open files\n"};
    std::map<int, int> seen;              // exit status, or minus the signal: runs
    std::map<const runspec *, bool> ran;  // at a lower limit
    for (limited &l : runs) {
        SCOPED_TRACE(l.limit + " " + label(*l.run));
        ASSERT_TRUE(finish(l.c, 20000));
        const int status = WIFSIGNALED(l.c.status) ? -WTERMSIG(l.c.status) : exitstatus(l.c);
        ++seen[status];
        if (status == 0 || status == 1) {
            ran[l.run] = true;
        }
        if (status == 0) {
            EXPECT_EQ(l.c.err, "");
            EXPECT_EQ(countreports(l.c.out), 1u);
        } else if (status == 1) {
            EXPECT_NE(std::find(messages.begin(), messages.end(), l.c.err), messages.end()) << l.c.err;
        } else {
            // The loader's own failure (a static program's C library's):
            // the program never ran.
            EXPECT_TRUE(status == 127 || status == -SIGSEGV) << describe(l.c);
            EXPECT_FALSE(ran[l.run]) << describe(l.c);
            EXPECT_EQ(l.c.out, "");
            if (!l.log.empty()) {
                std::ifstream in(l.log + "." + std::to_string(l.c.pid));
                std::stringstream loaderlog;
                loaderlog << in.rdbuf();
                EXPECT_NE(loaderlog.str(), "") << "the loader left no log";
                EXPECT_EQ(loaderlog.str().find("transferring control: " + program(l.run->name)), string::npos)
                    << "the loader handed over to the program, which then ended: " << describe(l.c);
            }
        }
    }
    std::filesystem::remove_all(logdir);
    // Every outcome was seen: the band was crossed.
    for (const auto &[status, n] : seen) {
        std::cout << "exit status " << status << ": " << n << " runs\n";
    }
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 1);
    EXPECT_GT(seen[127] + seen[-SIGSEGV], 0);
    EXPECT_EQ(runs.back().c.err, messages.back());
}

// Memory that runs short in the middle of a run, while many links are
// made that the run does not watch: a reading keeps the counters of the
// watched links only, in room made at start, so the figures go on.
TEST_F(Faults, NoMemoryMidRunTheFiguresGoOn) {
    if (emulated() || sanitized) {
        GTEST_SKIP() << "the limit would bind the emulator or the sanitizer, not the program";
    }
    std::vector<child> kids;
    kids.push_back(start(program("zorvat3"), {"lo", "1", "8"}));
    kids.push_back(start(program("zorvat2"), {"1", "8"}));
    for (child &c : kids) {
        ASSERT_TRUE(readreports(c, 1, 5000)) << describe(c);
        // No more address space than it holds now.
        std::ifstream in("/proc/" + std::to_string(c.pid) + "/status");
        long vmsize = -1;
        for (string line; std::getline(in, line);) {
            if (line.rfind("VmSize:", 0) == 0) {
                vmsize = std::strtol(line.c_str() + 7, nullptr, 10);
            }
        }
        ASSERT_GT(vmsize, 0);
        const rlimit lim{static_cast<rlim_t>(vmsize) * 1024, static_cast<rlim_t>(vmsize) * 1024};
        ASSERT_EQ(prlimit(c.pid, RLIMIT_AS, &lim, nullptr), 0) << strerror(errno);
    }
    string batch;
    for (int i = 0; i < 750; ++i) {
        const string n = std::to_string(i);
        batch.append("link add a").append(n).append(" type veth peer name b").append(n).append("\n");
    }
    netns::ipbatch(batch);
    // Traffic on lo in the next interval of both, which were started
    // together and sample within milliseconds of each other: each datagram
    // to a port where nothing listens, and the answer that it can't be
    // delivered, go out and come in once each.
    readreports(kids[0], 8, 100);
    const size_t next = countreports(kids[0].out) + 1;  // just made, once it is here
    for (child &c : kids) {
        ASSERT_TRUE(readreports(c, static_cast<int>(next), 5000)) << describe(c);
    }
    const size_t busy = next + 1;  // the report that holds the traffic, from 1
    ASSERT_LT(busy, 8u) << "the links took too long to make";
    netns::sendudp("127.0.0.1", "127.0.0.1", 50, 100);
    const strings quiet = {"0.0", "0.0", "0.0", "0.0", "0.0", "0"};
    for (child &c : kids) {
        const auto got = endedwell(c, 8, 10000);
        for (size_t k = 0; k < got.size(); ++k) {
            SCOPED_TRACE(got[k].lines.at(0));
            const strings w = words(got[k].lines.at(0));
            ASSERT_EQ(w.size(), LINEWORDS);
            const bool holds = k + 1 == busy;
            const strings packets(w.begin() + 3, w.begin() + 5);
            EXPECT_EQ(packets, holds ? (strings{"100.0", "100.0"}) : (strings{"0.0", "0.0"}));
            EXPECT_EQ(strings(w.begin() + 5, w.end()), holds ? strings(w.begin() + 5, w.end()) : quiet);
        }
    }
}

}  // namespace
