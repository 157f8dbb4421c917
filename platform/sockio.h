// Interface requests: the socket ioctl calls that discovery makes, with the
// request codes as the system's <sys/sockio.h> defines them and the records
// of <net/if.h>.
//
// A system that answers these requests builds discovery against its own
// headers.  Elsewhere the folder of platform/ that the build chooses
// answers them: the codes the system lacks are defined here with the
// values the requests have where they come from, and the three overloads
// below, which a call with these argument types picks over the system's
// ioctl, take every request; the ones they don't answer go on to the
// system unchanged.
#ifndef ZORVAT_PLATFORM_SOCKIO_H
#define ZORVAT_PLATFORM_SOCKIO_H

#include <net/if.h>
#include <sys/ioctl.h>

#if defined(__sun)
#include <sys/sockio.h>
#else

#ifndef SIOCGIFNUM
#define SIOCGIFNUM 0x40046957  // the number of interfaces, into an int
#endif
#ifndef O_SIOCGIFCONF
#define O_SIOCGIFCONF 0xC0086914  // the earlier SIOCGIFCONF
#endif

// SIOCGIFNUM: the number of interfaces into *arg.
int ioctl(int fd, unsigned long request, int *arg);

// SIOCGIFCONF or O_SIOCGIFCONF: a record for each interface, logical
// interfaces included, as many as ifc_len has room for; ifc_len becomes
// the number of bytes filled.
int ioctl(int fd, unsigned long request, struct ifconf *arg);

// A request about the one interface named in the record, SIOCGIFFLAGS
// among them.
int ioctl(int fd, unsigned long request, struct ifreq *arg);

#endif

#endif
