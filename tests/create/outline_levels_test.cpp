// The pieces of outline model levels: segment points, level derivation, the level builder and the
// generated outlines, against hand-worked values.
#include "quro/create/outline_levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "quro/create/creation_frame.h"
#include "quro/create/outline_creation.h"
#include "quro/create/outline_shapes.h"
#include "quro/model_table.h"
#include "quro/stopwatch.h"
#include "testing/test_clock.h"

namespace {

using quro::Feature;

// ---------------------------------------------------------------------------------------------
// Segment points

TEST(SegmentPoints, OnePointPerPixelWithoutTheEndPoints) {
    std::vector<Feature> pts;
    ASSERT_EQ(quro::segment_to_features(1, pts, 2.f, 3.f, 7.5f, 3.f), 0);  // length 5.5
    ASSERT_EQ(pts.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pts[i].x, 3.f + i);
        EXPECT_EQ(pts[i].y, 3.f);
        // Direction (1, 0): sign >= 0 gives (-uy, ux) = (0, 1).
        EXPECT_EQ(pts[i].gx, -0.f);
        EXPECT_EQ(pts[i].gy, 1.f);
    }
}

TEST(SegmentPoints, NegativeSignTakesTheOtherNormal) {
    std::vector<Feature> a, b;
    ASSERT_EQ(quro::segment_to_features(0, a, 0.f, 0.f, 30.f, 40.f), 0);
    ASSERT_EQ(quro::segment_to_features(-1, b, 0.f, 0.f, 30.f, 40.f), 0);
    ASSERT_EQ(a.size(), 49u);  // length 50
    ASSERT_EQ(b.size(), a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].x, b[i].x);
        EXPECT_FLOAT_EQ(a[i].x, 0.6f * static_cast<float>(i + 1));
        EXPECT_FLOAT_EQ(a[i].gx, -0.8f);
        EXPECT_FLOAT_EQ(a[i].gy, 0.6f);
        EXPECT_EQ(b[i].gx, -a[i].gx);
        EXPECT_EQ(b[i].gy, -a[i].gy);
    }
}

TEST(SegmentPoints, ShortSegmentsGiveTheirMidpointOrNothing) {
    std::vector<Feature> pts;
    ASSERT_EQ(quro::segment_to_features(1, pts, 1.f, 1.f, 2.9f, 1.f), 0);  // length 1.9
    ASSERT_EQ(pts.size(), 1u);
    EXPECT_FLOAT_EQ(pts[0].x, 1.95f);
    EXPECT_EQ(pts[0].y, 1.f);
    pts.clear();
    ASSERT_EQ(quro::segment_to_features(1, pts, 1.f, 1.f, 1.f, 1.00000012f), 0);  // length 1.19e-7
    EXPECT_TRUE(pts.empty());
    ASSERT_EQ(quro::segment_to_features(1, pts, 4.f, 4.f, 4.f, 4.f), 0);
    EXPECT_TRUE(pts.empty());
    ASSERT_EQ(quro::segment_to_features(1, pts, 0.f, 0.f, 0.f, 2.f), 0);  // length 2: i = 1 only
    ASSERT_EQ(pts.size(), 1u);
    EXPECT_EQ(pts[0].y, 1.f);
}

TEST(SegmentPoints, NonFiniteSegmentsGiveNothingAndHugeOnesFail) {
    std::vector<Feature> pts;
    EXPECT_EQ(quro::segment_to_features(1, pts, NAN, 0.f, 10.f, 0.f), 0);
    EXPECT_EQ(quro::segment_to_features(1, pts, 0.f, 0.f, INFINITY, 0.f), 0);
    EXPECT_EQ(quro::segment_to_features(1, pts, 0.f, -INFINITY, 0.f, 0.f), 0);
    EXPECT_TRUE(pts.empty());
    EXPECT_EQ(quro::segment_to_features(1, pts, 0.f, 0.f, 3e9f, 0.f), -1);
    EXPECT_EQ(quro::segment_to_features(1, pts, -3e38f, 0.f, 3e38f, 0.f), -1);  // overflows
    EXPECT_TRUE(pts.empty());
}

// ---------------------------------------------------------------------------------------------
// Level derivation

TEST(DeriveLevel, SkipsOddOddAndTakenPositionsKeepsOrderAndHalves) {
    const std::vector<Feature> prev = {
        {2.f, 3.f, 1.f, 0.f},        // (2, 3): kept
        {1.f, 1.f, 0.f, 1.f},        // odd, odd: skipped
        {2.4f, 2.6f, 0.5f, 0.5f},    // rounds to (2, 3): taken
        {-3.f, 4.f, -1.f, 0.f},      // kept
        {-2.5f, -0.5f, 0.f, -1.f},   // rounds half away to (-3, -1): odd, odd
        {-2.49f, 0.5f, 0.3f, 0.4f},  // (-2, 1): kept
        {7.f, -6.6f, 0.f, 0.f},      // (7, -7): odd, odd
        {7.f, -6.4f, 0.f, 0.f},      // (7, -6): kept
    };
    const std::vector<Feature> next = quro::derive_outline_level(prev);
    ASSERT_EQ(next.size(), 4u);
    const Feature want[4] = {{1.f, 1.5f, 1.f, 0.f},
                             {-1.5f, 2.f, -1.f, 0.f},
                             {-1.245f, 0.25f, 0.3f, 0.4f},
                             {3.5f, -3.2f, 0.f, 0.f}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(next[i].x, want[i].x) << i;
        EXPECT_FLOAT_EQ(next[i].y, want[i].y) << i;
        EXPECT_EQ(next[i].gx, want[i].gx) << i;
        EXPECT_EQ(next[i].gy, want[i].gy) << i;
    }
}

TEST(DeriveLevel, PositionsFarApartNeverShareAKey) {
    // With keys of 16 + 16 bits these pairs would collide and the second point would be lost.
    const std::vector<Feature> prev = {{0.f, 2.f, 1.f, 0.f},
                                       {65536.f, 2.f, 1.f, 0.f},
                                       {0.f, 65538.f, 1.f, 0.f},
                                       {-40000.f, -40000.f, 1.f, 0.f},
                                       {-40000.f + 65536.f, -40000.f, 1.f, 0.f}};
    EXPECT_EQ(quro::derive_outline_level(prev).size(), prev.size());
}

// ---------------------------------------------------------------------------------------------
// Level builder

std::vector<Feature> circle_points(int n, float r) {
    std::vector<Feature> pts;
    for (int i = 0; i < n; ++i) {
        const float t = 6.2831853f * static_cast<float>(i) / static_cast<float>(n);
        pts.emplace_back(r * std::cos(t), r * std::sin(t), -std::cos(t), -std::sin(t));
    }
    return pts;
}

TEST(OutlineLevels, EachLevelDerivesFromTheOneBelowUntilFewerThanForty) {
    const std::vector<Feature> level1 = circle_points(800, 127.f);
    quro::ShapeModelRecord rec;
    quro::Stopwatch watch;
    ASSERT_EQ(quro::build_outline_levels(level1, quro::unbounded_box_start(), rec, {watch, 0}), 0);
    ASSERT_GE(rec.num_levels, 3);
    EXPECT_EQ(rec.level_features.size(), static_cast<std::size_t>(rec.num_levels));
    EXPECT_EQ(rec.level_features[0].size(), level1.size());
    for (int k = 1; k < rec.num_levels; ++k) {
        const auto want = quro::derive_outline_level(rec.level_features[k - 1]);
        ASSERT_EQ(rec.level_features[k].size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i)
            EXPECT_EQ(rec.level_features[k][i].x, want[i].x);
    }
    for (int k = 0; k < rec.num_levels; ++k) {
        EXPECT_GE(rec.level_features[k].size(), 40u);
        EXPECT_EQ(rec.level_angle[k], 0.f);
    }
    EXPECT_LT(quro::derive_outline_level(rec.level_features.back()).size(), 40u);
}

TEST(OutlineLevels, BoxAndSizeOfALevel) {
    // 40 points on the segment x = -3 .. 36 at y = 5, and one at (-10, -2).
    std::vector<Feature> pts;
    for (int i = 0; i < 40; ++i) pts.emplace_back(-3.f + i, 5.f, 0.f, 1.f);
    pts.emplace_back(-10.f, -2.f, 0.f, 1.f);
    quro::ShapeModelRecord rec;
    quro::Stopwatch watch;
    ASSERT_EQ(quro::build_outline_levels(pts, quro::unbounded_box_start(), rec, {watch, 0}), 0);
    ASSERT_EQ(rec.num_levels, 1);  // level 2 keeps 21 points
    EXPECT_EQ(rec.box_min_x[0], -10.f);
    EXPECT_EQ(rec.box_max_x[0], 36.f);
    EXPECT_EQ(rec.box_min_y[0], -2.f);
    EXPECT_EQ(rec.box_max_y[0], 5.f);
    EXPECT_EQ(rec.level_widths[0], 72);
    EXPECT_EQ(rec.level_heights[0], 10);
    EXPECT_FLOAT_EQ(rec.level_radius[0], std::hypot(36.f, 5.f));
    // A start wider than the points bounds the box.
    quro::ShapeModelRecord wide;
    ASSERT_EQ(
        quro::build_outline_levels(pts, quro::outline_box_start(-50.f, 8.f), wide, {watch, 0}), 0);
    EXPECT_EQ(wide.box_min_x[0], -10.f);
    EXPECT_EQ(wide.box_max_x[0], 36.f);
    EXPECT_EQ(wide.box_min_y[0], -2.f);
    EXPECT_EQ(wide.box_max_y[0], 5.f);
    const quro::OutlineBoxStart s = quro::outline_box_start(-50.f, 8.f);
    EXPECT_EQ(s.min_x, 50.f);
    EXPECT_EQ(s.max_x, -50.f);
    EXPECT_EQ(s.min_y, 8.f);
    EXPECT_EQ(s.max_y, -8.f);
}

TEST(OutlineLevels, TooFewOrUnusablePointsFail) {
    quro::ShapeModelRecord rec;
    quro::Stopwatch watch;
    EXPECT_EQ(quro::build_outline_levels(circle_points(39, 20.f), quro::unbounded_box_start(), rec,
                                         {watch, 0}),
              -1);
    std::vector<Feature> bad = circle_points(100, 20.f);
    bad[7].y = NAN;
    EXPECT_EQ(quro::build_outline_levels(bad, quro::unbounded_box_start(), rec, {watch, 0}), -1);
    bad[7].y = 2e9f;
    EXPECT_EQ(quro::build_outline_levels(bad, quro::unbounded_box_start(), rec, {watch, 0}), -1);
    EXPECT_TRUE(rec.level_features.empty());
}

TEST(OutlineLevels, AgedStopwatchTimesOutAndTheFrameInsertsNothing) {
    quro::Stopwatch watch = quro_test::expired_stopwatch();
    quro::ShapeModelRecord rec;
    EXPECT_EQ(quro::build_outline_levels(circle_points(400, 60.f), quro::unbounded_box_start(), rec,
                                         {watch, 1}),
              -2);
    EXPECT_EQ(rec.level_features.size(), 1u);
    quro::ShapeModelRecord unlimited;
    EXPECT_EQ(quro::build_outline_levels(circle_points(400, 60.f), quro::unbounded_box_start(),
                                         unlimited, {watch, 0}),
              0);

    // Through the creation frame: the time-out ends the creation, nothing is inserted.
    const std::size_t before = quro::shape_model_count();
    int id = 77;
    const quro::CreationArgs args{0.f, 360.f, 1.f, 1, ContrastParams{10, 30, 10, 10}};
    const int rc = quro::run_creation(
        args, quro::kOutlineCreationLabel, &id, [&](quro::ShapeModelRecord& r, quro::Stopwatch& w) {
            w = quro_test::expired_stopwatch();
            return quro::build_outline_levels(circle_points(400, 60.f), quro::unbounded_box_start(),
                                              r, {w, 1});
        });
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(id, 77);
    EXPECT_EQ(quro::shape_model_count(), before);
}

// ---------------------------------------------------------------------------------------------
// Generated outlines

TEST(GeneratedOutlines, CircleStepsByAnIntegerCounter) {
    EXPECT_EQ(quro::circle_outline(50.f).size(), 315u);  // t = i / 50 < 2 pi: i = 0 .. 314
    EXPECT_EQ(quro::circle_outline(1000.f).size(), 6284u);
    EXPECT_EQ(quro::circle_outline(0.5f).size(), 4u);  // t = 0, 2, 4, 6
    EXPECT_TRUE(quro::circle_outline(0.f).empty());
    EXPECT_TRUE(quro::circle_outline(-3.f).empty());
    const auto c = quro::circle_outline(50.f);
    EXPECT_EQ(c[0].x, -0.f);
    EXPECT_EQ(c[0].y, -50.f);  // starts at the top, direction down to the centre
    EXPECT_EQ(c[0].gy, 1.f);
}

TEST(GeneratedOutlines, EllipseDirectionsAreInwardNormals) {
    const auto e = quro::ellipse_outline(40.f, 20.f);
    EXPECT_EQ(e.size(), 252u);  // t = i / 40 < 2 pi
    for (const Feature& f : e) {
        EXPECT_NEAR(f.x * f.x / 1600.f + f.y * f.y / 400.f, 1.f, 1e-4f);
        // The inward normal is parallel to -(x / a^2, y / b^2).
        const float nx = -f.x / 1600.f, ny = -f.y / 400.f;
        const float n = std::hypot(nx, ny);
        EXPECT_NEAR(f.gx, nx / n, 1e-4f);
        EXPECT_NEAR(f.gy, ny / n, 1e-4f);
    }
    EXPECT_EQ(e[0].x, 0.f);
    EXPECT_EQ(e[0].y, 20.f);
}

TEST(GeneratedOutlines, RectangleOrderAndSides) {
    const auto r = quro::rectangle_outline(20.f, 10.f);
    ASSERT_EQ(r.size(), 116u);
    // Left side top to bottom, bottom side left to right, right side upwards, top side leftwards.
    EXPECT_EQ(r[0].x, -20.f);
    EXPECT_EQ(r[0].y, -9.f);
    EXPECT_EQ(r[18].y, 9.f);
    EXPECT_EQ(r[19].x, -19.f);
    EXPECT_EQ(r[19].y, 10.f);
    EXPECT_EQ(r[57].x, 19.f);
    EXPECT_EQ(r[58].x, 20.f);
    EXPECT_EQ(r[58].y, 9.f);
    EXPECT_EQ(r[77].x, 19.f);
    EXPECT_EQ(r[77].y, -10.f);
    EXPECT_EQ(r[115].x, -19.f);
    // A fractional rectangle: sides at 2a and 2b, loops bounded by their integer parts.
    const auto f = quro::rectangle_outline(2.75f, 1.25f);
    ASSERT_EQ(f.size(), 2u * (1 + 4));
    EXPECT_EQ(f[1].x, -1.75f);
    EXPECT_EQ(f[1].y, 1.25f);
    EXPECT_EQ(f[5].x, 2.75f);
}

}  // namespace
