// A settable clock.
#include "platform/clock.h"
#include "tests/fakes/fakes.h"

namespace fake {
int64_t clocknow = 0;
bool clockheld = false;
int64_t oversleep = 0;
std::vector<int64_t> waits;
}  // namespace fake

int64_t clocktime() {
    return fake::clocknow;
}

void clockwait(int64_t until) {
    fake::waits.push_back(until);
    if (until > fake::clocknow && !fake::clockheld) {
        fake::clocknow = until + fake::oversleep;
    }
}
