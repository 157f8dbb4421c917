// The built monitors under faults from outside: standard output that
// can't take the reports, a reader that goes away, a process stopped and
// continued, and a long run (memory and schedule).  Each test runs in a
// private network namespace of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/netns.h"
#include "tests/spawn.h"

extern char **environ;

namespace {

using std::string;
using strings = std::vector<string>;
using clk = std::chrono::steady_clock;
using namespace std::chrono_literals;

double seconds(clk::duration d) {
    return std::chrono::duration<double>(d).count();
}

// How a program's standard output and SIGPIPE are set up.
struct setup {
    const char *stdoutpath = nullptr;  // a file to write to; none: a pipe
    bool ignoresigpipe = false;        // else SIGPIPE has its default action
};

// Start a built program as spawn.h's start() does (under the emulator
// when one is named), with standard output as `how` says and standard
// error on a pipe.  The signal mask is empty and SIGPIPE's action is the
// default (or ignored), whatever the test runner left to this process.
child launch(const string &name, const strings &args, const setup &how = {}) {
    const string prog = program(name);
    strings words;
    const char *emu = getenv("ZORVAT_EMULATOR");
    if (emu && *emu) {
        words.emplace_back(emu);
    }
    words.push_back(prog);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    int out[2] = {-1, -1};
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0 || (!how.stdoutpath && pipe2(out, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (how.stdoutpath) {
        posix_spawn_file_actions_addopen(&fa, 1, how.stdoutpath, O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    }
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);

    // An ignored signal stays ignored in the new program; a default one
    // is set explicitly.
    posix_spawnattr_t at;
    posix_spawnattr_init(&at);
    sigset_t none;
    sigset_t pipeonly;
    sigemptyset(&none);
    sigemptyset(&pipeonly);
    sigaddset(&pipeonly, SIGPIPE);
    short flags = POSIX_SPAWN_SETSIGMASK;
    posix_spawnattr_setsigmask(&at, &none);
    struct sigaction old {};
    if (how.ignoresigpipe) {
        struct sigaction ign {};
        ign.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ign, &old);
    } else {
        flags |= POSIX_SPAWN_SETSIGDEF;
        posix_spawnattr_setsigdefault(&at, &pipeonly);
    }
    posix_spawnattr_setflags(&at, flags);

    child c;
    int rc = posix_spawn(&c.pid, words[0].c_str(), &fa, &at, argv.data(), environ);
    if (how.ignoresigpipe) {
        sigaction(SIGPIPE, &old, nullptr);
    }
    posix_spawnattr_destroy(&at);
    posix_spawn_file_actions_destroy(&fa);
    close(err[1]);
    if (out[1] >= 0) {
        close(out[1]);
    }
    if (rc != 0) {
        throw std::runtime_error("posix_spawn " + words[0] + ": " + strerror(rc));
    }
    c.outfd = out[0];
    c.errfd = err[0];
    return c;
}

size_t countreports(const string &s) {
    size_t n = 0;
    for (size_t p = s.find("\n\n"); p != string::npos; p = s.find("\n\n", p + 2)) {
        ++n;
    }
    return n;
}

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

string describe(const child &c) {
    std::ostringstream s;
    if (WIFEXITED(c.status)) {
        s << "exit status " << WEXITSTATUS(c.status);
    } else if (WIFSIGNALED(c.status)) {
        s << "signal " << WTERMSIG(c.status) << " (" << strsignal(WTERMSIG(c.status)) << ")";
    } else {
        s << "wait status " << c.status;
    }
    return s.str() + "; stderr: \"" + c.err + "\"";
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

// Reports that can't be written are lost: the run still does all its
// turns, then says so and fails instead of claiming success.
TEST_F(Faults, FullDeviceMakesTheRunFail) {
    const std::vector<runspec> runs = {
        {"zorvat3", {"lo", "1", "2"}},
        {"zorvat2", {"1", "2"}},
        {"zorvat", {"-k", "1", "2"}},
    };
    const auto t0 = clk::now();
    std::vector<child> kids;
    for (const auto &r : runs) {
        kids.push_back(launch(r.name, r.args, {"/dev/full", false}));
    }
    std::vector<bool> ended;
    std::vector<double> took;
    for (child &c : kids) {
        ended.push_back(finish(c, 15000));
        took.push_back(seconds(clk::now() - t0));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(label(runs[i]));
        child &c = kids[i];
        ASSERT_TRUE(ended[i]) << "still running after 15 s";
        EXPECT_EQ(exitstatus(c), 1) << describe(c);
        EXPECT_EQ(c.err, "write error: No space left on device\n");
        // Two turns of a second: clock readings are whole seconds, so the
        // first may come early, but not both.
        EXPECT_GE(took[i], 0.9) << "ended before doing its turns";
    }
}

// A reader that goes away: with SIGPIPE's default action the next report
// ends the process by that signal; with SIGPIPE ignored the lost reports
// make the run end with status 1 and a message once its turns are done.
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
        {{"zorvat3", {"lo,lo", "1", "3"}}, true, 0, 1, "write error: Broken pipe\n"},
        {{"zorvat2", {"1", "3"}}, true, 0, 1, "write error: Broken pipe\n"},
    };
    std::vector<child> kids;
    for (const auto &t : cases) {
        kids.push_back(launch(t.run.name, t.run.args, {nullptr, t.ignore}));
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
    child c = launch("zorvat3", {"lo", "1"});
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
        kids.push_back(launch(r.name, r.args));
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

}  // namespace
