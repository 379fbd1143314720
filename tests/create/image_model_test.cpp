// Shape models created from rendered images: levels, boxes, agreement with the edge detector,
// level-count rules, contrast rules, failures and the caller's buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>
#include <vector>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "testing/edge_scenes.h"
#include "testing/polygon_model.h"
#include "testing/supersampled.h"
#include "tests/create/create_support.h"

namespace {

using quro_test::expect_record_invariants;
using quro_test::ScopedModel;

constexpr ContrastParams kContrast{10, 30, 10, 10};

// A bright rectangle of half sides hw x hh turned by `angle` (pose convention) about the centre
// of a 512 x 512 image.
cv::Mat rotated_rectangle(float angle, float hw = 150.f, float hh = 80.f) {
    return quro_test::render_polygon(quro_test::rectangle_outline(hw, hh), cv::Size(512, 512),
                                     quro_test::PolygonPose{255.5f, 255.5f, angle});
}

int create(const cv::Mat& img, int num_levels, const ContrastParams& c, ScopedModel& m,
           const cv::Mat& mask = cv::Mat()) {
    return create_shape_model(img.data, img.cols, img.rows, num_levels, -180.f, 360.f, 1.f, 1, &c,
                              mask.empty() ? nullptr : mask.data, m.out());
}

// Level points as the edge detector gives them, centred on the level's middle.
std::vector<quro::Feature> detector_points(const cv::Mat& img, float low, float high, int min_len,
                                           const cv::Mat& mask = cv::Mat()) {
    std::vector<EdgePoint> pts;
    EXPECT_EQ(edges_sub_pix_gray(img.data, img.cols, img.rows, 0, low, high, min_len, 1, &pts,
                                 mask.empty() ? nullptr : mask.data),
              0);
    const float cx = static_cast<float>(img.cols - 1) * 0.5f;
    const float cy = static_cast<float>(img.rows - 1) * 0.5f;
    std::vector<quro::Feature> out;
    for (const EdgePoint& e : pts) out.emplace_back(e.x - cx, e.y - cy, e.nx, e.ny);
    return out;
}

void expect_same_features(const std::vector<quro::Feature>& a,
                          const std::vector<quro::Feature>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].x, b[i].x) << i;
        ASSERT_EQ(a[i].y, b[i].y) << i;
        ASSERT_EQ(a[i].gx, b[i].gx) << i;
        ASSERT_EQ(a[i].gy, b[i].gy) << i;
    }
}

// ---------------------------------------------------------------------------------------------
// Levels and their boxes

TEST(ImageModel, RotatedRectangleBuildsFourLevelsWithItsBox) {
    const cv::Mat img = rotated_rectangle(20.f);
    ScopedModel m;
    ASSERT_EQ(create(img, 4, kContrast, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    expect_record_invariants(*rec);
    ASSERT_EQ(rec->num_levels, 4);
    const int sizes[4] = {512, 256, 128, 64};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(rec->level_widths[k], sizes[k]);
        EXPECT_EQ(rec->level_heights[k], sizes[k]);
    }
    EXPECT_NEAR(rec->level_angle[0], 20.f, 0.5f);
    EXPECT_NEAR((rec->box_max_x[0] - rec->box_min_x[0]) * 0.5f, 150.f, 1.f);
    EXPECT_NEAR((rec->box_max_y[0] - rec->box_min_y[0]) * 0.5f, 80.f, 1.f);
    EXPECT_NEAR((rec->box_max_x[0] + rec->box_min_x[0]) * 0.5f, 0.f, 1.f);
    EXPECT_NEAR((rec->box_max_y[0] + rec->box_min_y[0]) * 0.5f, 0.f, 1.f);
    EXPECT_NEAR(rec->level_radius[0], std::hypot(150.f, 80.f), 1.f);
    // Coarser levels keep the angle and halve the box.
    for (int k = 1; k < 4; ++k) {
        const float f = std::ldexp(1.f, -k);
        EXPECT_NEAR(rec->level_angle[k], 20.f, 1.5f) << k;
        EXPECT_NEAR((rec->box_max_x[k] - rec->box_min_x[k]) * 0.5f, 150.f * f, 1.f) << k;
        EXPECT_NEAR((rec->box_max_y[k] - rec->box_min_y[k]) * 0.5f, 80.f * f, 1.f) << k;
        EXPECT_LT(rec->level_features[k].size(), rec->level_features[k - 1].size()) << k;
    }
    // Directions are unit normals pointing into the bright rectangle (towards the centre).
    for (const quro::Feature& f : rec->level_features[0]) {
        EXPECT_NEAR(std::hypot(f.gx, f.gy), 1.f, 1e-3f);
        EXPECT_LT(f.gx * f.x + f.gy * f.y, 0.f);
    }
}

TEST(ImageModel, RectangleTurnedSeventyDegreesGetsBoxAngleMinusTwenty) {
    const cv::Mat img = rotated_rectangle(70.f);
    ScopedModel m;
    ASSERT_EQ(create(img, 1, kContrast, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    EXPECT_NEAR(rec->level_angle[0], -20.f, 0.5f);
    // The box is measured along the rectangle's sides: the short side now runs along x.
    EXPECT_NEAR((rec->box_max_x[0] - rec->box_min_x[0]) * 0.5f, 80.f, 1.f);
    EXPECT_NEAR((rec->box_max_y[0] - rec->box_min_y[0]) * 0.5f, 150.f, 1.f);
}

TEST(ImageModel, EveryLevelHoldsTheDetectorPointsOfItsPyramidLevelCentred) {
    const cv::Mat img =
        quro_test::render_polygon(quro_test::irregular_outline(300.f), cv::Size(400, 360),
                                  quro_test::PolygonPose{210.f, 170.f, 12.f});
    const ContrastParams c{10, 30, 40, 10};
    ScopedModel m;
    ASSERT_EQ(create(img, 5, c, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->num_levels, 5);
    const int min_len[5] = {40, 20, 10, 5, 2};
    cv::Mat level = img;
    for (int k = 0; k < 5; ++k) {
        if (k > 0) cv::pyrDown(level, level);
        EXPECT_EQ(rec->level_widths[k], level.cols);
        EXPECT_EQ(rec->level_heights[k], level.rows);
        expect_same_features(rec->level_features[k],
                             detector_points(level, 10.f, 30.f, min_len[k]));
    }
}

TEST(ImageModel, MaskIsHalvedWithTheImageAndHidesEdges) {
    const cv::Mat img =
        quro_test::render_polygon(quro_test::irregular_outline(300.f), cv::Size(400, 360),
                                  quro_test::PolygonPose{200.f, 180.f, -8.f});
    cv::Mat mask(img.size(), CV_8U, cv::Scalar(255));
    mask.colRange(200, 400).setTo(0);
    ScopedModel m;
    ASSERT_EQ(create(img, 3, kContrast, m, mask), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->num_levels, 3);
    cv::Mat level = img, level_mask = mask;
    const int min_len[3] = {10, 5, 2};
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            cv::pyrDown(level, level);
            cv::pyrDown(level_mask, level_mask);
        }
        expect_same_features(rec->level_features[k],
                             detector_points(level, 10.f, 30.f, min_len[k], level_mask));
    }
    // Level 1: nothing right of the mask's edge (column 200, i.e. x = 200 - 199.5 = 0.5).
    for (const quro::Feature& f : rec->level_features[0]) EXPECT_LT(f.x, 1.f);
}

// ---------------------------------------------------------------------------------------------
// Stored arguments

TEST(ImageModel, RecordKeepsTheCallersArgumentsAndContrastValues) {
    const cv::Mat img = rotated_rectangle(5.f);
    const ContrastParams c{0, 77, 9, 23};
    ScopedModel m;
    ASSERT_EQ(create_shape_model(img.data, img.cols, img.rows, 2, -30.f, 60.f, 0.5f, -1, &c,
                                 nullptr, m.out()),
              0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->angle_start, -30.f);
    EXPECT_EQ(rec->angle_extent, 60.f);
    EXPECT_EQ(rec->angle_step, 0.5f);
    EXPECT_EQ(rec->metric, -1);
    EXPECT_EQ(rec->contrast.contrast_low, 0);  // not the thresholds 1 and 2 actually used
    EXPECT_EQ(rec->contrast.contrast_high, 77);
    EXPECT_EQ(rec->contrast.min_component_size, 9);
    EXPECT_EQ(rec->contrast.min_contrast, 23);
    EXPECT_EQ(rec->timeout_ms, 1000);
    EXPECT_EQ(rec->shape_kind, 0);
    EXPECT_EQ(rec->scale_min, 1.f);
    EXPECT_EQ(rec->scale_max, 1.f);
    EXPECT_EQ(rec->scale_step, 0.f);
    int v = -5;
    get_shape_model_param(m.id, "width0", &v);
    EXPECT_EQ(v, 512);
    get_shape_model_param(m.id, "num_levels", &v);
    EXPECT_EQ(v, 2);
    get_shape_model_param(m.id, "timeout", &v);
    EXPECT_EQ(v, 1000);
}

TEST(ImageModel, AnglesAndMetricAreStoredUnchecked) {
    const cv::Mat img = rotated_rectangle(0.f);
    ScopedModel m;
    ASSERT_EQ(create_shape_model(img.data, img.cols, img.rows, 1, 1e30f, -720.f, 0.f, 42,
                                 &kContrast, nullptr, m.out()),
              0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->angle_start, 1e30f);
    EXPECT_EQ(rec->angle_extent, -720.f);
    EXPECT_EQ(rec->metric, 42);
}

// A model file could not hold a NaN angle: creation refuses what reading would refuse.
TEST(ImageModel, NonFiniteAngleIsRefused) {
    const cv::Mat img = rotated_rectangle(0.f);
    const std::size_t before = quro::shape_model_count();
    for (const float bad : {NAN, INFINITY}) {
        int id = -7;
        EXPECT_EQ(create_shape_model(img.data, img.cols, img.rows, 1, 0.f, bad, 0.f, 0, &kContrast,
                                     nullptr, &id),
                  -1);
        EXPECT_EQ(id, -7);
    }
    EXPECT_EQ(quro::shape_model_count(), before);
}

// ---------------------------------------------------------------------------------------------
// Contrast rules

TEST(ImageModel, ContrastLowBelowOneUsesThresholdsOneAndTwo) {
    const cv::Mat img = rotated_rectangle(33.f);
    const ContrastParams c{0, 250, 10, 5};  // 250 alone would start no chain at all
    ScopedModel m;
    ASSERT_EQ(create(img, 1, c, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    EXPECT_TRUE(detector_points(img, 0.f, 250.f, 10).empty());
    expect_same_features(rec->level_features[0], detector_points(img, 1.f, 2.f, 10));
}

TEST(ImageModel, MinComponentSizeAbove128ActsAs128) {
    // A disc of 110 pixels across beside a rectangle whose outline spans far more than 128,
    // drawn at 8x and reduced.
    quro_test::Supersampled canvas(cv::Size(512, 512), 8, 60);
    cv::Mat& fine = canvas.fine();
    cv::circle(fine, cv::Point(100 * 8 + 4, 100 * 8 + 4), 55 * 8, cv::Scalar(200), cv::FILLED,
               cv::LINE_AA);
    cv::rectangle(fine, cv::Rect(150 * 8, 230 * 8, 300 * 8, 180 * 8), cv::Scalar(200), cv::FILLED);
    const cv::Mat img = canvas.reduce();
    const float cx = 255.5f, cy = 255.5f;
    auto near_disc = [&](const quro::Feature& f) {
        return std::hypot(f.x + cx - 100.f, f.y + cy - 100.f) < 60.f;
    };

    ScopedModel big, small;
    ASSERT_EQ(create(img, 1, ContrastParams{10, 30, 500, 10}, big), 0);
    ASSERT_EQ(create(img, 1, ContrastParams{10, 30, 100, 10}, small), 0);
    const auto rb = big.record();
    const auto rs = small.record();
    ASSERT_TRUE(rb && rs);
    expect_same_features(rb->level_features[0], detector_points(img, 10.f, 30.f, 128));
    EXPECT_TRUE(detector_points(img, 10.f, 30.f, 500).empty());
    int disc_points_big = 0, disc_points_small = 0;
    for (const auto& f : rb->level_features[0]) disc_points_big += near_disc(f) ? 1 : 0;
    for (const auto& f : rs->level_features[0]) disc_points_small += near_disc(f) ? 1 : 0;
    EXPECT_EQ(disc_points_big, 0);
    EXPECT_GT(disc_points_small, 300);  // about pi * 110
}

// ---------------------------------------------------------------------------------------------
// Level counts

// Vertical stripes three pixels wide: more than 20 edge points even on a 10 x 10 image.
cv::Mat stripes(int w, int h) {
    cv::Mat img(h, w, CV_8U);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) img.at<unsigned char>(r, c) = (c / 3) % 2 ? 220 : 30;
    return img;
}

TEST(ImageModel, AutomaticLevelCountStopsBelowTwelveBySixteenPixels) {
    const cv::Mat img = quro::test::render_disc(64, 64, 31.5, 31.5, 25.0, 40.0, 220.0);
    ScopedModel m;
    ASSERT_EQ(create(img, 0, ContrastParams{10, 30, 5, 10}, m), 0);
    const auto rec = m.record();
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->num_levels, 3);  // 64, 32, 16; the 8 x 8 level is not built
    EXPECT_EQ(rec->level_widths[2], 16);
    EXPECT_EQ(rec->level_heights[2], 16);
}

TEST(ImageModel, SizeStopAppliesOnlyToLevelCountZero) {
    const cv::Mat tiny = stripes(10, 10);
    const ContrastParams c{10, 30, 1, 10};
    int id = 77;
    EXPECT_EQ(create_shape_model(tiny.data, 10, 10, 0, 0.f, 360.f, 1.f, 1, &c, nullptr, &id), -1);
    EXPECT_EQ(id, 77);
    for (const int levels : {12, -3, 1}) {
        ScopedModel m;
        ASSERT_EQ(create(tiny, levels, c, m), 0) << levels;
        const auto rec = m.record();
        ASSERT_TRUE(rec);
        EXPECT_EQ(rec->level_widths[0], 10);
        expect_record_invariants(*rec);
    }
    const cv::Mat flat_strip = stripes(40, 7);  // rows below 8
    EXPECT_EQ(create_shape_model(flat_strip.data, 40, 7, 0, 0.f, 360.f, 1.f, 1, &c, nullptr, &id),
              -1);
    ScopedModel m;
    EXPECT_EQ(create(flat_strip, 12, c, m), 0);
}

TEST(ImageModel, LevelCountCapsTheLevelsBuilt) {
    const cv::Mat img = rotated_rectangle(10.f);
    for (const int levels : {1, 2, 3, 5}) {
        ScopedModel m;
        ASSERT_EQ(create(img, levels, kContrast, m), 0);
        EXPECT_EQ(m.record()->num_levels, levels);
    }
    // Beyond 10 (or negative) means up to 10: the 512 image stops where points run out.
    ScopedModel all, many;
    ASSERT_EQ(create(img, 12, kContrast, many), 0);
    ASSERT_EQ(create(img, 10, kContrast, all), 0);
    EXPECT_EQ(many.record()->num_levels, all.record()->num_levels);
    EXPECT_GE(all.record()->num_levels, 5);
    EXPECT_LE(all.record()->num_levels, 10);
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST(ImageModel, FailuresInsertNothingAndLeaveTheIdAlone) {
    const cv::Mat img = rotated_rectangle(20.f);
    const cv::Mat zeros = cv::Mat::zeros(img.size(), CV_8U);
    const cv::Mat small_disc = quro::test::render_disc(64, 64, 30.0, 30.0, 2.0, 40.0, 220.0);
    cv::Mat noise(512, 512, CV_8U);
    cv::randu(noise, 0, 256);
    const std::size_t before = quro::shape_model_count();
    int id = 77;
    EXPECT_EQ(
        create_shape_model(img.data, 512, 512, 4, 0.f, 360.f, 1.f, 1, &kContrast, zeros.data, &id),
        -1);
    EXPECT_EQ(create_shape_model(small_disc.data, 64, 64, 1, 0.f, 360.f, 1.f, 1, &kContrast,
                                 nullptr, &id),
              -1);
    const ContrastParams low{0, 0, 1, 1};  // thresholds 1 and 2: almost every noise pixel is strong
    EXPECT_EQ(create_shape_model(noise.data, 512, 512, 1, 0.f, 360.f, 1.f, 1, &low, nullptr, &id),
              -2);
    EXPECT_EQ(id, 77);
    EXPECT_EQ(quro::shape_model_count(), before);
}

TEST(ImageModel, BadArgumentsGiveMinusOneBeforeAnyWork) {
    const cv::Mat img = rotated_rectangle(20.f);
    const std::size_t before = quro::shape_model_count();
    int id = 77;
    EXPECT_EQ(
        create_shape_model(nullptr, 512, 512, 1, 0.f, 360.f, 1.f, 1, &kContrast, nullptr, &id), -1);
    EXPECT_EQ(create_shape_model(img.data, 512, 512, 1, 0.f, 360.f, 1.f, 1, nullptr, nullptr, &id),
              -1);
    EXPECT_EQ(
        create_shape_model(img.data, 512, 512, 1, 0.f, 360.f, 1.f, 1, &kContrast, nullptr, nullptr),
        -1);
    EXPECT_EQ(create_shape_model(img.data, 0, 512, 1, 0.f, 360.f, 1.f, 1, &kContrast, nullptr, &id),
              -1);
    EXPECT_EQ(
        create_shape_model(img.data, 512, -4, 1, 0.f, 360.f, 1.f, 1, &kContrast, nullptr, &id), -1);
    EXPECT_EQ(id, 77);
    EXPECT_EQ(quro::shape_model_count(), before);
}

TEST(ImageModel, CallerBuffersAreNotWritten) {
    const cv::Mat img = rotated_rectangle(20.f);
    cv::Mat mask(img.size(), CV_8U, cv::Scalar(0));
    cv::circle(mask, cv::Point(256, 256), 200, cv::Scalar(255), cv::FILLED);
    const cv::Mat img_copy = img.clone(), mask_copy = mask.clone();
    const ContrastParams c = kContrast;
    ScopedModel m;
    ASSERT_EQ(create_shape_model(img.data, img.cols, img.rows, 4, 0.f, 360.f, 1.f, 1, &c, mask.data,
                                 m.out()),
              0);
    EXPECT_EQ(std::memcmp(img.data, img_copy.data, img.total()), 0);
    EXPECT_EQ(std::memcmp(mask.data, mask_copy.data, mask.total()), 0);
    EXPECT_EQ(std::memcmp(&c, &kContrast, sizeof c), 0);
}

TEST(ImageModel, ConcurrentCreationsGetDistinctIdsAndEqualModels) {
    const cv::Mat img = rotated_rectangle(15.f);
    constexpr int kThreads = 4;
    ScopedModel models[kThreads];
    int rc[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { rc[t] = create(img, 3, kContrast, models[t]); });
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(rc[t], 0);
        for (int u = 0; u < t; ++u) EXPECT_NE(models[t].id, models[u].id);
        expect_same_features(models[t].record()->level_features[2],
                             models[0].record()->level_features[2]);
    }
}

}  // namespace
