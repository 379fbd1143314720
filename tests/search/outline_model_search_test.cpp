// Models made from generated outlines and polygons are found by the rigid search in images that
// show the shape.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "quro/quro.h"
#include "testing/edge_scenes.h"
#include "testing/polygon_model.h"

namespace {

struct Hit {
    int found = 0;
    double x = 0, y = 0, angle = 0;
};

Hit search(int id, const cv::Mat& img, float start, float extent) {
    Hit h;
    quro::Match* res = nullptr;
    int count = 0;
    set_shape_model_param(id, "timeout", 0);
    const int handle = find_shape_model(img.data, img.cols, img.rows, id, start, extent, 0.7f, 1,
                                        0.5f, 2, nullptr, 0.8f, res, count);
    if (handle > 0) {
        h.found = count;
        h.x = res[0].x + res[0].dx;
        h.y = res[0].y + res[0].dy;
        h.angle = res[0].angle;
        clear_mems(handle);
    }
    return h;
}

const ContrastParams kContrast{10, 30, 10, 10};

TEST(OutlineModels, GeneratedCircleIsFoundAtTheDiscCentre) {
    int id = -1;
    ASSERT_EQ(create_shape_model_xld(30.f, 0.f, 0, 0.f, 0.f, 0.f, 1, &kContrast, &id), 0);
    const cv::Mat img = quro::test::render_disc(200, 180, 97.3, 88.6, 30.0, 50, 200);
    const Hit h = search(id, img, 0.f, 0.f);
    clear_shape_model(id);
    ASSERT_EQ(h.found, 1);
    EXPECT_NEAR(h.x, 97.3, 0.1);
    EXPECT_NEAR(h.y, 88.6, 0.1);
}

TEST(OutlineModels, GeneratedRectangleIsFoundAtItsPose) {
    int id = -1;
    ASSERT_EQ(create_shape_model_xld(40.f, 22.f, 0, 0.f, 0.f, 0.f, 1, &kContrast, &id), 0);
    const quro_test::PolygonPose pose{110.4f, 95.7f, 17.f, 1.f, 1.f};
    const cv::Mat img = quro_test::render_polygon(quro_test::rectangle_outline(40.f, 22.f),
                                                  cv::Size(220, 190), pose, 200, 60, 16);
    const Hit h = search(id, img, 0.f, 90.f);  // the rectangle repeats every 180 degrees
    clear_shape_model(id);
    ASSERT_EQ(h.found, 1);
    EXPECT_NEAR(h.x, pose.cx, 0.1);
    EXPECT_NEAR(h.y, pose.cy, 0.1);
    EXPECT_NEAR(h.angle, pose.angle, 0.1);
}

TEST(OutlineModels, PolygonIsFoundAtItsPose) {
    // An irregular closed polygon (first vertex repeated), traced so that its directions point
    // inside, drawn bright on dark.
    const std::vector<cv::Point2f> v = quro_test::irregular_outline(90.f);
    std::vector<float> xs, ys;
    for (const auto& p : v) {
        xs.push_back(p.x);
        ys.push_back(p.y);
    }
    xs.push_back(v[0].x);
    ys.push_back(v[0].y);
    const std::vector<char> use(xs.size(), 1);
    int id = -1;
    // Metric -1 ignores the model's polarity as a whole: either tracing sense is found.
    ASSERT_EQ(create_shape_model_pol(xs.data(), ys.data(), use.data(), static_cast<int>(xs.size()),
                                     0, 0.f, 0.f, 0.f, -1, &kContrast, &id),
              0);
    // The model's reference point is the middle of the vertices' bounding box.
    float min_x = 1e9f, max_x = -1e9f, min_y = 1e9f, max_y = -1e9f;
    for (const auto& p : v) {
        min_x = std::min(min_x, p.x);
        max_x = std::max(max_x, p.x);
        min_y = std::min(min_y, p.y);
        max_y = std::max(max_y, p.y);
    }
    const double mx = 0.5 * (min_x + max_x), my = 0.5 * (min_y + max_y);
    std::vector<cv::Point2f> centred;
    for (const auto& p : v) centred.emplace_back(p.x - mx, p.y - my);
    const quro_test::PolygonPose pose{120.6f, 105.2f, -40.f, 1.f, 1.f};
    const cv::Mat img =
        quro_test::render_polygon(centred, cv::Size(240, 210), pose, 190, 50, 16);
    const Hit h = search(id, img, -180.f, 360.f);
    clear_shape_model(id);
    ASSERT_EQ(h.found, 1);
    EXPECT_NEAR(h.x, pose.cx, 0.15);
    EXPECT_NEAR(h.y, pose.cy, 0.15);
    EXPECT_NEAR(h.angle, pose.angle, 0.15);
}

}  // namespace
