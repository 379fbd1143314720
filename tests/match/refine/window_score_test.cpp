// The window scorer: its kernels against a double-precision reference, the window placement and
// end-of-map rule, the best cell, and the cell-partitioned scoring.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "quro/cpu.h"
#include "quro/match/templates.h"
#include "quro/match/refine/window_kernels.h"
#include "quro/match/refine/window_score.h"
#include "testing/normal_maps.h"

namespace {

using quro::NormalTemplate;
using quro::WindowTemplate;

// Two maps held in exactly sized buffers, so that the sanitizer sees any read past their end.
struct ExactMaps {
    std::vector<float> x, y;
    cv::Mat nx, ny;
    ExactMaps(int rows, int cols, cv::RNG& rng) : x(std::size_t(rows) * cols), y(x.size()) {
        for (float& v : x) v = rng.uniform(-1.f, 1.f);
        for (float& v : y) v = rng.uniform(-1.f, 1.f);
        nx = cv::Mat(rows, cols, CV_32FC1, x.data());
        ny = cv::Mat(rows, cols, CV_32FC1, y.data());
    }
    quro::NormalMapsRef ref() const { return quro::normal_maps_ref(nx, ny); }
};

NormalTemplate random_template(cv::RNG& rng, int n, int reach) {
    NormalTemplate t;
    t.min_x = t.min_y = INT_MAX;
    t.max_x = t.max_y = INT_MIN;
    for (int k = 0; k < n; ++k) {
        const int x = rng.uniform(-reach, reach + 1), y = rng.uniform(-reach, reach + 1);
        const float a = rng.uniform(0.f, 6.2831853f);
        t.xs.push_back(x);
        t.ys.push_back(y);
        t.nxs.push_back(std::cos(a));
        t.nys.push_back(std::sin(a));
        t.min_x = std::min(t.min_x, x);
        t.max_x = std::max(t.max_x, x);
        t.min_y = std::min(t.min_y, y);
        t.max_y = std::max(t.max_y, y);
    }
    return t;
}

// The window at corner (x0, y0) in double precision, straight from the definition: linear
// addressing, and cells whose box would start before the first map pixel or end past the last
// left at 0.
std::vector<double> reference_window_at(const cv::Mat& nx, const cv::Mat& ny,
                                        const NormalTemplate& t, long long x0, long long y0,
                                        int size, bool absolute) {
    const int rows = nx.rows, cols = nx.cols;
    const long long w = t.max_x - t.min_x + 1, h = t.max_y - t.min_y + 1;
    const long long limit = (rows - h + 1) * cols - w + 1;
    const float* mx = nx.ptr<float>();
    const float* my = ny.ptr<float>();
    std::vector<double> out(std::size_t(size) * size, 0.0);
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
            const long long base = (y0 + j) * cols + x0 + i;
            if (base < 0 || base >= limit) continue;
            double s = 0;
            for (std::size_t k = 0; k < t.size(); ++k) {
                const long long p =
                    base + (long long)(t.ys[k] - t.min_y) * cols + (t.xs[k] - t.min_x);
                const double v = double(t.nxs[k]) * mx[p] + double(t.nys[k]) * my[p];
                s += absolute ? std::fabs(v) : v;
            }
            out[std::size_t(j) * size + i] = s;
        }
    }
    return out;
}

// The window of score_window: the corner clamped into the maps.
std::vector<double> reference_window(const cv::Mat& nx, const cv::Mat& ny, const NormalTemplate& t,
                                     int px, int py, int reach, int size, bool absolute,
                                     int& x0, int& y0) {
    const int rows = nx.rows, cols = nx.cols;
    x0 = px + t.min_x - reach;
    if (x0 + size - 1 > cols - 2) x0 = cols - 1 - size;
    if (x0 < 1) x0 = 1;
    y0 = py + t.min_y - reach;
    if (y0 + size - 1 > rows - 2) y0 = rows - 1 - size;
    if (y0 < 1) y0 = 1;
    return reference_window_at(nx, ny, t, x0, y0, size, absolute);
}

TEST(WindowScore, MatchesDoubleReferenceOnRandomInput) {
    cv::RNG rng(1234);
    for (int trial = 0; trial < 60; ++trial) {
        const int rows = rng.uniform(12, 60), cols = rng.uniform(12, 60);
        const ExactMaps maps(rows, cols, rng);
        const int n = rng.uniform(1, 160);
        const NormalTemplate t = random_template(rng, n, rng.uniform(0, 6));
        const int reach = trial % 3 == 0 ? 4 : rng.uniform(4, 9);
        const int size = reach == 4 && trial % 2 == 0 ? 8 : 2 * reach + 1;
        // Predicted positions anywhere, the borders and beyond included.
        const int px = rng.uniform(-5, cols + 5), py = rng.uniform(-5, rows + 5);
        const bool absolute = trial % 4 == 1;
        WindowTemplate prepared;
        quro::prepare_window_template(t, cols, nullptr, prepared);
        std::vector<float> got(std::size_t(size) * size, -99.f);
        const quro::WindowCorner c = quro::score_window(maps.ref(), prepared, 0, t.size(), px, py,
                                                        reach, size, absolute, got.data());
        int x0 = 0, y0 = 0;
        const std::vector<double> want =
            reference_window(maps.nx, maps.ny, t, px, py, reach, size, absolute, x0, y0);
        ASSERT_EQ(c.x0, x0);
        ASSERT_EQ(c.y0, y0);
        for (std::size_t q = 0; q < want.size(); ++q) {
            ASSERT_NEAR(got[q], want[q], 1e-4 * n) << "trial " << trial << " cell " << q;
            if (want[q] == 0.0) {
                ASSERT_EQ(got[q], 0.f);  // end-of-map cells stay exactly 0
            }
        }
    }
}

TEST(WindowScore, VectorAndScalarKernelsGiveTheSameBits) {
    if (!quro::cpu_has_avx2()) GTEST_SKIP() << "processor without AVX2";
    cv::RNG rng(99);
    for (int trial = 0; trial < 80; ++trial) {
        const int rows = rng.uniform(4, 50), cols = rng.uniform(4, 50);
        const ExactMaps maps(rows, cols, rng);
        const NormalTemplate t = random_template(rng, rng.uniform(1, 90), rng.uniform(0, 4));
        WindowTemplate p;
        quro::prepare_window_template(t, cols, nullptr, p);
        const int size = rng.uniform(1, 20);
        const bool absolute = trial % 2 == 0;
        // Corners inside the maps and before them: cells below 0 must stay 0 in both kernels.
        const quro::WindowCorner c =
            trial % 2 ? quro::window_corner(p, rows, cols, rng.uniform(0, cols),
                                            rng.uniform(0, rows), 4, size)
                      : quro::WindowCorner{rng.uniform(-size, cols), rng.uniform(-size, 2)};
        const std::ptrdiff_t limit =
            std::ptrdiff_t(rows - p.box_height + 1) * cols - p.box_width + 1;
        const std::ptrdiff_t base0 = std::ptrdiff_t(c.y0) * cols + c.x0;
        std::vector<float> a(std::size_t(size) * size, 7.f), b(a.size(), -7.f);
        quro::window_kernel_scalar(maps.x.data(), maps.y.data(), p.offsets.data(), p.gx.data(),
                                   p.gy.data(), p.size(), base0, cols, 0, limit, size, absolute,
                                   a.data());
        quro::window_kernel_avx2(maps.x.data(), maps.y.data(), p.offsets.data(), p.gx.data(),
                                 p.gy.data(), p.size(), base0, cols, 0, limit, size, absolute,
                                 b.data());
        for (int j = 0; j < size; ++j) {
            for (int i = 0; i < size; ++i) {
                if (base0 + std::ptrdiff_t(j) * cols + i < 0) {
                    ASSERT_EQ(a[std::size_t(j * size + i)], 0.f);
                }
            }
        }
        ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0) << trial;
    }
}

// Maps inside one buffer with NaN on both sides: a read outside the maps turns a cell into NaN.
struct GuardedMaps : quro_test::BufferedMaps {
    GuardedMaps(int rows, int cols, std::size_t guard, cv::RNG& rng)
        : BufferedMaps(rows, cols, guard) {
        rng.fill(nx, cv::RNG::UNIFORM, -1.f, 1.f);
        rng.fill(ny, cv::RNG::UNIFORM, -1.f, 1.f);
    }
};

TEST(WindowScore, WindowAtAnyCornerReadsOnlyInsideTheMaps) {
    cv::RNG rng(4321);
    for (int trial = 0; trial < 200; ++trial) {
        const int rows = rng.uniform(6, 40), cols = rng.uniform(6, 40);
        const std::size_t guard = std::size_t(rows + 20) * (cols + 20);
        const GuardedMaps maps(rows, cols, guard, rng);
        const NormalTemplate t = random_template(rng, rng.uniform(1, 60), rng.uniform(0, 5));
        WindowTemplate p;
        quro::prepare_window_template(t, cols, nullptr, p);
        const int size = trial % 2 ? 8 : rng.uniform(1, 14);
        const bool absolute = trial % 3 == 0;
        // Corners from well before the maps to well past them.
        const quro::WindowCorner c{rng.uniform(-size - 12, cols + 4),
                                   rng.uniform(-size - 12, rows + 4)};
        std::vector<float> got(std::size_t(size) * size, -9.f);
        quro::score_window_at(quro::normal_maps_ref(maps.nx, maps.ny), p, 0, p.size(), c, size,
                              absolute, got.data());
        const std::vector<double> want =
            reference_window_at(maps.nx, maps.ny, t, c.x0, c.y0, size, absolute);
        for (std::size_t q = 0; q < want.size(); ++q) {
            ASSERT_TRUE(std::isfinite(got[q])) << "trial " << trial << " cell " << q;
            ASSERT_NEAR(got[q], want[q], 1e-4 * double(p.size())) << "trial " << trial;
            if (want[q] == 0.0) {
                ASSERT_EQ(got[q], 0.f);
            }
        }
    }
}

TEST(WindowScore, UnclampedCornerSitsAroundThePrediction) {
    WindowTemplate t;
    t.min_x = -30;
    t.min_y = -25;
    EXPECT_EQ(quro::window_corner_unclamped(t, 10, 12, 4).x0, 10 - 30 - 4);
    EXPECT_EQ(quro::window_corner_unclamped(t, 10, 12, 4).y0, 12 - 25 - 4);
    // Far-off predictions stay representable.
    EXPECT_EQ(quro::window_corner_unclamped(t, INT_MAX, INT_MIN, 4).x0, 1 << 30);
    EXPECT_EQ(quro::window_corner_unclamped(t, INT_MAX, INT_MIN, 4).y0, -(1 << 30));
}

TEST(WindowScore, CornerIsClampedIntoTheMap) {
    WindowTemplate t;
    t.min_x = -3;
    t.min_y = 2;
    // Inside: px + min_x - 4.
    EXPECT_EQ(quro::window_corner(t, 50, 40, 20, 20, 4, 8).x0, 13);
    EXPECT_EQ(quro::window_corner(t, 50, 40, 20, 20, 4, 8).y0, 18);
    // Too far left or up: starts at 1.
    EXPECT_EQ(quro::window_corner(t, 50, 40, 2, 0, 4, 8).x0, 1);
    EXPECT_EQ(quro::window_corner(t, 50, 40, 2, 0, 4, 8).y0, 1);
    // Too far right or down: the last corner is cols - 2 (rows - 2).
    EXPECT_EQ(quro::window_corner(t, 50, 40, 45, 60, 4, 8).x0, 40 - 2 - 7);
    EXPECT_EQ(quro::window_corner(t, 50, 40, 45, 60, 4, 8).y0, 50 - 2 - 7);
    // Maps too small for the window: corner 1.
    EXPECT_EQ(quro::window_corner(t, 6, 7, 3, 3, 4, 8).x0, 1);
    EXPECT_EQ(quro::window_corner(t, 6, 7, 3, 3, 4, 8).y0, 1);
    // The cell window reaches c on both sides.
    EXPECT_EQ(quro::window_corner(t, 100, 100, 50, 50, 6, 13).x0, 50 - 3 - 6);
}

TEST(WindowScore, NarrowMapsReadNothingOutside) {
    cv::RNG rng(5);
    for (int rows = 1; rows < 10; ++rows) {
        for (int cols = 1; cols < 10; ++cols) {
            const ExactMaps maps(rows, cols, rng);
            const NormalTemplate t = random_template(rng, 12, 1);
            WindowTemplate p;
            quro::prepare_window_template(t, cols, nullptr, p);
            std::vector<float> got(64, -5.f);
            quro::score_window(maps.ref(), p, 0, p.size(), 2, 2, 4, 8, false, got.data());
            int x0, y0;
            const auto want = reference_window(maps.nx, maps.ny, t, 2, 2, 4, 8, false, x0, y0);
            EXPECT_EQ(x0, 1);
            EXPECT_EQ(y0, 1);
            for (int q = 0; q < 64; ++q) ASSERT_NEAR(got[q], want[q], 1e-4 * 12);
        }
    }
}

TEST(WindowScore, AbsoluteValueIsTakenPerPoint) {
    // Two points on one pixel pair with opposite agreement: signed they cancel, per point they add.
    std::vector<float> x(20 * 20, 0.f), y(x.size(), 0.f);
    x[10 * 20 + 10] = 1.f;
    x[10 * 20 + 11] = 1.f;
    const cv::Mat nx(20, 20, CV_32FC1, x.data()), ny(20, 20, CV_32FC1, y.data());
    NormalTemplate t;
    t.xs = {0, 1};
    t.ys = {0, 0};
    t.nxs = {1.f, -1.f};
    t.nys = {0.f, 0.f};
    t.min_x = 0, t.max_x = 1, t.min_y = 0, t.max_y = 0;
    WindowTemplate p;
    quro::prepare_window_template(t, 20, nullptr, p);
    std::vector<float> w(64);
    const auto ref = quro::normal_maps_ref(nx, ny);
    quro::score_window(ref, p, 0, 2, 10, 10, 4, 8, false, w.data());
    EXPECT_EQ(w[4 * 8 + 4], 0.f);
    quro::score_window(ref, p, 0, 2, 10, 10, 4, 8, true, w.data());
    EXPECT_EQ(w[4 * 8 + 4], 2.f);
}

TEST(WindowScore, PeakTakesFirstCellOfTiesAndNegatesTheMinimum) {
    std::vector<float> w(9, 0.f);
    w[5] = 2.f;
    w[7] = 2.f;
    w[4] = -3.f;
    w[8] = -3.f;
    const quro::WindowPeak hi = quro::window_peak(w.data(), 3, true);
    EXPECT_EQ(hi.value, 2.f);
    EXPECT_EQ(hi.i, 2);
    EXPECT_EQ(hi.j, 1);
    const quro::WindowPeak lo = quro::window_peak(w.data(), 3, false);
    EXPECT_EQ(lo.value, 3.f);
    EXPECT_EQ(lo.i, 1);
    EXPECT_EQ(lo.j, 1);
}

TEST(WindowScore, PreparedOrderFollowsTheGivenPermutation) {
    cv::RNG rng(8);
    const NormalTemplate t = random_template(rng, 6, 3);
    const int order[] = {3, 0, 5, 1, 4, 2};
    WindowTemplate p;
    quro::prepare_window_template(t, 31, order, p);
    for (int q = 0; q < 6; ++q) {
        const int k = order[q];
        EXPECT_EQ(p.offsets[q], (t.ys[k] - t.min_y) * 31 + (t.xs[k] - t.min_x));
        EXPECT_EQ(p.gx[q], t.nxs[k]);
        EXPECT_EQ(p.gy[q], t.nys[k]);
    }
    const int bad[] = {0, 1, 2, 3, 4, 6};
    EXPECT_THROW(quro::prepare_window_template(t, 31, bad, p), cv::Exception);
}

// Two points, one per cell of a two-cell partition; each cell's best shift differs by one pixel,
// so the mean cell lies halfway and is rounded away from zero.
TEST(WindowScorer, CellGroupsSettleApartAndTheMeanCellIsRoundedHalfAway) {
    const int rows = 40, cols = 60, b = 2;
    cv::Mat nx(rows, cols, CV_32FC1, cv::Scalar(0)), ny(rows, cols, CV_32FC1, cv::Scalar(0));
    const int px = 30, py = 20;  // predicted map position
    nx.at<float>(py, px - 5 + 1) = 1.f;   // left point fits one pixel to the right
    nx.at<float>(py, px + 5 + 2) = 0.5f;  // right point two pixels to the right
    NormalTemplate t;
    t.xs = {-5, 5};
    t.ys = {0, 0};
    t.nxs = {1.f, 1.f};
    t.nys = {0.f, 0.f};
    t.min_x = -5, t.max_x = 5, t.min_y = 0, t.max_y = 0;
    const std::vector<int> cell_index = {0, 1, 4};
    const std::vector<int> cell_order = {0, 1, 2};
    quro::WindowScorer scorer(quro::normal_maps_ref(nx, ny), b, 1, true);
    scorer.use_cells(4, cell_index, cell_order);
    const quro::WindowMatch m = scorer.score(t, px, py);
    EXPECT_FLOAT_EQ(m.score, 1.5f / 2.f);
    EXPECT_EQ(m.i, 6);  // (5 + 6) / 2 = 5.5 -> 6
    EXPECT_EQ(m.j, 4);
    EXPECT_EQ(m.x, px + 2 - b);
    EXPECT_EQ(m.y, py - b);
    EXPECT_FALSE(m.on_edge);

    // The plain window takes both points together: only their common shift counts.
    quro::WindowScorer plain(quro::normal_maps_ref(nx, ny), b, 1, true);
    const quro::WindowMatch q = plain.score(t, px, py);
    EXPECT_FLOAT_EQ(q.score, 1.f / 2.f);
    EXPECT_EQ(q.x, px + 1 - b);
}

TEST(WindowScorer, RejectsAPartitionThatDoesNotFitTheTemplate) {
    cv::Mat nx(20, 20, CV_32FC1, cv::Scalar(0)), ny = nx.clone();
    quro::WindowScorer scorer(quro::normal_maps_ref(nx, ny), 0, 1, true);
    const std::vector<int> index = {0, 0, 1};  // two points
    const std::vector<int> order = {0, 1, 2};
    scorer.use_cells(4, index, order);
    cv::RNG rng(3);
    const NormalTemplate three = random_template(rng, 3, 2);
    EXPECT_THROW(scorer.score(three, 10, 10), cv::Exception);
    const std::vector<int> bad_order = {0, 2, 1};  // the sentinel inside the points
    EXPECT_THROW(scorer.use_cells(4, index, bad_order), cv::Exception);
}

TEST(WindowScore, RejectsMapsOfAnotherKind) {
    cv::Mat a(10, 10, CV_32FC1), b(10, 11, CV_32FC1), c(10, 10, CV_64FC1);
    EXPECT_THROW(quro::normal_maps_ref(a, b), cv::Exception);
    EXPECT_THROW(quro::normal_maps_ref(a, c), cv::Exception);
    cv::Mat big(20, 20, CV_32FC1);
    EXPECT_THROW(quro::normal_maps_ref(big(cv::Rect(0, 0, 10, 10)), a), cv::Exception);
}

}  // namespace
