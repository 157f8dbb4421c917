// The Linux stand-in for the interface requests of discovery.
//
// The links and the logical interfaces come from two rtnetlink dumps, of
// the links and of the IPv4 addresses; both work the same under user-mode
// emulation of another processor.
#include "platform/sockio.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using ifnamebuf = std::array<char, IFNAMSIZ>;

struct link {
    int index;
    std::string name;
    std::vector<std::string> labels;  // logical interfaces, kernel order
};

// The value of an attribute that holds a name.
std::string attrname(const rtattr *rta) {
    const auto *text = static_cast<const char *>(RTA_DATA(rta));
    return {text, strnlen(text, RTA_PAYLOAD(rta))};
}

// Ask the kernel for a dump of one table (RTM_GETLINK or RTM_GETADDR) and
// hand every message of it to take().  False, with errno set, when the
// dump fails.
template <typename header, typename handler>
bool dump(int type, handler take) {
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return false;
    }
    struct {
        nlmsghdr nh;
        header h;
    } req{};
    req.nh.nlmsg_len = sizeof req;
    req.nh.nlmsg_type = static_cast<unsigned short>(type);
    req.nh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.nh.nlmsg_seq = 1;
    if constexpr (std::is_same_v<header, ifaddrmsg>) {
        req.h.ifa_family = AF_INET;
    }
    bool ok = send(fd, &req, sizeof req, 0) >= 0;

    // More than the kernel puts in one reply of a dump.
    alignas(nlmsghdr) static char buf[65536];
    bool done = false;
    while (ok && !done) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            ok = false;
            break;
        }
        auto len = static_cast<unsigned>(n);
        for (auto *nh = reinterpret_cast<nlmsghdr *>(buf); NLMSG_OK(nh, len); nh = NLMSG_NEXT(nh, len)) {
            if (nh->nlmsg_type == NLMSG_DONE) {
                done = true;
                break;
            }
            if (nh->nlmsg_type == NLMSG_ERROR) {
                const auto *err = static_cast<const nlmsgerr *>(NLMSG_DATA(nh));
                errno = err->error ? -err->error : EIO;
                ok = false;
                break;
            }
            take(nh);
        }
    }
    int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

// Every link, by index.
bool getlinks(std::vector<link> &links) {
    links.clear();
    bool ok = dump<ifinfomsg>(RTM_GETLINK, [&links](nlmsghdr *nh) {
        if (nh->nlmsg_type != RTM_NEWLINK) {
            return;
        }
        auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(nh));
        auto len = static_cast<unsigned>(IFLA_PAYLOAD(nh));
        for (auto *rta = IFLA_RTA(ifi); RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
            if (rta->rta_type == IFLA_IFNAME) {
                links.push_back(link{ifi->ifi_index, attrname(rta), {}});
                break;
            }
        }
    });
    std::sort(links.begin(), links.end(), [](const link &a, const link &b) { return a.index < b.index; });
    return ok;
}

// Append to each link its IPv4 address labels that name a logical
// interface, each once.
bool addlabels(std::vector<link> &links) {
    return dump<ifaddrmsg>(RTM_GETADDR, [&links](nlmsghdr *nh) {
        if (nh->nlmsg_type != RTM_NEWADDR) {
            return;
        }
        auto *ifa = static_cast<ifaddrmsg *>(NLMSG_DATA(nh));
        auto len = static_cast<unsigned>(IFA_PAYLOAD(nh));
        for (auto *rta = IFA_RTA(ifa); RTA_OK(rta, len); rta = RTA_NEXT(rta, len)) {
            if (rta->rta_type != IFA_LABEL) {
                continue;
            }
            std::string label = attrname(rta);
            auto it = std::lower_bound(links.begin(), links.end(), static_cast<int>(ifa->ifa_index),
                                       [](const link &l, int index) { return l.index < index; });
            if (label.find(':') != std::string::npos && it != links.end() &&
                it->index == static_cast<int>(ifa->ifa_index) &&
                std::find(it->labels.begin(), it->labels.end(), label) == it->labels.end()) {
                it->labels.push_back(label);
            }
        }
    });
}

// The interface names in the kernel's order.  False, with errno set, when
// the kernel's tables can't be read.
bool ifnames(std::vector<ifnamebuf> &names) {
    std::vector<link> links;
    if (!getlinks(links) || !addlabels(links)) {
        return false;
    }
    names.clear();
    auto add = [&names](const std::string &s) {
        ifnamebuf b{};
        s.copy(b.data(), b.size() - 1);
        names.push_back(b);
    };
    for (const link &l : links) {
        add(l.name);
        for (const std::string &label : l.labels) {
            add(label);
        }
    }
    return true;
}

// The names that the last count was taken from, and its socket.  The
// records that follow a count on the same socket are these, so the pair
// costs one look at the kernel's tables, not two; like the kernel's own
// pair of requests, an interface made in between is then not listed.
std::vector<ifnamebuf> counted;
int countedon = -1;

// Requests fail on a descriptor that is no socket.
bool issocket(int fd) {
    int type = 0;
    socklen_t tlen = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &tlen) == 0;
}

}  // namespace

int ioctl(int fd, unsigned long request, int *arg) {
    if (request != SIOCGIFNUM) {
        return ::ioctl(fd, request, static_cast<void *>(arg));
    }
    countedon = -1;
    if (!issocket(fd) || !ifnames(counted)) {
        return -1;
    }
    countedon = fd;
    *arg = static_cast<int>(counted.size());
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifconf *arg) {
    if (request != SIOCGIFCONF && request != O_SIOCGIFCONF) {
        return ::ioctl(fd, request, static_cast<void *>(arg));
    }
    if (!issocket(fd)) {
        return -1;
    }
    if (arg->ifc_len < 0) {
        errno = EINVAL;
        return -1;
    }
    std::vector<ifnamebuf> fresh;
    const std::vector<ifnamebuf> *names = &counted;
    if (fd != countedon) {
        if (!ifnames(fresh)) {
            return -1;
        }
        names = &fresh;
    }
    countedon = -1;
    size_t room = static_cast<size_t>(arg->ifc_len) / sizeof(struct ifreq);
    size_t n = std::min(room, names->size());
    for (size_t i = 0; i < n; ++i) {
        struct ifreq &r = arg->ifc_req[i];
        memset(&r, 0, sizeof r);
        memcpy(r.ifr_name, (*names)[i].data(), IFNAMSIZ);
    }
    arg->ifc_len = static_cast<int>(n * sizeof(struct ifreq));
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifreq *arg) {
    return ::ioctl(fd, request, static_cast<void *>(arg));
}
