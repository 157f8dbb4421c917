#include "platform/clock.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>

namespace {
constexpr int64_t nanos = 1'000'000'000;
}

int64_t clocktime() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * nanos + now.tv_nsec;
}

void clockwait(int64_t until) {
    // A time_t of 32 bits holds 68 years of the steady clock: a deadline
    // beyond them (an interval near INT_MAX seconds) is waited for as far
    // as it holds, never wrapped round to one that has passed.
    constexpr int64_t most = std::numeric_limits<time_t>::max();
    timespec end{};
    end.tv_sec = static_cast<time_t>(std::min(until / nanos, most));
    end.tv_nsec = static_cast<long>(until % nanos);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
    }
}
