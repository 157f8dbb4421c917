#include "platform/linux/links.h"

#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/nlsys.h"
#include "platform/linux/rtnl.h"

bool parselink(const nlmsghdr *nh, size_t len, linkchange *n) {
    if ((nh->nlmsg_type != RTM_NEWLINK && nh->nlmsg_type != RTM_DELLINK) || len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return false;
    }
    const auto *ifi = static_cast<const ifinfomsg *>(NLMSG_DATA(nh));
    if (ifi->ifi_family != AF_UNSPEC) {
        return false;
    }
    *n = linkchange{};
    n->link.index = ifi->ifi_index;
    n->link.flags = ifi->ifi_flags;
    n->gone = nh->nlmsg_type == RTM_DELLINK;
    n->whole = len >= nh->nlmsg_len;
    // Of a message cut short, the attributes within the bytes received.
    size_t rest = 0;
    for (const rtattr *rta = rtnl_attrs(nh, len, sizeof(ifinfomsg), &rest); rtnl_attrok(rta, rest);
         rta = rtnl_attrnext(rta, &rest)) {
        switch (rtnl_attrtype(rta)) {
        case IFLA_IFNAME: {
            const auto *text = static_cast<const char *>(RTA_DATA(rta));
            memset(n->link.name, 0, sizeof n->link.name);
            memcpy(n->link.name, text, strnlen(text, std::min<size_t>(RTA_PAYLOAD(rta), sizeof n->link.name - 1)));
            break;
        }
        case IFLA_STATS64:
            n->stats = RTA_PAYLOAD(rta) >= sizeof(rtnl_link_stats64) ? rta : nullptr;
            break;
        case IFLA_PROP_LIST:
            n->alts = static_cast<const rtattr *>(RTA_DATA(rta));
            n->altslen = RTA_PAYLOAD(rta);
            break;
        default:
            break;
        }
    }
    return n->link.name[0] != '\0';
}

bool linkcounts(const linkchange &n, linkcounters *c) {
    if (!n.stats) {
        return false;
    }
    rtnl_link_stats64 s{};
    memcpy(&s, RTA_DATA(n.stats), sizeof s);
    *c = countersof(s);
    return true;
}

const char *linkalt(const linkchange &n, size_t *at) {
    while (n.alts && *at < n.altslen) {
        size_t rest = n.altslen - *at;
        const auto *rta = reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(n.alts) + *at);
        if (!rtnl_attrok(rta, rest)) {
            break;
        }
        *at += RTA_ALIGN(rta->rta_len);
        const auto *text = static_cast<const char *>(RTA_DATA(rta));
        if (rtnl_attrtype(rta) == IFLA_ALT_IFNAME && RTA_PAYLOAD(rta) > 0 && memchr(text, '\0', RTA_PAYLOAD(rta)) &&
            text[0] != '\0') {
            return text;
        }
    }
    return nullptr;
}

int linkwatch() {
    const int fd = rtnl_socket(RTMGRP_LINK);
    // Room for a burst of announcements between two readings: each takes
    // about 2.3 KiB of it (link churn on a host of containers brings some
    // thousands a second).  The kernel doubles what it is given.
    if (fd >= 0) {
        (void)nlsys_setroom(fd, 8 << 20, true);
    }
    return fd;
}

namespace {

struct watching {
    void (*seen)(const linkchange &, void *);
    void *arg;
    bool (*wanted)(const linkchange &, void *);
    bool lost;
};

bool announced(const nlmsghdr *nh, size_t len, void *arg) {
    auto *w = static_cast<watching *>(arg);
    linkchange c{};
    if (!parselink(nh, len, &c)) {
        // One cut short before its name can't be told from one that
        // matters.  (User-mode emulation of another processor translates
        // no message it has only part of.)
        w->lost = w->lost || len < nh->nlmsg_len;
        return true;
    }
    if (w->wanted && !w->wanted(c, w->arg)) {
        return true;
    }
    if (!c.whole) {
        w->lost = true;
        return true;
    }
    w->seen(c, w->arg);
    return true;
}

}  // namespace

bool linknews(int fd, void (*seen)(const linkchange &, void *), void *arg, bool (*wanted)(const linkchange &, void *)) {
    watching w{seen, arg, wanted, false};
    rtnl_take t;
    const bool ok = rtnl_receive(fd, &t, announced, &w);
    return ok && !t.lost && !w.lost;
}

namespace {

struct looking {
    const char *(*name)(size_t, void *);
    void (*found)(size_t, const linkchange *, void *);
    void *arg;
};

size_t linkrequest(size_t i, nlmsghdr *room, void *arg) {
    const auto *l = static_cast<const looking *>(arg);
    room->nlmsg_type = RTM_GETLINK;
    auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(room));
    ifi->ifi_family = AF_UNSPEC;
    auto *rta = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(room) + NLMSG_SPACE(sizeof(ifinfomsg)));
    const char *name = l->name(i, l->arg);
    const size_t n = strnlen(name, IFNAMSIZ - 1);
    rta->rta_type = IFLA_IFNAME;
    rta->rta_len = static_cast<unsigned short>(RTA_LENGTH(n + 1));
    memcpy(RTA_DATA(rta), name, n);
    return NLMSG_SPACE(sizeof(ifinfomsg)) + RTA_SPACE(n + 1);
}

void linkanswer(size_t i, const nlmsghdr *nh, size_t len, void *arg) {
    const auto *l = static_cast<const looking *>(arg);
    linkchange c{};
    if (!nh) {
        l->found(i, nullptr, l->arg);
    } else if (parselink(nh, len, &c)) {
        l->found(i, &c, l->arg);
    }
}

}  // namespace

bool asklinks(int fd, size_t m, const char *(*name)(size_t, void *), void (*found)(size_t, const linkchange *, void *),
              void *arg) {
    // An answer takes 2.3 to 2.7 KiB of the receive buffer (a link with
    // many alternative names more: its answer may find no room).
    looking l{name, found, arg};
    return rtnl_ask(fd, m, 4096, linkrequest, linkanswer, &l);
}

void linktell(binding *b, const linkchange &ch) {
    linkcounters at{};
    const bool counted = linkcounts(ch, &at);
    if (ch.gone) {
        linkgone(b, ch.link.index, counted ? &at : nullptr);
        return;
    }
    linkbegin(b, ch.link.index, ch.link.name, counted ? &at : nullptr);
    size_t pos = 0;
    for (const char *alt; (alt = linkalt(ch, &pos));) {
        linkalso(b, alt);
    }
    linkend(b);
}

namespace {

void tell(const linkchange &ch, void *arg) {
    linktell(static_cast<binding *>(arg), ch);
}

// An announcement of a link that bears a name, or that names one: the
// others change nothing, and their counters are not read.
bool matters(const linkchange &ch, void *arg) {
    const auto *b = static_cast<const binding *>(arg);
    if (bindbound(b, ch.link.index) || bindfind(b, ch.link.name) >= 0) {
        return true;
    }
    size_t pos = 0;
    for (const char *alt; (alt = linkalt(ch, &pos));) {
        if (bindfind(b, alt) >= 0) {
            return true;
        }
    }
    return false;
}

bool dumped(const nlmsghdr *nh, void *arg) {
    linkchange ch{};
    if (parselink(nh, nh->nlmsg_len, &ch)) {
        linktell(static_cast<binding *>(arg), ch);
    }
    return true;
}

struct naming {
    binding *b;
    const unsigned *list;
};

const char *named(size_t i, void *arg) {
    const auto *n = static_cast<const naming *>(arg);
    return n->b->names + n->list[i] * n->b->stride;
}

void found(size_t i, const linkchange *link, void *arg) {
    auto *n = static_cast<naming *>(arg);
    bindlookup(n->b, n->list[i], link ? link->link.index : 0, link ? link->link.name : "");
}

}  // namespace

bool linknewsto(int fd, binding *b) {
    return linknews(fd, tell, b, matters);
}

bool linkdumpto(int fd, binding *b) {
    const unsigned since = bindstamp(b);
    if (!rtnl_dump(fd, RTM_GETLINK, dumped, b, true)) {
        return false;
    }
    bindsweep(b, since);
    return true;
}

bool linklookupto(int fd, binding *b, const unsigned *list, size_t m) {
    naming n{b, list};
    return m == 0 || asklinks(fd, m, named, found, &n);
}

namespace {

// The table, the subscription that tells whether it is current, and the
// network namespace they belong to.
struct {
    linkset set;
    bool current;
    int watch = -1;
    dev_t nsdev;
    ino_t nsino;
} kept;

// Any announcement says the table may have changed.
void notechange(const linkchange &, void *arg) {
    *static_cast<bool *>(arg) = true;
}

bool takelink(const nlmsghdr *nh, void *arg) {
    linkchange l{};
    if (!parselink(nh, nh->nlmsg_len, &l)) {
        return true;
    }
    auto *set = static_cast<linkset *>(arg);
    rtlink *to = set->links.add();
    if (!to) {
        return false;
    }
    *to = l.link;
    size_t at = 0;
    for (const char *alt; (alt = linkalt(l, &at));) {
        if (strlen(alt) >= ALTNAMESIZE) {
            continue;
        }
        rtaltname *a = set->alts.add();
        if (!a) {
            return false;
        }
        a->index = l.link.index;
        memcpy(a->name, alt, strlen(alt));
    }
    return true;
}

}  // namespace

const linkset *linktable() {
    struct stat ns {};
    const bool known = stat("/proc/self/ns/net", &ns) == 0;
    if (!known || ns.st_dev != kept.nsdev || ns.st_ino != kept.nsino) {
        // Another namespace: the subscription sees the one it was made in.
        if (kept.watch >= 0) {
            close(kept.watch);
            kept.watch = -1;
        }
        kept.current = false;
        kept.nsdev = known ? ns.st_dev : 0;
        kept.nsino = known ? ns.st_ino : 0;
    }
    // Subscribed before the dump, so that no change after it goes unseen.
    if (kept.watch < 0) {
        kept.watch = rtnl_socket(RTMGRP_LINK);
        kept.current = false;
        // It need only tell that something changed, which an overflow
        // tells as well: the least room the kernel gives does.
        if (kept.watch >= 0) {
            (void)nlsys_setroom(kept.watch, 1, false);
        }
    }
    bool changed = false;
    if (kept.watch < 0 || !linknews(kept.watch, notechange, &changed) || changed || !known) {
        kept.current = false;
    }
    if (kept.current) {
        return &kept.set;
    }
    kept.set.links.count = 0;
    kept.set.alts.count = 0;
    const int fd = rtnl_socket();
    const bool ok = fd >= 0 && rtnl_dump(fd, RTM_GETLINK, takelink, &kept.set, true);
    if (fd >= 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    if (!ok) {
        return nullptr;
    }
    // The kernel dumps in index order; alternative names keep theirs
    // within a link.
    auto byindex = [](const auto &a, const auto &b) { return a.index < b.index; };
    std::sort(kept.set.links.items, kept.set.links.items + kept.set.links.count, byindex);
    std::stable_sort(kept.set.alts.items, kept.set.alts.items + kept.set.alts.count, byindex);
    kept.current = kept.watch >= 0 && known;
    return &kept.set;
}
