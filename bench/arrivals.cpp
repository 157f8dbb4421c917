// The times at which reports arrive on standard input: reads a monitor's
// output, notes the monotonic time at which each report's empty line came,
// and prints the phase of the arrivals (their time past the first, modulo
// the interval) as its spread, with and without the extreme 1 % at each
// end, and the smallest and largest gaps between reports.
//
//   zorvat2 1 300 | arrivals 1
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char **argv) {
    const double interval = argc > 1 ? atof(argv[1]) : 1.0;
    if (interval <= 0) {
        (void)fprintf(stderr, "usage: arrivals [interval]\n");
        return 2;
    }
    std::vector<double> at;
    static char buf[1 << 20];
    char last = '\0';
    for (ssize_t n; (n = read(0, buf, sizeof buf)) > 0;) {
        const double t = now();
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n' && last == '\n') {
                at.push_back(t);
            }
            last = buf[i];
        }
    }
    if (at.size() < 2) {
        (void)fprintf(stderr, "arrivals: fewer than two reports\n");
        return 1;
    }
    std::vector<double> phase;
    double lo = 1e9;
    double hi = -1e9;
    double mingap = 1e9;
    double maxgap = 0;
    for (size_t k = 0; k < at.size(); ++k) {
        // The phase against the first report's, in (-interval/2, interval/2].
        double off = std::fmod(at[k] - at[0], interval);
        if (off > interval / 2) {
            off -= interval;
        }
        phase.push_back(off);
        lo = std::min(lo, off);
        hi = std::max(hi, off);
        if (k > 0) {
            mingap = std::min(mingap, at[k] - at[k - 1]);
            maxgap = std::max(maxgap, at[k] - at[k - 1]);
        }
    }
    (void)printf("reports %zu; phase spread %.3f ms (%.3f to %.3f ms); gaps %.3f to %.3f ms\n", at.size(),
                 (hi - lo) * 1e3, lo * 1e3, hi * 1e3, mingap * 1e3, maxgap * 1e3);
    // The band that holds all but the extreme 1 % at each end.
    std::sort(phase.begin(), phase.end());
    const size_t cut = phase.size() / 100;
    (void)printf("phase of 98 %% of reports within %.3f ms (%.3f to %.3f ms)\n",
                 (phase[phase.size() - 1 - cut] - phase[cut]) * 1e3, phase[cut] * 1e3,
                 phase[phase.size() - 1 - cut] * 1e3);
    return 0;
}
