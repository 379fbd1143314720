#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <random>

#include "quro/match/coarse/orientation_codes.h"
#include "quro/match/templates.h"
#include "testing/polygon_model.h"
#include "testing/records.h"

namespace {

using quro::Feature;
using quro::NormalTemplate;
using quro::QuantizedTemplate;

// Points i = 0..n-1 at (i, -i) so that a template point tells its source index.
std::vector<Feature> indexed_points(int n) {
    std::vector<Feature> pts;
    for (int i = 0; i < n; ++i) pts.emplace_back(static_cast<float>(i), static_cast<float>(-i), 0.f, 1.f);
    return pts;
}

// A 3-level record with 9 points on every level.
quro::ShapeModelRecord three_levels() {
    return quro_test::record_with_levels({indexed_points(9), indexed_points(9), indexed_points(9)});
}

// Circle of radius r as the outline generator makes it: points (-r sin t, -r cos t) with inward
// directions (sin t, cos t), or outward ones when flipped.
quro::ShapeModelRecord circle_record(float r, bool flipped) {
    std::vector<Feature> pts;
    for (float t = 0.f; t < 6.2831853f; t += 1.f / r) {
        const float d = flipped ? -1.f : 1.f;
        pts.emplace_back(-r * std::sin(t), -r * std::cos(t), d * std::sin(t), d * std::cos(t));
    }
    auto rec = quro_test::record_with_levels({pts});
    rec.shape_kind = 1;
    return rec;
}

TEST(QuantizeDirection, AxesAndZero) {
    EXPECT_EQ(quro::quantize_direction16(0.f, 1.f), 0);
    EXPECT_EQ(quro::quantize_direction16(1.f, 0.f), 4);
    EXPECT_EQ(quro::quantize_direction16(0.f, -1.f), 8);
    EXPECT_EQ(quro::quantize_direction16(-1.f, 0.f), 12);
    EXPECT_EQ(quro::quantize_direction16(0.f, 0.f), 4);
    EXPECT_EQ(quro::quantize_direction16(-0.f, -0.f), 4);
}

TEST(QuantizeDirection, BoundaryGoesToTheHigherStep) {
    EXPECT_EQ(quro::quantize_direction16(0.19891237f, 1.f), 1);
    EXPECT_EQ(quro::quantize_direction16(0.1989f, 1.f), 0);
    EXPECT_EQ(quro::quantize_direction16(0.19891237f, -1.f), 7);
    EXPECT_EQ(quro::quantize_direction16(-0.19891237f, -1.f), 9);
    EXPECT_EQ(quro::quantize_direction16(-0.19891237f, 1.f), 15);
}

TEST(QuantizeDirection, EveryAngleGetsItsNearestBin) {
    for (int i = 0; i < 3600; ++i) {
        const double deg = i * 0.1 + 0.05;
        const double u = deg / 22.5 + 0.5;
        if (std::fabs(u - std::round(u)) * 22.5 < 1e-3) continue;
        const double a = deg * M_PI / 180.0;
        const int expected = static_cast<int>(std::floor(u)) % 16;
        EXPECT_EQ(quro::quantize_direction16(static_cast<float>(std::sin(a)),
                                             static_cast<float>(std::cos(a))),
                  expected)
            << deg;
    }
}

TEST(QuantizeDirection, BinsLikeTheImageCodes) {
    // A model point and an image pixel of the same direction must get the same bin.
    std::mt19937 gen(3);
    std::uniform_int_distribution<int> g(-1020, 1020);
    int differ = 0;
    for (int i = 0; i < 200000; ++i) {
        const int gx = g(gen), gy = g(gen);
        if (quro::quantize_direction16(static_cast<float>(gx), static_cast<float>(gy)) !=
            quro::orientation_bin16(gx, gy)) {
            ++differ;
        }
    }
    // The fixed-point boundaries are within 0.02 degrees of the exact ones.
    EXPECT_LT(differ, 200);
}

TEST(QuantizeDirection, NonFiniteInputStaysInRange) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float a : {nan, inf, -inf, 1.f}) {
        for (float b : {nan, inf, -inf, 0.f}) {
            const int code = quro::quantize_direction16(a, b);
            EXPECT_GE(code, 0);
            EXPECT_LE(code, 15);
        }
    }
}

TEST(Templates, TopLevelTakesEveryPointLowerLevelsEverySecond) {
    const auto rec = three_levels();
    QuantizedTemplate q;
    quro::quantized_template(rec, q, 3, 1.f, 0.f);
    EXPECT_EQ(q.xs, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    quro::quantized_template(rec, q, 2, 1.f, 0.f);
    EXPECT_EQ(q.xs, (std::vector<int>{0, 2, 4, 6, 8}));
    quro::quantized_template(rec, q, 1, 1.f, 0.f);
    EXPECT_EQ(q.xs, (std::vector<int>{0, 4, 8}));
    EXPECT_EQ(q.ys, (std::vector<int>{0, -4, -8}));
    EXPECT_EQ(q.codes, (std::vector<int>{0, 0, 0}));
    NormalTemplate t;
    quro::normal_template(rec, t, 2, 1.f, 0.f);
    EXPECT_EQ(t.xs, (std::vector<int>{0, 2, 4, 6, 8}));
    quro::normal_template_aniso(rec, t, 1, 1.f, 1.f, 0.f);
    EXPECT_EQ(t.xs, (std::vector<int>{0, 4, 8}));
    EXPECT_EQ(t.nxs.size(), 3u);
    EXPECT_EQ(t.nys.size(), 3u);
}

TEST(Templates, OffsetsRoundHalfAwayFromZero) {
    auto rec = quro_test::record_with_levels(
        {{Feature(2.5f, -2.5f, 1.f, 0.f), Feature(-2.5f, 2.49f, 0.f, -1.f),
          Feature(1.4f, 0.5f, 0.f, 1.f)}},
        80, 60);
    QuantizedTemplate q;
    quro::quantized_template(rec, q, 1, 1.f, 0.f);
    EXPECT_EQ(q.xs, (std::vector<int>{3, -3, 1}));
    EXPECT_EQ(q.ys, (std::vector<int>{-3, 2, 1}));
    EXPECT_EQ(q.codes, (std::vector<int>{4, 8, 0}));
    EXPECT_EQ(q.min_x, -3);
    EXPECT_EQ(q.max_x, 3);
    EXPECT_EQ(q.min_y, -3);
    EXPECT_EQ(q.max_y, 2);
    EXPECT_EQ(q.level_width, 80);
    EXPECT_EQ(q.level_height, 60);
}

TEST(Templates, QuarterTurnMovesPointsAndDirections) {
    auto rec = quro_test::record_with_levels({{Feature(10.f, 0.f, 1.f, 0.f)}});
    NormalTemplate t;
    quro::normal_template(rec, t, 1, 1.f, 90.f);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t.xs[0], 0);
    EXPECT_EQ(t.ys[0], -10);
    EXPECT_NEAR(t.nxs[0], 0.f, 1e-6);
    EXPECT_NEAR(t.nys[0], -1.f, 1e-6);
    QuantizedTemplate q;
    quro::quantized_template(rec, q, 1, 1.f, 90.f);
    EXPECT_EQ(q.codes[0], 8);
}

TEST(Templates, PosesMatchADoublePrecisionReference) {
    std::mt19937 gen(5);
    std::uniform_real_distribution<float> coord(-120.f, 120.f), unit(-1.f, 1.f);
    std::vector<Feature> pts;
    for (int i = 0; i < 500; ++i) pts.emplace_back(coord(gen), coord(gen), unit(gen), unit(gen));
    const auto rec = quro_test::record_with_levels({pts});
    QuantizedTemplate q;
    NormalTemplate t;
    for (float angle : {-170.f, -33.3f, 0.f, 47.1f, 123.f}) {
        for (auto [sr, sc] : {std::pair{1.f, 1.f}, std::pair{0.7f, 1.3f}}) {
            quro::quantized_template_aniso(rec, q, 1, sr, sc, angle);
            quro::normal_template_aniso(rec, t, 1, sr, sc, angle);
            const quro_test::PolygonPose pose{0.f, 0.f, angle, sr, sc};
            const double a = angle * M_PI / 180.0;
            for (std::size_t i = 0; i < pts.size(); ++i) {
                const cv::Point2d p = quro_test::pose_model_point(pose, pts[i].x, pts[i].y);
                EXPECT_LE(std::fabs(q.xs[i] - p.x), 0.5 + 1e-3);
                EXPECT_LE(std::fabs(q.ys[i] - p.y), 0.5 + 1e-3);
                EXPECT_EQ(t.xs[i], q.xs[i]);
                const double nx = std::cos(a) * pts[i].gx + std::sin(a) * pts[i].gy;
                const double ny = std::cos(a) * pts[i].gy - std::sin(a) * pts[i].gx;
                EXPECT_NEAR(t.nxs[i], nx, 1e-5);  // directions are not scaled
                EXPECT_NEAR(t.nys[i], ny, 1e-5);
                EXPECT_EQ(q.codes[i], quro::quantize_direction16(t.nxs[i], t.nys[i]));
            }
        }
    }
}

TEST(Templates, CircleModelsFollowTheEllipseOnlyInAnisoBuilders) {
    const auto rec = circle_record(20.f, false);
    const auto& pts = rec.level_features[0];
    NormalTemplate uni, aniso;
    quro::normal_template(rec, uni, 1, 1.f, 0.f);
    quro::normal_template_aniso(rec, aniso, 1, 2.f, 1.f, 0.f);  // rows doubled
    ASSERT_EQ(aniso.size(), pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i) {
        EXPECT_FLOAT_EQ(uni.nxs[i], pts[i].gx);  // uniform: the stored direction
        EXPECT_FLOAT_EQ(uni.nys[i], pts[i].gy);
        // Inward normal of the ellipse x'^2 + (y'/2)^2 = r^2 at (x', y') = (x, 2 y).
        const double x = pts[i].x, y = 2.0 * pts[i].y;
        const double nx = -4.0 * x, ny = -y, len = std::hypot(nx, ny);
        EXPECT_NEAR(aniso.nxs[i], nx / len, 1e-5) << i;
        EXPECT_NEAR(aniso.nys[i], ny / len, 1e-5) << i;
        // The angle-based form of the same normal, wherever it is defined (x != 0).
        if (std::fabs(pts[i].x) > 1e-3f) {
            const double k = -(1.0 * 1.0) / (2.0 * 2.0);
            const double w = std::atan(k * y / x) + (x >= 0 ? -M_PI / 2 : M_PI / 2);
            EXPECT_NEAR(aniso.nxs[i], std::sin(w), 1e-5);
            EXPECT_NEAR(aniso.nys[i], std::cos(w), 1e-5);
        }
    }
    // Non-circle models keep their directions in the aniso builders.
    auto outline = rec;
    outline.shape_kind = 2;
    quro::normal_template_aniso(outline, aniso, 1, 2.f, 1.f, 0.f);
    EXPECT_FLOAT_EQ(aniso.nxs[5], pts[5].gx);
}

TEST(Templates, CircleFirstPointKeepsItsInwardDirection) {
    // The generated circle starts at (-0.0, -r) with direction (0, 1).
    const auto rec = circle_record(15.f, false);
    ASSERT_TRUE(std::signbit(rec.level_features[0][0].x));
    NormalTemplate t;
    quro::normal_template_aniso(rec, t, 1, 1.2f, 0.9f, 0.f);
    EXPECT_NEAR(t.nxs[0], 0.f, 1e-6);
    EXPECT_NEAR(t.nys[0], 1.f, 1e-6);
    QuantizedTemplate q;
    quro::quantized_template_aniso(rec, q, 1, 1.2f, 0.9f, 0.f);
    EXPECT_EQ(q.codes[0], 0);
}

TEST(Templates, FlippedCircleKeepsItsPolarityUnderAnisoScales) {
    const auto rec = circle_record(15.f, true);  // outward directions
    QuantizedTemplate uni, aniso;
    quro::quantized_template(rec, uni, 1, 1.f, 25.f);
    quro::quantized_template_aniso(rec, aniso, 1, 1.f, 1.f, 25.f);
    int same = 0;
    for (std::size_t i = 0; i < uni.size(); ++i) same += uni.codes[i] == aniso.codes[i];
    EXPECT_GE(same, static_cast<int>(uni.size()) - 2);  // equal up to rounding on a boundary
    NormalTemplate t;
    quro::normal_template_aniso(rec, t, 1, 1.5f, 0.8f, 0.f);
    for (std::size_t i = 0; i < t.size(); ++i) {
        // Outward: along the position from the centre.
        EXPECT_GT(t.nxs[i] * t.xs[i] + t.nys[i] * t.ys[i], 0.f) << i;
    }
}

TEST(Templates, SampledBuilderStepsAndUnroundedPositions) {
    const auto rec = three_levels();
    NormalTemplate t;
    std::vector<float> xf, yf;
    quro::normal_template_sampled(rec, t, 1, 1.f, 1.f, &xf, &yf, 3, 0.f);
    EXPECT_EQ(t.xs, (std::vector<int>{0, 3, 6}));
    quro::normal_template_sampled(rec, t, 1, 1.f, 1.f, &xf, &yf, 0, 0.f);
    EXPECT_EQ(t.xs, (std::vector<int>{0, 4, 8}));
    quro::normal_template_sampled(rec, t, 2, 1.f, 1.f, &xf, &yf, -1, 0.f);  // 2^(3-2+1)
    EXPECT_EQ(t.xs, (std::vector<int>{0, 4, 8}));
    quro::normal_template_sampled(rec, t, 1, 0.5f, 0.25f, &xf, &yf, -1, 0.f);  // 2^(3-1+1)
    EXPECT_EQ(t.xs, (std::vector<int>{0, 2}));
    ASSERT_EQ(xf.size(), 2u);
    ASSERT_EQ(yf.size(), 2u);
    EXPECT_FLOAT_EQ(xf[1], 8.f * 0.25f);
    EXPECT_FLOAT_EQ(yf[1], -8.f * 0.5f);
    quro::normal_template_sampled(rec, t, 1, 1.f, 1.f, nullptr, nullptr, -100, 0.f);
    EXPECT_EQ(t.xs, (std::vector<int>{0}));  // a huge coarsening takes the first point only
}

TEST(Templates, LevelWithoutPointsGivesAnEmptyTemplate) {
    auto rec = quro_test::record_with_levels({indexed_points(4), {}});
    QuantizedTemplate q;
    quro::quantized_template(rec, q, 1, 1.f, 0.f);
    ASSERT_EQ(q.size(), 2u);
    quro::quantized_template(rec, q, 2, 1.f, 10.f);
    EXPECT_EQ(q.size(), 0u);
    EXPECT_TRUE(q.ys.empty());
    EXPECT_TRUE(q.codes.empty());
    EXPECT_GT(q.min_x, q.max_x);
    EXPECT_GT(q.min_y, q.max_y);
    NormalTemplate t;
    std::vector<float> xf{1.f};
    quro::normal_template_sampled(rec, t, 2, 1.f, 1.f, &xf, nullptr, 0, 0.f);
    EXPECT_EQ(t.size(), 0u);
    EXPECT_TRUE(xf.empty());
    EXPECT_FALSE(quro::model_leaves_image(rec, -100.f, -100.f, 10, 10, 2, 0.f, 1.f));
}

TEST(ModelLeavesImage, LastColumnAndRowAreInside) {
    const auto rec = quro_test::record_with_levels({{Feature(0.f, 0.f, 1.f, 0.f)}});
    EXPECT_FALSE(quro::model_leaves_image(rec, 99.f, 49.f, 100, 50, 1, 0.f, 1.f));
    EXPECT_TRUE(quro::model_leaves_image(rec, 100.f, 20.f, 100, 50, 1, 0.f, 1.f));
    EXPECT_TRUE(quro::model_leaves_image(rec, 20.f, 50.f, 100, 50, 1, 0.f, 1.f));
    EXPECT_FALSE(quro::model_leaves_image(rec, -0.49f, 0.f, 100, 50, 1, 0.f, 1.f));
    EXPECT_TRUE(quro::model_leaves_image(rec, -0.5f, 0.f, 100, 50, 1, 0.f, 1.f));
    EXPECT_TRUE(quro::model_leaves_image(rec, std::numeric_limits<float>::quiet_NaN(), 0.f, 100,
                                         50, 1, 0.f, 1.f));
}

TEST(ModelLeavesImage, PosesWithAngleAndScale) {
    const auto rec = quro_test::record_with_levels({{Feature(10.f, 0.f, 1.f, 0.f)}});
    // At 90 degrees (10, 0) goes to (0, -10); scaled by 2 to (0, -20).
    EXPECT_FALSE(quro::model_leaves_image(rec, 5.f, 20.f, 30, 30, 1, 90.f, 2.f));
    EXPECT_TRUE(quro::model_leaves_image(rec, 5.f, 19.f, 30, 30, 1, 90.f, 2.f));
}

TEST(ModelLeavesImage, SamplesLinearlyByLevel) {
    // 3 levels; on level 2 every second point is tested (k = 2), on level 1 every third (k = 3).
    std::vector<Feature> pts(7, Feature(0.f, 0.f, 1.f, 0.f));
    pts[1].x = 1000.f;  // outside, skipped by k = 2 and k = 3
    pts[3].x = 1000.f;  // outside, tested by k = 3 only
    auto rec = quro_test::record_with_levels({pts, pts, pts});
    EXPECT_TRUE(quro::model_leaves_image(rec, 10.f, 10.f, 50, 50, 3, 0.f, 1.f));
    EXPECT_FALSE(quro::model_leaves_image(rec, 10.f, 10.f, 50, 50, 2, 0.f, 1.f));
    EXPECT_TRUE(quro::model_leaves_image(rec, 10.f, 10.f, 50, 50, 1, 0.f, 1.f));
}

// Share of template points whose code equals (or lies within one bin of) the image code at the
// posed point, for `outline` rendered at `angle` and compared on the top of 3 levels.
std::pair<double, double> code_agreement(const std::vector<cv::Point2f>& outline, float angle) {
    const auto rec = quro_test::polygon_model(outline, 3);
    const quro_test::PolygonPose pose{256.f, 192.f, angle, 1.f, 1.f};
    cv::Mat level = quro_test::render_polygon(outline, cv::Size(512, 384), pose);
    for (int i = 1; i < 3; ++i) cv::pyrDown(level, level);  // top level: centre (64, 48)
    const float radius = rec.level_radius[2];
    cv::Mat codes;
    quro::quantizedOrientations16(level, codes, 10.f, radius);
    const int b = quro::orientation_border(radius);
    QuantizedTemplate q;
    quro::quantized_template(rec, q, 3, 1.f, angle);
    EXPECT_GT(q.size(), 100u);
    std::size_t equal = 0, near = 0;
    for (std::size_t i = 0; i < q.size(); ++i) {
        const int code = codes.at<std::uint8_t>(48 + q.ys[i] + b, 64 + q.xs[i] + b);
        if (code == 0) continue;
        const int d = std::abs(code - 1 - q.codes[i]);
        equal += d == 0;
        near += std::min(d, 16 - d) <= 1;
    }
    const auto n = static_cast<double>(q.size());
    return {static_cast<double>(equal) / n, static_cast<double>(near) / n};
}

TEST(Templates, RenderedPolygonCodesMatchTheImageCodes) {
    // A rectangle at 30 degrees: every side's direction lies 3.75 degrees from a bin boundary;
    // the points that differ are those next to the corners.
    const auto [equal, near] = code_agreement(quro_test::rectangle_outline(150.f, 100.f), 30.f);
    EXPECT_GE(equal, 0.95);
    EXPECT_GE(near, 0.98);
    // Sides of arbitrary directions (two of them within a degree of a boundary at this angle):
    // an image code may fall into the neighbouring bin, which still scores fully.
    const auto [equal_irregular, near_irregular] =
        code_agreement(quro_test::irregular_outline(200.f), 30.f);
    EXPECT_GE(near_irregular, 0.98);
    EXPECT_GE(equal_irregular, 0.5);
}

}  // namespace
