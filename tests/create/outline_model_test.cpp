// Shape models created from generated outlines, polygons and point lists, through the exports.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "quro/create/outline_levels.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "tests/create/create_support.h"

namespace {

using quro::Feature;
using quro_test::expect_record_invariants;
using quro_test::ScopedModel;

constexpr ContrastParams kContrast{10, 30, 10, 7};

int xld(float a, float b, ScopedModel& m, int num_levels = 0) {
    return create_shape_model_xld(a, b, num_levels, -90.f, 180.f, 1.f, 1, &kContrast, m.out());
}

int xld2(int shape, int flip, float l1, float l2, ScopedModel& m) {
    return create_shape_model_xld2(shape, flip, l1, l2, 0, -90.f, 180.f, 1.f, 1, &kContrast,
                                   m.out());
}

int pol(const std::vector<float>& x, const std::vector<float>& y, const std::vector<char>& use,
        int count, ScopedModel& m) {
    return create_shape_model_pol(x.data(), y.data(), use.data(), count, 0, 0.f, 360.f, 1.f, 1,
                                  &kContrast, m.out());
}

// Every stored level derives from the one below.
void expect_derived_levels(const quro::ShapeModelRecord& rec) {
    for (int k = 1; k < rec.num_levels; ++k) {
        const auto want = quro::derive_outline_level(rec.level_features[k - 1]);
        ASSERT_EQ(rec.level_features[k].size(), want.size()) << k;
        for (std::size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(rec.level_features[k][i].x, want[i].x);
            ASSERT_EQ(rec.level_features[k][i].y, want[i].y);
        }
    }
}

void expect_same_levels(const quro::ShapeModelRecord& a, const quro::ShapeModelRecord& b) {
    ASSERT_EQ(a.num_levels, b.num_levels);
    for (int k = 0; k < a.num_levels; ++k) {
        ASSERT_EQ(a.level_features[k].size(), b.level_features[k].size()) << k;
        for (std::size_t i = 0; i < a.level_features[k].size(); ++i) {
            const Feature& p = a.level_features[k][i];
            const Feature& q = b.level_features[k][i];
            ASSERT_TRUE(p.x == q.x && p.y == q.y && p.gx == q.gx && p.gy == q.gy) << k << " " << i;
        }
        EXPECT_EQ(a.level_widths[k], b.level_widths[k]);
        EXPECT_EQ(a.level_heights[k], b.level_heights[k]);
        EXPECT_EQ(a.box_min_x[k], b.box_min_x[k]);
        EXPECT_EQ(a.box_max_y[k], b.box_max_y[k]);
        EXPECT_EQ(a.level_radius[k], b.level_radius[k]);
    }
}

// ---------------------------------------------------------------------------------------------
// First family

TEST(OutlineModel, CircleHasItsPointsDirectedToTheCentre) {
    ScopedModel m;
    ASSERT_EQ(xld(50.f, 0.f, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    expect_record_invariants(*rec);
    expect_derived_levels(*rec);
    EXPECT_EQ(rec->shape_kind, 1);
    ASSERT_EQ(rec->level_features[0].size(), 315u);
    for (const Feature& f : rec->level_features[0]) {
        EXPECT_NEAR(std::hypot(f.x, f.y), 50.f, 1e-3f);
        EXPECT_NEAR(f.gx, -f.x / 50.f, 1e-5f);
        EXPECT_NEAR(f.gy, -f.y / 50.f, 1e-5f);
    }
    // (int)(2 * largest |x|): no point lies exactly at x = +-50, one lies at y = -50.
    EXPECT_EQ(rec->level_widths[0], 99);
    EXPECT_EQ(rec->level_heights[0], 100);
    EXPECT_NEAR(rec->level_radius[0], 50.f, 1e-3f);
    EXPECT_EQ(rec->level_angle[0], 0.f);
    // Stored arguments and the frame's values.
    EXPECT_EQ(rec->angle_start, -90.f);
    EXPECT_EQ(rec->angle_extent, 180.f);
    EXPECT_EQ(rec->contrast.min_contrast, 7);
    EXPECT_EQ(rec->timeout_ms, 1000);
    EXPECT_EQ(rec->metric, 1);
}

TEST(OutlineModel, RectangleHasNoCornerPoints) {
    ScopedModel m;
    ASSERT_EQ(xld(20.f, 10.f, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    expect_record_invariants(*rec);
    EXPECT_EQ(rec->shape_kind, 2);
    const auto& pts = rec->level_features[0];
    ASSERT_EQ(pts.size(), 116u);
    for (const Feature& f : pts) {
        EXPECT_FALSE(std::fabs(f.x) == 20.f && std::fabs(f.y) == 10.f);
        // On a side, directed into the rectangle.
        const bool vertical_side = std::fabs(f.x) == 20.f;
        EXPECT_TRUE(vertical_side || std::fabs(f.y) == 10.f);
        if (vertical_side) {
            EXPECT_EQ(f.gx, f.x > 0 ? -1.f : 1.f);
            EXPECT_EQ(f.gy, 0.f);
        } else {
            EXPECT_EQ(f.gx, 0.f);
            EXPECT_EQ(f.gy, f.y > 0 ? -1.f : 1.f);
        }
    }
    int v = 0;
    get_shape_model_param(m.id, "width0", &v);
    EXPECT_EQ(v, 40);
    get_shape_model_param(m.id, "height0", &v);
    EXPECT_EQ(v, 20);
    EXPECT_EQ(rec->level_features[1].size(), 116u);  // every position is even in one coordinate
}

TEST(OutlineModel, InconsistentLengthsGiveMinusFour) {
    const std::size_t before = quro::shape_model_count();
    ScopedModel m;
    m.id = -9;
    EXPECT_EQ(xld(-10.f, 20.f, m), -4);
    EXPECT_EQ(xld(10.f, -20.f, m), -4);
    EXPECT_EQ(xld(10.f, -10.f, m), -4);  // |b| = a
    EXPECT_EQ(xld(-10.f, 0.f, m), -4);   // a circle of negative radius
    EXPECT_EQ(xld(0.f, 0.f, m), -1);     // a circle without points
    EXPECT_EQ(m.id, -9);
    EXPECT_EQ(quro::shape_model_count(), before);
}

TEST(OutlineModel, CrossDirectionsPointIntoTheArms) {
    ScopedModel m;
    ASSERT_EQ(xld(20.f, -10.f, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->shape_kind, 2);
    const auto& pts = rec->level_features[0];
    ASSERT_EQ(pts.size(), 72u);  // eight edges of length 10, nine points each
    auto inside = [](float x, float y) {
        const float ax = std::fabs(x), ay = std::fabs(y);
        return (ax < 10.f && ay < 20.f) || (ay < 10.f && ax < 20.f);
    };
    for (const Feature& f : pts) {
        EXPECT_FALSE(inside(f.x, f.y)) << f.x << " " << f.y;  // on the border
        EXPECT_TRUE(inside(f.x + 0.5f * f.gx, f.y + 0.5f * f.gy)) << f.x << " " << f.y;
        EXPECT_FALSE(inside(f.x - 0.5f * f.gx, f.y - 0.5f * f.gy)) << f.x << " " << f.y;
    }
    EXPECT_EQ(rec->level_widths[0], 38);  // x from -19 to 19
    EXPECT_EQ(rec->level_heights[0], 38);
}

TEST(OutlineModel, EllipseBoxHalvesFromLevelToLevel) {
    ScopedModel m;
    ASSERT_EQ(xld(-40.f, -20.f, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    expect_record_invariants(*rec);
    ASSERT_GE(rec->num_levels, 2);
    EXPECT_EQ(rec->level_widths[0], 79);  // no point lies exactly at x = +-40
    EXPECT_EQ(rec->level_heights[0], 40);
    for (int k = 0; k < rec->num_levels; ++k) {
        const float f = std::ldexp(1.f, -k);
        EXPECT_NEAR(rec->box_min_x[k], -40.f * f, 1.f) << k;
        EXPECT_NEAR(rec->box_max_x[k], 40.f * f, 1.f) << k;
        EXPECT_NEAR(rec->box_min_y[k], -20.f * f, 1.f) << k;
        EXPECT_NEAR(rec->box_max_y[k], 20.f * f, 1.f) << k;
        EXPECT_NEAR(rec->level_widths[k], 80.f * f, 2.f) << k;
    }
}

TEST(OutlineModel, LevelCountArgumentIsNotRead) {
    ScopedModel one, seven;
    ASSERT_EQ(xld(150.f, 0.f, one, 1), 0);
    ASSERT_EQ(xld(150.f, 0.f, seven, 7), 0);
    expect_same_levels(*one.record(), *seven.record());
    // A large outline gets as many levels as keep 40 points, at most 10.
    EXPECT_GT(one.record()->num_levels, 1);
    ScopedModel big;
    ASSERT_EQ(xld(4000.f, 3000.f, big), 0);  // level 10 keeps 108 points
    EXPECT_EQ(big.record()->num_levels, 10);
}

TEST(OutlineModel, NonFiniteOrHugeLengthsFail) {
    ScopedModel m;
    m.id = -9;
    EXPECT_EQ(xld(NAN, 5.f, m), -1);
    EXPECT_EQ(xld(5.f, INFINITY, m), -1);
    EXPECT_EQ(xld(2e9f, 0.f, m), -1);
    EXPECT_EQ(xld2(1, 0, INFINITY, 0.f, m), -1);
    EXPECT_EQ(xld2(3, 0, 10.f, NAN, m), -1);
    EXPECT_EQ(m.id, -9);
}

// ---------------------------------------------------------------------------------------------
// Second family

TEST(OutlineModel, SecondFamilyChecksItsArguments) {
    ScopedModel m;
    m.id = -9;
    EXPECT_EQ(xld2(0, 0, 10.f, 10.f, m), -3);
    EXPECT_EQ(xld2(10, 0, 10.f, 10.f, m), -3);
    EXPECT_EQ(xld2(0, 0, -10.f, 10.f, m), -3);  // the shape number is checked first
    for (int shape = 1; shape <= 9; ++shape) {
        EXPECT_EQ(xld2(shape, 0, 0.f, 10.f, m), -4) << shape;
        EXPECT_EQ(xld2(shape, 0, -5.f, 10.f, m), -4) << shape;
    }
    for (int shape = 2; shape <= 9; ++shape) EXPECT_EQ(xld2(shape, 0, 30.f, 0.f, m), -4) << shape;
    EXPECT_EQ(m.id, -9);
    ScopedModel circle;
    ASSERT_EQ(xld2(1, 0, 30.f, -5.f, circle), 0);  // the circle ignores its second length
    EXPECT_EQ(circle.record()->box_min_y[0], -30.f);
    EXPECT_EQ(circle.record()->level_heights[0], 60);
}

TEST(OutlineModel, SecondFamilyShapesOneToFourMatchTheFirstFamily) {
    struct Pair {
        int shape;
        float l1, l2, a, b;
    };
    for (const Pair& p : {Pair{1, 60.f, 9.f, 60.f, 0.f}, Pair{2, 60.f, 25.f, -60.f, -25.f},
                          Pair{3, 60.f, 25.f, 60.f, 25.f}, Pair{4, 60.f, 25.f, 60.f, -25.f}}) {
        ScopedModel first, second;
        ASSERT_EQ(xld(p.a, p.b, first), 0);
        ASSERT_EQ(xld2(p.shape, 0, p.l1, p.l2, second), 0);
        expect_same_levels(*first.record(), *second.record());
        EXPECT_EQ(second.record()->shape_kind, p.shape);
    }
}

TEST(OutlineModel, FlipNegatesEveryDirection) {
    for (int shape = 1; shape <= 9; ++shape) {
        ScopedModel plain, flipped;
        ASSERT_EQ(xld2(shape, 0, 60.f, 45.f, plain), 0) << shape;
        ASSERT_EQ(xld2(shape, 3, 60.f, 45.f, flipped), 0) << shape;
        const auto a = plain.record();
        const auto b = flipped.record();
        ASSERT_EQ(a->num_levels, b->num_levels);
        EXPECT_EQ(b->shape_kind, shape);
        for (int k = 0; k < a->num_levels; ++k) {
            ASSERT_EQ(a->level_features[k].size(), b->level_features[k].size());
            for (std::size_t i = 0; i < a->level_features[k].size(); ++i) {
                const Feature& p = a->level_features[k][i];
                const Feature& q = b->level_features[k][i];
                ASSERT_EQ(p.x, q.x);
                ASSERT_EQ(p.y, q.y);
                ASSERT_EQ(q.gx, -p.gx);
                ASSERT_EQ(q.gy, -p.gy);
            }
        }
    }
}

TEST(OutlineModel, BarsAndCornersKeepTheirGeometry) {
    // Bars: two horizontal rows of 119 points at y = -45 and 45, directions towards each other.
    ScopedModel bars;
    ASSERT_EQ(xld2(5, 0, 60.f, 45.f, bars), 0);
    const auto& b = bars.record()->level_features[0];
    ASSERT_EQ(b.size(), 238u);
    for (const Feature& f : b) {
        EXPECT_EQ(std::fabs(f.y), 45.f);
        EXPECT_EQ(std::fabs(f.gx), 0.f);
        EXPECT_EQ(f.gy, f.y < 0 ? 1.f : -1.f);
    }
    // Corners: every point on one of the two axes, in the quadrant of the shape, the corner at
    // the reference point. Quadrant signs (x, y) per shape 6..9.
    const int sx[4] = {1, -1, -1, 1}, sy[4] = {-1, -1, 1, 1};
    for (int shape = 6; shape <= 9; ++shape) {
        ScopedModel m;
        ASSERT_EQ(xld2(shape, 0, 60.f, 45.f, m), 0);
        const auto rec = m.record();
        ASSERT_EQ(rec->level_features[0].size(), 59u + 44u) << shape;
        for (const Feature& f : rec->level_features[0]) {
            EXPECT_TRUE(f.x == 0.f || f.y == 0.f);
            EXPECT_GE(f.x * sx[shape - 6], 0.f);
            EXPECT_GE(f.y * sy[shape - 6], 0.f);
        }
        // The box reaches the corner at (0, 0) and the far ends one pixel short of the lengths.
        EXPECT_EQ(rec->level_widths[0], 118) << shape;
        EXPECT_EQ(rec->level_heights[0], 88) << shape;
    }
}

// ---------------------------------------------------------------------------------------------
// Polygons and point lists

TEST(PolygonModel, OneSegmentGivesItsInnerPoints) {
    ScopedModel m;
    ASSERT_EQ(pol({0.f, 100.f}, {0.f, 0.f}, {1, 1}, 2, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    expect_record_invariants(*rec);
    EXPECT_EQ(rec->shape_kind, 2);
    const auto& pts = rec->level_features[0];
    ASSERT_EQ(pts.size(), 99u);
    for (std::size_t i = 0; i < pts.size(); ++i) {
        EXPECT_EQ(pts[i].x, -49.f + static_cast<float>(i));  // centred on x = 50
        EXPECT_EQ(pts[i].y, 0.f);
        EXPECT_EQ(pts[i].gy, 1.f);
    }
    ScopedModel flipped;
    ASSERT_EQ(pol({0.f, 100.f}, {0.f, 0.f}, {1, 1}, -2, flipped), 0);
    for (const Feature& f : flipped.record()->level_features[0]) EXPECT_EQ(f.gy, -1.f);
}

TEST(PolygonModel, FlagsGateSegmentsAndThereIsNoClosingSegment) {
    const std::vector<float> x = {0.f, 80.f, 80.f, 0.f};
    const std::vector<float> y = {0.f, 0.f, 60.f, 60.f};
    ScopedModel open, gated;
    ASSERT_EQ(pol(x, y, {1, 1, 1, 1}, 4, open), 0);
    EXPECT_EQ(open.record()->level_features[0].size(), 79u + 59u + 79u);
    ASSERT_EQ(pol(x, y, {0, 1, 0, 1}, 4, gated), 0);  // use[0] is not read, segment 1 -> 2 off
    EXPECT_EQ(gated.record()->level_features[0].size(), 79u + 79u);
}

TEST(PolygonModel, SquareAtNegativeCoordinatesIsCentredOnItsBox) {
    const std::vector<float> x = {-200.f, -100.f, -100.f, -200.f, -200.f};
    const std::vector<float> y = {-200.f, -200.f, -100.f, -100.f, -200.f};
    ScopedModel m;
    ASSERT_EQ(pol(x, y, {1, 1, 1, 1, 1}, 5, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->box_min_x[0], -50.f);
    EXPECT_EQ(rec->box_max_x[0], 50.f);
    EXPECT_EQ(rec->box_min_y[0], -50.f);
    EXPECT_EQ(rec->box_max_y[0], 50.f);
    EXPECT_EQ(rec->level_widths[0], 100);
    // Traced clockwise on screen: every direction points inside.
    for (const Feature& f : rec->level_features[0]) EXPECT_LT(f.x * f.gx + f.y * f.gy, 0.f);
}

TEST(PolygonModel, BadCountsAndPointersAreRefused) {
    const std::vector<float> x = {0.f, 100.f}, y = {0.f, 0.f};
    const std::vector<char> use = {1, 1};
    ScopedModel m;
    m.id = -9;
    EXPECT_EQ(pol(x, y, use, 1, m), -4);
    EXPECT_EQ(pol(x, y, use, -1, m), -4);
    EXPECT_EQ(pol(x, y, use, 0, m), -4);
    EXPECT_EQ(pol(x, y, use, INT_MIN, m), -4);
    EXPECT_EQ(create_shape_model_pol(nullptr, y.data(), use.data(), 2, 0, 0.f, 1.f, 1.f, 1,
                                     &kContrast, m.out()),
              -1);
    EXPECT_EQ(create_shape_model_pol(x.data(), nullptr, use.data(), 2, 0, 0.f, 1.f, 1.f, 1,
                                     &kContrast, m.out()),
              -1);
    EXPECT_EQ(create_shape_model_pol(x.data(), y.data(), nullptr, 2, 0, 0.f, 1.f, 1.f, 1,
                                     &kContrast, m.out()),
              -1);
    EXPECT_EQ(create_shape_model_pol(x.data(), y.data(), use.data(), 2, 0, 0.f, 1.f, 1.f, 1,
                                     nullptr, m.out()),
              -1);
    EXPECT_EQ(create_shape_model_pol(x.data(), y.data(), use.data(), 2, 0, 0.f, 1.f, 1.f, 1,
                                     &kContrast, nullptr),
              -1);
    EXPECT_EQ(m.id, -9);
}

TEST(PolygonModel, NonFiniteVerticesDropTheirSegmentsAndHugeSegmentsFail) {
    ScopedModel m;
    ASSERT_EQ(pol({0.f, 100.f, NAN, 0.f}, {0.f, 0.f, 5.f, 50.f}, {1, 1, 1, 1}, 4, m), 0);
    EXPECT_EQ(m.record()->level_features[0].size(), 99u);
    ScopedModel huge;
    huge.id = -9;
    EXPECT_EQ(pol({0.f, 3e9f}, {0.f, 0.f}, {1, 1}, 2, huge), -1);
    // An unused far vertex moves the centre: the used segment then lies beyond 2^30.
    EXPECT_EQ(pol({-2.2e9f, 0.f, 1000.f}, {0.f, 0.f, 0.f}, {1, 0, 1}, 3, huge), -1);
    EXPECT_EQ(huge.id, -9);
    ScopedModel near;
    ASSERT_EQ(pol({-2e6f, 0.f, 1000.f}, {0.f, 0.f, 0.f}, {1, 0, 1}, 3, near), 0);
    EXPECT_EQ(near.record()->level_features[0].size(), 999u);
    EXPECT_EQ(near.record()->level_features[0][0].x, 999501.f);  // centre x = -999500
}

TEST(PointListModel, PointsAreCentredAndDirectionsKeptAsGiven) {
    std::vector<float> x, y, gx, gy;
    for (int i = 0; i < 400; ++i) {
        const float t = 6.2831853f * static_cast<float>(i) / 400.f;
        x.push_back(300.f + 70.f * std::cos(t));
        y.push_back(-50.f + 70.f * std::sin(t));
        gx.push_back(-3.f * std::cos(t));  // length 3: not normalised
        gy.push_back(-3.f * std::sin(t));
    }
    ScopedModel m;
    ASSERT_EQ(create_shape_model_xld3(x.data(), y.data(), gx.data(), gy.data(), 400, 0, 0.f, 360.f,
                                      1.f, 1, &kContrast, m.out()),
              0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    expect_record_invariants(*rec);
    expect_derived_levels(*rec);
    EXPECT_EQ(rec->shape_kind, 2);
    ASSERT_EQ(rec->level_features[0].size(), 400u);
    const float cx = (300.f - 70.f + 300.f + 70.f) / 2.f;
    float min_y = y[0], max_y = y[0];
    for (float v : y) {
        min_y = std::min(min_y, v);
        max_y = std::max(max_y, v);
    }
    const float cy = (min_y + max_y) / 2.f;
    for (int i = 0; i < 400; ++i) {
        const Feature& f = rec->level_features[0][static_cast<std::size_t>(i)];
        EXPECT_EQ(f.x, x[i] - cx);
        EXPECT_EQ(f.y, y[i] - cy);
        EXPECT_EQ(f.gx, gx[i]);
        EXPECT_EQ(f.gy, gy[i]);
    }
    // num_levels is not read.
    ScopedModel other;
    ASSERT_EQ(create_shape_model_xld3(x.data(), y.data(), gx.data(), gy.data(), 400, 7, 0.f, 360.f,
                                      1.f, 1, &kContrast, other.out()),
              0);
    expect_same_levels(*rec, *other.record());
}

TEST(PointListModel, TooFewOrBadPointsFail) {
    std::vector<float> x(30), y(30), g(30, 1.f);
    for (int i = 0; i < 30; ++i) {
        x[i] = static_cast<float>(i);
        y[i] = static_cast<float>(i % 7);
    }
    const std::size_t before = quro::shape_model_count();
    int id = 77;
    EXPECT_EQ(create_shape_model_xld3(x.data(), y.data(), g.data(), g.data(), 30, 0, 0.f, 1.f, 1.f,
                                      1, &kContrast, &id),
              -1);
    EXPECT_EQ(create_shape_model_xld3(x.data(), y.data(), g.data(), g.data(), 1, 0, 0.f, 1.f, 1.f,
                                      1, &kContrast, &id),
              -4);
    EXPECT_EQ(create_shape_model_xld3(x.data(), y.data(), nullptr, g.data(), 30, 0, 0.f, 1.f, 1.f,
                                      1, &kContrast, &id),
              -1);
    x.resize(60, 3.f);
    y.resize(60, 4.f);
    g.resize(60, 1.f);
    x[40] = NAN;
    EXPECT_EQ(create_shape_model_xld3(x.data(), y.data(), g.data(), g.data(), 60, 0, 0.f, 1.f, 1.f,
                                      1, &kContrast, &id),
              -1);
    EXPECT_EQ(id, 77);
    EXPECT_EQ(quro::shape_model_count(), before);
}

}  // namespace
