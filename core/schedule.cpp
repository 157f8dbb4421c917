// The sampling schedule.  Turn k begins k intervals after the start, so a
// slow turn shortens the next wait instead of delaying every later turn.
#include "core/zorvat.h"
#include "platform/clock.h"

int interval;
time_t T;
time_t Delta;

void startclock() {
    T = clocktime() + interval;
}

void waitturn() {
    Delta = clocktime();
    if (T >= Delta) {
        clockwait(T - Delta);
        T += interval;
        // Stopped during the wait, the process wakes past later deadlines
        // too: count the next interval from now, as below, rather than
        // let the missed turns follow at once.
        time_t now = clocktime();
        if (T <= now) {
            T = now + interval;
        }
    } else {
        // Behind schedule (the process was stopped, or a turn took longer
        // than the interval): go on now and count the next interval from
        // here rather than hurry through the turns that were missed.
        T = Delta + interval;
    }
}
