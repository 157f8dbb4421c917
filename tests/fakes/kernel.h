// A kernel of links behind the Linux stand-ins' netlink calls (nlsys.h),
// linked in place of the system's: the tests of the readings and of the
// names' links script its links and read what it was asked.
//
// It answers link, address and statistics dumps and requests as the
// kernel does (to the asking socket's port, with the request's number,
// each answer of a request a datagram of its own, charged 1 KiB to the
// socket's receive buffer, dropped when that is full), announces each
// change of a link to the subscriptions (dropped, and the loss told,
// when one is full), and keeps /proc/net/dev in a file.
#ifndef ZORVAT_TESTS_FAKES_KERNEL_H
#define ZORVAT_TESTS_FAKES_KERNEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/counters.h"

namespace fakekernel {

struct link {
    int index;
    std::string name;
    std::vector<std::string> alts;
    linkcounters c;
};

// No links, nothing asked; what the subscriptions held is lost (the
// library of an earlier test looks its links up again); nothing refused.
void reset();

// Links made, changed and deleted, each announced.  Traffic is not.
void add(int index, const std::string &name, const linkcounters &c = {});
void rename(int index, const std::string &name);
void altadd(int index, const std::string &alt);
void altdel(int index, const std::string &alt);
void del(int index);
void traffic(int index, uint64_t frames);  // frames of 100 bytes received and sent
link &linkof(int index);

// Every subscription overflows: the announcements in it are lost.
void lose();

// Announcements made from now on wait until a subscription has been
// found empty `reads` more times (-1: until release).
void hold(int reads);
void release();

// An announcement of a link as it is, or of its deletion, sent by a
// process (port 4242) to the subscriptions, as one that may do.
void forge(int index, bool gone, const linkcounters &c);

// Recorded announcements (the kernel's messages, back to back), each a
// datagram of its own, to the subscriptions.
void inject(const std::string &messages);

struct state {
    std::vector<std::string> asked;  // a line a datagram of requests: "stats dump", "stats 10 11", "links va"
    bool refusestats = false;        // the statistics, dumped or asked for: EOPNOTSUPP
    bool refuseasks = false;         // the statistics asked for: EOPNOTSUPP
    int room = 212992;               // the receive buffer of a socket of requests
    bool stale = false;  // the next statistics dump ends with answers to an earlier request and another port
};
extern state kernel;

}  // namespace fakekernel

#endif
