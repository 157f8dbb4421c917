// Fakes of the platform layer for the unit tests.
//
// The fakes replace kstat_*, the three ioctl overloads of the interface
// requests and clocktime/clockwait; every test program links them instead
// of the real platform.  Their state is process-wide and plain, so tests
// script it directly and reset it in SetUp.
#ifndef ZORVAT_TESTS_FAKES_FAKES_H
#define ZORVAT_TESTS_FAKES_FAKES_H

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/columns.h"
#include "platform/kstat.h"

namespace fake {

// The kstat chain.  kstat_open() returns the one handle; kadd appends a
// kstat (module "link") whose data hold the given statistics at once.
// kset and kremove change the live counters, which a successful
// kstat_read copies into the kstat's data; a failing read leaves the data
// as they were.  A value above 32 bits is stored as a 64-bit statistic.
using stats = std::vector<std::pair<std::string, uint64_t>>;
void kreset();  // empty chain, log cleared, reads and kstat_open succeed
void kadd(const std::string &name, const stats &s);
void kset(const std::string &name, const std::string &stat, uint64_t value);
void kremove(const std::string &name, const std::string &stat);
void kfailread(const std::string &name, bool fail);
extern int kopenerrno;  // nonzero: kstat_open fails with this errno

struct kstatlog {
    std::vector<std::string> lookups;  // names asked of kstat_lookup, in order
    std::vector<std::string> stats;    // names asked of kstat_data_lookup, in order
    int reads = 0;                     // kstat_read calls
    bool wildcard = true;              // every lookup had module null, instance -1
};
extern kstatlog klog;

// The interface requests.  SIOCGIFNUM answers count (names.size() when
// negative); SIOCGIFCONF fills as many of names as ifc_len has room for;
// SIOCGIFFLAGS answers flags[name] (0 when absent).  A nonzero errno
// makes the request fail, for SIOCGIFFLAGS only for the name flagsfails.
struct sockscript {
    std::vector<std::string> names;
    std::map<std::string, short> flags;
    int count = -1;
    int numerrno = 0;
    int conferrno = 0;
    std::string flagsfails;
    int flagserrno = 0;
    // Recorded.
    std::vector<std::string> flagqueries;  // SIOCGIFFLAGS names, in order
    unsigned long confrequest = 0;         // the request number used for the records
    int conflen = -1;                      // ifc_len handed in
    int fd = -1;                           // descriptor of the last request
};
extern sockscript sock;

// The clock, in nanoseconds.  clockwait records every deadline waited for
// and moves the clock on to it, and oversleep beyond (a process stopped
// during its wait), unless the clock is held.  A test adds "work" by moving
// clocknow itself.
extern int64_t clocknow;
extern bool clockheld;
extern int64_t oversleep;
extern std::vector<int64_t> waits;

// A record's counters, in their order, for comparisons.
using counts = std::array<uint64_t, NCOUNTERS>;
inline counts fields(const ifdata &r) {
    counts c{};
    for (size_t i = 0; i < NCOUNTERS; ++i) {
        c[i] = r.*counters[i].field;
    }
    return c;
}

}  // namespace fake

#endif
