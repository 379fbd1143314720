// The multi-model peak fit: its greedy bound, the window with its early stop and its search along
// the point directions, and the whole fit against the template fit.
#include "quro/match/subpixel/peak_fit_multi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "quro/match/refine/normals.h"
#include "quro/match/refine/window_score.h"
#include "quro/match/subpixel/peak_fit.h"
#include "quro/match/templates.h"
#include "quro/model_transforms.h"
#include "testing/normal_maps.h"
#include "testing/polygon_model.h"
#include "testing/records.h"
#include "testing/refine_level.h"

namespace {

using quro::FeatureI;
using quro::Match;
using quro::MultiWindowParams;

// ---- Greedy bound ----

TEST(MultiGreedyBound, GreedinessZeroStopsWhenTheMinimumIsOutOfReach) {
    // sm - 1 + m / n: what is left for the remaining points can no longer lift the mean to sm.
    EXPECT_FLOAT_EQ(quro::multi_greedy_bound(5, 8, 0.5f, 0.f), 0.125f);
    EXPECT_FLOAT_EQ(quro::multi_greedy_bound(1, 10, 0.7f, 0.f), -0.2f);
    EXPECT_FLOAT_EQ(quro::multi_greedy_bound(10, 10, 0.7f, 0.f), 0.7f);
    // Never above m sm / n.
    for (int m = 1; m <= 20; ++m)
        EXPECT_LE(quro::multi_greedy_bound(m, 20, 0.6f, 0.f), m * 0.6f / 20);
}

TEST(MultiGreedyBound, PartialGreedinessTakesTheSmallerOfBothBounds) {
    // sm = 0.9, g = 0.9, n = 20: early on the greedy bound is the smaller, later m sm / n.
    const float early = 0.9f - 1.f + 1.f * (1.f - 0.9f * 0.9f) / ((1.f - 0.9f) * 20.f);
    EXPECT_FLOAT_EQ(quro::multi_greedy_bound(1, 20, 0.9f, 0.9f), early);
    EXPECT_LT(early, 0.9f / 20);
    EXPECT_FLOAT_EQ(quro::multi_greedy_bound(10, 20, 0.9f, 0.9f), 10 * 0.9f / 20);
}

TEST(MultiGreedyBound, FullGreedinessUsesTheLimit) {
    for (const float g : {1.f, 1.5f}) {
        for (int m = 1; m <= 8; ++m) {
            const float b = quro::multi_greedy_bound(m, 8, 0.5f, g);
            EXPECT_FLOAT_EQ(b, m * 0.5f / 8) << g;
        }
    }
    // Approaching 1 from below gives the same bound.
    EXPECT_NEAR(quro::multi_greedy_bound(3, 8, 0.5f, 0.99999f), 3 * 0.5f / 8, 1e-6);
}

// ---- Windows ----

struct Maps : quro_test::NormalMapPair {
    using NormalMapPair::NormalMapPair;
    quro::NormalMapsRef ref() const { return quro::normal_maps_ref(nx, ny); }
};

// n points in a row at (k - n / 2, 0), direction (1, 0).
std::vector<FeatureI> row_of_points(int n) {
    std::vector<FeatureI> pts;
    for (int k = 0; k < n; ++k) pts.emplace_back(k - n / 2, 0, 1.f, 0.f, 0);
    return pts;
}

// The centre cell (reference point at (x, y)) of the window of `agree` (one flag per point): the
// points that agree have normal (1, 0) at their pixel, the others none.
float centre_cell(const std::vector<bool>& agree, float sm, float g) {
    const int n = int(agree.size()), x = 20, y = 10;
    Maps m(20, 40);
    const auto pts = row_of_points(n);
    for (int k = 0; k < n; ++k)
        if (agree[std::size_t(k)]) m.nx.at<float>(y, x + pts[std::size_t(k)].x) = 1.f;
    MultiWindowParams p;
    p.min_score = sm;
    p.greediness = g;
    float out[25];
    quro::fill_multi_window(m.ref(), pts, {}, x, y, p, out);
    return out[12];
}

TEST(MultiWindow, GreedinessZeroStopsACellOnceItsMeanIsOutOfReach) {
    // n = 8, min score 0.5: after five misses 3/8 is the most left, below 0.5.
    EXPECT_EQ(centre_cell({0, 0, 0, 0, 0, 1, 1, 1}, 0.5f, 0.f), 0.f);
    EXPECT_EQ(centre_cell({0, 0, 0, 0, 1, 1, 1, 1}, 0.5f, 0.f), 0.5f);
    // A stopped cell keeps its partial mean: one hit, then misses until m = 6.
    EXPECT_EQ(centre_cell({1, 0, 0, 0, 0, 0, 1, 1}, 0.5f, 0.f), 0.125f);
}

TEST(MultiWindow, FullGreedinessStopsAtTheFirstShortfall) {
    EXPECT_EQ(centre_cell({0, 1, 1, 1, 1, 1, 1, 1}, 0.5f, 1.f), 0.f);
    EXPECT_EQ(centre_cell({0, 1, 1, 1, 1, 1, 1, 1}, 0.5f, 0.f), 0.875f);
    EXPECT_EQ(centre_cell({1, 1, 1, 1, 1, 1, 1, 1}, 0.5f, 1.f), 1.f);
}

// One point at the reference point with direction (1, 0) on pixel (10, 10) without a normal, and
// the normals given around it. Greedy stop off, search reach `reach`.
float searched(const std::vector<std::pair<cv::Point, cv::Point2f>>& normals, int reach,
               float polarity = 1.f, bool absolute = false) {
    Maps m(21, 21);
    for (const auto& [at, n] : normals) {
        m.nx.at<float>(at) = n.x;
        m.ny.at<float>(at) = n.y;
    }
    const std::vector<FeatureI> pts = {FeatureI(0, 0, 1.f, 0.f, 0)};
    std::vector<cv::Point> probes;
    quro::direction_probes(pts, reach, probes);
    MultiWindowParams p;
    p.polarity = polarity;
    p.absolute = absolute;
    p.reach = reach;
    p.min_score = -1.f;
    float out[25];
    quro::fill_multi_window(m.ref(), pts, probes, 10, 10, p, out);
    return out[12];
}

TEST(MultiWindow, APixelWithoutNormalIsReplacedAlongTheDirection) {
    const cv::Point2f along(1.f, 0.f), tilted(0.9f, 0.43589f), poor(0.8f, 0.6f);
    // Two steps forward, within reach 2.
    EXPECT_EQ(searched({{{12, 10}, along}}, 2), 1.f);
    // Three steps is beyond reach 2; reach below 2 searches nothing.
    EXPECT_EQ(searched({{{13, 10}, along}}, 2), 0.f);
    EXPECT_EQ(searched({{{11, 10}, along}}, 1), 0.f);
    // Forward before backward at the same step; an agreement of 0.866 or less is passed over.
    EXPECT_FLOAT_EQ(searched({{{11, 10}, tilted}, {{9, 10}, along}}, 2), 0.9f);
    EXPECT_FLOAT_EQ(searched({{{11, 10}, poor}, {{9, 10}, tilted}}, 2), 0.9f);
    // A nearer step wins over a better one further out.
    EXPECT_FLOAT_EQ(searched({{{9, 10}, tilted}, {{12, 10}, along}}, 3), 0.9f);
    // Pixels off the line are not searched.
    EXPECT_EQ(searched({{{11, 11}, along}}, 3), 0.f);
}

TEST(MultiWindow, PolarityAndMetricZero) {
    const cv::Point2f reversed(-1.f, 0.f);
    // The found normal must agree with the match's polarity.
    EXPECT_EQ(searched({{{11, 10}, reversed}}, 2), 0.f);
    EXPECT_EQ(searched({{{11, 10}, reversed}}, 2, -1.f), 1.f);
    // On the point's own pixel the agreement counts with its sign, or its absolute value.
    Maps m(21, 21);
    m.nx.at<float>(10, 10) = -0.5f;
    const std::vector<FeatureI> pts = {FeatureI(0, 0, 1.f, 0.f, 0)};
    MultiWindowParams p;
    p.min_score = -1.f;
    float out[25];
    quro::fill_multi_window(m.ref(), pts, {}, 10, 10, p, out);
    EXPECT_EQ(out[12], -0.5f);
    p.polarity = -1.f;
    quro::fill_multi_window(m.ref(), pts, {}, 10, 10, p, out);
    EXPECT_EQ(out[12], 0.5f);
    p.polarity = 1.f;
    p.absolute = true;
    quro::fill_multi_window(m.ref(), pts, {}, 10, 10, p, out);
    EXPECT_EQ(out[12], 0.5f);
}

TEST(MultiWindow, PixelsOutsideTheMapsAddNothing) {
    Maps m(10, 10);
    m.nx.setTo(1.f);
    const auto pts = row_of_points(8);  // x offsets -4..3
    MultiWindowParams p;
    p.min_score = -1.f;
    p.reach = 3;
    std::vector<cv::Point> probes;
    quro::direction_probes(pts, 3, probes);
    float out[25];
    // Reference point at column 1: the points left of column 0 lie outside.
    quro::fill_multi_window(m.ref(), pts, probes, 1, 5, p, out);
    for (int ex = -2; ex <= 2; ++ex) {
        int inside = 0;
        for (const FeatureI& f : pts) inside += (1 + f.x + ex >= 0 && 1 + f.x + ex < 10);
        EXPECT_FLOAT_EQ(out[12 + ex], inside / 8.f) << ex;
    }
    // Far outside: nothing at all.
    quro::fill_multi_window(m.ref(), pts, probes, -1000, 1 << 30, p, out);
    for (const float v : out) EXPECT_EQ(v, 0.f);
}

TEST(MultiWindow, ProbesInterleaveForwardAndBackward) {
    const std::vector<FeatureI> pts = {FeatureI(0, 0, 1.f, 1.f, 0), FeatureI(3, 3, 0.f, -1.f, 0)};
    std::vector<cv::Point> probes = {{7, 7}};
    quro::direction_probes(pts, 2, probes);
    const std::vector<cv::Point> want = {{1, 1},  {-1, -1}, {2, 2},  {-2, -2},
                                         {0, -1}, {0, 1},   {0, -2}, {0, 2}};
    EXPECT_EQ(probes, want);
    quro::direction_probes(pts, 0, probes);
    EXPECT_TRUE(probes.empty());
}

// ---- The whole fit ----

struct Scene {
    std::vector<cv::Point2f> outline = quro_test::irregular_outline(80.f);
    quro::ShapeModelRecord rec = quro_test::polygon_model(outline, 2);
    float step = quro::angle_step(rec, 1);
    quro_test::PolygonPose pose;
    cv::Mat nx, ny;
    explicit Scene(const quro_test::PolygonPose& p) : pose(p) {
        const cv::Mat image = quro_test::render_polygon(outline, cv::Size(200, 180), pose);
        quro::_getNormal33(image, nx, 10.f, ny);
    }
};

TEST(FitPeakSubpixelMulti, WindowsAreTheTemplateWindowsOverThePointCount) {
    const Scene s({100.3f, 89.8f, 33.f});
    quro::ModelPointSet<FeatureI> pts;
    quro::transform_model_points_aniso(s.rec, 32.f, 1, 1.f, 1.f, 0, pts);
    quro::NormalTemplate t;
    quro::normal_template_aniso(s.rec, t, 1, 1.f, 1.f, 32.f);
    ASSERT_EQ(pts.points.size(), t.size());
    const auto maps = quro::normal_maps_ref(s.nx, s.ny);
    quro::WindowTemplate prepared;
    quro::prepare_window_template(t, maps.cols, nullptr, prepared);
    float plain[64], multi[25];
    quro::score_window_at(maps, prepared, 0, t.size(),
                          quro::window_corner_unclamped(prepared, 100, 90, 4), 8, false, plain);
    MultiWindowParams p;
    p.min_score = -1.f;
    quro::fill_multi_window(maps, pts.points, {}, 100, 90, p, multi);
    const float n = float(t.size());
    for (int ey = -2; ey <= 2; ++ey)
        for (int ex = -2; ex <= 2; ++ex)
            EXPECT_NEAR(multi[(ey + 2) * 5 + ex + 2] * n, plain[(ey + 4) * 8 + ex + 4], 1e-3);
}

// The level of a multi fit.
quro::RefineLevel multi_level(const cv::Mat& nx, const cv::Mat& ny,
                              const quro::ShapeModelRecord& rec, int level, int cell_value,
                              float step, float min_score, int metric) {
    quro::RefineLevel lvl = quro_test::fit_level(nx, ny, 0, rec, level, step, metric, cell_value);
    lvl.min_score = min_score;
    return lvl;
}

TEST(FitPeakSubpixelMulti, WithoutSearchOrStopItAgreesWithTheTemplateFit) {
    for (const float theta : {0.f, 75.f, 200.f}) {
        Scene s({100.3f, 89.8f, 0.f});
        s = Scene({100.3f, 89.8f, theta + 0.2f * s.step});
        Match a(100, 90, 0.8f, theta, 1.f, 1.f, 0, 1), b = a;
        quro::fit_peak_subpixel(quro_test::fit_level(s.nx, s.ny, 0, s.rec, 0, s.step, 1), a);
        quro::fit_peak_multi_window(multi_level(s.nx, s.ny, s.rec, 0, 1, s.step, -1.f, 1), 0.f, b);
        EXPECT_EQ(b.x, a.x) << theta;
        EXPECT_EQ(b.y, a.y);
        EXPECT_NEAR(b.angle, a.angle, 1e-3);
        EXPECT_NEAR(b.dx, a.dx, 1e-3);
        EXPECT_NEAR(b.dy, a.dy, 1e-3);
        EXPECT_EQ(b.score, 0.8f);
        EXPECT_LE(std::fabs(b.x + b.dx - s.pose.cx), 0.15);
        EXPECT_LE(std::fabs(b.y + b.dy - s.pose.cy), 0.15);
    }
}

TEST(FitPeakSubpixelMulti, ReversedContrastFitsAsTheMatchingOne) {
    Scene s({100.4f, 89.7f, 12.f});
    cv::Mat inx = -s.nx, iny = -s.ny;
    Match same(100, 90, 0.8f, 11.f, 1.f, 1.f, 0, 1), reversed(100, 90, 0.8f, 11.f, 1.f, 1.f, 0, -1);
    quro::fit_peak_multi_window(multi_level(s.nx, s.ny, s.rec, 0, 3, s.step, 0.5f, -1), 0.5f, same);
    quro::fit_peak_multi_window(multi_level(inx, iny, s.rec, 0, 3, s.step, 0.5f, -1), 0.5f,
                                reversed);
    EXPECT_EQ(reversed.x, same.x);
    EXPECT_EQ(reversed.y, same.y);
    EXPECT_EQ(reversed.angle, same.angle);
    EXPECT_EQ(reversed.dx, same.dx);
    EXPECT_EQ(reversed.dy, same.dy);
    // With the search along the directions the windows are flatter; the fit stays near the pose.
    EXPECT_LE(std::fabs(same.x + same.dx - s.pose.cx), 1.0);
    EXPECT_LE(std::fabs(same.y + same.dy - s.pose.cy), 1.0);
    EXPECT_LE(std::fabs(same.angle - s.pose.angle), s.step);
}

TEST(FitPeakSubpixelMulti, NothingToFitLeavesTheMatchUnchanged) {
    Scene s({100.f, 90.f, 0.f});
    const cv::Mat zero = cv::Mat::zeros(s.nx.size(), CV_32FC1);
    Match c(100, 90, 0.8f, 0.f, 1.f, 1.f, 0, 1);
    c.dx = 0.25f;
    const Match before = c;
    const auto same = [&](const Match& m) {
        return m.x == before.x && m.y == before.y && m.angle == before.angle && m.dx == before.dx &&
               m.dy == before.dy && m.score == before.score;
    };
    quro::fit_peak_multi_window(multi_level(zero, zero, s.rec, 0, 2, s.step, 0.5f, 1), 0.f, c);
    EXPECT_TRUE(same(c));
    // A level the record does not have.
    quro::fit_peak_multi_window(multi_level(s.nx, s.ny, s.rec, 5, 2, s.step, 0.5f, 1), 0.f, c);
    EXPECT_TRUE(same(c));
    // A match far outside the maps.
    Match far(-(1 << 30), 1 << 30, 0.8f, 0.f, 1.f, 1.f, 0, 1);
    quro::fit_peak_multi_window(multi_level(s.nx, s.ny, s.rec, 0, 32, s.step, 0.5f, 1), 0.f, far);
    EXPECT_EQ(far.x, -(1 << 30));
    EXPECT_EQ(far.dx, 0.f);
    const cv::Mat d(20, 20, CV_64FC1, cv::Scalar(0));
    EXPECT_THROW(
        quro::fit_peak_multi_window(multi_level(d, d, s.rec, 0, 2, s.step, 0.5f, 1), 0.f, c),
        cv::Exception);
}

}  // namespace
