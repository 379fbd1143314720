// The pieces of image model levels: chain minimum per level, the box-angle rule on OpenCV's
// minimum-area rectangles, centring and box measurement, and the level builder's time-out.
#include "quro/create/image_levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/model_table.h"
#include "quro/stopwatch.h"
#include "testing/polygon_model.h"
#include "testing/test_clock.h"

namespace {

// Outline points (one per pixel) of a rectangle of half sides hw x hh turned by `angle` degrees
// in the pose convention (X = c x + s y, Y = c y - s x) and moved by (ox, oy).
std::vector<cv::Point2f> turned_rectangle_points(double angle, double hw, double hh,
                                                 double ox = 0.0, double oy = 0.0) {
    const double a = angle * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    std::vector<cv::Point2f> pts;
    auto put = [&](double x, double y) {
        pts.emplace_back(static_cast<float>(ox + c * x + s * y),
                         static_cast<float>(oy + c * y - s * x));
    };
    for (double x = -hw; x <= hw; x += 1.0) {
        put(x, -hh);
        put(x, hh);
    }
    for (double y = -hh + 1.0; y < hh; y += 1.0) {
        put(-hw, y);
        put(hw, y);
    }
    return pts;
}

float opencv_box_angle(const std::vector<cv::Point2f>& pts) {
    cv::Point2f corners[4];
    cv::minAreaRect(pts).points(corners);
    return quro::box_angle_of_corners(corners);
}

// ---------------------------------------------------------------------------------------------
// Chain minimum per level

TEST(LevelMinLengths, ClampThenHalveWithAFloorOfTwo) {
    EXPECT_EQ(quro::level_min_lengths(40, 7), (std::vector<int>{40, 20, 10, 5, 2, 2, 2}));
    EXPECT_EQ(quro::level_min_lengths(1, 3), (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(quro::level_min_lengths(500, 8), (std::vector<int>{128, 64, 32, 16, 8, 4, 2, 2}));
    EXPECT_EQ(quro::level_min_lengths(0, 2), (std::vector<int>{1, 2}));
    EXPECT_EQ(quro::level_min_lengths(-9, 1), (std::vector<int>{1}));
    EXPECT_EQ(quro::level_min_lengths(6, 3), (std::vector<int>{6, 3, 2}));
    EXPECT_TRUE(quro::level_min_lengths(10, 0).empty());
}

// ---------------------------------------------------------------------------------------------
// Box angle on OpenCV's minimum-area rectangles

TEST(BoxAngle, MeasuredFactsOfMinAreaRect) {
    EXPECT_NEAR(opencv_box_angle(turned_rectangle_points(20.0, 100.0, 40.0)), 20.f, 1e-3f);
    EXPECT_NEAR(opencv_box_angle(turned_rectangle_points(70.0, 100.0, 40.0)), -20.f, 1e-3f);
    EXPECT_NEAR(opencv_box_angle(turned_rectangle_points(45.0, 100.0, 40.0)), 45.f, 1e-3f);
    EXPECT_NEAR(opencv_box_angle(turned_rectangle_points(-45.0, 100.0, 40.0)), -45.f, 1e-3f);
    EXPECT_NEAR(opencv_box_angle(turned_rectangle_points(0.0, 100.0, 40.0)), 0.f, 1e-3f);
    EXPECT_NEAR(opencv_box_angle(turned_rectangle_points(90.0, 100.0, 40.0)), 0.f, 1e-3f);
}

TEST(BoxAngle, FoldsEveryTurnIntoPlusMinus45) {
    for (int deg = -180; deg <= 180; deg += 7) {
        const float got = opencv_box_angle(turned_rectangle_points(deg, 60.0, 25.0, 3.0, -2.0));
        // Expected: deg folded by quarter turns into [-45, 45].
        double e = std::fmod(deg + 45.0 + 720.0, 90.0) - 45.0;
        EXPECT_NEAR(got, e, 1e-3) << deg;
        EXPECT_LE(std::fabs(got), 45.f + 1e-4f);
    }
}

TEST(BoxAngle, CornerOrderDoesNotMatterAwayFromFortyFive) {
    for (int deg = -170; deg <= 170; deg += 10) {
        if (std::abs(deg) % 90 == 45) continue;
        for (const double hh : {25.0, 60.0}) {  // a rectangle and a square
            cv::Point2f p[4];
            cv::minAreaRect(turned_rectangle_points(deg, 60.0, hh)).points(p);
            const float ref = quro::box_angle_of_corners(p);
            for (int shift = 1; shift < 4; ++shift) {
                cv::Point2f q[4];
                for (int i = 0; i < 4; ++i) q[i] = p[(i + shift) % 4];
                EXPECT_NEAR(quro::box_angle_of_corners(q), ref, 1e-4f) << deg << " " << shift;
            }
            const cv::Point2f r[4] = {p[3], p[2], p[1], p[0]};
            EXPECT_NEAR(quro::box_angle_of_corners(r), ref, 1e-4f) << deg;
        }
    }
}

TEST(BoxAngle, ExactCornersFollowTheRule) {
    // Long side along (dx, dy) = (1, 0): atan2(1, 0) = 90 degrees, theta0 = 0.
    const cv::Point2f flat[4] = {{10, 0}, {0, 0}, {0, 3}, {10, 3}};
    EXPECT_EQ(quro::box_angle_of_corners(flat), 0.f);
    // Long side along +y: theta0 = -90, theta1 = 0.
    const cv::Point2f tall[4] = {{0, 10}, {0, 0}, {3, 0}, {3, 10}};
    EXPECT_EQ(quro::box_angle_of_corners(tall), 0.f);
    // Sides of equal length: the second, p1 - p2 = (-1, -1), is taken; theta0 = -45 and
    // theta1 = 45 tie in magnitude, and theta0 is kept.
    const cv::Point2f diamond[4] = {{0, 1}, {-1, 2}, {0, 3}, {1, 2}};
    EXPECT_NEAR(quro::box_angle_of_corners(diamond), -45.f, 1e-4f);
    // The same square with its corners shifted by one: the second side is now (1, -1), theta0 =
    // 45 and theta1 = -45 (folded from 135); theta0 is kept again. Only at 45 degrees does the
    // corner order decide.
    const cv::Point2f shifted[4] = {{-1, 2}, {0, 3}, {1, 2}, {0, 1}};
    EXPECT_NEAR(quro::box_angle_of_corners(shifted), 45.f, 1e-4f);
    // Degenerate: all corners equal gives side (0, 0): atan2(0, 0) = 0, theta0 = -90 -> theta1 0.
    const cv::Point2f dot[4] = {{2, 2}, {2, 2}, {2, 2}, {2, 2}};
    EXPECT_EQ(quro::box_angle_of_corners(dot), 0.f);
}

// ---------------------------------------------------------------------------------------------
// Centring and box measurement

TEST(CentreAndMeasure, PointsAreCentredAndTheBoxFollowsTheRectangle) {
    const int cols = 201, rows = 161;
    const float cx = 100.f, cy = 80.f;
    const double angle = 30.0, hw = 40.0, hh = 10.0, ox = 6.0, oy = -4.0;
    std::vector<EdgePoint> pts;
    for (const cv::Point2f& p : turned_rectangle_points(angle, hw, hh, ox, oy))
        pts.push_back(EdgePoint{p.x + cx, p.y + cy, 0.6f, -0.8f});
    quro::LevelBox box;
    const std::vector<quro::Feature> f = quro::centre_and_measure(pts, cols, rows, box);
    ASSERT_EQ(f.size(), pts.size());
    float radius = 0.f;
    for (std::size_t i = 0; i < f.size(); ++i) {
        ASSERT_EQ(f[i].x, pts[i].x - cx);
        ASSERT_EQ(f[i].y, pts[i].y - cy);
        ASSERT_EQ(f[i].gx, 0.6f);
        ASSERT_EQ(f[i].gy, -0.8f);
        radius = std::max(radius, std::sqrt(f[i].x * f[i].x + f[i].y * f[i].y));
    }
    EXPECT_EQ(box.radius, radius);
    EXPECT_EQ(box.width, cols);
    EXPECT_EQ(box.height, rows);
    EXPECT_NEAR(box.angle, 30.f, 1e-3f);
    // Turning back by -angle puts the box centre at the offset turned by -angle.
    const double r = -angle * M_PI / 180.0;
    const double bx = ox * std::cos(r) + oy * std::sin(r);
    const double by = oy * std::cos(r) - ox * std::sin(r);
    EXPECT_NEAR(box.min_x, bx - hw, 1e-3);
    EXPECT_NEAR(box.max_x, bx + hw, 1e-3);
    EXPECT_NEAR(box.min_y, by - hh, 1e-3);
    EXPECT_NEAR(box.max_y, by + hh, 1e-3);
}

TEST(CentreAndMeasure, BoxIsBoundedByTheLevelSize) {
    // Points all far right of and below a 10 x 8 level: the minima stay at cols and rows.
    std::vector<EdgePoint> pts;
    for (int i = 0; i < 30; ++i) pts.push_back(EdgePoint{100.f + i, 50.f + (i % 3), 1.f, 0.f});
    quro::LevelBox box;
    (void)quro::centre_and_measure(pts, 10, 8, box);
    EXPECT_EQ(box.min_x, 10.f);
    EXPECT_EQ(box.min_y, 8.f);
    EXPECT_GT(box.max_x, 100.f);
    // And all far up-left: the maxima stay at -cols and -rows.
    for (EdgePoint& e : pts) {
        e.x = -100.f - e.x;
        e.y = -100.f - e.y;
    }
    (void)quro::centre_and_measure(pts, 10, 8, box);
    EXPECT_EQ(box.max_x, -10.f);
    EXPECT_EQ(box.max_y, -8.f);
}

// ---------------------------------------------------------------------------------------------
// The level builder

cv::Mat polygon_scene() {
    return quro_test::render_polygon(quro_test::irregular_outline(200.f), cv::Size(256, 256),
                                     quro_test::PolygonPose{128.f, 128.f, 0.f});
}

TEST(BuildLevels, AgedStopwatchTimesOutAfterTheFirstLevel) {
    const cv::Mat img = polygon_scene();
    quro::Stopwatch watch = quro_test::expired_stopwatch();
    quro::ShapeModelRecord rec;
    const ContrastParams c{10, 30, 10, 10};
    EXPECT_EQ(quro::build_shape_model_levels(img, cv::Mat(), 4, c, rec, {watch, 1}), -2);
    EXPECT_EQ(rec.level_features.size(), 1u);  // checked after each level, the first included
    // The check follows the last level too.
    quro::ShapeModelRecord one;
    EXPECT_EQ(quro::build_shape_model_levels(img, cv::Mat(), 1, c, one, {watch, 1}), -2);
    // A time-out below 1 never passes.
    quro::ShapeModelRecord all;
    EXPECT_EQ(quro::build_shape_model_levels(img, cv::Mat(), 4, c, all, {watch, 0}), 0);
    EXPECT_EQ(all.num_levels, 4);
    quro::ShapeModelRecord fresh;
    quro::Stopwatch new_watch([] { return std::int64_t{0}; });  // no time passes
    EXPECT_EQ(quro::build_shape_model_levels(img, cv::Mat(), 4, c, fresh, {new_watch, 100000}), 0);
    EXPECT_EQ(fresh.num_levels, 4);
}

TEST(BuildLevels, RejectsMatricesItCannotRead) {
    const cv::Mat img = polygon_scene();
    const ContrastParams c{10, 30, 10, 10};
    quro::Stopwatch watch;
    quro::ShapeModelRecord rec;
    EXPECT_EQ(quro::build_shape_model_levels(cv::Mat(), cv::Mat(), 1, c, rec, {watch, 0}), -1);
    EXPECT_EQ(quro::build_shape_model_levels(img, cv::Mat(10, 10, CV_8U), 1, c, rec, {watch, 0}),
              -1);
    cv::Mat wide;
    img.convertTo(wide, CV_16U);
    EXPECT_EQ(quro::build_shape_model_levels(wide, cv::Mat(), 1, c, rec, {watch, 0}), -1);
    EXPECT_EQ(quro::build_shape_model_levels(img(cv::Rect(3, 3, 100, 100)), cv::Mat(), 1, c, rec,
                                             {watch, 0}),
              -1);
    EXPECT_TRUE(rec.level_features.empty());
}

TEST(BuildLevels, DetectorFailureIsPassedOnUnchanged) {
    cv::Mat noise(512, 512, CV_8U);  // well over 65536 strong fit candidates
    cv::randu(noise, 0, 256);
    const ContrastParams c{0, 0, 1, 1};
    quro::Stopwatch watch;
    quro::ShapeModelRecord rec;
    EXPECT_EQ(quro::build_shape_model_levels(noise, cv::Mat(), 3, c, rec, {watch, 0}), -2);
}

}  // namespace
