// Checks of the polygon fixture itself: later matching tests rely on its geometry.
#include <gtest/gtest.h>

#include <cmath>

#include "testing/polygon_model.h"

namespace {

using quro_test::PolygonPose;

double bilinear(const cv::Mat& img, double x, double y) {
    cv::Mat patch;
    cv::getRectSubPix(img, cv::Size(1, 1), cv::Point2f(static_cast<float>(x), static_cast<float>(y)),
                      patch, CV_32F);
    return patch.at<float>(0, 0);
}

TEST(PolygonFixture, EdgePointsLieOnTheSidesWithInwardUnitNormals) {
    const auto outline = quro_test::irregular_outline(80.f);
    const auto pts = quro_test::polygon_edge_points(outline);
    ASSERT_GT(pts.size(), 200u);
    const PolygonPose pose{60.f, 55.f, 0.f, 1.f, 1.f};
    const cv::Mat img = quro_test::render_polygon(outline, cv::Size(120, 110), pose);
    for (const auto& f : pts) {
        EXPECT_NEAR(std::hypot(f.gx, f.gy), 1.0, 1e-5);
        const double x = pose.cx + f.x, y = pose.cy + f.y;
        // Half grey on the edge, bright two pixels inside, dark two pixels outside.
        EXPECT_NEAR(bilinear(img, x, y), 130.0, 30.0) << f.x << "," << f.y;
        EXPECT_GT(bilinear(img, x + 2 * f.gx, y + 2 * f.gy), 170.0);
        EXPECT_LT(bilinear(img, x - 2 * f.gx, y - 2 * f.gy), 90.0);
    }
}

TEST(PolygonFixture, OrientationOfTheVertexListDoesNotMatter) {
    auto outline = quro_test::rectangle_outline(20.f, 10.f);
    const auto a = quro_test::polygon_edge_points(outline);
    std::reverse(outline.begin(), outline.end());
    const auto b = quro_test::polygon_edge_points(outline);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_EQ(a.size(), 2u * (39 + 19));  // one per pixel, no corners
    for (const auto& f : b) {
        // Inward: the normal points towards the reference point (the centre).
        EXPECT_LT(f.x * f.gx + f.y * f.gy, 0.f);
    }
}

TEST(PolygonFixture, LevelsHalve) {
    const auto rec = quro_test::polygon_model(quro_test::irregular_outline(160.f), 3);
    ASSERT_EQ(rec.num_levels, 3);
    ASSERT_EQ(rec.level_features.size(), 3u);
    for (int k = 1; k < 3; ++k) {
        const auto i = static_cast<std::size_t>(k);
        EXPECT_NEAR(rec.level_radius[i], rec.level_radius[i - 1] / 2, 1.0);
        EXPECT_NEAR(rec.box_max_x[i], rec.box_max_x[i - 1] / 2, 1.0);
        EXPECT_NEAR(rec.box_min_y[i], rec.box_min_y[i - 1] / 2, 1.0);
        const double ratio = static_cast<double>(rec.level_features[i].size()) /
                             static_cast<double>(rec.level_features[i - 1].size());
        EXPECT_GT(ratio, 0.4);
        EXPECT_LT(ratio, 0.6);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        float r = 0.f;
        for (const auto& f : rec.level_features[i]) r = std::max(r, std::hypot(f.x, f.y));
        EXPECT_FLOAT_EQ(rec.level_radius[i], r);
        EXPECT_GT(rec.level_widths[i], 0);
        EXPECT_GE(rec.level_widths[i], static_cast<int>(rec.box_max_x[i] - rec.box_min_x[i]));
    }
}

TEST(PolygonFixture, RenderedAreaFollowsThePoseScales) {
    const auto outline = quro_test::rectangle_outline(20.f, 10.f);  // area 800
    const PolygonPose pose{64.3f, 50.7f, 30.f, 1.5f, 0.8f};
    const cv::Mat img = quro_test::render_polygon(outline, cv::Size(128, 100), pose, 200, 60);
    cv::Mat f;
    img.convertTo(f, CV_64F, 1.0 / 140.0, -60.0 / 140.0);
    EXPECT_NEAR(cv::sum(f)[0], 800.0 * 1.5 * 0.8, 10.0);
    // The centre lies inside, a posed corner on the boundary.
    EXPECT_NEAR(bilinear(img, pose.cx, pose.cy), 200.0, 1.0);
    const cv::Point2d corner = quro_test::pose_model_point(pose, 20.0, 10.0);
    EXPECT_NEAR(bilinear(img, corner.x, corner.y), 60.0 + 140.0 / 4, 20.0);
}

TEST(PolygonFixture, TooManyLevelsForATinyPolygonAreRefused) {
    EXPECT_THROW(quro_test::polygon_model(quro_test::rectangle_outline(3.f, 3.f), 6),
                 std::invalid_argument);
}

}  // namespace
