#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "quro/match/subpixel/pose_step.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Sorted-copy reference of the median (mean of the two middle values for an even count).
double reference_median(std::vector<float> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (static_cast<double>(v[n / 2 - 1]) + v[n / 2]) / 2.0;
}

TEST(MedianMad, SmallListsFromTheDefinition) {
    EXPECT_EQ(quro::median_mad({1.f, 2.f, 3.f, 4.f}), std::make_pair(2.5f, 1.f));
    EXPECT_EQ(quro::median_mad({5.f}), std::make_pair(5.f, 0.f));
    EXPECT_EQ(quro::median_mad({}), std::make_pair(0.f, 0.f));
    EXPECT_EQ(quro::median_mad({4.f, -1.f, 9.f}), std::make_pair(4.f, 5.f));
}

TEST(MedianMad, AgreesWithASortedReferenceAndLeavesTheInputAlone) {
    cv::RNG rng(5);
    for (int n = 1; n < 60; ++n) {
        std::vector<float> v(static_cast<std::size_t>(n));
        // Few distinct values, so that ties around the middle are common.
        for (float& x : v) x = static_cast<float>(rng.uniform(-6, 7)) * 0.5f;
        const std::vector<float> before = v;
        const auto [med, mad] = quro::median_mad(v);
        EXPECT_EQ(v, before);
        const double ref_med = reference_median(v);
        EXPECT_FLOAT_EQ(med, static_cast<float>(ref_med)) << n;
        std::vector<float> dev;
        for (float x : v) dev.push_back(std::abs(x - med));
        EXPECT_FLOAT_EQ(mad, static_cast<float>(reference_median(dev))) << n;
    }
}

TEST(MedianMad, NaNValuesDoNotBreakTheSelection) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> v = {3.f, nan, 1.f, 2.f, nan, 0.f, 5.f};
    for (int i = 0; i < 200; ++i) v.push_back(nan);
    const auto result = quro::median_mad(v);  // must simply return
    EXPECT_TRUE(std::isnan(result.first));    // NaN ranks above every number: the middle is NaN
    const auto few = quro::median_mad({1.f, 2.f, nan});
    EXPECT_EQ(few.first, 2.f);
}

// Equation rows with a known exact solution x: rhs = rows * x in double, rounded to float.
struct System {
    cv::Mat rows, rhs;
    std::vector<float> weights;
};

System system_for(double x0, double x1, double x2_rad, int n = 60, unsigned seed = 1) {
    System s{cv::Mat(n, 3, CV_32FC1), cv::Mat(n, 1, CV_32FC1), std::vector<float>(n, 1.f)};
    cv::RNG rng(seed);
    for (int i = 0; i < n; ++i) {
        // Unit normal (a0, a1) and the rotation lever of a point at radius up to 40 px.
        const double phi = rng.uniform(0.0, 2 * kPi);
        const float a0 = static_cast<float>(std::cos(phi)), a1 = static_cast<float>(std::sin(phi));
        const float a2 = static_cast<float>(rng.uniform(-40.0, 40.0));
        s.rows.at<float>(i, 0) = a0;
        s.rows.at<float>(i, 1) = a1;
        s.rows.at<float>(i, 2) = a2;
        s.rhs.at<float>(i) = static_cast<float>(a0 * x0 + a1 * x1 + a2 * x2_rad);
    }
    return s;
}

bool step(const System& s, int tol, float& dx, float& dy, float& da) {
    return quro::pose_least_squares_step(s.rows, s.rhs, s.weights, tol, dx, dy, da);
}

bool accepts(double x0, double x1, double deg, int tol) {
    float dx, dy, da;
    return step(system_for(x0, x1, deg * kPi / 180.0), tol, dx, dy, da);
}

TEST(PoseStep, RecoversAKnownShiftAndRotation) {
    const System s = system_for(0.7, -0.4, 0.3 * kPi / 180.0);
    float dx = 0, dy = 0, da = 0;
    ASSERT_TRUE(step(s, 0, dx, dy, da));
    EXPECT_NEAR(dx, 0.7, 1e-4);
    EXPECT_NEAR(dy, -0.4, 1e-4);
    EXPECT_NEAR(da, 0.3, 1e-4);
}

TEST(PoseStep, BoundsFollowTheTolerance) {
    // Tolerance 0: 2.5 px and 2.5 degrees.
    EXPECT_TRUE(accepts(2.4, -2.4, 2.4, 0));
    EXPECT_FALSE(accepts(2.6, 0, 0, 0));
    EXPECT_FALSE(accepts(0, -2.6, 0, 0));
    EXPECT_FALSE(accepts(0, 0, 2.6, 0));
    // Tolerance 3: 5.5 px and 3 / 2 + 2.5 = 3.5 degrees.
    EXPECT_TRUE(accepts(5.4, -5.4, -3.4, 3));
    EXPECT_FALSE(accepts(5.6, 0, 0, 3));
    EXPECT_FALSE(accepts(0, 0, -3.6, 3));
    // Tolerance 1: the angle bound stays 2.5 degrees (integer division).
    EXPECT_TRUE(accepts(3.4, 0, 2.4, 1));
    EXPECT_FALSE(accepts(0, 0, 2.6, 1));
    // A negative tolerance divides toward zero: -1 gives 1.5 px and 2.5 degrees.
    EXPECT_TRUE(accepts(1.4, 0, 2.4, -1));
    EXPECT_FALSE(accepts(1.6, 0, 0, -1));
}

// The refinement of a small model starts up to one of its (large) angle steps off: its own
// rotation bound may widen the fixed one, never narrow it, and leaves the shift bound alone.
TEST(PoseStep, RotationBeyondTheFixedBoundIsAcceptedUpToTheGivenWiderBound) {
    const System s = system_for(0.2, -0.1, 3.5 * kPi / 180.0);
    float dx = 0.f, dy = 0.f, da = 0.f;
    EXPECT_FALSE(step(s, 0, dx, dy, da));
    ASSERT_TRUE(quro::pose_least_squares_step(s.rows, s.rhs, s.weights, 0, dx, dy, da, 4.f));
    EXPECT_NEAR(da, 3.5, 1e-3);
    EXPECT_NEAR(dx, 0.2, 1e-3);
    EXPECT_FALSE(quro::pose_least_squares_step(s.rows, s.rhs, s.weights, 0, dx, dy, da, 3.f));
    const System tilted = system_for(0.0, 0.0, 2.0 * kPi / 180.0);
    EXPECT_TRUE(quro::pose_least_squares_step(tilted.rows, tilted.rhs, tilted.weights, 0, dx, dy,
                                              da, 1.f));  // below 2.5: the fixed bound holds
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(quro::pose_least_squares_step(s.rows, s.rhs, s.weights, 0, dx, dy, da, nan));
    const System shifted = system_for(3.0, 0.0, 0.0);
    EXPECT_FALSE(quro::pose_least_squares_step(shifted.rows, shifted.rhs, shifted.weights, 0, dx,
                                               dy, da, 10.f));
}

TEST(PoseStep, LargeShiftIsRejectedAndOutputsStayUntouched) {
    const System s = system_for(6.0, 0.0, 0.0);
    float dx = 11.f, dy = 12.f, da = 13.f;
    EXPECT_FALSE(step(s, 0, dx, dy, da));
    EXPECT_EQ(dx, 11.f);
    EXPECT_EQ(dy, 12.f);
    EXPECT_EQ(da, 13.f);
}

TEST(PoseStep, NegligibleWeightsGiveTheZeroStep) {
    System s = system_for(1.0, 1.0, 0.01);
    std::fill(s.weights.begin(), s.weights.end(), 1e-5f);
    s.weights[3] = 0.f;
    s.weights[4] = -2.f;
    float dx = 9.f, dy = 9.f, da = 9.f;
    ASSERT_TRUE(step(s, 0, dx, dy, da));
    EXPECT_EQ(dx, 0.f);
    EXPECT_EQ(dy, 0.f);
    EXPECT_EQ(da, 0.f);
}

TEST(PoseStep, SkippedRowsDoNotPullTheSolution) {
    System s = system_for(0.5, 0.25, 0.0, 80, 9);
    for (int i = 0; i < 80; i += 4) {
        s.rhs.at<float>(i) = 100.f;  // outliers...
        s.weights[static_cast<std::size_t>(i)] = 1e-6f;  // ...weighted out
    }
    float dx, dy, da;
    ASSERT_TRUE(step(s, 0, dx, dy, da));
    EXPECT_NEAR(dx, 0.5, 1e-4);
    EXPECT_NEAR(dy, 0.25, 1e-4);
    EXPECT_NEAR(da, 0.0, 1e-4);
}

TEST(PoseStep, WeightsScaleTheEquations) {
    // Two inconsistent observations of the x shift: the weighted mean is the answer.
    cv::Mat rows = (cv::Mat_<float>(4, 3) << 1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1);
    cv::Mat rhs = (cv::Mat_<float>(4, 1) << 1.f, 2.f, 0.5f, 0.01f);
    float dx, dy, da;
    ASSERT_TRUE(quro::pose_least_squares_step(rows, rhs, {3.f, 1.f, 1.f, 1.f}, 0, dx, dy, da));
    EXPECT_NEAR(dx, 1.25, 1e-6);
    EXPECT_NEAR(dy, 0.5, 1e-6);
    EXPECT_NEAR(da, 0.01 * 57.29578, 1e-5);
}

TEST(PoseStep, RankDeficientSystemTakesTheMinimumNormSolution) {
    // No rotation lever at all: the rotation is unobservable and comes out 0.
    System s = system_for(0.3, -0.2, 0.0, 30, 4);
    s.rows.col(2).setTo(0.f);
    float dx, dy, da;
    ASSERT_TRUE(step(s, 0, dx, dy, da));
    EXPECT_NEAR(dx, 0.3, 1e-5);
    EXPECT_NEAR(dy, -0.2, 1e-5);
    EXPECT_NEAR(da, 0.f, 1e-9);
}

TEST(PoseStep, EmptySystemIsTheZeroStep) {
    float dx = 1, dy = 1, da = 1;
    EXPECT_TRUE(quro::pose_least_squares_step(cv::Mat(), cv::Mat(), {}, 0, dx, dy, da));
    EXPECT_EQ(dx, 0.f);
    EXPECT_EQ(dy, 0.f);
    EXPECT_EQ(da, 0.f);
}

TEST(PoseStep, NonFiniteEquationsAreRejected) {
    System s = system_for(0.1, 0.1, 0.0);
    s.rows.at<float>(2, 0) = std::numeric_limits<float>::infinity();
    float dx = 4.f, dy = 4.f, da = 4.f;
    EXPECT_FALSE(step(s, 0, dx, dy, da));
    s = system_for(0.1, 0.1, 0.0);
    s.rhs.at<float>(5) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(step(s, 0, dx, dy, da));
    EXPECT_EQ(dx, 4.f);
    // A NaN weight only drops its row.
    s = system_for(0.1, 0.1, 0.0);
    s.weights[1] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(step(s, 0, dx, dy, da));
    EXPECT_NEAR(dx, 0.1, 1e-5);
}

TEST(PoseStep, MismatchedSizesAndTypesThrow) {
    const System s = system_for(0.1, 0.1, 0.0, 10);
    float dx, dy, da;
    EXPECT_THROW(quro::pose_least_squares_step(s.rows, s.rhs, std::vector<float>(9, 1.f), 0, dx,
                                               dy, da),
                 cv::Exception);
    EXPECT_THROW(quro::pose_least_squares_step(s.rows, s.rhs.rowRange(0, 9), s.weights, 0, dx, dy,
                                               da),
                 cv::Exception);
    EXPECT_THROW(quro::pose_least_squares_step(s.rows.colRange(0, 2), s.rhs, s.weights, 0, dx, dy,
                                               da),
                 cv::Exception);
    cv::Mat rows64;
    s.rows.convertTo(rows64, CV_64F);
    EXPECT_THROW(quro::pose_least_squares_step(rows64, s.rhs, s.weights, 0, dx, dy, da),
                 cv::Exception);
    EXPECT_THROW(quro::pose_least_squares_step(s.rows, cv::Mat(), s.weights, 0, dx, dy, da),
                 cv::Exception);
    // A right-hand side given as one row is accepted.
    EXPECT_TRUE(quro::pose_least_squares_step(s.rows, s.rhs.t(), s.weights, 0, dx, dy, da));
    EXPECT_NEAR(dx, 0.1, 1e-5);
}

}  // namespace
