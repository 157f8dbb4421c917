// Running the built programs from tests: arguments in, standard output,
// standard error and exit status out.
#ifndef ZORVAT_TESTS_SUPPORT_RUN_H
#define ZORVAT_TESTS_SUPPORT_RUN_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

using strings = std::vector<std::string>;
using clk = std::chrono::steady_clock;

// Seconds of a steady-clock duration.
double seconds(clk::duration d);

// Path of a built program, e.g. program("zorvat2").
std::string program(const std::string &name);

// A program started with pipes on its standard output and error.  When the
// environment names an emulator (ZORVAT_EMULATOR, set for a cross build),
// the program runs under it.
struct child {
    pid_t pid = -1;
    int outfd = -1;
    int errfd = -1;
    std::string out;
    std::string err;
    int status = -1;  // wait status once ended
};

// How a program is started.  Whatever the test runner left to this
// process, the program starts with no signal blocked and SIGPIPE at its
// default action (or ignored).
struct how {
    const char *argv0 = nullptr;       // argv[0]; else the program's path
    const char *stdoutpath = nullptr;  // standard output to this file; else a pipe
    bool ignoresigpipe = false;
    bool nonblocking = false;      // the standard output pipe does not block the program
    int pipesize = 0;              // the standard output pipe's capacity, when not 0
    strings limits = {};           // options of prlimit(1), e.g. "--as=8000000"
    std::vector<int> closed = {};  // standard descriptors the program starts without
    strings env = {};              // NAME=value entries added to the environment
};

// The most of a program's output kept; a program that writes more is
// killed and fails the test (a run that never waits would fill the disk).
constexpr size_t OUTPUTMAX = 1 << 20;

// Start prog with args.
child start(const std::string &prog, const strings &args, const how &h = {});

// Read until the output holds `reports` reports (each ends with an empty
// line) or timeout_ms passes.  True when it got there.
bool readreports(child &c, int reports, int timeout_ms);

// Read everything until the program ends (killed with SIGKILL after
// timeout_ms), and reap it.  True when it ended by itself.
bool finish(child &c, int timeout_ms);

// start() and finish() in one.
child run(const std::string &prog, const strings &args, int timeout_ms = 15000, const how &h = {});

// The exit status of an ended child, or -1 when a signal ended it.
int exitstatus(const child &c);

// Let a run end by itself within timeout_ms and check that it ended well:
// exit status 0, nothing on standard error, `count` whole reports, which
// are returned for the caller's checks (none when the count is wrong).
struct report;
std::vector<report> endedwell(child &c, size_t count, int timeout_ms);

// How a child ended and what it wrote to standard error, for messages.
std::string describe(const child &c);

// Whether the programs run under an emulator (a cross build).
bool emulated();

#endif
