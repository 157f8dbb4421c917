// The sampling schedule.  Turn k begins k intervals after the first
// sample, to the nanosecond of a steady clock: the wait is for an absolute
// deadline, so the work of a turn never pushes the later ones back.
#include <cmath>

#include "core/zorvat.h"
#include "platform/clock.h"

int interval;
int64_t T;
int64_t Delta;
double Elapsed;

namespace {

int64_t sampled;  // when the last sample was taken

int64_t step() {
    return int64_t{interval} * 1'000'000'000;
}

}  // namespace

void startclock() {
    sampled = clocktime();
    T = sampled + step();
    Elapsed = interval;
}

void waitturn() {
    Delta = clocktime();
    int64_t now = Delta;
    if (T >= Delta) {
        clockwait(T);
        now = clocktime();
        T += step();
        // Stopped during the wait, the process wakes past later deadlines
        // too: count the next interval from now, as below, rather than
        // let the missed turns follow at once.
        if (T <= now) {
            T = now + step();
        }
    } else {
        // Behind schedule (the process was stopped, or a turn took longer
        // than the interval): go on now and count the next interval from
        // here rather than hurry through the turns that were missed.
        T = Delta + step();
    }

    // The sample of this turn is taken now.  On time, the rates are per
    // interval exactly, so that they stay exact counts per interval; a
    // turn that came late (a stop, a slow reader of the reports) divides
    // by the time that really passed, or it would count that time's
    // traffic as if it came in one interval.
    const double nominal = interval;
    const double took = static_cast<double>(now - sampled) / 1e9;
    sampled = now;
    Elapsed = took > 0 && std::fabs(took - nominal) > nominal / 100 ? took : nominal;
}
