// The list-driven monitor's interface table: the interfaces named on the
// command line, in the order given.
#ifndef ZORVAT_LISTMON_IFTABLE_H
#define ZORVAT_LISTMON_IFTABLE_H

#include "core/zorvat.h"

using IFdata = ifdata;

// One watched interface.
struct IFinfo {
    char name[32] = {};  // as given, at most 31 characters, NUL-terminated
    IFdata curr;         // the newest sample
    IFdata prev;         // the sample before it
    int first = 0;       // the first entry of this name: its own index, or an earlier one whose sample it takes
};

constexpr int IFMAX = 256;  // entries in the table
constexpr int IFNAMEMAX = static_cast<int>(sizeof(IFinfo::name)) - 1;

extern IFinfo IFlist[IFMAX];
extern int IFnumb;  // entries in use, from the first

// Add the names of the interfaces argument to the table.  Blanks and
// commas separate names; nothing else does.  A name of more than
// IFNAMEMAX characters, or more than IFMAX names, is a usage error.
void IFparse(const char *names, const char *cmdname);

// Sample every entry into its curr.  A name listed twice is sampled once
// and its entries take the same sample, so that all of a turn's lines come
// from one reading of the kernel's counters.
int IFupdate(kstat_ctl_t *kc);

// Print one report: a line per entry, the empty line, flush.
int IFprint();

// Make every entry's prev equal to its curr.
void IFcopy();

#endif
