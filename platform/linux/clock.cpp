#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace {
constexpr int64_t nanos = 1'000'000'000;
}

int64_t clocktime() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * nanos + now.tv_nsec;
}

void clockwait(int64_t until) {
    timespec end{};
    end.tv_sec = static_cast<time_t>(until / nanos);
    end.tv_nsec = static_cast<long>(until % nanos);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
    }
}
