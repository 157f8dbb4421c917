// The Linux readers of the kernel's tables on any bytes: as the messages
// of a dump (each message to the link, statistics and address readers)
// and as the text of /proc/net/dev (each line to its reader).  Nothing may
// be read outside the input, and what the readers give must be whole: a
// link's name terminated and not empty, its alternative names too, a
// label's holding its colon, a /proc/net/dev name terminated, the labels
// in their order and each once.
#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/linux/counters.h"
#include "platform/linux/labels.h"
#include "platform/linux/links.h"
#include "platform/linux/rtnl.h"

namespace {

void check(bool ok) {
    if (!ok) {
        abort();
    }
}

void messages(const uint8_t *data, size_t size) {
    // Whole messages, as a socket delivers them, aligned as the kernel
    // aligns its datagrams.
    std::vector<nlmsghdr> room(size / sizeof(nlmsghdr) + 1);
    memcpy(room.data(), data, size);
    table<label> labels{};
    size_t rest = size;
    for (const nlmsghdr *nh = room.data(); rtnl_ok(nh, rest); nh = rtnl_next(nh, &rest)) {
        linkchange l{};
        if (parselink(nh, nh->nlmsg_len, &l)) {
            check(strnlen(l.link.name, sizeof l.link.name) < sizeof l.link.name && l.link.name[0] != '\0');
            // Each alternative name terminated within the message.
            const char *end = reinterpret_cast<const char *>(nh) + nh->nlmsg_len;
            size_t at = 0;
            for (const char *alt; (alt = linkalt(l, &at));) {
                check(alt > reinterpret_cast<const char *>(nh) && alt < end && alt[0] != '\0' &&
                      memchr(alt, '\0', static_cast<size_t>(end - alt)));
            }
            linkcounters c{};
            (void)linkcounts(l, &c);
        }
        // An announcement received cut short: only its first bytes are
        // there to be read.
        const size_t cut = nh->nlmsg_len - nh->nlmsg_seq % (nh->nlmsg_len - sizeof(nlmsghdr) + 1);
        const std::unique_ptr<char[]> part(new char[cut]);
        memcpy(part.get(), nh, cut);
        (void)parselink(reinterpret_cast<const nlmsghdr *>(part.get()), cut, &l);
        int index = 0;
        linkcounters c{};
        (void)parsestats(nh, &index, &c);
        label a{};
        if (parselabel(nh, &a)) {
            check(strnlen(a.name, sizeof a.name) < sizeof a.name && strchr(a.name, ':'));
            a.order = labels.count;
            label *to = labels.add();
            check(to != nullptr);
            *to = a;
        }
    }
    orderlabels(&labels);
    for (size_t i = 1; i < labels.count; ++i) {
        const label &p = labels.items[i - 1];
        const label &q = labels.items[i];
        check(p.index < q.index || (p.index == q.index && p.order < q.order));
        for (size_t j = 0; j < i; ++j) {
            check(labels.items[j].index != q.index || strcmp(labels.items[j].name, q.name) != 0);
        }
    }
    labels.release();
}

void text(const uint8_t *data, size_t size) {
    const auto *p = reinterpret_cast<const char *>(data);
    const char *end = p + size;
    while (p < end) {
        const auto *eol = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
        eol = eol ? eol : end;
        // The line alone, so that a read past its end shows.
        std::vector<char> line(p, eol);
        char name[IFNAMSIZ];
        linkcounters c{};
        if (parsedevline(line.data(), line.data() + line.size(), name, &c)) {
            check(strnlen(name, sizeof name) < sizeof name && name[0] != '\0');
        }
        p = eol + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    messages(data, size);
    text(data, size);
    return 0;
}
