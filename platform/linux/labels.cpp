#include "platform/linux/labels.h"

#include <linux/rtnetlink.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/rtnl.h"

bool parselabel(const nlmsghdr *nh, label *l) {
    if (nh->nlmsg_type != RTM_NEWADDR) {
        return false;
    }
    size_t len = 0;
    for (const rtattr *rta = rtnl_attrs(nh, nh->nlmsg_len, sizeof(ifaddrmsg), &len); rtnl_attrok(rta, len);
         rta = rtnl_attrnext(rta, &len)) {
        const auto *text = static_cast<const char *>(RTA_DATA(rta));
        const size_t n = strnlen(text, std::min<size_t>(RTA_PAYLOAD(rta), IFNAMSIZ - 1));
        if (rta->rta_type != IFA_LABEL || !memchr(text, ':', n)) {
            continue;
        }
        *l = label{};
        l->index = static_cast<int>(static_cast<const ifaddrmsg *>(NLMSG_DATA(nh))->ifa_index);
        memcpy(l->name, text, n);
        return true;
    }
    return false;
}

namespace {

bool takelabel(const nlmsghdr *nh, void *arg) {
    label l{};
    if (!parselabel(nh, &l)) {
        return true;
    }
    auto *t = static_cast<table<label> *>(arg);
    l.order = t->count;
    label *to = t->add();
    if (to) {
        *to = l;
    }
    return to != nullptr;
}

}  // namespace

bool dumplabels(int fd, table<label> *t) {
    t->count = 0;
    if (!rtnl_dump(fd, RTM_GETADDR, takelabel, t, true)) {
        return false;
    }
    orderlabels(t);
    return true;
}

void orderlabels(table<label> *t) {
    // A name met again on the same link is left out: sorted by link and
    // name, each but the first of a run goes; then back to the kernel's
    // order within each link.
    label *first = t->items;
    label *end = t->items + t->count;
    std::sort(first, end, [](const label &a, const label &b) {
        const int c = strcmp(a.name, b.name);
        return a.index != b.index ? a.index < b.index : c != 0 ? c < 0 : a.order < b.order;
    });
    end = std::unique(first, end,
                      [](const label &a, const label &b) { return a.index == b.index && strcmp(a.name, b.name) == 0; });
    t->count = static_cast<size_t>(end - first);
    std::sort(first, end, [](const label &a, const label &b) {
        return a.index != b.index ? a.index < b.index : a.order < b.order;
    });
}
