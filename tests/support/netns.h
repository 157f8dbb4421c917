// Private network namespaces for tests that run the real platform layer
// and the built programs.
//
// netns::enter() moves the calling process into a new, empty network
// namespace (only "lo", down) with IPv6 off, so that no link sends
// anything the test did not ask for.  It may be called again for a new
// empty namespace.  Programs started afterwards inherit the namespace.
#ifndef ZORVAT_TESTS_NETNS_H
#define ZORVAT_TESTS_NETNS_H

#include <gtest/gtest.h>

#include <string>

namespace netns {

// Enter a fresh namespace.  Empty on success, else why it can't be done
// (not root, no CAP_SYS_ADMIN, no ip command, IPv6 can't be turned off).
std::string enter();

// Run the ip command with the blank-separated arguments, e.g.
// ip("link set lo up").  Throws std::runtime_error, with ip's own
// message, when the command fails, which fails the calling test.
void ip(const std::string &args);

// The hardware address of a link as ip writes it, "aa:bb:cc:dd:ee:ff".
// Throws std::runtime_error when the link has none.
std::string macaddress(const std::string &link);

// Send count UDP datagrams of payload bytes each from a socket bound to
// the IPv4 address from, to port 9 of the IPv4 address to.  Throws
// std::runtime_error when a datagram can't be sent whole.
void sendudp(const std::string &from, const std::string &to, int count, size_t payload);

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
