#include "tests/support/netns.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

extern char **environ;

namespace {

// Full path of the ip command, or empty when there is none.
std::string findip() {
    std::string dirs;
    if (const char *path = getenv("PATH")) {
        dirs = path;
    }
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::istringstream in(dirs);
    for (std::string dir; std::getline(in, dir, ':');) {
        if (dir.empty()) {
            continue;
        }
        std::string p = dir + "/ip";
        if (access(p.c_str(), X_OK) == 0) {
            return p;
        }
    }
    return {};
}

const std::string &ippath() {
    static const std::string p = findip();
    return p;
}

// Write text to a file of /proc/sys; false with errno set on failure.
bool writesys(const char *path, const char *text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    auto len = static_cast<ssize_t>(strlen(text));
    bool ok = write(fd, text, static_cast<size_t>(len)) == len;
    int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

std::string syserror(const std::string &what) {
    return what + ": " + strerror(errno);
}

}  // namespace

namespace netns {

std::string enter() {
    if (ippath().empty()) {
        return "no ip command in PATH, /usr/sbin or /sbin: private network namespaces can't be set up";
    }
    if (unshare(CLONE_NEWNET) != 0) {
        return syserror("unshare(CLONE_NEWNET)") + " (needs root or CAP_SYS_ADMIN)";
    }
    // New links take their IPv6 setting from "default"; without IPv6 they
    // send no router solicitations or other traffic of their own.
    if (access("/proc/sys/net/ipv6", F_OK) == 0) {
        for (const char *p :
             {"/proc/sys/net/ipv6/conf/all/disable_ipv6", "/proc/sys/net/ipv6/conf/default/disable_ipv6"}) {
            if (!writesys(p, "1")) {
                return syserror(std::string("can't turn IPv6 off: ") + p);
            }
        }
    }
    return {};
}

void ip(const std::string &args) {
    std::vector<std::string> words{ippath()};
    std::istringstream in(args);
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    std::vector<char *> argv;
    for (auto &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error(syserror("pipe"));
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, out[1], 2);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        throw std::runtime_error("ip " + args + ": can't start " + ippath() + ": " + strerror(rc));
    }
    std::string text;
    char buf[4096];
    for (;;) {
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("command failed: ip " + args + "\n" + text);
    }
}

void ipbatch(const std::string &commands) {
    char path[] = "/tmp/zorvat-ipbatch.XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        throw std::runtime_error(syserror("mkstemp"));
    }
    bool ok = write(fd, commands.data(), commands.size()) == static_cast<ssize_t>(commands.size());
    close(fd);
    try {
        if (!ok) {
            throw std::runtime_error(syserror(std::string("write ") + path));
        }
        ip(std::string("-batch ") + path);
    } catch (...) {
        unlink(path);
        throw;
    }
    unlink(path);
}

std::string macaddress(const std::string &link) {
    int sd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sd < 0) {
        throw std::runtime_error(syserror("socket"));
    }
    ifreq ifr{};
    link.copy(ifr.ifr_name, sizeof ifr.ifr_name - 1);
    int rc = ::ioctl(sd, SIOCGIFHWADDR, &ifr);
    int saved = errno;
    close(sd);
    if (rc != 0) {
        errno = saved;
        throw std::runtime_error(syserror("SIOCGIFHWADDR " + link));
    }
    char text[18];
    const auto *a = reinterpret_cast<const unsigned char *>(ifr.ifr_hwaddr.sa_data);
    snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

void sendudp(const std::string &from, const std::string &to, int count, size_t payload) {
    sockaddr_in src{};
    sockaddr_in dst{};
    src.sin_family = AF_INET;
    dst.sin_family = AF_INET;
    dst.sin_port = htons(9);
    if (inet_pton(AF_INET, from.c_str(), &src.sin_addr) != 1 || inet_pton(AF_INET, to.c_str(), &dst.sin_addr) != 1) {
        throw std::runtime_error("sendudp: bad address " + from + " or " + to);
    }
    int sd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sd < 0) {
        throw std::runtime_error(syserror("socket"));
    }
    if (bind(sd, reinterpret_cast<const sockaddr *>(&src), sizeof src) != 0) {
        std::string why = syserror("bind " + from);
        close(sd);
        throw std::runtime_error(why);
    }
    const std::vector<char> data(payload, 'z');
    for (int i = 0; i < count; ++i) {
        ssize_t n = sendto(sd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr *>(&dst), sizeof dst);
        if (n != static_cast<ssize_t>(payload)) {
            std::string why = syserror("sendto " + to);
            close(sd);
            throw std::runtime_error(why);
        }
    }
    close(sd);
}

void vethpair() {
    ip("link add va index 10 type veth peer name vb index 11");
}

void wiredpair() {
    vethpair();
    ip("addr add 10.9.0.1/24 dev va");
    // The sender last: a veth that comes up after its peer can send at
    // once, one that comes up first only once the kernel has seen the
    // carrier come (it drops what is sent before).
    ip("link set vb up");
    ip("link set va up");
    ip("neigh add 10.9.0.2 lladdr " + macaddress("vb") + " nud permanent dev va");
}

namespace {

// The namespaces of otherpath(): this one and the other, as descriptors.
struct {
    int here = -1;
    int other = -1;
} two;

void maketwo() {
    if (two.other >= 0) {
        return;
    }
    two.here = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (two.here < 0 || unshare(CLONE_NEWNET) != 0) {
        throw std::runtime_error(syserror("a second network namespace"));
    }
    two.other = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (setns(two.here, CLONE_NEWNET) != 0 || two.other < 0) {
        throw std::runtime_error(syserror("back from the second network namespace"));
    }
}

std::string fdpath(int fd) {
    return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd);
}

}  // namespace

std::string otherpath() {
    maketwo();
    return fdpath(two.other);
}

std::string herepath() {
    maketwo();
    return fdpath(two.here);
}

void ipthere(const std::string &args) {
    maketwo();
    if (setns(two.other, CLONE_NEWNET) != 0) {
        throw std::runtime_error(syserror("into the second network namespace"));
    }
    try {
        ip(args);
    } catch (...) {
        (void)setns(two.here, CLONE_NEWNET);
        throw;
    }
    if (setns(two.here, CLONE_NEWNET) != 0) {
        throw std::runtime_error(syserror("back from the second network namespace"));
    }
}

std::array<uint64_t, 16> devcounters(const std::string &link) {
    std::ifstream in("/proc/self/net/dev");
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(':');
        const auto name = line.find_first_not_of(' ');
        if (colon == std::string::npos || line.substr(name, colon - name) != link) {
            continue;
        }
        std::istringstream fields(line.substr(colon + 1));
        std::array<uint64_t, 16> v{};
        for (auto &x : v) {
            fields >> x;
        }
        return v;
    }
    throw std::runtime_error("no link " + link + " in /proc/self/net/dev");
}

namespace {

// One byte through a pipe, within ten seconds; false when none came.
bool getbyte(int fd) {
    pollfd p{fd, POLLIN, 0};
    char c = 0;
    return poll(&p, 1, 10000) == 1 && read(fd, &c, 1) == 1 && c == '+';
}

void putbyte(int fd) {
    (void)!write(fd, "+", 1);
}

sockaddr_in port9(const std::string &addr) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(9);
    if (inet_pton(AF_INET, addr.c_str(), &a.sin_addr) != 1) {
        throw std::runtime_error("bad address " + addr);
    }
    return a;
}

// The sink's side: its own namespace, the link, a listener; then take in
// one connection's bytes.
[[noreturn]] void sinkmain(int up, int down, const std::string &link, const std::string &addr) {
    try {
        if (unshare(CLONE_NEWNET) != 0) {
            _exit(1);
        }
        putbyte(up);  // ready for the link
        if (!getbyte(down)) {
            _exit(1);
        }
        ip("link set lo up");
        ip("addr add " + addr + "/24 dev " + link);
        ip("link set " + link + " up");
        int ls = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a = port9(addr);
        if (ls < 0 || bind(ls, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(ls, 1) != 0) {
            _exit(1);
        }
        putbyte(up);  // listening
        int s = accept(ls, nullptr, nullptr);
        static char buf[1 << 20];
        while (s >= 0 && read(s, buf, sizeof buf) > 0) {
        }
        // The namespace, and with it the link and its peer, stays until
        // the test lets it go.
        char c = 0;
        while (read(down, &c, 1) > 0) {
        }
        _exit(0);
    } catch (...) {
        _exit(1);
    }
}

}  // namespace

sink tcpsink(const std::string &link, const std::string &addr) {
    int up[2];
    int down[2];
    if (pipe2(up, O_CLOEXEC) != 0 || pipe2(down, O_CLOEXEC) != 0) {
        throw std::runtime_error(syserror("pipe"));
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(down[1]);
        sinkmain(up[1], down[0], link, addr);
    }
    close(up[1]);
    close(down[0]);
    bool ok = pid > 0 && getbyte(up[0]);
    if (ok) {
        ip("link set " + link + " netns " + std::to_string(pid));
        putbyte(down[1]);
        ok = getbyte(up[0]);
    }
    close(up[0]);
    netns::sink s{pid, down[1]};
    if (!ok) {
        endsink(s);
        throw std::runtime_error("the TCP sink behind " + link + " could not be set up");
    }
    return s;
}

void endsink(netns::sink &s) {
    if (s.hold >= 0) {
        close(s.hold);
        s.hold = -1;
    }
    if (s.pid > 0) {
        kill(s.pid, SIGTERM);
        waitpid(s.pid, nullptr, 0);
        s.pid = -1;
    }
}

uint64_t tcpsend(const std::string &to, uint64_t bytes, double seconds) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = port9(to);
    if (s < 0 || connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::string why = syserror("connect to " + to);
        if (s >= 0) {
            close(s);
        }
        throw std::runtime_error(why);
    }
    static const std::vector<char> data(1 << 20, 'z');
    timespec t0{};
    clock_gettime(CLOCK_MONOTONIC, &t0);
    uint64_t sent = 0;
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        double took = static_cast<double>(now.tv_sec - t0.tv_sec) + static_cast<double>(now.tv_nsec - t0.tv_nsec) / 1e9;
        if (sent >= bytes || took >= seconds) {
            break;
        }
        size_t n = static_cast<size_t>(std::min<uint64_t>(data.size(), bytes - sent));
        ssize_t w = send(s, data.data(), n, MSG_NOSIGNAL);
        if (w < 0 && errno != EINTR) {
            std::string why = syserror("send to " + to);
            close(s);
            throw std::runtime_error(why);
        }
        sent += static_cast<uint64_t>(std::max<ssize_t>(w, 0));
    }
    close(s);
    return sent;
}

}  // namespace netns
