// Candidate refinement across levels: the angle walk and its exits on hand-made normal maps, and
// the accuracy of all three variants on rendered polygons.
#include "quro/match/refine/refine_candidate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <vector>

#include "quro/match/order_utils.h"
#include "quro/match/refine/feature_cells.h"
#include "quro/match/refine/normals.h"
#include "quro/parallel.h"
#include "testing/normal_maps.h"
#include "testing/polygon_model.h"
#include "testing/records.h"
#include "testing/refine_level.h"
#include "testing/test_clock.h"

namespace {

using quro::Match;

constexpr double kPi = 3.14159265358979323846;

// A model of one point at the reference point with direction (1, 0), on two levels. Posed at
// angle a its direction is (cos a, -sin a), so on maps (f cos p, -f sin p) it scores f cos(a - p).
quro::ShapeModelRecord point_model(float start, float extent) {
    const quro::Feature p(0.f, 0.f, 1.f, 0.f);
    auto rec = quro_test::record_with_levels({{p}, {p}});
    rec.angle_start = start;
    rec.angle_extent = extent;
    return rec;
}

using Maps = quro_test::NormalMapPair;

// f = max(0, 1 - 0.05 * distance to (tx, ty)), turned to direction angle p (degrees).
Maps cone(int rows, int cols, int tx, int ty, double p_deg) {
    return quro_test::directed_maps(rows, cols, p_deg, [=](int c, int r) {
        return std::max(0.0, 1.0 - 0.05 * std::hypot(c - tx, r - ty));
    });
}

Match candidate(int x, int y, float angle, float score = 0.9f, signed char flag = 1) {
    return Match(x, y, score, angle, 1.f, 1.f, 0, flag);
}

double vertex(double a1, double s1, double a2, double s2, double a3, double s3) {
    const double m = (s1 - s2) / (a1 - a2);
    const double q = (m - (s2 - s3) / (a2 - a3)) / (a1 - a3);
    return -0.5 * (m - (a1 + a2) * q) / q;
}

void expect_same(const Match& a, const Match& b) {
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.angle, b.angle);
    EXPECT_EQ(a.score, b.score);
    EXPECT_EQ(a.scale_row, b.scale_row);
    EXPECT_EQ(a.scale_col, b.scale_col);
    EXPECT_EQ(a.flag, b.flag);
}

// Level 1 refined from level 2 (not the last level: no re-centring), factor 2, metric 1.
void refine_upper(const Maps& m, Match& c, const quro::ShapeModelRecord& rec, float step,
                  float level_min, int border = 0, int metric = 1) {
    const quro::Stopwatch sw;
    quro::refine_candidate(
        quro_test::refine_level(m.nx, m.ny, border, rec, 1, 0, step, level_min, metric, 2, sw, 0),
        c);
}

TEST(RefineCandidate, BelowTheLevelMinimumTheCandidateIsUntouched) {
    const auto rec = point_model(-30.f, 60.f);
    const Maps m = cone(50, 60, 30, 24, 9.f);
    Match c = candidate(15, 12, 10.f, 0.5f);
    const Match before = c;
    refine_upper(m, c, rec, 2.f, 0.6f);
    expect_same(c, before);
}

TEST(RefineCandidate, PassedTimeOutOnEntryLeavesTheCandidateUntouched) {
    const auto rec = point_model(-30.f, 60.f);
    const Maps m = cone(50, 60, 30, 24, 9.f);
    Match c = candidate(15, 12, 10.f);
    const Match before = c;
    const quro::Stopwatch sw = quro_test::expired_stopwatch();
    quro::refine_candidate(
        quro_test::refine_level(m.nx, m.ny, 0, rec, 1, 0, 2.f, 0.5f, 1, 2, sw, 1), c);
    expect_same(c, before);
    Match d = candidate(15, 12, 10.f);
    quro::refine_candidate(
        quro_test::refine_level(m.nx, m.ny, 0, rec, 1, 0, 2.f, 0.5f, 1, 2, sw, 0), d);  // no limit
    EXPECT_EQ(d.x, 30);
}

TEST(RefineCandidate, ZeroExtentKeepsTheAngle) {
    const auto rec = point_model(10.f, 0.f);
    const Maps m = cone(50, 60, 31, 23, 12.f);  // a higher score waits at 12 degrees
    Match c = candidate(15, 12, 10.f);
    refine_upper(m, c, rec, 2.f, 0.5f);
    EXPECT_EQ(c.angle, 10.f);
    EXPECT_EQ(c.x, 31);
    EXPECT_EQ(c.y, 23);
    EXPECT_NEAR(c.score, std::cos(2.0 * kPi / 180.0), 1e-6);
}

TEST(RefineCandidate, ZeroExtentWalksOnUntilASampleIsAccepted) {
    // At 0 degrees the best cell is at inner column 0 (refused); at 60 degrees inner column 1.
    const int b = 3;
    Maps m(30, 40);
    m.nx.at<float>(10, b) = 1.f;
    m.ny.at<float>(10, b + 1) = -1.f;
    const auto rec = point_model(0.f, 0.f);
    Match c = candidate(1, 4, 0.f);
    refine_upper(m, c, rec, 60.f, 0.5f, b);
    EXPECT_EQ(c.angle, 60.f);
    EXPECT_EQ(c.x, 1);
    EXPECT_EQ(c.y, 10 - b);
    EXPECT_NEAR(c.score, std::sin(60.0 * kPi / 180.0), 1e-6);
}

// The single point on a cone turned to `peak` degrees, refined from 10 degrees with steps of 2:
// it scores cos(a - peak) at angle a.
Match walk_from_ten(double peak) {
    const auto rec = point_model(-30.f, 60.f);
    const Maps m = cone(50, 60, 30, 24, peak);
    Match c = candidate(15, 12, 10.f);
    refine_upper(m, c, rec, 2.f, 0.5f);
    EXPECT_EQ(c.x, 30);
    EXPECT_EQ(c.y, 24);
    return c;
}

double cos_deg(double d) {
    return std::cos(d * kPi / 180.0);
}

TEST(RefineCandidate, LowerScoreAboveTurnsTheWalkDownAndTakesTheVertex) {
    const Match c = walk_from_ten(9.3);
    // Samples 10, 12 (lower: turn), 8 (lower again: peak); the vertex runs through 12, 10, 8.
    EXPECT_NEAR(c.angle, vertex(12, cos_deg(2.7), 10, cos_deg(0.7), 8, cos_deg(1.3)), 2e-3);
    EXPECT_NEAR(c.angle, 9.3, 0.01);
    EXPECT_NEAR(c.score, cos_deg(0.7), 1e-6);  // the best sample's score
}

TEST(RefineCandidate, HigherScoreAboveWalksUpToThePeak) {
    const Match c = walk_from_ten(12.6);
    EXPECT_NEAR(c.angle, vertex(10, cos_deg(2.6), 12, cos_deg(0.6), 14, cos_deg(1.4)), 2e-3);
    EXPECT_NEAR(c.angle, 12.6, 0.01);
    EXPECT_NEAR(c.score, cos_deg(0.6), 1e-6);
}

TEST(RefineCandidate, AngleOutsideTheRangeEndsTheWalk) {
    // Range 0..10 with step 2: trial angles up to 15 degrees; 16 ends the walk.
    const auto rec = point_model(0.f, 10.f);
    const Maps m = cone(50, 60, 30, 24, 20.f);
    Match c = candidate(15, 12, 14.f, 1.f);
    refine_upper(m, c, rec, 2.f, 0.5f);
    EXPECT_EQ(c.angle, 14.f);
    EXPECT_NEAR(c.score, std::cos(6.0 * kPi / 180.0), 1e-6);

    // The same walk with a level minimum above the best sample: score 0.
    Match d = candidate(15, 12, 14.f, 1.f);
    refine_upper(m, d, rec, 2.f, 0.999f);
    EXPECT_EQ(d.score, 0.f);

    // The range is taken modulo 360.
    auto wrapped = point_model(360.f, 10.f);
    Match e = candidate(15, 12, 14.f, 1.f);
    refine_upper(m, e, wrapped, 2.f, 0.5f);
    EXPECT_EQ(e.angle, 14.f);
}

TEST(RefineCandidate, EdgeHitOnTheLastLevelRecentresOnce) {
    const auto rec = point_model(-30.f, 60.f);
    const quro::Stopwatch sw;
    for (const int shift : {6, 10}) {
        const Maps m = cone(50, 70, 30 + shift, 24, 10.f);
        // Last level: the first window ends 3 to the right; one re-centring reaches 3 further.
        Match last = candidate(15, 12, 10.f);
        quro::refine_candidate(
            quro_test::refine_level(m.nx, m.ny, 0, rec, 0, 0, 2.f, 0.3f, 1, 2, sw, 0), last);
        EXPECT_EQ(last.x, 36) << shift;
        EXPECT_EQ(last.y, 24);
        // Above the last level there is no re-centring.
        Match upper = candidate(15, 12, 10.f);
        quro::refine_candidate(
            quro_test::refine_level(m.nx, m.ny, 0, rec, 1, 0, 2.f, 0.3f, 1, 2, sw, 0), upper);
        EXPECT_EQ(upper.x, 33) << shift;
    }
}

TEST(RefineCandidate, BestCellOnTheInnerBorderColumnIsNotAccepted) {
    const int b = 3, rows = 30, cols = 40;
    const auto rec = point_model(0.f, 120.f);
    // Left: inner column 1 scores 0.6 at 0 degrees; inner column 0 scores 0.87 at 60 and 120.
    {
        Maps m(rows, cols);
        m.nx.at<float>(10, b + 1) = 0.6f;
        m.ny.at<float>(10, b) = -1.f;
        Match c = candidate(1, 4, 0.f);
        refine_upper(m, c, rec, 60.f, 0.5f, b);
        EXPECT_EQ(c.x, 1);
        EXPECT_EQ(c.y, 10 - b);
        EXPECT_FLOAT_EQ(c.score, 0.6f);
    }
    // Right: inner column Wi - 2 is taken, inner column Wi - 1 is not.
    {
        Maps m(rows, cols);
        m.nx.at<float>(10, cols - b - 2) = 0.6f;
        m.ny.at<float>(10, cols - b - 1) = -1.f;
        Match c = candidate(15, 4, 0.f);
        refine_upper(m, c, rec, 60.f, 0.5f, b);
        EXPECT_EQ(c.x, cols - 2 * b - 2);
        EXPECT_FLOAT_EQ(c.score, 0.6f);
    }
}

TEST(RefineCandidate, NoAcceptedSampleGivesScoreZeroAtThePredictedPosition) {
    // The only edge lies on inner column 0: every sample is refused.
    const int b = 3;
    Maps m(30, 40);
    m.ny.at<float>(10, b) = -1.f;
    const auto rec = point_model(0.f, 180.f);
    Match c = candidate(1, 4, 30.f, 0.9f);
    refine_upper(m, c, rec, 60.f, 0.f, b);
    EXPECT_EQ(c.score, 0.f);
    EXPECT_EQ(c.x, 2);
    EXPECT_EQ(c.y, 8);
    EXPECT_EQ(c.angle, 30.f);
}

TEST(RefineCandidate, EqualScoresAtThreeAnglesKeepTheBestAngle) {
    // With steps of 180 degrees and metric 0 the single point scores exactly 1 at 0, 180 and 360
    // degrees: the three samples leave no parabola vertex.
    Maps m(50, 60);
    m.nx.at<float>(24, 30) = 1.f;
    const auto rec = point_model(0.f, 360.f);
    Match c = candidate(15, 12, 0.f);
    refine_upper(m, c, rec, 180.f, 0.5f, 0, 0);
    EXPECT_TRUE(std::isfinite(c.angle));
    EXPECT_EQ(c.angle, 360.f);  // the last accepted of the equal samples
    EXPECT_EQ(c.score, 1.f);
    EXPECT_EQ(c.x, 30);
}

TEST(RefineCandidate, LevelWithoutPointsGivesScoreZero) {
    const quro::Feature p(0.f, 0.f, 1.f, 0.f);
    auto rec = quro_test::record_with_levels({{p}, {}});
    rec.angle_extent = 10.f;
    const Maps m = cone(50, 60, 30, 24, 0.f);
    Match c = candidate(15, 12, 0.f);
    refine_upper(m, c, rec, 2.f, 0.5f);
    EXPECT_EQ(c.score, 0.f);
}

TEST(RefineCandidate, MapsNarrowerThanTheWindowAreSafe) {
    const auto rec = point_model(-30.f, 60.f);
    for (int size = 1; size < 10; ++size) {
        const Maps m = cone(size, size, size / 2, size / 2, 0.f);
        Match c = candidate(1, 1, 0.f);
        refine_upper(m, c, rec, 2.f, 0.f);
        EXPECT_TRUE(std::isfinite(c.angle));
        EXPECT_GE(c.score, 0.f);
        EXPECT_LE(c.score, 1.f);
    }
}

TEST(RefineCandidate, RejectsMapsOfAnotherType) {
    const auto rec = point_model(-30.f, 60.f);
    cv::Mat a(20, 20, CV_64FC1, cv::Scalar(0));
    Match c = candidate(5, 5, 0.f);
    const quro::Stopwatch sw;
    EXPECT_THROW(quro::refine_candidate(
                     quro_test::refine_level(a, a, 0, rec, 1, 0, 2.f, 0.5f, 1, 2, sw, 0), c),
                 cv::Exception);
}

// ---- Rendered polygons ----

struct PolygonScene {
    std::vector<cv::Point2f> outline = quro_test::irregular_outline(80.f);
    quro::ShapeModelRecord rec = quro_test::polygon_model(outline, 2);
    quro_test::PolygonPose pose{100.4f, 80.7f, 3.3f, 1.f, 1.f};
    cv::Mat image = quro_test::render_polygon(outline, cv::Size(200, 170), pose);
    cv::Mat nx, ny;
    PolygonScene() {
        rec.angle_start = -20.f;
        rec.angle_extent = 40.f;
        quro::_getNormal33(image, nx, 10.f, ny);
    }
};

void expect_near_pose(const Match& c, const quro_test::PolygonPose& pose, double angle_tol) {
    EXPECT_LE(std::fabs(c.x - pose.cx), 1.0) << c.x;
    EXPECT_LE(std::fabs(c.y - pose.cy), 1.0) << c.y;
    EXPECT_LE(std::fabs(c.angle - pose.angle), angle_tol) << c.angle;
    EXPECT_GT(c.score, 0.6f);
}

TEST(RefineCandidatePolygon, GuessOnePixelOffAboveEndsOnThePose) {
    const PolygonScene s;
    const quro::Stopwatch sw;
    for (const float angle : {2.f, 4.f}) {
        for (const int dx : {-1, 1}) {
            for (const int dy : {-1, 1}) {
                Match c = candidate(50 + dx, 40 + dy, angle);
                quro::refine_candidate(
                    quro_test::refine_level(s.nx, s.ny, 0, s.rec, 0, 0, 2.f, 0.5f, 1, 2, sw, 0),
                    c);
                expect_near_pose(c, s.pose, 0.5);
            }
        }
    }
}

TEST(RefineCandidatePolygon, CellVariantEndsOnThePose) {
    const PolygonScene s;
    const quro::Stopwatch sw;
    for (const int grid : {2, 3}) {
        std::vector<int> cells;
        quro::feature_cell_index(s.rec, 1, grid, cells);
        const std::vector<int> order = quro::argsort_int(cells);
        for (const int dx : {-1, 1}) {
            Match c = candidate(50 + dx, 41, 4.f);
            quro::refine_candidate(quro_test::refine_level(s.nx, s.ny, 0, s.rec, 0, 0, 2.f, 0.5f, 1,
                                                           2, sw, 0, 4, &cells, &order),
                                   c);
            expect_near_pose(c, s.pose, 1.0);
        }
    }
}

// Candidates refined concurrently with the level's shared templates end exactly where their own
// walks end, plain and cell variant, with every pose kept or (byte limit 0) none.
TEST(RefineCandidatePolygon, SharedTemplatesChangeNoResult) {
    const PolygonScene s;
    const quro::Stopwatch sw;
    std::vector<int> cells;
    quro::feature_cell_index(s.rec, 1, 2, cells);
    const std::vector<int> order = quro::argsort_int(cells);
    std::vector<Match> start;
    for (int k = 0; k < 96; ++k)
        start.push_back(candidate(48 + k % 5, 38 + k / 5 % 5, -4.3f + 1.3f * static_cast<float>(k % 7)));
    for (const int cell_value : {1, 4}) {
        for (const std::size_t limit : {quro::LevelTemplates::kDefaultByteLimit, std::size_t{0}}) {
            quro::RefineLevel lvl = quro_test::refine_level(s.nx, s.ny, 0, s.rec, 0, 0, 2.f, 0.5f,
                                                            1, 2, sw, 0, cell_value, &cells, &order);
            const auto refine = [&](Match& c) { quro::refine_candidate(lvl, c); };
            std::vector<Match> own = start, shared = start;
            for (Match& c : own) refine(c);
            quro::LevelTemplates templates(limit);
            lvl.templates = &templates;
            quro::parallel_for_index(shared.size(), [&](std::size_t i) { refine(shared[i]); });
            for (std::size_t i = 0; i < own.size(); ++i) expect_same(shared[i], own[i]);
            // Seven start angles: far fewer poses than walks.
            EXPECT_EQ(templates.size() > 0, limit > 0);
            EXPECT_LT(templates.size(), start.size() / 2);
        }
    }
}

TEST(RefineCandidatePolygon, FactorOneStartsFromThisLevel) {
    const PolygonScene s;
    const quro::Stopwatch sw;
    Match c = candidate(102, 79, 2.f);
    quro::refine_candidate(
        quro_test::refine_level(s.nx, s.ny, 0, s.rec, 0, 0, 2.f, 0.5f, 1, 1, sw, 0), c);
    expect_near_pose(c, s.pose, 0.5);
}

TEST(RefineCandidatePolygon, MetricZeroScoresReversedContrastAsHigh) {
    const PolygonScene s;
    const cv::Mat inverted = 255 - s.image;
    cv::Mat inx, iny;
    quro::_getNormal33(inverted, inx, 10.f, iny);
    const quro::Stopwatch sw;
    Match same = candidate(51, 40, 4.f), reversed = candidate(51, 40, 4.f);
    quro::refine_candidate(
        quro_test::refine_level(s.nx, s.ny, 0, s.rec, 0, 0, 2.f, 0.5f, 0, 2, sw, 0), same);
    quro::refine_candidate(
        quro_test::refine_level(inx, iny, 0, s.rec, 0, 0, 2.f, 0.5f, 0, 2, sw, 0), reversed);
    expect_near_pose(reversed, s.pose, 0.5);
    EXPECT_EQ(reversed.score, same.score);
    EXPECT_EQ(reversed.x, same.x);
    EXPECT_EQ(reversed.angle, same.angle);

    // With polarity the reversed edges do not match...
    Match polar = candidate(51, 40, 4.f);
    quro::refine_candidate(
        quro_test::refine_level(inx, iny, 0, s.rec, 0, 0, 2.f, 0.5f, 1, 2, sw, 0), polar);
    EXPECT_LT(polar.score, 0.3f);
    // ...unless the candidate carries the reversed polarity.
    Match flipped = candidate(51, 40, 4.f, 0.9f, -1);
    quro::refine_candidate(
        quro_test::refine_level(inx, iny, 0, s.rec, 0, 0, 2.f, 0.5f, -1, 2, sw, 0), flipped);
    expect_near_pose(flipped, s.pose, 0.5);
}

}  // namespace
