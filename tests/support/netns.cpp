#include "tests/netns.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

}  // namespace netns
