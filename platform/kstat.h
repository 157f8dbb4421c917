// Kernel statistics: the kstat library's calls and records that the
// measurement core uses, declared as the system's <kstat.h> declares them.
//
// A system that has the library builds the core against its own header;
// elsewhere the folder of platform/ that the build chooses supplies these
// calls, under these declarations.  The core calls nothing and reads no
// field that the system's header lacks, and passes every name as the
// writable text the system's calls take.
#ifndef ZORVAT_PLATFORM_KSTAT_H
#define ZORVAT_PLATFORM_KSTAT_H

#if defined(__sun)
#include <kstat.h>
#else

#include <cstddef>
#include <cstdint>

typedef int kid_t;  // kstat chain identifier
typedef int64_t hrtime_t;

#define KSTAT_STRLEN 31

// ks_type
#define KSTAT_TYPE_RAW 0
#define KSTAT_TYPE_NAMED 1

// kstat_named_t data_type
#define KSTAT_DATA_CHAR 0
#define KSTAT_DATA_INT32 1
#define KSTAT_DATA_UINT32 2
#define KSTAT_DATA_INT64 3
#define KSTAT_DATA_UINT64 4

typedef struct kstat_named {
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
} kstat_named_t;

typedef struct kstat {
    hrtime_t ks_crtime;     // when the kstat was made
    struct kstat *ks_next;  // next kstat in the chain
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
    int (*ks_update)(struct kstat *, int);
    void *ks_private;  // the provider's
    int (*ks_snapshot)(struct kstat *, void *, int);
    void *ks_lock;
} kstat_t;

typedef struct kstat_ctl {
    kid_t kc_chain_id;
    kstat_t *kc_chain;  // first kstat of the chain
    int kc_kd;          // descriptor the statistics are read through
} kstat_ctl_t;

// Open the kstat chain: a kstat for every statistics set the system has
// now.  The chain is not brought up to date afterwards unless asked, which
// the monitors never do.  Null, with errno set, when the statistics can't
// be opened.
kstat_ctl_t *kstat_open();

// The first kstat of the chain that matches; a null module and an
// instance of -1 match any.  Null, with errno ENOENT, when none does.
kstat_t *kstat_lookup(kstat_ctl_t *kc, char *ks_module, int ks_instance, char *ks_name);

// Bring the kstat's data up to date and, when buf is not null, copy them
// into it.  The chain id, or -1 with errno set when they can't be read
// (ENXIO: what the kstat counts is gone).  What the data hold after a
// failed read is the library's affair.
//
// The data of a kstat may last only until another kstat of the chain is
// read: a caller takes what it needs of them first.  A network link's
// kstat counts the traffic of its name alone: when the name passes to
// another link (a link made, renamed, moved in), its counters go on from
// their last values with that link's traffic from then on, so they never
// go down and never show what another link counted before.  Which readings
// of the system's counters serve which reads, and what each asks the
// system for, is the library's (the Linux stand-in's rule is in
// platform/linux/kstat.cpp); a caller that reads each of its kstats once a
// turn has all its figures of a turn from that turn.
kid_t kstat_read(kstat_ctl_t *kc, kstat_t *ksp, void *buf);

// The named statistic of the kstat's data, or null with errno ENOENT when
// they hold none of that name (or the kstat has no data).
void *kstat_data_lookup(kstat_t *ksp, char *name);

#endif

#endif
