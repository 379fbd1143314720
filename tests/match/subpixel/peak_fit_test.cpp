// Sub-pixel peak fit of matches: the angle sampling, the step from the best cell to the match's
// pose, the fits on hand-made normal maps, and the accuracy on rendered polygons.
#include "quro/match/subpixel/peak_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/order_utils.h"
#include "quro/match/refine/feature_cells.h"
#include "quro/match/refine/normals.h"
#include "quro/match/refine/window_score.h"
#include "quro/match/subpixel/peak_sampling.h"
#include "quro/match/subpixel/peak_surface.h"
#include "quro/match/templates.h"
#include "testing/normal_maps.h"
#include "testing/polygon_model.h"
#include "testing/records.h"
#include "testing/refine_level.h"

namespace {

using quro::Match;
using quro::PeakWindows;

constexpr double kPi = 3.14159265358979323846;

Match candidate(int x, int y, float angle, signed char flag = 1, float scale = 1.f) {
    return Match(x, y, 0.8f, angle, scale, scale, 0, flag);
}

void expect_same(const Match& a, const Match& b) {
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.angle, b.angle);
    EXPECT_EQ(a.dx, b.dx);
    EXPECT_EQ(a.dy, b.dy);
    EXPECT_EQ(a.score, b.score);
}

// ---- Angle sampling ----

// Fills window k with `peaks[k]` at cell (3, 4) and 1 elsewhere, and records the fill order.
struct FakeScores {
    std::vector<float> peaks;
    std::vector<int> filled;
    quro::PeakWindowFill fill() {
        return [this](int k, float* out) {
            filled.push_back(k);
            std::fill(out, out + 64, 1.f);
            out[4 * 8 + 3] = peaks[std::size_t(k)];
        };
    }
};

PeakWindows five_windows() {
    PeakWindows w;
    w.reset(5, 8, 10.f, 2.f);
    return w;
}

TEST(PeakSampling, ScoresRisingTowardPlusTwoStepsSampleThreeAngles) {
    FakeScores s{{5, 6, 7, 8, 9}, {}};
    PeakWindows w = five_windows();
    quro::sample_five_angles(w, s.fill());
    EXPECT_EQ(s.filled, (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(w.best, 4);
    EXPECT_EQ(w.angles[4], 14.f);
    EXPECT_EQ(w.i, 3);
    EXPECT_EQ(w.j, 4);
}

TEST(PeakSampling, ScoresFallingTowardMinusTwoStepsSampleFourAngles) {
    FakeScores s{{9, 8, 7, 6, 5}, {}};
    PeakWindows w = five_windows();
    quro::sample_five_angles(w, s.fill());
    EXPECT_EQ(s.filled, (std::vector<int>{2, 3, 1, 0}));
    EXPECT_EQ(w.best, 0);
}

TEST(PeakSampling, TheBestAngleGetsBothNeighbours) {
    const std::vector<std::vector<float>> cases = {
        {1, 2, 9, 3, 1}, {1, 2, 3, 9, 1}, {1, 9, 3, 2, 1}, {2, 9, 7, 3, 1}};
    const std::vector<std::vector<int>> orders = {{2, 3, 1}, {2, 3, 4}, {2, 3, 1, 0}, {2, 3, 1, 0}};
    for (std::size_t c = 0; c < cases.size(); ++c) {
        FakeScores s{cases[c], {}};
        PeakWindows w = five_windows();
        quro::sample_five_angles(w, s.fill());
        EXPECT_EQ(s.filled, orders[c]) << c;
        ASSERT_GE(w.best, 1);
        ASSERT_LE(w.best, 3);
        EXPECT_TRUE(w.sampled[std::size_t(w.best - 1)] && w.sampled[std::size_t(w.best + 1)]);
        EXPECT_LE(s.filled.size(), 4u);
    }
}

TEST(PeakSampling, NoPositiveScoreLeavesNoBest) {
    FakeScores s{{-1, -1, 0, 0, -1}, {}};
    PeakWindows w = five_windows();
    quro::sample_five_angles(w, [&](int k, float* out) {
        s.filled.push_back(k);
        std::fill(out, out + 64, s.peaks[std::size_t(k)]);
    });
    EXPECT_EQ(s.filled, (std::vector<int>{2, 3}));
    EXPECT_EQ(w.best, -1);
    Match c = candidate(10, 10, 10.f);
    const Match before = c;
    quro::apply_peak_fit(w, 4, 2.f, c);
    expect_same(c, before);
}

TEST(PeakSampling, ALaterWindowMustBeStrictlyBetter) {
    // Equal maxima at angles 2 and 3: 2 stays the best, so the search turns to angle 1.
    FakeScores s{{0, 1, 8, 8, 0}, {}};
    PeakWindows w = five_windows();
    quro::sample_five_angles(w, s.fill());
    EXPECT_EQ(w.best, 2);
    EXPECT_EQ(s.filled, (std::vector<int>{2, 3, 1}));
    // Inside a window the first cell in row-major order wins.
    PeakWindows v = five_windows();
    float* cells = v.window(2);
    cells[5 * 8 + 1] = 3.f;
    cells[2 * 8 + 6] = 3.f;
    v.take(2);
    EXPECT_EQ(v.i, 6);
    EXPECT_EQ(v.j, 2);
}

// ---- From the best cell to the match ----

// Sets window k of w to f(ex, ey) around cell (ci, cj) (ex = i - ci, ey = j - cj) and takes it.
void set_window(PeakWindows& w, int k, int ci, int cj,
                const std::function<double(double, double)>& f) {
    float* cells = w.window(k);
    for (int j = 0; j < w.size; ++j)
        for (int i = 0; i < w.size; ++i) cells[j * w.size + i] = float(f(i - ci, j - cj));
    w.take(k);
}

TEST(PeakFitStep, ABestCellOnTheEdgeMovesByTheCellOffsetOnly) {
    for (const auto& cell : {std::pair{7, 5}, std::pair{0, 2}, std::pair{3, 0}, std::pair{6, 7}}) {
        PeakWindows w = five_windows();
        const auto bump = [](double x, double y) { return 50.0 - x * x - 2 * y * y; };
        set_window(w, 2, cell.first, cell.second, bump);
        set_window(w, 3, 3, 3, [](double, double) { return 1.0; });
        Match c = candidate(20, 30, 10.f);
        quro::apply_peak_fit(w, 4, 2.f, c);
        EXPECT_EQ(c.x, 20 + cell.first - 4);
        EXPECT_EQ(c.y, 30 + cell.second - 4);
        EXPECT_EQ(c.angle, 10.f);
        EXPECT_EQ(c.dx, 0.f);
        EXPECT_EQ(c.dy, 0.f);
        EXPECT_EQ(c.score, 0.8f);
    }
}

TEST(PeakFitStep, InsideTheBlockTheThreeDimensionalFitRefinesTheAngle) {
    PeakWindows w = five_windows();  // angles 6, 8, 10, 12, 14
    const double ox = 0.3, oy = -0.2, ot = 0.7;
    for (int k = 1; k <= 3; ++k) {
        const double t = w.angles[std::size_t(k)] - 10.0;
        set_window(w, k, 5, 3, [&](double x, double y) {
            return 90.0 - 2 * (x - ox) * (x - ox) - 3 * (y - oy) * (y - oy) - (t - ot) * (t - ot);
        });
    }
    ASSERT_EQ(w.best, 2);
    Match c = candidate(20, 30, 10.f);
    quro::apply_peak_fit(w, 4, 2.f, c);
    EXPECT_EQ(c.x, 21);
    EXPECT_EQ(c.y, 29);
    EXPECT_NEAR(c.dx, ox, 1e-3);
    EXPECT_NEAR(c.dy, oy, 1e-3);
    EXPECT_NEAR(c.angle, 10.0 + ot, 1e-3);
    EXPECT_EQ(c.score, 0.8f);
}

TEST(PeakFitStep, AFarThreeDimensionalStationaryPointFallsBackToTheTwoDimensionalFit) {
    // A ridge rising slowly with the angle: its stationary point lies many steps away, while the
    // best angle's window has a clean peak.
    PeakWindows w = five_windows();
    std::vector<float> kept[3];
    for (int k = 1; k <= 3; ++k) {
        const double t = (w.angles[std::size_t(k)] - 10.0) / 2.0;
        set_window(w, k, 4, 4, [&](double x, double y) {
            const double r = x - 0.25 * t;
            return 40.0 - 3 * (r - 0.2) * (r - 0.2) - (y + 0.1) * (y + 0.1) + 0.2 * t -
                   0.01 * t * t;
        });
        kept[k - 1].assign(w.window(k), w.window(k) + 64);
    }
    ASSERT_EQ(w.best, 2);
    const float* windows[3] = {kept[0].data(), kept[1].data(), kept[2].data()};
    const float t[3] = {-2.f, 0.f, 2.f};
    quro::PeakOffset o{};
    ASSERT_FALSE(quro::fit_peak_3d(windows, t, 8, 4, 4, 2.f, o));
    float dx = 0.f, dy = 0.f;
    ASSERT_TRUE(quro::fit_peak_2d(kept[1].data(), 8, 4, 4, dx, dy));

    Match c = candidate(20, 30, 10.f);
    quro::apply_peak_fit(w, 4, 2.f, c);
    EXPECT_EQ(c.angle, 10.f);
    EXPECT_EQ(c.dx, dx);
    EXPECT_EQ(c.dy, dy);
    EXPECT_NEAR(c.dx, 0.2, 1e-3);
}

TEST(PeakFitStep, TheOuterAnglesUseTheTwoDimensionalFitOnly) {
    // Best at index 4: even a perfect three-angle surface is not fitted in angle.
    PeakWindows w = five_windows();
    for (int k = 2; k <= 4; ++k) {
        const double t = w.angles[std::size_t(k)] - 14.0;
        set_window(w, k, 4, 4, [&](double x, double y) {
            return 90.0 - 2 * (x - 0.3) * (x - 0.3) - (y) * (y) - (t - 0.5) * (t - 0.5);
        });
    }
    ASSERT_EQ(w.best, 4);
    Match c = candidate(20, 30, 10.f);
    quro::apply_peak_fit(w, 4, 2.f, c);
    EXPECT_EQ(c.angle, 14.f);
    EXPECT_NEAR(c.dx, 0.3, 1e-5);
}

void expect_no_offset_from(const std::vector<float>& block) {
    PeakWindows w = five_windows();
    set_window(w, 4, 0, 0, [&](double x, double y) {
        if (std::fabs(x - 4) > 1 || std::fabs(y - 4) > 1) return 0.0;
        return double(block[std::size_t((y - 3) * 3 + (x - 3))]);
    });
    ASSERT_EQ(w.best, 4);
    ASSERT_EQ(w.i, 4);
    Match c = candidate(20, 30, 10.f);
    c.dx = 0.125f;
    c.dy = -0.25f;
    quro::apply_peak_fit(w, 4, 2.f, c);
    EXPECT_EQ(c.x, 20);
    EXPECT_EQ(c.angle, 14.f);
    EXPECT_EQ(c.dx, 0.125f);
    EXPECT_EQ(c.dy, -0.25f);
    EXPECT_EQ(c.score, 0.8f);
}

TEST(PeakFitStep, ATwoDimensionalStepBeyondSixTenthsIsRejected) {
    // The centre is the largest of its block, both curvatures are negative, and the step along
    // the stronger one is 0.8 pixel in y.
    const std::vector<float> block = {8.0f, 8.0f, 8.2f, 2.6f, 10.f, 6.7f, 0.8f, 0.2f, 0.1f};
    float dx = 0.f, dy = 0.f;
    ASSERT_FALSE(quro::fit_peak_2d(block.data(), 3, 1, 1, dx, dy));
    expect_no_offset_from(block);
}

TEST(PeakFitStep, ASaddleOrAMinimumSetsNoOffset) {
    expect_no_offset_from({9.5f, 0.f, 9.5f, 0.f, 10.f, 0.f, 9.5f, 0.f, 9.5f});  // saddle
    expect_no_offset_from({9.f, 1.f, 9.f, 1.f, 10.f, 1.f, 9.f, 1.f, 9.f});      // saddle
}

// ---- Hand-made normal maps ----

// A model of one point at the reference point with direction (1, 0), on two levels. Posed at
// angle a its direction is (cos a, -sin a), so on maps (f cos p, -f sin p) it scores f cos(a - p).
quro::ShapeModelRecord point_model() {
    const quro::Feature p(0.f, 0.f, 1.f, 0.f);
    return quro_test::record_with_levels({{p}, {p}});
}

using Maps = quro_test::NormalMapPair;

// f = exp(-(dx^2 / (2 sx^2) + dy^2 / (2 sy^2))) around (tx, ty), turned to direction p (degrees).
Maps bump(int rows, int cols, double tx, double ty, double p_deg, double sx = 1.2,
          double sy = 2.0) {
    return quro_test::directed_maps(rows, cols, p_deg, [=](int c, int r) {
        return std::exp(
            -((c - tx) * (c - tx) / (2 * sx * sx) + (r - ty) * (r - ty) / (2 * sy * sy)));
    });
}

TEST(FitPeakSubpixel, ScoresRisingTowardPlusTwoStepsEndOnTheLastAngle) {
    const auto rec = point_model();
    const float step = 2.f;
    const Maps m = bump(50, 60, 30.25, 24.0, 10.0 + 2.6 * step);
    Match c = candidate(30, 24, 10.f);
    quro::fit_peak_subpixel(quro_test::fit_level(m.nx, m.ny, 0, rec, 0, step, 1), c);
    EXPECT_EQ(c.x, 30);
    EXPECT_EQ(c.y, 24);
    EXPECT_EQ(c.angle, 10.f + 2.f * step);  // the two-dimensional fit keeps the angle
    EXPECT_NEAR(c.dx, 0.25, 0.05);
    EXPECT_NEAR(c.dy, 0.0, 0.05);
    EXPECT_EQ(c.score, 0.8f);
}

TEST(FitPeakSubpixel, APeakInsideTheBlockRefinesPositionAndAngle) {
    const auto rec = point_model();
    const float step = 10.f;
    const Maps m = bump(50, 60, 29.7, 24.3, 10.0 + 0.4 * step, 1.5, 1.5);
    Match c = candidate(30, 24, 10.f);
    quro::fit_peak_subpixel(quro_test::fit_level(m.nx, m.ny, 0, rec, 0, step, 1), c);
    EXPECT_EQ(c.x, 30);
    EXPECT_EQ(c.y, 24);
    EXPECT_NEAR(c.dx, -0.3, 0.05);
    EXPECT_NEAR(c.dy, 0.3, 0.05);
    EXPECT_NEAR(c.angle, 10.0 + 0.4 * step, 0.1 * step);
    EXPECT_EQ(c.score, 0.8f);
}

TEST(FitPeakSubpixel, ABestCellOnTheWindowEdgeMovesWithoutSubpixelOffset) {
    const auto rec = point_model();
    const Maps m = bump(50, 60, 35.3, 21.6, 10.0);  // 5 right and 2 up: column 7 of the window
    Match c = candidate(30, 24, 10.f);
    quro::fit_peak_subpixel(quro_test::fit_level(m.nx, m.ny, 0, rec, 0, 2.f, 1), c);
    EXPECT_EQ(c.x, 33);
    EXPECT_EQ(c.y, 22);
    EXPECT_EQ(c.dx, 0.f);
    EXPECT_EQ(c.dy, 0.f);
    EXPECT_EQ(c.score, 0.8f);
}

TEST(FitPeakSubpixel, TheMapBorderOnlyShiftsTheMaps) {
    const auto rec = point_model();
    const Maps m = bump(50, 60, 29.7, 24.3, 14.0, 1.5, 1.5);
    const int b = 7;
    Maps framed{cv::Mat::zeros(50 + 2 * b, 60 + 2 * b, CV_32FC1),
                cv::Mat::zeros(50 + 2 * b, 60 + 2 * b, CV_32FC1)};
    m.nx.copyTo(framed.nx(cv::Rect(b, b, 60, 50)));
    m.ny.copyTo(framed.ny(cv::Rect(b, b, 60, 50)));
    Match plain = candidate(30, 24, 10.f), bordered = candidate(30, 24, 10.f);
    quro::fit_peak_subpixel(quro_test::fit_level(m.nx, m.ny, 0, rec, 0, 10.f, 1), plain);
    quro::fit_peak_subpixel(quro_test::fit_level(framed.nx, framed.ny, b, rec, 0, 10.f, 1),
                            bordered);
    expect_same(bordered, plain);
}

TEST(FitPeakSubpixel, ReversedContrastFitsAsTheMatchingOne) {
    const auto rec = point_model();
    const Maps m = bump(50, 60, 29.7, 24.3, 14.0, 1.5, 1.5);
    const Maps inverted{-m.nx, -m.ny};
    Match same = candidate(30, 24, 10.f), reversed = candidate(30, 24, 10.f, -1);
    quro::fit_peak_subpixel(quro_test::fit_level(m.nx, m.ny, 0, rec, 0, 10.f, -1), same);
    quro::fit_peak_subpixel(quro_test::fit_level(inverted.nx, inverted.ny, 0, rec, 0, 10.f, -1),
                            reversed);
    expect_same(reversed, same);
    EXPECT_NE(same.dx, 0.f);
    // Metric 0 takes each agreement's absolute value: the reversed maps score as high.
    Match absolute = candidate(30, 24, 10.f);
    quro::fit_peak_subpixel(quro_test::fit_level(inverted.nx, inverted.ny, 0, rec, 0, 10.f, 0),
                            absolute);
    EXPECT_EQ(absolute.x, same.x);
    EXPECT_EQ(absolute.y, same.y);
}

TEST(FitPeakSubpixel, NothingToFitLeavesTheMatchUnchanged) {
    const auto rec = point_model();
    const Maps zero{cv::Mat::zeros(40, 40, CV_32FC1), cv::Mat::zeros(40, 40, CV_32FC1)};
    Match c = candidate(20, 20, 10.f);
    c.dx = 0.5f;
    const Match before = c;
    quro::fit_peak_subpixel(quro_test::fit_level(zero.nx, zero.ny, 0, rec, 0, 2.f, 1), c);
    expect_same(c, before);
    // A level without points.
    const quro::Feature p(0.f, 0.f, 1.f, 0.f);
    const auto empty = quro_test::record_with_levels({{}, {p}});
    const Maps m = bump(40, 40, 20, 20, 10);
    quro::fit_peak_subpixel(quro_test::fit_level(m.nx, m.ny, 0, empty, 0, 2.f, 1), c);
    expect_same(c, before);
    // A candidate far outside the maps reads nothing and finds nothing.
    Match far = candidate(1 << 29, -(1 << 29), 10.f);
    const Match far_before = far;
    quro::fit_peak_subpixel(quro_test::fit_level(m.nx, m.ny, 0, rec, 0, 2.f, 1), far);
    expect_same(far, far_before);
}

TEST(FitPeakSubpixel, RejectsMapsOfAnotherType) {
    const auto rec = point_model();
    const cv::Mat d(20, 20, CV_64FC1, cv::Scalar(0));
    Match c = candidate(5, 5, 0.f);
    EXPECT_THROW(quro::fit_peak_subpixel(quro_test::fit_level(d, d, 0, rec, 0, 2.f, 1), c),
                 cv::Exception);
}

// ---- Cells ----

// Two points 10 apart, each in its own cell; on the maps the left one fits one pixel right of the
// candidate, the right one two pixels right. Aligned on their own peaks, both land on the centre.
TEST(FitPeakSubpixelCells, EachCellIsAlignedOnItsOwnPeak) {
    const quro::Feature left(-5.f, 0.f, 1.f, 0.f), right(5.f, 0.f, 1.f, 0.f);
    const auto rec = quro_test::record_with_levels({{left, right}});
    const std::vector<int> cells = {0, 1, 4};
    const std::vector<int> order = {0, 1, 2};
    const int rows = 40, cols = 60, x = 30, y = 20;
    for (const signed char flag : {1, -1}) {
        cv::Mat nx(rows, cols, CV_32FC1, cv::Scalar(0)), ny = nx.clone();
        // Smooth peaks: 1 at the fitting pixel, 0.5 one pixel to each side (in x and y).
        for (const auto& [cx, h] : {std::pair{x - 5 + 1, 1.f}, std::pair{x + 5 + 2, 0.8f}}) {
            for (int d = -1; d <= 1; ++d) {
                nx.at<float>(y, cx + d) += (d == 0 ? 1.f : 0.5f) * h * flag;
                if (d != 0) nx.at<float>(y + d, cx) += 0.5f * h * flag;
            }
        }
        Match c = candidate(x, y, 0.f, flag);
        quro::fit_peak_subpixel(
            quro_test::fit_level(nx, ny, 0, rec, 0, 2.f, flag, 4, &cells, &order), c);
        // The centre holds both peaks: the match stays, with a symmetric (zero) offset.
        EXPECT_EQ(c.x, x) << int(flag);
        EXPECT_EQ(c.y, y);
        EXPECT_NEAR(c.dx, 0.f, 1e-5);
        EXPECT_NEAR(c.dy, 0.f, 1e-5);
        // The plain fit takes both points at one shift only.
        Match p = candidate(x, y, 0.f, flag);
        quro::fit_peak_subpixel(quro_test::fit_level(nx, ny, 0, rec, 0, 2.f, flag), p);
        EXPECT_NE(p.x + p.dx, float(x));
    }
}

TEST(FitPeakSubpixelCells, ReversedContrastFitsAsTheMatchingOne) {
    const auto outline = quro_test::irregular_outline(80.f);
    const auto rec = quro_test::polygon_model(outline, 2);
    const quro_test::PolygonPose pose{100.4f, 90.2f, 21.f};
    const cv::Mat image = quro_test::render_polygon(outline, cv::Size(200, 180), pose);
    cv::Mat nx, ny, inx, iny;
    quro::_getNormal33(image, nx, 10.f, ny);
    quro::_getNormal33(255 - image, inx, 10.f, iny);
    std::vector<int> cells;
    quro::feature_cell_index(rec, 1, 3, cells);
    const std::vector<int> order = quro::argsort_int(cells);
    const float step = quro::angle_step(rec, 1);
    Match same = candidate(100, 90, 20.f), reversed = candidate(100, 90, 20.f, -1);
    quro::fit_peak_subpixel(quro_test::fit_level(nx, ny, 0, rec, 0, step, -1, 4, &cells, &order),
                            same);
    quro::fit_peak_subpixel(quro_test::fit_level(inx, iny, 0, rec, 0, step, -1, 4, &cells, &order),
                            reversed);
    EXPECT_EQ(reversed.x, same.x);
    EXPECT_EQ(reversed.y, same.y);
    EXPECT_EQ(reversed.angle, same.angle);
    EXPECT_EQ(reversed.dx, same.dx);
    EXPECT_EQ(reversed.dy, same.dy);
    EXPECT_LE(std::fabs(same.x + same.dx - pose.cx), 1.f);
    EXPECT_LE(std::fabs(same.y + same.dy - pose.cy), 1.f);
    EXPECT_LE(std::fabs(same.angle - pose.angle), 2.f * step);
}

TEST(FitPeakSubpixelCells, RejectsAPartitionThatDoesNotFitTheLevel) {
    const auto rec = point_model();
    const cv::Mat f(20, 20, CV_32FC1, cv::Scalar(0));
    Match c = candidate(5, 5, 0.f);
    const std::vector<int> two = {0, 0, 1}, order = {0, 1, 2};
    EXPECT_THROW(
        quro::fit_peak_subpixel(quro_test::fit_level(f, f, 0, rec, 0, 2.f, 1, 4, &two, &order), c),
        cv::Exception);
    const std::vector<int> empty;
    EXPECT_THROW(quro::fit_peak_subpixel(
                     quro_test::fit_level(f, f, 0, rec, 0, 2.f, 1, 4, &empty, &order), c),
                 cv::Exception);
}

// ---- Rendered polygons ----

struct Polygon {
    std::vector<cv::Point2f> outline = quro_test::irregular_outline(80.f);
    quro::ShapeModelRecord rec = quro_test::polygon_model(outline, 2);
    float step = quro::angle_step(rec, 1);
};

struct FitError {
    double x, y, angle_steps;
};

FitError fit_rendered(const Polygon& p, const quro_test::PolygonPose& pose, int x, int y,
                      float angle) {
    const cv::Mat image = quro_test::render_polygon(p.outline, cv::Size(200, 180), pose);
    cv::Mat nx, ny;
    quro::_getNormal33(image, nx, 10.f, ny);
    Match c = candidate(x, y, angle);
    quro::fit_peak_subpixel(quro_test::fit_level(nx, ny, 0, p.rec, 0, p.step, 1), c);
    EXPECT_EQ(c.score, 0.8f);
    return {c.x + c.dx - pose.cx, c.y + c.dy - pose.cy, (c.angle - pose.angle) / p.step};
}

TEST(FitPeakSubpixelPolygon, RecoversASubpixelOffsetAndAFractionOfAStep) {
    // Rendered at (x + 0.3, y - 0.2) and theta + 0.4 step, the fit starts at (x, y, theta).
    const Polygon p;
    for (const float theta : {0.f, 90.f, 210.f}) {
        const quro_test::PolygonPose pose{100.3f, 89.8f, theta + 0.4f * p.step};
        const FitError e = fit_rendered(p, pose, 100, 90, theta);
        EXPECT_LE(std::fabs(e.x), 0.1) << theta;
        EXPECT_LE(std::fabs(e.y), 0.1) << theta;
        EXPECT_LE(std::fabs(e.angle_steps), 0.1) << theta;
    }
}

TEST(FitPeakSubpixelPolygon, AccuracyOverRandomPoses) {
    const Polygon p;
    cv::RNG rng(2024);
    const int trials = 32;
    int within_fifth = 0;
    double sum = 0, worst_angle = 0;
    for (int t = 0; t < trials; ++t) {
        const float theta = rng.uniform(-180.f, 180.f);
        const quro_test::PolygonPose pose{100.f + rng.uniform(-0.45f, 0.45f),
                                          90.f + rng.uniform(-0.45f, 0.45f),
                                          theta + rng.uniform(-0.45f, 0.45f) * p.step};
        const FitError e = fit_rendered(p, pose, 100, 90, theta);
        const double d = std::max(std::fabs(e.x), std::fabs(e.y));
        EXPECT_LE(d, 1.0) << t;
        if (d <= 0.2) ++within_fifth;
        sum += d;
        worst_angle = std::max(worst_angle, std::fabs(e.angle_steps));
    }
    EXPECT_GE(within_fifth, trials - 2);
    EXPECT_LE(sum / trials, 0.08);
    EXPECT_LE(worst_angle, 0.5);
}

TEST(FitPeakSubpixelPolygon, ScaledTemplateNearTheImageEdgeReadsOnlyTheMaps) {
    // The maps' border is the unscaled radius + 5; at scale 1.3 the template reaches further, so
    // the windows of a match near the top-left corner start before the maps. The match is placed
    // so that its own window cell and its neighbours still lie inside.
    const Polygon p;
    const int b = int(p.rec.level_radius[0]) + 5;
    const float theta = 40.f, scale = 1.3f;
    quro::NormalTemplate t;
    quro::normal_template_aniso(p.rec, t, 1, scale, scale, theta);
    const int x = 2 - b - t.min_x, y = 1 - b - t.min_y;
    const quro_test::PolygonPose pose{x + 0.3f, y - 0.2f, theta + 0.3f * p.step, scale, scale};
    const cv::Mat image = quro_test::render_polygon(p.outline, cv::Size(160, 120), pose);
    cv::Mat mx, my;
    quro::_getNormal34(image, mx, 10.f, my, b);
    const quro_test::BufferedMaps maps(mx, my);  // the sanitizer sees a read past them
    // The same level with a border wide enough for every window.
    const int wide = b + 40;
    cv::Mat wx, wy;
    quro::_getNormal34(image, wx, 10.f, wy, wide);

    // The case is the one meant: the first window rows start before the first map pixel.
    quro::WindowTemplate prepared;
    quro::prepare_window_template(t, maps.nx.cols, nullptr, prepared);
    const quro::WindowCorner corner = quro::window_corner_unclamped(prepared, x + b, y + b, 4);
    ASSERT_LT(static_cast<long long>(corner.y0) * maps.nx.cols + corner.x0, 0);

    // Positions that would read outside score 0; the peak and its neighbours read inside, so the
    // fit is the one the wide border gives.
    Match c = candidate(x, y, theta, 1, scale), w = c;
    quro::fit_peak_subpixel(quro_test::fit_level(maps.nx, maps.ny, b, p.rec, 0, p.step, 1), c);
    quro::fit_peak_subpixel(quro_test::fit_level(wx, wy, wide, p.rec, 0, p.step, 1), w);
    expect_same(c, w);
    // Only part of the outline lies in the image: a looser fit.
    EXPECT_LE(std::fabs(c.x + c.dx - pose.cx), 1.5);
    EXPECT_LE(std::fabs(c.y + c.dy - pose.cy), 1.5);
    EXPECT_LE(std::fabs(c.angle - pose.angle), p.step);

    // The cell variant places its windows the same way.
    std::vector<int> cells;
    quro::feature_cell_index(p.rec, 1, 2, cells);
    const std::vector<int> order = quro::argsort_int(cells);
    Match d = candidate(x, y, theta, 1, scale);
    quro::fit_peak_subpixel(
        quro_test::fit_level(maps.nx, maps.ny, b, p.rec, 0, p.step, 1, 6, &cells, &order), d);
    EXPECT_LE(std::fabs(d.x + d.dx - pose.cx), 1.5);
    EXPECT_LE(std::fabs(d.y + d.dy - pose.cy), 1.5);
}

}  // namespace
