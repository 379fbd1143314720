// Quadratic peak fits on score windows: exact recovery on quadratic surfaces, the acceptance
// limits, and the refusals (saddles, minima, singular surfaces).
#include "quro/match/subpixel/peak_surface.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <opencv2/core.hpp>
#include <vector>

namespace {

using Surface = std::function<double(double ex, double ey, double t)>;

// Three 5 x 5 windows sampled from s at cell offsets ex = i - 2, ey = j - 2 and the angle offsets
// t.
std::array<std::vector<float>, 3> sample(const Surface& s, const float t[3]) {
    std::array<std::vector<float>, 3> w;
    for (int k = 0; k < 3; ++k) {
        w[k].resize(25);
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 5; ++i) w[k][j * 5 + i] = float(s(i - 2, j - 2, t[k]));
    }
    return w;
}

// A negative definite quadratic with its maximum at (ox, oy, ot), with cross terms.
Surface peak_at(double ox, double oy, double ot) {
    return [=](double ex, double ey, double t) {
        const double a = ex - ox, b = ey - oy, c = t - ot;
        return 100.0 - 3.0 * a * a - 2.0 * b * b - 0.5 * c * c + 0.8 * a * b + 0.3 * a * c -
               0.2 * b * c;
    };
}

bool fit3(const Surface& s, float step, quro::PeakOffset& out) {
    const float t[3] = {-step, 0.f, step};
    const auto w = sample(s, t);
    const float* windows[3] = {w[0].data(), w[1].data(), w[2].data()};
    return quro::fit_peak_3d(windows, t, 5, 2, 2, step, out);
}

TEST(PeakFit3d, RecoversTheMaximumOfAQuadratic) {
    const float step = 2.f;
    for (const auto& o : {std::array<double, 3>{0.3, -0.2, 0.8}, {-0.9, 0.95, -1.9}, {0, 0, 0}}) {
        quro::PeakOffset out{};
        ASSERT_TRUE(fit3(peak_at(o[0], o[1], o[2]), step, out));
        EXPECT_NEAR(out.dx, o[0], 1e-3);
        EXPECT_NEAR(out.dy, o[1], 1e-3);
        EXPECT_NEAR(out.dangle, o[2], 1e-3);
    }
}

TEST(PeakFit3d, AStationaryPointBeyondOnePixelOrOneStepIsRefused) {
    const float step = 2.f;
    for (const auto& o : {std::array<double, 3>{1.2, 0, 0}, {0, -1.1, 0}, {0, 0, 2.3}}) {
        quro::PeakOffset out{7.f, 7.f, 7.f};
        EXPECT_FALSE(fit3(peak_at(o[0], o[1], o[2]), step, out));
        EXPECT_EQ(out.dx, 7.f);
        EXPECT_EQ(out.dy, 7.f);
        EXPECT_EQ(out.dangle, 7.f);
    }
}

TEST(PeakFit3d, ASurfaceWithoutStationaryPointIsRefused) {
    // No angle dependence at all: the angle row and column of H are 0, so H has no inverse. Taking
    // the zero matrix as its inverse would accept offset 0.
    const Surface flat_in_angle = [](double ex, double ey, double) {
        return 50.0 - (ex - 0.2) * (ex - 0.2) - ey * ey;
    };
    quro::PeakOffset out{7.f, 7.f, 7.f};
    EXPECT_FALSE(fit3(flat_in_angle, 1.f, out));
    EXPECT_EQ(out.dx, 7.f);
    const Surface constant = [](double, double, double) { return 3.0; };
    EXPECT_FALSE(fit3(constant, 1.f, out));
    EXPECT_EQ(out.dangle, 7.f);
}

// A 5 x 5 window of f at offsets ex = i - 2, ey = j - 2.
std::vector<float> window(const std::function<double(double, double)>& f) {
    std::vector<float> w(25);
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i) w[j * 5 + i] = float(f(i - 2, j - 2));
    return w;
}

TEST(PeakFit2d, StepsAlongTheStrongerCurvatureOnly) {
    float dx = 9.f, dy = 9.f;
    // Curvature 4 across columns, 2 across rows: the step runs along x alone.
    auto w = window(
        [](double x, double y) { return -2 * (x - 0.3) * (x - 0.3) - (y + 0.2) * (y + 0.2); });
    ASSERT_TRUE(quro::fit_peak_2d(w.data(), 5, 2, 2, dx, dy));
    EXPECT_NEAR(dx, 0.3f, 1e-5);
    EXPECT_NEAR(dy, 0.f, 1e-6);
    // And the other way round.
    w = window(
        [](double x, double y) { return -(x - 0.3) * (x - 0.3) - 2 * (y + 0.2) * (y + 0.2); });
    ASSERT_TRUE(quro::fit_peak_2d(w.data(), 5, 2, 2, dx, dy));
    EXPECT_NEAR(dx, 0.f, 1e-6);
    EXPECT_NEAR(dy, -0.2f, 1e-5);
}

TEST(PeakFit2d, EqualCurvaturesStepAlongOneAxis) {
    // Both eigenvalues -2: the first eigenvector of the decomposition, one of the two axes, is
    // taken, so exactly one of the offsets is fitted.
    const auto w =
        window([](double x, double y) { return -(x - 0.3) * (x - 0.3) - (y + 0.2) * (y + 0.2); });
    float dx = 9.f, dy = 9.f;
    ASSERT_TRUE(quro::fit_peak_2d(w.data(), 5, 2, 2, dx, dy));
    const bool along_x = std::fabs(dx) > 1e-6f;
    EXPECT_NE(along_x, std::fabs(dy) > 1e-6f);
    if (along_x) {
        EXPECT_NEAR(dx, 0.3f, 1e-5);
    } else {
        EXPECT_NEAR(dy, -0.2f, 1e-5);
    }
}

TEST(PeakFit2d, FollowsATiltedPeak) {
    // A peak elongated along the diagonal: the step follows the short axis (the anti-diagonal).
    const auto w = window([](double x, double y) {
        const double u = (x - 0.2 + y - 0.2) / std::sqrt(2.0),
                     v = (x - 0.2 - (y - 0.2)) / std::sqrt(2.0);
        return -0.5 * u * u - 3.0 * v * v;
    });
    float dx = 9.f, dy = 9.f;
    ASSERT_TRUE(quro::fit_peak_2d(w.data(), 5, 2, 2, dx, dy));
    // The peak lies on the diagonal through the centre, so the anti-diagonal step finds it at 0.
    EXPECT_NEAR(dx, 0.f, 1e-5);
    EXPECT_NEAR(dy, 0.f, 1e-5);
}

TEST(PeakFit2d, SaddlesAndMinimaSetNothing) {
    const std::function<double(double, double)> shapes[] = {
        [](double x, double y) { return -x * x + y * y; },           // saddle
        [](double x, double y) { return x * x + 0.5 * y * y + x; },  // minimum
        [](double x, double) { return -x * x + 0.3 * x; },           // ridge: one eigenvalue 0
    };
    for (const auto& f : shapes) {
        const auto w = window(f);
        float dx = 7.f, dy = 7.f;
        EXPECT_FALSE(quro::fit_peak_2d(w.data(), 5, 2, 2, dx, dy));
        EXPECT_EQ(dx, 7.f);
        EXPECT_EQ(dy, 7.f);
    }
}

TEST(PeakFit2d, AStepBeyondSixTenthsOfAPixelIsRefused) {
    float dx = 7.f, dy = 7.f;
    auto w = window([](double x, double y) { return -2 * (x - 0.7) * (x - 0.7) - y * y; });
    EXPECT_FALSE(quro::fit_peak_2d(w.data(), 5, 2, 2, dx, dy));
    EXPECT_EQ(dx, 7.f);
    w = window([](double x, double y) { return -(x) * (x)-2 * (y + 0.65) * (y + 0.65); });
    EXPECT_FALSE(quro::fit_peak_2d(w.data(), 5, 2, 2, dx, dy));
    EXPECT_EQ(dy, 7.f);
    w = window([](double x, double y) { return -2 * (x - 0.55) * (x - 0.55) - y * y; });
    EXPECT_TRUE(quro::fit_peak_2d(w.data(), 5, 2, 2, dx, dy));
    EXPECT_NEAR(dx, 0.55f, 1e-5);
}

TEST(PeakFit2d, ReadsOnlyTheNeighbourhoodOfTheCell) {
    // Values outside the 3 x 3 block around (1, 3) do not matter.
    auto w = window([](double x, double y) {
        return -2 * (x + 1 - 0.25) * (x + 1 - 0.25) - (y - 1) * (y - 1);
    });
    auto v = w;
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i)
            if (std::abs(i - 1) > 1 || std::abs(j - 3) > 1) v[j * 5 + i] = 1e9f;
    float dx1 = 0, dy1 = 0, dx2 = 0, dy2 = 0;
    ASSERT_TRUE(quro::fit_peak_2d(w.data(), 5, 1, 3, dx1, dy1));
    ASSERT_TRUE(quro::fit_peak_2d(v.data(), 5, 1, 3, dx2, dy2));
    EXPECT_EQ(dx1, dx2);
    EXPECT_EQ(dy1, dy2);
    EXPECT_NEAR(dx1, 0.25f, 1e-5);
}

}  // namespace
