// The sub-pixel gradient peak: borders, threshold, step edges, rejections, the matrix form on
// views with a row stride, and agreement with the filter-based detector.
#include "quro/edges/gradient_peak.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <climits>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/edges/sobel_magnitude.h"
#include "quro/quro.h"
#include "testing/edge_scenes.h"

namespace {

// Vertical step between columns `left` and left + 1: dark then bright, or mirrored.
cv::Mat vertical_step(int w, int h, int left, bool bright_right = true) {
    cv::Mat img(h, w, CV_8U, cv::Scalar(bright_right ? 0 : 200));
    img.colRange(left + 1, w).setTo(bright_right ? 200 : 0);
    return img;
}

bool peak(const cv::Mat& img, int x, int y, float threshold, float out[4]) {
    return get_subpix_pos(img.data, img.cols, img.rows, x, y, threshold, out);
}

float centre_magnitude(const cv::Mat& img, int x, int y) {
    int sx, sy;
    quro::sobel_sums(img.ptr<uchar>(y - 1), img.ptr<uchar>(y), img.ptr<uchar>(y + 1), x - 1, x,
                     x + 1, sx, sy);
    return quro::sobel_magnitude(sx, sy);
}

TEST(GradientPeak, IdealVerticalStepLiesHalfWayWithNormalTowardsBright) {
    const cv::Mat img = vertical_step(20, 12, 9);
    float out[4];
    ASSERT_TRUE(peak(img, 9, 5, 10.f, out));
    EXPECT_FLOAT_EQ(out[0], 9.5f);
    EXPECT_FLOAT_EQ(out[1], 5.f);
    EXPECT_FLOAT_EQ(out[2], 1.f);
    EXPECT_FLOAT_EQ(out[3], 0.f);
    ASSERT_TRUE(peak(img, 10, 5, 10.f, out));  // the other side of the step
    EXPECT_FLOAT_EQ(out[0], 9.5f);

    const cv::Mat mirrored = vertical_step(20, 12, 9, false);
    ASSERT_TRUE(peak(mirrored, 9, 5, 10.f, out));
    EXPECT_FLOAT_EQ(out[0], 9.5f);
    EXPECT_FLOAT_EQ(out[2], -1.f);
    EXPECT_FLOAT_EQ(out[3], 0.f);
}

TEST(GradientPeak, RenderedStepsWithinHalfAPixel) {
    for (const double step : {9.1, 9.35, 9.5, 9.8}) {
        const cv::Mat img = quro::test::render_scene(
            20, 12, [=](double x, double) { return x > step; }, 30, 220);
        float out[4];
        const int x = static_cast<int>(std::lround(step));
        ASSERT_TRUE(peak(img, x, 6, 10.f, out)) << step;
        EXPECT_NEAR(out[0], step, 0.1) << step;
        EXPECT_NEAR(out[2], 1.f, 1e-5f);
        EXPECT_NEAR(out[3], 0.f, 1e-5f);
    }
}

TEST(GradientPeak, HorizontalStepGivesARowNormal) {
    cv::Mat img(20, 12, CV_8U, cv::Scalar(0));
    img.rowRange(0, 8).setTo(180);  // bright above row 8
    float out[4];
    ASSERT_TRUE(peak(img, 5, 7, 10.f, out));
    EXPECT_FLOAT_EQ(out[0], 5.f);
    EXPECT_FLOAT_EQ(out[1], 7.5f);
    EXPECT_FLOAT_EQ(out[2], 0.f);
    EXPECT_FLOAT_EQ(out[3], -1.f);
}

TEST(GradientPeak, PixelsTwoFromTheBorderAreTheLastAccepted) {
    float out[4];
    // Steps right next to each border.
    const cv::Mat left = vertical_step(12, 12, 2);  // peak at 2.5
    EXPECT_TRUE(peak(left, 2, 6, 10.f, out));
    EXPECT_FALSE(peak(left, 1, 6, 0.f, out));
    const cv::Mat right = vertical_step(12, 12, 8);  // columns 8 | 9, width 12: x = 9 = w - 3
    EXPECT_TRUE(peak(right, 9, 6, 10.f, out));
    EXPECT_FALSE(peak(right, 10, 6, 0.f, out));

    cv::Mat top(12, 12, CV_8U, cv::Scalar(0));
    top.rowRange(3, 12).setTo(200);
    EXPECT_TRUE(peak(top, 6, 2, 10.f, out));
    EXPECT_FALSE(peak(top, 6, 1, 0.f, out));
    cv::Mat bottom(12, 12, CV_8U, cv::Scalar(0));
    bottom.rowRange(9, 12).setTo(200);
    EXPECT_TRUE(peak(bottom, 6, 9, 10.f, out));
    EXPECT_FALSE(peak(bottom, 6, 10, 0.f, out));
    EXPECT_FALSE(peak(bottom, -5, 6, 0.f, out));
    EXPECT_FALSE(peak(bottom, 6, 1000, 0.f, out));
}

TEST(GradientPeak, ThresholdMustBeExceeded) {
    const cv::Mat img = vertical_step(20, 12, 9);
    const float m = centre_magnitude(img, 9, 5);
    ASSERT_EQ(m, 200.f);
    float out[4];
    EXPECT_FALSE(peak(img, 9, 5, m, out));
    EXPECT_TRUE(peak(img, 9, 5, std::nextafter(m, 0.f), out));
}

TEST(GradientPeak, FlatRegionsAndValleysGiveFalseAndLeaveOutAlone) {
    float out[4] = {-7.f, -7.f, -7.f, -7.f};
    const cv::Mat flat(12, 12, CV_8U, cv::Scalar(90));
    EXPECT_FALSE(peak(flat, 5, 5, -1.f, out));
    // A one-pixel line: the magnitude has a valley at the line itself.
    cv::Mat line(12, 12, CV_8U, cv::Scalar(50));
    line.col(6).setTo(200);
    EXPECT_FALSE(peak(line, 6, 5, -1.f, out));
    // Away from the step the magnitude keeps rising towards it: no peak within half a pixel.
    const cv::Mat ramp = quro::test::render_scene(
        20, 12, [](double x, double) { return x > 9.3; }, 30, 220);
    EXPECT_FALSE(peak(ramp, 7, 5, -1.f, out));
    for (const float v : out) EXPECT_EQ(v, -7.f);
    EXPECT_TRUE(peak(line, 5, 5, 10.f, out));  // the line's flank does have a peak
}

TEST(GradientPeak, BadArgumentsGiveFalse) {
    const cv::Mat img = vertical_step(20, 12, 9);
    float out[4];
    EXPECT_FALSE(get_subpix_pos(nullptr, 20, 12, 9, 5, 10.f, out));
    EXPECT_FALSE(get_subpix_pos(img.data, 20, 12, 9, 5, 10.f, nullptr));
    EXPECT_FALSE(get_subpix_pos(img.data, 0, 12, 9, 5, 10.f, out));
    EXPECT_FALSE(get_subpix_pos(img.data, 4, 4, 2, 2, 10.f, out));
    EXPECT_FALSE(quro::get_subpix_pos_mat(img, 9, 5, 10.f, nullptr));
    EXPECT_FALSE(quro::get_subpix_pos_mat(cv::Mat(), 9, 5, 10.f, out));
    cv::Mat f;
    img.convertTo(f, CV_32F);
    EXPECT_FALSE(quro::get_subpix_pos_mat(f, 9, 5, 10.f, out));
}

TEST(GradientPeak, CoordinatesNearTheIntLimitsGiveFalseWithoutOverflowingIntoAReadOutside) {
    const cv::Mat img = vertical_step(20, 12, 9);
    float out[4];
    for (const int v : {INT_MAX, INT_MAX - 2, INT_MIN})
        EXPECT_FALSE(peak(img, v, 5, 0.f, out) || peak(img, 9, v, 0.f, out) ||
                     quro::get_subpix_pos_mat(img, v, v, 0.f, out)) << v;
}

TEST(GradientPeak, MatrixViewsWithARowStrideMatchTheBuffer) {
    const cv::Mat big = quro::test::render_shapes(200, 150, 20, 31);
    const cv::Rect roi(17, 23, 120, 90);
    const cv::Mat view = big(roi);  // not continuous
    ASSERT_FALSE(view.isContinuous());
    const cv::Mat copy = view.clone();
    int found = 0;
    for (int y = 0; y < roi.height; ++y)
        for (int x = 0; x < roi.width; ++x) {
            float a[4] = {0, 0, 0, 0}, b[4] = {0, 0, 0, 0};
            const bool ra = quro::get_subpix_pos_mat(view, x, y, 10.f, a);
            const bool rb = get_subpix_pos(copy.data, copy.cols, copy.rows, x, y, 10.f, b);
            ASSERT_EQ(ra, rb) << x << "," << y;
            if (!ra) continue;
            ++found;
            for (int k = 0; k < 4; ++k) ASSERT_EQ(a[k], b[k]);
        }
    EXPECT_GT(found, 100);
}

TEST(GradientPeak, ParallelCallsGiveTheSerialResults) {
    const cv::Mat img = quro::test::render_shapes(256, 256, 30, 32);
    const int n = img.rows * img.cols;
    std::vector<float> serial(4 * static_cast<std::size_t>(n), 0.f), par(serial.size(), 0.f);
    for (int i = 0; i < n; ++i)
        quro::get_subpix_pos_mat(img, i % img.cols, i / img.cols, 10.f,
                                 &serial[4 * static_cast<std::size_t>(i)]);
#pragma omp parallel for num_threads(8)
    for (int i = 0; i < n; ++i)
        quro::get_subpix_pos_mat(img, i % img.cols, i / img.cols, 10.f,
                                 &par[4 * static_cast<std::size_t>(i)]);
    EXPECT_EQ(serial, par);
}

TEST(GradientPeak, AgreesWithTheDetectorAtItsPoints) {
    const cv::Mat img = quro::test::render_shapes(320, 240, 40, 33);
    std::vector<EdgePoint> pts;
    ASSERT_EQ(edges_sub_pix_gray(img.data, img.cols, img.rows, 0, 10.f, 30.f, 5, 1, &pts, nullptr),
              0);
    ASSERT_GT(pts.size(), 500u);
    std::size_t agree = 0;
    for (const EdgePoint& p : pts) {
        // The point's source pixel is the pixel it rounds to, except for offsets of exactly 0.5.
        const int x = static_cast<int>(std::lround(p.x)), y = static_cast<int>(std::lround(p.y));
        if (x < 2 || y < 2 || x + 2 >= img.cols || y + 2 >= img.rows) continue;
        float out[4];
        const float m = centre_magnitude(img, x, y);
        if (!peak(img, x, y, std::nextafter(m, 0.f), out)) continue;
        if (std::fabs(out[0] - p.x) <= 1e-4f && std::fabs(out[1] - p.y) <= 1e-4f &&
            std::fabs(out[2] - p.nx) <= 1e-4f && std::fabs(out[3] - p.ny) <= 1e-4f)
            ++agree;
    }
    const double share = static_cast<double>(agree) / static_cast<double>(pts.size());
    EXPECT_GE(share, 0.99) << agree << " of " << pts.size();
}

}  // namespace
