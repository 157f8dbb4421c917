// What a run costs, for bench/run.sh:
//
//   rusage [-t turns] command [arg...]
//
// Runs command with its standard output on /dev/null, waits for it, and
// prints "cpu_us rss_kib turn_us": the user + system CPU time in
// microseconds (finer than the hundredths of time(1)) and the peak
// resident set of the command and its children (getrusage
// RUSAGE_CHILDREN), and the CPU time of one turn.  A run of turns turns
// one second apart (turns 4 or more) has its turn measured within it,
// from the process's own run time (/proc/PID/schedstat) 1.5 s after it
// starts and half a second before its last turn: turns 2 to turns - 1,
// with neither the start nor the exit among them; otherwise turn_us is
// -1.  Its exit status is the command's (128 + the signal that ended it),
// 127 when the command could not run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void sleepuntil(double t) {
    const double left = t - now();
    if (left > 0) {
        const auto whole = static_cast<time_t>(left);
        const timespec d{whole, static_cast<long>((left - static_cast<double>(whole)) * 1e9)};
        nanosleep(&d, nullptr);
    }
}

// Nanoseconds the process has run, or -1.
long long ran(pid_t pid) {
    char path[64];
    long long ns = -1;
    (void)snprintf(path, sizeof path, "/proc/%d/schedstat", static_cast<int>(pid));
    if (FILE *f = fopen(path, "r")) {
        if (fscanf(f, "%lld", &ns) != 1) {
            ns = -1;
        }
        (void)fclose(f);
    }
    return ns;
}

long long micros(const timeval &t) {
    return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_usec;
}

}  // namespace

int main(int argc, char **argv) {
    int turns = 0;
    int arg = 1;
    if (argc > 2 && strcmp(argv[1], "-t") == 0) {
        turns = atoi(argv[2]);
        arg = 3;
    }
    if (arg >= argc) {
        (void)fputs("usage: rusage [-t turns] command [arg...]\n", stderr);
        return 127;
    }
    const double t0 = now();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 127;
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, STDOUT_FILENO) < 0) {
            perror("/dev/null");
            _exit(127);
        }
        execv(argv[arg], argv + arg);
        perror(argv[arg]);
        _exit(127);
    }
    long long turn = -1;
    if (turns >= 4) {
        sleepuntil(t0 + 1.5);
        const long long a = ran(pid);
        sleepuntil(t0 + turns - 0.5);
        const long long b = ran(pid);
        if (a >= 0 && b >= a) {
            turn = (b - a) / 1000 / (turns - 2);
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    (void)printf("%lld %ld %lld\n", micros(ru.ru_utime) + micros(ru.ru_stime), ru.ru_maxrss, turn);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
