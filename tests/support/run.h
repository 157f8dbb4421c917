// Running the built programs from tests: arguments in, standard output,
// standard error and exit status out.
#ifndef ZORVAT_TESTS_SPAWN_H
#define ZORVAT_TESTS_SPAWN_H

#include <sys/types.h>

#include <string>
#include <vector>

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

// Start prog with args; argv[0] is argv0 when given, else prog.
child start(const std::string &prog, const std::vector<std::string> &args, const char *argv0 = nullptr);

// Read until the output holds `reports` empty lines (ends of reports) or
// timeout_ms passes.  True when it got there.
bool readreports(child &c, int reports, int timeout_ms);

// Read everything until the program ends (killed with SIGKILL after
// timeout_ms), and reap it.  True when it ended by itself.
bool finish(child &c, int timeout_ms);

// start() and finish() in one.
child run(const std::string &prog, const std::vector<std::string> &args, int timeout_ms = 15000,
          const char *argv0 = nullptr);

// The exit status of an ended child, or -1 when a signal ended it.
int exitstatus(const child &c);

#endif
