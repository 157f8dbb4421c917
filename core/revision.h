// What sets the revisions apart, all in one place.  The same sources build
// every revision; ZORVAT_REVISION (17, 19, 20 or 30) chooses one, and the
// code asks these facts instead of the revision number.
#ifndef ZORVAT_CORE_REVISION_H
#define ZORVAT_CORE_REVISION_H

#ifndef ZORVAT_REVISION
#error "ZORVAT_REVISION must be 17, 19, 20 or 30"
#endif

struct revisionfacts {
    const char *progname;  // the program's name, when the command line has none
    const char *usage;     // the usage text: every %s takes the command name
    bool listdriven;       // watches the interfaces named in its first argument
    bool scidrule;         // "scid" interfaces count bytes as in_bytes and out_bytes
    bool filter;           // discovery leaves out logical, loopback, scid and dman
    bool oldifconf;        // the interface list is asked for with O_SIOCGIFCONF
};

constexpr revisionfacts revision =
#if ZORVAT_REVISION == 30
    {"zorvat3",
     "%s (kov) v.3.0\nUsage: %s [ -K | -k | -M | -m | -b ] interfaces interval [times]\n"
     "Example:\n\t %s \"ce0 ce1 ce4 lo0\" 5\n\t %s ce0,ce1,ce4,lo0 5\n",
     true,
     true,
     false,
     false};
#elif ZORVAT_REVISION == 20
    {"zorvat2", "%s (kov) v.2.0\nUsage: %s [ -K | -k | -M | -m | -b ] interval [times]\n", false, true, false, false};
#elif ZORVAT_REVISION == 19
    {"zorvat", "%s (kov) v.1.9\nUsage: %s [ -K | -k | -M | -m | -b ] interval [times]\n", false, true, false, true};
#elif ZORVAT_REVISION == 17
    {"zorvat", "%s (kov) v.1.7\nUsage: %s [ -K | -k | -M | -m | -b ] interval [times]\n", false, false, true, true};
#else
#error "ZORVAT_REVISION must be 17, 19, 20 or 30"
#endif

#endif
