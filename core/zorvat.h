// The measurement core shared by the discovering monitor (zorvat2, zorvat)
// and the list-driven monitor (zorvat3): units and header, sampling of the
// kernel counters, rate lines, command line and the sampling schedule.
// What the revisions differ in is in core/revision.h; the units, the
// counters of a sample (ifdata) and the columns of a report are the
// tables of core/columns.h.
#ifndef ZORVAT_CORE_ZORVAT_H
#define ZORVAT_CORE_ZORVAT_H

#include <cstddef>
#include <cstdint>

#include "core/columns.h"
#include "platform/kstat.h"

extern int Oflag;       // output-unit mode, final before the first report
extern int interval;    // seconds between turns, at least 1 once checked
extern int64_t T;       // steady-clock nanosecond at which the next turn begins
extern int64_t Delta;   // steady-clock nanosecond read at the top of a turn
extern double Elapsed;  // seconds the rates of the current report are per

// Header.

// Put the column header of the unit chosen at the first call at the head
// of the report being built.  Cannot fail.
void pbanner();

// Sampling.

// Sample the interface named name into rec: the four byte and packet
// counters become NOSTAT when no kstat bears the name (the other four are
// left alone), a single counter becomes NOSTAT when its statistic is
// missing.  A walk reads each interface's kstat once, so that the kstat
// library gives all the figures of a turn from that turn.  Cannot fail.
void ifsample(kstat_ctl_t *kc, char *name, ifdata *rec);

// Reports.

// Add the rate line of one interface, from its current and previous
// samples, to the report being built.  Cannot fail.
void printline(const char *name, const ifdata &curr, const ifdata &prev);

// Make room for reports of up to `lines` rate lines, so that a turn
// allocates nothing.  Ends the process with "no memory" when there is none.
void newreport(int lines);

// Add text to the report being built.  Cannot fail.
void putreport(const char *text, size_t len);

// End a report: the empty line, then the whole report goes out in one
// write, continued after a partial one and after a wait while the output
// takes no more.  The first failed write of a run is reported at once
// ("write error: " and the reason) and the run goes on, except when the
// reader is gone (EPIPE): then the run ends at once, with status 1.  A
// report that fails part way leaves no part of itself in a regular file.
void endreport();

// The exit status of a run that did all its turns: 0, or 1 when a report
// could not be written (reports were lost).
int endrun();

// Command line and set-up.  Each of these either succeeds or ends the
// process with status 1.

// The name to use in the usage text: argv[0], or the program's own name
// when the command line has none.
const char *commandname(int argc, char **argv);

// Write the usage text, every %s replaced by cmdname; exit 1.
[[noreturn]] void Usage(const char *cmdname);

// Set Oflag from a unit option in argv[1] and consume it.  An argument
// that begins with '-' and has no known unit letter second is a usage
// error.
void unitoption(int &argc, char **&argv, const char *cmdname);

// The decimal number at the head of s, as atoi reads it (blanks skipped,
// an optional sign, digits up to the first other character; 0 when there
// are none).  A number beyond the range of int is a usage error.
int argtoi(const char *s, const char *cmdname);

// Read the whole command line: Oflag from the unit option, then interval,
// *iters (0 when not given: no limit) and, in the list-driven monitor,
// *names, the interfaces argument.  A wrong number of arguments is a usage
// error; the values are checked by checkargs.
void getargs(int argc, char **argv, const char *cmdname, int *iters, const char **names);

// Check interval and iters: interval at least 1, iters not negative.
void checkargs(int iters, const char *cmdname);

// Open the kernel statistics, or report why not and exit 1.
kstat_ctl_t *openkstat();

// Report a failed set-up step (perror with msg) and exit 1.
[[noreturn]] void fail(const char *msg);

// Schedule.

// Start the schedule at the moment of the first sample, which follows at
// once: turn k begins k intervals after it.
void startclock();

// Wait for the next turn and set the deadline of the one after it.  A
// deadline already passed lets the turn go on at once and restarts the
// schedule from now.  Sets Elapsed for the turn's report: interval when
// the turn's sample comes within 1 % of an interval after the last one,
// else the time that passed between them.
void waitturn();

#endif
