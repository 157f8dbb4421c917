// The clock of the sampling schedule.
#ifndef ZORVAT_PLATFORM_CLOCK_H
#define ZORVAT_PLATFORM_CLOCK_H

#include <ctime>

// Whole seconds of a steady clock, one that no setting of the time of day
// moves.  Cannot fail.
time_t clocktime();

// Sleep for the given number of whole seconds (none when 0 or less).  A
// sleep cut short by a signal sleeps again toward the same end.
void clockwait(time_t seconds);

#endif
