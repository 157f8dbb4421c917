// The Linux stand-in for the interface requests of discovery.
//
// The links come from if_nameindex(), the logical interfaces from one
// rtnetlink dump of the IPv4 addresses; both work the same under user-mode
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
#include <vector>

namespace {

using ifnamebuf = std::array<char, IFNAMSIZ>;

struct link {
    unsigned index;
    std::string name;
    std::vector<std::string> labels;  // logical interfaces, kernel order
};

// Append to each link the IPv4 address labels that name a logical
// interface of it.  False, with errno set, when the dump fails.
bool addlabels(std::vector<link> &links) {
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return false;
    }
    struct {
        nlmsghdr nh;
        ifaddrmsg ifa;
    } req{};
    req.nh.nlmsg_len = sizeof req;
    req.nh.nlmsg_type = RTM_GETADDR;
    req.nh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.nh.nlmsg_seq = 1;
    req.ifa.ifa_family = AF_INET;
    if (send(fd, &req, sizeof req, 0) < 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return false;
    }

    alignas(nlmsghdr) static char buf[65536];  // more than the kernel puts in one dump reply
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            int saved = n < 0 ? errno : EIO;
            close(fd);
            errno = saved;
            return false;
        }
        auto len = static_cast<unsigned>(n);
        for (auto *nh = reinterpret_cast<nlmsghdr *>(buf); NLMSG_OK(nh, len); nh = NLMSG_NEXT(nh, len)) {
            if (nh->nlmsg_type == NLMSG_DONE) {
                close(fd);
                return true;
            }
            if (nh->nlmsg_type == NLMSG_ERROR) {
                const auto *err = static_cast<const nlmsgerr *>(NLMSG_DATA(nh));
                close(fd);
                errno = err->error ? -err->error : EIO;
                return false;
            }
            if (nh->nlmsg_type != RTM_NEWADDR) {
                continue;
            }
            auto *ifa = static_cast<ifaddrmsg *>(NLMSG_DATA(nh));
            auto alen = static_cast<unsigned>(IFA_PAYLOAD(nh));
            for (auto *rta = IFA_RTA(ifa); RTA_OK(rta, alen); rta = RTA_NEXT(rta, alen)) {
                if (rta->rta_type != IFA_LABEL) {
                    continue;
                }
                const auto *text = static_cast<const char *>(RTA_DATA(rta));
                std::string label(text, strnlen(text, RTA_PAYLOAD(rta)));
                if (label.find(':') == std::string::npos) {
                    continue;
                }
                auto it = std::find_if(links.begin(), links.end(),
                                       [&](const link &l) { return l.index == ifa->ifa_index; });
                if (it != links.end() &&
                    std::find(it->labels.begin(), it->labels.end(), label) == it->labels.end()) {
                    it->labels.push_back(label);
                }
            }
        }
    }
}

// The interface names in the kernel's order.  False, with errno set, when
// the kernel's tables can't be read.
bool ifnames(std::vector<ifnamebuf> &names) {
    struct if_nameindex *ni = if_nameindex();
    if (!ni) {
        return false;
    }
    std::vector<link> links;
    for (struct if_nameindex *p = ni; p->if_index != 0; ++p) {
        links.push_back(link{p->if_index, p->if_name, {}});
    }
    if_freenameindex(ni);
    std::sort(links.begin(), links.end(), [](const link &a, const link &b) { return a.index < b.index; });
    if (!addlabels(links)) {
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

}  // namespace

int ioctl(int fd, unsigned long request, int *arg) {
    if (request != SIOCGIFNUM) {
        return ::ioctl(fd, request, static_cast<void *>(arg));
    }
    // On Solaris the request fails on a descriptor that is no socket.
    int type = 0;
    socklen_t tlen = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &tlen) < 0) {
        return -1;
    }
    std::vector<ifnamebuf> names;
    if (!ifnames(names)) {
        return -1;
    }
    *arg = static_cast<int>(names.size());
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifconf *arg) {
    if (request != SIOCGIFCONF && request != O_SIOCGIFCONF) {
        return ::ioctl(fd, request, static_cast<void *>(arg));
    }
    int type = 0;
    socklen_t tlen = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &tlen) < 0) {
        return -1;
    }
    if (arg->ifc_len < 0) {
        errno = EINVAL;
        return -1;
    }
    std::vector<ifnamebuf> names;
    if (!ifnames(names)) {
        return -1;
    }
    size_t room = static_cast<size_t>(arg->ifc_len) / sizeof(struct ifreq);
    size_t n = std::min(room, names.size());
    for (size_t i = 0; i < n; ++i) {
        struct ifreq &r = arg->ifc_req[i];
        memset(&r, 0, sizeof r);
        memcpy(r.ifr_name, names[i].data(), IFNAMSIZ);
    }
    arg->ifc_len = static_cast<int>(n * sizeof(struct ifreq));
    return 0;
}

int ioctl(int fd, unsigned long request, struct ifreq *arg) {
    return ::ioctl(fd, request, static_cast<void *>(arg));
}
