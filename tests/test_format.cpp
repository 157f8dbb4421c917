// The hand-built rate line must be byte for byte what printf's "%.1f"
// and "%8d" give: compared over the values the line can carry, and over
// the halves where the rounding rule shows.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "core/zorvat.h"

namespace {

std::string ours(double v, int width) {
    char buf[FMTROOM];
    char *end = fmtfixed(buf, v, width);
    return {buf, static_cast<size_t>(end - buf)};
}

std::string library(double v, int width) {
    char buf[FMTROOM + 16];
    snprintf(buf, sizeof buf, "%*.1f", width, v);
    return buf;
}

TEST(Format, SpecialValuesAndHalves) {
    const double cases[] = {0.0,  -0.0,         -1.0,          0.05,         0.25,       0.75,   1.25,  2.5,
                            0.35, 0.45,         9.95,          99.95,        0.04999999, 1e-300, 0.15,  0.5,
                            1.5,  4294967295.0, 68719476735.0, 0x1p52 + 0.5, 0x1p53 - 1, 1e17,   -2.25, 1e300};
    for (double v : cases) {
        for (int width : {6, 8, 14}) {
            EXPECT_EQ(ours(v, width), library(v, width)) << v;
        }
    }
}

// Rates as the line makes them: a 32-bit change scaled by a unit and
// divided by an interval, and sums of two such.
TEST(Format, RatesOfEveryUnitAndInterval) {
    const double scale[][2] = {{1, 1048576}, {1, 1024}, {1, 1}, {8, 1048576}, {8, 1024}, {8, 1}};
    std::mt19937_64 rng(20261208);
    int differ = 0;
    for (int i = 0; i < 300000 && differ < 5; ++i) {
        auto d = static_cast<uint32_t>(rng());
        d >>= rng() % 32;  // small changes as often as large ones
        int secs = 1 + static_cast<int>(rng() % (i % 2 ? 7 : 100000));
        const double *u = scale[i % 6];
        double v = static_cast<double>(d) * u[0] / u[1];
        for (double rate : {v / secs, (v + v / 3) / secs}) {
            if (ours(rate, 14) != library(rate, 14)) {
                ADD_FAILURE() << "rate " << rate << ": " << ours(rate, 14) << " vs " << library(rate, 14);
                ++differ;
            }
        }
    }
}

}  // namespace
