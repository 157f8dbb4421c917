// Discovery of the host's interfaces through the socket ioctl requests.
#include "discover/ifinfo.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/revision.h"
#include "platform/sockio.h"

namespace {

constexpr unsigned long ifconfrequest = revision.oldifconf ? O_SIOCGIFCONF : SIOCGIFCONF;

int sd = -1;  // the socket, open only while ifinfo runs

// A failed step of discovery: report it, close the socket, exit 1.
[[noreturn]] void ifail(const char *msg) {
    int saved = errno;
    if (sd >= 0) {
        close(sd);
    }
    errno = saved;
    fail(msg);
}

}  // namespace

int skipif(const char *name) {
    if (strchr(name, ':')) {
        return 1;
    }
    if (strlen(name) >= 5 && (strncmp(name, "scid", 4) == 0 || strncmp(name, "dman", 4) == 0)) {
        return 1;
    }
    return 0;
}

ifinfo_t *ifinfo() {
    auto *head = static_cast<ifinfo_t *>(malloc(sizeof(ifinfo_t)));
    if (!head) {
        ifail("no memory");
    }
    head->body = nullptr;

    // A socket that failed shows as the failure of the first request, with
    // the socket's own reason.
    sd = socket(AF_INET, SOCK_DGRAM, 0);
    int count = 0;
    if (sd < 0 || ioctl(sd, SIOCGIFNUM, &count) < 0) {
        ifail("SIOCGIFNUM");
    }

    // No interfaces is an empty list, not a failed allocation: the buffer
    // always has room for one record, whatever the count.
    size_t size = static_cast<size_t>(count > 0 ? count : 0) * sizeof(struct ifreq);
    auto *buf = static_cast<struct ifreq *>(malloc(std::max(size, sizeof(struct ifreq))));
    if (!buf) {
        ifail("no memory");
    }
    struct ifconf ifc {};
    ifc.ifc_len = static_cast<int>(size);
    ifc.ifc_req = buf;
    if (ioctl(sd, ifconfrequest, &ifc) < 0) {
        ifail("SIOCGIFCONF");
    }

    int numifcs = ifc.ifc_len / static_cast<int>(sizeof(struct ifreq));
    ifinfo_v *first = nullptr;
    ifinfo_v *tail = nullptr;
    int collected = 0;
    for (const struct ifreq *rec = buf; numifcs > 0; ++rec, --numifcs) {
        if (revision.filter && skipif(rec->ifr_name)) {
            continue;
        }
        struct ifreq ifr {};
        strncpy(ifr.ifr_name, rec->ifr_name, sizeof ifr.ifr_name);
        if (ioctl(sd, SIOCGIFFLAGS, &ifr) < 0) {
            ifail("SIOCGIFFLAGS");
        }
        if (revision.filter && (ifr.ifr_flags & IFF_LOOPBACK)) {
            continue;
        }
        auto *node = static_cast<ifinfo_v *>(malloc(sizeof(ifinfo_v)));
        if (!node) {
            ifail("no memory");
        }
        memset(node, 0, sizeof *node);
        memcpy(node->ifname, rec->ifr_name, sizeof rec->ifr_name);
        if (tail) {
            tail->next = node;
        } else {
            first = node;
        }
        tail = node;
        ++collected;
    }
    close(sd);
    sd = -1;
    head->numifs = collected;
    head->body = first;
    return head;
}

void ifnamelength(ifinfo_t *iptr) {
    size_t maxlength = 0;
    ifinfo_v *p = iptr->body;
    for (int i = 0; i < iptr->numifs; ++i, p = p->next) {
        memcpy(p->ifpname, p->ifname, sizeof p->ifpname);
        maxlength = std::max(maxlength, strlen(p->ifname));
    }
    p = iptr->body;
    for (int i = 0; i < iptr->numifs; ++i, p = p->next) {
        size_t len = strlen(p->ifname);
        memset(p->ifpname + len, ' ', maxlength - len);
        p->ifpname[maxlength] = '\0';
    }
}

ifdata *newsamples(int n) {
    // Room for one record at least, so that an empty list still has
    // arrays to copy between.
    auto *p = static_cast<ifdata *>(calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(ifdata)));
    if (!p) {
        fail("no memory");
    }
    return p;
}

void ifdataupdate(ifdata *idp, ifinfo_t *iip, kstat_ctl_t *kc) {
    ifinfo_v *p = iip->body;
    for (int i = 0; i < iip->numifs; ++i, p = p->next) {
        ifsample(kc, p->ifname, &idp[i]);
    }
}

int printIFdata(ifdata *now, ifdata *last, ifinfo_t *iip) {
    ifinfo_v *p = iip->body;
    for (int i = 0; i < iip->numifs; ++i, p = p->next) {
        printline(p->ifpname, now[i], last[i]);
    }
    endreport();
    return 0;
}
