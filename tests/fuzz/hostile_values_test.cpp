// Hostile argument values that ran for minutes, took gigabytes or were clamped silently.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "quro/quro.h"
#include "testing/region_masks.h"

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

// Small arguments that asked for minutes and gigabytes: each is now refused at once, or worked on
// by what the input holds (two pixels 2^28 rows apart are two runs, not 2^28 rows).
TEST(HostileValues, SmallArgumentsAskingForHugeWorkFinishAtOnce) {
    using quro_test::region_runs;
    quro::region far, hit, miss, pair, line, out;
    gen_region_runs(&far, {0, 1 << 28}, {5, 5}, {5, 5});
    gen_region_runs(&hit, {0}, {0}, {0});
    gen_region_runs(&miss, {0}, {1}, {1});
    gen_region_runs(&pair, {0, 0}, {0, 2}, {0, 2});
    gen_region_runs(&line, {0}, {INT_MIN}, {INT_MAX});
    hit_or_miss_y(far, hit, miss, &out, 0, 0);
    EXPECT_EQ(region_runs(out), region_runs(far));
    hit_or_miss_y2(far, pair, &out, 0, 0);
    EXPECT_TRUE(region_runs(out).rows.empty());
    fill_up_y(far, &out);
    EXPECT_EQ(region_runs(out), region_runs(far));
    std::vector<int> cols, rows;
    get_region_contour(line, &cols, &rows);  // 2^33 contour pixels
    EXPECT_TRUE(cols.empty() && rows.empty());
    boundary_y(line, &out, "inner_filled");
    EXPECT_EQ(region_runs(out), region_runs(far));  // left as it was

    quro::RRect* handles = nullptr;
    int count = 0;
    EXPECT_EQ(gen_measure_circle(0, 0, 1e5, 5, 1e-3, 1, 0, &handles, &count), -1);  // 2.1e8
    EXPECT_EQ(gen_measure_line(0, 0, 1e9, 1e9, 5, 1, 0, 0, &handles, &count), -1);
    const int h = gen_measure_line(0, 0, 1e9, 1e9, 5, 1, 0, 10, &handles, &count);
    EXPECT_GE(h, 1);  // a wanted count within the cap still lays its handles
    EXPECT_EQ(count, 10);
    EXPECT_EQ(clear_mems(h), 0);

    const std::vector<unsigned char> strip(30000, 0);
    const ContrastParams c{10, 30, 10, 10};
    int id = -7;
    EXPECT_EQ(create_shape_model_rr(strip.data(), 30000, 1, 15000, 0, 0, 30000, 17000, 0, 0, 360,
                                    0, 0, &c, nullptr, &id), -1);  // a 60001 x 34001 cut-out
    EXPECT_EQ(id, -7);
}

}  // namespace
