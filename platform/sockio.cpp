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
#include <new>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// An interface as the requests report it: its name and its flags (a
// logical interface has those of its link).
struct listed {
    std::array<char, IFNAMSIZ> name;
    short flags;
};

struct link {
    int index;
    unsigned flags;
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
                links.push_back(link{ifi->ifi_index, ifi->ifi_flags, attrname(rta), {}});
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

// The interfaces in the kernel's order.  False, with errno set, when the
// kernel's tables can't be read or there is no memory for them.
bool ifnames(std::vector<listed> &names) {
    try {
        std::vector<link> links;
        if (!getlinks(links) || !addlabels(links)) {
            return false;
        }
        names.clear();
        auto add = [&names](const std::string &s, unsigned flags) {
            listed b{};
            s.copy(b.name.data(), b.name.size() - 1);
            b.flags = static_cast<short>(flags);
            names.push_back(b);
        };
        for (const link &l : links) {
            add(l.name, l.flags);
            for (const std::string &label : l.labels) {
                add(label, l.flags);
            }
        }
        return true;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
}

// The interfaces that the last count was taken from, and its socket.  The
// records that follow a count on the same socket are these, so the pair
// costs one look at the kernel's tables, not two; like the kernel's own
// pair of requests, an interface made in between is then not listed.
std::vector<listed> counted;
int countedon = -1;

// The interfaces the last records listed, and where the last flags request
// found its name.  The flags of a listed name come from the same look at
// the kernel's tables as the list, so that list and flags agree: a link
// deleted in between, or a label whose prefix names no link, still has
// its flags.
std::vector<listed> handedout;
int handedon = -1;
size_t lastasked;

const listed *findlisted(const char *name) {
    const size_t n = handedout.size();
    for (size_t k = 0; k < n; ++k) {
        // Discovery asks in list order: the next one is tried first.
        size_t i = (lastasked + 1 + k) % n;
        if (strncmp(handedout[i].name.data(), name, IFNAMSIZ) == 0) {
            lastasked = i;
            return &handedout[i];
        }
    }
    return nullptr;
}

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
    handedon = -1;
    if (fd == countedon) {
        handedout.swap(counted);
    } else if (!ifnames(handedout)) {
        handedout.clear();
        return -1;
    }
    handedon = fd;
    countedon = -1;
    counted.clear();
    size_t room = static_cast<size_t>(arg->ifc_len) / sizeof(struct ifreq);
    size_t n = std::min(room, handedout.size());
    handedout.resize(n);
    for (size_t i = 0; i < n; ++i) {
        struct ifreq &r = arg->ifc_req[i];
        memset(&r, 0, sizeof r);
        memcpy(r.ifr_name, handedout[i].name.data(), IFNAMSIZ);
    }
    arg->ifc_len = static_cast<int>(n * sizeof(struct ifreq));
    lastasked = n - 1;
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifreq *arg) {
    if (request == SIOCGIFFLAGS && fd == handedon) {
        if (const listed *l = findlisted(arg->ifr_name)) {
            arg->ifr_flags = l->flags;
            return 0;
        }
    }
    return ::ioctl(fd, request, static_cast<void *>(arg));
}
