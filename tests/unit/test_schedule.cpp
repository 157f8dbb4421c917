// The sampling schedule, the divisor of each report's rates, and the
// checks of interval and times.
#include <gtest/gtest.h>

#include <climits>

#include "core/zorvat.h"
#include "tests/fakes/fakes.h"

namespace {

constexpr int64_t ms = 1'000'000;
constexpr int64_t sec = 1000 * ms;

class Schedule : public testing::Test {
   protected:
    void SetUp() override {
        fake::clocknow = 1000 * sec;
        fake::clockheld = false;
        fake::oversleep = 0;
        fake::waits.clear();
    }
};

// Each turn: the work done before it and how long the process slept past
// its deadline (stopped during the wait); then the moment the turn begins,
// the seconds its rates are per and the deadline of the next turn.
// Started at 1000 s with an interval of 5.
TEST_F(Schedule, TurnsKeepTheirPhaseAndLateTurnsDivideByTheTimeThatPassed) {
    const struct {
        const char *what;
        int64_t work, oversleep;
        int64_t begins;
        double elapsed;
        int64_t next;
    } turns[] = {
        {"first turn, an interval after the first sample", 0, 0, 1005 * sec, 5, 1010 * sec},
        {"the turn's own work does not push the next back", 3 * ms, 0, 1010 * sec, 5, 1015 * sec},
        {"late by 2 s: a shorter wait", 2 * sec, 0, 1015 * sec, 5, 1020 * sec},
        {"top at the deadline itself", 5 * sec, 0, 1020 * sec, 5, 1025 * sec},
        {"deadline passed: at once, per the 8 s that passed", 8 * sec, 0, 1028 * sec, 8, 1033 * sec},
        {"schedule restarted from then", 0, 0, 1033 * sec, 5, 1038 * sec},
        {"woke 0.8 % late: still per interval", 0, 40 * ms, 1038 * sec + 40 * ms, 5, 1043 * sec},
        {"back on the phase, 0.8 % early: per interval", 0, 0, 1043 * sec, 5, 1048 * sec},
        {"woke 2 % late: per the 5.1 s that passed", 0, 100 * ms, 1048 * sec + 100 * ms, 5.1, 1053 * sec},
        {"stopped in the wait for 16 s: one turn, per 20.9 s", 0, 16 * sec, 1069 * sec, 20.9, 1074 * sec},
        {"an interval later, not a burst", 0, 0, 1074 * sec, 5, 1079 * sec},
        {"stopped for a long time before the top", 1000 * sec, 0, 2074 * sec, 1000, 2079 * sec},
        {"one turn, not a burst", 0, 0, 2079 * sec, 5, 2084 * sec},
    };
    interval = 5;
    startclock();
    EXPECT_EQ(T, 1005 * sec);
    EXPECT_EQ(Elapsed, 5);
    for (const auto &t : turns) {
        SCOPED_TRACE(t.what);
        fake::clocknow += t.work;
        fake::oversleep = t.oversleep;
        const int64_t top = fake::clocknow;
        waitturn();
        EXPECT_EQ(Delta, top);
        EXPECT_EQ(fake::clocknow, t.begins);
        EXPECT_DOUBLE_EQ(Elapsed, t.elapsed);
        EXPECT_EQ(T, t.next);
    }
}

// A clock that stands still: every turn waits for the same fixed
// deadlines, which still advance by one interval a turn.
TEST_F(Schedule, ClockStandingStill) {
    interval = 3;
    fake::clockheld = true;
    startclock();
    for (int64_t k = 1; k <= 4; ++k) {
        waitturn();
        EXPECT_EQ(Delta, 1000 * sec);
        EXPECT_EQ(fake::waits.back(), (1000 + 3 * k) * sec);
        EXPECT_EQ(T, (1000 + 3 * (k + 1)) * sec);
        EXPECT_EQ(Elapsed, 3);
    }
}

TEST_F(Schedule, ChecksOfIntervalAndTimes) {
    const struct {
        int interval, iters;
        bool ok;
    } cases[] = {
        {1, 0, true},   {5, 3, true},   {INT_MAX, 0, true},  {0, 0, false},
        {-1, 0, false}, {5, -1, false}, {INT_MIN, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.interval << " " << c.iters);
        interval = c.interval;
        if (c.ok) {
            EXPECT_EXIT((checkargs(c.iters, "zv"), exit(0)), testing::ExitedWithCode(0), "^$");
        } else {
            EXPECT_EXIT(checkargs(c.iters, "zv"), testing::ExitedWithCode(1), "^zv \\(kov\\) v\\.2\\.0\nUsage: zv ");
        }
    }
}

}  // namespace
