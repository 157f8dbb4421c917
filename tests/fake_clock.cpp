// A settable clock.
#include "platform/clock.h"
#include "tests/fakes.h"

namespace fake {
time_t clocknow = 0;
bool clockheld = false;
std::vector<time_t> waits;
}  // namespace fake

time_t clocktime() {
    return fake::clocknow;
}

void clockwait(time_t seconds) {
    fake::waits.push_back(seconds);
    if (seconds > 0 && !fake::clockheld) {
        fake::clocknow += seconds;
    }
}
