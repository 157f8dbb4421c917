// The binding of names to links: which link each kstat's name reads, and
// how its counters go on as the name passes from link to link.
//
// A name's counters are those of the link that bears it now (as its own
// name or as an alternative one), from the moment it took the name, moved
// on by an offset: when the name passes to another link they go on from
// their last values, so that they never go down and never show what a
// link counted before it bore the name.  A name that no link bears keeps
// its counters.  One link may bear several names at once.
//
// The binding is told what becomes of the links (their messages, in
// announcements, dumps and answers to lookups; lookups by name; losses of
// announcements; a reading's counters of a link) and answers what a name
// reads.  It makes no system call and holds no descriptor: the caller
// gives it its room and its names.
#ifndef ZORVAT_PLATFORM_LINUX_BINDING_H
#define ZORVAT_PLATFORM_LINUX_BINDING_H

#include <net/if.h>

#include <cstddef>

#include "platform/linux/counters.h"

// What the binding keeps of a name.
struct boundname {
    int index;         // of the link that bears it; 0: none does
    bool own;          // it is its link's own name, not an alternative one
    bool based;        // its offset is known; else the link's next counters make it
    bool shifted;      // its offset is not zero, and stands in offs
    bool hasdata;      // it has had counters
    unsigned counted;  // the epoch of its last counters
    unsigned changed;  // the epoch in which its link last changed
    unsigned checked;  // the loss after which its link was last looked up
    unsigned seen;     // the link message that last named it
    linkcounters c;    // its counters
};

struct binding {
    size_t n;           // names
    const char *names;  // name k at names + k * stride, terminated
    size_t stride;
    boundname *of;                // each name's
    unsigned *byname;             // open hashes of name numbers + 1: by name,
    unsigned *byindex;            // by the index of their link (several a link),
    unsigned *byalias;            // by the own name of their link, of alternative ones
    size_t mask;                  // of the hashes
    linkcounters *offs;           // a name's offset, where it is not zero
    char (*linknames)[IFNAMSIZ];  // the own name of the link of an alternative one
    unsigned epoch;               // the current epoch (bindepoch)
    unsigned losses;              // announcements lost so far
    unsigned stamp;               // link messages taken so far
    unsigned changes;             // names that passed from a link or to one so far
    // The link message in hand.
    int msgindex;
    const char *msgown;
    bool msgat;
    linkcounters at;
};

// The room the binding of n names needs: eager, a part of which every
// name uses, and lazy, used only where names move (it can be paged in as
// it is first touched).  Both given zero-filled, 64-byte aligned.
void bindsizes(size_t n, size_t *eager, size_t *lazy);

// A binding of the n names (name k at names + k * stride), none bound to a
// link, in the rooms of bindsizes.  Cannot fail.
void bindopen(binding *b, size_t n, const char *names, size_t stride, void *eager, void *lazy);

// The number of the name, or -1 when it is none of the binding's.
long bindfind(const binding *b, const char *name);

// At the start: name k is borne by the link of index, whose own name is
// own, and its counters are the link's as they are.
void bindset(binding *b, size_t k, int index, const char *own);

// A new epoch: the counters of a reading made from now on are counted in
// it, and a link that changes from now on changes in it.  Its number.
unsigned bindepoch(binding *b);

// A message of a link (an announcement, an answer, a dump's): it begins
// with the link's index, its own name and its counters then (null: the
// message holds none), goes on with each alternative name it bears, and
// ends.  Each name it bears is bound to it; a name that passes to it from
// elsewhere, or from no link, counts from `at` on, or from the next
// counters of the link.  At its end, the names bound to the link that it
// did not name have left it, counted up to `at`.
void linkbegin(binding *b, int index, const char *own, const linkcounters *at);
void linkalso(binding *b, const char *alt);
void linkend(binding *b);

// The link of index is gone (deleted, moved to another namespace): every
// name it bore has left it, counted up to `at` (null: as they are).
void linkgone(binding *b, int index, const linkcounters *at);

// Announcements were lost: any link may have changed, so every name's
// link is in doubt until it is looked up.
void bindlost(binding *b);

// Whether name k's link is in doubt.
bool binddoubt(const binding *b, size_t k);

// A lookup of name k after the losses so far: the link of index bears it,
// and its own name is own; index 0: no link bears it.  A name that passes
// to it counts from the link's next counters.  Other names of the link
// stay as they are.
void bindlookup(binding *b, size_t k, int index, const char *own);

// A dump of every link (a message each, begun after bindstamp() gave
// since) has ended: the names that no message of it named have no link,
// and no name is in doubt.
unsigned bindstamp(const binding *b);
void bindsweep(binding *b, unsigned since);

// The counters of the link of index, read in epoch: each name it bears
// counts them, but a name whose link changed in that epoch or later (its
// counters may be another link's).  Names that count them are counted in
// the epoch.
void bindcount(binding *b, int index, const linkcounters &c, unsigned epoch);

// The index of the link whose own name is own, as far as the messages
// told (0: none known).
int bindlinkof(const binding *b, const char *own);

// Whether the link of index bears a name.
bool bindbound(const binding *b, int index);

#endif
