// Interface requests: the socket ioctl calls that discovery uses.
//
// Solaris answers SIOCGIFNUM (how many interfaces) and SIOCGIFCONF (one
// struct ifreq per interface, logical interfaces included) for every
// configured interface.  Linux has no SIOCGIFNUM, and its SIOCGIFCONF lists
// only addresses, so these overloads of ioctl answer both from the kernel's
// link and address tables: every link in interface index order, each
// followed by its logical interfaces (its IPv4 address labels that hold a
// colon, such as "lo:1").  On the socket that the records were given on,
// SIOCGIFFLAGS answers for every name listed from the same look at the
// kernel's tables (a logical interface has the flags of its link), so that
// the list and its flags agree.  Every other request, and SIOCGIFFLAGS for
// any other name, goes to the kernel unchanged.
#ifndef ZORVAT_PLATFORM_SOCKIO_H
#define ZORVAT_PLATFORM_SOCKIO_H

#include <net/if.h>
#include <sys/ioctl.h>

// Solaris's request numbers ('i' group) that Linux lacks.
constexpr unsigned long SIOCGIFNUM = 0x40046957;     // int: number of interfaces
constexpr unsigned long O_SIOCGIFCONF = 0xC0086914;  // the earlier SIOCGIFCONF

// SIOCGIFNUM: the number of interfaces into *arg.
int ioctl(int fd, unsigned long request, int *arg);

// SIOCGIFCONF or O_SIOCGIFCONF: as many records as ifc_len has room for;
// ifc_len becomes the number of bytes filled.
int ioctl(int fd, unsigned long request, struct ifconf *arg);

// Any request on one interface record, SIOCGIFFLAGS among them.
int ioctl(int fd, unsigned long request, struct ifreq *arg);

#endif
