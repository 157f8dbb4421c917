// The clock of the sampling schedule.
#ifndef ZORVAT_PLATFORM_CLOCK_H
#define ZORVAT_PLATFORM_CLOCK_H

#include <cstdint>

// Nanoseconds of a steady clock, one that no setting of the time of day
// moves.  Cannot fail.
int64_t clocktime();

// Sleep until the steady clock reads `until` (no sleep when it has passed).
// A sleep cut short by a signal sleeps again toward the same end.
void clockwait(int64_t until);

#endif
