#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "quro/numeric.h"
#include "quro/stopwatch.h"
#include "testing/test_clock.h"

namespace {

TEST(Stopwatch, LapRestartsWhileElapsedKeepsGrowing) {
    static std::int64_t now_ns = 0;  // the test's clock
    quro::Stopwatch sw([] { return now_ns; });
    now_ns = 20'000'000;
    const double first = sw.lap("first");
    now_ns += 5'000'000;
    const double second = sw.lap("second");
    EXPECT_DOUBLE_EQ(first, 0.020);
    EXPECT_DOUBLE_EQ(second, 0.005);
    EXPECT_DOUBLE_EQ(sw.elapsed(), 0.025);
}

TEST(Stopwatch, TimeoutsBelowOneNeverPass) {
    const quro::Stopwatch sw = quro_test::expired_stopwatch();
    EXPECT_FALSE(quro::timed_out(sw, 0));
    EXPECT_FALSE(quro::timed_out(sw, -1));
    EXPECT_TRUE(quro::timed_out(sw, 1));
    EXPECT_FALSE(quro::timed_out(sw, 10000000));  // more than the hour that passed
}

TEST(Rounding, HalvesRoundAwayFromZero) {
    EXPECT_EQ(quro::round_half_away(2.5f), 3);
    EXPECT_EQ(quro::round_half_away(-2.5f), -3);
    EXPECT_EQ(quro::round_half_away(2.49f), 2);
    EXPECT_EQ(quro::round_half_away(-2.49f), -2);
    EXPECT_EQ(quro::round_half_away(0.f), 0);
    EXPECT_EQ(quro::round_half_away(-0.5), -1);
}

TEST(AngleWrap, WrapsIntoHalfOpenRanges) {
    EXPECT_FLOAT_EQ(quro::wrap_angle_180(180.f), 180.f);
    EXPECT_FLOAT_EQ(quro::wrap_angle_180(-180.f), 180.f);
    EXPECT_FLOAT_EQ(quro::wrap_angle_180(190.f), -170.f);
    EXPECT_FLOAT_EQ(quro::wrap_angle_180(-190.f), 170.f);
    EXPECT_FLOAT_EQ(quro::wrap_angle_180(725.f), 5.f);
    EXPECT_FLOAT_EQ(quro::wrap_angle_360(-10.f), 350.f);
    EXPECT_FLOAT_EQ(quro::wrap_angle_360(360.f), 0.f);
    EXPECT_FLOAT_EQ(quro::wrap_angle_360(720.5f), 0.5f);
    const float tiny = quro::wrap_angle_360(-1e-9f);
    EXPECT_GE(tiny, 0.f);
    EXPECT_LT(tiny, 360.f);
}

TEST(AngleWrap, HugeAndNonFiniteValuesReturnPromptly) {
    const float big = quro::wrap_angle_180(3.0e38f);
    EXPECT_GT(big, -180.f);
    EXPECT_LE(big, 180.f);
    EXPECT_TRUE(std::isnan(quro::wrap_angle_180(std::nanf(""))));
    EXPECT_TRUE(std::isnan(quro::wrap_angle_360(std::numeric_limits<float>::infinity())));
}

}  // namespace
