// Hostile argument values that ran for minutes, took gigabytes or were clamped silently.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "quro/quro.h"

namespace {

TEST(HostileValues, BlurSizeBeyondTheImageIsRefusedAtOnce) {
    const std::vector<unsigned char> img(96 * 80, 128);
    std::vector<EdgePoint> pts;
    std::vector<std::vector<EdgePoint>> chains;
    EXPECT_EQ(edges_sub_pix_gray(img.data(), 96, 80, INT_MAX, 1, 2, 1, 1, &pts, nullptr), -1);
    EXPECT_EQ(find_sub_pix_contours(img.data(), 96, 80, INT_MAX, 1, 1, 2, 1, 0, &chains, nullptr),
              -1);
    EXPECT_EQ(edges_sub_pix_gray(img.data(), 96, 80, 193, 1, 2, 1, 1, &pts, nullptr), 0);
}

TEST(HostileValues, NanDirectionsAndHugeOutlineScalesAreRefused) {
    std::vector<float> x, y, g(60, 1.f);
    for (int i = 0; i < 60; ++i) x.push_back(static_cast<float>(i)), y.push_back(0.5f * i);
    const ContrastParams c{10, 30, 10, 10};
    int id = -7;
    ASSERT_EQ(create_shape_model_xld3(x.data(), y.data(), g.data(), g.data(), 60, 0, 0, 360, 0, 0,
                                      &c, &id), 0);
    quro::TemplateF* out = nullptr;
    EXPECT_EQ(get_model_contour2(id, 0.f, 1e30f, &out), -1);  // clamped to +-2^30 before
    EXPECT_EQ(get_model_transform2(id, 0.f, 1e30f).count, 0);
    EXPECT_EQ(clear_shape_model(id), 0);
    g[17] = std::nanf("");
    EXPECT_EQ(create_shape_model_xld3(x.data(), y.data(), g.data(), g.data(), 60, 0, 0, 360, 0, 0,
                                      &c, &id), -1);
}

}  // namespace
