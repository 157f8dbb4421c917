// Private network namespaces for tests that run the real platform layer
// and the built programs.
//
// netns::enter() moves the calling process into a new, empty network
// namespace (only "lo", down) with IPv6 off, so that no link sends
// anything the test did not ask for.  It may be called again for a new
// empty namespace.  Programs started afterwards inherit the namespace.
#ifndef ZORVAT_TESTS_SUPPORT_NETNS_H
#define ZORVAT_TESTS_SUPPORT_NETNS_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>

namespace netns {

// Enter a fresh namespace.  Empty on success, else why it can't be done
// (not root, no CAP_SYS_ADMIN, no ip command, IPv6 can't be turned off).
std::string enter();

// Run the ip command with the blank-separated arguments, e.g.
// ip("link set lo up").  Throws std::runtime_error, with ip's own
// message, when the command fails, which fails the calling test.
void ip(const std::string &args);

// Run the ip commands of `commands`, one a line, in one ip process
// (ip -batch): thousands of links in a second.  Throws as ip() does.
void ipbatch(const std::string &commands);

// The hardware address of a link as ip writes it, "aa:bb:cc:dd:ee:ff".
// Throws std::runtime_error when the link has none.
std::string macaddress(const std::string &link);

// Send count UDP datagrams of payload bytes each from a socket bound to
// the IPv4 address from, to port 9 of the IPv4 address to.  Throws
// std::runtime_error when a datagram can't be sent whole.
void sendudp(const std::string &from, const std::string &to, int count, size_t payload);

// A veth pair va (index 10) and vb (index 11).  Without the indexes the
// peer, made first, would get the lower one.
void vethpair();

// The pair, up, va 10.9.0.1/24 with vb's address as the neighbour
// 10.9.0.2, so that datagrams from va reach vb and nothing answers.
void wiredpair();

// A second namespace beside the one entered, made at the first call, to
// move links to and from: the paths that name it and this one to ip (as in
// "link set va netns " + netns::otherpath()), and ip run inside it.
// Throws std::runtime_error when it can't be made.
std::string otherpath();
std::string herepath();
void ipthere(const std::string &args);

// The kernel's sixteen counters of a link in this namespace, as
// /proc/net/dev shows them: bytes, packets, errs, drop, fifo, frame,
// compressed and multicast of receiving, then bytes, packets, errs, drop,
// fifo, colls, carrier and compressed of sending.  Throws
// std::runtime_error when there is no such link.
std::array<uint64_t, 16> devcounters(const std::string &link);

// A TCP sink: a child process in a network namespace of its own.
struct sink {
    pid_t pid = -1;
    int hold = -1;  // its namespace, and the links in it, last until this closes
};

// Move the link `link` of this namespace into a namespace of its own,
// where a child process gives it the IPv4 address addr/24 and takes in
// whatever comes to TCP port 9.  Throws std::runtime_error when it can't
// be set up.
sink tcpsink(const std::string &link, const std::string &addr);

// End the sink and its namespace; the moved link goes with it, and so does
// its veth peer.
void endsink(sink &s);

// Send up to `bytes` bytes from a TCP connection to port 9 of the IPv4
// address to, as fast as they go, for at most `seconds`; close it and
// return the number sent.
uint64_t tcpsend(const std::string &to, uint64_t bytes, double seconds);

}  // namespace netns

// In a test body or SetUp: enter a fresh namespace, or skip the test and
// say why not.
#define ZV_ENTER_NETNS_OR_SKIP()                   \
    do {                                           \
        const std::string zv_why = netns::enter(); \
        if (!zv_why.empty()) {                     \
            GTEST_SKIP() << zv_why;                \
        }                                          \
    } while (0)

#endif
