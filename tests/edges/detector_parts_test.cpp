// The pieces of the filter-based edge detector on their own: the quadratic peak fit against a
// double-precision least-squares reference, the Sobel magnitude against OpenCV, the candidate
// offsets of a linking step, and the thinning of chains.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "quro/edges/quadratic_peak.h"
#include "quro/edges/sobel_magnitude.h"
#include "quro/edges/subpix_detector.h"
#include "quro/numeric.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Quadratic peak fit

struct RefPeak {
    bool ok = false;
    double ox = 0, oy = 0, nx = 0, ny = 0;
    double lambda = 0, lambda2 = 0;
};

// Least squares with a generic solver and a generic eigen-decomposition, in double.
RefPeak reference_peak(const float m[9]) {
    cv::Mat A(9, 6, CV_64F), z(9, 1, CV_64F);
    for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) {
            const int k = (j + 1) * 3 + (i + 1);
            const double x = i, y = j;
            double* a = A.ptr<double>(k);
            a[0] = 1;
            a[1] = x;
            a[2] = y;
            a[3] = x * x;
            a[4] = x * y;
            a[5] = y * y;
            z.at<double>(k) = m[k];
        }
    cv::Mat k;
    cv::solve(A, z, k, cv::DECOMP_SVD);
    const double kx = k.at<double>(1), ky = k.at<double>(2), kxx = k.at<double>(3),
                 kxy = k.at<double>(4), kyy = k.at<double>(5);
    // Hessian in (x, y) = (column, row) order.
    const cv::Matx22d h(2 * kxx, kxy, kxy, 2 * kyy);
    cv::Mat vals, vecs;
    cv::eigen(cv::Mat(h), vals, vecs);
    const int big = std::fabs(vals.at<double>(1)) > std::fabs(vals.at<double>(0)) ? 1 : 0;
    RefPeak r;
    r.lambda = vals.at<double>(big);
    r.lambda2 = vals.at<double>(1 - big);
    r.nx = vecs.at<double>(big, 0);
    r.ny = vecs.at<double>(big, 1);
    const double d = 2 * kxx * r.nx * r.nx + 2 * kxy * r.nx * r.ny + 2 * kyy * r.ny * r.ny;
    const double t = -(kx * r.nx + ky * r.ny) / d;
    r.ox = t * r.nx;
    r.oy = t * r.ny;
    r.ok = r.lambda < 0 && std::fabs(r.ox) <= 0.5 && std::fabs(r.oy) <= 0.5;
    return r;
}

TEST(QuadraticPeak, AgreesWithLeastSquaresReference) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> u(0.f, 1.f);
    int compared = 0, accepted = 0;
    for (int iter = 0; iter < 20000; ++iter) {
        // A ridge of random direction, position and sharpness, with a little noise; every fifth
        // set is plain noise.
        float m[9];
        const double th = u(rng) * 2 * CV_PI, px = u(rng) - 0.5, py = u(rng) - 0.5;
        const double amp = 20 + 200 * u(rng), sharp = 0.2 + 2 * u(rng);
        for (int j = -1; j <= 1; ++j)
            for (int i = -1; i <= 1; ++i) {
                const double across = (i - px) * std::cos(th) + (j - py) * std::sin(th);
                double v = amp * std::exp(-sharp * across * across) + 2.0 * (u(rng) - 0.5);
                if (iter % 5 == 0) v = 100.0 * u(rng);
                m[(j + 1) * 3 + (i + 1)] = static_cast<float>(v);
            }
        const RefPeak ref = reference_peak(m);
        quro::QuadraticPeak pk{};
        const bool ok = quro::fit_quadratic_peak(m, pk);
        // Decisions near a limit may differ by rounding; skip those.
        const bool borderline = std::fabs(std::fabs(ref.ox) - 0.5) < 1e-4 ||
                                std::fabs(std::fabs(ref.oy) - 0.5) < 1e-4 ||
                                std::fabs(ref.lambda) < 1e-3 ||
                                std::fabs(std::fabs(ref.lambda) - std::fabs(ref.lambda2)) < 1e-3;
        if (borderline) continue;
        ++compared;
        ASSERT_EQ(ok, ref.ok) << iter;
        if (!ok) continue;
        ++accepted;
        EXPECT_NEAR(pk.ox, ref.ox, 1e-4) << iter;
        EXPECT_NEAR(pk.oy, ref.oy, 1e-4) << iter;
        EXPECT_NEAR(std::fabs(pk.nx * ref.nx + pk.ny * ref.ny), 1.0, 1e-5) << iter;
        EXPECT_NEAR(pk.nx * pk.nx + pk.ny * pk.ny, 1.f, 1e-6f);
    }
    EXPECT_GT(compared, 19000);
    EXPECT_GT(accepted, 5000);
}

TEST(QuadraticPeak, RidgeAlongRowsHasAColumnNormal) {
    // Magnitudes vary along the columns only: peak 0.25 px right of centre, normal along x. A
    // swapped (row, column) mapping would give a normal along y and d = 0.
    const float c[3] = {60.f, 100.f, 80.f};
    float m[9];
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) m[j * 3 + i] = c[i];
    quro::QuadraticPeak pk{};
    ASSERT_TRUE(quro::fit_quadratic_peak(m, pk));
    EXPECT_FLOAT_EQ(std::fabs(pk.nx), 1.f);
    EXPECT_FLOAT_EQ(pk.ny, 0.f);
    // Parabola through 60, 100, 80: peak at (80 - 60) / (2 (2*100 - 60 - 80)) = 1/6.
    EXPECT_NEAR(pk.ox, 1.0 / 6.0, 1e-6);
    EXPECT_NEAR(pk.oy, 0.0, 1e-7);
}

TEST(QuadraticPeak, RejectsValleysFlatPatchesAndFarPeaks) {
    quro::QuadraticPeak pk{};
    float flat[9];
    std::fill(flat, flat + 9, 50.f);
    EXPECT_FALSE(quro::fit_quadratic_peak(flat, pk));
    const float valley[9] = {90, 10, 90, 90, 10, 90, 90, 10, 90};
    EXPECT_FALSE(quro::fit_quadratic_peak(valley, pk));
    const float rising[9] = {10, 50, 90, 10, 50, 90, 10, 50, 90};  // no peak inside
    EXPECT_FALSE(quro::fit_quadratic_peak(rising, pk));
    const float beyond[9] = {0, 90, 100, 0, 90, 100, 0, 90, 100};  // peak > 0.5 px right
    EXPECT_FALSE(quro::fit_quadratic_peak(beyond, pk));
}

// ---------------------------------------------------------------------------------------------
// Sobel magnitude

TEST(SobelMagnitude, EqualsOpenCvScaledSobelBitForBit) {
    std::mt19937 rng(22);
    cv::Mat img(64, 80, CV_8U);
    cv::randu(img, 0, 256);
    cv::Mat gx, gy, mag;
    cv::Sobel(img, gx, CV_32F, 1, 0, 3, 0.25);
    cv::Sobel(img, gy, CV_32F, 0, 1, 3, 0.25);
    cv::magnitude(gx, gy, mag);
    for (int r = 1; r < img.rows - 1; ++r)
        for (int c = 1; c < img.cols - 1; ++c) {
            int sx, sy;
            quro::sobel_sums(img.ptr<uchar>(r - 1), img.ptr<uchar>(r), img.ptr<uchar>(r + 1), c - 1,
                             c, c + 1, sx, sy);
            ASSERT_EQ(static_cast<float>(sx) * 0.25f, gx.at<float>(r, c));
            ASSERT_EQ(static_cast<float>(sy) * 0.25f, gy.at<float>(r, c));
            ASSERT_EQ(quro::sobel_magnitude(sx, sy), mag.at<float>(r, c)) << r << " " << c;
        }
}

// ---------------------------------------------------------------------------------------------
// Candidate offsets of a linking step

struct Off {
    int dc, dr;
    bool operator==(const Off& o) const { return dc == o.dc && dr == o.dr; }
};

std::vector<Off> offsets(double oy, double ox, double w) {
    const quro::LinkOffsets lo = quro::link_candidates(oy, ox, w);
    std::vector<Off> v;
    for (int k = 0; k < lo.count; ++k) v.push_back({lo.dc[k], lo.dr[k]});
    return v;
}

TEST(LinkCandidates, StraightStepsInEachQuadrant) {
    // w = 0 walks down the rows: R = 1, C = 0 -> first (0, 1), then (1, 1), (1, 0).
    EXPECT_EQ(offsets(0, 0, 0), (std::vector<Off>{{0, 1}, {1, 1}, {1, 0}}));
    // w = 90 walks along +x: R = 0 -> (1, 0), then (1, -1), (0, -1) (second quadrant row).
    EXPECT_EQ(offsets(0, 0, 90), (std::vector<Off>{{1, 0}, {1, -1}, {0, -1}}));
    // w = 180 walks up: (0, -1), (-1, -1), (-1, 0).
    EXPECT_EQ(offsets(0, 0, 180), (std::vector<Off>{{0, -1}, {-1, -1}, {-1, 0}}));
    // w = 270 walks along -x: (-1, 0), (-1, 1), (0, 1).
    EXPECT_EQ(offsets(0, 0, 270), (std::vector<Off>{{-1, 0}, {-1, 1}, {0, 1}}));
    // Diagonal w = 45: (1, 1), then (1, 0), (0, 1).
    EXPECT_EQ(offsets(0, 0, 45), (std::vector<Off>{{1, 1}, {1, 0}, {0, 1}}));
    EXPECT_EQ(offsets(0, 0, 225), (std::vector<Off>{{-1, -1}, {-1, 0}, {0, -1}}));
}

TEST(LinkCandidates, ExtraNeighbourWhenThePointSitsNearTheOtherSide) {
    // w = 80, point in the upper part of its pixel (oy = -0.4): r = -0.4 + cos 80 = -0.226,
    // R = 0; r + 0.5 = 0.274 is not below 0.25 + eps: no extra.
    EXPECT_EQ(offsets(-0.4, 0, 80).size(), 3u);
    // oy = -0.45: r + 0.5 = 0.224 < 0.25: (1, -1) is added.
    EXPECT_EQ(offsets(-0.45, 0, 80), (std::vector<Off>{{1, 0}, {1, 1}, {0, 1}, {1, -1}}));
    // w = 10, ox = -0.45: c = -0.45 + sin 10 = -0.276, C = 0; c + 0.5 < 0.25: (-1, 1) added.
    EXPECT_EQ(offsets(0, -0.45, 10), (std::vector<Off>{{0, 1}, {1, 1}, {1, 0}, {-1, 1}}));
    // w = 190, ox = 0.45: c = 0.45 + sin 190 = 0.276; 0.5 - c < 0.25: (1, -1) added.
    EXPECT_EQ(offsets(0, 0.45, 190), (std::vector<Off>{{0, -1}, {-1, -1}, {-1, 0}, {1, -1}}));
}

TEST(LinkCandidates, SecondStepWhenTheFirstStaysInThePixel) {
    // w = 45 from the far corner: r = c = -0.45 + 0.707 = 0.257 -> R = C = 0; stepping again
    // gives 0.964 -> (1, 1).
    EXPECT_EQ(offsets(-0.45, -0.45, 45).front(), (Off{1, 1}));
}

TEST(LinkCandidates, FirstOffsetCanReachTwoPixels) {
    // oy = 0.5, w = 0: r = 1.5 rounds away from zero to 2.
    EXPECT_EQ(offsets(0.5, 0, 0).front(), (Off{0, 2}));
}

TEST(LinkCandidates, OffsetsStayWithinTwoPixelsForAnyInput) {
    std::mt19937 rng(23);
    std::uniform_real_distribution<double> o(-0.5, 0.5), w(0.0, 360.0);
    for (int iter = 0; iter < 100000; ++iter) {
        const quro::LinkOffsets lo = quro::link_candidates(o(rng), o(rng), w(rng));
        ASSERT_GE(lo.count, 3);
        for (int k = 0; k < lo.count; ++k) {
            ASSERT_LE(std::abs(lo.dc[k]), 2);
            ASSERT_LE(std::abs(lo.dr[k]), 2);
            ASSERT_FALSE(lo.dc[k] == 0 && lo.dr[k] == 0);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Chain thinning

std::vector<int> select(const std::vector<cv::Point2f>& pts, int n) {
    std::vector<float> cols, rows;
    for (const auto& p : pts) {
        cols.push_back(p.x);
        rows.push_back(p.y);
    }
    return quro::select_chain_points(cols.data(), rows.data(), static_cast<int>(pts.size()), n);
}

std::vector<cv::Point2f> line_points(int count, float slope) {
    std::vector<cv::Point2f> pts;
    for (int k = 0; k < count; ++k) pts.emplace_back(static_cast<float>(k), 3.f + slope * k);
    return pts;
}

TEST(SelectChainPoints, StraightLineKeepsWindowStartsAndTheLastPoint) {
    // 23 points, window 5: starts 0, 4, ..., 20; 3 points remain from 20 (> 5 / 2): add 22.
    EXPECT_EQ(select(line_points(23, 0.3f), 5), (std::vector<int>{0, 4, 8, 12, 16, 20, 22}));
    // 22 points: from 20 two remain, not more than 2: no last point.
    EXPECT_EQ(select(line_points(22, 0.3f), 5), (std::vector<int>{0, 4, 8, 12, 16, 20}));
}

TEST(SelectChainPoints, ShortChainsAndSmallWindows) {
    EXPECT_TRUE(select(line_points(4, 0.f), 5).empty());
    EXPECT_EQ(select(line_points(3, 0.f), 1), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(select(line_points(3, 0.f), 0), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(select(line_points(3, 0.f), -4), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(select({}, 1).empty());
    // Exactly one window.
    EXPECT_EQ(select(line_points(5, 0.f), 5), (std::vector<int>{0, 4}));
}

TEST(SelectChainPoints, CornersStartNewWindows) {
    // Along x for 6 points, then straight down: the window that first leaves the line by more
    // than 0.2 px stops growing there.
    std::vector<cv::Point2f> pts;
    for (int k = 0; k <= 5; ++k) pts.emplace_back(static_cast<float>(k), 0.f);
    for (int k = 1; k <= 6; ++k) pts.emplace_back(5.f, static_cast<float>(k));
    const std::vector<int> sel = select(pts, 8);
    ASSERT_GE(sel.size(), 2u);
    EXPECT_EQ(sel[0], 0);
    // Points 0..5 and 6 = (5, 1): the window 0..6 is the first to bend, so the next start is 6.
    EXPECT_EQ(sel[1], 6);
    for (std::size_t k = 1; k < sel.size(); ++k) EXPECT_GT(sel[k], sel[k - 1]);
}

TEST(SelectChainPoints, SelectedWindowsStayWithinTheLineTolerance) {
    std::mt19937 rng(24);
    std::uniform_real_distribution<float> u(-1.f, 1.f);
    for (int iter = 0; iter < 200; ++iter) {
        std::vector<cv::Point2f> pts;
        cv::Point2f p(0, 0);
        float heading = u(rng) * 3.f;
        for (int k = 0; k < 60; ++k) {
            heading += 0.15f * u(rng);
            p += cv::Point2f(std::cos(heading), std::sin(heading));
            pts.push_back(p);
        }
        const int n = 3 + iter % 8;
        const std::vector<int> sel = select(pts, n);
        ASSERT_FALSE(sel.empty());
        EXPECT_EQ(sel.front(), 0);
        for (std::size_t k = 1; k < sel.size(); ++k) {
            ASSERT_GT(sel[k], sel[k - 1]);
            ASSERT_LE(sel[k] - sel[k - 1], n - 1);
        }
    }
}

}  // namespace
