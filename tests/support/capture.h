// Capturing what the code under test writes, in this process or in a
// child of it.
#ifndef ZORVAT_TESTS_SUPPORT_CAPTURE_H
#define ZORVAT_TESTS_SUPPORT_CAPTURE_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace capture {

inline std::string slurp(FILE *f) {
    std::string s;
    fflush(f);
    rewind(f);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        s.append(buf, n);
    }
    fclose(f);
    return s;
}

// What fn writes to standard output, in this process.
inline std::string captured(const std::function<void()> &fn) {
    fflush(stdout);
    FILE *f = tmpfile();
    int saved = dup(1);
    dup2(fileno(f), 1);
    fn();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return slurp(f);
}

// fn run in a child process: its wait status and what it wrote.
struct ran {
    int status = -1;
    std::string out;
    std::string err;
};
inline ran inchild(const std::function<void()> &fn) {
    FILE *o = tmpfile();
    FILE *e = tmpfile();
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(o), 1);
        dup2(fileno(e), 2);
        fn();
        fflush(nullptr);
        _exit(0);
    }
    ran r;
    waitpid(pid, &r.status, 0);
    r.out = slurp(o);
    r.err = slurp(e);
    return r;
}
inline int exitcode(const ran &r) {
    return WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1;
}

}  // namespace capture

#endif
