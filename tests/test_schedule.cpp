// The sampling schedule and the checks that keep it in range.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <limits>

#include "core/zorvat.h"
#include "tests/fakes.h"

namespace {

class Schedule : public testing::Test {
   protected:
    void SetUp() override {
        fake::clocknow = 1000;
        fake::clockheld = false;
        fake::waits.clear();
    }
};

// Each turn: the work done before it, then how long it waits and the
// second at which it begins.  Started at 1000 with an interval of 5.
TEST_F(Schedule, TurnsKeepTheirSecondsAndNeverBurst) {
    const struct {
        const char *what;
        time_t work;
        time_t waited;
        time_t begins;
    } turns[] = {
        {"first turn, interval after the start", 0, 5, 1005},
        {"on time", 0, 5, 1010},
        {"late by 2: a shorter wait", 2, 3, 1015},
        {"top in the deadline second", 5, 0, 1020},
        {"deadline passed: go on at once", 8, 0, 1028},
        {"schedule restarted from then", 0, 5, 1033},
        {"stopped for a long time", 1000, 0, 2033},
        {"one turn, not a burst", 0, 5, 2038},
    };
    interval = 5;
    startclock();
    EXPECT_EQ(T, 1005);
    for (const auto &t : turns) {
        SCOPED_TRACE(t.what);
        fake::clocknow += t.work;
        fake::waits.clear();
        time_t top = fake::clocknow;
        waitturn();
        EXPECT_EQ(Delta, top);
        EXPECT_EQ(fake::clocknow, t.begins);
        // A wait of 0 or less is no wait; no call at all is none either.
        time_t waited = 0;
        for (time_t w : fake::waits) {
            waited += std::max<time_t>(w, 0);
        }
        EXPECT_EQ(waited, t.waited);
        EXPECT_EQ(T, t.begins + interval);
    }
}

// A clock that stands still: every turn waits for the same fixed
// deadlines, which still advance by one interval a turn.
TEST_F(Schedule, ClockStandingStill) {
    interval = 3;
    fake::clockheld = true;
    startclock();
    for (time_t k = 1; k <= 4; ++k) {
        waitturn();
        EXPECT_EQ(Delta, 1000);
        EXPECT_EQ(fake::waits.back(), 3 * k);
        EXPECT_EQ(T, 1000 + 3 * (k + 1));
    }
}

TEST_F(Schedule, ChecksOfIntervalAndTimes) {
    const time_t far = std::numeric_limits<time_t>::max();
    const struct {
        int interval, iters;
        time_t now;
        bool ok;
    } cases[] = {
        {1, 0, 1000, true},     {5, 3, 1000, true},        {INT_MAX, 0, 1000, true}, {0, 0, 1000, false},
        {-1, 0, 1000, false},   {INT_MIN, 0, 1000, false}, {5, -1, 1000, false},     {INT_MAX, 0, far - 100, false},
        {5, 0, far - 3, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.interval << " " << c.iters << " at " << c.now);
        interval = c.interval;
        fake::clocknow = c.now;
        if (c.ok) {
            EXPECT_EXIT((checkargs(c.iters, "zv"), exit(0)), testing::ExitedWithCode(0), "^$");
        } else {
            EXPECT_EXIT(checkargs(c.iters, "zv"), testing::ExitedWithCode(1), "^zv \\(kov\\) v\\.2\\.0\nUsage: zv ");
        }
    }
}

}  // namespace
