#include "quro/match/select/rotated_box.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <opencv2/core.hpp>
#include <vector>

#include "testing/polygon_model.h"

namespace {

using quro::OutlineBox;
using quro::RotatedBox;

// A box of w x h centred on the reference point, box angle 0.
OutlineBox centred_box(float w, float h) {
    return {-w / 2, w / 2, -h / 2, h / 2, 0.f, 0.f};
}

// Area of a convex polygon (shoelace, double).
double polygon_area(const std::vector<cv::Point2d>& p) {
    double a = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const cv::Point2d& u = p[i];
        const cv::Point2d& v = p[(i + 1) % p.size()];
        a += u.x * v.y - v.x * u.y;
    }
    return std::abs(a) / 2;
}

// Clips the convex polygon `subject` by the convex polygon `clip` (Sutherland-Hodgman), double.
std::vector<cv::Point2d> clip_convex(std::vector<cv::Point2d> subject,
                                     const std::vector<cv::Point2d>& clip) {
    double signed2 = 0;  // the clip polygon's winding decides which side is inside
    for (std::size_t i = 0; i < clip.size(); ++i) {
        const cv::Point2d& u = clip[i];
        const cv::Point2d& v = clip[(i + 1) % clip.size()];
        signed2 += u.x * v.y - v.x * u.y;
    }
    const double s = signed2 > 0 ? 1.0 : -1.0;
    for (std::size_t e = 0; e < clip.size() && !subject.empty(); ++e) {
        const cv::Point2d a = clip[e], b = clip[(e + 1) % clip.size()];
        const auto side = [&](const cv::Point2d& p) {
            return s * ((b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x));
        };
        std::vector<cv::Point2d> out;
        for (std::size_t i = 0; i < subject.size(); ++i) {
            const cv::Point2d p = subject[i], q = subject[(i + 1) % subject.size()];
            const double sp = side(p), sq = side(q);
            if (sp >= 0) out.push_back(p);
            if ((sp >= 0) != (sq >= 0)) out.push_back(p + (q - p) * (sp / (sp - sq)));
        }
        subject = out;
    }
    return subject;
}

std::vector<cv::Point2d> corners_of(const RotatedBox& b) {
    std::vector<cv::Point2d> p;
    for (const cv::Point2f& c : b.corners) p.emplace_back(c.x, c.y);
    return p;
}

TEST(RotatedBox, CornersFollowTheModelPose) {
    const OutlineBox box{-12.f, 30.f, -7.f, 4.f, 33.f, 25.f};
    cv::RNG rng(5);
    for (int i = 0; i < 200; ++i) {
        const float x = rng.uniform(-50.f, 50.f), y = rng.uniform(-50.f, 50.f);
        const float angle = rng.uniform(-360.f, 360.f), scale = rng.uniform(0.5f, 2.f);
        const RotatedBox b = quro::rotated_box(box, x, y, angle, scale);
        const quro_test::PolygonPose pose{x, y, angle, scale, scale};
        const float bx[4] = {box.min_x, box.max_x, box.max_x, box.min_x};
        const float by[4] = {box.min_y, box.min_y, box.max_y, box.max_y};
        double mx = 0, my = 0;
        for (int k = 0; k < 4; ++k) {
            const cv::Point2d ref = quro_test::pose_model_point(pose, bx[k], by[k]);
            EXPECT_NEAR(b.corners[k].x, ref.x, 1e-3) << i << " corner " << k;
            EXPECT_NEAR(b.corners[k].y, ref.y, 1e-3) << i << " corner " << k;
            mx += ref.x / 4;
            my += ref.y / 4;
        }
        EXPECT_NEAR(b.cx, mx, 1e-3);
        EXPECT_NEAR(b.cy, my, 1e-3);
        EXPECT_FLOAT_EQ(b.half_w, (box.max_x - box.min_x) * scale / 2);
        EXPECT_FLOAT_EQ(b.half_h, (box.max_y - box.min_y) * scale / 2);
        // The angle is the one passed in: the box angle (25) is the caller's to add.
        EXPECT_EQ(b.angle, angle);
    }
}

TEST(RotatedBox, AnisoScalesColumnsAndRowsApart) {
    const OutlineBox box{-10.f, 20.f, -4.f, 6.f, 0.f, 0.f};
    const RotatedBox b = quro::rotated_box_aniso(box, 100.f, 50.f, 0.f, 2.f, 3.f);
    EXPECT_FLOAT_EQ(b.corners[0].x, 100.f - 30.f);
    EXPECT_FLOAT_EQ(b.corners[0].y, 50.f - 8.f);
    EXPECT_FLOAT_EQ(b.corners[2].x, 100.f + 60.f);
    EXPECT_FLOAT_EQ(b.corners[2].y, 50.f + 12.f);
    EXPECT_FLOAT_EQ(b.half_w, 45.f);
    EXPECT_FLOAT_EQ(b.half_h, 10.f);
    EXPECT_FLOAT_EQ(b.cx, 115.f);
    EXPECT_FLOAT_EQ(b.cy, 52.f);
    // A quarter turn: X = Y', Y = -X' (c = 0, s = 1).
    const RotatedBox q = quro::rotated_box_aniso(box, 0.f, 0.f, 90.f, 1.f, 1.f);
    EXPECT_NEAR(q.corners[1].x, -4.f, 1e-5);  // (max_x, min_y) = (20, -4) -> (-4, -20)
    EXPECT_NEAR(q.corners[1].y, -20.f, 1e-5);
}

TEST(RotatedBox, ReachIsTheFarthestCorner) {
    const OutlineBox box{-80.f, 4.f, -4.f, 12.f, 0.f, 0.f};
    const RotatedBox b = quro::rotated_box(box, 10.f, 20.f, 33.f, 1.5f);
    EXPECT_NEAR(quro::rotated_box_reach(b, 10.f, 20.f), 1.5 * std::hypot(80.0, 12.0), 1e-3);
}

TEST(RotatedBoxOverlap, IdenticalAndNestedBoxesOverlapFully) {
    cv::RNG rng(8);
    for (int i = 0; i < 200; ++i) {
        const OutlineBox box = centred_box(rng.uniform(2.f, 60.f), rng.uniform(2.f, 60.f));
        const float x = rng.uniform(0.f, 300.f), y = rng.uniform(0.f, 300.f);
        const float angle = rng.uniform(-180.f, 180.f);
        const RotatedBox a = quro::rotated_box(box, x, y, angle, 1.f);
        const float same = quro::rotated_box_overlap(a, a);
        EXPECT_NEAR(same, 1.f, 1e-4) << i;
        EXPECT_LE(same, 1.f) << i;
        const RotatedBox inner = quro::rotated_box(box, x, y, angle, 0.5f);
        EXPECT_NEAR(quro::rotated_box_overlap(a, inner), 1.f, 1e-3) << i;
        EXPECT_NEAR(quro::rotated_box_overlap(inner, a), 1.f, 1e-3) << i;
        // Nested and sharing two edges: one row scale, two column scales.
        const RotatedBox narrow = quro::rotated_box_aniso(box, x, y, angle, 1.f, 0.8f);
        EXPECT_NEAR(quro::rotated_box_overlap(a, narrow), 1.f, 1e-3) << i;
        EXPECT_NEAR(quro::rotated_box_overlap(narrow, a), 1.f, 1e-3) << i;
    }
}

TEST(RotatedBoxOverlap, KnownConfigurations) {
    const OutlineBox bar = centred_box(10.f, 20.f);
    const RotatedBox a = quro::rotated_box(bar, 50.f, 50.f, 0.f, 1.f);
    const RotatedBox crossed = quro::rotated_box(bar, 50.f, 50.f, 90.f, 1.f);
    EXPECT_NEAR(quro::rotated_box_overlap(a, crossed), 0.5f, 1e-4);

    const OutlineBox wide = centred_box(20.f, 10.f);
    const RotatedBox p = quro::rotated_box(wide, 50.f, 50.f, 0.f, 1.f);
    const RotatedBox shifted = quro::rotated_box(wide, 55.f, 50.f, 0.f, 1.f);
    EXPECT_NEAR(quro::rotated_box_overlap(p, shifted), 0.75f, 1e-4);

    const RotatedBox far = quro::rotated_box(wide, 80.f, 50.f, 30.f, 1.f);
    EXPECT_EQ(quro::rotated_box_overlap(p, far), 0.f);
}

// A model whose points lie on a straight line has a box without area. Measured as it is, its
// overlap with anything was 0, so the matches of a line model never suppressed each other, not
// even two at the same pixel and angle. Boxes count at least one pixel across.
TEST(RotatedBoxOverlap, BoxesOfStraightLineModelsCountOnePixelThick) {
    const RotatedBox a = quro::rotated_box(centred_box(20.f, 10.f), 50.f, 50.f, 0.f, 1.f);
    const RotatedBox flat = quro::rotated_box(centred_box(20.f, 0.f), 50.f, 50.f, 0.f, 1.f);
    EXPECT_NEAR(quro::rotated_box_overlap(a, flat), 1.f, 1e-4);  // inside a
    EXPECT_NEAR(quro::rotated_box_overlap(flat, flat), 1.f, 1e-4);
    // Turned by a quarter: the two 20 x 1 bars share one square pixel of their 20.
    const RotatedBox turned = quro::rotated_box(centred_box(20.f, 0.f), 50.f, 50.f, 90.f, 1.f);
    EXPECT_NEAR(quro::rotated_box_overlap(flat, turned), 1.f / 20.f, 1e-4);
    // Half a pixel across, the bars share half their area; two pixels across, nothing.
    const RotatedBox beside = quro::rotated_box(centred_box(20.f, 0.f), 50.f, 50.5f, 0.f, 1.f);
    EXPECT_NEAR(quro::rotated_box_overlap(flat, beside), 0.5f, 1e-4);
    const RotatedBox apart = quro::rotated_box(centred_box(20.f, 0.f), 50.f, 52.f, 0.f, 1.f);
    EXPECT_EQ(quro::rotated_box_overlap(flat, apart), 0.f);
    // A box below a pixel in both directions is one pixel.
    const RotatedBox dot = quro::rotated_box(centred_box(0.f, 0.f), 50.f, 50.f, 0.f, 1.f);
    EXPECT_NEAR(quro::rotated_box_overlap(dot, dot), 1.f, 1e-4);
}

TEST(RotatedBoxOverlap, BoxesWithoutNumbersGiveZero) {
    const RotatedBox a = quro::rotated_box(centred_box(20.f, 10.f), 50.f, 50.f, 0.f, 1.f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const RotatedBox lost = quro::rotated_box(centred_box(20.f, 10.f), 50.f, 50.f, nan, 1.f);
    EXPECT_EQ(quro::rotated_box_overlap(a, lost), 0.f);
    const RotatedBox huge = quro::rotated_box(centred_box(20.f, 10.f), 50.f, 50.f, 0.f,
                                              std::numeric_limits<float>::max());
    EXPECT_EQ(quro::rotated_box_overlap(a, huge), 0.f);
}

TEST(RotatedBoxOverlap, MatchesPolygonClippingOnRandomBoxes) {
    cv::RNG rng(17);
    int overlapping = 0;
    for (int i = 0; i < 3000; ++i) {
        const auto random_box = [&rng] {
            // Bounds drawn in argument order: min x, max x, min y, max y, then the pose.
            const float min_x = rng.uniform(-30.f, -1.f), max_x = rng.uniform(1.f, 30.f);
            const float min_y = rng.uniform(-30.f, -1.f), max_y = rng.uniform(1.f, 30.f);
            const float x = rng.uniform(0.f, 60.f), y = rng.uniform(0.f, 60.f);
            const float angle = rng.uniform(-180.f, 180.f);
            return quro::rotated_box({min_x, max_x, min_y, max_y, 0.f, 0.f}, x, y, angle, 1.f);
        };
        const RotatedBox a = random_box();
        const RotatedBox b = random_box();
        const double inter = polygon_area(clip_convex(corners_of(a), corners_of(b)));
        const double smaller = std::min(polygon_area(corners_of(a)), polygon_area(corners_of(b)));
        const double expected = inter / smaller;
        if (expected > 0.01) ++overlapping;
        ASSERT_NEAR(quro::rotated_box_overlap(a, b), expected, 2e-3) << "case " << i;
    }
    EXPECT_GT(overlapping, 500);  // the cases do exercise real intersections
}

}  // namespace
