// Kernel statistics: the kstat calls and records that the monitors use.
//
// On Solaris these come from <kstat.h> and libkstat.  This header declares
// the part of them that the measurement core calls, with the same names,
// records and signatures, and each platform's folder (platform/linux/)
// supplies them; the core includes only this header.  Built against the
// operating system's own <kstat.h> the core would need the include changed
// and nothing else: it uses no call or field that Solaris lacks.
//
// On Linux each network link that exists when kstat_open() is called is
// one kstat of module "link" whose name is the link name; its named
// statistics are "rbytes", "ipackets", "obytes", "opackets", "ierrors",
// "oerrors", "collisions" and "nocanput", 32-bit counters (the low half of
// the kernel's 64-bit ones), and "rbytes64", "ipackets64", "obytes64" and
// "opackets64", the kernel's counters whole.
#ifndef ZORVAT_PLATFORM_KSTAT_H
#define ZORVAT_PLATFORM_KSTAT_H

#include <cstdint>
#include <ctime>

using kid_t = int;  // kstat chain identifier
using hrtime_t = int64_t;

constexpr int KSTAT_STRLEN = 31;

// ks_type
constexpr unsigned char KSTAT_TYPE_RAW = 0;
constexpr unsigned char KSTAT_TYPE_NAMED = 1;

// kstat_named_t data_type
constexpr unsigned char KSTAT_DATA_CHAR = 0;
constexpr unsigned char KSTAT_DATA_INT32 = 1;
constexpr unsigned char KSTAT_DATA_UINT32 = 2;
constexpr unsigned char KSTAT_DATA_INT64 = 3;
constexpr unsigned char KSTAT_DATA_UINT64 = 4;

struct kstat_named_t {
    char name[KSTAT_STRLEN];
    unsigned char data_type;
    union {
        char c[16];
        int32_t i32;
        uint32_t ui32;
        struct {
            union {
                char *ptr;
                char pad[8];
            } addr;
            uint32_t len;
        } str;
        int64_t i64;
        uint64_t ui64;
        long l;
        unsigned long ul;
    } value;
};

struct kstat_t {
    hrtime_t ks_crtime;
    kstat_t *ks_next;  // next kstat in the chain
    kid_t ks_kid;
    char ks_module[KSTAT_STRLEN];
    unsigned char ks_resv;
    int ks_instance;
    char ks_name[KSTAT_STRLEN];
    unsigned char ks_type;
    char ks_class[KSTAT_STRLEN];
    unsigned char ks_flags;
    void *ks_data;  // ks_ndata kstat_named_t entries
    unsigned int ks_ndata;
    size_t ks_data_size;
    hrtime_t ks_snaptime;  // when ks_data was last brought up to date
    void *ks_private;      // private to the library
};

struct kstat_ctl_t {
    kid_t kc_chain_id;
    kstat_t *kc_chain;  // first kstat of the chain
    int kc_kd;
    void *kc_private;  // private to the library: the name index
};

// Open the statistics: one kstat per network link present now.  The chain
// is never refreshed.  Returns null with errno set when the kernel's
// counters cannot be read.
kstat_ctl_t *kstat_open();

// First kstat of the chain that matches: a null module and an instance of
// -1 match any.  Null, with errno ENOENT, when none does.
kstat_t *kstat_lookup(kstat_ctl_t *kc, const char *ks_module, int ks_instance, const char *ks_name);

// Bring the kstat's data up to date from the live counters, and when buf
// is not null copy them into it too.  Returns the chain id, or -1 with
// errno set when the link is gone or its counters can't be read; its data
// are then left as they were.  Before its first good read a kstat has no
// data (ks_data is null).
kid_t kstat_read(kstat_ctl_t *kc, kstat_t *ksp, void *buf);

// The named statistic of a named kstat, or null with errno ENOENT.
void *kstat_data_lookup(kstat_t *ksp, const char *name);

#endif
