// Rotated-rectangle cut-outs against OpenCV, models from rotated rectangles against a model of the
// upright part, and the arguments both exports refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "quro/create/rotated_extraction.h"
#include "testing/part_scene.h"
#include "tests/create/create_support.h"

namespace {

constexpr ContrastParams kContrast{10, 30, 10, 10};

cv::Mat extract(const cv::Mat& img, int filter, double cx, double cy, double angle, cv::Size size) {
    cv::Mat out(size, CV_8UC1, cv::Scalar(7));
    EXPECT_EQ(get_rot_img(img.data, img.cols, img.rows, filter, cx, cy, angle, out.data,
                          size.width, size.height), 0);
    return out;
}

// Angle 0, integer centre: filter 0 copies the crop (zero beyond the image), filters 1 and 2 and
// the 21 x 11 cut-out of len1 10, len2 5 give the 1-2-1 by 1-2-1 mean rounded down (multiples of
// 1/16: the offset below rounds each down).
TEST(RotatedExtraction, AngleZeroIsTheAxisParallelCrop) {
    cv::Mat img(40, 50, CV_8UC1), padded, binomial;
    cv::randu(img, 0, 256);
    const cv::Mat k = (cv::Mat_<float>(3, 1) << 0.25f, 0.5f, 0.25f);
    cv::sepFilter2D(img, binomial, CV_32F, k, k);
    binomial.convertTo(binomial, CV_8U, 1.0, -0.46875);
    cv::copyMakeBorder(img, padded, 0, 0, 2, 0, cv::BORDER_CONSTANT, 0);
    const cv::Mat cut = quro::crop_rotated_rect(img.data, 50, 40, 25.0, 20.0, 0.0, 10.0, 5.0);
    ASSERT_EQ(cut.size(), cv::Size(21, 11));
    EXPECT_EQ(cv::norm(cut, binomial(cv::Rect(15, 15, 21, 11)), cv::NORM_INF), 0);
    EXPECT_EQ(cv::norm(extract(img, 0, 8, 20, 0, {21, 11}), padded(cv::Rect(0, 15, 21, 11)),
                       cv::NORM_INF), 0);
    for (int filter : {1, 2})
        EXPECT_EQ(cv::norm(extract(img, filter, 25, 20, 0, {21, 11}),
                           binomial(cv::Rect(15, 15, 21, 11)), cv::NORM_INF), 0) << filter;
}

// At 30 degrees on a smooth image, each filter against cv::warpAffine onto a grid of its sample
// step followed by its kernel: never above the float reference, at most one below (truncation).
TEST(RotatedExtraction, FiltersMatchWarpAffineAtThirtyDegrees) {
    cv::Mat img(200, 200, CV_32F), img8, grid, ref;
    for (int i = 0; i < 200 * 200; ++i)
        img.ptr<float>()[i] = std::round(128 + 60 * std::sin(i % 200 / 31.) * std::cos(i / 6200.));
    img.convertTo(img8, CV_8U);
    const double cx = 100.3, cy = 97.6, a = 30 * CV_PI / 180, h = 30, hs = 20;
    const double ux = std::cos(a), uy = -std::sin(a), vx = std::sin(a), vy = std::cos(a);
    const struct { double step; cv::Mat kernel; } filters[3] = {
        {1, (cv::Mat_<float>(3, 1) << 0, 1, 0)}, {0.5, (cv::Mat_<float>(3, 1) << 0.5f, 0, 0.5f)},
        {1, (cv::Mat_<float>(3, 1) << 0.25f, 0.5f, 0.25f)}};
    for (int f = 0; f < 3; ++f) {
        const double s = filters[f].step;  // grid (c', r') samples P(0, 0) + s (c' - 1, r' - 1)
        const cv::Matx23d inverse(s * ux, s * vx, cx - (s + h) * ux - (s + hs) * vx, s * uy,
                                  s * vy, cy - (s + h) * uy - (s + hs) * vy);
        cv::warpAffine(img, grid, inverse, cv::Size(int(60 / s) + 3, int(40 / s) + 3),
                       cv::INTER_LINEAR | cv::WARP_INVERSE_MAP);
        cv::sepFilter2D(grid, ref, CV_32F, filters[f].kernel, filters[f].kernel);
        const cv::Mat out = extract(img8, f, cx, cy, 30, cv::Size(61, 41));
        for (int r = 0; r < 41; ++r)
            for (int c = 0; c < 61; ++c) {
                const double d =
                    out.at<uchar>(r, c) - ref.at<float>(int(r / s) + 1, int(c / s) + 1);
                ASSERT_TRUE(d > -1.1 && d < 0.1) << f << " " << c << "," << r << ": " << d;
            }
    }
}

// A model cut out at angle 10 around a part posed at 35 holds the part at 25: it finds every
// instance where a model of the upright part does, 25 degrees lower. Its cut-out is larger than
// the image and its mask the image's size: the mask is cut out with the image (never read past
// its end), and every model point lies where the mask is set.
TEST(RotatedRectModel, FindsTheUprightModelsInstancesTurnedByThePoseDifference) {
    const cv::Mat first = quro_test::render_part_scene(cv::Size(240, 200), {{120.4, 99.7, 35}});
    const cv::Mat upright = quro_test::render_part_model(cv::Size(117, 117));
    cv::Mat mask(first.size(), CV_8UC1, cv::Scalar(0));
    mask(cv::Rect(60, 40, 120, 120)).setTo(1);
    quro_test::ScopedModel rr, plain;
    ASSERT_EQ(create_shape_model_rr(first.data, 240, 200, 120.4, 99.7, 10, 150, 130, 0, -180, 360,
                                    0, 1, &kContrast, mask.data, rr.out()), 0);
    ASSERT_EQ(create_shape_model(upright.data, 117, 117, 0, -180, 360, 0, 1, &kContrast, nullptr,
                                 plain.out()), 0);
    const double a = 10 * CV_PI / 180;
    for (const quro::Feature& f : rr.record()->level_features[0]) {
        const cv::Point2d p(120.4 + f.x * std::cos(a) + f.y * std::sin(a),
                            99.7 - f.x * std::sin(a) + f.y * std::cos(a));
        ASSERT_TRUE(p.inside(cv::Rect2d(58, 38, 123, 123))) << p;
    }
    const std::vector<quro_test::PartPose> poses{{90.3, 80.8, -50}, {300.6, 90.2, 10},
                                                 {200.5, 220.4, 120}};
    const cv::Mat scene = quro_test::render_part_scene(cv::Size(400, 300), poses);
    for (const auto& [id, turn] : {std::pair{rr.id, 25.0}, std::pair{plain.id, 0.0}}) {
        quro::Match* res = nullptr;
        int count = 0;
        set_shape_model_param(id, "timeout", 0);
        const int h = find_shape_model(scene.data, 400, 300, id, -180, 360, 0.7f, 0, 0.5f, 2,
                                       nullptr, 0.8f, res, count);
        ASSERT_GT(h, 0);
        const std::vector<quro::Match> found(res, res + count);
        clear_mems(h);
        EXPECT_EQ(found.size(), poses.size());
        for (const auto& p : poses)
            EXPECT_EQ(std::count_if(found.begin(), found.end(), [&](const quro::Match& m) {
                return std::hypot(m.x + m.dx - p.x, m.y + m.dy - p.y) < 0.3 &&
                       std::fabs(std::remainder(m.angle - (p.angle - turn), 360.0)) < 0.3;
            }), 1) << p.x << "," << p.y << " turned by " << turn;
    }
}

// Refused arguments give -1 with *id and `out` untouched; the first row is the valid call.
TEST(RotatedRectModel, RefusedArgumentsLeaveIdAndOutputUntouched) {
    const cv::Mat img = quro_test::render_part_scene(cv::Size(240, 200), {{120.4, 99.7, 35}});
    const cv::Mat zeros(img.size(), CV_8UC1, cv::Scalar(0));
    const double nan = std::nan(""), inf = INFINITY;
    const struct { double cx, cy, angle, len1, len2; const uchar* mask; } rr[] = {
        {120, 100, 0, 60, 60, nullptr}, {120, 100, 0, 60, 60, zeros.data},
        {120, 100, 0, -1, 60, nullptr}, {120, 100, 0, 60, nan, nullptr},
        {120, 100, 0, 1e5, 60, nullptr}, {120, 100, 0, 60, 1e12, nullptr},
        {inf, 100, 0, 60, 60, nullptr}, {120, -1e9, 0, 60, 60, nullptr},
        {120, 100, nan, 60, 60, nullptr}};
    for (const auto& r : rr) {
        quro_test::ScopedModel m;
        EXPECT_EQ(create_shape_model_rr(img.data, 240, 200, r.cx, r.cy, r.angle, r.len1, r.len2, 0,
                                        0, 360, 0, 1, &kContrast, r.mask, m.out()),
                  &r == rr ? 0 : -1) << "row " << &r - rr;
        EXPECT_EQ(m.id >= 0, &r == rr);
    }
    const struct { int filter; double cx, cy; int out_width; } rot[] = {
        {3, 120, 100, 9}, {-1, 120, 100, 9}, {0, nan, 100, 9}, {0, 120, 1e300, 9}, {0, 1, 1, 0}};
    std::vector<uchar> out(81, 7);
    for (const auto& r : rot)
        EXPECT_EQ(get_rot_img(img.data, 240, 200, r.filter, r.cx, r.cy, 0, out.data(), r.out_width,
                              9), -1) << "row " << &r - rot;
    EXPECT_EQ(std::count(out.begin(), out.end(), 7), 81);
    EXPECT_EQ(get_rot_img(img.data, 240, 200, 0, 120, 100, 0, nullptr, 9, 9), -1);
}

}  // namespace
