#include "tests/spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char **environ;

#ifndef ZORVAT_BIN_DIR
#error "ZORVAT_BIN_DIR must name the folder of the built programs"
#endif

std::string program(const std::string &name) {
    return std::string(ZORVAT_BIN_DIR) + "/" + name;
}

child start(const std::string &prog, const std::vector<std::string> &args, const char *argv0) {
    std::vector<std::string> words;
    const char *emu = getenv("ZORVAT_EMULATOR");
    if (emu && *emu) {
        words.emplace_back(emu);
        if (argv0) {
            words.emplace_back("-0");
            words.emplace_back(argv0);
        }
        words.push_back(prog);
    } else {
        words.push_back(argv0 ? argv0 : prog);
    }
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    child c;
    std::string path = emu && *emu ? std::string(emu) : prog;
    int rc = posix_spawnp(&c.pid, path.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        throw std::runtime_error("posix_spawn " + path + ": " + strerror(rc));
    }
    c.outfd = out[0];
    c.errfd = err[0];
    return c;
}

namespace {

using clk = std::chrono::steady_clock;

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

size_t countreports(const std::string &s) {
    size_t n = 0;
    for (size_t p = s.find("\n\n"); p != std::string::npos; p = s.find("\n\n", p + 1)) {
        ++n;
    }
    return n;
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

child run(const std::string &prog, const std::vector<std::string> &args, int timeout_ms, const char *argv0) {
    child c = start(prog, args, argv0);
    finish(c, timeout_ms);
    return c;
}

int exitstatus(const child &c) {
    return WIFEXITED(c.status) ? WEXITSTATUS(c.status) : -1;
}
