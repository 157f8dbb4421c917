#include "tests/support/run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tests/support/text.h"

extern char **environ;

#ifndef ZORVAT_BIN_DIR
#error "ZORVAT_BIN_DIR must name the folder of the built programs"
#endif

double seconds(clk::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string program(const std::string &name) {
    return std::string(ZORVAT_BIN_DIR) + "/" + name;
}

bool emulated() {
    const char *emu = getenv("ZORVAT_EMULATOR");
    return emu && *emu;
}

child start(const std::string &prog, const strings &args, const how &h) {
    // The command: the program, or the emulator and the program, behind
    // prlimit when limits are asked for (which then runs it under its own
    // path, whatever argv0 says).
    strings words;
    std::string path = prog;
    if (!h.limits.empty()) {
        words.emplace_back("prlimit");
        words.insert(words.end(), h.limits.begin(), h.limits.end());
        words.emplace_back("--");
        path = "prlimit";
    }
    if (emulated()) {
        if (words.empty()) {
            path = getenv("ZORVAT_EMULATOR");
        }
        words.emplace_back(getenv("ZORVAT_EMULATOR"));
        // The emulator's command line ends with the target's loader
        // (cmake/cross-linux-gnu.cmake), which names the program so.
        if (h.argv0) {
            words.emplace_back("--argv0");
            words.emplace_back(h.argv0);
        }
        words.push_back(prog);
    } else {
        words.emplace_back(h.argv0 && words.empty() ? h.argv0 : prog);
    }
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    int out[2] = {-1, -1};
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0 || (!h.stdoutpath && pipe2(out, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe");
    }
    if (h.pipesize > 0) {
        fcntl(out[1], F_SETPIPE_SZ, h.pipesize);
    }
    if (h.nonblocking) {
        fcntl(out[1], F_SETFL, O_NONBLOCK);
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (h.stdoutpath) {
        posix_spawn_file_actions_addopen(&fa, 1, h.stdoutpath, O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    }
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    for (int fd : h.closed) {
        posix_spawn_file_actions_addclose(&fa, fd);
    }
    // Nothing else: descriptors that the test runner left open would take
    // the program's first numbers.
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);

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
    if (h.ignoresigpipe) {
        struct sigaction ign {};
        ign.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ign, &old);
    } else {
        flags |= POSIX_SPAWN_SETSIGDEF;
        posix_spawnattr_setsigdefault(&at, &pipeonly);
    }
    posix_spawnattr_setflags(&at, flags);

    std::vector<char *> envp;
    for (char **e = environ; *e; ++e) {
        envp.push_back(*e);
    }
    strings env = h.env;
    for (auto &e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    child c;
    int rc = posix_spawnp(&c.pid, path.c_str(), &fa, &at, argv.data(), envp.data());
    if (h.ignoresigpipe) {
        sigaction(SIGPIPE, &old, nullptr);
    }
    posix_spawnattr_destroy(&at);
    posix_spawn_file_actions_destroy(&fa);
    close(err[1]);
    if (out[1] >= 0) {
        close(out[1]);
    }
    if (rc != 0) {
        throw std::runtime_error("posix_spawn " + path + ": " + strerror(rc));
    }
    c.outfd = out[0];
    c.errfd = err[0];
    return c;
}

namespace {

// Read what is there within the time left; false when the time is up or
// both pipes are closed.
bool pump(child &c, clk::time_point until) {
    pollfd fds[2] = {{c.outfd, POLLIN, 0}, {c.errfd, POLLIN, 0}};
    if (c.outfd < 0 && c.errfd < 0) {
        return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - clk::now()).count();
    if (left <= 0) {
        return false;
    }
    int n = poll(fds, 2, static_cast<int>(left));
    if (n <= 0) {
        return n < 0;
    }
    char buf[65536];
    int *fd[2] = {&c.outfd, &c.errfd};
    std::string *to[2] = {&c.out, &c.err};
    for (int i = 0; i < 2; ++i) {
        if (*fd[i] >= 0 && fds[i].revents) {
            ssize_t r = read(*fd[i], buf, sizeof buf);
            if (r > 0 && to[i]->size() + static_cast<size_t>(r) > OUTPUTMAX) {
                ADD_FAILURE() << "more than " << OUTPUTMAX << " bytes of output: the program is killed";
                kill(c.pid, SIGKILL);
                r = 0;
            }
            if (r > 0) {
                to[i]->append(buf, static_cast<size_t>(r));
            } else {
                close(*fd[i]);
                *fd[i] = -1;
            }
        }
    }
    return true;
}

}  // namespace

bool readreports(child &c, int reports, int timeout_ms) {
    auto until = clk::now() + std::chrono::milliseconds(timeout_ms);
    while (countreports(c.out) < static_cast<size_t>(reports)) {
        if (!pump(c, until)) {
            return countreports(c.out) >= static_cast<size_t>(reports);
        }
    }
    return true;
}

bool finish(child &c, int timeout_ms) {
    auto until = clk::now() + std::chrono::milliseconds(timeout_ms);
    while (c.outfd >= 0 || c.errfd >= 0) {
        if (!pump(c, until) && clk::now() >= until) {
            break;
        }
    }
    // The pipes close a moment before the process is gone.
    bool ended = false;
    do {
        if (waitpid(c.pid, &c.status, WNOHANG) == c.pid) {
            ended = true;
            break;
        }
        usleep(1000);
    } while (clk::now() < until);
    if (!ended) {
        kill(c.pid, SIGKILL);
        waitpid(c.pid, &c.status, 0);
    }
    for (int *fd : {&c.outfd, &c.errfd}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    return ended;
}

child run(const std::string &prog, const strings &args, int timeout_ms, const how &h) {
    child c = start(prog, args, h);
    finish(c, timeout_ms);
    return c;
}

int exitstatus(const child &c) {
    return WIFEXITED(c.status) ? WEXITSTATUS(c.status) : -1;
}

std::vector<report> endedwell(child &c, size_t count, int timeout_ms) {
    EXPECT_TRUE(finish(c, timeout_ms)) << "still running after " << timeout_ms << " ms";
    EXPECT_EQ(exitstatus(c), 0) << describe(c);
    EXPECT_EQ(c.err, "");
    std::vector<report> got = reportsof(c.out);
    EXPECT_EQ(got.size(), count) << c.out;
    if (got.size() != count) {
        got.clear();
    }
    return got;
}

std::string describe(const child &c) {
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
